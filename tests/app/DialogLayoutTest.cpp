// The main dialog's window, controls, texts, positions, tab order and defaults.
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QStyleOption>
#include <algorithm>
#include <map>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "DialogFixture.h"

namespace {

QString Trimmed(const QString& text) {
    QString result = text;
    while (result.endsWith(QLatin1Char(' '))) {
        result.chop(1);
    }
    return result;
}

// The room the style gives a button's text, and the width the text (trailing blanks aside) needs.
std::pair<int, int> TextRoom(QAbstractButton* button, QStyle::SubElement contents) {
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    const QRect room = button->style()->subElementRect(contents, &option, button);
    return {QFontMetrics(button->font()).horizontalAdvance(Trimmed(button->text())), room.width()};
}

}  // namespace

TEST_F(DialogTest, WindowIsAFixed480By325ClientAreaWithCaptionAndNoMinimiseOrMaximise) {
    EXPECT_EQ(dialog_.windowTitle(), QStringLiteral("Sorvell Vibration Analysis"));
    EXPECT_EQ(dialog_.size(), QSize(480, 325));
    EXPECT_EQ(dialog_.minimumSize(), QSize(480, 325));
    EXPECT_EQ(dialog_.maximumSize(), QSize(480, 325));
    const Qt::WindowFlags flags = dialog_.windowFlags();
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_TRUE(flags & Qt::WindowTitleHint);
    EXPECT_TRUE(dialog_.hasMouseTracking());
}

TEST_F(DialogTest, ControlsWithIdsStandAtTheirTemplatePositionsInPixels) {
    const std::map<int, std::pair<QString, QRect>> expected = {
        {IDC_MAXLIMIT, {QStringLiteral("Max Limit"), QRect(158, 275, 65, 16)}},
        {IDC_MINLIMIT, {QStringLiteral("Min Limit"), QRect(158, 294, 65, 16)}},
        {IDC_AUTOSET, {QStringLiteral("Auto-set Limits"), QRect(315, 288, 89, 21)}},
        {IDC_MARGIN, {QString(), QRect(420, 289, 26, 20)}},
        {IDC_STEPSIZE, {QString(), QRect(239, 289, 26, 20)}},
        {IDC_LIVEDATA, {QStringLiteral("Live Data  "), QRect(15, 273, 65, 16)}},
        {IDC_ERRORDATA, {QStringLiteral("Error Data "), QRect(15, 293, 69, 16)}},
        {IDC_RESET, {QStringLiteral("Reset"), QRect(92, 288, 44, 21)}},
    };
    for (const auto& [id, textAndRect] : expected) {
        QWidget* control = dialog_.Control(id);
        ASSERT_NE(control, nullptr) << id;
        EXPECT_EQ(control->geometry(), textAndRect.second) << id;
        if (auto* button = qobject_cast<QAbstractButton*>(control)) {
            EXPECT_EQ(button->text(), textAndRect.first) << id;
        }
    }
    EXPECT_TRUE(qobject_cast<QPushButton*>(dialog_.Control(IDC_AUTOSET)));
    EXPECT_TRUE(qobject_cast<QPushButton*>(dialog_.Control(IDC_RESET)));
    EXPECT_NE(Edit(IDC_MARGIN), nullptr);
    EXPECT_NE(Edit(IDC_STEPSIZE), nullptr);
    EXPECT_EQ(dialog_.Control(1003), nullptr);
}

TEST_F(DialogTest, StaticTextsAndGroupBoxesHaveTheirExactTextsAndPositions) {
    using Placed = std::tuple<std::string, int, int, int, int>;
    std::vector<Placed> labels;
    for (QLabel* label : dialog_.findChildren<QLabel*>()) {
        const QRect r = label->geometry();
        labels.emplace_back(label->text().toStdString(), r.x(), r.y(), r.width(), r.height());
    }
    std::sort(labels.begin(), labels.end());
    std::vector<Placed> expectedLabels = {
        {"Y-Axis", 359, 229, 36, 13}, {"X-Axis", 96, 229, 38, 13}, {"40Hz", 2, 229, 38, 13},
        {"900Hz", 183, 229, 38, 13},  {"dB", 449, 294, 14, 13},    {"Step size:", 236, 273, 60, 13},
        {"dB", 267, 294, 14, 13},     {"40Hz", 261, 229, 38, 13},  {"900Hz", 443, 229, 36, 13},
        {"\u00b1", 405, 293, 12, 13},
    };
    std::sort(expectedLabels.begin(), expectedLabels.end());
    EXPECT_EQ(labels, expectedLabels);
    for (QLabel* label : dialog_.findChildren<QLabel*>()) {
        const bool sign = label->text() == QString::fromUtf8("\u00b1");
        EXPECT_EQ(label->alignment() & Qt::AlignHorizontal_Mask,
                  sign ? Qt::AlignRight : Qt::AlignLeft)
            << label->text().toStdString();
    }

    std::map<QString, QRect> groups;
    for (QGroupBox* box : dialog_.findChildren<QGroupBox*>()) {
        groups.emplace(box->title(), box->geometry());
    }
    EXPECT_EQ(groups,
              (std::map<QString, QRect>{
                  {QStringLiteral("Limit Update - Right-click to increase, left-click to decrease"),
                   QRect(152, 257, 318, 60)},
                  {QStringLiteral("Display data: "), QRect(11, 257, 132, 60)}}));
}

