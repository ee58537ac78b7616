// Acquisition cycles against the simulated module over a real pseudo-terminal: the commands of
// a cycle, tones arriving at the right bins of the right axis, silence, bursts and a hang-up.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <thread>

#include "AcquisitionCycle.h"
#include "ModuleConnection.h"
#include "ModuleFakes.h"
#include "Profile.h"
#include "SignalGenerator.h"
#include "SimulatorFixture.h"
#include "Spectrum.h"
#include "SpectrumStore.h"
#include "SystemClock.h"
#include "TavrekModule.h"
#include "WaitUntil.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int BlocksAveraged = 20;

// X carries a tone at bin 8, Y one at bin 20, each on the module's 1.55 V rest level.
SimConfig TwoTones() {
    SimConfig config;
    config.x.tones.push_back({8.0, 1.0, 0.0});
    config.y.tones.push_back({20.0, 0.5, 30.0});
    return config;
}

// The levels the analysis gives after `blocks` identical blocks of the axis's clean signal.
std::array<double, 64> PredictedLevels(const AxisSignal& signal, int blocks) {
    auto state = std::make_unique<AveragingState>();
    std::array<double, 64> levels{};
    for (int block = 0; block < blocks; ++block) {
        std::array<double, 64> samples{};
        for (int n = 0; n < 64; ++n) {
            const auto byte =
                TavrekSimulator::VoltsToSample(SignalGenerator::CleanVolts(signal, n));
            samples[n] = byte * VoltsPerStep;
        }
        ApplyWindow(samples.data(), 64);
        ComputeSpectrum(samples.data(), levels.data(), 64, MovingMean, 0, *state);
    }
    return levels;
}

int LoudestDrawnBin(const SpectrumArray& levels) {
    int loudest = FirstDrawnBin;
    for (int bin = FirstDrawnBin; bin <= LastDrawnBin; ++bin) {
        if (levels[bin] > levels[loudest]) {
            loudest = bin;
        }
    }
    return loudest;
}

class AcquisitionSimTest : public SimulatorTest {
  protected:
    // Connects as the program does at start-up.
    void Connect(const SimConfig& config) {
        StartSim(config);
        host.profile[FakeHost::Key(Profile::AppSection, Profile::ComPortEntry)] = SimComNumber;
        module.ConnectAtStartup(host);
        ASSERT_TRUE(host.messages.empty());
        ASSERT_TRUE(Sim().WaitForReceived(6, 2000ms));
        store.FillDefaults();
    }

    std::string ReceivedSince(std::size_t index) {
        std::string text;
        for (const ReceivedByte& byte : Sim().ReceivedSince(index)) {
            text.push_back(static_cast<char>(byte.value));
        }
        return text;
    }

    // One tick; answers the bytes the module received for it: everything the tick sent, since
    // the module has read its line once more after the tick returned.
    std::string Tick() {
        const std::size_t before = Sim().ReceivedCount();
        module.OnTimer(host);
        EXPECT_TRUE(Sim().WaitUntilLineRead(2000ms));
        return ReceivedSince(before);
    }

    SystemClock clock;
    FakeHost host;
    SpectrumStore store;
    TavrekModule module{store, clock};
};

TEST_F(AcquisitionSimTest, TonesOfEachAxisShowAtTheirBinsWithThePredictedLevels) {
    const SimConfig config = TwoTones();
    Connect(config);
    for (int cycle = 0; cycle < BlocksAveraged; ++cycle) {
        ASSERT_EQ(Tick(), "088188") << "cycle " << cycle;
    }
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(host.defaultProcessing, BlocksAveraged);
    EXPECT_EQ(host.invalidations, BlocksAveraged);

    const auto x = PredictedLevels(config.x, BlocksAveraged);
    const auto y = PredictedLevels(config.y, BlocksAveraged);
    EXPECT_EQ(LoudestDrawnBin(store.shownX), 9);
    EXPECT_EQ(LoudestDrawnBin(store.shownY), 21);
    for (int bin = 7; bin <= 11; ++bin) {
        EXPECT_NEAR(store.shownX[bin], x[bin], 0.3) << "X bin " << bin;
        EXPECT_NEAR(store.liveX[bin], x[bin], 0.3) << "X bin " << bin;
    }
    for (int bin = 19; bin <= 23; ++bin) {
        EXPECT_NEAR(store.shownY[bin], y[bin], 0.3) << "Y bin " << bin;
        EXPECT_NEAR(store.liveY[bin], y[bin], 0.3) << "Y bin " << bin;
    }
    // Each axis averages only its own blocks: the other axis's tone is not there.
    EXPECT_LT(store.shownX[21], x[9] - 60.0);
    EXPECT_LT(store.shownY[9], y[21] - 60.0);
    EXPECT_EQ(module.Acquisition().AveragingX().frameCount, BlocksAveraged);
    EXPECT_EQ(module.Acquisition().AveragingY().frameCount, BlocksAveraged);
}

