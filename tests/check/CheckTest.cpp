#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "AcquisitionCycle.h"
#include "CheckCommand.h"
#include "CheckOptions.h"
#include "CheckRun.h"
#include "ComDeviceMap.h"
#include "LimitsFile.h"
#include "ModuleConnection.h"
#include "SignalGenerator.h"
#include "Spectrum.h"
#include "SpectrumJudge.h"
#include "SystemClock.h"
#include "TavrekSimulator.h"
#include "TemporaryFolder.h"

namespace {

std::vector<std::string> SplitCsv(const std::string& line) {
    std::vector<std::string> fields;
    std::stringstream in(line);
    std::string field;
    while (std::getline(in, field, ',')) {
        fields.push_back(field);
    }
    return fields;
}

std::vector<std::vector<std::string>> ReadCsv(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::vector<std::string>> rows;
    std::string line;
    while (std::getline(in, line)) {
        rows.push_back(SplitCsv(line));
    }
    return rows;
}

std::string Fixed4(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.4f", value);
    return text;
}

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
    double seconds = 0.0;
};

class CheckRunTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(folder_.Create("sorvell-check"));
        // An empty profile of its own, so that no [Ports] entry of the machine's profile counts.
        ::setenv("XDG_CONFIG_HOME", folder_.Path().c_str(), 1);
    }
    void TearDown() override {
        if (sim_) {
            sim_->Stop();
        }
    }

    void StartModule(const SimConfig& config) {
        sim_ = std::make_unique<TavrekSimulator>(config);
        std::string error;
        ASSERT_TRUE(sim_->Start(&error)) << error;
    }

    RunResult Run(std::vector<std::string> args) {
        std::ostringstream out;
        std::ostringstream err;
        const auto start = std::chrono::steady_clock::now();
        RunResult result;
        result.status = SorvellCheckMain(args, out, err);
        result.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        result.out = out.str();
        result.err = err.str();
        return result;
    }

    std::string Path(const char* name) const { return folder_.Path(name); }

    TemporaryFolder folder_;
    std::unique_ptr<TavrekSimulator> sim_;
};

// A module whose every level of entries 5 to 31 lies well inside the default limits and above the
// -134 dB under which Auto-set's one-sided clamps leave a lower limit above the upper one: tones
// between bins spread over the whole spectrum. Without noise the moving mean stays within a few
// dB from cycle to cycle (block phases vary, so levels far from the tones move by up to 6 dB:
// the test uses a margin of 10).
SimConfig TonesModule() {
    SimConfig config;
    config.x.tones.push_back({8.5, 1.0});
    config.x.tones.push_back({2.3, 0.2});
    config.y.dcVolts = 1.2;
    config.y.tones.push_back({12.25, 0.5});
    config.y.tones.push_back({5.7, 0.1});
    return config;
}

// Limits that no level of the analysis leaves: from below its floor to far above what a block of
// the module's volts can reach.
void SaveLimitsAroundEveryLevel(const std::string& path) {
    auto store = std::make_unique<SpectrumStore>();
    for (SpectrumArray* upper : {&store->maxLimitX, &store->maxLimitY}) {
        SpectrumStore::Fill(*upper, 100.0);
    }
    for (SpectrumArray* lower : {&store->minLimitX, &store->minLimitY}) {
        SpectrumStore::Fill(*lower, LevelFloorDb - 1.0);
    }
    std::string error;
    ASSERT_TRUE(SaveLimitsFile(path, *store, error)) << error;
}

// The distinct blocks, in volts, that a stream of this signal can start with: the signal repeats
// every 64 samples.
std::set<std::vector<double>> PossibleBlocks(const AxisSignal& signal) {
    std::set<std::vector<double>> blocks;
    for (std::uint64_t offset = 0; offset < 64; ++offset) {
        std::vector<double> volts(BlockSampleCount);
        for (std::uint64_t i = 0; i < volts.size(); ++i) {
            volts[i] =
                TavrekSimulator::VoltsToSample(SignalGenerator::CleanVolts(signal, offset + i)) *
                VoltsPerStep;
        }
        blocks.insert(volts);
    }
    return blocks;
}

