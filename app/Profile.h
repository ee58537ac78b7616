// The application profile: an INI file that keeps the COM port number between runs and, in its
// [Ports] section, the device path behind each COM number on this system.
#pragma once

#include <QString>
#include <ostream>
#include <string>
#include <vector>

class Profile {
  public:
    // The section and entry of the saved COM port number, and the section of the device map.
    static constexpr const char* AppSection = "MySorvellAp";
    static constexpr const char* ComPortEntry = "SorvellComPort";
    static constexpr const char* PortsSection = "Ports";

    explicit Profile(QString path);

    // $XDG_CONFIG_HOME/sorvell.ini when that variable holds an absolute path, else
    // ~/.config/sorvell.ini.
    static QString DefaultPath();

    const QString& Path() const { return path_; }

    // The value of entry in section as a signed integer; defaultValue when the entry is missing
    // or does not hold an integer (blanks around it are accepted).
    int GetInt(const char* section, const char* entry, int defaultValue) const;

    // Writes the value, replacing the file atomically. Answers whether the file was written.
    bool WriteInt(const char* section, const char* entry, int value);

    struct PortMapping {
        int comNumber = 0;
        std::string devicePath;
    };
    // The [Ports] section ("COM3=/dev/ttyUSB0"). Entries whose key is not COM1 to COM16 or whose
    // path is empty are left out, each with a line in warnings.
    std::vector<PortMapping> ReadPortMappings(std::vector<std::string>& warnings) const;

  private:
    QString path_;
};

// Hands the profile's [Ports] section to the serial layer's COM device map; every entry left out
// is reported on warnings. Answers the number of mappings loaded.
int LoadComDeviceMap(const Profile& profile, std::ostream& warnings);
