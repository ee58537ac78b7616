// The main dialog at work: initialisation order, data exchange, keys, About box, painting,
// the pointer and the buttons of limit editing, and the services it gives the module side.
#include <sys/stat.h>

#include <QAction>
#include <QDeadlineTimer>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <cmath>
#include <utility>

#include "AboutDialog.h"
#include "DialogFixture.h"
#include "DialogUnits.h"
#include "PortSelectionDialog.h"

namespace {

// x of the left plot's bar of bin 17 and a y inside the plots' active area.
constexpr int Bin17X = 100;
constexpr int InsideY = 150;

// Counts the paints of one widget.
class PaintCounter : public QObject {
  public:
    explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override {
        count += event->type() == QEvent::Paint ? 1 : 0;
        return false;
    }
    int count = 0;
};

}  // namespace

TEST_F(DialogTest, InitialisationRunsInItsOrderBeforeTheWindowShows) {
    bool visibleAtConnect = true;
    bool timerAtConnect = true;
    double limitAtConnect = 0.0;
    double errorAtConnect = 0.0;
    session_.onConnect = [&](ModuleHost&) {
        visibleAtConnect = dialog_.isVisible();
        timerAtConnect = dialog_.IsTimerRunning();
        limitAtConnect = store_.maxLimitX[5];
        errorAtConnect = store_.errorY[199];
    };
    // The first tick ends the dialog, as after "Terminate Program".
    session_.onTimer = [&](ModuleHost& host) { host.KillTimerAndClose(); };
    const int result = dialog_.DoModal();

    EXPECT_EQ(session_.calls, (std::vector<std::string>{"ConnectAtStartup"}));
    EXPECT_FALSE(visibleAtConnect);
    EXPECT_FALSE(timerAtConnect);
    EXPECT_EQ(limitAtConnect, 15.0);
    EXPECT_EQ(errorAtConnect, -139.0);
    EXPECT_EQ(session_.ticks, 1);
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_FALSE(dialog_.IsTimerRunning());
    EXPECT_FALSE(dialog_.isVisible());
    ASSERT_NE(dialog_.AboutAction(), nullptr);
    EXPECT_EQ(dialog_.AboutAction()->text(), QStringLiteral("&About Sorvell..."));
}

TEST_F(DialogTest, TimerTicksReachTheSessionEvery50Milliseconds) {
    ShowInitialised();
    EXPECT_TRUE(dialog_.IsTimerRunning());
    // Generous: at least three ticks within five seconds on a busy machine.
    EXPECT_TRUE(TicksPass(3));
}

TEST_F(DialogTest, InvalidMarginIsReportedAndStopsTheExchangeThere) {
    ShowInitialised();
    Edit(IDC_MARGIN)->setText(QStringLiteral("abc"));
    Edit(IDC_STEPSIZE)->setText(QStringLiteral("9"));
    Radio(IDC_MINLIMIT)->click();
    Radio(IDC_ERRORDATA)->click();
    EXPECT_FALSE(dialog_.UpdateData(true));
    EXPECT_EQ(messages_, (std::vector<std::string>{"Please enter a number."}));
    EXPECT_EQ(dialog_.m_fAutoSetMargin, 5.0f);
    EXPECT_EQ(dialog_.m_nLimitSelect, 0);
    EXPECT_EQ(dialog_.m_nStepSize, 6);
    EXPECT_EQ(dialog_.m_nDisplaySelect, 0);
    EXPECT_EQ(dialog_.focusWidget(), Edit(IDC_MARGIN));
    EXPECT_EQ(Edit(IDC_MARGIN)->selectedText(), QStringLiteral("abc"));
}

