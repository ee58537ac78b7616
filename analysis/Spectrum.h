#pragma once

#include <array>
#include <cstddef>
#include <span>

// Turns one block of samples from one sensor axis into a spectrum of levels in dB, one entry
// per frequency bin from DC up to the Nyquist bin, optionally averaged over several blocks.
//
// Output numbering: for a block of N samples, levels[k] for k = 1 .. N/2 + 1 holds the level of
// DFT bin k - 1 (index 1 is DC, index N/2 + 1 the Nyquist bin). Index 0 holds no bin; every
// analysis writes LevelFloorDb there so that it never shows a stale or meaningless value.
// Entries above N/2 + 1 are not written.

// Largest block the analysis accepts; blocks must be a power of two from 2 to this.
inline constexpr int MaxBlockSize = 8192;
// Output indices every averaging state and work area can hold (N = 8192 needs 4097).
inline constexpr int AnalysisCapacity = 9000;
// Blocks the moving mean covers.
inline constexpr int HistoryLength = 20;
// Magnitudes below this count as this, so the raw level never falls below -280 dB.
inline constexpr double MagnitudeFloor = 1e-14;
// Fixed offset added to every level after averaging.
inline constexpr double LevelOffsetDb = 11.0;
// Lowest level ever reported; also what a level that is not a number becomes.
inline constexpr double LevelFloorDb = -179.9;

enum AveragingMode : int { SingleFrame = 0, RunningMean = 1, MovingMean = 2 };

// The memory the analysis keeps from one block to the next for one stream of blocks (one axis).
// It is large (about 1.7 MB): keep it in an object of program lifetime or on the heap, never in
// a stack frame. A value-initialised state is the fresh state.
struct AveragingState {
    // Blocks analysed since creation or the last reset; in MovingMean it cycles through
    // 1 .. HistoryLength and names the history slot of the current block.
    int frameCount = 0;
    // Per output index: sum of the raw dB levels (before the offset) since the last reset.
    std::array<double, AnalysisCapacity> levelSums{};
    // Per output index: raw dB levels of the latest HistoryLength blocks; slot s (1-based) is
    // element s - 1.
    std::array<std::array<double, HistoryLength>, AnalysisCapacity> levelHistory{};
    // Scratch for the transform (real and imaginary parts). It carries nothing from one call to
    // the next; it lives here so that no call allocates and no state is shared between axes.
    std::array<double, AnalysisCapacity> workReal{};
    std::array<double, AnalysisCapacity> workImag{};
};

// True when blockLength is a block length the analysis accepts: a power of two, 2 .. 8192.
bool IsValidBlockLength(int blockLength);

// Multiplies samples[0 .. blockLength - 1] in place by the periodic minimum 4-term
// Blackman-Harris window. A blockLength of 0 or less, or a null pointer, does nothing.
void ApplyWindow(double* samples, int blockLength);
// As above; does nothing when blockLength exceeds the span.
void ApplyWindow(std::span<double> samples, int blockLength);

// Entries an analysis of a block of blockLength samples writes: indices 0 .. blockLength / 2 + 1.
constexpr std::size_t SpectrumLength(int blockLength) {
    return static_cast<std::size_t>(blockLength / 2 + 2);
}

// The analysis of one block; the entry point for callers.
// With reset == 0: transforms the first blockLength windowed samples, converts every bin to a
// level in dB, averages it according to mode (an AveragingMode) using averaging, adds
// LevelOffsetDb, floors at LevelFloorDb and writes levels[0 .. blockLength / 2 + 1].
// With reset != 0: clears averaging (output indices 0 .. blockLength) and sets its frameCount
// to 0; samples, levels and mode are not used.
// A block length that is not a power of two from 2 to MaxBlockSize, an unknown mode, samples
// holding fewer than blockLength values or levels fewer than SpectrumLength(blockLength) writes
// nothing and changes no state. Not re-entrant for the same averaging state.
void ComputeSpectrum(std::span<const double> samples, std::span<double> levels, int blockLength,
                     int mode, int reset, AveragingState& averaging);
// As above for arrays the caller vouches for: samples must hold blockLength values and levels
// SpectrumLength(blockLength), which cannot be checked here. A null pointer counts as holding
// nothing.
void ComputeSpectrum(const double* samples, double* levels, int blockLength, int mode, int reset,
                     AveragingState& averaging);
