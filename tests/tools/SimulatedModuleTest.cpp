// The module's behaviour on its own: bytes in, a clock the test turns, bytes out. No line and no
// thread, so every case is exact to the millisecond and runs in no time.

#include "SimulatedModule.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = SimulatedModule::Clock;
using Bytes = std::vector<std::uint8_t>;

constexpr unsigned kSlow = 38400;
constexpr unsigned kFast = 128000;

// The sample bytes the module must send for a signal, worked out here independently.
std::uint8_t ExpectedSample(const AxisSignal& s, std::uint64_t n) {
    double v = s.dcVolts;
    for (const Tone& t : s.tones) {
        v += t.volts * std::sin(2.0 * std::numbers::pi * t.bin * static_cast<double>(n) / 64.0 +
                                t.phaseDegrees * std::numbers::pi / 180.0);
    }
    const double code = std::round(v * 255.0 / 3.1);
    return static_cast<std::uint8_t>(std::clamp(code, 0.0, 255.0));
}

class ModuleTest : public ::testing::Test {
  protected:
    void PowerOn(SimConfig config = {}) {
        module_ = std::make_unique<SimulatedModule>(config);
        module_->SetEventSink([this](Clock::time_point when, const std::string& text) {
            events_.push_back({when, text});
        });
        module_->PowerOn(now_);
    }

    // The host's bytes, all at one line speed, at the current time; how many were heard.
    int Host(const std::string& bytes, unsigned speed) {
        int heard = 0;
        for (char c : bytes) {
            heard += module_->Receive(static_cast<std::uint8_t>(c), speed, now_) ? 1 : 0;
        }
        return heard;
    }

    // Lets `span` pass in steps of `step`, as the line's thread wakes, and returns what the
    // module sent on the way (what was due at the start included).
    Bytes Run(Clock::duration span, Clock::duration step = 1ms) {
        Bytes out;
        const Clock::time_point end = now_ + span;
        module_->SendDue(now_, &out);
        while (now_ < end) {
            now_ = std::min(now_ + step, end);
            module_->SendDue(now_, &out);
        }
        return out;
    }
    Bytes Now() { return Run(0ms); }

    // The program's bring-up; returns what the module answered.
    Bytes Handshake() {
        Host("P", kSlow);
        Bytes got = Now();
        Host("9", kSlow);
        Host("P", kFast);
        const Bytes reply = Now();
        got.insert(got.end(), reply.begin(), reply.end());
        return got;
    }

    // Axis, "8", the 64 samples' time at 128000 baud (5 ms, in one step), "8": the block.
    Bytes Block(char axis) {
        Host(std::string(1, axis) + "8", kFast);
        const Bytes block = Run(5ms, 5ms);
        Host("8", kFast);
        return block;
    }

    bool Logged(const std::string& text) const {
        for (const auto& [when, what] : events_) {
            if (what.find(text) != std::string::npos) {
                return true;
            }
        }
        return false;
    }

    Clock::time_point now_{std::chrono::hours(1)};
    std::unique_ptr<SimulatedModule> module_;
    std::vector<std::pair<Clock::time_point, std::string>> events_;
};

// ---------------------------------------------------------------------------------------------
// Handshake and line speed

TEST_F(ModuleTest, HandshakeIsAnsweredOnceAt128000AfterNineAndNowhereElse) {
    PowerOn();
    EXPECT_EQ(Host("P", kSlow), 1);
    EXPECT_EQ(Now(), Bytes{}) << "\"P\" at 38400 gets no reply";
    EXPECT_EQ(Host("P9P08", 9600), 0) << "nothing is heard at another speed";
    EXPECT_EQ(Host("P", kFast), 0) << "128000 without \"9\": still listening at 38400";
    EXPECT_EQ(Run(500ms), Bytes{});
    EXPECT_EQ(module_->Speed(), kSlow);

    EXPECT_EQ(Host("9", kSlow), 1);
    EXPECT_EQ(module_->Speed(), kFast);
    EXPECT_EQ(Host("P", kSlow), 0) << "a host that stayed at 38400 is not heard";
    EXPECT_EQ(Host("P", kFast), 1);
    EXPECT_EQ(Now(), Bytes{'Q'}) << "answered at once";
    EXPECT_EQ(Run(1s), Bytes{}) << "exactly one byte";
    EXPECT_EQ(Host("GQS", kFast), 3);
    EXPECT_EQ(Run(1s), Bytes{}) << "start commands change nothing";
    EXPECT_FALSE(module_->Streaming());
    EXPECT_EQ(Handshake(), Bytes{'Q'}) << "a later bring-up still gets its answer";
    EXPECT_EQ(module_->Stats().handshakeAnswers, 2u);
    EXPECT_EQ(module_->Stats().bytesSent, 2u);
    EXPECT_TRUE(Logged("listening at 128000 baud"));
}