TEST_F(DialogTest, InvalidStepKeepsWhatWasPulledBeforeIt) {
    ShowInitialised();
    Edit(IDC_MARGIN)->setText(QStringLiteral(" 2.5 "));
    Radio(IDC_MINLIMIT)->click();
    Edit(IDC_STEPSIZE)->setText(QStringLiteral("6.5"));
    Radio(IDC_ERRORDATA)->click();
    EXPECT_FALSE(dialog_.UpdateData(true));
    EXPECT_EQ(messages_, (std::vector<std::string>{"Please enter an integer."}));
    EXPECT_EQ(dialog_.m_fAutoSetMargin, 2.5f);
    EXPECT_EQ(dialog_.m_nLimitSelect, 1);
    EXPECT_EQ(dialog_.m_nStepSize, 6);
    EXPECT_EQ(dialog_.m_nDisplaySelect, 0);
    EXPECT_EQ(dialog_.focusWidget(), Edit(IDC_STEPSIZE));

    Edit(IDC_STEPSIZE)->setText(QStringLiteral("-3 "));
    EXPECT_TRUE(dialog_.UpdateData(true));
    EXPECT_EQ(dialog_.m_nStepSize, -3);
    EXPECT_EQ(dialog_.m_nDisplaySelect, 1);
    EXPECT_EQ(messages_.size(), 1u);
}

TEST_F(DialogTest, EscapeEndsTheDialogAsCancel) {
    ShowActive();
    Edit(IDC_MARGIN)->setText(QStringLiteral("not checked on cancel"));
    QTest::keyClick(&dialog_, Qt::Key_Escape);
    EXPECT_FALSE(dialog_.isVisible());
    EXPECT_EQ(dialog_.result(), QDialog::Rejected);
    EXPECT_FALSE(dialog_.IsTimerRunning());
    EXPECT_TRUE(messages_.empty());
}

TEST_F(DialogTest, CloseEndsTheDialogAsCancel) {
    ShowInitialised();
    dialog_.close();
    EXPECT_FALSE(dialog_.isVisible());
    EXPECT_EQ(dialog_.result(), QDialog::Rejected);
    EXPECT_FALSE(dialog_.IsTimerRunning());
}

