// The simulated module, driven over its pseudo-terminal as the program drives a real one.

#include "TavrekSimulator.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <numbers>
#include <optional>
#include <thread>
#include <utility>

#include "HostLine.h"
#include "WaitUntil.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

Bytes Values(const std::vector<HostLine::TimedByte>& timed) {
    Bytes out;
    for (const auto& b : timed) {
        out.push_back(b.value);
    }
    return out;
}

double ProcessCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// CPU seconds this process uses until `done` holds (at most `limit`), with the test's own thread
// asleep in between: the simulator's threads' share. Empty when `done` never held.
template <typename Done>
std::optional<double> CpuSecondsUntil(Done done, std::chrono::milliseconds limit) {
    const double before = ProcessCpuSeconds();
    if (!WaitUntil(done, limit, 20ms)) {
        return std::nullopt;
    }
    return ProcessCpuSeconds() - before;
}

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

class SimTest : public ::testing::Test {
  protected:
    void StartSim(SimConfig config = {}) {
        sim_ = std::make_unique<TavrekSimulator>(std::move(config));
        std::string error;
        ASSERT_TRUE(sim_->Start(&error)) << error;
        ASSERT_TRUE(host_.Open(sim_->SlavePath())) << sim_->SlavePath();
    }

    // The program's bring-up: "P" at 38400, wait and drain, "9" and switch once it has left,
    // "P" at 128000. Returns what came within `window` of the second "P"; without a window,
    // what came until 50 ms after the first byte of the answer, which a busy machine may take a
    // while to carry (at most 2 s).
    Bytes Handshake(std::optional<std::chrono::milliseconds> window = std::nullopt) {
        EXPECT_TRUE(host_.SetSpeed(38400));
        host_.Write("P");
        host_.ReadFor(50ms);
        SendBeforeSwitching("9");
        EXPECT_TRUE(host_.SetSpeed(128000));
        host_.Write("P");
        Bytes reply;
        if (window) {
            reply = host_.ReadFor(*window);
        } else {
            reply = Values(host_.ReadCount(1, 2000ms));
            const Bytes more = host_.ReadFor(50ms);
            reply.insert(reply.end(), more.begin(), more.end());
        }
        if (reply != Bytes{'Q'}) {
            // What the module made of the bring-up, for the failure that follows.
            for (const ReceivedByte& b : sim_->Received()) {
                std::printf("  received 0x%02X at %u baud, %s\n", b.value, b.lineSpeed,
                            b.heard ? "heard" : "not heard");
            }
            for (const std::string& e : sim_->EventsSince(0)) {
                std::printf("  event %s\n", e.c_str());
            }
        }
        return reply;
    }

    // Writes `bytes` and waits until the module has taken them, as a host must before it
    // changes its line speed (a pseudo-terminal cannot say when they have left).
    void SendBeforeSwitching(const std::string& bytes) {
        host_.Write(bytes);
        ASSERT_TRUE(sim_->WaitUntilLineRead(2000ms)) << "the module did not take " << bytes;
    }

    // One block as the acquisition asks for it: axis, "8", 64 bytes, "8", then everything the
    // module sent before it fell quiet.
    Bytes Block(char axis, Bytes* overrun = nullptr) {
        host_.Write(std::string(1, axis));
        host_.Write("8");
        Bytes block = Values(host_.ReadCount(64, 2000ms));
        Bytes rest = StopStream();
        if (overrun != nullptr) {
            *overrun = rest;
        }
        return block;
    }

    // The host's "8" that stops a stream; what was still on its way, up to 60 ms of quiet.
    Bytes StopStream() {
        host_.Write("8");
        return host_.ReadUntilQuiet(60ms);
    }

    // StartSim and the bring-up, which must be answered with one "Q".
    void StartAndHandshake(SimConfig config = {}) {
        StartSim(std::move(config));
        ASSERT_EQ(Handshake(), Bytes{'Q'});
    }

    std::unique_ptr<TavrekSimulator> sim_;
    HostLine host_;
};

// ---------------------------------------------------------------------------------------------
// Handshake and line speed

