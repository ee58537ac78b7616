#pragma once

// A Tavrek module on a pseudo-terminal, for tests and for running the program without hardware.
//
// Usage from a test:
//
//     SimConfig config;
//     config.x.tones.push_back({8.0, 1.0});        // X: 1.55 V DC plus 1 V at bin 8
//     TavrekSimulator sim(config);
//     std::string error;
//     if (!sim.Start(&error)) { FAIL() << error; }
//     std::string path = sim.SlavePath();           // e.g. "/dev/pts/7": map a COM number to it
//     ... run the host against `path` ...
//     sim.WaitForReceived(6, std::chrono::seconds(2));
//     for (const ReceivedByte& b : sim.Received()) { ... b.value, b.lineSpeed, b.time ... }
//     sim.Stop();                                   // also done by the destructor
//
// The module, as the host sees it:
// - It starts listening at 38400 baud. A byte counts only if the host's line runs at the speed
//   the module listens at ("heard"); any other byte is recorded and otherwise ignored.
// - "9" switches it to 128000 baud. "P" at 128000 is answered with one "Q" at once; "P" at 38400
//   gets no reply.
// - "G", "Q", "S" are accepted and change nothing. "0" and "1" select the X and Y axis (X at
// start).
// - "8" starts a stream of unsigned 8-bit samples of the selected axis at the pace of the line
//   (128000 baud carries 12.8 bytes per millisecond); the next "8" stops it. A module cannot
//   tell that the host has closed its end of the line, so a stream goes on until it is stopped.
// - A sample is round(volts * 255 / 3.1), clipped to 0..255. Each axis has its own sample index
//   that runs on over every sample streamed for it, so the waveform is continuous across blocks.
// - A block is 64 consecutive samples of one stream, counted from the "8" that started it.
//
// Line speed: the host sets its speed on the slave side; the module reads it through the master.
// A pseudo-terminal carries no speed with a byte, so every byte is judged at the speed the line
// has when the module wakes up for it, looked at before the byte is read. A host that switches
// its speed before its last byte has been taken (the "9" just before the switch to 128000) has
// sent that byte at the new speed, as on a real line, and the module does not hear it. Only a
// switch that falls within the read itself leaves the speed of the bytes it takes open: those
// are heard at whichever of the two speeds the module listens at.
//
// The record of received bytes and of events keeps the latest entries only (see RecordLimit), so
// that a simulator left running for hours does not grow; indices count every entry ever made.
//
// Threading: Start runs the module on a thread of its own; every public member may be called
// from any thread.
//
// What the module does lives in SimulatedModule (no line, no thread, the caller's clock); this
// class puts it on a pseudo-terminal with a thread, a wake pipe, the link and the records.

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "SignalGenerator.h"

// Misbehaviour of the module. Every member has a "behave" default; several may be combined.
struct SimFaults {
    // The reply to "P" at 128000 baud: "" never answers, "QQ" answers with two bytes, any other
    // text is a wrong answer.
    std::string answer = "Q";
    // Delay of the reply after the "P" in milliseconds; the host waits 150 ms for it, so a reply
    // later than that is not seen.
    int answerDelayMs = 0;
    // After this many blocks the module sends nothing at all (samples and replies); -1 = never.
    int silentAfterBlocks = -1;
    // The silence ends after this many seconds and streams go on; negative = it never ends.
    double resumeAfterSeconds = -1.0;
    // Extra bytes of value burstByte sent at once after a block: after every block when
    // burstAfterBlock is 0, else only after that block (1 = the first).
    int burstBytes = 0;
    int burstAfterBlock = 0;
    std::uint8_t burstByte = 0xEE;
    // Stream pace in bytes per second; 0 = the pace of the module's line (baud / 10).
    double streamBytesPerSecond = 0.0;
    // Close the master side (the host sees a hang-up) after this many blocks; -1 = never. The
    // line goes quiet at the end of the block and is closed 100 ms later, because closing throws
    // away whatever the host has not read yet.
    int hangUpAfterBlocks = -1;
    // The "8" that should stop the stream after this many blocks is lost on the line (once); the
    // module streams on until the next "8". -1 = never.
    int loseStopAfterBlocks = -1;
    // The module resets after this many blocks (once), as after a glitch of its supply: it stops
    // streaming and listens at 38400 baud again, with the X axis selected. -1 = never.
    int resetAfterBlocks = -1;
    // The adapter is pulled out after this many blocks (once): the line is gone at once, and so
    // is the link. It is plugged back in replugAfterSeconds later as a new pseudo-terminal
    // behind the same link; the module, powered through it, starts afresh. -1 = never.
    int unplugAfterBlocks = -1;
    double replugAfterSeconds = 3.0;
    // The module is already streaming the X axis at 128000 baud when the simulator starts, as
    // one left so by a host that was killed in the middle of a block.
    bool streamingAtStart = false;
    // Each time the host stops a stream, this many further samples reach the host lateMs after
    // the stop, as an adapter that holds bytes back delivers them. 0 = none.
    int lateSamples = 0;
    int lateMs = 16;
};

