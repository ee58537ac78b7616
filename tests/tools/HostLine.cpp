#include "HostLine.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

bool HostLine::Open(const std::string& path) {
    Close();
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        return false;
    }
    termios tio{};
    if (tcgetattr(fd_, &tio) != 0) {
        Close();
        return false;
    }
    cfmakeraw(&tio);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (tcsetattr(fd_, TCSANOW, &tio) != 0) {
        Close();
        return false;
    }
    return true;
}

void HostLine::Close() {
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
}

bool HostLine::SetSpeed(unsigned baud) {
    return SetSlaveSpeed(fd_, baud);
}

bool HostLine::Write(const std::string& bytes) {
    return write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

std::vector<HostLine::TimedByte> HostLine::ReadCount(std::size_t count,
                                                     std::chrono::milliseconds timeout) {
    std::vector<TimedByte> out;
    const Clock::time_point end = Clock::now() + timeout;
    while (out.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
        if (left.count() < 0) {
            break;
        }
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count()) + 1) <= 0 || (p.revents & POLLIN) == 0) {
            if ((p.revents & (POLLHUP | POLLERR)) != 0) {
                break;
            }
            continue;
        }
        std::uint8_t buffer[256];
        const std::size_t want = std::min(sizeof buffer, count - out.size());
        const ssize_t n = read(fd_, buffer, want);
        const Clock::time_point now = Clock::now();
        for (ssize_t i = 0; i < n; ++i) {
            out.push_back({now, buffer[i]});
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            break;
        }
    }
    return out;
}

bool HostLine::WaitForHangUp(std::chrono::milliseconds timeout) {
    const Clock::time_point end = Clock::now() + timeout;
    while (Clock::now() < end) {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, 20) > 0) {
            if ((p.revents & (POLLHUP | POLLERR)) != 0) {
                return true;
            }
            std::uint8_t buffer[256];
            const ssize_t n = read(fd_, buffer, sizeof buffer);
            if (n < 0 && errno == EIO) {
                return true;
            }
        }
    }
    return false;
}
