// Cost of the spectrum analysis per block, beside an optimised real transform (FFTW) of the
// same length for scale. The acquisition analyses two 64-sample blocks per 50 ms tick.
#include "Spectrum.h"

#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <span>
#include <vector>

namespace {

std::vector<double> RandomVolts(int n) {
    std::mt19937 gen(12345);
    std::uniform_real_distribution<double> volts(0.0, 3.1);
    std::vector<double> x(n);
    for (double& v : x) {
        v = volts(gen);
    }
    return x;
}

// Analyses a block of n random volts again and again in mode. With windowEachBlock every round
// windows a fresh copy first, as the acquisition does with every block; without, the block is
// windowed once beforehand and the round is the transform and the levels alone.
void MeasureAnalysis(benchmark::State& state, AveragingMode mode, bool windowEachBlock) {
    const int n = static_cast<int>(state.range(0));
    const auto source = RandomVolts(n);
    std::vector<double> block = source;
    if (!windowEachBlock) {
        ApplyWindow(std::span<double>(block), n);
    }
    std::vector<double> levels(SpectrumLength(n));
    auto averaging = std::make_unique<AveragingState>();
    for (auto _ : state) {
        if (windowEachBlock) {
            std::memcpy(block.data(), source.data(), n * sizeof(double));
            ApplyWindow(std::span<double>(block), n);
        }
        ComputeSpectrum(std::span<const double>(block), std::span<double>(levels), n, mode, 0,
                        *averaging);
        benchmark::DoNotOptimize(levels.data());
        benchmark::ClobberMemory();
    }
}

// What the acquisition does with every block: window, transform, levels, moving mean.
void BM_WindowAndSpectrum(benchmark::State& state) {
    MeasureAnalysis(state, MovingMean, true);
}
BENCHMARK(BM_WindowAndSpectrum)->Arg(64)->Arg(MaxBlockSize);

// Transform and levels alone, on a block windowed once beforehand.
void BM_SpectrumOnly(benchmark::State& state) {
    MeasureAnalysis(state, SingleFrame, false);
}
BENCHMARK(BM_SpectrumOnly)->Arg(64)->Arg(MaxBlockSize);

// FFTW's real-input transform of n samples, planned for speed, with its input and output held
// for the plan's lifetime. The input holds n random volts (planning may overwrite it, so they
// are put in afterwards).
class FftwRealTransform {
  public:
    explicit FftwRealTransform(int n)
        : in_(fftw_alloc_real(static_cast<std::size_t>(n))),
          out_(fftw_alloc_complex(static_cast<std::size_t>(n / 2 + 1))),
          plan_(fftw_plan_dft_r2c_1d(n, in_, out_, FFTW_MEASURE)) {
        const auto source = RandomVolts(n);
        std::memcpy(in_, source.data(), source.size() * sizeof(double));
    }
    ~FftwRealTransform() {
        fftw_destroy_plan(plan_);
        fftw_free(out_);
        fftw_free(in_);
    }
    FftwRealTransform(const FftwRealTransform&) = delete;
    FftwRealTransform& operator=(const FftwRealTransform&) = delete;

    double* In() { return in_; }
    const fftw_complex* Out() const { return out_; }
    void Execute() { fftw_execute(plan_); }

  private:
    double* in_;
    fftw_complex* out_;
    fftw_plan plan_;
};

// FFTW's real-input transform of the same length: the transform alone.
void BM_FftwRealTransform(benchmark::State& state) {
    FftwRealTransform transform(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        transform.Execute();
        benchmark::DoNotOptimize(transform.Out());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_FftwRealTransform)->Arg(64)->Arg(MaxBlockSize);

// The same chain as BM_WindowAndSpectrum (window, transform, levels, moving mean over 20
// blocks) with FFTW doing the transform, for a like-for-like comparison of the whole block. The
// levels are worked out here again on purpose: this is the yardstick, not the analysis.
void BM_FftwWindowAndLevels(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    FftwRealTransform transform(n);
    const auto source = RandomVolts(n);
    const fftw_complex* out = transform.Out();
    std::vector<double> levels(SpectrumLength(n));
    std::vector<double> history(SpectrumLength(n) * HistoryLength);
    const double powerScale = 2.0 / (static_cast<double>(n) * n);
    int slot = 0;
    for (auto _ : state) {
        std::memcpy(transform.In(), source.data(), n * sizeof(double));
        ApplyWindow(transform.In(), n);
        transform.Execute();
        slot = (slot + 1) % HistoryLength;
        for (int b = 0; b <= n / 2; ++b) {
            const double power = (out[b][0] * out[b][0] + out[b][1] * out[b][1]) * powerScale;
            double* ring = &history[static_cast<std::size_t>(b) * HistoryLength];
            ring[slot] = 20.0 * std::log10(std::max(std::sqrt(power), MagnitudeFloor));
            double sum = 0.0;
            for (int s = 0; s < HistoryLength; ++s) {
                sum += ring[s];
            }
            levels[b + 1] = std::max(sum * 0.05 + LevelOffsetDb, LevelFloorDb);
        }
        benchmark::DoNotOptimize(levels.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_FftwWindowAndLevels)->Arg(64)->Arg(MaxBlockSize);

}  // namespace

BENCHMARK_MAIN();
