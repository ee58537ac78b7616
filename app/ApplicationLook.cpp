#include "ApplicationLook.h"

#include <QApplication>
#include <QProxyStyle>
#include <QStyleFactory>

#include "Resources.h"

// Resource registration must be named from the global namespace.
static void RegisterResources() {
    Q_INIT_RESOURCE(sorvell);
}

namespace {

// Fusion, with the radio indicator and its gap no wider than the dialogs' 8-point layout leaves
// for them (a 43-unit radio button is 65 pixels wide and "Max Limit" takes 49 of them).
class CompactStyle final : public QProxyStyle {
  public:
    CompactStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}

    int pixelMetric(PixelMetric metric, const QStyleOption* option,
                    const QWidget* widget) const override {
        switch (metric) {
            case PM_ExclusiveIndicatorWidth:
            case PM_ExclusiveIndicatorHeight:
                return 12;
            case PM_RadioButtonLabelSpacing:
                return 3;
            default:
                return QProxyStyle::pixelMetric(metric, option, widget);
        }
    }
};

}  // namespace

QFont DialogFont() {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(10);
    return font;
}

QIcon ApplicationIcon() {
    RegisterResources();
    QIcon icon;
    icon.addFile(QString::fromLatin1(IconImage16), QSize(16, 16));
    icon.addFile(QString::fromLatin1(IconImage32), QSize(32, 32));
    return icon;
}

void ApplyApplicationLook() {
    QApplication::setStyle(new CompactStyle);
    QApplication::setFont(DialogFont());
    QApplication::setWindowIcon(ApplicationIcon());
}