TEST_F(SimTest, HandshakeIsAnsweredOnlyAt128000AfterNine) {
    StartSim();
    ASSERT_TRUE(host_.SetSpeed(38400));
    host_.Write("P");
    EXPECT_TRUE(host_.ReadFor(200ms).empty()) << "\"P\" at 38400 gets no reply";

    SendBeforeSwitching("9");
    ASSERT_TRUE(host_.SetSpeed(128000));
    const Clock::time_point sent = Clock::now();
    host_.Write("P");
    const auto reply = host_.ReadCount(1, 1000ms);
    ASSERT_EQ(reply.size(), 1u);
    EXPECT_EQ(reply[0].value, 'Q');
    EXPECT_LT(Ms(reply[0].time - sent), 150.0) << "the host gives up after 150 ms";
    EXPECT_TRUE(host_.ReadFor(300ms).empty()) << "exactly one byte";
    EXPECT_EQ(sim_->Stats().moduleSpeed, 128000u);
    EXPECT_EQ(sim_->Stats().handshakeAnswers, 1u);

    // The module stays at 128000: the program's own sequence on a later connection attempt
    // (which starts at 38400 again) still gets its answer.
    EXPECT_EQ(Handshake(), Bytes{'Q'});
}

TEST_F(SimTest, BytesAtAnotherSpeedGetNoAnswer) {
    StartSim();
    // The module has taken every byte before the host switches, so each is judged at the speed
    // it was sent at; the 300 ms windows are for answers that must not come.
    const auto taken = [&] { return sim_->WaitUntilLineRead(2000ms); };
    // The whole sequence at 9600: nothing is heard.
    ASSERT_TRUE(host_.SetSpeed(9600));
    host_.Write("P");
    host_.Write("9");
    host_.Write("P");
    host_.Write("08");
    ASSERT_TRUE(taken());
    EXPECT_EQ(sim_->Stats().moduleSpeed, 38400u);
    EXPECT_EQ(sim_->Stats().streamsStarted, 0u);
    EXPECT_TRUE(host_.ReadFor(300ms).empty());

    // 128000 without "9": the module still listens at 38400.
    ASSERT_TRUE(host_.SetSpeed(128000));
    host_.Write("P");
    ASSERT_TRUE(taken());
    EXPECT_TRUE(host_.ReadFor(300ms).empty());

    // "9" at 38400 but the host stays at 38400: its "P" is not heard at 128000.
    ASSERT_TRUE(host_.SetSpeed(38400));
    host_.Write("9");
    host_.Write("P");
    ASSERT_TRUE(taken());
    EXPECT_EQ(sim_->Stats().moduleSpeed, 128000u);
    EXPECT_TRUE(host_.ReadFor(300ms).empty());

    ASSERT_TRUE(host_.SetSpeed(128000));
    host_.Write("P");
    EXPECT_EQ(host_.ReadFor(300ms), Bytes{'Q'});
}

TEST_F(SimTest, RecordHoldsEveryByteWithItsSpeed) {
    StartSim();
    ASSERT_TRUE(host_.SetSpeed(9600));
    host_.Write("x");
    ASSERT_TRUE(sim_->WaitForReceived(1, 2000ms));
    ASSERT_EQ(Handshake(), Bytes{'Q'});
    host_.Write("GQS");
    ASSERT_TRUE(sim_->WaitUntilLineRead(2000ms));
    EXPECT_EQ(sim_->ReceivedCount(), 7u);

    const std::vector<ReceivedByte> record = sim_->Received();
    ASSERT_EQ(record.size(), 7u);
    const std::string values = {'x', 'P', '9', 'P', 'G', 'Q', 'S'};
    const unsigned speeds[] = {9600, 38400, 38400, 128000, 128000, 128000, 128000};
    for (std::size_t i = 0; i < record.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(record[i].value, static_cast<std::uint8_t>(values[i]));
        EXPECT_EQ(record[i].lineSpeed, speeds[i]);
        EXPECT_EQ(record[i].heard, i != 0);
        EXPECT_GE(record[i].time, sim_->StartTime());
        if (i > 0) {
            EXPECT_GE(record[i].time, record[i - 1].time);
        }
    }
    EXPECT_GE(Ms(record[2].time - record[1].time), 45.0) << "the host waited 50 ms after \"P\"";
    const auto tail = sim_->ReceivedSince(4);
    ASSERT_EQ(tail.size(), 3u);
    EXPECT_EQ(tail[0].value, 'G');
    EXPECT_TRUE(sim_->ReceivedSince(7).empty());
    EXPECT_TRUE(sim_->ReceivedSince(100).empty());
}

