// The acquisition cycle over a scripted module on a fake port (a real link above it), a
// recording host and a clock that costs no time.

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "AcquisitionCycle.h"
#include "CycleRecorder.h"
#include "ModuleConnection.h"
#include "ModuleFakes.h"
#include "ModuleIo.h"
#include "PortLink.h"
#include "Spectrum.h"
#include "SpectrumStore.h"
#include "TemporaryFolder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// A module behind the fake port: "0"/"1" select the axis, the first "8" queues that axis's
// next block, the second "8" stops it.
struct ScriptedModule {
    explicit ScriptedModule(FakePort& port) : port(port) {
        port.onWrite = [this](std::uint8_t byte) { OnByte(byte); };
    }
    void OnByte(std::uint8_t byte) {
        if (byte == '0' || byte == '1') {
            axis = byte - '0';
        } else if (byte == '8') {
            if (streaming && stopsToLose > 0) {
                --stopsToLose;
                return;
            }
            streaming = !streaming;
            if (streaming) {
                ++blocksRequested[axis];
                if (!silent[axis]) {
                    port.Queue(blocks[axis]);
                }
            }
        }
    }
    FakePort& port;
    std::array<Bytes, 2> blocks;
    std::array<bool, 2> silent{false, false};
    std::array<int, 2> blocksRequested{0, 0};
    int axis = 0;
    bool streaming = false;
    // Stop bytes that get lost on the line; while one is lost the stream runs on, 64 more bytes
    // each time the host looks at its queue.
    int stopsToLose = 0;
    void StreamOn() {
        port.onStatus = [this] {
            if (streaming) {
                port.Queue(Bytes(64, 0x77));
            }
        };
    }
};

Bytes Ramp(int count, int start, int step) {
    Bytes bytes;
    for (int i = 0; i < count; ++i) {
        bytes.push_back(static_cast<std::uint8_t>((start + i * step) & 0xFF));
    }
    return bytes;
}

// Levels the analysis gives for consecutive blocks of one axis, from a fresh state.
class ExpectedAxis {
  public:
    ExpectedAxis() : state_(std::make_unique<AveragingState>()) {}
    std::array<double, 64> Next(const Bytes& bytes) {
        std::array<double, 64> samples{};
        for (int i = 0; i < 64; ++i) {
            samples[i] = bytes[i] * VoltsPerStep;
        }
        std::array<double, 64> levels{};
        ApplyWindow(samples.data(), 64);
        ComputeSpectrum(samples.data(), levels.data(), 64, MovingMean, 0, *state_);
        return levels;
    }

  private:
    std::unique_ptr<AveragingState> state_;
};

void ExpectEntries(const SpectrumArray& actual, const std::array<double, 64>& expected,
                   const char* what) {
    for (int i = 0; i < 64; ++i) {
        ASSERT_DOUBLE_EQ(actual[i], expected[i]) << what << " entry " << i;
    }
}