TEST_F(ModuleTest, AnswerFaults) {
    for (const std::string answer : {"", "QQ", "R"}) {
        SimConfig config;
        config.faults.answer = answer;
        PowerOn(config);
        EXPECT_EQ(Handshake(), Bytes(answer.begin(), answer.end())) << '"' << answer << '"';
        EXPECT_EQ(Run(1s), Bytes{});
    }

    SimConfig config;
    config.faults.answerDelayMs = 250;
    PowerOn(config);
    EXPECT_EQ(Handshake(), Bytes{});
    EXPECT_EQ(module_->NextTimer(), now_ + 250ms) << "the line's thread wakes for it";
    EXPECT_EQ(Run(249ms), Bytes{}) << "nothing within the host's 150 ms, nor until 250 ms";
    EXPECT_EQ(Run(1ms), Bytes{'Q'});
    EXPECT_FALSE(module_->NextTimer());
}

TEST_F(ModuleTest, AHostThatLeavesTakesItsPendingAnswerWithIt) {
    SimConfig config;
    config.faults.answerDelayMs = 100;
    PowerOn(config);
    Handshake();
    module_->HostGone();
    EXPECT_EQ(Run(1s), Bytes{});
    EXPECT_EQ(module_->Stats().handshakeAnswers, 0u);
}

// ---------------------------------------------------------------------------------------------
// Streams

TEST_F(ModuleTest, StreamBetweenTwoEightsRunsAtTheLinesPace) {
    PowerOn();
    Handshake();
    Host("08", kFast);
    EXPECT_TRUE(module_->Streaming());
    // 12.8 bytes a millisecond, the fraction carried on: 12 after the first, 38 after three,
    // 76 after six.
    EXPECT_EQ(Run(1ms).size(), 12u);
    EXPECT_EQ(Run(2ms, 2ms).size(), 26u);
    EXPECT_EQ(module_->Stats().blocksSent, 0u);
    EXPECT_EQ(Run(3ms, 3ms).size(), 38u);
    EXPECT_EQ(module_->Stats().blocksSent, 1u);
    Host("8", kFast);
    EXPECT_FALSE(module_->Streaming());
    EXPECT_EQ(Run(1s), Bytes{}) << "the second \"8\" ends the stream";

    // A hundred milliseconds carry 1280, a block every 5 ms.
    Host("8", kFast);
    EXPECT_EQ(Run(100ms, 5ms).size(), 1280u);
    Host("8", kFast);
    EXPECT_EQ(module_->Stats().samplesSent, 76u + 1280u);
    EXPECT_EQ(module_->Stats().blocksSent, 1u + 20u);
    EXPECT_TRUE(Logged("stream stopped by the host after 1280 samples"));

    // A line's thread that wakes late cannot catch up beyond what a line holds.
    Host("8", kFast);
    EXPECT_EQ(Run(1s, 1s).size(), static_cast<std::size_t>(SimulatedModule::MaxStreamCredit));
}

