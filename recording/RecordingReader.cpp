#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "NumberText.h"
#include "Recording.h"

namespace {

constexpr std::size_t FieldsPerRow = 3 + RecordedSamples;
constexpr std::string_view ByteOrderMark = "\xEF\xBB\xBF";

// A field as a message quotes it: whole when short, else its start.
std::string Quoted(std::string_view field) {
    constexpr std::size_t Shown = 16;
    if (field.size() <= Shown) {
        return "\"" + std::string(field) + "\"";
    }
    return "\"" + std::string(field.substr(0, Shown)) + "...\"";
}

// A whole number written as digits only (no sign, no blanks, no decimals) and at most 18 of them,
// or -1.
long long WholeNumber(std::string_view text) {
    if (text.size() > 18) {
        return -1;
    }
    return ParseNumber<long long>(text, NumberForms::RecordingField).value_or(-1);
}

// Reads a recording line by line, checking each row and that every cycle holds one row of each
// axis.
class RecordingParser {
  public:
    RecordingParser(const std::string& name, Recording& recording)
        : name_(name), recording_(recording) {}

    // One line without its line end; terminated is false for a last line the file cut short.
    bool Line(std::string_view line, bool terminated, std::string& error) {
        ++lineNumber_;
        if (lineNumber_ == 1 && line.starts_with(ByteOrderMark)) {
            line.remove_prefix(ByteOrderMark.size());
        }
        if (line.size() > MaxRecordingLineBytes) {
            return Fail("a line longer than 1 MB is no row of a recording", error);
        }
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.empty() || line.front() == '#') {
            return true;
        }
        if (!terminated) {
            CutShort("the last line has no line end, so it may be cut short");
            return true;
        }
        if (!headerSeen_) {
            if (line != RecordingHeader()) {
                return Fail("the first line that is no comment must be the header " +
                                std::string(RecordingHeader().substr(0, 20)) + "...,s63",
                            error);
            }
            headerSeen_ = true;
            return true;
        }
        return Row(line, error);
    }

    bool Finish(std::string& error) {
        if (!headerSeen_) {
            error = name_ + ": not a recording: no header line " +
                    std::string(RecordingHeader().substr(0, 20)) + "...,s63";
            recording_ = {};
            return false;
        }
        if (cycleRows_ == 1) {
            // The writer gives the system both rows of a cycle at once: a lone last row is what
            // a write cut short leaves.
            lineNumber_ = cycleLine_;
            CutShort(MissingAxis() + " and the file ends there");
        }
        return true;
    }

  private:
    bool Row(std::string_view line, std::string& error) {
        std::array<std::string_view, FieldsPerRow> fields;
        std::size_t count = 0;
        for (std::size_t start = 0;; ++count) {
            const std::size_t comma = line.find(',', start);
            if (count < FieldsPerRow) {
                fields[count] = line.substr(start, comma - start);
            }
            if (comma == std::string_view::npos) {
                ++count;
                break;
            }
            start = comma + 1;
        }
        if (count != FieldsPerRow) {
            return Fail("a row has 67 fields (cycle, axis, ms, s0 to s63), this one " +
                            std::to_string(count),
                        error);
        }
        RecordedBlock block;
        block.cycle = WholeNumber(fields[0]);
        if (block.cycle < 1) {
            return Fail("the cycle number " + Quoted(fields[0]) + " is no whole number from 1",
                        error);
        }
        if (fields[1] != "X" && fields[1] != "Y") {
            return Fail("the axis " + Quoted(fields[1]) + " is neither X nor Y", error);
        }
        block.axis = fields[1].front();
        block.ms = WholeNumber(fields[2]);
        if (block.ms < 0) {
            return Fail("ms " + Quoted(fields[2]) + " is no whole number of milliseconds", error);
        }
        for (std::size_t i = 0; i < RecordedSamples; ++i) {
            const long long sample = WholeNumber(fields[3 + i]);
            if (sample < 0 || sample > 255) {
                return Fail("sample s" + std::to_string(i) + " " + Quoted(fields[3 + i]) +
                                " is no whole number from 0 to 255",
                            error);
            }
            block.samples[i] = static_cast<std::uint8_t>(sample);
        }
        return Add(block, error);
    }

