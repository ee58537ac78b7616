#include "Spectrum.h"

#include <climits>
#include <cmath>
#include <cstddef>
#include <utility>

namespace {

// In-place radix-2 decimation-in-time forward transform (kernel e^-i theta), unscaled.
// Twiddles come from a per-stage recurrence: one cosine and one sine per stage, no table.
void Transform(double* re, double* im, int n) {
    // Bit-reversal reordering with a running bit-reversed counter; each pair is swapped once.
    const int half = n / 2;
    int j = 0;
    for (int i = 0; i < n - 1; ++i) {
        if (i < j) {
            std::swap(re[i], re[j]);
            std::swap(im[i], im[j]);
        }
        int k = half;
        while (k <= j) {
            j -= k;
            k /= 2;
        }
        j += k;
    }

    const double pi = 4.0 * std::atan(1.0);
    const int stages = static_cast<int>(std::log10(static_cast<double>(n)) / std::log10(2.0) + 0.1);
    for (int stage = 1; stage <= stages; ++stage) {
        const int span = 1 << stage;
        const int h = span / 2;
        const double wRe = std::cos(pi / h);
        const double wIm = -std::sin(pi / h);
        double uRe = 1.0;
        double uIm = 0.0;
        for (int group = 0; group < h; ++group) {
            for (int p = group; p < n; p += span) {
                const int q = p + h;
                const double tRe = re[q] * uRe - im[q] * uIm;
                const double tIm = re[q] * uIm + im[q] * uRe;
                re[q] = re[p] - tRe;
                im[q] = im[p] - tIm;
                re[p] += tRe;
                im[p] += tIm;
            }
            const double nextRe = uRe * wRe - uIm * wIm;
            uIm = uRe * wIm + uIm * wRe;
            uRe = nextRe;
        }
    }
}

void ResetState(AveragingState& averaging, int blockLength) {
    for (int k = 0; k <= blockLength; ++k) {
        averaging.levelSums[k] = 0.0;
        averaging.levelHistory[k].fill(0.0);
    }
    averaging.frameCount = 0;
}

bool IsKnownMode(int mode) {
    return mode == SingleFrame || mode == RunningMean || mode == MovingMean;
}

// Counts the block in and answers the count the means divide by (and, in MovingMean, the history
// slot it fills). The count is shared by both means; holding it at its largest value keeps a
// running mean that has gone on for years from overflowing into a negative divisor.
int CountFrame(AveragingState& averaging, int mode) {
    if (averaging.frameCount < INT_MAX) {
        ++averaging.frameCount;
    }
    if (mode == MovingMean && averaging.frameCount > HistoryLength) {
        averaging.frameCount = 1;
    }
    return averaging.frameCount;
}

// The level of one transformed bin in dB, before averaging and offset.
double RawLevel(double re, double im, double powerScale) {
    const double power = (re * re + im * im) * powerScale;
    double magnitude = std::sqrt(power);
    if (magnitude < MagnitudeFloor) {
        magnitude = MagnitudeFloor;
    }
    return 20.0 * std::log10(magnitude);
}

// Folds the raw level of output index k into the mean the mode keeps and answers the mean.
double Averaged(AveragingState& averaging, int mode, int frames, int k, double level) {
    if (mode == RunningMean) {
        averaging.levelSums[k] += level;
        return averaging.levelSums[k] / frames;
    }
    if (mode == MovingMean) {
        auto& ring = averaging.levelHistory[k];
        ring[frames - 1] = level;
        double sum = 0.0;
        for (double slot : ring) {
            sum += slot;
        }
        return sum * 0.05;
    }
    return level;
}

// The level as reported: offset, and floored (which also catches a level that is not a number).
double Reported(double averaged) {
    const double v = averaged + LevelOffsetDb;
    return v >= LevelFloorDb ? v : LevelFloorDb;
}

// The analysis proper, on arguments already checked: n samples in, n / 2 + 2 levels out.
void Analyse(const double* samples, double* levels, int n, int mode, AveragingState& averaging) {
    double* re = averaging.workReal.data();
    double* im = averaging.workImag.data();
    for (int i = 0; i < n; ++i) {
        re[i] = samples[i];
        im[i] = 0.0;
    }
    Transform(re, im, n);

    // Every bin, DC and Nyquist included, gets the same power scale 2 / N^2.
    const double powerScale = 2.0 / (static_cast<double>(n) * n);
    const int frames = CountFrame(averaging, mode);
    levels[0] = LevelFloorDb;
    for (int b = 0; b <= n / 2; ++b) {
        const int k = b + 1;
        levels[k] =
            Reported(Averaged(averaging, mode, frames, k, RawLevel(re[b], im[b], powerScale)));
    }
}

}  // namespace

bool IsValidBlockLength(int blockLength) {
    return blockLength >= 2 && blockLength <= MaxBlockSize &&
           (blockLength & (blockLength - 1)) == 0;
}

void ApplyWindow(double* samples, int blockLength) {
    if (samples == nullptr || blockLength <= 0) {
        return;
    }
    // Periodic form: the angle step is 2 pi / N, so w(0) is 0.00006 and w(N/2) is exactly 1.
    const double step = 8.0 * std::atan(1.0) / blockLength;
    for (int i = 0; i < blockLength; ++i) {
        const double a = step * i;
        const double w = 0.35875 - 0.48829 * std::cos(a) + 0.14128 * std::cos(2.0 * a) -
                         0.01168 * std::cos(3.0 * a);
        samples[i] *= w;
    }
}

void ApplyWindow(std::span<double> samples, int blockLength) {
    if (blockLength > 0 && static_cast<std::size_t>(blockLength) > samples.size()) {
        return;
    }
    ApplyWindow(samples.data(), blockLength);
}

void ComputeSpectrum(std::span<const double> samples, std::span<double> levels, int blockLength,
                     int mode, int reset, AveragingState& averaging) {
    // A length the transform cannot take would index outside its arrays; such a call leaves
    // the output and the averaging state exactly as they were.
    if (!IsValidBlockLength(blockLength)) {
        return;
    }
    if (reset != 0) {
        ResetState(averaging, blockLength);
        return;
    }
    if (samples.size() < static_cast<std::size_t>(blockLength) ||
        levels.size() < SpectrumLength(blockLength) || !IsKnownMode(mode)) {
        return;
    }
    Analyse(samples.data(), levels.data(), blockLength, mode, averaging);
}

void ComputeSpectrum(const double* samples, double* levels, int blockLength, int mode, int reset,
                     AveragingState& averaging) {
    // The caller vouches that both arrays are long enough for any block length the analysis
    // takes; a null pointer holds nothing, which the checks then refuse.
    const bool vouched = IsValidBlockLength(blockLength);
    const std::size_t sampleCount =
        vouched && samples != nullptr ? static_cast<std::size_t>(blockLength) : 0;
    const std::size_t levelCount = vouched && levels != nullptr ? SpectrumLength(blockLength) : 0;
    ComputeSpectrum(std::span<const double>(samples, sampleCount),
                    std::span<double>(levels, levelCount), blockLength, mode, reset, averaging);
}
