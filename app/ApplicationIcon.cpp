#include "ApplicationIcon.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSize>

#include "Resources.h"

// Resource registration must be named from the global namespace.
static void RegisterResources() {
    Q_INIT_RESOURCE(sorvell);
}

namespace {

// The sizes that packaging/CMakeLists.txt installs in the desktop's icon theme.
constexpr int InstalledSizes[] = {16, 24, 32, 48, 64, 128, 256};

QString BuiltInImage(int size) {
    switch (size) {
        case 16:
            return QString::fromLatin1(IconImage16);
        case 32:
            return QString::fromLatin1(IconImage32);
        default:
            return {};
    }
}

}  // namespace

QIcon ApplicationIconFor(const QString& programFolder) {
    RegisterResources();
    const QString theme = programFolder + QStringLiteral("/../share/icons/hicolor/");
    QIcon icon;
    for (const int size : InstalledSizes) {
        QString file = theme + QStringLiteral("%1x%1/apps/sorvell.png").arg(size);
        if (!QFileInfo::exists(file)) {
            file = BuiltInImage(size);
        }
        if (!file.isEmpty()) {
            icon.addFile(file, QSize(size, size));
        }
    }
    return icon;
}

QIcon ApplicationIcon() {
    return ApplicationIconFor(QCoreApplication::applicationDirPath());
}