TEST_F(SimTest, ALineReadTakesInEveryByteWrittenBeforeItWasAskedFor) {
    StartSim();
    ASSERT_TRUE(host_.SetSpeed(128000));
    // Bytes the module ignores, written and asked about at once, again and again: the read must
    // not be satisfied by a pass that began before the bytes were written, nor miss bytes the
    // system has not yet handed to the module's side of the line.
    const std::string burst(200, 'z');
    for (int round = 1; round <= 25; ++round) {
        SCOPED_TRACE(round);
        host_.Write(burst);
        ASSERT_TRUE(sim_->WaitUntilLineRead(2000ms));
        ASSERT_EQ(sim_->ReceivedCount(), burst.size() * static_cast<std::size_t>(round));
    }
    sim_->Stop();
    EXPECT_FALSE(sim_->WaitUntilLineRead(50ms)) << "a stopped module reads nothing";
}

// ---------------------------------------------------------------------------------------------
// Streams and signals

TEST_F(SimTest, StreamBetweenTwoEightsRunsAtLinePace) {
    ASSERT_NO_FATAL_FAILURE(StartAndHandshake());
    host_.Write("GQS0");
    ASSERT_TRUE(sim_->WaitUntilLineRead(2000ms));
    EXPECT_EQ(sim_->Stats().streamsStarted, 0u) << "start commands start no stream";

    host_.Write("8");
    const auto block = host_.ReadCount(64, 2000ms);
    ASSERT_EQ(block.size(), 64u);
    // 63 byte times at 12.8 bytes per ms are 4.9 ms: a dump would take well under one.
    EXPECT_GT(Ms(block.back().time - block.front().time), 3.0);
    StopStream();
    EXPECT_TRUE(host_.ReadFor(200ms).empty()) << "the second \"8\" ends the stream";
    EXPECT_FALSE(sim_->Stats().streaming);

    // A longer stream (100 ms of the line's pace) carries no more than the line can, and not
    // less than a quarter of it.
    const Clock::time_point start = Clock::now();
    host_.Write("8");
    const auto got = host_.ReadCount(1280, 2000ms);
    const Bytes rest = StopStream();
    const double elapsed = Ms(Clock::now() - start);
    ASSERT_EQ(got.size(), 1280u);
    EXPECT_LE(static_cast<double>(got.size() + rest.size()), elapsed * 12.8 + 64.0);
    EXPECT_LT(Ms(got.back().time - start), 400.0);
    EXPECT_EQ(sim_->Stats().bytesDropped, 0u);
}

TEST_F(SimTest, ToneAtBinEightPeaksAtCoefficientEight) {
    SimConfig config;
    config.x.dcVolts = 1.55;
    config.x.tones.push_back({8.0, 1.0});
    ASSERT_NO_FATAL_FAILURE(StartAndHandshake(config));
    const Bytes block = Block('0');
    ASSERT_EQ(block.size(), 64u);

    std::vector<double> magnitude(33);
    for (int k = 0; k <= 32; ++k) {
        std::complex<double> sum = 0.0;
        for (int n = 0; n < 64; ++n) {
            const double volts = block[static_cast<std::size_t>(n)] * 3.1 / 255.0;
            sum += volts * std::polar(1.0, -2.0 * std::numbers::pi * k * n / 64.0);
        }
        magnitude[static_cast<std::size_t>(k)] = std::abs(sum);
    }
    const auto peak = std::max_element(magnitude.begin() + 1, magnitude.end());
    EXPECT_EQ(peak - magnitude.begin(), 8);
    EXPECT_NEAR(magnitude[8] * 2.0 / 64.0, 1.0, 0.02) << "tone amplitude in volts";
    EXPECT_NEAR(magnitude[0] / 64.0, 1.55, 0.02) << "DC level in volts";
    for (int k = 1; k <= 32; ++k) {
        if (k != 8) {
            EXPECT_LT(magnitude[static_cast<std::size_t>(k)] * 2.0 / 64.0, 0.02) << "bin " << k;
        }
    }
}

