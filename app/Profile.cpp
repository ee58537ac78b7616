#include "Profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "ComDeviceMap.h"
#include "DataExchange.h"
#include "ProfileText.h"

namespace {

constexpr int FirstComNumber = 1;
constexpr int LastComNumber = 16;

std::string Reason(int error) {
    return std::strerror(error);
}

// Closes a descriptor when it goes out of scope.
class Descriptor {
  public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return fd_; }
    int Release() { return std::exchange(fd_, -1); }

  private:
    int fd_;
};

bool WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
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

// Puts bytes in place of target through a new file beside it, renamed over it; the file that
// was there (its status given) keeps its permissions and owner. Answers false with the errno
// of the step that failed in failure.
bool ReplaceFile(const std::string& target, const std::string& bytes, const struct stat* previous,
                 int& failure) {
    std::string temporary;
    Descriptor fd(CreateTemporary(target, temporary));
    if (fd.Get() < 0) {
        failure = errno;
        return false;
    }
    bool written = true;
    if (previous != nullptr) {
        written = fchmod(fd.Get(), previous->st_mode & 07777) == 0;
        // Another owner's file (root saving a user's profile) stays that owner's.
        if (written && (previous->st_uid != geteuid() || previous->st_gid != getegid())) {
            written = fchown(fd.Get(), previous->st_uid, previous->st_gid) == 0;
        }
    }
    written = written && WriteAll(fd.Get(), bytes) && fsync(fd.Get()) == 0;
    const int error = errno;
    written = close(fd.Release()) == 0 && written;
    if (!written || rename(temporary.c_str(), target.c_str()) != 0) {
        failure = written ? errno : error;
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace

// What the file held when it was read.
struct Profile::Contents {
    bool usable = false;  // false: left alone, problem_ says why
    bool exists = false;
    struct stat status {};
    std::string bytes;
};

Profile::Profile(QString path) : path_(std::move(path)) {}

QString Profile::DefaultPath() {
    const QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    QString directory;
    if (!configHome.isEmpty() && QDir::isAbsolutePath(configHome)) {
        directory = configHome;
    } else {
        directory = QDir::homePath() + QStringLiteral("/.config");
    }
    return directory + QStringLiteral("/sorvell.ini");
}

Profile::Contents Profile::Load() const {
    Contents contents;
    problem_.clear();
    const std::string path = path_.toStdString();
    const auto refuse = [&](const std::string& why) {
        problem_ = path + " " + why;
        return std::move(contents);
    };
    if (stat(path.c_str(), &contents.status) != 0) {
        if (errno == ENOENT) {
            contents.usable = true;  // not written yet
            return contents;
        }
        return refuse("cannot be read (" + Reason(errno) + ")");
    }
    if (!S_ISREG(contents.status.st_mode)) {
        return refuse("is not a regular file");
    }
    if (static_cast<std::uintmax_t>(contents.status.st_size) > MaxBytes) {
        return refuse("is larger than 1 MB");
    }
    // Without blocking: should the path have become a FIFO since, the open must not wait.
    const Descriptor fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.Get() < 0) {
        return refuse("cannot be read (" + Reason(errno) + ")");
    }
    if (fstat(fd.Get(), &contents.status) != 0 || !S_ISREG(contents.status.st_mode)) {
        return refuse("is not a regular file");
    }
    std::string bytes(MaxBytes + 1, '\0');
    std::size_t size = 0;
    while (size < bytes.size()) {
        const ssize_t n = read(fd.Get(), bytes.data() + size, bytes.size() - size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return refuse("cannot be read (" + Reason(errno) + ")");
        }
        if (n == 0) {
            break;
        }
        size += static_cast<std::size_t>(n);
    }
    if (size > MaxBytes) {
        return refuse("is larger than 1 MB");
    }
    bytes.resize(size);
    contents.bytes = std::move(bytes);
    contents.exists = true;
    contents.usable = true;
    return contents;
}

int Profile::GetInt(const char* section, const char* entry, int defaultValue) const {
    const Contents contents = Load();
    if (!contents.exists) {
        return defaultValue;
    }
    const std::optional<std::string> value = FindProfileValue(contents.bytes, section, entry);
    if (!value) {
        return defaultValue;
    }
    const std::optional<int> number = ParseIntText(*value);
    return number ? *number : defaultValue;
}

bool Profile::WriteInt(const char* section, const char* entry, int value) {
    const Contents contents = Load();
    if (!contents.usable) {
        return false;
    }
    const std::string path = path_.toStdString();
    const auto refuse = [&](const std::string& why) {
        problem_ = path + " " + why;
        return false;
    };
    const std::string text = FormatIntText(value);
    const std::string bytes =
        ApplyProfileEdit(contents.bytes, PlanProfileWrite(contents.bytes, section, entry, text));

    // The file that gets replaced: the one a symbolic link leads to, not the link.
    std::string target = path;
    if (contents.exists) {
        if (bytes == contents.bytes) {
            return true;
        }
        if ((contents.status.st_mode & 0222) == 0 || access(path.c_str(), W_OK) != 0) {
            return refuse("is read-only");
        }
        if (char* resolved = realpath(path.c_str(), nullptr)) {
            target = resolved;
            std::free(resolved);
        } else {
            return refuse("cannot be written (" + Reason(errno) + ")");
        }
    } else {
        struct stat link {};
        if (lstat(path.c_str(), &link) == 0) {
            return refuse("is a symbolic link to a file that does not exist");
        }
        QDir().mkpath(QFileInfo(path_).absolutePath());
    }

    int failure = 0;
    if (!ReplaceFile(target, bytes, contents.exists ? &contents.status : nullptr, failure)) {
        return refuse("cannot be written (" + Reason(failure) + ")");
    }
    return true;
}

std::vector<Profile::PortMapping> Profile::ReadPortMappings(
    std::vector<std::string>& warnings) const {
    std::vector<PortMapping> mappings;
    const Contents contents = Load();
    if (!contents.exists) {
        return mappings;
    }
    for (const auto& [name, path] : ProfileSectionEntries(contents.bytes, PortsSection)) {
        const QString key = QString::fromStdString(name);
        std::optional<int> number;
        if (key.size() > 3 && key.left(3).compare(QLatin1String("COM"), Qt::CaseInsensitive) == 0) {
            const QString digits = key.mid(3);
            bool allDigits = true;
            for (QChar c : digits) {
                allDigits = allDigits && c >= QLatin1Char('0') && c <= QLatin1Char('9');
            }
            if (allDigits) {
                number = ParseIntText(digits.toStdString());
            }
        }
        if (!number) {
            warnings.push_back("[Ports] " + name +
                               " ignored: keys are COM followed by a port number");
        } else if (*number < FirstComNumber || *number > LastComNumber) {
            warnings.push_back("[Ports] " + name + " ignored: COM numbers run from 1 to 16");
        } else if (path.empty()) {
            warnings.push_back("[Ports] " + name + " ignored: no device path given");
        } else {
            mappings.push_back(PortMapping{*number, path});
        }
    }
    return mappings;
}

int LoadComDeviceMap(const Profile& profile, std::ostream& warnings) {
    std::vector<std::string> problems;
    const std::vector<Profile::PortMapping> mappings = profile.ReadPortMappings(problems);
    for (const std::string& problem : problems) {
        warnings << "sorvell: " << profile.Path().toStdString() << ": " << problem << '\n';
    }
    if (!profile.Problem().empty()) {
        warnings << "sorvell: " << profile.Problem() << "; the defaults are used\n";
    }
    for (const Profile::PortMapping& mapping : mappings) {
        SetComDevicePath(mapping.comNumber, mapping.devicePath);
    }
    return static_cast<int>(mappings.size());
}
