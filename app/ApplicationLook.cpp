#include "ApplicationLook.h"

#include <QApplication>
#include <QPainter>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QStyleOption>

#include "DialogUnits.h"

namespace {

// Gap between a group box's left edge and its title, and around the title in the frame line.
constexpr int GroupTitleIndent = 6;
constexpr int GroupTitleGap = 2;

// Fusion, fitted to layouts made in dialog units: the radio indicator and its gap no wider than
// the layout leaves for them (a 43-unit radio button is 65 pixels wide and "Max Limit" takes 49
// of them), and group boxes whose frame line runs through the middle of their title, so that the
// controls placed just below the title stand clear of the frame.
class CompactStyle final : public QProxyStyle {
  public:
    CompactStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}

    QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option,
                         SubControl subControl, const QWidget* widget) const override {
        const QRect rect = QProxyStyle::subControlRect(control, option, subControl, widget);
        if (control != CC_GroupBox) {
            return rect;
        }
        const QRect title = QProxyStyle::subControlRect(control, option, SC_GroupBoxLabel, widget);
        switch (subControl) {
            case SC_GroupBoxLabel:
                return rect.translated(GroupTitleIndent, 0);
            case SC_GroupBoxFrame: {
                QRect frame = option->rect;
                frame.setTop(title.center().y());
                return frame;
            }
            default:
                return rect;
        }
    }

    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                            QPainter* painter, const QWidget* widget) const override {
        const auto* box = qstyleoption_cast<const QStyleOptionGroupBox*>(option);
        if (control != CC_GroupBox || box == nullptr || box->text.isEmpty()) {
            QProxyStyle::drawComplexControl(control, option, painter, widget);
            return;
        }
        // An etched frame first, broken where the title stands, then the title.
        const QRect title = subControlRect(control, option, SC_GroupBoxLabel, widget)
                                .adjusted(-GroupTitleGap, 0, GroupTitleGap, 0);
        if (box->subControls & SC_GroupBoxFrame) {
            const QRect frame = subControlRect(control, option, SC_GroupBoxFrame, widget);
            painter->save();
            painter->setClipRegion(QRegion(option->rect).subtracted(QRegion(title)));
            painter->setPen(box->palette.color(QPalette::Mid));
            painter->drawRect(frame.adjusted(0, 0, -2, -2));
            painter->setPen(box->palette.color(QPalette::Light));
            painter->drawRect(frame.adjusted(1, 1, -1, -1));
            painter->restore();
        }
        QStyleOptionGroupBox titleOnly(*box);
        titleOnly.subControls = box->subControls & ~SC_GroupBoxFrame;
        QProxyStyle::drawComplexControl(control, &titleOnly, painter, widget);
    }

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
    font.setPixelSize(DialogFontPixels);
    return font;
}

void ApplyApplicationLook() {
    QApplication::setStyle(new CompactStyle);
    QApplication::setFont(DialogFont());
    QApplication::setWindowIcon(ApplicationIcon());
}