TEST_F(SimTest, WaveformRunsOnAcrossStreamsPerAxis) {
    SimConfig config;
    config.x.dcVolts = 1.2;
    config.x.tones = {{3.3, 0.7, 0.0}, {11.0, 0.3, 45.0}};
    config.y.dcVolts = 2.0;
    config.y.tones = {{5.5, 0.9, 0.0}};
    ASSERT_NO_FATAL_FAILURE(StartAndHandshake(config));

    // Every byte of every stream, the overruns after the 64th sample included.
    // A stream that runs on past 128 samples (a loaded machine's host is late with its stop)
    // holds a second block.
    Bytes x, y, rest;
    std::uint64_t blocks = 0;
    for (int round = 0; round < 3; ++round) {
        for (Bytes* axis : {&x, &y}) {
            const Bytes b = Block(axis == &x ? '0' : '1', &rest);
            axis->insert(axis->end(), b.begin(), b.end());
            axis->insert(axis->end(), rest.begin(), rest.end());
            blocks += (b.size() + rest.size()) / 64;
        }
    }
    for (const auto& [sent, signal] : {std::pair{&x, &config.x}, std::pair{&y, &config.y}}) {
        SCOPED_TRACE(sent == &x ? "X" : "Y");
        ASSERT_GE(sent->size(), 192u);
        for (std::size_t n = 0; n < sent->size(); ++n) {
            ASSERT_EQ((*sent)[n], ExpectedSample(*signal, n)) << "sample " << n;
        }
    }
    EXPECT_EQ(sim_->Stats().samplesSent, x.size() + y.size());
    EXPECT_EQ(sim_->Stats().blocksSent, blocks);
    EXPECT_GE(blocks, 6u);
}

TEST_F(SimTest, AxisSelectionConversionAndNoise) {
    SimConfig config;
    config.x.dcVolts = 9.0;   // clipped to 255
    config.y.dcVolts = -1.0;  // clipped to 0
    ASSERT_NO_FATAL_FAILURE(StartAndHandshake(config));
    EXPECT_EQ(Block('0'), Bytes(64, 255));
    EXPECT_EQ(Block('1'), Bytes(64, 0));

    AxisSignal noisy;
    noisy.dcVolts = 1.55;
    noisy.noiseVolts = 0.1;
    sim_->SetAxisSignal(SimAxis::Y, noisy);
    const Bytes block = Block('1');
    ASSERT_EQ(block.size(), 64u);
    double mean = 0.0;
    for (std::uint8_t b : block) {
        mean += b / 64.0;
    }
    EXPECT_NEAR(mean, 127.5, 6.0);
    EXPECT_GT(*std::max_element(block.begin(), block.end()) -
                  *std::min_element(block.begin(), block.end()),
              4);

    EXPECT_EQ(TavrekSimulator::VoltsToSample(0.0), 0);
    EXPECT_EQ(TavrekSimulator::VoltsToSample(1.55), 128);  // 127.5 rounds up
    EXPECT_EQ(TavrekSimulator::VoltsToSample(3.1), 255);
    EXPECT_EQ(TavrekSimulator::VoltsToSample(3.2), 255);
    EXPECT_EQ(TavrekSimulator::VoltsToSample(-0.5), 0);
    EXPECT_EQ(TavrekSimulator::VoltsToSample(std::nan("")), 0);
}

TEST_F(SimTest, NoiseIsReproducibleFromItsSeed) {
    SimConfig config;
    config.x.noiseVolts = 0.2;
    config.seed = 42;
    Bytes first;
    for (int run = 0; run < 2; ++run) {
        ASSERT_NO_FATAL_FAILURE(StartAndHandshake(config));
        const Bytes block = Block('0');
        if (run == 0) {
            first = block;
        } else {
            EXPECT_EQ(block, first);
        }
        host_.Close();
        sim_->Stop();
    }
}