TEST_F(DialogTest, EnterInAnEditAppliesItAndKeepsTheWindowOpen) {
    ShowActive();
    Hover(QPoint(Bin17X, InsideY));
    ASSERT_EQ(store_.selectedBin, 17);
    store_.maxLimitX[17] = 0.0;
    QLineEdit* step = Edit(IDC_STEPSIZE);
    step->setFocus();
    step->setText(QStringLiteral("x"));
    QTest::keyClick(step, Qt::Key_Return);
    EXPECT_TRUE(dialog_.isVisible());
    EXPECT_EQ(messages_, (std::vector<std::string>{"Please enter an integer."}));

    step->setText(QStringLiteral("2"));
    QTest::keyClick(step, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_TRUE(dialog_.isVisible());
    EXPECT_TRUE(dialog_.IsTimerRunning());
    EXPECT_EQ(dialog_.m_nStepSize, 2);
    QTest::mouseClick(&dialog_, Qt::RightButton, Qt::NoModifier, QPoint(Bin17X, InsideY));
    EXPECT_EQ(store_.maxLimitX[17], 2.0);
    EXPECT_EQ(messages_.size(), 1u);

    // Enter anywhere else (here on a radio button) still ends the dialog as OK.
    Radio(IDC_MINLIMIT)->setFocus();
    QTest::keyClick(Radio(IDC_MINLIMIT), Qt::Key_Return);
    EXPECT_FALSE(dialog_.isVisible());
    EXPECT_EQ(dialog_.result(), QDialog::Accepted);
}

TEST_F(DialogTest, EnterOnAPushButtonPressesIt) {
    ShowActive();
    store_.errorX[9] = -20.0;
    auto* reset = qobject_cast<QPushButton*>(dialog_.Control(IDC_RESET));
    reset->setFocus();
    QTest::keyClick(reset, Qt::Key_Return);
    EXPECT_TRUE(dialog_.isVisible());
    EXPECT_EQ(store_.errorX[9], -139.0);
}

TEST_F(DialogTest, F1OpensTheAboutBoxModally) {
    ShowActive();
    QString title;
    QStringList texts;
    bool okIsDefault = false;
    QSize size;
    QTimer::singleShot(0, [&] {
        auto* about = qobject_cast<CAboutDialog*>(QApplication::activeModalWidget());
        if (about == nullptr) {
            return;
        }
        title = about->windowTitle();
        size = about->size();
        for (QLabel* label : about->findChildren<QLabel*>()) {
            texts << label->text();
        }
        for (QPushButton* button : about->findChildren<QPushButton*>()) {
            okIsDefault = button->text() == QStringLiteral("OK") && button->isDefault();
        }
        about->accept();
    });
    QTest::keyClick(&dialog_, Qt::Key_F1);
    EXPECT_EQ(title, QStringLiteral("About Sorvell"));
    EXPECT_TRUE(texts.contains(QStringLiteral("Sorvell Version 1.0")));
    EXPECT_TRUE(texts.contains(QString::fromUtf8(AboutSecondLineText)));
    EXPECT_TRUE(okIsDefault);
    EXPECT_EQ(size, QSize(353, 89));
    EXPECT_TRUE(dialog_.isVisible());
}

TEST_F(DialogTest, AboutCommandIgnoresTheLowFourBits) {
    int opened = 0;
    const auto closeAbout = [&] {
        if (auto* about = qobject_cast<CAboutDialog*>(QApplication::activeModalWidget())) {
            ++opened;
            about->reject();
        }
    };
    QTimer::singleShot(0, closeAbout);
    dialog_.OnSysCommand(31);
    QTimer::singleShot(0, closeAbout);
    dialog_.OnSysCommand(16);
    dialog_.OnSysCommand(32);  // no About box: nothing to close
    EXPECT_EQ(opened, 2);
}

TEST_F(DialogTest, GrabbedWindowShowsDefaultLimitLinesAndZeroDbBars) {
    ShowInitialised();
    store_.liveX[7] = 3.0;
    const QImage image = Grab();
    ASSERT_EQ(image.size(), QSize(480, 325));
    // Limit lines at +15 dB (y = 65) and -120 dB (y = 206) in both plots, between bars.
    for (const int x : {12, 50, 200, 272, 400}) {
        EXPECT_EQ(image.pixel(x, 65), BlackPixel) << x;
        EXPECT_EQ(image.pixel(x, 206), BlackPixel) << x;
    }
    // 0 dB bars 3 pixels wide, from the foot (y = 225) up to y = 79.
    for (const int x : {8, 100, 207, 268, 467}) {
        for (const int dx : {-1, 0, 1}) {
            EXPECT_EQ(image.pixel(x + dx, 79), GreenPixel) << x + dx;
            EXPECT_EQ(image.pixel(x + dx, 150), GreenPixel) << x + dx;
            EXPECT_EQ(image.pixel(x + dx, 225), GreenPixel) << x + dx;
            EXPECT_EQ(image.pixel(x + dx, 78), WhitePixel) << x + dx;
        }
        EXPECT_EQ(image.pixel(x - 2, 150), WhitePixel) << x;
        EXPECT_EQ(image.pixel(x + 2, 150), WhitePixel) << x;
    }
    // Frames, grid and the window colour around the plots.
    EXPECT_EQ(image.pixel(4, 100), BlackPixel);
    EXPECT_EQ(image.pixel(215, 100), BlackPixel);
    EXPECT_EQ(image.pixel(12, 101), GridPixel);
    EXPECT_EQ(image.pixel(310, 143), GridPixel);
    EXPECT_EQ(image.pixel(2, 30), dialog_.palette().color(QPalette::Window).rgb());
    // The paint cleared the live spectra.
    EXPECT_EQ(store_.liveX[7], 0.0);
}

TEST_F(DialogTest, MinimisedWindowPaintsOnlyTheIconCentred) {
    ShowInitialised();
    store_.liveX[7] = 3.0;
    dialog_.setWindowState(Qt::WindowMinimized);
    ASSERT_TRUE(dialog_.isMinimized());
    const QImage image = Grab();
    EXPECT_EQ(store_.liveX[7], 3.0);
    // (480 - 32 + 1) / 2 = 224, (325 - 32 + 1) / 2 = 147: the icon's navy frame starts there.
    const QRgb tile = qRgb(0x1E, 0x3C, 0x78);
    EXPECT_EQ(image.pixel(225, 147), tile);
    EXPECT_EQ(image.pixel(224, 148), tile);
    EXPECT_EQ(image.pixel(254, 178), tile);
    EXPECT_NE(image.pixel(223, 160), tile);
    EXPECT_NE(image.pixel(256, 160), tile);
    EXPECT_NE(image.pixel(8, 150), GreenPixel);
}

TEST_F(DialogTest, HoveringABarDrawsItRedAndLatchesNothing) {
    ShowInitialised();
    store_.shownX[17] = 18.0;  // above the upper limit: would latch if not under the pointer
    Hover(QPoint(Bin17X + 1, InsideY));
    EXPECT_EQ(store_.hoverX[17], 1);
    EXPECT_EQ(store_.selectedBin, 17);
    EXPECT_EQ(store_.selectedPlot, PlotX);
    // Nothing is drawn until the next paint.
    QImage image = Grab();
    EXPECT_EQ(image.pixel(Bin17X, InsideY), RedPixel);
    EXPECT_EQ(image.pixel(Bin17X - 8, InsideY), GreenPixel);  // bin 16
    EXPECT_EQ(store_.errorX[17], -139.0);

    // Leaving the plots clears the flag and keeps the selection; now the bar latches.
    Hover(QPoint(Bin17X, 240));
    EXPECT_EQ(store_.hoverX[17], 0);
    EXPECT_EQ(store_.selectedBin, 17);
    image = Grab();
    EXPECT_EQ(image.pixel(Bin17X, InsideY), RedPixel);
    EXPECT_EQ(store_.errorX[17], 18.0);
}

TEST_F(DialogTest, RightClickRaisesTheSelectedUpperLimitAndTheLineMovesAtTheNextPaint) {
    ShowInitialised();
    Hover(QPoint(Bin17X, InsideY));
    QImage image = Grab();
    EXPECT_EQ(image.pixel(Bin17X - 1, 65), BlackPixel);
    QTest::mouseClick(&dialog_, Qt::RightButton, Qt::NoModifier, QPoint(Bin17X, InsideY));
    EXPECT_EQ(store_.maxLimitX[17], 19.0);  // 15 + 6, stopped at 19
    EXPECT_EQ(store_.maxLimitX[16], 15.0);
    // +19 dB lies at y = 61.
    image = Grab();
    EXPECT_EQ(image.pixel(Bin17X - 1, 61), BlackPixel);
    EXPECT_EQ(image.pixel(Bin17X - 1, 65), WhitePixel);
    EXPECT_EQ(image.pixel(Bin17X - 9, 65), BlackPixel);  // bin 16 unchanged

    // A left click anywhere in the client area lowers the same bin.
    QTest::mouseClick(&dialog_, Qt::LeftButton, Qt::NoModifier, QPoint(30, 20));
    EXPECT_EQ(store_.maxLimitX[17], 13.0);
    EXPECT_TRUE(messages_.empty());
}

TEST_F(DialogTest, ClickWithAnInvalidStepReportsItAndUsesThePreviousStep) {
    ShowInitialised();
    Hover(QPoint(300, InsideY));  // right plot, bin 9
    ASSERT_EQ(store_.selectedPlot, PlotY);
    ASSERT_EQ(store_.selectedBin, 9);
    Radio(IDC_MINLIMIT)->click();
    Edit(IDC_STEPSIZE)->setText(QStringLiteral("3"));
    QTest::mouseClick(&dialog_, Qt::RightButton, Qt::NoModifier, QPoint(300, InsideY));
    EXPECT_EQ(store_.minLimitY[9], -117.0);
    Edit(IDC_STEPSIZE)->setText(QStringLiteral("abc"));
    QTest::mouseClick(&dialog_, Qt::RightButton, Qt::NoModifier, QPoint(300, InsideY));
    EXPECT_EQ(messages_, (std::vector<std::string>{"Please enter an integer."}));
    EXPECT_EQ(store_.minLimitY[9], -114.0);
    EXPECT_EQ(store_.maxLimitY[9], 15.0);
}

TEST_F(DialogTest, AutoSetAndResetThroughTheirButtons) {
    ShowInitialised();
    store_.shownX[10] = -50.0;
    store_.shownY[3] = 17.0;
    store_.errorX[9] = -20.0;
    store_.errorY[30] = -1.0;
    Edit(IDC_MARGIN)->setText(QStringLiteral("2.5"));
    QTest::mouseClick(dialog_.Control(IDC_AUTOSET), Qt::LeftButton);
    EXPECT_EQ(dialog_.m_fAutoSetMargin, 2.5f);
    EXPECT_EQ(store_.maxLimitX[10], -47.5);
    EXPECT_EQ(store_.minLimitX[10], -52.5);
    EXPECT_EQ(store_.maxLimitY[3], 19.0);
    EXPECT_EQ(store_.minLimitY[3], 14.5);
    EXPECT_EQ(store_.maxLimitX[32], 15.0);
    EXPECT_EQ(store_.errorX[9], -20.0);

    QTest::mouseClick(dialog_.Control(IDC_RESET), Qt::LeftButton);
    EXPECT_EQ(store_.errorX[9], -139.0);
    EXPECT_EQ(store_.errorY[30], -139.0);
    EXPECT_EQ(store_.maxLimitX[10], -47.5);
    EXPECT_TRUE(messages_.empty());
}

TEST_F(DialogTest, AutoSetWithAnInvalidMarginReportsItAndUsesThePreviousMargin) {
    ShowInitialised();
    store_.shownX[12] = 0.0;
    Edit(IDC_MARGIN)->setText(QString());
    QTest::mouseClick(dialog_.Control(IDC_AUTOSET), Qt::LeftButton);
    EXPECT_EQ(messages_, (std::vector<std::string>{"Please enter a number."}));
    EXPECT_EQ(store_.maxLimitX[12], 5.0);
    EXPECT_EQ(store_.minLimitX[12], -5.0);
}

TEST_F(DialogTest, ErrorDataViewIsChosenByThePaintsOwnExchange) {
    ShowInitialised();
    store_.errorX[20] = -30.0;
    store_.shownX[20] = 0.0;
    Radio(IDC_ERRORDATA)->click();
    Grab();
    EXPECT_EQ(dialog_.m_nDisplaySelect, 1);
    EXPECT_EQ(store_.shownX[20], -30.0);
}

TEST_F(DialogTest, TypingANegativeMarginThroughPaintsRaisesNoBoxAndAutoSetUsesIt) {
    ShowActive();
    store_.shownX[12] = 0.0;
    QLineEdit* margin = Edit(IDC_MARGIN);
    margin->setFocus();
    margin->selectAll();
    QTest::keyClicks(margin, QStringLiteral("-"));
    Radio(IDC_ERRORDATA)->setChecked(true);
    // Paints and acquisition ticks while "-" stands in the edit: the pull stops at the margin,
    // so neither the margin nor the display choice after it is taken, and nothing is reported.
    EXPECT_TRUE(TicksPass(3));
    Grab();
    Grab();
    QApplication::processEvents();
    EXPECT_TRUE(messages_.empty());
    EXPECT_EQ(dialog_.m_fAutoSetMargin, 5.0f);
    EXPECT_EQ(dialog_.m_nDisplaySelect, 0);
    EXPECT_EQ(margin->text(), QStringLiteral("-"));

    QTest::keyClicks(margin, QStringLiteral("7"));
    EXPECT_EQ(margin->text(), QStringLiteral("-7"));
    Radio(IDC_ERRORDATA)->setChecked(false);
    Radio(IDC_LIVEDATA)->setChecked(true);
    QTest::mouseClick(dialog_.Control(IDC_AUTOSET), Qt::LeftButton);
    EXPECT_TRUE(messages_.empty());
    EXPECT_EQ(dialog_.m_fAutoSetMargin, -7.0f);
    EXPECT_EQ(store_.maxLimitX[12], -7.0);
    EXPECT_EQ(store_.minLimitX[12], 7.0);
}

TEST_F(DialogTest, TextLeftRefusedIsReportedOnceForAutoSetAndOnceOnLeavingTheEdit) {
    ShowActive();
    store_.shownX[12] = 0.0;
    QLineEdit* margin = Edit(IDC_MARGIN);
    margin->setFocus();
    margin->setText(QStringLiteral("1e"));
    Grab();
    // Auto-set takes the focus from the edit and reports the text itself, once.
    QTest::mouseClick(dialog_.Control(IDC_AUTOSET), Qt::LeftButton);
    QApplication::processEvents();
    EXPECT_EQ(messages_, (std::vector<std::string>{"Please enter a number."}));
    EXPECT_EQ(store_.maxLimitX[12], 5.0);
    EXPECT_EQ(dialog_.focusWidget(), margin);
    EXPECT_EQ(margin->selectedText(), QStringLiteral("1e"));

    // Leaving the edit with the text still refused reports it once more, after the move.
    QTest::keyClick(margin, Qt::Key_Tab);
    EXPECT_TRUE(QTest::qWaitFor([&] { return messages_.size() == 2; }, 2000));
    EXPECT_EQ(messages_.back(), "Please enter a number.");
    EXPECT_EQ(dialog_.focusWidget(), margin);
    Grab();
    ASSERT_TRUE(TicksPass(2));
    EXPECT_EQ(messages_.size(), 2u);

    // Mended before leaving: nothing to report.
    margin->setText(QStringLiteral("3"));
    QTest::keyClick(margin, Qt::Key_Tab);
    ASSERT_TRUE(TicksPass(2));
    EXPECT_EQ(messages_.size(), 2u);

    // Going back to "Auto-set Limits" with the keyboard presses nothing: that leaving counts.
    margin->setFocus();
    margin->setText(QStringLiteral("x"));
    QTest::keyClick(margin, Qt::Key_Backtab);
    EXPECT_TRUE(QTest::qWaitFor([&] { return messages_.size() == 3; }, 2000));
}

TEST_F(DialogTest, LeavingTheWindowFromABarClearsItsHoverAndItLatchesAgain) {
    ShowInitialised();
    Hover(QPoint(208, InsideY));  // bin 31 of the left plot
    ASSERT_EQ(store_.hoverX[31], 1);
    store_.hoverY[20] = 1;  // as left by a jump across the plots
    // The window system reports the pointer gone, with no move inside the window before it.
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(dialog_.windowHandle(), &leave);
    EXPECT_EQ(store_.hoverX[31], 0);
    EXPECT_EQ(store_.hoverY[20], 0);
    EXPECT_EQ(store_.selectedBin, 31);

    store_.shownX[31] = 50.0;
    const QImage image = Grab();
    EXPECT_EQ(store_.errorX[31], 50.0);
    EXPECT_EQ(image.pixel(207, 225), RedPixel);  // its error mark
}

TEST_F(DialogTest, HostServicesForTheModuleSide) {
    ShowInitialised();
    dialog_.MessageBox("Could not open port.");
    EXPECT_EQ(messages_, (std::vector<std::string>{"Could not open port."}));

    // One pump dispatches what is pending: a posted call and the repaint asked for.
    bool called = false;
    QTimer::singleShot(0, &dialog_, [&] { called = true; });
    store_.liveY[40] = 2.0;
    dialog_.InvalidateClient();
    // The window system may hold a repaint back for a few milliseconds: pump as the acquisition
    // cycle does, one pass at a time and nothing else, for up to two seconds.
    QDeadlineTimer deadline(2000);
    while ((!called || store_.liveY[40] != 0.0) && !deadline.hasExpired()) {
        dialog_.PumpOneMessage();
        QThread::yieldCurrentThread();
    }
    EXPECT_TRUE(called);
    EXPECT_EQ(store_.liveY[40], 0.0);

    EXPECT_EQ(dialog_.GetProfileInt("MySorvellAp", "SorvellComPort", 3), 3);
    dialog_.WriteProfileInt("MySorvellAp", "SorvellComPort", 11);
    EXPECT_EQ(dialog_.GetProfileInt("MySorvellAp", "SorvellComPort", 3), 11);
    EXPECT_EQ(Profile(profile_.Path()).GetInt("MySorvellAp", "SorvellComPort", 3), 11);
}

TEST_F(DialogTest, AProfileLeftAloneIsReportedOnceNamingItsPath) {
    const QString fifo = dir_.path() + QStringLiteral("/fifo.ini");
    ASSERT_EQ(mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    Profile profile(fifo.toStdString());
    CVibrationDialog dialog(store_, session_, profile, ports_);
    EXPECT_EQ(dialog.GetProfileInt("MySorvellAp", "SorvellComPort", 3), 3);
    dialog.WriteProfileInt("MySorvellAp", "SorvellComPort", 5);
    EXPECT_EQ(dialog.GetProfileInt("MySorvellAp", "SorvellComPort", 3), 3);
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0], fifo.toStdString() +
                                " is not a regular file. Sorvell leaves it alone: the default port "
                                "is used and no port number is saved.");
}

