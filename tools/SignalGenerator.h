#pragma once

#include <cstdint>
#include <random>
#include <vector>

// One sine tone: frequency in bins of a 64-sample block (fractional allowed; bin 8 completes eight
// periods per block), amplitude (peak) in volts, phase in degrees at sample index 0.
struct Tone {
    double bin = 0.0;
    double volts = 0.0;
    double phaseDegrees = 0.0;
};

// The signal of one axis: DC level plus tones plus optional Gaussian noise (standard deviation in
// volts, 0 = none), before conversion to sample bytes.
struct AxisSignal {
    double dcVolts = 1.55;
    std::vector<Tone> tones;
    double noiseVolts = 0.0;
};

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
    // The sample byte of a voltage: round(volts * 255 / 3.1), clipped to 0..255.
    static std::uint8_t VoltsToSample(double volts);

  private:
    AxisSignal signal_;
    std::uint64_t index_ = 0;
    std::mt19937_64 random_;
    std::normal_distribution<double> normal_{0.0, 1.0};
};
