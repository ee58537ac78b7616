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

void ComputeSpectrum(const double* samples, double* levels, int blockLength, int mode, int reset,
                     AveragingState& averaging) {
    // A length the transform cannot take would index outside its arrays; such a call leaves
    // the output and the averaging state exactly as they were.
    if (!IsValidBlockLength(blockLength)) {
        return;
    }
    if (reset != 0) {
        ResetState(averaging, blockLength);
        return;
    }
    if (samples == nullptr || levels == nullptr ||
        (mode != SingleFrame && mode != RunningMean && mode != MovingMean)) {
        return;
    }

    const int n = blockLength;
    double* re = averaging.workReal.data();
    double* im = averaging.workImag.data();
    for (int i = 0; i < n; ++i) {
        re[i] = samples[i];
        im[i] = 0.0;
    }
    Transform(re, im, n);

    // Every bin, DC and Nyquist included, gets the same power scale 2 / N^2.
    const double powerScale = 2.0 / (static_cast<double>(n) * n);

    // The count is shared by both means; holding it at its largest value keeps a running mean
    // that has gone on for years from overflowing into a negative divisor.
    if (averaging.frameCount < INT_MAX) {
        ++averaging.frameCount;
    }
    if (mode == MovingMean && averaging.frameCount > HistoryLength) {
        averaging.frameCount = 1;
    }
    const int frames = averaging.frameCount;

    levels[0] = LevelFloorDb;
    for (int b = 0; b <= n / 2; ++b) {
        const int k = b + 1;
        const double power = (re[b] * re[b] + im[b] * im[b]) * powerScale;
        double magnitude = std::sqrt(power);
        if (magnitude < MagnitudeFloor) {
            magnitude = MagnitudeFloor;
        }
        const double level = 20.0 * std::log10(magnitude);

        double v = level;
        if (mode == RunningMean) {
            averaging.levelSums[k] += level;
            v = averaging.levelSums[k] / frames;
        } else if (mode == MovingMean) {
            auto& ring = averaging.levelHistory[k];
            ring[frames - 1] = level;
            double sum = 0.0;
            for (double slot : ring) {
                sum += slot;
            }
            v = sum * 0.05;
        }

        v += LevelOffsetDb;
        if (!(v >= LevelFloorDb)) {  // also catches a level that is not a number
            v = LevelFloorDb;
        }
        levels[k] = v;
    }
}

void ComputeSpectrum(std::span<const double> samples, std::span<double> levels, int blockLength,
                     int mode, int reset, AveragingState& averaging) {
    if (reset == 0 && IsValidBlockLength(blockLength) &&
        (samples.size() < static_cast<std::size_t>(blockLength) ||
         levels.size() < static_cast<std::size_t>(blockLength / 2 + 2))) {
        return;
    }
    ComputeSpectrum(samples.data(), levels.data(), blockLength, mode, reset, averaging);
}