TEST_F(DialogTest, EveryControlTextFitsItsControl) {
    for (QLabel* label : dialog_.findChildren<QLabel*>()) {
        const QFontMetrics metrics(label->font());
        EXPECT_LE(metrics.horizontalAdvance(label->text()), label->width())
            << label->text().toStdString();
        EXPECT_LE(metrics.height(), label->height()) << label->text().toStdString();
    }
    for (QRadioButton* radio : dialog_.findChildren<QRadioButton*>()) {
        const auto [needed, room] = TextRoom(radio, QStyle::SE_RadioButtonContents);
        EXPECT_LE(needed, room) << radio->text().toStdString();
        EXPECT_LE(QFontMetrics(radio->font()).height(), radio->height());
    }
    for (QPushButton* button : dialog_.findChildren<QPushButton*>()) {
        const auto [needed, room] = TextRoom(button, QStyle::SE_PushButtonContents);
        EXPECT_LE(needed, room) << button->text().toStdString();
    }
    for (QGroupBox* box : dialog_.findChildren<QGroupBox*>()) {
        QStyleOptionGroupBox option;
        option.initFrom(box);
        option.text = box->title();
        option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
        option.textAlignment = box->alignment();
        option.lineWidth = 1;
        const QRect label = box->style()->subControlRect(QStyle::CC_GroupBox, &option,
                                                         QStyle::SC_GroupBoxLabel, box);
        const QFontMetrics metrics(box->font());
        EXPECT_LE(metrics.horizontalAdvance(Trimmed(box->title())), label.width())
            << box->title().toStdString();
        EXPECT_LE(label.right(), box->width()) << box->title().toStdString();
    }
}

TEST_F(DialogTest, TabVisitsTheTabStopsInTemplateOrderAndPassesTheRadioButtons) {
    std::vector<int> order;
    QWidget* start = dialog_.Control(IDC_AUTOSET);
    QWidget* widget = start;
    do {
        for (const int id : {IDC_AUTOSET, IDC_MARGIN, IDC_STEPSIZE, IDC_RESET, IDC_MAXLIMIT,
                             IDC_MINLIMIT, IDC_LIVEDATA, IDC_ERRORDATA}) {
            if (dialog_.Control(id) == widget && (widget->focusPolicy() & Qt::TabFocus)) {
                order.push_back(id);
            }
        }
        widget = widget->nextInFocusChain();
    } while (widget != start);
    EXPECT_EQ(order, (std::vector<int>{IDC_AUTOSET, IDC_MARGIN, IDC_STEPSIZE, IDC_RESET}));
    EXPECT_EQ(Radio(IDC_MAXLIMIT)->focusPolicy(), Qt::ClickFocus);
}

TEST_F(DialogTest, NoPushButtonIsTheDefault) {
    ShowInitialised();
    for (QPushButton* button : dialog_.findChildren<QPushButton*>()) {
        EXPECT_FALSE(button->isDefault()) << button->text().toStdString();
        EXPECT_FALSE(button->autoDefault()) << button->text().toStdString();
    }
}

TEST_F(DialogTest, InitialisationShowsTheDefaultsAndFocusesTheFirstTabStop) {
    ShowActive();
    EXPECT_EQ(Edit(IDC_MARGIN)->text(), QStringLiteral("5"));
    EXPECT_EQ(Edit(IDC_STEPSIZE)->text(), QStringLiteral("6"));
    EXPECT_TRUE(Radio(IDC_MAXLIMIT)->isChecked());
    EXPECT_FALSE(Radio(IDC_MINLIMIT)->isChecked());
    EXPECT_TRUE(Radio(IDC_LIVEDATA)->isChecked());
    EXPECT_FALSE(Radio(IDC_ERRORDATA)->isChecked());
    EXPECT_EQ(QApplication::focusWidget(), dialog_.Control(IDC_AUTOSET));
    EXPECT_EQ(dialog_.m_fAutoSetMargin, 5.0f);
    EXPECT_EQ(dialog_.m_nLimitSelect, 0);
    EXPECT_EQ(dialog_.m_nStepSize, 6);
    EXPECT_EQ(dialog_.m_nDisplaySelect, 0);
}

TEST_F(DialogTest, RadioGroupsAreSeparate) {
    ShowInitialised();
    Radio(IDC_ERRORDATA)->click();
    EXPECT_TRUE(Radio(IDC_MAXLIMIT)->isChecked());
    EXPECT_FALSE(Radio(IDC_LIVEDATA)->isChecked());
    Radio(IDC_MINLIMIT)->click();
    EXPECT_TRUE(Radio(IDC_ERRORDATA)->isChecked());
    EXPECT_FALSE(Radio(IDC_MAXLIMIT)->isChecked());
    // A member outside its group's range pushes no check at all and pulls back as -1.
    dialog_.m_nLimitSelect = 5;
    dialog_.UpdateData(false);
    EXPECT_FALSE(Radio(IDC_MAXLIMIT)->isChecked());
    EXPECT_FALSE(Radio(IDC_MINLIMIT)->isChecked());
    EXPECT_TRUE(dialog_.UpdateData(true));
    EXPECT_EQ(dialog_.m_nLimitSelect, -1);
}

TEST_F(DialogTest, WindowAndAboutBoxCarryIcon128InBothSizes) {
    ShowInitialised();
    const QList<QSize> sizes = dialog_.windowIcon().availableSizes();
    EXPECT_TRUE(sizes.contains(QSize(16, 16)));
    EXPECT_TRUE(sizes.contains(QSize(32, 32)));
    EXPECT_FALSE(dialog_.windowIcon().pixmap(16, 16).isNull());
}
