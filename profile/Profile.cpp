#include "Profile.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>
#include <utility>

#include "ComDeviceMap.h"
#include "FileAccess.h"
#include "NumberText.h"
#include "ProfileText.h"

namespace {

std::string Reason(int error) {
    return std::strerror(error);
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

bool AllDigits(std::string_view text) {
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

bool StartsWithCom(std::string_view key) {
    if (key.size() <= 3) {
        return false;
    }
    for (std::size_t i = 0; i < 3; ++i) {
        if (std::toupper(static_cast<unsigned char>(key[i])) != "COM"[i]) {
            return false;
        }
    }
    return true;
}

// Whether text can be a value as it stands: the profile's lines end at a line break, and blanks
// and one pair of quotes around a value are not part of it.
bool FitsOnProfileLine(std::string_view text) {
    if (text.find_first_of("\r\n") != std::string_view::npos) {
        return false;
    }
    const auto edge = [](char c) { return IsBlank(c) || c == '"' || c == '\''; };
    return text.empty() || (!edge(text.front()) && !edge(text.back()));
}

// The home folder: $HOME, else the account's, else the root folder.
std::string HomeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        return home;
    }
    if (const passwd* account = getpwuid(getuid());
        account != nullptr && account->pw_dir != nullptr && *account->pw_dir != '\0') {
        return account->pw_dir;
    }
    return "/";
}

}  // namespace

// What the file held when it was read.
struct Profile::Contents {
    bool usable = false;  // false: left alone, problem_ says why
    bool exists = false;
    struct stat status {};
    std::string bytes;
};

Profile::Profile(std::string path) : path_(std::move(path)) {}

std::string Profile::DefaultPath() {
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    std::string directory;
    if (configHome != nullptr && configHome[0] == '/') {
        directory = configHome;
    } else {
        directory = HomeFolder() + "/.config";
    }
    return directory + "/sorvell.ini";
}

Profile::Contents Profile::Load() const {
    Contents contents;
    problem_.clear();
    const std::string& path = path_;
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
    const std::optional<int> number = ParseNumber<int>(*value, NumberForms::ProfileValue);
    return number ? *number : defaultValue;
}

bool Profile::WriteInt(const char* section, const char* entry, int value) {
    return WriteValues({Value{section, entry, std::to_string(value)}});
}

bool Profile::WritePortChoice(int comNumber, const std::string& devicePath) {
    return WriteValues({Value{PortsSection, "COM" + std::to_string(comNumber), devicePath},
                        Value{AppSection, ComPortEntry, std::to_string(comNumber)}});
}

bool Profile::WriteValues(const std::vector<Value>& values) {
    const Contents contents = Load();
    if (!contents.usable) {
        return false;
    }
    const std::string& path = path_;
    const auto refuse = [&](const std::string& why) {
        problem_ = path + " " + why;
        return false;
    };
    std::string bytes = contents.bytes;
    for (const Value& value : values) {
        if (!FitsOnProfileLine(value.text)) {
            return refuse("cannot hold \"" + value.text + "\" as a value of [" + value.section +
                          "]");
        }
        bytes = ApplyProfileEdit(bytes,
                                 PlanProfileWrite(bytes, value.section, value.entry, value.text));
    }

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
        // The configuration folder may not be there yet; should it not be made, the write below
        // says why.
        std::error_code ignored;
        std::filesystem::create_directories(
            std::filesystem::absolute(std::filesystem::path(path), ignored).parent_path(), ignored);
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
        std::optional<int> number;
        if (StartsWithCom(name) && AllDigits(std::string_view(name).substr(3))) {
            number = ParseNumber<int>(std::string_view(name).substr(3), NumberForms::Exact);
        }
        if (!number) {
            warnings.push_back("[Ports] " + name +
                               " ignored: keys are COM followed by a port number");
        } else if (!IsComNumber(*number)) {
            warnings.push_back("[Ports] " + name + " ignored: COM numbers run from 1 to " +
                               std::to_string(HighestComNumber));
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
        warnings << "sorvell: " << profile.Path() << ": " << problem << '\n';
    }
    if (!profile.Problem().empty()) {
        warnings << "sorvell: " << profile.Problem() << "; the defaults are used\n";
    }
    for (const Profile::PortMapping& mapping : mappings) {
        SetComDevicePath(mapping.comNumber, mapping.devicePath);
    }
    return static_cast<int>(mappings.size());
}
