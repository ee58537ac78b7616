// A pseudo-terminal pair for serial tests: the slave is mapped to a COM number, the test plays
// the far end on the master.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>

#include "ComDeviceMap.h"
#include "PtyLineSpeed.h"
#include "WaitUntil.h"

class PtyPair {
  public:
    explicit PtyPair(int comNumber = 0) : comNumber_(comNumber) {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
            return;
        }
        char name[128];
        if (ptsname_r(master_, name, sizeof name) != 0) {
            return;
        }
        slavePath_ = name;
        fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
        if (comNumber_ > 0) {
            SetComDevicePath(comNumber_, slavePath_);
        }
    }
    ~PtyPair() {
        HangUp();
        if (comNumber_ > 0) {
            SetComDevicePath(comNumber_, "");
        }
    }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ok() const { return master_ >= 0 && !slavePath_.empty(); }
    int master() const { return master_; }
    const std::string& slavePath() const { return slavePath_; }

    // Sends bytes from the far end.
    bool Send(const std::string& bytes) {
        return write(master_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }

    // Collects what the near end sent until `count` bytes have come or 5 s have passed.
    std::string Receive(std::size_t count) {
        std::string got;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
            char buffer[256];
            const ssize_t n = read(master_, buffer, sizeof buffer);
            if (n > 0) {
                got.append(buffer, static_cast<std::size_t>(n));
            } else {
                pollfd p{master_, POLLIN, 0};
                poll(&p, 1, 10);
            }
        }
        return got;
    }

    // The line speed that the near end set, read on the far end.
    unsigned Speed() const {
        unsigned baud = 0;
        ReadHostLineSpeed(master_, &baud);
        return baud;
    }

    void HangUp() {
        if (master_ >= 0) {
            close(master_);
            master_ = -1;
        }
    }

  private:
    int comNumber_;
    int master_ = -1;
    std::string slavePath_;
};