TEST_F(DialogTest, PortSelectionDialogRunsModallyOnThePortNumber) {
    int portNumber = 7;
    bool shown = false;
    QTimer::singleShot(0, [&] {
        if (auto* port = qobject_cast<CPortSelectionDialog*>(QApplication::activeModalWidget())) {
            shown = true;
            port->reject();
        }
    });
    dialog_.RunPortSelectionDialog(portNumber);
    EXPECT_TRUE(shown);
    EXPECT_EQ(portNumber, 7);
}

TEST_F(DialogTest, AControlRedrawingItselfDoesNotRunThePlotsPaint) {
    ShowActive();
    QApplication::processEvents();
    // A paint would clear the live value and latch the shown one.
    store_.liveX[7] = 1.0;
    store_.shownX[7] = 50.0;
    for (const int id : {IDC_AUTOSET, IDC_MARGIN, IDC_STEPSIZE, IDC_RESET, IDC_MAXLIMIT}) {
        dialog_.Control(id)->update();
    }
    for (QLabel* label : dialog_.findChildren<QLabel*>()) {
        label->update();
    }
    Radio(IDC_ERRORDATA)->click();
    // The caret blinks in the focused edit: wait until the edit has been redrawn for the focus
    // and then twice for the caret.
    PaintCounter stepPaints(Edit(IDC_STEPSIZE));
    Edit(IDC_STEPSIZE)->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return stepPaints.count >= 3; }, 5000));
    EXPECT_EQ(store_.liveX[7], 1.0);
    EXPECT_EQ(store_.errorX[7], -139.0);

    // Invalidating the dialog itself does run it.
    dialog_.update();
    EXPECT_TRUE(QTest::qWaitFor([&] { return store_.liveX[7] == 0.0; }, 5000));
}

