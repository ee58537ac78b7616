// The simulated module, driven over its pseudo-terminal as the program drives a real one: the
// line's speed as the module sees it, its thread waking for bytes and timers, the records, the
// link. What the module does with each byte, and every fault in detail, is SimulatedModuleTest's.

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
#include <string>
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

// Every wait below ends on an event: a byte count the host reads, the module's record or
// counters, or a read of the line the module confirms. "Nothing came" is the count of bytes the
// module has sent, looked at once the module has taken and acted on what the host wrote, and is
// borne out by what the host reads next.
class SimTest : public ::testing::Test {
  protected:
    void StartSim(SimConfig config = {}) {
        sim_ = std::make_unique<TavrekSimulator>(std::move(config));
        read_ = 0;
        std::string error;
        ASSERT_TRUE(sim_->Start(&error)) << error;
        ASSERT_TRUE(host_.Open(sim_->SlavePath())) << sim_->SlavePath();
    }

    // Waits until the module has taken every byte the host wrote and done what fell due at once
    // (a reply without delay, a stop): the first read takes the bytes, the second comes after a
    // whole pass of the module's loop.
    void Settle() {
        ASSERT_TRUE(sim_->WaitUntilLineRead(2000ms)) << "the module did not read its line";
        ASSERT_TRUE(sim_->WaitUntilLineRead(2000ms)) << "the module did not read its line";
    }

    // Reads `count` bytes, each with its arrival time; fewer when the module never sends them.
    std::vector<HostLine::TimedByte> Take(std::size_t count,
                                          std::chrono::milliseconds limit = 2000ms) {
        auto got = host_.ReadCount(count, limit);
        read_ += got.size();
        return got;
    }

    // Every byte the module has sent so far that the host has not read yet: exactly as many as
    // its count of bytes sent says, so that none can be left on the way.
    std::vector<HostLine::TimedByte> TakeSent() {
        const std::uint64_t sent = sim_->Stats().bytesSent;
        const std::size_t due = sent > read_ ? static_cast<std::size_t>(sent - read_) : 0;
        auto got = Take(due);
        EXPECT_EQ(got.size(), due) << "bytes the module sent did not reach the host";
        return got;
    }
    Bytes ReadSent() { return Values(TakeSent()); }

