#include "Spectrum.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <numbers>
#include <random>
#include <span>
#include <vector>

namespace {

constexpr int Block = 64;
// Output indices a 64-sample block fills: DC at 1 up to the Nyquist bin at 33.
constexpr int LastIndex = Block / 2 + 1;
// Marks output entries that must not be written.
constexpr double Untouched = 12345.0;
// One sample byte of 128 in volts.
constexpr double MidScaleVolts = 128 * 3.1 / 255;

// An averaging state is too large for a stack frame.
std::unique_ptr<AveragingState> FreshState() {
    return std::make_unique<AveragingState>();
}

std::array<double, 200> UntouchedLevels() {
    std::array<double, 200> levels;
    levels.fill(Untouched);
    return levels;
}

std::vector<double> Cosine(int n, int bin) {
    std::vector<double> x(n);
    for (int i = 0; i < n; ++i) {
        x[i] = std::cos(2 * std::numbers::pi * bin * i / n);
    }
    return x;
}

std::vector<double> Random(int n, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> volts(0.0, 3.1);
    std::vector<double> x(n);
    for (double& v : x) {
        v = volts(gen);
    }
    return x;
}

// Windows a copy of the block and analyses it, as the acquisition does for every block.
std::array<double, 200> Analyse(std::vector<double> x, int mode, AveragingState& state) {
    auto levels = UntouchedLevels();
    const int n = static_cast<int>(x.size());
    ApplyWindow(std::span<double>(x), n);
    ComputeSpectrum(std::span<const double>(x), std::span<double>(levels), n, mode, 0, state);
    return levels;
}

double Round2(double v) {
    return std::round(v * 100.0) / 100.0;
}

bool SameState(const AveragingState& a, const AveragingState& b) {
    return a.frameCount == b.frameCount && a.levelSums == b.levelSums &&
           a.levelHistory == b.levelHistory;
}

TEST(Window, HasThePeriodicBlackmanHarrisValues) {
    for (int n : {64, 8192}) {
        std::vector<double> ones(n, 1.0);
        ApplyWindow(ones.data(), n);
        EXPECT_NEAR(ones[0], 0.00006, 1e-12) << n;
        EXPECT_NEAR(ones[n / 2], 1.0, 1e-12) << n;
        EXPECT_NEAR(ones[n / 4], 0.21747, 1e-12) << n;
        EXPECT_NEAR(ones[3 * n / 4], 0.21747, 1e-12) << n;
        // Periodic, not symmetric over N - 1 samples: w(i) == w(N - i).
        EXPECT_NEAR(ones[1], ones[n - 1], 1e-12) << n;
    }
}

TEST(Window, IgnoresEmptyNegativeAndOversizedRequests) {
    std::array<double, 8> x;
    x.fill(1.5);
    ApplyWindow(x.data(), 0);
    ApplyWindow(x.data(), -8);
    ApplyWindow(nullptr, 8);
    ApplyWindow(std::span<double>(x), 9);
    for (double v : x) {
        EXPECT_EQ(v, 1.5);
    }
    ApplyWindow(std::span<double>(x), 8);
    EXPECT_NEAR(x[4], 1.5, 1e-12);
    EXPECT_NEAR(x[0], 1.5 * 0.00006, 1e-12);
}

TEST(Spectrum, CosineAtBinEightMatchesWorkedLevels) {
    auto state = FreshState();
    const auto levels = Analyse(Cosine(Block, 8), SingleFrame, *state);
    // The tone's energy spreads over bins 5 to 11 (indices 6 to 12), symmetric about bin 8.
    std::array<double, LastIndex + 1> expected;
    expected.fill(LevelFloorDb);
    expected[9] = -0.91;
    expected[8] = expected[10] = -4.26;
    expected[7] = expected[11] = -15.03;
    expected[6] = expected[12] = -36.68;
    for (int k = 1; k <= LastIndex; ++k) {
        EXPECT_EQ(Round2(levels[k]), expected[k]) << "index " << k << " level " << levels[k];
    }
    EXPECT_EQ(levels[0], LevelFloorDb);
    EXPECT_EQ(levels[LastIndex + 1], Untouched);
    EXPECT_EQ(levels[199], Untouched);
}

TEST(Spectrum, ConstantBlockKeepsItsEnergyInTheFirstFourBins) {
    auto state = FreshState();
    const auto levels = Analyse(std::vector<double>(Block, MidScaleVolts), SingleFrame, *state);
    EXPECT_EQ(Round2(levels[1]), 8.95);
    EXPECT_EQ(Round2(levels[2]), 5.60);
    EXPECT_EQ(Round2(levels[3]), -5.17);
    EXPECT_EQ(Round2(levels[4]), -26.82);
    for (int k = 5; k <= LastIndex; ++k) {
        EXPECT_EQ(levels[k], LevelFloorDb) << "index " << k;
    }
}

TEST(Spectrum, NotANumberEndsAtTheFloor) {
    auto state = FreshState();
    auto x = Cosine(Block, 8);
    x[10] = std::numeric_limits<double>::quiet_NaN();
    const auto levels = Analyse(x, SingleFrame, *state);
    for (int k = 0; k <= LastIndex; ++k) {
        EXPECT_EQ(levels[k], LevelFloorDb) << "index " << k;
    }
}

// Reference levels through a direct DFT in long double, with the same scale, floors and offset.
std::vector<double> DirectLevels(const std::vector<double>& x) {
    const int n = static_cast<int>(x.size());
    std::vector<long double> cosTable(n);
    std::vector<long double> sinTable(n);
    const long double twoPi = 2.0L * std::numbers::pi_v<long double>;
    for (int i = 0; i < n; ++i) {
        cosTable[i] = std::cos(twoPi * i / n);
        sinTable[i] = std::sin(twoPi * i / n);
    }
    std::vector<double> levels(n / 2 + 2, LevelFloorDb);
    for (int b = 0; b <= n / 2; ++b) {
        long double re = 0.0L;
        long double im = 0.0L;
        long long phase = 0;  // b * i mod n, kept exact
        for (int i = 0; i < n; ++i) {
            re += x[i] * cosTable[phase];
            im -= x[i] * sinTable[phase];
            phase += b;
            if (phase >= n) {
                phase -= n;
            }
        }
        const long double power = (re * re + im * im) * 2.0L / (static_cast<long double>(n) * n);
        const long double magnitude = std::max(std::sqrt(power), 1e-14L);
        const long double level = 20.0L * std::log10(magnitude) + 11.0L;
        levels[b + 1] = static_cast<double>(std::max(level, -179.9L));
    }
    return levels;
}

TEST(Spectrum, AgreesWithADirectTransformForEveryBlockLength) {
    auto state = FreshState();
    for (int n = 2; n <= MaxBlockSize; n *= 2) {
        auto x = Random(n, static_cast<unsigned>(n));
        ApplyWindow(x.data(), n);
        const auto expected = DirectLevels(x);
        std::vector<double> levels(SpectrumLength(n), Untouched);
        ComputeSpectrum(std::span<const double>(x), std::span<double>(levels), n, SingleFrame, 0,
                        *state);
        int compared = 0;
        for (int k = 1; k <= n / 2 + 1; ++k) {
            if (expected[k] > -150.0) {
                ++compared;
                ASSERT_NEAR(levels[k], expected[k], 1e-6) << "N " << n << " index " << k;
            } else {
                EXPECT_LE(levels[k], -140.0) << "N " << n << " index " << k;
            }
        }
        // Random blocks put energy in nearly every bin; make sure the check is not vacuous.
        EXPECT_GE(compared, n / 4) << "N " << n;
    }
}

TEST(Spectrum, RejectedBlockLengthsAndUnusableArgumentsLeaveOutputAndStateUntouched) {
    auto state = FreshState();
    auto levels = UntouchedLevels();
    const auto x = Random(MaxBlockSize * 2 + 2, 7);
    // Give the state some history so that a stray reset or update would show.
    for (int i = 0; i < 3; ++i) {
        Analyse(Random(Block, i), MovingMean, *state);
    }
    const auto before = std::make_unique<AveragingState>(*state);
    for (int n : {MaxBlockSize + 1, MaxBlockSize * 2, 0, -64, 1, 3, 48, 65, 100}) {
        for (int reset : {0, 1}) {
            ComputeSpectrum(std::span<const double>(x), std::span<double>(levels), n, MovingMean,
                            reset, *state);
            ComputeSpectrum(x.data(), levels.data(), n, MovingMean, reset, *state);
            EXPECT_TRUE(SameState(*state, *before)) << "N " << n << " reset " << reset;
        }
    }
    // Unknown modes and missing buffers.
    ComputeSpectrum(std::span<const double>(x), std::span<double>(levels), Block, 3, 0, *state);
    ComputeSpectrum(x.data(), levels.data(), Block, -1, 0, *state);
    ComputeSpectrum(nullptr, levels.data(), Block, SingleFrame, 0, *state);
    ComputeSpectrum(x.data(), nullptr, Block, SingleFrame, 0, *state);
    // Spans too short for the block or for its output.
    ComputeSpectrum(std::span<const double>(x.data(), Block - 1), std::span<double>(levels), Block,
                    SingleFrame, 0, *state);
    ComputeSpectrum(std::span<const double>(x), std::span<double>(levels.data(), LastIndex), Block,
                    SingleFrame, 0, *state);
    EXPECT_TRUE(SameState(*state, *before));
    for (double v : levels) {
        ASSERT_EQ(v, Untouched);
    }
    // A span of exactly N / 2 + 2 outputs is enough.
    ComputeSpectrum(std::span<const double>(x), std::span<double>(levels.data(), LastIndex + 1),
                    Block, SingleFrame, 0, *state);
    EXPECT_NE(levels[LastIndex], Untouched);
    EXPECT_EQ(levels[LastIndex + 1], Untouched);
}

TEST(MovingMean, ZeroBlocksFallFourteenDecibelsPerBlockToTheFloor) {
    auto state = FreshState();
    const std::vector<double> zeros(Block, 0.0);
    for (int block = 1; block <= 25; ++block) {
        const auto levels = Analyse(zeros, MovingMean, *state);
        // Each block adds one -280 dB slot to a mean over 20 slots: -14 dB per block.
        const double expected = block < 14 ? -3.0 - 14.0 * (block - 1) : LevelFloorDb;
        for (int k = 1; k <= LastIndex; ++k) {
            ASSERT_NEAR(levels[k], expected, 1e-9) << "block " << block << " index " << k;
        }
    }
}

TEST(MovingMean, FrameCountCyclesThroughTheSlotsAndIsShared) {
    auto state = FreshState();
    const auto x = Random(Block, 3);
    const std::vector<double> zeros(Block, 0.0);
    for (int block = 1; block <= 45; ++block) {
        Analyse(block == 45 ? zeros : x, MovingMean, *state);
        ASSERT_EQ(state->frameCount, (block - 1) % HistoryLength + 1) << "block " << block;
    }
    // Slot s is element s - 1: the silent block 45 went to slot 5, slot 6 still holds block 26.
    auto single = FreshState();
    const double raw = Analyse(x, SingleFrame, *single)[1] - LevelOffsetDb;
    EXPECT_EQ(state->levelHistory[1][4], -280.0);
    EXPECT_NEAR(state->levelHistory[1][5], raw, 1e-9);
    // A switch to the running mean continues the shared count, which no longer wraps.
    for (int block = 1; block <= 25; ++block) {
        Analyse(x, RunningMean, *state);
    }
    EXPECT_EQ(state->frameCount, 30);
}

TEST(MovingMean, SettlesExactlyTwentyBlocksAfterAStep) {
    const auto before = std::vector<double>(Block, MidScaleVolts);
    const auto after = Random(Block, 11);

    auto settled = FreshState();
    std::array<double, 200> steady{};
    for (int i = 0; i < 2 * HistoryLength; ++i) {
        steady = Analyse(after, MovingMean, *settled);
    }

    auto state = FreshState();
    for (int i = 0; i < 33; ++i) {  // an odd count, so the step falls mid-ring
        Analyse(before, MovingMean, *state);
    }
    for (int block = 1; block <= 2 * HistoryLength; ++block) {
        const auto levels = Analyse(after, MovingMean, *state);
        double largestGap = 0.0;
        for (int k = 1; k <= LastIndex; ++k) {
            largestGap = std::max(largestGap, std::abs(levels[k] - steady[k]));
        }
        if (block < HistoryLength) {
            EXPECT_GT(largestGap, 0.5) << "block " << block;
        } else {
            EXPECT_LT(largestGap, 1e-9) << "block " << block;
        }
    }
}

TEST(RunningMean, AfterAResetAveragesRawLevelsFromTheFirstBlock) {
    auto state = FreshState();
    for (int i = 0; i < 5; ++i) {
        Analyse(Random(Block, 100 + i), MovingMean, *state);
    }
    auto levels = UntouchedLevels();
    ComputeSpectrum(nullptr, levels.data(), Block, RunningMean, 1, *state);
    EXPECT_EQ(state->frameCount, 0);
    for (double v : levels) {
        ASSERT_EQ(v, Untouched);
    }
    for (int k = 0; k <= Block; ++k) {
        ASSERT_EQ(state->levelSums[k], 0.0);
        for (double slot : state->levelHistory[k]) {
            ASSERT_EQ(slot, 0.0);
        }
    }

    const auto first = Random(Block, 21);
    const auto second = Random(Block, 22);
    auto single = FreshState();
    const auto firstSingle = Analyse(first, SingleFrame, *single);
    const auto secondSingle = Analyse(second, SingleFrame, *single);

    const auto firstMean = Analyse(first, RunningMean, *state);
    const auto secondMean = Analyse(second, RunningMean, *state);
    EXPECT_EQ(state->frameCount, 2);
    for (int k = 1; k <= LastIndex; ++k) {
        ASSERT_NEAR(firstMean[k], firstSingle[k], 1e-9) << "index " << k;
        // Random blocks stay far above the floor, so output - 11 dB is the raw level.
        const double raw1 = firstSingle[k] - LevelOffsetDb;
        const double raw2 = secondSingle[k] - LevelOffsetDb;
        const double expected = std::max((raw1 + raw2) / 2 + LevelOffsetDb, LevelFloorDb);
        ASSERT_NEAR(secondMean[k], expected, 1e-9) << "index " << k;
    }
}

}  // namespace
