#include "SignalGenerator.h"

#include <cmath>
#include <numbers>

SignalGenerator::SignalGenerator(const AxisSignal& signal, std::uint64_t seed)
    : signal_(signal), random_(seed) {}

double SignalGenerator::CleanVolts(const AxisSignal& signal, std::uint64_t n) {
    constexpr double kTwoPi = 2.0 * std::numbers::pi;
    double volts = signal.dcVolts;
    for (const Tone& tone : signal.tones) {
        // Reduce the cycle count first so that long runs keep full precision in the phase.
        const double cycles = std::fmod(tone.bin * static_cast<double>(n) / 64.0, 1.0);
        volts +=
            tone.volts * std::sin(kTwoPi * cycles + tone.phaseDegrees * std::numbers::pi / 180.0);
    }
    return volts;
}

std::uint8_t SignalGenerator::Next() {
    double volts = CleanVolts(signal_, index_);
    if (signal_.noiseVolts > 0.0) {
        volts += signal_.noiseVolts * normal_(random_);
    }
    ++index_;
    return VoltsToSample(volts);
}

std::uint8_t SignalGenerator::VoltsToSample(double volts) {
    const double scaled = std::round(volts * 255.0 / 3.1);
    if (!(scaled > 0.0)) {  // NaN counts as the bottom of the range
        return 0;
    }
    if (scaled >= 255.0) {
        return 255;
    }
    return static_cast<std::uint8_t>(scaled);
}