TEST_F(DialogTest, PointerInputOverAControlIsTheControlsOwn) {
    ShowInitialised();
    Hover(QPoint(Bin17X, InsideY));
    ASSERT_EQ(store_.hoverX[17], 1);

    // Right clicks that buttons and radio buttons pass on raise no limit.
    for (const int id : {IDC_AUTOSET, IDC_RESET, IDC_MAXLIMIT, IDC_ERRORDATA, IDC_STEPSIZE}) {
        QTest::mouseClick(dialog_.Control(id), Qt::RightButton);
    }
    EXPECT_EQ(store_.maxLimitX[17], 15.0);
    // Entering a control takes the pointer off the bar; the selection stays.
    QTest::mouseMove(dialog_.Control(IDC_AUTOSET), QPoint(5, 5));
    QApplication::processEvents();
    EXPECT_EQ(store_.hoverX[17], 0);
    EXPECT_EQ(store_.selectedBin, 17);

    // Static texts and group boxes take no pointer input: a click there is the dialog's.
    Hover(QPoint(Bin17X, 240));  // on the "X-Axis" text
    EXPECT_EQ(store_.hoverX[17], 0);
    QTest::mouseClick(&dialog_, Qt::RightButton, Qt::NoModifier, QPoint(Bin17X, 240));
    EXPECT_EQ(store_.maxLimitX[17], 19.0);
    const QPoint groupBoxTitle(DialogUnitsToPixelsX(200), DialogUnitsToPixelsY(159));
    ASSERT_EQ(dialog_.childAt(groupBoxTitle), nullptr);
    QTest::mouseClick(&dialog_, Qt::LeftButton, Qt::NoModifier, groupBoxTitle);
    EXPECT_EQ(store_.maxLimitX[17], 13.0);
}

