// The application profile: an INI file that keeps the COM port number between runs and, in its
// [Ports] section, the device path behind each COM number on this system. The file is the
// user's: a write changes the one value in place and keeps every other byte (comments, order,
// other sections, line ends, permissions, owner), through a temporary file renamed over it.
// Only a regular file of at most 1 MB (a symbolic link to one is followed) is read or written;
// anything else is left alone, and the defaults are used.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

#include "ComDeviceMap.h"

class Profile {
  public:
    // The section and entry of the saved COM port number, and the section of the device map.
    static constexpr const char* AppSection = "MySorvellAp";
    static constexpr const char* ComPortEntry = "SorvellComPort";
    static constexpr const char* PortsSection = "Ports";
    // The saved port number when the profile holds none.
    static constexpr int DefaultComNumber = 3;

    explicit Profile(std::string path);

    // $XDG_CONFIG_HOME/sorvell.ini when that variable holds an absolute path, else
    // ~/.config/sorvell.ini ($HOME, else the account's home folder).
    static std::string DefaultPath();

    const std::string& Path() const { return path_; }

    // The largest profile that is read.
    static constexpr std::size_t MaxBytes = 1024 * 1024;

    // The value of entry in section as a signed integer; defaultValue when the entry is missing
    // or does not hold an integer (blanks around it are accepted), and when the file is left
    // alone.
    int GetInt(const char* section, const char* entry, int defaultValue) const;

    // Writes the value in place. Answers whether the file now holds it; a file that already does
    // is not touched.
    bool WriteInt(const char* section, const char* entry, int value);

    // One value of a write: entry of section becomes text.
    struct Value {
        std::string section;
        std::string entry;
        std::string text;
    };
    // Writes every value in place, in one replacement of the file, so that the file holds all of
    // them or none. Answers whether it now holds them; a file that already does is not touched.
    // A text that a line of the file cannot hold as it stands (a line break, or a blank or quote
    // at either end) is refused, the file left alone.
    bool WriteValues(const std::vector<Value>& values);

    // A port chosen in the Port Selection dialog: COM<comNumber>=devicePath in [Ports] and
    // comNumber as the saved port number, in one write.
    bool WritePortChoice(int comNumber, const std::string& devicePath);

    // Why the last read or write left the file alone, naming it ("... is not a regular file");
    // empty when the file was used or is simply not there yet.
    const std::string& Problem() const { return problem_; }

    struct PortMapping {
        int comNumber = 0;
        std::string devicePath;
    };
    // The [Ports] section ("COM3=/dev/ttyUSB0"). Entries whose key is no COM number of the COM
    // range (HighestComNumber) or whose path is empty are left out, each with a line in warnings.
    std::vector<PortMapping> ReadPortMappings(std::vector<std::string>& warnings) const;

  private:
    struct Contents;
    Contents Load() const;

    std::string path_;
    mutable std::string problem_;
};

// The COM number a start connects on, given the saved one: a saved number above the COM range
// (1000 after "Terminate Program") starts on the default port; any other is tried as it is, so
// one below the range fails its attempt and the Port Selection dialog asks for another.
constexpr int StartComNumber(int saved) {
    return saved > HighestComNumber ? Profile::DefaultComNumber : saved;
}

// Hands the profile's [Ports] section to the serial layer's COM device map; every entry left out
// is reported on warnings. Answers the number of mappings loaded.
int LoadComDeviceMap(const Profile& profile, std::ostream& warnings);
