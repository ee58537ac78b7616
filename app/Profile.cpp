#include "Profile.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStringList>
#include <QVariant>
#include <utility>

#include "ComDeviceMap.h"
#include "DataExchange.h"

namespace {

QString Key(const char* section, const char* entry) {
    return QString::fromUtf8(section) + QLatin1Char('/') + QString::fromUtf8(entry);
}

// An INI value as text; QSettings splits values with commas into lists, which are joined back.
QString ValueText(const QVariant& value) {
    if (value.typeId() == QMetaType::QStringList) {
        return value.toStringList().join(QLatin1Char(','));
    }
    return value.toString();
}

constexpr int FirstComNumber = 1;
constexpr int LastComNumber = 16;

}  // namespace

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

int Profile::GetInt(const char* section, const char* entry, int defaultValue) const {
    const QSettings settings(path_, QSettings::IniFormat);
    const QVariant value = settings.value(Key(section, entry));
    if (!value.isValid()) {
        return defaultValue;
    }
    const std::optional<int> number = ParseIntText(ValueText(value).toStdString());
    return number ? *number : defaultValue;
}

bool Profile::WriteInt(const char* section, const char* entry, int value) {
    QDir().mkpath(QFileInfo(path_).absolutePath());
    QSettings settings(path_, QSettings::IniFormat);
    settings.setValue(Key(section, entry), value);
    settings.sync();
    return settings.status() == QSettings::NoError;
}

std::vector<Profile::PortMapping> Profile::ReadPortMappings(
    std::vector<std::string>& warnings) const {
    std::vector<PortMapping> mappings;
    QSettings settings(path_, QSettings::IniFormat);
    settings.beginGroup(QString::fromUtf8(PortsSection));
    const QStringList keys = settings.childKeys();
    for (const QString& key : keys) {
        const std::string name = key.toStdString();
        const std::string path = ValueText(settings.value(key)).trimmed().toStdString();
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
    for (const Profile::PortMapping& mapping : mappings) {
        SetComDevicePath(mapping.comNumber, mapping.devicePath);
    }
    return static_cast<int>(mappings.size());
}
