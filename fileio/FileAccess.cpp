#include "FileAccess.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <utility>

#include "UniqueFd.h"

namespace {

FileOutcome Failed(FileOutcome::Kind kind, int error = 0) {
    return FileOutcome{kind, error};
}

// The rest of fd appended to text; TooLarge as soon as text would exceed maxBytes.
FileOutcome ReadToEnd(int fd, std::size_t maxBytes, std::string& text) {
    char buffer[8192];
    while (true) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return Failed(FileOutcome::Kind::System, errno);
        }
        if (n == 0) {
            return FileOutcome{};
        }
        if (text.size() + static_cast<std::size_t>(n) > maxBytes) {
            return Failed(FileOutcome::Kind::TooLarge);
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
}

// Answers 0 once all of bytes is written, else the errno of the write that failed.
int WriteAll(int fd, std::string_view bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return n < 0 ? errno : EIO;
        }
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

// A new file beside target that nobody else has: ".<name>.<suffix>", mode 0666 less the umask.
int CreateTemporary(const std::string& target, std::string& temporary) {
    const std::size_t slash = target.rfind('/');
    const std::string directory = slash == std::string::npos ? "." : target.substr(0, slash);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    const auto seed = static_cast<unsigned long long>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, "%lx%llx", static_cast<unsigned long>(getpid()),
                      (seed + attempt * 7919ULL) & 0xFFFFFFULL);
        temporary = directory + "/." + name + "." + suffix;
        const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    errno = EEXIST;
    return -1;
}

// Gives the new file the permissions of the one it replaces and, should that be another's (root
// saving a user's file), its owner; when the system will not give it away, foreignOwner says
// whether the file becomes the writer's. Answers 0 or the errno of the call that failed.
int TakeOverPermissionsAndOwner(int fd, const struct stat& previous, ForeignOwner foreignOwner) {
    if (fchmod(fd, previous.st_mode & 07777) != 0) {
        return errno;
    }
    if ((previous.st_uid != geteuid() || previous.st_gid != getegid()) &&
        fchown(fd, previous.st_uid, previous.st_gid) != 0 &&
        !(errno == EPERM && foreignOwner == ForeignOwner::TakeOver)) {
        return errno;
    }
    return 0;
}

}  // namespace

FileOutcome ReadRegularFile(const std::string& path, std::size_t maxBytes, std::string& bytes,
                            struct stat* status) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        return Failed(FileOutcome::Kind::System, errno);
    }
    if (!S_ISREG(info.st_mode)) {
        return Failed(FileOutcome::Kind::NotRegular);
    }
    if (static_cast<std::uintmax_t>(info.st_size) > maxBytes) {
        return Failed(FileOutcome::Kind::TooLarge);
    }
    // Without blocking: should the path have become a FIFO since, the open must not wait.
    const UniqueFd fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.Get() < 0) {
        return Failed(FileOutcome::Kind::System, errno);
    }
    if (fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return Failed(FileOutcome::Kind::NotRegular);
    }
    std::string text;
    text.reserve(static_cast<std::size_t>(info.st_size));
    const FileOutcome read = ReadToEnd(fd.Get(), maxBytes, text);
    if (read.Ok()) {
        bytes = std::move(text);
        if (status != nullptr) {
            *status = info;
        }
    }
    return read;
}

int ReplaceFileAtomically(const std::string& path, std::string_view bytes,
                          ForeignOwner foreignOwner) {
    struct stat previous {};
    const bool replacing = stat(path.c_str(), &previous) == 0;
    std::string temporary;
    UniqueFd fd(CreateTemporary(path, temporary));
    if (fd.Get() < 0) {
        return errno;
    }
    int failure = replacing ? TakeOverPermissionsAndOwner(fd.Get(), previous, foreignOwner) : 0;
    if (failure == 0) {
        failure = WriteAll(fd.Get(), bytes);
    }
    if (failure == 0 && fsync(fd.Get()) != 0) {
        failure = errno;
    }
    if (close(fd.Release()) != 0 && failure == 0) {
        failure = errno;
    }
    if (failure == 0 && rename(temporary.c_str(), path.c_str()) != 0) {
        failure = errno;
    }
    if (failure != 0) {
        unlink(temporary.c_str());
    }
    return failure;
}