TEST_F(ModuleTest, WaveformRunsOnAcrossStreamsPerAxisAndIsClipped) {
    SimConfig config;
    config.x.dcVolts = 1.2;
    config.x.tones = {{3.3, 0.7, 0.0}, {11.0, 0.3, 45.0}};
    config.y.dcVolts = 2.0;
    config.y.tones = {{5.5, 0.9, 0.0}};
    PowerOn(config);
    Handshake();
    Bytes x, y;
    for (int round = 0; round < 3; ++round) {
        const Bytes bx = Block('0');
        const Bytes by = Block('1');
        x.insert(x.end(), bx.begin(), bx.end());
        y.insert(y.end(), by.begin(), by.end());
    }
    ASSERT_EQ(x.size(), 192u);
    ASSERT_EQ(y.size(), 192u);
    for (std::size_t n = 0; n < 192; ++n) {
        ASSERT_EQ(x[n], ExpectedSample(config.x, n)) << "X sample " << n;
        ASSERT_EQ(y[n], ExpectedSample(config.y, n)) << "Y sample " << n;
    }

    AxisSignal high;
    high.dcVolts = 9.0;
    module_->SetAxisSignal(SimAxis::Y, high);
    EXPECT_EQ(Block('1'), Bytes(64, 255));
    AxisSignal low;
    low.dcVolts = -1.0;
    module_->SetAxisSignal(SimAxis::X, low);
    EXPECT_EQ(Block('0'), Bytes(64, 0));
}

TEST_F(ModuleTest, NoiseIsReproducibleFromItsSeed) {
    SimConfig config;
    config.x.noiseVolts = 0.2;
    config.seed = 42;
    PowerOn(config);
    Handshake();
    const Bytes first = Block('0');
    PowerOn(config);
    Handshake();
    EXPECT_EQ(Block('0'), first);
    config.seed = 43;
    PowerOn(config);
    Handshake();
    EXPECT_NE(Block('0'), first);
}

TEST_F(ModuleTest, SlowStream) {
    SimConfig config;
    config.faults.streamBytesPerSecond = 640.0;
    PowerOn(config);
    Handshake();
    Host("08", kFast);
    EXPECT_EQ(Run(99ms).size(), 63u);  // 0.64 a millisecond
    EXPECT_EQ(Run(2ms).size(), 1u);
}

// ---------------------------------------------------------------------------------------------
// Faults

TEST_F(ModuleTest, SilentAfterBlocksThenResumesOnce) {
    SimConfig config;
    config.faults.silentAfterBlocks = 2;
    config.faults.resumeAfterSeconds = 1.0;
    PowerOn(config);
    Handshake();
    ASSERT_EQ(Block('0').size(), 64u);
    ASSERT_EQ(Block('1').size(), 64u);
    EXPECT_TRUE(module_->Silent());
    const Clock::time_point silentFrom = now_;

    Host("08P", kFast);
    EXPECT_TRUE(module_->Streaming());
    EXPECT_EQ(Run(999ms), Bytes{}) << "no samples and no replies while silent";
    EXPECT_TRUE(module_->Silent());
    EXPECT_EQ(Run(1ms), Bytes{});
    EXPECT_FALSE(module_->Silent()) << "a second after it fell silent";
    EXPECT_EQ(now_ - silentFrom, 1000ms);
    EXPECT_EQ(Run(5ms, 5ms).size(), 64u) << "the stream goes on from there";
    EXPECT_EQ(module_->Stats().handshakeAnswers, 1u) << "the answer was not kept for later";
    Host("8", kFast);
    EXPECT_EQ(Block('0').size(), 64u) << "the silence comes only once";
}

TEST_F(ModuleTest, SilentFromTheStartAndForever) {
    SimConfig config;
    config.faults.silentAfterBlocks = 0;
    PowerOn(config);
    EXPECT_TRUE(module_->Silent());
    EXPECT_EQ(Handshake(), Bytes{});
    Host("08", kFast);
    EXPECT_EQ(Run(10s, 10ms), Bytes{});
    EXPECT_FALSE(module_->NextTimer());

    // FallSilent is the same silence, chosen by the caller.
    PowerOn();
    Handshake();
    module_->FallSilent(now_);
    Host("08", kFast);
    EXPECT_EQ(Run(1s), Bytes{});
}

TEST_F(ModuleTest, BurstOfExtraBytesAfterOneBlockOrEvery) {
    SimConfig config;
    config.x.dcVolts = 1.0;  // sample 82
    config.faults.burstBytes = 10;
    config.faults.burstAfterBlock = 2;
    PowerOn(config);
    Handshake();
    Host("08", kFast);
    const Bytes got = Run(15ms, 5ms);  // 192 samples
    Bytes expected(128, 82);
    expected.insert(expected.end(), 10, 0xEE);
    expected.insert(expected.end(), 64, 82);
    EXPECT_EQ(got, expected);

    config.faults.burstAfterBlock = 0;
    config.faults.burstBytes = 1;
    config.faults.burstByte = 0x00;
    PowerOn(config);
    Handshake();
    Host("08", kFast);
    EXPECT_EQ(Run(10ms, 5ms).size(), 128u + 2u) << "after every block";
}

