#include "Profile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "ComDeviceMap.h"
#include "DataExchange.h"
#include "FileAccess.h"
#include "ProfileText.h"

namespace {

constexpr int FirstComNumber = 1;
constexpr int LastComNumber = 16;

std::string Reason(int error) {
    return std::strerror(error);
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
    const FileOutcome outcome = ReadRegularFile(path, MaxBytes, contents.bytes, &contents.status);
    switch (outcome.kind) {
        case FileOutcome::Kind::Done:
            contents.exists = true;
            contents.usable = true;
            break;
        case FileOutcome::Kind::NotRegular:
            problem_ = path + " is not a regular file";
            break;
        case FileOutcome::Kind::TooLarge:
            problem_ = path + " is larger than 1 MB";
            break;
        case FileOutcome::Kind::System:
            if (outcome.error == ENOENT) {
                contents.usable = true;  // not written yet
            } else {
                problem_ = path + " cannot be read (" + Reason(outcome.error) + ")";
            }
            break;
    }
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

    // The file replaced keeps its permissions and owner.
    if (const int failure = ReplaceFileAtomically(target, bytes, ForeignOwner::Refuse);
        failure != 0) {
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