std::string Text(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

class AcquisitionCycleTest : public ::testing::Test {
  protected:
    AcquisitionCycleTest() : connection(clock) {
        auto owned = std::make_unique<FakePort>();
        port = owned.get();
        connection.Adopt(std::move(owned));
        module = std::make_unique<ScriptedModule>(*port);
        module->blocks[0] = Ramp(64, 10, 3);
        module->blocks[1] = Ramp(64, 200, -2);
        store.FillDefaults();
    }

    void Tick() { cycle.OnTimer(host, connection, store, clock); }

    FakeClock clock;
    FakeHost host;
    ModuleConnection connection;
    SpectrumStore store;
    AcquisitionCycle cycle;
    FakePort* port = nullptr;
    std::unique_ptr<ScriptedModule> module;
};

TEST_F(AcquisitionCycleTest, CompletedCycleAsksForBothAxesAndShowsBothSpectra) {
    ExpectedAxis expectedX;
    ExpectedAxis expectedY;
    for (int round = 0; round < 3; ++round) {
        port->written.clear();
        module->blocks[0] = Ramp(64, 10 + round * 7, 3);
        Tick();
        EXPECT_EQ(port->written, "088188");
        const auto x = expectedX.Next(module->blocks[0]);
        const auto y = expectedY.Next(module->blocks[1]);
        ExpectEntries(store.liveX, x, "liveX");
        ExpectEntries(store.shownX, x, "shownX");
        ExpectEntries(store.liveY, y, "liveY");
        ExpectEntries(store.shownY, y, "shownY");
    }
    EXPECT_EQ(store.sampleCount, 64);
    EXPECT_FALSE(cycle.Busy());
    EXPECT_EQ(host.invalidations, 3);
    EXPECT_EQ(host.defaultProcessing, 3);
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(cycle.AveragingX().frameCount, 3);
    EXPECT_EQ(cycle.AveragingY().frameCount, 3);
    // Entries the analysis does not write are copied as 0.0; the rest of the arrays is untouched.
    EXPECT_EQ(store.shownX[40], 0.0);
    EXPECT_EQ(store.maxLimitX[10], DefaultMaxLimit);
}

TEST_F(AcquisitionCycleTest, ARecordingKeepsTheCompletedCyclesBytesAndPlaysBackToTheirSpectra) {
    TemporaryFolder folder;
    ASSERT_TRUE(folder.Create("sorvell-cycle-recording"));
    std::vector<std::string> failures;
    CycleRecorder recorder(clock, "1.0", [&](const std::string& why) { failures.push_back(why); });
    std::string error;
    ASSERT_TRUE(recorder.Start(folder.Path("r.csv"), "/dev/ttyUSB0", error)) << error;
    cycle.SetObserver(&recorder);

    std::vector<SpectrumStore> shown;
    for (int round = 0; round < 3; ++round) {
        module->blocks[0] = Ramp(64, 10 + round * 7, 3);
        Tick();
        shown.push_back(store);
    }
    // A cycle that times out in Y is not kept.
    module->silent[1] = true;
    Tick();
    ASSERT_EQ(host.messages.size(), 1u);
    recorder.Stop();
    EXPECT_EQ(recorder.Cycles(), 3);

    Recording recording;
    ASSERT_TRUE(ReadRecording(folder.Path("r.csv"), recording, error)) << error;
    ASSERT_EQ(recording.blocks.size(), 6u);
    EXPECT_TRUE(failures.empty());
    AcquisitionCycle replay;
    SpectrumStore replayed;
    FakeHost replayHost;
    for (std::size_t i = 0; i < 3; ++i) {
        const RecordedBlock& x = recording.blocks[2 * i];
        const RecordedBlock& y = recording.blocks[2 * i + 1];
        EXPECT_EQ(x.cycle, static_cast<long long>(i + 1));
        EXPECT_EQ(Bytes(x.samples.begin(), x.samples.end()),
                  Ramp(64, 10 + static_cast<int>(i) * 7, 3));
        EXPECT_EQ(Bytes(y.samples.begin(), y.samples.end()), module->blocks[1]);
        EXPECT_LT(x.ms, y.ms);
        CycleBlocks blocks;
        blocks.x = x.samples;
        blocks.y = y.samples;
        replay.AnalyseRecordedCycle(blocks, replayHost, replayed);
        EXPECT_EQ(replayed.shownX, shown[i].shownX) << "cycle " << i + 1;
        EXPECT_EQ(replayed.shownY, shown[i].shownY) << "cycle " << i + 1;
    }
    EXPECT_EQ(replayHost.invalidations, 3);
    cycle.SetObserver(nullptr);
}

TEST_F(AcquisitionCycleTest, ByteValuesBecomeVolts) {
    EXPECT_DOUBLE_EQ(0 * VoltsPerStep, 0.0);
    EXPECT_DOUBLE_EQ(128 * VoltsPerStep, 1.556078431372549);
    EXPECT_DOUBLE_EQ(255 * VoltsPerStep, 3.1);
}

TEST_F(AcquisitionCycleTest, BlockAlreadyQueuedIsReadAsFortyAndTwentyFour) {
    module->blocks[1] = Bytes{};  // only the X block matters here
    module->silent[1] = true;
    port->onWrite = [this](std::uint8_t byte) {
        module->OnByte(byte);
        if (byte == '8' && module->streaming) {
            port->readAsks.clear();
        }
        if (byte == '8' && !module->streaming && module->axis == 0) {
            EXPECT_EQ(port->readAsks, (std::vector<unsigned>{40, 24}));
        }
    };
    Tick();
    EXPECT_EQ(module->blocksRequested[0], 1);
}

TEST_F(AcquisitionCycleTest, BurstOfHundredBytesUsesFirstSixtyFourAndDrainsTheRest) {
    Bytes burst = Ramp(64, 10, 3);
    const Bytes tail = Ramp(36, 99, 0);
    burst.insert(burst.end(), tail.begin(), tail.end());
    module->blocks[0] = burst;
    // Reads from the X block's first "8" up to the Y axis command: gathering, then the drain.
    std::vector<unsigned> xReads;
    port->onWrite = [&](std::uint8_t byte) {
        if (byte == '1') {
            xReads = port->readAsks;
        }
        module->OnByte(byte);
        if (byte == '8' && module->streaming && module->axis == 0) {
            port->readAsks.clear();
        }
    };
    ExpectedAxis expectedX;
    Tick();
    EXPECT_EQ(port->written, "088188");
    // Two reads of 40 gather 80 bytes; the drain after the second "8" takes the other 20.
    EXPECT_EQ(xReads, (std::vector<unsigned>{40, 40, 20}));
    ExpectEntries(store.shownX, expectedX.Next(burst), "shownX");
    EXPECT_TRUE(port->rx.empty());
    EXPECT_EQ(host.defaultProcessing, 1);
}

TEST_F(AcquisitionCycleTest, TickDispatchedByTheCyclesOwnPumpIsIgnored) {
    // Ticks that come while a cycle runs further up the stack, from that cycle's own pumps, find
    // it busy and return at once: nothing sent, no pump, no default processing of their own.
    int nested = 0;
    host.pump = [this, &nested] {
        if (nested < 3) {
            ++nested;
            const std::string written = port->written;
            const int pumps = host.pumps;
            const int processed = host.defaultProcessing;
            EXPECT_TRUE(cycle.Busy());
            Tick();
            EXPECT_EQ(port->written, written);
            EXPECT_EQ(host.defaultProcessing, processed);
            EXPECT_EQ(host.pumps, pumps);
            EXPECT_TRUE(cycle.Busy());
        }
        return true;
    };
    Tick();
    EXPECT_EQ(nested, 3);
    EXPECT_FALSE(cycle.Busy());
    EXPECT_EQ(port->written, "088188");
    EXPECT_EQ(host.defaultProcessing, 1);
    EXPECT_EQ(host.invalidations, 1);
}

TEST_F(AcquisitionCycleTest, TerminateRequestClosesWithoutSendingAnything) {
    connection.portNumber = TerminatePortNumber;
    Tick();
    EXPECT_EQ(host.closes, 1);
    EXPECT_TRUE(port->written.empty());
    EXPECT_EQ(host.defaultProcessing, 0);
}

TEST_F(AcquisitionCycleTest, TerminateRequestIsHonouredWhileACycleRuns) {
    // The busy flag is not looked at: a tick from the running cycle's pump closes all the same.
    bool ticked = false;
    host.pump = [this, &ticked] {
        if (!ticked) {
            ticked = true;
            const std::string written = port->written;
            const int portNumber = connection.portNumber;
            connection.portNumber = TerminatePortNumber;
            EXPECT_TRUE(cycle.Busy());
            Tick();
            EXPECT_EQ(host.closes, 1);
            EXPECT_EQ(port->written, written);
            EXPECT_EQ(host.defaultProcessing, 0);
            connection.portNumber = portNumber;
        }
        return true;
    };
    Tick();
    EXPECT_TRUE(ticked);
}

TEST_F(AcquisitionCycleTest, PaintDuringYBlockLeavesThisCyclesXSpectrumShown) {
    // The paint that the pump dispatches while the Y block is gathered clears the live arrays.
    host.pump = [this] {
        if (module->axis == 1 && module->streaming) {
            store.ClearLive();
        }
        return true;
    };
    ExpectedAxis expectedX;
    ExpectedAxis expectedY;
    Tick();
    ExpectEntries(store.shownX, expectedX.Next(module->blocks[0]), "shownX");
    ExpectEntries(store.shownY, expectedY.Next(module->blocks[1]), "shownY");
    EXPECT_NE(store.shownX[9], 0.0);
}

TEST_F(AcquisitionCycleTest, SilentModuleTimesOutInXAndNextCycleDrainsLateBytes) {
    module->silent[0] = true;
    SpectrumStore before = store;
    std::int64_t sentStopAt = -1;
    std::int64_t lastStartAt = -1;
    port->onWrite = [&](std::uint8_t byte) {
        module->OnByte(byte);
        if (byte == '8') {
            (module->streaming ? lastStartAt : sentStopAt) = clock.nowMs;
        }
    };
    std::int64_t messageAt = -1;
    host.onMessage = [&](const std::string&) { messageAt = clock.nowMs; };
    Tick();
    ASSERT_EQ(host.messages, (std::vector<std::string>{AcquisitionTimeoutText}));
    EXPECT_EQ(port->written, "088");
    EXPECT_GE(sentStopAt, lastStartAt);
    EXPECT_LE(sentStopAt, messageAt);
    // More than 2 and at most 3 whole seconds after the block was asked for.
    EXPECT_GT(messageAt / 1000 - lastStartAt / 1000, 2);
    EXPECT_LE(messageAt - lastStartAt, 3000 + 10);
    EXPECT_FALSE(cycle.Busy());
    EXPECT_EQ(host.defaultProcessing, 0);
    EXPECT_EQ(host.invalidations, 0);
    EXPECT_EQ(store.liveX, before.liveX);
    EXPECT_EQ(store.shownX, before.shownX);
    EXPECT_EQ(cycle.AveragingX().frameCount, 0);
    EXPECT_TRUE(cycle.reconnectPending);

    // The module wakes up: its late bytes wait in the queue and are thrown away first. (A fake
    // port cannot be opened again, so the reconnection that the timeout asked for is skipped.)
    cycle.reconnectPending = false;
    module->silent[0] = false;
    port->Queue(Ramp(30, 0, 1));
    port->written.clear();
    ExpectedAxis expectedX;
    Tick();
    EXPECT_EQ(port->written, "088188");
    ExpectEntries(store.shownX, expectedX.Next(module->blocks[0]), "shownX");
    EXPECT_EQ(host.defaultProcessing, 1);
}

TEST_F(AcquisitionCycleTest, TimeoutInYKeepsShownArraysAndLeavesXInLive) {
    module->silent[1] = true;
    store.shownX.fill(-50.0);
    store.shownY.fill(-60.0);
    store.liveY.fill(-70.0);
    ExpectedAxis expectedX;
    Tick();
    EXPECT_EQ(port->written, "088188");
    EXPECT_EQ(host.messages, (std::vector<std::string>{AcquisitionTimeoutText}));
    ExpectEntries(store.liveX, expectedX.Next(module->blocks[0]), "liveX");
    EXPECT_EQ(store.shownX[9], -50.0);
    EXPECT_EQ(store.shownY[9], -60.0);
    EXPECT_EQ(store.liveY[9], -70.0);
    EXPECT_EQ(cycle.AveragingX().frameCount, 1);
    EXPECT_EQ(cycle.AveragingY().frameCount, 0);
    EXPECT_FALSE(cycle.Busy());
    EXPECT_EQ(host.defaultProcessing, 0);
}

TEST_F(AcquisitionCycleTest, BusyStaysSetWhileTheTimeoutMessageIsOpen) {
    module->silent[0] = true;
    int busyDuringMessage = -1;
    host.onMessage = [&](const std::string&) {
        busyDuringMessage = cycle.Busy() ? 1 : 0;
        Tick();  // a tick the message box's loop dispatches
    };
    Tick();
    EXPECT_EQ(busyDuringMessage, 1);
    EXPECT_EQ(host.messages.size(), 1u);
    EXPECT_FALSE(cycle.Busy());
}

TEST_F(AcquisitionCycleTest, AbortedReadsCountAsNothingRead) {
    // Bytes trickle in one at a time and the port aborts every wait: the link answers a
    // negative count, which must never be taken as bytes.
    port->maxPerRead = 1;
    port->idleResult = -1;
    module->blocks[0] = Ramp(64, 10, 3);
    Tick();
    EXPECT_EQ(host.messages, (std::vector<std::string>{AcquisitionTimeoutText}));
    EXPECT_FALSE(cycle.Busy());
    EXPECT_EQ(host.defaultProcessing, 0);
}

TEST_F(AcquisitionCycleTest, CountedBytesThatCannotBeReadDoNotHangTheDrain) {
    port->reportedRxCount = 5;  // the port keeps counting bytes that no read returns
    port->idleResult = -1;
    char buffer[32];
    DrainInput(*connection.Link(), buffer, sizeof buffer, clock);
    SUCCEED();
}

// ---------------------------------------------------------------------------------------------
// A line that is not perfect

TEST_F(AcquisitionCycleTest, LostStopByteIsHealedWithOneMoreEightAndNoMessage) {
    module->StreamOn();
    module->stopsToLose = 1;
    ExpectedAxis expectedX;
    Tick();
    EXPECT_EQ(port->written, "0888188");
    EXPECT_FALSE(module->streaming);
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(host.defaultProcessing, 1);
    ExpectEntries(store.shownX, expectedX.Next(module->blocks[0]), "shownX");
}

TEST_F(AcquisitionCycleTest, ModuleThatWillNotStopFailsTheCycleAsATimeout) {
    module->StreamOn();
    module->stopsToLose = 1000;
    Tick();
    EXPECT_EQ(host.messages, (std::vector<std::string>{AcquisitionTimeoutText}));
    EXPECT_EQ(port->written.substr(0, 5), "08888");
    EXPECT_TRUE(cycle.reconnectPending);
    EXPECT_FALSE(cycle.Busy());
    EXPECT_EQ(host.defaultProcessing, 0);
    // Bounded: a few dozen reads, not a drain that listens for ever.
    EXPECT_LT(port->readAsks.size(), 100u);
}

TEST_F(AcquisitionCycleTest, LargeBacklogIsDrainedWithoutAStop) {
    port->Queue(Bytes(4000, 0x55));
    Tick();
    EXPECT_EQ(port->written, "088188");
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(host.defaultProcessing, 1);
}

TEST_F(AcquisitionCycleTest, BacklogLargerThanItsCountIsThrownAwayNotStopped) {
    // The system reports at most 4095 waiting bytes and tops the count up from its own buffers
    // as they are read, so a large backlog looks like bytes still arriving.
    port->Queue(Bytes(60000, 0x55));
    port->onStatus = [this] {
        port->reportedRxCount = static_cast<int>(std::min<std::size_t>(port->rx.size(), 4095));
    };
    Tick();
    EXPECT_EQ(port->written, "088188");
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(host.defaultProcessing, 1);
}

TEST_F(AcquisitionCycleTest, TimeInAModalLoopDoesNotCountAgainstTheModule) {
    // The About box is held open for 3.5 s by the first pump of the X block; the module's block
    // arrives meanwhile and waits in the queue.
    module->silent[0] = true;
    bool modal = true;
    host.pump = [&] {
        if (std::exchange(modal, false)) {
            clock.nowMs += 3500;
            port->Queue(module->blocks[0]);
        }
        return true;
    };
    Tick();
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(host.defaultProcessing, 1);

    // With nothing in the queue after the box, the module still gets its full window.
    modal = true;
    port->Queue({});
    std::int64_t boxClosedAt = 0;
    host.pump = [&] {
        if (std::exchange(modal, false)) {
            clock.nowMs += 3500;
            boxClosedAt = clock.nowMs;
        }
        return true;
    };
    std::int64_t messageAt = 0;
    host.onMessage = [&](const std::string&) { messageAt = clock.nowMs; };
    Tick();
    ASSERT_EQ(host.messages, (std::vector<std::string>{AcquisitionTimeoutText}));
    EXPECT_GT(messageAt - boxClosedAt, 1000);
    EXPECT_LE(messageAt - boxClosedAt, 3000 + 10);
}

TEST_F(AcquisitionCycleTest, ClosingTheWindowWhileWaitingStopsTheModuleAndReleasesTheLine) {
    module->silent[0] = true;
    int pumps = 0;
    host.pump = [&] {
        host.closing = ++pumps == 50;
        return true;
    };
    // The port goes with the connection: what reaches it is kept here.
    Bytes written;
    port->onWrite = [&](std::uint8_t byte) {
        written.push_back(byte);
        module->OnByte(byte);
    };
    const std::int64_t start = clock.nowMs;
    Tick();
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(Text(written), "088");  // the module was stopped
    EXPECT_LT(clock.nowMs - start, 500);
    EXPECT_EQ(connection.Link(), nullptr);
    EXPECT_FALSE(cycle.Busy());
    EXPECT_EQ(host.defaultProcessing, 0);
    EXPECT_FALSE(cycle.reconnectPending);
}

TEST_F(AcquisitionCycleTest, ClosingAfterTheStopByteSendsNoOtherEight) {
    // The window closes while the tail of the X block is drained: the module has been told to
    // stop already, and another "8" would start it again.
    Bytes written;
    port->onWrite = [&](std::uint8_t byte) {
        written.push_back(byte);
        module->OnByte(byte);
        if (written.size() == 3) {
            port->Queue(Bytes(10, 0x11));
            host.closing = true;
        }
    };
    Tick();
    EXPECT_EQ(Text(written), "088");
    EXPECT_FALSE(module->streaming);
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(connection.Link(), nullptr);
}

TEST_F(AcquisitionCycleTest, NoLinkNoCycle) {
    connection.TearDown();
    Tick();
    EXPECT_FALSE(cycle.Busy());
    EXPECT_EQ(host.defaultProcessing, 0);
}

}  // namespace