// Every row of the spectra file is the analysis of a block the module sent, through the same
// moving mean: each axis' signal repeats every 64 samples, so the block that starts a stream is
// one of 64 and the levels name which.
TEST_F(CheckRunTest, SpectraAreTheAnalysisOfTheModulesBlocks) {
    SimConfig config;
    config.x.tones.push_back({8.0, 1.0});
    config.x.tones.push_back({3.0, 0.3, 40.0});
    config.y.dcVolts = 1.2;
    config.y.tones.push_back({4.0, 0.7, 10.0});
    StartModule(config);
    // Tones on whole bins leave some entries at the floor of the analysis, below the default
    // lower limit or not depending on where the streams start; limits around the whole range of
    // the analysis make the run pass whatever blocks come.
    ASSERT_NO_FATAL_FAILURE(SaveLimitsAroundEveryLevel(Path("limits.csv")));
    const RunResult run = Run({"--device", sim_->SlavePath(), "--warm-up", "3", "--cycles", "4",
                               "--limits", Path("limits.csv"), "--spectra", Path("spectra.csv")});
    ASSERT_EQ(run.status, CheckPassed) << run.out << run.err;

    const auto rows = ReadCsv(Path("spectra.csv"));
    ASSERT_EQ(rows.size(), 1u + 7u * 2u);
    ASSERT_EQ(rows[0].size(), 35u);
    EXPECT_EQ(rows[0][0], "cycle");
    EXPECT_EQ(rows[0][2], "db0");
    EXPECT_EQ(rows[0][34], "db32");

    for (const SimAxis axis : {SimAxis::X, SimAxis::Y}) {
        SCOPED_TRACE(axis == SimAxis::X ? "X" : "Y");
        const AxisSignal& signal = axis == SimAxis::X ? config.x : config.y;
        const std::set<std::vector<double>> blocks = PossibleBlocks(signal);
        auto averaging = std::make_unique<AveragingState>();
        auto trial = std::make_unique<AveragingState>();
        for (int cycle = 1; cycle <= 7; ++cycle) {
            SCOPED_TRACE("cycle " + std::to_string(cycle));
            const auto& row =
                rows[static_cast<std::size_t>(2 * cycle - (axis == SimAxis::X ? 1 : 0))];
            ASSERT_EQ(row[0], std::to_string(cycle));
            ASSERT_EQ(row[1], axis == SimAxis::X ? "X" : "Y");
            bool found = false;
            for (const std::vector<double>& block : blocks) {
                *trial = *averaging;
                std::vector<double> windowed = block;
                std::vector<double> levels(SpectrumLength(BlockSampleCount), 0.0);
                ApplyWindow(std::span<double>(windowed), BlockSampleCount);
                ComputeSpectrum(std::span<const double>(windowed), std::span<double>(levels),
                                BlockSampleCount, MovingMean, 0, *trial);
                bool same = true;
                for (std::size_t e = 0; e <= 32 && same; ++e) {
                    same = row[e + 2] == Fixed4(levels[e]);
                }
                if (same) {
                    found = true;
                    std::swap(averaging, trial);
                    break;
                }
            }
            ASSERT_TRUE(found) << "no block of the module's signal gives this row";
        }
    }
}

