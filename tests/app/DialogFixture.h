// The real main dialog on the offscreen platform, with a module session that touches no port,
// a profile in a temporary directory and message boxes recorded instead of shown.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <string>
#include <vector>

#include "AcquisitionCycle.h"
#include "FakePortList.h"
#include "ModuleSession.h"
#include "Profile.h"
#include "ProgramMessageBox.h"
#include "Resources.h"
#include "SpectrumStore.h"
#include "VibrationDialog.h"

class FakeSession final : public ModuleSession {
  public:
    void ConnectAtStartup(ModuleHost& host) override {
        calls.push_back("ConnectAtStartup");
        if (onConnect) {
            onConnect(host);
        }
    }
    void OnTimer(ModuleHost& host) override {
        ++ticks;
        if (onTimer) {
            onTimer(host);
        }
    }

    void SetCycleObserver(CycleObserver* newObserver) override { observer = newObserver; }
    std::string DeviceName() const override { return "COM3 (/dev/ttyFAKE0)"; }

    std::vector<std::string> calls;
    int ticks = 0;
    CycleObserver* observer = nullptr;
    std::function<void(ModuleHost&)> onConnect;
    std::function<void(ModuleHost&)> onTimer;
};

inline const QRgb WhitePixel = qRgb(255, 255, 255);
inline const QRgb BlackPixel = qRgb(0, 0, 0);
inline const QRgb GreenPixel = qRgb(0, 170, 0);
inline const QRgb RedPixel = qRgb(200, 0, 0);
inline const QRgb GridPixel = qRgb(220, 220, 220);

class DialogTest : public ::testing::Test {
  protected:
    // Every message box of the program is recorded as its text, with its secondary text (if
    // any) on the lines after it.
    DialogTest() {
        SetProgramMessageHook([this](const ProgramMessage& message) {
            const QString detail = message.detail.isEmpty() ? QString() : '\n' + message.detail;
            messages_.push_back((message.text + detail).toStdString());
        });
    }
    ~DialogTest() override { SetProgramMessageHook({}); }

    // The dialog initialised and on screen, as the program shows it.
    void ShowInitialised() {
        dialog_.OnInitDialog();
        dialog_.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog_));
    }

    void ShowActive() {
        ShowInitialised();
        dialog_.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog_));
    }

    // Moves the pointer over the dialog and lets the move arrive.
    void Hover(QPoint point) {
        QTest::mouseMove(&dialog_, point);
        QApplication::processEvents();
    }

    // Time passes, and with it every call already posted: the acquisition timer ticks `ticks`
    // more times (within five seconds).
    bool TicksPass(int ticks) {
        const int target = session_.ticks + ticks;
        return QTest::qWaitFor([&] { return session_.ticks >= target; }, 5000);
    }

    QImage Grab() { return dialog_.grab().toImage().convertToFormat(QImage::Format_RGB32); }

    QLineEdit* Edit(int id) { return qobject_cast<QLineEdit*>(dialog_.Control(id)); }
    QRadioButton* Radio(int id) { return qobject_cast<QRadioButton*>(dialog_.Control(id)); }

    QTemporaryDir dir_;
    Profile profile_{(dir_.path() + QStringLiteral("/sorvell.ini")).toStdString()};
    SpectrumStore store_;
    FakeSession session_;
    FixedPortList ports_;
    CVibrationDialog dialog_{store_, session_, profile_, ports_};
    std::vector<std::string> messages_;
};