TEST_F(DialogTest, ErrorMarksAndErrorDataStubsCoverTheirRowsOnScreen) {
    ShowInitialised();
    store_.errorX[6] = -20.0;  // bar at x = 16
    QImage image = Grab();
    // The mark runs from y = 225 up to y = 222 over the green foot of the 0 dB bar.
    for (const int y : {222, 223, 224, 225}) {
        EXPECT_EQ(image.pixel(16, y), RedPixel) << y;
    }
    EXPECT_EQ(image.pixel(16, 221), GreenPixel);
    EXPECT_EQ(image.pixel(8, 222), GreenPixel);  // bin 5 holds no error

    // In the Error Data view a bin with nothing latched (-139.0) is a red stub from y = 225 to
    // y = 224.
    Radio(IDC_ERRORDATA)->click();
    image = Grab();
    EXPECT_EQ(image.pixel(8, 225), RedPixel);
    EXPECT_EQ(image.pixel(8, 224), RedPixel);
    EXPECT_EQ(image.pixel(8, 223), WhitePixel);
    EXPECT_EQ(store_.errorX[5], -139.0);
}

TEST_F(DialogTest, ADoubleClickDeliveredAfterItsOwnPressStepsOnce) {
    ShowInitialised();
    const QPoint point(Bin17X, InsideY);
    Hover(point);
    ASSERT_EQ(store_.selectedBin, 17);
    store_.maxLimitX[17] = 0.0;
    const QPoint global = dialog_.mapToGlobal(point);
    for (const auto& [button, expected] :
         {std::pair{Qt::RightButton, 6.0}, std::pair{Qt::LeftButton, 0.0}}) {
        QMouseEvent press(QEvent::MouseButtonPress, point, global, button, button, Qt::NoModifier);
        QApplication::sendEvent(&dialog_, &press);
        QMouseEvent release(QEvent::MouseButtonRelease, point, global, button, Qt::NoButton,
                            Qt::NoModifier);
        QApplication::sendEvent(&dialog_, &release);
        QMouseEvent doubleClick(QEvent::MouseButtonDblClick, point, global, button, button,
                                Qt::NoModifier);
        QApplication::sendEvent(&dialog_, &doubleClick);
        QApplication::sendEvent(&dialog_, &release);
        EXPECT_EQ(store_.maxLimitX[17], expected);
    }
}

