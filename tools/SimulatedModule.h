#pragma once

// What the Tavrek module does, apart from any line: it is given the host's bytes with the speed
// each came at and the time, is asked what it sends by a given time, and says what it does to
// the line (a hang-up, the adapter pulled out and plugged back in). It has no terminal, no
// thread and no clock of its own, so that a test drives it byte by byte and millisecond by
// millisecond and gets the same answer every time. TavrekSimulator puts it on a pseudo-terminal.
//
// Not thread-safe: one caller at a time.

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "SignalGenerator.h"
#include "TavrekSimulator.h"

class SimulatedModule {
  public:
    using Clock = std::chrono::steady_clock;
    // Receives each event (handshake answered, stream started, a fault taking effect) with the
    // time it happened at.
    using EventSink = std::function<void(Clock::time_point, const std::string&)>;

    static constexpr unsigned StartSpeed = 38400;
    static constexpr unsigned FastSpeed = 128000;
    static constexpr int BlockSamples = 64;
    // A line cannot send faster than its pace, so time lost to a late call of SendDue is not
    // caught up beyond this many bytes.
    static constexpr double MaxStreamCredit = 128.0;
    // Closing the line throws away whatever the host has not read yet, so after the hang-up
    // fault the line goes quiet first and is closed this much later.
    static constexpr std::chrono::milliseconds HangUpGrace{100};

    // The signals, seed and faults of `config` (its link path is the line's business).
    explicit SimulatedModule(const SimConfig& config);

    void SetEventSink(EventSink sink) { sink_ = std::move(sink); }

    // The module is switched on at `now`: counters start from nought, and the faults that act
    // from the start (silent from the first block on, already streaming) take effect.
    void PowerOn(Clock::time_point now);

    // A byte from the host, sent at `lineSpeed`. The module acts on it only when it listens at
    // that speed; returns whether it did ("heard").
    bool Receive(std::uint8_t byte, unsigned lineSpeed, Clock::time_point now);

    // Everything that falls due by `now` (replies, late samples, stream samples at the line's
    // pace, the end of a silence, the hang-up, the replug), with the bytes it sends appended to
    // *out. Stream samples are owed from the time the stream started or SendDue was last called.
    void SendDue(Clock::time_point now, std::vector<std::uint8_t>* out);

    // The earliest moment after `now` at which SendDue has something to do apart from stream
    // samples, which fall due continuously while Streaming(); empty when nothing is pending.
    std::optional<Clock::time_point> NextTimer() const;

    // The host has closed its end of the line: the module cannot tell, but what it had queued
    // as replies goes nowhere.
    void HostGone();
    // Falls silent now, as the silent-after-blocks fault would make it (its resume time applies).
    void FallSilent(Clock::time_point now);
    void SetAxisSignal(SimAxis axis, const AxisSignal& signal);

    unsigned Speed() const { return speed_; }
    bool Streaming() const { return streaming_; }
    bool Silent() const { return silent_; }
    // Whether the module may send: the line is neither hanging up, hung up nor pulled out.
    bool Sending() const { return !hangUpAt_ && !hungUp_ && !unplugged_; }
    bool HungUp() const { return hungUp_; }
    bool Unplugged() const { return unplugged_; }
    // Counts the module's own doings; bytesSent counts what it handed out through SendDue (the
    // line may drop some: bytesDropped is the line's to fill in).
    const SimStats& Stats() const { return stats_; }

  private:
    void Event(Clock::time_point now, const std::string& text);
    void StartStream(Clock::time_point now);
    void StopStream(Clock::time_point now, const char* why);
    void SendReplies(Clock::time_point now, std::vector<std::uint8_t>* out);
    void SendLateSamples(Clock::time_point now, std::vector<std::uint8_t>* out);
    void Pace(Clock::time_point now, std::vector<std::uint8_t>* out);
    void BeginSilence(Clock::time_point now);
    void EndSilence(Clock::time_point now);
    void Reset(Clock::time_point now, const std::string& why);
    void Unplug(Clock::time_point now);
    void HangUp(Clock::time_point now);
    // The faults that take effect at the end of a block.
    enum class BlockFault { None, HangUp, FallSilent, Reset, Unplug };
    BlockFault FaultAfterBlock(std::vector<std::uint8_t>* out);
    // The next sample of the stream: the signal's, or the recorded block's when replaying (none
    // once the recording has run out).
    std::optional<std::uint8_t> NextSample();

    const SimFaults faults_;
    std::vector<SignalGenerator> generators_;  // X, Y
    // Replaying: the recorded blocks of each axis, how many of them streams have taken, and the
    // block the current stream sends (none when the axis has run out).
    const bool replaying_;
    const bool replayLoop_;
    const std::array<std::vector<std::array<std::uint8_t, BlockSamples>>, 2> replay_;
    std::array<std::size_t, 2> replayTaken_{};
    const std::array<std::uint8_t, BlockSamples>* replayBlock_ = nullptr;
    std::size_t replayPosition_ = 0;
    EventSink sink_;
    SimStats stats_;

    unsigned speed_ = StartSpeed;
    int axis_ = 0;
    bool streaming_ = false;
    std::uint64_t streamSamples_ = 0;
    Clock::time_point paceTime_{};
    double credit_ = 0.0;
    std::deque<Clock::time_point> replies_;
    std::uint64_t blocks_ = 0;
    bool silent_ = false;
    bool silenceUsed_ = false;
    std::optional<Clock::time_point> resumeAt_;
    std::optional<Clock::time_point> hangUpAt_;
    bool hungUp_ = false;
    bool loseNextStop_ = false;
    bool stopLossUsed_ = false;
    bool resetUsed_ = false;
    bool unplugUsed_ = false;
    bool unplugged_ = false;
    std::optional<Clock::time_point> replugAt_;
    // Samples still held back by the adapter: when they are due, and how many.
    std::deque<std::pair<Clock::time_point, int>> late_;
};