TEST_F(ModuleTest, HangUpAfterBlocksGoesQuietThenClosesTheLine) {
    SimConfig config;
    config.faults.hangUpAfterBlocks = 2;
    PowerOn(config);
    Handshake();
    ASSERT_EQ(Block('0').size(), 64u);
    Host("18", kFast);
    EXPECT_EQ(Run(5ms, 5ms).size(), 64u);
    EXPECT_FALSE(module_->Sending()) << "quiet from the end of the block";
    EXPECT_FALSE(module_->HungUp());
    EXPECT_EQ(Run(99ms), Bytes{});
    EXPECT_FALSE(module_->HungUp());
    Run(1ms);
    EXPECT_TRUE(module_->HungUp()) << "closed 100 ms after the block";
    EXPECT_TRUE(module_->Stats().hungUp);
    EXPECT_EQ(module_->Stats().blocksSent, 2u);
}

TEST_F(ModuleTest, LostStopByteKeepsTheStreamGoingUntilTheNextEight) {
    SimConfig config;
    config.faults.loseStopAfterBlocks = 2;
    PowerOn(config);
    Handshake();
    ASSERT_EQ(Block('0').size(), 64u);
    EXPECT_FALSE(module_->Streaming()) << "the first block stops as asked";
    Host("18", kFast);
    EXPECT_EQ(Run(5ms, 5ms).size(), 64u);
    Host("8", kFast);
    EXPECT_TRUE(module_->Streaming());
    EXPECT_EQ(module_->Stats().stopsLost, 1u);
    EXPECT_EQ(Run(100ms, 5ms).size(), 1280u);
    Host("8", kFast);
    EXPECT_FALSE(module_->Streaming());
    Block('0');
    EXPECT_FALSE(module_->Streaming()) << "only once";
}

TEST_F(ModuleTest, ResetListensAt38400AgainWithTheXAxis) {
    SimConfig config;
    config.x.dcVolts = 1.0;  // 82
    config.y.dcVolts = 2.0;  // 165
    config.faults.resetAfterBlocks = 1;
    PowerOn(config);
    Handshake();
    EXPECT_EQ(Block('1'), Bytes(64, 165));
    EXPECT_EQ(module_->Stats().resets, 1u);
    EXPECT_EQ(module_->Speed(), kSlow);
    EXPECT_FALSE(module_->Streaming());
    EXPECT_EQ(Host("8", kFast), 0) << "the host's stop is not heard any more";
    EXPECT_EQ(Run(100ms), Bytes{});
    EXPECT_EQ(Handshake(), Bytes{'Q'});
    Host("8", kFast);
    EXPECT_EQ(Run(5ms, 5ms), Bytes(64, 82)) << "the X axis again";
}

TEST_F(ModuleTest, UnpluggedAdapterComesBackWithAModuleStartedAfresh) {
    SimConfig config;
    config.faults.unplugAfterBlocks = 1;
    config.faults.replugAfterSeconds = 0.5;
    PowerOn(config);
    Handshake();
    Block('0');
    EXPECT_TRUE(module_->Unplugged());
    EXPECT_FALSE(module_->Sending());
    EXPECT_EQ(module_->Speed(), kSlow);
    EXPECT_EQ(Host("9", kSlow), 0) << "nothing reaches a module without its adapter";
    EXPECT_EQ(module_->NextTimer(), now_ + 500ms);
    Run(499ms);
    EXPECT_TRUE(module_->Unplugged());
    Run(1ms);
    EXPECT_FALSE(module_->Unplugged());
    EXPECT_EQ(module_->Stats().replugs, 1u);
    EXPECT_EQ(Handshake(), Bytes{'Q'});
    EXPECT_EQ(Block('0').size(), 64u) << "only once";
    EXPECT_FALSE(module_->Unplugged());
}