    // The program's bring-up: "P" at 38400 (which gets no answer), "9" and the switch once it
    // has been taken, "P" at 128000. Returns everything the module sent for it once it has acted
    // on the second "P" (a delayed answer is not waited for); shows what the module made of it
    // when that is not `expected`.
    Bytes Handshake(const Bytes& expected = {'Q'}) {
        EXPECT_TRUE(host_.SetSpeed(38400));
        host_.Write("P");
        Settle();
        EXPECT_EQ(ReadSent(), Bytes{}) << "\"P\" at 38400 gets no reply";
        SendBeforeSwitching("9");
        EXPECT_TRUE(host_.SetSpeed(128000));
        host_.Write("P");
        Settle();
        const Bytes reply = ReadSent();
        if (reply != expected) {
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
    // module sent before the stop took effect.
    Bytes Block(char axis, Bytes* overrun = nullptr) {
        host_.Write(std::string(1, axis));
        host_.Write("8");
        Bytes block = Values(Take(64));
        Bytes rest = StopStream();
        if (overrun != nullptr) {
            *overrun = rest;
        }
        return block;
    }

    // The host's "8" that stops a stream; what was still on its way.
    Bytes StopStream() {
        host_.Write("8");
        Settle();
        return ReadSent();
    }

    // Reads up to and including the first `last` byte (at most `limit` bytes): for a line whose
    // earlier bytes the host cannot count, as after it closed and opened it again.
    Bytes ReadThrough(std::uint8_t last, std::size_t limit = 65536) {
        Bytes out;
        while (out.size() < limit) {
            const auto got = host_.ReadCount(1, 2000ms);
            if (got.empty()) {
                break;
            }
            out.push_back(got[0].value);
            if (got[0].value == last) {
                break;
            }
        }
        return out;
    }

    // StartSim and the bring-up, which must be answered with one "Q".
    void StartAndHandshake(SimConfig config = {}) {
        StartSim(std::move(config));
        ASSERT_EQ(Handshake(), Bytes{'Q'});
    }

    std::unique_ptr<TavrekSimulator> sim_;
    HostLine host_;
    std::uint64_t read_ = 0;  // bytes the host has read from the module's line
};

// ---------------------------------------------------------------------------------------------
// Handshake and line speed

TEST_F(SimTest, HandshakeIsAnsweredOnlyAt128000AfterNine) {
    StartSim();
    ASSERT_TRUE(host_.SetSpeed(38400));
    host_.Write("P");
    Settle();
    EXPECT_EQ(sim_->Stats().handshakeAnswers, 0u) << "\"P\" at 38400 gets no reply";
    EXPECT_TRUE(ReadSent().empty());

    SendBeforeSwitching("9");
    ASSERT_TRUE(host_.SetSpeed(128000));
    const Clock::time_point sent = Clock::now();
    host_.Write("P");
    const auto reply = Take(1);
    ASSERT_EQ(reply.size(), 1u);
    EXPECT_EQ(reply[0].value, 'Q');
    EXPECT_LT(Ms(reply[0].time - sent), 150.0) << "the host gives up after 150 ms";
    Settle();
    EXPECT_TRUE(ReadSent().empty()) << "exactly one byte";
    EXPECT_EQ(sim_->Stats().moduleSpeed, 128000u);
    EXPECT_EQ(sim_->Stats().handshakeAnswers, 1u);

    // The module stays at 128000: the program's own sequence on a later connection attempt
    // (which starts at 38400 again) still gets its answer.
    EXPECT_EQ(Handshake(), Bytes{'Q'});
}

TEST_F(SimTest, BytesAtAnotherSpeedGetNoAnswer) {
    StartSim();
    // The module has taken every byte before the host switches, so each is judged at the speed
    // it was sent at; an answer that must not come would be in its count of bytes sent.
    // The whole sequence at 9600: nothing is heard.
    ASSERT_TRUE(host_.SetSpeed(9600));
    host_.Write("P");
    host_.Write("9");
    host_.Write("P");
    host_.Write("08");
    ASSERT_NO_FATAL_FAILURE(Settle());
    EXPECT_EQ(sim_->Stats().moduleSpeed, 38400u);
    EXPECT_EQ(sim_->Stats().streamsStarted, 0u);
    EXPECT_TRUE(ReadSent().empty());

    // 128000 without "9": the module still listens at 38400.
    ASSERT_TRUE(host_.SetSpeed(128000));
    host_.Write("P");
    ASSERT_NO_FATAL_FAILURE(Settle());
    EXPECT_TRUE(ReadSent().empty());

    // "9" at 38400 but the host stays at 38400: its "P" is not heard at 128000.
    ASSERT_TRUE(host_.SetSpeed(38400));
    host_.Write("9");
    host_.Write("P");
    ASSERT_NO_FATAL_FAILURE(Settle());
    EXPECT_EQ(sim_->Stats().moduleSpeed, 128000u);
    EXPECT_TRUE(ReadSent().empty());

    ASSERT_TRUE(host_.SetSpeed(128000));
    host_.Write("P");
    ASSERT_NO_FATAL_FAILURE(Settle());
    EXPECT_EQ(ReadSent(), Bytes{'Q'});
    EXPECT_EQ(sim_->Stats().handshakeAnswers, 1u);
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

    // The line's pace bounds how soon bytes can come, never how late: a busy machine may hold
    // the host back until the whole block is waiting, but not bring the 64th byte sooner than
    // 64 byte times (5 ms at 12.8 bytes per ms) after the "8". A dump would be there at once.
    const Clock::time_point asked = Clock::now();
    host_.Write("8");
    const auto block = Take(64);
    ASSERT_EQ(block.size(), 64u);
    EXPECT_GE(Ms(block.back().time - asked), 4.9);
    StopStream();
    EXPECT_FALSE(sim_->Stats().streaming) << "the second \"8\" ends the stream";
    ASSERT_NO_FATAL_FAILURE(Settle());
    EXPECT_TRUE(ReadSent().empty()) << "nothing more after the stop";

    // A longer stream (100 ms of the line's pace) carries no more than the line can. (That it
    // keeps the pace exactly is simulated_module_test's, on the module's own clock.)
    const Clock::time_point start = Clock::now();
    host_.Write("8");
    const auto got = Take(1280);
    const Bytes rest = StopStream();
    const double elapsed = Ms(Clock::now() - start);
    ASSERT_EQ(got.size(), 1280u);
    EXPECT_LE(static_cast<double>(got.size() + rest.size()), elapsed * 12.8 + 64.0);
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

// ---------------------------------------------------------------------------------------------
// Faults

TEST_F(SimTest, HandshakeFaults) {
    // Never answers, answers with two bytes, answers wrongly.
    for (const std::string answer : {"", "QQ", "R"}) {
        SimConfig config;
        config.faults.answer = answer;
        StartSim(config);
        const Bytes expected(answer.begin(), answer.end());
        EXPECT_EQ(Handshake(expected), expected) << '"' << answer << '"';
    }
    {
        // Nothing within the host's 150 ms: the answer reaches it no sooner than the delay
        // after the module took the "P".
        SimConfig config;
        config.faults.answerDelayMs = 250;
        StartSim(config);
        ASSERT_TRUE(host_.SetSpeed(38400));
        SendBeforeSwitching("9");
        ASSERT_TRUE(host_.SetSpeed(128000));
        host_.Write("P");
        const auto late = Take(1);
        ASSERT_EQ(late.size(), 1u);
        EXPECT_EQ(late[0].value, 'Q');
        const auto record = sim_->Received();
        ASSERT_EQ(record.size(), 2u);
        EXPECT_GE(Ms(late[0].time - record.back().time), 250.0);
    }
}

TEST_F(SimTest, SilentAfterBlocksThenResumes) {
    SimConfig config;
    // Silent from the end of the first block: a host whose stop comes late (a busy machine)
    // cannot let the stream run into a further block before the silence, as it could with two.
    config.faults.silentAfterBlocks = 1;
    config.faults.resumeAfterSeconds = 1.0;
    ASSERT_NO_FATAL_FAILURE(StartAndHandshake(config));
    Bytes overrun;
    ASSERT_EQ(Block('0', &overrun).size(), 64u);
    EXPECT_TRUE(overrun.empty()) << "nothing after the block that ends in silence";
    EXPECT_TRUE(sim_->Stats().silent);

    const std::uint64_t sentBefore = sim_->Stats().bytesSent;
    host_.Write("0");
    host_.Write("8");
    host_.Write("P");
    ASSERT_NO_FATAL_FAILURE(Settle());
    // While it is silent, the stream it was asked for and the answer to "P" send nothing; the
    // answer is not kept for later either, so what comes once the silence ends is samples.
    const SimStats during = sim_->Stats();
    if (during.silent) {
        EXPECT_EQ(during.bytesSent, sentBefore) << "silent after the first block";
    }
    EXPECT_TRUE(during.streaming);
    EXPECT_EQ(during.handshakeAnswers, 1u) << "silent means no replies either";

    const auto resumed = Take(64, 3000ms);
    ASSERT_EQ(resumed.size(), 64u) << "the stream goes on once the silence ends";
    // No sooner than a second after the module fell silent, by its own record.
    std::optional<double> silentAt;
    for (const std::string& e : sim_->EventsSince(0)) {
        if (e.find("falls silent after 1 blocks") != std::string::npos) {
            silentAt = std::stod(e);
        }
    }
    ASSERT_TRUE(silentAt);
    EXPECT_GE(Ms(resumed.front().time - sim_->StartTime()) - *silentAt, 999.0);
    EXPECT_EQ(sim_->Stats().handshakeAnswers, 1u);
    StopStream();
    EXPECT_EQ(Block('0').size(), 64u) << "the silence comes only once";
}

TEST_F(SimTest, HangUpAfterBlocks) {
    // After the first block, so that a host whose stop would come late cannot matter; which
    // block it is is the module test's.
    SimConfig config;
    config.faults.hangUpAfterBlocks = 1;
    ASSERT_NO_FATAL_FAILURE(StartAndHandshake(config));
    EXPECT_FALSE(sim_->Stats().hungUp);
    host_.Write("18");
    EXPECT_EQ(Take(64).size(), 64u) << "the block before the hang-up reaches the host whole";
    EXPECT_TRUE(host_.WaitForHangUp(2000ms));
    EXPECT_TRUE(sim_->Stats().hungUp);
    EXPECT_EQ(sim_->Stats().blocksSent, 1u);
}

// ---------------------------------------------------------------------------------------------
// The line itself

TEST_F(SimTest, StreamGoesOnWhenTheHostClosesAndAnEightStopsItLater) {
    SimConfig config;
    config.x.dcVolts = 2.0;  // sample 165, never taken for the "Q" that ends the test
    ASSERT_NO_FATAL_FAILURE(StartAndHandshake(config));
    host_.Write("08");
    ASSERT_EQ(Take(64).size(), 64u);
    host_.Close();
    // A module cannot tell: it streams on into the line nobody holds, and must not spin while it
    // streams one second's worth at the line's pace.
    const std::uint64_t from = sim_->Stats().samplesSent;
    const auto cpu = CpuSecondsUntil([&] { return sim_->Stats().samplesSent >= from + 12800; }, 5s);
    ASSERT_TRUE(cpu) << "one second's worth streamed within 5 s";
    EXPECT_LT(*cpu, 0.3) << "CPU seconds used while the module streamed one second's worth";
    EXPECT_TRUE(sim_->Stats().streaming);

    // The next host finds the stream running; its "8" at 128000 stops it. What the line held
    // from before cannot be counted, so the answer to a "P" marks the end: only samples come
    // before it, and nothing after it.
    ASSERT_TRUE(host_.Open(sim_->SlavePath()));
    ASSERT_TRUE(host_.SetSpeed(128000));
    EXPECT_EQ(host_.ReadCount(64, 2000ms).size(), 64u) << "the stream runs";
    host_.Write("8");
    ASSERT_NO_FATAL_FAILURE(Settle());
    EXPECT_FALSE(sim_->Stats().streaming);
    host_.Write("P");
    const Bytes tail = ReadThrough('Q');
    ASSERT_FALSE(tail.empty());
    EXPECT_EQ(tail.back(), 'Q');
    EXPECT_EQ(Bytes(tail.begin(), tail.end() - 1), Bytes(tail.size() - 1, 165));
    read_ = sim_->Stats().bytesSent;
    ASSERT_NO_FATAL_FAILURE(Settle());
    EXPECT_TRUE(ReadSent().empty());
}

TEST_F(SimTest, StreamingAtStartIsStoppedByAnEightAt128000) {
    SimConfig config;
    config.faults.streamingAtStart = true;
    config.x.dcVolts = 2.0;  // sample 165, never taken for the "Q" that ends the test
    StartSim(config);
    EXPECT_TRUE(sim_->Stats().streaming);
    // The stream began before the host opened the line, so what the line holds cannot be
    // counted: the answer to a "P" marks the end, as in the test above.
    ASSERT_TRUE(host_.SetSpeed(38400));
    EXPECT_EQ(host_.ReadCount(500, 2000ms).size(), 500u);
    host_.Write("8");  // at the wrong speed: not heard
    ASSERT_NO_FATAL_FAILURE(Settle());
    EXPECT_TRUE(sim_->Stats().streaming);
    EXPECT_EQ(host_.ReadCount(500, 2000ms).size(), 500u) << "the stream goes on";
    ASSERT_TRUE(host_.SetSpeed(128000));
    host_.Write("8");
    ASSERT_NO_FATAL_FAILURE(Settle());
    EXPECT_FALSE(sim_->Stats().streaming);
    host_.Write("P");
    const Bytes tail = ReadThrough('Q');
    ASSERT_FALSE(tail.empty());
    EXPECT_EQ(tail.back(), 'Q');
    EXPECT_EQ(Bytes(tail.begin(), tail.end() - 1), Bytes(tail.size() - 1, 165));
}

TEST_F(SimTest, LateSamplesArriveAfterTheStop) {
    SimConfig config;
    config.faults.lateSamples = 6;
    config.faults.lateMs = 40;
    ASSERT_NO_FATAL_FAILURE(StartAndHandshake(config));
    host_.Write("08");
    ASSERT_EQ(Take(64).size(), 64u);
    host_.Write("8");
    // What was on its way when the stop was sent, then the six held back, which are sent no
    // sooner than 40 ms after the module took the stop, and nothing after them.
    ASSERT_TRUE(WaitUntil([&] { return sim_->Stats().lateSamplesSent == 6; }, 2s));
    ASSERT_NO_FATAL_FAILURE(Settle());
    EXPECT_GE(TakeSent().size(), 6u);
    // The module's record has when it took the stop and when it sent the six.
    std::optional<double> stopAt, lateAt;
    for (const std::string& e : sim_->EventsSince(0)) {
        if (e.find("stopped by the host") != std::string::npos) {
            stopAt = std::stod(e);
        } else if (e.find("6 late samples delivered") != std::string::npos) {
            lateAt = std::stod(e);
        }
    }
    ASSERT_TRUE(stopAt && lateAt);
    EXPECT_GE(*lateAt - *stopAt, 39.9);
    EXPECT_FALSE(sim_->Stats().streaming);
    ASSERT_NO_FATAL_FAILURE(Settle());
    EXPECT_TRUE(ReadSent().empty());
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
    const auto reply = host.ReadCount(1, 2000ms);
    ASSERT_EQ(reply.size(), 1u);
    EXPECT_EQ(reply[0].value, 'Q');
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