// Limits saved after one run, set around each entry's range over the judged cycles, pass the same
// module.
TEST_F(CheckRunTest, SavedLimitsPassTheSameModule) {
    StartModule(TonesModule());
    const RunResult first =
        Run({"--device", sim_->SlavePath(), "--cycles", "5", "--spectra", Path("spectra.csv"),
             "--save-limits", Path("limits.csv"), "--margin", "10"});
    ASSERT_EQ(first.status, CheckPassed) << first.out << first.err;
    EXPECT_NE(first.out.find("24 cycles (19 warm-up, 5 judged)"), std::string::npos) << first.out;

    // The saved limits are the highest and lowest levels of the five judged cycles (20 to 24),
    // not of the warm-up, with the margin around them.
    const auto spectra = ReadCsv(Path("spectra.csv"));
    ASSERT_EQ(spectra.size(), 1u + 24u * 2u);
    SpectrumStore saved;
    std::string error;
    ASSERT_TRUE(LoadLimitsFile(Path("limits.csv"), saved, error)) << error;
    for (std::size_t e = 0; e < LimitsFileEntries; ++e) {
        for (const bool x : {true, false}) {
            double highest = -1e9;
            double lowest = 1e9;
            for (std::size_t row = 1 + 19 * 2; row < spectra.size(); ++row) {
                if ((spectra[row][1] == "X") == x) {
                    highest = std::max(highest, std::stod(spectra[row][e + 2]));
                    lowest = std::min(lowest, std::stod(spectra[row][e + 2]));
                }
            }
            EXPECT_NEAR(x ? saved.maxLimitX[e] : saved.maxLimitY[e], highest + 10.0, 1e-4) << e;
            EXPECT_NEAR(x ? saved.minLimitX[e] : saved.minLimitY[e], lowest - 10.0, 1e-4) << e;
        }
    }

    const RunResult second = Run({"--device", sim_->SlavePath(), "--limits", Path("limits.csv")});
    EXPECT_EQ(second.status, CheckPassed) << second.out << second.err;
    EXPECT_NE(second.out.find("PASS"), std::string::npos);
}

TEST_F(CheckRunTest, AnEntryAboveItsMaximumFailsAndIsNamed) {
    StartModule(TonesModule());
    std::ofstream(Path("limits.csv")) << "axis,entry,max_db,min_db\nY,12,-130,-139\n";
    const RunResult run = Run({"--device", sim_->SlavePath(), "--warm-up", "5", "--cycles", "3",
                               "--limits", Path("limits.csv")});
    EXPECT_EQ(run.status, CheckOutOfLimits) << run.out << run.err;
    EXPECT_NE(run.out.find("out of limits: Y entry 12: latched "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("limits -139.0000 to -130.0000 dB, in 3 of 3 judged cycles"),
              std::string::npos)
        << run.out;
    // No other entry is reported.
    EXPECT_EQ(run.out.find("out of limits:"), run.out.rfind("out of limits:")) << run.out;
    EXPECT_NE(run.out.find("FAIL"), std::string::npos);
}

TEST_F(CheckRunTest, NoModuleEndsWithTheProgramsMessageWithinFiveSeconds) {
    const RunResult missing = Run({"--device", Path("no-such-device")});
    EXPECT_EQ(missing.status, CheckModuleFailed);
    EXPECT_LT(missing.seconds, 5.0);
    EXPECT_NE(missing.err.find("sorvell-check: Could not open port.\n"), std::string::npos)
        << missing.err;
    EXPECT_NE(missing.err.find("the module cannot be reached"), std::string::npos);

    // A saved 1000 ("Terminate Program" last time) means COM3, as at the window's start-up.
    SetComDevicePath(3, Path("com3-device"));
    std::ostringstream out;
    std::ostringstream err;
    SystemClock clock;
    EXPECT_EQ(RunCheck(CheckOptions{}, TerminatePortNumber, clock, out, err), CheckModuleFailed);
    EXPECT_NE(err.str().find("COM3 (" + Path("com3-device") + "): the module cannot be reached"),
              std::string::npos)
        << err.str();
    ClearComDeviceMap();

    SimConfig silent;
    silent.faults.answer = "";
    StartModule(silent);
    const RunResult mute = Run({"--device", sim_->SlavePath()});
    EXPECT_EQ(mute.status, CheckModuleFailed);
    EXPECT_LT(mute.seconds, 5.0);
    EXPECT_NE(mute.err.find("Could not commmunicate with Tavrek.  Try resetting module."),
              std::string::npos)
        << mute.err;
    EXPECT_EQ(mute.out, "");
}

TEST_F(CheckRunTest, ALineThatFailsMidRunEndsWithTheTimeoutMessage) {
    SimConfig config = TonesModule();
    config.faults.silentAfterBlocks = 6;
    StartModule(config);
    const RunResult run = Run({"--device", sim_->SlavePath(), "--warm-up", "1", "--cycles", "10"});
    EXPECT_EQ(run.status, CheckModuleFailed) << run.out << run.err;
    EXPECT_NE(run.err.find("sorvell-check: Acquisition timeout. Click OK to continue.\n"),
              std::string::npos)
        << run.err;
    // The module counts every 64 samples it streams as a block, also those sent after a block
    // while the stop byte is on its way, so on a loaded machine it falls silent sooner.
    const std::string failed = "the line failed after ";
    const std::size_t at = run.err.find(failed);
    ASSERT_NE(at, std::string::npos) << run.err;
    EXPECT_LE(std::stoi(run.err.substr(at + failed.size())), 3) << run.err;
    EXPECT_LT(run.seconds, 10.0);
}

TEST_F(CheckRunTest, BadUsageAndBadFilesExitTwoBeforeTheModuleIsTouched) {
    std::ofstream(Path("bad.csv")) << "axis,entry,max_db,min_db\nX,5,1,-1\nX,40,1,-1\n";
    const RunResult badFile =
        Run({"--device", Path("no-such-device"), "--limits", Path("bad.csv")});
    EXPECT_EQ(badFile.status, CheckBadUsage);
    EXPECT_EQ(badFile.err, "sorvell-check: " + Path("bad.csv") +
                               ":3: entry \"40\" is not a whole number from 0 to 31\n");

    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"--port", "0"},
                                               {"--port", "17"},
                                               {"--port", "3", "--device", "/dev/null"},
                                               {"--cycles", "0"},
                                               {"--warm-up", "-1"},
                                               {"--margin", "2"},
                                               {"--save-limits", "x.csv", "--margin", "inf"},
                                               {"--limits"},
                                               {"--colour"}}) {
        const RunResult run = Run(args);
        EXPECT_EQ(run.status, CheckBadUsage) << args[0];
        EXPECT_NE(run.err.find("Try 'sorvell-check --help'."), std::string::npos) << run.err;
    }
    const RunResult help = Run({"--help"});
    EXPECT_EQ(help.status, CheckPassed);
    EXPECT_EQ(help.out, CheckHelpText);

    std::string error;
    const std::vector<std::string> args = {"--port=4",      "--cycles=7", "--warm-up", "0",
                                           "--save-limits", "a.csv",      "--margin",  "2.5"};
    const std::optional<CheckOptions> options = ParseCheckOptions(args, error);
    ASSERT_TRUE(options) << error;
    EXPECT_EQ(options->port, 4);
    EXPECT_EQ(options->cycles, 7);
    EXPECT_EQ(options->warmUp, 0);
    EXPECT_EQ(options->margin, 2.5f);
}