// ---------------------------------------------------------------------------------------------
// Faults

TEST_F(SimTest, HandshakeFaults) {
    // Never answers, answers with two bytes, answers wrongly.
    for (const std::string answer : {"", "QQ", "R"}) {
        SimConfig config;
        config.faults.answer = answer;
        StartSim(config);
        EXPECT_EQ(Handshake(400ms), Bytes(answer.begin(), answer.end())) << '"' << answer << '"';
    }
    {
        SimConfig config;
        config.faults.answerDelayMs = 250;
        StartSim(config);
        EXPECT_TRUE(Handshake(150ms).empty()) << "nothing within the host's 150 ms";
        const auto late = host_.ReadCount(1, 2000ms);
        ASSERT_EQ(late.size(), 1u);
        EXPECT_EQ(late[0].value, 'Q');
        const auto record = sim_->Received();
        ASSERT_FALSE(record.empty());
        EXPECT_GE(Ms(late[0].time - record.back().time), 200.0);
    }
}

TEST_F(SimTest, SilentAfterBlocksThenResumes) {
    SimConfig config;
    config.faults.silentAfterBlocks = 2;
    config.faults.resumeAfterSeconds = 1.0;
    ASSERT_NO_FATAL_FAILURE(StartAndHandshake(config));
    ASSERT_EQ(Block('0').size(), 64u);
    ASSERT_EQ(Block('1').size(), 64u);
    const Clock::time_point silentFrom = Clock::now();
    EXPECT_TRUE(sim_->Stats().silent);

    host_.Write("0");
    host_.Write("8");
    EXPECT_TRUE(host_.ReadFor(400ms).empty()) << "silent after two blocks";
    host_.Write("P");
    EXPECT_TRUE(host_.ReadFor(100ms).empty()) << "silent means no replies either";

    const auto resumed = host_.ReadCount(64, 3000ms);
    ASSERT_EQ(resumed.size(), 64u) << "the stream goes on once the silence ends";
    EXPECT_GE(Ms(resumed.front().time - silentFrom), 800.0);
    StopStream();
    EXPECT_EQ(Block('0').size(), 64u) << "the silence comes only once";
}

TEST_F(SimTest, SilentForeverWithoutResume) {
    SimConfig config;
    config.faults.silentAfterBlocks = 1;
    ASSERT_NO_FATAL_FAILURE(StartAndHandshake(config));
    ASSERT_EQ(Block('0').size(), 64u);
    host_.Write("8");
    EXPECT_TRUE(host_.ReadFor(500ms).empty());
    host_.Write("8");
    EXPECT_TRUE(Handshake(300ms).empty());
}

TEST_F(SimTest, BurstOfExtraBytesAfterABlock) {
    SimConfig config;
    config.x.dcVolts = 1.0;  // sample 82
    config.faults.burstBytes = 10;
    config.faults.burstAfterBlock = 2;
    config.faults.burstByte = 0xEE;
    ASSERT_NO_FATAL_FAILURE(StartAndHandshake(config));

    Bytes rest;
    EXPECT_EQ(Block('0', &rest), Bytes(64, 82));
    for (std::uint8_t b : rest) {
        EXPECT_EQ(b, 82) << "no burst after the first block";
    }
    host_.Write("8");
    const Bytes got = Values(host_.ReadCount(80, 2000ms));
    StopStream();
    ASSERT_EQ(got.size(), 80u);
    EXPECT_EQ(Bytes(got.begin(), got.begin() + 64), Bytes(64, 82));
    EXPECT_EQ(Bytes(got.begin() + 64, got.begin() + 74), Bytes(10, 0xEE));
    EXPECT_EQ(Bytes(got.begin() + 74, got.end()), Bytes(6, 82)) << "samples go on after it";
}

TEST_F(SimTest, SlowStream) {
    SimConfig config;
    config.faults.streamBytesPerSecond = 640.0;  // 64 bytes in 100 ms
    ASSERT_NO_FATAL_FAILURE(StartAndHandshake(config));
    host_.Write("0");
    const Clock::time_point sent = Clock::now();
    host_.Write("8");
    const auto block = host_.ReadCount(64, 3000ms);
    ASSERT_EQ(block.size(), 64u);
    EXPECT_GE(Ms(block.back().time - sent), 80.0);
    host_.Write("8");
}