TEST_F(AcquisitionSimTest, SilentModuleTimesOutAndTheNextCycleCompletes) {
    SimConfig config = TwoTones();
    // Quiet from the second cycle on, until well after the host has given up, even when a
    // loaded machine makes it late.
    config.faults.resumeAfterSeconds = 4.0;
    Connect(config);
    ASSERT_EQ(Tick(), "088188");
    ASSERT_TRUE(host.messages.empty());
    const SpectrumArray shownX = store.shownX;
    Sim().FallSilentNow();
    ASSERT_TRUE(WaitUntil([&] { return Sim().Stats().silent; }, 2000ms));

    const std::size_t before = Sim().Received().size();
    std::size_t sentBeforeMessage = 0;
    Clock::time_point messageAt;
    host.onMessage = [&](const std::string&) {
        messageAt = Clock::now();
        // Whatever was sent before the message reaches the module, given time to read it.
        Sim().WaitForReceived(before + 3, 1000ms);
        sentBeforeMessage = Sim().Received().size();
    };
    const Clock::time_point start = Clock::now();
    module.OnTimer(host);
    ASSERT_EQ(host.messages, (std::vector<std::string>{AcquisitionTimeoutText}));
    const auto waited = messageAt - start;
    EXPECT_GT(waited, 2000ms);
    // At most 3 whole seconds, with room for a loaded machine.
    EXPECT_LE(waited, 3000ms + 1000ms);
    // "8" went to the module before the message appeared.
    EXPECT_EQ(ReceivedSince(before).substr(0, sentBeforeMessage - before), "088");
    EXPECT_EQ(store.shownX, shownX);
    EXPECT_FALSE(module.Acquisition().Busy());
    EXPECT_EQ(host.defaultProcessing, 1);

    // Once the module has woken up the next tick connects afresh, then completes its cycle.
    EXPECT_TRUE(module.Acquisition().reconnectPending);
    ASSERT_TRUE(WaitUntil([&] { return !Sim().Stats().silent; }, 4000ms));
    ASSERT_EQ(Tick(), "P9PGQS088188");
    EXPECT_EQ(host.messages.size(), 1u);
    EXPECT_TRUE(host.dialogShown.empty());
    EXPECT_FALSE(module.Acquisition().reconnectPending);
    EXPECT_EQ(host.defaultProcessing, 2);
    EXPECT_EQ(LoudestDrawnBin(store.shownX), 9);
}

TEST_F(AcquisitionSimTest, ResetModuleIsConnectedAgainAfterOneTimeout) {
    SimConfig config = TwoTones();
    // Its first X block is its last before the reset (a stream may run on into a second block
    // before the stop reaches the module, so later blocks do not say which tick they fall in).
    config.faults.resetAfterBlocks = 1;
    Connect(config);
    const std::size_t before = Sim().ReceivedCount();
    module.OnTimer(host);                       // the Y block meets a module at 38400 baud
    Sim().WaitForReceived(before + 6, 2000ms);  // "0", "8", "8", "1", "8" and the timeout's "8"
    ASSERT_EQ(host.messages, (std::vector<std::string>{AcquisitionTimeoutText}));
    EXPECT_EQ(Sim().Stats().resets, 1u);
    ASSERT_EQ(Tick(), "P9PGQS088188");
    EXPECT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(Sim().Stats().moduleSpeed, 128000u);
    for (int cycle = 0; cycle < 3; ++cycle) {
        ASSERT_EQ(Tick(), "088188") << "cycle " << cycle;
    }
    EXPECT_EQ(host.defaultProcessing, 4);
}