TEST_F(ModuleTest, StreamingAtStartIsStoppedOnlyByAnEightAt128000) {
    SimConfig config;
    config.faults.streamingAtStart = true;
    PowerOn(config);
    EXPECT_TRUE(module_->Streaming());
    EXPECT_EQ(module_->Speed(), kFast);
    EXPECT_EQ(Run(10ms, 5ms).size(), 128u);
    EXPECT_EQ(Host("8", kSlow), 0);
    EXPECT_EQ(Run(10ms, 5ms).size(), 128u);
    EXPECT_EQ(Host("8", kFast), 1);
    EXPECT_FALSE(module_->Streaming());
    Host("P", kFast);
    EXPECT_EQ(Run(100ms), Bytes{'Q'});
}

TEST_F(ModuleTest, LateSamplesArriveAfterEachStop) {
    SimConfig config;
    config.x.dcVolts = 1.0;  // 82
    config.faults.lateSamples = 6;
    config.faults.lateMs = 40;
    PowerOn(config);
    Handshake();
    EXPECT_EQ(Block('0').size(), 64u);
    EXPECT_EQ(Run(39ms), Bytes{});
    EXPECT_EQ(Run(1ms), Bytes(6, 82));
    EXPECT_EQ(Run(1s), Bytes{});
    Block('0');
    EXPECT_EQ(Run(40ms).size(), 6u) << "after every stop";
    EXPECT_EQ(module_->Stats().lateSamplesSent, 12u);
}

TEST_F(ModuleTest, FaultsCombine) {
    SimConfig config;
    config.faults.answer = "QQ";
    config.faults.burstBytes = 3;
    config.faults.burstByte = 0x00;
    config.faults.hangUpAfterBlocks = 1;
    config.x.dcVolts = 2.0;  // 165
    PowerOn(config);
    EXPECT_EQ(Handshake(), (Bytes{'Q', 'Q'}));
    Host("08", kFast);
    Bytes expected(64, 165);
    expected.insert(expected.end(), 3, 0x00);
    EXPECT_EQ(Run(200ms), expected) << "the burst goes out before the hang-up";
    EXPECT_TRUE(module_->HungUp());
    EXPECT_EQ(module_->Stats().bytesSent, 2u + 67u);
}

// ---------------------------------------------------------------------------------------------
// Replaying a recording

TEST_F(ModuleTest, AReplayServesEachAxisItsNextRecordedBlockPerStreamThenFallsSilentOrLoops) {
    using Row = std::array<std::uint8_t, 64>;
    // A recorded row, and the bytes it is sent as.
    const auto row = [](std::uint8_t first) {
        Row r{};
        for (std::size_t i = 0; i < r.size(); ++i) {
            r[i] = static_cast<std::uint8_t>(first + i);
        }
        return r;
    };
    const auto sent = [&](std::uint8_t first) {
        const Row r = row(first);
        return Bytes(r.begin(), r.end());
    };
    SimConfig config;
    config.x.tones.push_back({8.0, 1.0, 0.0});  // the signals are not what is sent
    config.replaying = true;
    config.replayX = {row(10), row(100)};
    config.replayY = {row(200)};
    for (const bool loop : {false, true}) {
        config.replayLoop = loop;
        PowerOn(config);
        ASSERT_EQ(Handshake(), Bytes{'Q'});
        EXPECT_EQ(Block('0'), sent(10));
        EXPECT_EQ(Block('1'), sent(200));
        // A stream the host lets run on sends its block again rather than the next one.
        Host("08", kFast);
        const Bytes longer = Run(10ms, 10ms);
        Host("8", kFast);
        ASSERT_EQ(longer.size(), 128u);
        EXPECT_EQ(Bytes(longer.begin(), longer.begin() + 64), sent(100));
        EXPECT_EQ(Bytes(longer.begin() + 64, longer.end()), sent(100));
        if (loop) {
            EXPECT_EQ(Block('1'), sent(200)) << "Y starts over";
            EXPECT_EQ(Block('0'), sent(10)) << "X starts over";
        } else {
            EXPECT_EQ(Block('1'), Bytes{}) << "Y has run out";
            EXPECT_EQ(Block('0'), Bytes{}) << "X has run out";
            EXPECT_TRUE(Logged("the recording of X has run out"));
            // The handshake is the module's own and goes on.
            Host("P", kFast);
            EXPECT_EQ(Now(), Bytes{'Q'});
        }
    }
}

}  // namespace