TEST_F(DialogTest, EveryPressStepsTheLimitHoweverQuicklyItFollows) {
    ShowInitialised();
    QWindow* window = dialog_.windowHandle();
    const QPoint point(Bin17X, InsideY);
    const QPoint global = dialog_.mapToGlobal(point);
    // Time stamps of our own, far from those of other tests, so that the window system's
    // double-click detection sees presses exactly 150 ms apart.
    int time = 50'000'000;
    // A move to where the pointer already is would be dropped: come from elsewhere.
    for (const QPoint at : {QPoint(30, 20), point}) {
        qt_handleMouseEvent(window, at, dialog_.mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                            QEvent::MouseMove, Qt::NoModifier, ++time);
    }
    QApplication::processEvents();
    ASSERT_EQ(store_.selectedBin, 17);
    ASSERT_EQ(store_.selectedPlot, PlotX);
    store_.maxLimitX[17] = -60.0;
    for (const auto& [button, expected] :
         {std::pair{Qt::RightButton, -36.0}, std::pair{Qt::LeftButton, -60.0}}) {
        for (int press = 0; press < 4; ++press) {
            time += 150;
            qt_handleMouseEvent(window, point, global, button, button, QEvent::MouseButtonPress,
                                Qt::NoModifier, time);
            qt_handleMouseEvent(window, point, global, Qt::NoButton, button,
                                QEvent::MouseButtonRelease, Qt::NoModifier, time + 40);
        }
        QApplication::processEvents();
        EXPECT_EQ(store_.maxLimitX[17], expected);
        time += 1000;
    }
}
