#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <string>

#include "Recording.h"

namespace {

std::string MakeHeader() {
    std::string header = "cycle,axis,ms";
    for (std::size_t i = 0; i < RecordedSamples; ++i) {
        header += ",s" + std::to_string(i);
    }
    return header;
}

char* PutNumber(char* out, char* end, long long value) {
    return std::to_chars(out, end, value).ptr;
}

// A comment stays one line whatever the device is called: control characters become '?'.
std::string OneLine(std::string_view text) {
    std::string line(text);
    for (char& c : line) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            c = '?';
        }
    }
    return line;
}

std::string StartTime(std::time_t started) {
    std::tm utc{};
    char text[32];
    if (::gmtime_r(&started, &utc) == nullptr ||
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc) == 0) {
        return "unknown";
    }
    return text;
}

}  // namespace

std::string_view RecordingHeader() {
    static const std::string header = MakeHeader();
    return header;
}

std::size_t FormatRecordedRow(const RecordedBlock& block, std::span<char> out) {
    char* const begin = out.data();
    char* const end = begin + out.size();
    char* p = PutNumber(begin, end, block.cycle);
    *p++ = ',';
    *p++ = block.axis;
    *p++ = ',';
    p = PutNumber(p, end, block.ms);
    for (const std::uint8_t sample : block.samples) {
        *p++ = ',';
        p = PutNumber(p, end, sample);
    }
    *p++ = '\n';
    return static_cast<std::size_t>(p - begin);
}

RecordingWriter::~RecordingWriter() {
    Close();
}

bool RecordingWriter::Open(const std::string& path, std::string_view programVersion,
                           std::string_view device, std::time_t started, std::string& error) {
    Close();
    // Only a regular file is replaced: a recording written to a device or a FIFO would be lost
    // (or would wait for a reader), so those are refused before they are opened.
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) {
        error = "Could not record to " + path + ": not a regular file";
        return false;
    }
    const int fd = ::open(path.c_str(),
                          O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = "Could not record to " + path + ": " + std::strerror(errno);
        return false;
    }
    fd_ = fd;
    path_ = path;
    if (::fstat(fd_, &status) != 0 || !S_ISREG(status.st_mode)) {
        Close();
        error = "Could not record to " + path + ": not a regular file";
        return false;
    }
    const std::string head = "# sorvell " + OneLine(programVersion) + " recording\n# device " +
                             OneLine(device) + "\n# started " + StartTime(started) + "\n" +
                             std::string(RecordingHeader()) + "\n";
    return WriteAll(head, error);
}

bool RecordingWriter::WriteCycle(long long cycle, long long msX,
                                 std::span<const std::uint8_t, RecordedSamples> x, long long msY,
                                 std::span<const std::uint8_t, RecordedSamples> y,
                                 std::string& error) {
    if (fd_ < 0) {
        error = "Could not record: no recording is open";
        return false;
    }
    RecordedBlock block;
    block.cycle = cycle;
    block.axis = 'X';
    block.ms = msX;
    std::copy(x.begin(), x.end(), block.samples.begin());
    std::size_t length = FormatRecordedRow(block, buffer_);
    block.axis = 'Y';
    block.ms = msY;
    std::copy(y.begin(), y.end(), block.samples.begin());
    length += FormatRecordedRow(block, std::span(buffer_).subspan(length));
    return WriteAll(std::string_view(buffer_.data(), length), error);
}

bool RecordingWriter::WriteAll(std::string_view bytes, std::string& error) {
    while (!bytes.empty()) {
        const ssize_t wrote = ::write(fd_, bytes.data(), bytes.size());
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            error = "Could not write " + path_ + ": " + std::strerror(wrote < 0 ? errno : ENOSPC) +
                    "; the recording stops here";
            Close();
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(wrote));
    }
    return true;
}

void RecordingWriter::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}