TEST_F(SimTest, HangUpAfterBlocks) {
    SimConfig config;
    config.faults.hangUpAfterBlocks = 2;
    ASSERT_NO_FATAL_FAILURE(StartAndHandshake(config));
    ASSERT_EQ(Block('0').size(), 64u);
    EXPECT_FALSE(sim_->Stats().hungUp);
    host_.Write("1");
    host_.Write("8");
    EXPECT_EQ(host_.ReadCount(64, 2000ms).size(), 64u);
    EXPECT_TRUE(host_.WaitForHangUp(2000ms));
    EXPECT_TRUE(sim_->Stats().hungUp);
    EXPECT_EQ(sim_->Stats().blocksSent, 2u);
}

TEST_F(SimTest, FaultsCombine) {
    SimConfig config;
    config.faults.answer = "QQ";
    config.faults.burstBytes = 3;
    config.faults.burstByte = 0x00;
    config.faults.hangUpAfterBlocks = 1;
    config.x.dcVolts = 2.0;  // sample 165
    StartSim(config);
    EXPECT_EQ(Handshake(), (Bytes{'Q', 'Q'}));
    host_.Write("08");
    const Bytes got = Values(host_.ReadCount(67, 2000ms));
    ASSERT_EQ(got.size(), 67u);
    EXPECT_EQ(Bytes(got.begin() + 64, got.end()), Bytes(3, 0x00)) << "burst before the hang-up";
    EXPECT_TRUE(host_.WaitForHangUp(2000ms));
}

// ---------------------------------------------------------------------------------------------
// The line itself

TEST_F(SimTest, StreamGoesOnWhenTheHostClosesAndAnEightStopsItLater) {
    ASSERT_NO_FATAL_FAILURE(StartAndHandshake());
    host_.Write("08");
    ASSERT_EQ(host_.ReadCount(64, 2000ms).size(), 64u);
    host_.Close();
    // A module cannot tell: it streams on into the line nobody holds, and must not spin while it
    // streams one second's worth at the line's pace.
    const std::uint64_t from = sim_->Stats().samplesSent;
    const auto cpu = CpuSecondsUntil([&] { return sim_->Stats().samplesSent >= from + 12800; }, 5s);
    ASSERT_TRUE(cpu) << "one second's worth streamed within 5 s";
    EXPECT_LT(*cpu, 0.3) << "CPU seconds used while the module streamed one second's worth";
    EXPECT_TRUE(sim_->Stats().streaming);

    // The next host finds the stream running; its "8" at 128000 stops it.
    ASSERT_TRUE(host_.Open(sim_->SlavePath()));
    ASSERT_TRUE(host_.SetSpeed(128000));
    EXPECT_FALSE(host_.ReadFor(50ms).empty());
    StopStream();
    EXPECT_FALSE(sim_->Stats().streaming);
    EXPECT_TRUE(host_.ReadFor(100ms).empty());
    host_.Write("P");
    EXPECT_EQ(host_.ReadFor(300ms), Bytes{'Q'});
}

TEST_F(SimTest, LostStopByteKeepsTheStreamGoingUntilTheNextEight) {
    SimConfig config;
    config.faults.loseStopAfterBlocks = 2;
    ASSERT_NO_FATAL_FAILURE(StartAndHandshake(config));
    // A stream that went on would bring 768 bytes within the 60 ms the host listens.
    Bytes overrun;
    Block('0', &overrun);
    EXPECT_LT(overrun.size(), 200u) << "the first block stops as asked";
    // The second block's stop is lost: the stream runs on until another "8".
    host_.Write("18");
    ASSERT_EQ(host_.ReadCount(64, 2000ms).size(), 64u);
    host_.Write("8");
    EXPECT_GT(host_.ReadFor(100ms).size(), 500u);
    EXPECT_TRUE(sim_->Stats().streaming);
    EXPECT_EQ(sim_->Stats().stopsLost, 1u);
    StopStream();
    EXPECT_FALSE(sim_->Stats().streaming);
    // Only once: later stops are heard.
    Block('0', &overrun);
    EXPECT_LT(overrun.size(), 200u);
    EXPECT_FALSE(sim_->Stats().streaming);
}