TEST_F(AcquisitionSimTest, LostStopByteIsHealedWithinTheCycleWithoutAMessage) {
    SimConfig config = TwoTones();
    config.faults.loseStopAfterBlocks = 1;  // the stop after the first X block
    Connect(config);
    // A drain after the lost stop finds the stream going and stops it with one more "8": the
    // one right after it, or, when a loaded machine keeps the module from keeping its pace for
    // a moment, the next one, before the Y block is asked for.
    const std::string healed = Tick();
    ASSERT_EQ(healed.size(), 7u) << healed;
    EXPECT_EQ(std::count(healed.begin(), healed.end(), '8'), 5) << healed;
    EXPECT_EQ(healed.substr(0, 3), "088") << healed;
    EXPECT_EQ(Sim().Stats().stopsLost, 1u);
    EXPECT_FALSE(Sim().Stats().streaming);
    for (int cycle = 0; cycle < BlocksAveraged; ++cycle) {
        ASSERT_EQ(Tick(), "088188") << "cycle " << cycle;
    }
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(host.defaultProcessing, BlocksAveraged + 1);
    // The blocks were gathered from the start of their streams: the levels are the clean ones.
    const auto x = PredictedLevels(config.x, BlocksAveraged);
    EXPECT_EQ(LoudestDrawnBin(store.shownX), 9);
    EXPECT_NEAR(store.shownX[9], x[9], 0.3);
}

TEST_F(AcquisitionSimTest, BurstsAfterEveryBlockAreThrownAway) {
    SimConfig config = TwoTones();
    config.faults.burstBytes = 100;
    Connect(config);
    for (int cycle = 0; cycle < BlocksAveraged; ++cycle) {
        ASSERT_EQ(Tick(), "088188") << "cycle " << cycle;
    }
    EXPECT_TRUE(host.messages.empty());
    // No burst byte (0xEE, 2.96 V) got into a block: the levels are those of the clean tones.
    const auto x = PredictedLevels(config.x, BlocksAveraged);
    const auto y = PredictedLevels(config.y, BlocksAveraged);
    EXPECT_NEAR(store.shownX[9], x[9], 0.3);
    EXPECT_NEAR(store.shownY[21], y[21], 0.3);
    EXPECT_NEAR(store.shownX[2], x[2], 1.0);
}

TEST_F(AcquisitionSimTest, HungUpLineTimesOutThenAsksForAnotherPort) {
    SimConfig config = TwoTones();
    config.faults.hangUpAfterBlocks = 2;
    Connect(config);
    // The module hangs up shortly after its second block, so on a loaded machine it may be
    // gone before it reads the cycle's last "8", or even before the host has taken the whole
    // block, which then times out.
    ASSERT_EQ(Tick().substr(0, 5), "08818");
    ASSERT_TRUE(WaitUntil([&] { return Sim().Stats().hungUp; }, 1000ms));
    if (host.messages.empty()) {
        const Clock::time_point start = Clock::now();
        module.OnTimer(host);
        EXPECT_LT(Clock::now() - start, 8s);
    }
    EXPECT_EQ(host.messages, (std::vector<std::string>{AcquisitionTimeoutText}));
    // The next tick looks for the module again: the line has gone, so the user is told and asked
    // for another port (here the fake user asks to terminate), and the tick after ends it all.
    module.OnTimer(host);
    EXPECT_EQ(host.messages,
              (std::vector<std::string>{AcquisitionTimeoutText, "Could not open port."}));
    EXPECT_EQ(host.dialogShown, (std::vector<int>{SimComNumber}));
    module.OnTimer(host);
    EXPECT_EQ(host.closes, 1);
    EXPECT_FALSE(module.Acquisition().Busy());
}

}  // namespace
