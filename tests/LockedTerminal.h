#pragma once

// A terminal device that the test user may not open, as /dev/ttyS* are for a user outside the
// dialout group: a pseudo-terminal whose slave is root's with no access for others (for root,
// which opens anything, its permissions are 0600 and the check is run as another user).

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

class LockedTerminal {
  public:
    LockedTerminal() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
            return;
        }
        path_ = ptsname(master_);
        if (chmod(path_.c_str(), geteuid() == 0 ? 0600 : 0) != 0) {
            path_.clear();
        }
    }
    LockedTerminal(const LockedTerminal&) = delete;
    LockedTerminal& operator=(const LockedTerminal&) = delete;
    ~LockedTerminal() {
        if (master_ >= 0) {
            close(master_);
        }
    }

    // The slave's path; empty when the terminal could not be made so.
    const std::string& Path() const { return path_; }

  private:
    int master_ = -1;
    std::string path_;
};