TEST_F(SimTest, ResetModuleListensAt38400AgainAndNeedsANewHandshake) {
    SimConfig config;
    config.faults.resetAfterBlocks = 1;
    ASSERT_NO_FATAL_FAILURE(StartAndHandshake(config));
    EXPECT_EQ(Block('0').size(), 64u);
    EXPECT_EQ(sim_->Stats().resets, 1u);
    EXPECT_EQ(sim_->Stats().moduleSpeed, 38400u);
    EXPECT_FALSE(sim_->Stats().streaming);
    // At 128000 it hears nothing now.
    host_.Write("18");
    EXPECT_TRUE(host_.ReadFor(200ms).empty());
    EXPECT_EQ(Handshake(), Bytes{'Q'});
    EXPECT_EQ(Block('1').size(), 64u);
}

TEST_F(SimTest, StreamingAtStartIsStoppedByAnEightAt128000) {
    SimConfig config;
    config.faults.streamingAtStart = true;
    StartSim(config);
    EXPECT_TRUE(sim_->Stats().streaming);
    ASSERT_TRUE(host_.SetSpeed(38400));
    EXPECT_GT(host_.ReadFor(100ms).size(), 500u);
    host_.Write("8");  // at the wrong speed: not heard
    ASSERT_TRUE(sim_->WaitForReceived(1, 2000ms));
    EXPECT_GT(host_.ReadFor(100ms).size(), 500u);
    ASSERT_TRUE(host_.SetSpeed(128000));
    host_.ReadFor(20ms);
    StopStream();
    EXPECT_FALSE(sim_->Stats().streaming);
    host_.Write("P");
    EXPECT_EQ(host_.ReadFor(300ms), Bytes{'Q'});
}

TEST_F(SimTest, LateSamplesArriveAfterTheStop) {
    SimConfig config;
    config.faults.lateSamples = 6;
    config.faults.lateMs = 40;
    ASSERT_NO_FATAL_FAILURE(StartAndHandshake(config));
    host_.Write("08");
    ASSERT_EQ(host_.ReadCount(64, 2000ms).size(), 64u);
    host_.Write("8");
    const Clock::time_point stopped = Clock::now();
    host_.ReadFor(15ms);  // what was on its way when the stop was sent
    const auto late = host_.ReadCount(6, 1000ms);
    ASSERT_EQ(late.size(), 6u);
    EXPECT_GE(Ms(late[0].time - stopped), 30.0);
    EXPECT_TRUE(host_.ReadFor(100ms).empty());
    EXPECT_EQ(sim_->Stats().lateSamplesSent, 6u);
}

TEST_F(SimTest, RecordKeepsTheLatestBytesAndCountsThemAll) {
    StartSim();
    ASSERT_TRUE(host_.SetSpeed(9600));
    const std::string chunk(1000, 'z');
    const std::size_t total = (TavrekSimulator::RecordLimit / chunk.size() + 2) * chunk.size();
    for (std::size_t sent = 0; sent < total; sent += chunk.size()) {
        ASSERT_TRUE(host_.Write(chunk));
        // The line holds about 4 KiB: let the module keep up.
        ASSERT_TRUE(sim_->WaitForReceived(sent + chunk.size(), 2000ms));
    }
    host_.Write("!");
    ASSERT_TRUE(sim_->WaitForReceived(total + 1, 2000ms));
    EXPECT_EQ(sim_->ReceivedCount(), total + 1);
    EXPECT_EQ(sim_->Received().size(), TavrekSimulator::RecordLimit);
    const auto last = sim_->ReceivedSince(total);
    ASSERT_EQ(last.size(), 1u);
    EXPECT_EQ(last[0].value, '!');
    // An index among the bytes let go starts at the oldest one kept.
    EXPECT_EQ(sim_->ReceivedSince(0).size(), TavrekSimulator::RecordLimit);
}