// The judgement is the paint's: a level equal to a limit is within, NaN and a level above the
// upper limit are out, and the latched error ends as a plain paint leaves it.
TEST(SpectrumJudgeTest, JudgesAndLatchesAsThePaintDoes) {
    auto store = std::make_unique<SpectrumStore>();
    store->FillDefaults();
    store->shownX[5] = DefaultMaxLimit;
    store->shownX[6] = DefaultMaxLimit + 0.001;
    store->shownY[31] = std::numeric_limits<double>::quiet_NaN();
    store->shownY[30] = DefaultMinLimit;
    store->errorX[7] = -20.0;  // latched earlier, within limits now
    SpectrumJudge judge;
    judge.Paint(*store, false);
    EXPECT_EQ(judge.OutCountX(6), 0);  // warm-up paints latch but are not counted
    EXPECT_EQ(store->errorX[6], DefaultMaxLimit + 0.001);

    store->errorX[6] = NoErrorLevel;
    store->shownX[6] = DefaultMaxLimit + 0.001;
    judge.Paint(*store, true);
    EXPECT_EQ(judge.OutCountX(5), 0);
    EXPECT_EQ(judge.OutCountX(6), 1);
    EXPECT_EQ(judge.OutCountY(31), 1);
    EXPECT_EQ(judge.OutCountY(30), 0);
    EXPECT_TRUE(judge.AnyOut());
    EXPECT_EQ(store->errorX[6], DefaultMaxLimit + 0.001);
    EXPECT_TRUE(std::isnan(store->errorY[31]));
    EXPECT_EQ(store->errorX[5], NoErrorLevel);
    EXPECT_EQ(store->errorX[7], -20.0);
    EXPECT_EQ(store->liveX, SpectrumArray{});
}

}  // namespace
