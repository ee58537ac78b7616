#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

// The host's end of the simulator's line, driven with plain POSIX calls (not with the program's
// serial library), so that the simulator and the library each check the other.
class HostLine {
  public:
    using Clock = std::chrono::steady_clock;

    struct TimedByte {
        Clock::time_point time;
        std::uint8_t value;
    };

    HostLine() = default;
    ~HostLine() { Close(); }
    HostLine(const HostLine&) = delete;
    HostLine& operator=(const HostLine&) = delete;

    // Opens the slave non-blocking in raw mode; false on failure.
    bool Open(const std::string& path);
    void Close();
    // Sets any line speed on the slave side (termios2), as the program's platform layer does.
    bool SetSpeed(unsigned baud);
    bool Write(const std::string& bytes);

    // Reads until `count` bytes have come or `timeout` passed; each byte with its arrival time.
    std::vector<TimedByte> ReadCount(std::size_t count, std::chrono::milliseconds timeout);
    // True when the line reports a hang-up (the module closed its side) within `timeout`.
    bool WaitForHangUp(std::chrono::milliseconds timeout);

  private:
    int fd_ = -1;
};

// termios2 access for the slave side; in a source file of its own (it clashes with <termios.h>).
bool SetSlaveSpeed(int fd, unsigned baud);