struct SimConfig {
    AxisSignal x;
    AxisSignal y;
    std::uint64_t seed = 1;  // noise seed; X uses it, Y uses seed + 1
    SimFaults faults;
    // Recorded blocks served instead of the signals (tavrek-sim --replay): each stream of an
    // axis sends that axis's next block (and, should the host let it run on, that block again);
    // once an axis has none left, its streams send nothing, unless replayLoop starts it over.
    bool replaying = false;
    bool replayLoop = false;
    std::vector<std::array<std::uint8_t, 64>> replayX;
    std::vector<std::array<std::uint8_t, 64>> replayY;
    // When not empty, a symbolic link to the slave path is made here at Start (an existing
    // symbolic link is replaced; any other file is left alone and Start fails) and removed at Stop.
    std::string linkPath;
};

enum class SimAxis { X = 0, Y = 1 };

// One byte the module received from the host.
struct ReceivedByte {
    std::chrono::steady_clock::time_point time;  // when the module read it
    std::uint8_t value = 0;
    unsigned lineSpeed = 0;  // the host's line speed taken for this byte (see above)
    bool heard = false;      // true when the module listened at that speed and acted on the byte
};

// Counters of what the module sent.
struct SimStats {
    std::uint64_t handshakeAnswers = 0;  // replies sent to "P" at 128000 baud
    std::uint64_t streamsStarted = 0;
    std::uint64_t samplesSent = 0;
    std::uint64_t blocksSent = 0;
    std::uint64_t bytesDropped = 0;  // stream bytes the host's full input queue did not take
    // Every byte written to the line (samples, replies, bursts, late samples): a host that has
    // read this many has read all there is, so that nothing further need be waited for.
    std::uint64_t bytesSent = 0;
    unsigned moduleSpeed = 38400;  // the speed the module listens at now
    bool streaming = false;
    bool silent = false;
    bool hungUp = false;          // the master was closed by the hang-up fault
    bool unplugged = false;       // the adapter is out (between unplug and replug)
    std::uint64_t replugs = 0;    // times the adapter was plugged back in
    std::uint64_t resets = 0;     // module resets
    std::uint64_t stopsLost = 0;  // stop bytes lost on the line
    std::uint64_t lateSamplesSent = 0;
};

class TavrekSimulator {
  public:
    explicit TavrekSimulator(SimConfig config);
    ~TavrekSimulator();
    TavrekSimulator(const TavrekSimulator&) = delete;
    TavrekSimulator& operator=(const TavrekSimulator&) = delete;

    // Opens the pseudo-terminal (raw mode), makes the link if one is configured and starts the
    // module's thread. On failure returns false with a message in *error and leaves nothing open.
    bool Start(std::string* error);
    // Stops the thread, closes the master side and removes the link. Safe to call repeatedly.
    void Stop();

    // The slave device the host opens, e.g. "/dev/pts/7"; empty before Start and while the
    // adapter is unplugged, and a new one after it was plugged back in.
    std::string SlavePath() const;
    // The moment Start opened the line; received-byte times are on the same clock.
    std::chrono::steady_clock::time_point StartTime() const;

    // The entries each record keeps; older ones are let go.
    static constexpr std::size_t RecordLimit = 65536;

    // The bytes received so far that the record still holds, oldest first; ReceivedSince(n)
    // only those from index n on (an index counts every byte ever received).
    std::vector<ReceivedByte> Received() const;
    std::vector<ReceivedByte> ReceivedSince(std::size_t index) const;
    // How many bytes have been received in all.
    std::size_t ReceivedCount() const;
    // Waits until at least `count` bytes have been received; false on timeout.
    bool WaitForReceived(std::size_t count, std::chrono::milliseconds timeout) const;
    // Waits until the module has read its line once more, after this call: every byte the host
    // wrote before it is then in the record, so that a test can tell that nothing more came
    // rather than hope a pause was long enough. False when that does not happen in time.
    bool WaitUntilLineRead(std::chrono::milliseconds timeout);

    // Human-readable events (handshake answered, stream started, faults taking effect), oldest
    // first, each prefixed with milliseconds since Start; indexed as the received bytes are.
    std::vector<std::string> EventsSince(std::size_t index) const;

    SimStats Stats() const;
    // The module falls silent now, as the silent-after-blocks fault would make it (the fault's
    // resume time applies), for a test that must choose the moment itself rather than count on
    // how many blocks a stream runs to before the host's stop reaches it.
    void FallSilentNow();
    // Replaces the signal of an axis while running; its sample index runs on.
    void SetAxisSignal(SimAxis axis, const AxisSignal& signal);

    // The sample byte of a voltage (see SignalGenerator::VoltsToSample).
    static std::uint8_t VoltsToSample(double volts) {
        return SignalGenerator::VoltsToSample(volts);
    }

  private:
    class Engine;
    std::unique_ptr<Engine> engine_;
};