TEST_F(SimTest, IdleModuleBeforeAnyHostUsesLittleCpu) {
    auto sim = std::make_unique<TavrekSimulator>(SimConfig{});
    std::string error;
    ASSERT_TRUE(sim->Start(&error)) << error;
    // An idle module shows nothing that could end the measurement, so it is one second long.
    const Clock::time_point end = Clock::now() + 1s;
    const auto cpu = CpuSecondsUntil([&] { return Clock::now() >= end; }, 2s);
    ASSERT_TRUE(cpu);
    EXPECT_LT(*cpu, 0.3);
    sim->Stop();
    sim->Stop();  // twice is harmless
}

class SimLinkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/tavrek-sim-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        unlink((dir_ + "/module").c_str());
        rmdir(dir_.c_str());
    }
    std::string ReadLink(const std::string& path) {
        char target[256] = {};
        const ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
        return n > 0 ? std::string(target, static_cast<std::size_t>(n)) : std::string();
    }
    std::string dir_;
};

TEST_F(SimLinkTest, LinkIsPublishedReplacedAndRemoved) {
    const std::string link = dir_ + "/module";
    ASSERT_EQ(symlink("/dev/null", link.c_str()), 0);  // left behind by an earlier run
    SimConfig config;
    config.linkPath = link;
    TavrekSimulator sim(config);
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;
    EXPECT_EQ(ReadLink(link), sim.SlavePath());
    HostLine host;
    EXPECT_TRUE(host.Open(link)) << "the host can open the module through the link";
    host.Close();
    sim.Stop();
    struct stat st {};
    EXPECT_NE(lstat(link.c_str(), &st), 0) << "link removed at stop";
}

TEST_F(SimLinkTest, UnpluggedAdapterComesBackAsANewLineBehindTheSameLink) {
    const std::string link = dir_ + "/module";
    SimConfig config;
    config.linkPath = link;
    config.faults.unplugAfterBlocks = 1;
    config.faults.replugAfterSeconds = 0.5;
    TavrekSimulator sim(config);
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;

    HostLine host;
    ASSERT_TRUE(host.Open(link));
    ASSERT_TRUE(host.SetSpeed(38400));
    host.Write("9");
    ASSERT_TRUE(sim.WaitUntilLineRead(2000ms));
    ASSERT_TRUE(host.SetSpeed(128000));
    host.Write("08");
    EXPECT_TRUE(host.WaitForHangUp(2000ms)) << "the line is gone with the adapter";
    EXPECT_TRUE(sim.Stats().unplugged);
    struct stat st {};
    EXPECT_NE(lstat(link.c_str(), &st), 0) << "and so is the link";
    host.Close();

    ASSERT_TRUE(WaitUntil([&] { return !sim.Stats().unplugged; }, 3s)) << "plugged back in";
    EXPECT_EQ(sim.Stats().replugs, 1u);
    EXPECT_EQ(ReadLink(link), sim.SlavePath());
    EXPECT_NE(sim.SlavePath(), "");
    // The module starts afresh: the whole handshake is needed again.
    ASSERT_TRUE(host.Open(link));
    ASSERT_TRUE(host.SetSpeed(38400));
    host.Write("9");
    ASSERT_TRUE(sim.WaitUntilLineRead(2000ms));
    ASSERT_TRUE(host.SetSpeed(128000));
    host.Write("P");
    EXPECT_EQ(host.ReadFor(300ms), Bytes{'Q'});
}

TEST_F(SimLinkTest, AnExistingFileIsNotClobbered) {
    const std::string path = dir_ + "/module";
    std::ofstream(path) << "keep me";
    SimConfig config;
    config.linkPath = path;
    TavrekSimulator sim(config);
    std::string error;
    EXPECT_FALSE(sim.Start(&error));
    EXPECT_NE(error.find("not a symbolic link"), std::string::npos) << error;
    EXPECT_TRUE(sim.SlavePath().empty());
    std::ifstream in(path);
    std::string text;
    std::getline(in, text);
    EXPECT_EQ(text, "keep me");

    config.linkPath = dir_ + "/no/such/dir/module";
    TavrekSimulator other(config);
    EXPECT_FALSE(other.Start(&error));
    EXPECT_NE(error.find("cannot make the link"), std::string::npos) << error;
}

}  // namespace
