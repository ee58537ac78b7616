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

// What the acquisition does with every block: window a fresh copy, then transform, convert to
// levels and update the moving mean.
void BM_WindowAndSpectrum(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const auto source = RandomVolts(n);
    std::vector<double> block(n);
    std::vector<double> levels(n / 2 + 2);
    auto averaging = std::make_unique<AveragingState>();
    for (auto _ : state) {
        std::memcpy(block.data(), source.data(), n * sizeof(double));
        ApplyWindow(block.data(), n);
        ComputeSpectrum(block.data(), levels.data(), n, MovingMean, 0, *averaging);
        benchmark::DoNotOptimize(levels.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_WindowAndSpectrum)->Arg(64)->Arg(MaxBlockSize);

// Transform and levels alone, on a block windowed once beforehand.
void BM_SpectrumOnly(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    auto block = RandomVolts(n);
    ApplyWindow(block.data(), n);
    std::vector<double> levels(n / 2 + 2);
    auto averaging = std::make_unique<AveragingState>();
    for (auto _ : state) {
        ComputeSpectrum(block.data(), levels.data(), n, SingleFrame, 0, *averaging);
        benchmark::DoNotOptimize(levels.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_SpectrumOnly)->Arg(64)->Arg(MaxBlockSize);

// FFTW's real-input transform of the same length: the transform alone.
void BM_FftwRealTransform(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    double* in = fftw_alloc_real(n);
    fftw_complex* out = fftw_alloc_complex(n / 2 + 1);
    fftw_plan plan = fftw_plan_dft_r2c_1d(n, in, out, FFTW_MEASURE);
    const auto source = RandomVolts(n);
    std::memcpy(in, source.data(), n * sizeof(double));  // planning may overwrite the input
    for (auto _ : state) {
        fftw_execute(plan);
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
    }
    fftw_destroy_plan(plan);
    fftw_free(out);
    fftw_free(in);
}
BENCHMARK(BM_FftwRealTransform)->Arg(64)->Arg(MaxBlockSize);

// The same chain as BM_WindowAndSpectrum (window, transform, levels, moving mean over 20
// blocks) with FFTW doing the transform, for a like-for-like comparison of the whole block.
void BM_FftwWindowAndLevels(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    double* in = fftw_alloc_real(n);
    fftw_complex* out = fftw_alloc_complex(n / 2 + 1);
    fftw_plan plan = fftw_plan_dft_r2c_1d(n, in, out, FFTW_MEASURE);
    const auto source = RandomVolts(n);
    std::vector<double> levels(n / 2 + 2);
    std::vector<double> history(static_cast<std::size_t>(n / 2 + 2) * HistoryLength);
    const double powerScale = 2.0 / (static_cast<double>(n) * n);
    int slot = 0;
    for (auto _ : state) {
        std::memcpy(in, source.data(), n * sizeof(double));
        ApplyWindow(in, n);
        fftw_execute(plan);
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
    fftw_destroy_plan(plan);
    fftw_free(out);
    fftw_free(in);
}
BENCHMARK(BM_FftwWindowAndLevels)->Arg(64)->Arg(MaxBlockSize);

}  // namespace

BENCHMARK_MAIN();
