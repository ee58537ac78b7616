// The program's one owner of a file descriptor: closes it on every way out of the scope that
// holds it, unless it was handed over with Release.
#pragma once

#include <unistd.h>

#include <utility>

class UniqueFd {
  public:
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const { return fd_; }
    // Hands the descriptor over; the guard then closes nothing.
    int Release() { return std::exchange(fd_, -1); }

  private:
    int fd_;
};