    bool Add(const RecordedBlock& block, std::string& error) {
        if (cycleRows_ > 0 && block.cycle < cycle_) {
            return Fail("cycle " + std::to_string(block.cycle) + " comes after cycle " +
                            std::to_string(cycle_) + ": cycle numbers never go backwards",
                        error);
        }
        if (cycleRows_ > 0 && block.cycle == cycle_) {
            if (cycleRows_ == 2 || block.axis == cycleAxis_) {
                return Fail("cycle " + std::to_string(cycle_) + " has a second " +
                                std::string(1, block.axis) + " row",
                            error);
            }
            cycleRows_ = 2;
        } else {
            if (cycleRows_ == 1) {
                return Fail(MissingAxis() + " before cycle " + std::to_string(block.cycle), error);
            }
            cycle_ = block.cycle;
            cycleAxis_ = block.axis;
            cycleRows_ = 1;
            cycleLine_ = lineNumber_;
        }
        recording_.blocks.push_back(block);
        return true;
    }

    // The file ends in the middle of a row: what came before is kept, up to the last cycle that
    // has both its rows.
    void CutShort(const std::string& what) {
        if (cycleRows_ == 1) {
            recording_.blocks.pop_back();
            cycleRows_ = 0;
        }
        const std::string kept =
            recording_.blocks.empty()
                ? "no whole cycle before it"
                : "read up to cycle " + std::to_string(recording_.blocks.back().cycle);
        recording_.warning = name_ + ":" + std::to_string(lineNumber_) + ": " + what + "; " + kept;
    }

    std::string MissingAxis() const {
        return "cycle " + std::to_string(cycle_) + " has no " + (cycleAxis_ == 'X' ? "Y" : "X") +
               " row";
    }

    bool Fail(const std::string& what, std::string& error) {
        error = name_ + ":" + std::to_string(lineNumber_) + ": " + what;
        recording_ = {};
        return false;
    }

    const std::string& name_;
    Recording& recording_;
    long long lineNumber_ = 0;
    bool headerSeen_ = false;
    long long cycle_ = 0;
    char cycleAxis_ = 'X';
    int cycleRows_ = 0;  // rows of the current cycle seen so far
    long long cycleLine_ = 0;
};

// Feeds the complete lines of text to the parser; answers what is left after the last line end.
bool FeedLines(RecordingParser& parser, std::string_view& text, std::string& error) {
    for (std::size_t end; (end = text.find('\n')) != std::string_view::npos;) {
        if (!parser.Line(text.substr(0, end), true, error)) {
            return false;
        }
        text.remove_prefix(end + 1);
    }
    return true;
}

class Descriptor {
  public:
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int Get() const { return fd_; }

  private:
    int fd_;
};

}  // namespace

bool ParseRecording(std::string_view text, const std::string& name, Recording& recording,
                    std::string& error) {
    recording = {};
    RecordingParser parser(name, recording);
    if (!FeedLines(parser, text, error)) {
        return false;
    }
    if (!text.empty() && !parser.Line(text, false, error)) {
        return false;
    }
    return parser.Finish(error);
}

bool ReadRecording(const std::string& path, Recording& recording, std::string& error) {
    recording = {};
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        error = path + ": not a regular file";
        return false;
    }
    // Without blocking, in case it became a FIFO since; checked again once open.
    const Descriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (file.Get() < 0 || ::fstat(file.Get(), &status) != 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        error = path + ": not a regular file";
        return false;
    }
    RecordingParser parser(path, recording);
    std::string pending;  // the start of a line that the next read goes on with
    std::array<char, 64 * 1024> chunk;
    for (;;) {
        const ssize_t got = ::read(file.Get(), chunk.data(), chunk.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            error = path + ": " + std::strerror(errno);
            recording = {};
            return false;
        }
        if (got == 0) {
            break;
        }
        pending.append(chunk.data(), static_cast<std::size_t>(got));
        std::string_view rest(pending);
        if (!FeedLines(parser, rest, error)) {
            return false;
        }
        if (rest.size() > MaxRecordingLineBytes + 1) {
            return parser.Line(rest, true, error);  // refused as too long, with its line number
        }
        pending.erase(0, pending.size() - rest.size());
    }
    if (!pending.empty() && !parser.Line(pending, false, error)) {
        return false;
    }
    return parser.Finish(error);
}
