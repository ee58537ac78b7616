#pragma once

#include <cstdint>
#include <random>

#include "TavrekSimulator.h"

// Produces the sample bytes of one axis, one instant after the other: sample n is the signal at
// t = n / 64 blocks, so tones given in bins of a 64-sample block stay continuous from block to
// block however the samples are split into streams.
class SignalGenerator {
  public:
    SignalGenerator(const AxisSignal& signal, std::uint64_t seed);

    // Changes the signal; the sample index and the noise sequence run on.
    void SetSignal(const AxisSignal& signal) { signal_ = signal; }
    std::uint8_t Next();
    std::uint64_t Index() const { return index_; }

    // The signal of `signal` at sample index n, without noise, in volts.
    static double CleanVolts(const AxisSignal& signal, std::uint64_t n);

  private:
    AxisSignal signal_;
    std::uint64_t index_ = 0;
    std::mt19937_64 random_;
    std::normal_distribution<double> normal_{0.0, 1.0};
};
