// A recording: the raw sample blocks that the module sent, kept as plain CSV so that a
// spreadsheet or a script reads it and a bench run or the simulator plays it back.
//
//     # comments (the program version, the device, the start time)
//     cycle,axis,ms,s0,s1,...,s63
//     1,X,0,128,131,...
//     1,Y,0,127,126,...
//
// One row per block of a completed cycle: the cycle number (from 1, never going backwards), the
// axis X or Y, milliseconds since the recording started, and the 64 sample bytes in the order
// received. Every cycle holds exactly one row of each axis.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <span>
#include <string>
#include <string_view>
#include <vector>

inline constexpr std::size_t RecordedSamples = 64;
// The longest line that is read; anything longer is no row of a recording.
inline constexpr std::size_t MaxRecordingLineBytes = 1024 * 1024;

using SampleBlock = std::array<std::uint8_t, RecordedSamples>;

struct RecordedBlock {
    long long cycle = 0;
    char axis = 'X';
    long long ms = 0;
    SampleBlock samples{};

    bool operator==(const RecordedBlock&) const = default;
};

// The header line, without its line end.
std::string_view RecordingHeader();

// ---- Reading

struct Recording {
    // Every row, in the file's order.
    std::vector<RecordedBlock> blocks;
    // Set when the file ends in the middle of a row (as a pulled plug leaves it): the blocks hold
    // every whole cycle before it, and this says where the file was cut.
    std::string warning;
};

// Reads text as the recording file called name. Answers false with "<name>:<line>: <what>" in
// error for the first bad line; recording is then left empty.
bool ParseRecording(std::string_view text, const std::string& name, Recording& recording,
                    std::string& error);

// Reads the recording file at path, a line at a time (a recording may be far larger than any
// line). Anything but a regular file is refused before it is read and never waited on.
bool ReadRecording(const std::string& path, Recording& recording, std::string& error);

// ---- Writing

// Appends cycles to a recording as they complete. Each cycle's two rows go to the system in one
// write, so that a run ended by Ctrl+C, a crash or a pulled plug leaves every completed cycle in
// the file. Formats into a buffer of its own: nothing is allocated per cycle.
class RecordingWriter {
  public:
    RecordingWriter() = default;
    RecordingWriter(const RecordingWriter&) = delete;
    RecordingWriter& operator=(const RecordingWriter&) = delete;
    ~RecordingWriter();

    // Creates the file at path (replacing a regular file there) and writes the comments and the
    // header. Answers false, with why in error, when path is no regular file or cannot be
    // written.
    bool Open(const std::string& path, std::string_view programVersion, std::string_view device,
              std::time_t started, std::string& error);
    bool IsOpen() const { return fd_ >= 0; }
    const std::string& Path() const { return path_; }

    // Appends one completed cycle. On a failed write the recording is closed and error says
    // why; the rows written before stay.
    bool WriteCycle(long long cycle, long long msX,
                    std::span<const std::uint8_t, RecordedSamples> x, long long msY,
                    std::span<const std::uint8_t, RecordedSamples> y, std::string& error);

    void Close();

  private:
    bool WriteAll(std::string_view bytes, std::string& error);

    int fd_ = -1;
    std::string path_;
    // Two rows of at most 20 + 2 + 20 + 64 * 4 + 1 characters each.
    std::array<char, 1024> buffer_{};
};

// One row as the writer puts it, line end included, into out (at least 320 characters); answers
// the number of characters.
std::size_t FormatRecordedRow(const RecordedBlock& block, std::span<char> out);
