// The connection step with the real dialog as its host: the Port Selection dialog, the profile
// and the message boxes as the user meets them.
#include <sys/stat.h>

#include <fstream>
#include <iostream>
#include <iterator>

#include <QFile>
#include <QListWidget>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include "ComDeviceMap.h"
#include "DialogFixture.h"
#include "MessageBoxHook.h"
#include "ModuleConnection.h"
#include "PortSelectionDialog.h"
#include "Startup.h"
#include "WinSerial.h"

namespace {

void WriteText(const QString& path, const char* text) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
}

// Time that passes at once: the handshake's pauses cost nothing here.
class InstantClock final : public ModuleClock {
  public:
    void Sleep(std::uint32_t) override {}
    std::time_t Time() override { return 0; }
    std::int64_t SteadyMs() override { return 0; }
};

// Answers each Port Selection dialog as it opens: notes the number it shows, then lets
// `answer` type and press.
class PortDialogAnswers {
  public:
    explicit PortDialogAnswers(std::function<void(CPortSelectionDialog&, int round)> answer)
        : answer_(std::move(answer)) {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            auto* dialog = qobject_cast<CPortSelectionDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr || dialog == current_) {
                return;
            }
            current_ = dialog;
            shown.push_back(dialog->PortEdit()->text().toStdString());
            // A loop that keeps asking fails the test rather than hanging it.
            if (shown.size() > 5) {
                ADD_FAILURE() << "the Port Selection dialog keeps coming back";
                dialog->TerminateButton()->click();
                return;
            }
            answer_(*dialog, static_cast<int>(shown.size()));
        });
        timer_.start();
    }
    std::vector<std::string> shown;

  private:
    std::function<void(CPortSelectionDialog&, int)> answer_;
    QTimer timer_;
    // Each round's dialog is a new one, possibly at the same address as the last.
    QPointer<CPortSelectionDialog> current_;
};

}  // namespace

TEST_F(DialogTest, AnUnwritableProfileStillGetsTheTypedPortTriedAndSaysSoOnce) {
    WriteText(QString::fromStdString(profile_.Path()), "[MySorvellAp]\nSorvellComPort=3\n");
    ASSERT_EQ(chmod(profile_.Path().c_str(), 0444), 0);
    const std::string missing = dir_.path().toStdString() + "/no-such-device";
    SetComDevicePath(3, missing + "3");
    SetComDevicePath(7, missing + "7");

    PortDialogAnswers answers([](CPortSelectionDialog& dialog, int round) {
        if (round == 1) {
            dialog.PortEdit()->setText(QStringLiteral("7"));
            dialog.OkButton()->click();
        } else {
            dialog.TerminateButton()->click();
        }
    });
    InstantClock clock;
    ModuleConnection connection(clock);
    connection.ConnectAtStartup(dialog_);
    ClearComDeviceMap();

    EXPECT_EQ(answers.shown, (std::vector<std::string>{"3", "7"}));
    EXPECT_TRUE(connection.TerminateRequested());
    // Each failure box names its device and the reason as its secondary text.
    EXPECT_EQ(
        messages_,
        (std::vector<std::string>{
            "Could not open port.\nDevice: " + missing +
                "3 (COM3)\nNo such file or directory. Choose your adapter in the list of the next "
                "dialog.",
            "The port number could not be saved: " + profile_.Path() + " is read-only.",
            "Could not open port.\nDevice: " + missing +
                "7 (COM7)\nNo such file or directory. Choose your adapter in the list of the next "
                "dialog."}));
    EXPECT_EQ(profile_.GetInt("MySorvellAp", "SorvellComPort", 0), 3);
}

// Chooses the first port of the dialog's list and presses OK.
void ChooseFirstPort(CPortSelectionDialog& dialog) {
    ASSERT_GT(dialog.PortList()->count(), 0);
    dialog.PortList()->item(0)->setSelected(true);
    dialog.OkButton()->click();
}

// The start-up connection with the dialog as host: the first Port Selection dialog is answered
// with the first port of its list, the next with "Terminate Program". Answers the numbers the
// dialogs showed; the COM device map is cleared afterwards.
std::vector<std::string> ChooseFirstPortThenTerminate(ModuleHost& host) {
    PortDialogAnswers answers([](CPortSelectionDialog& dialog, int round) {
        if (round == 1) {
            ChooseFirstPort(dialog);
        } else {
            dialog.TerminateButton()->click();
        }
    });
    InstantClock clock;
    ModuleConnection connection(clock);
    connection.ConnectAtStartup(host);
    ClearComDeviceMap();
    return answers.shown;
}

TEST_F(DialogTest, AChosenPortIsMappedInTheProfileKeepingEveryOtherByteAndTriedNext) {
    const std::string before =
        "; bench 4\n[Ports]\nCOM1 = /dev/ttyS0\n; COM3 was the old adapter\nCOM3=" +
        dir_.path().toStdString() + "/gone\n\n[MySorvellAp]\nSorvellComPort=3\n[Other]\nx=\"y\"\n";
    WriteText(QString::fromStdString(profile_.Path()), before.c_str());
    LoadComDeviceMap(profile_, std::cerr);
    const std::string adapter = dir_.path().toStdString() + "/by-id/usb-Maker_Adapter-if00-port0";
    ports_.ports = {FtdiAdapter(adapter, adapter)};

    const std::vector<std::string> shown = ChooseFirstPortThenTerminate(dialog_);

    // COM1 and COM3 open other devices: the adapter became COM2, and COM2 was tried next.
    EXPECT_EQ(shown, (std::vector<std::string>{"3", "2"}));
    ASSERT_EQ(messages_.size(), 2u);
    EXPECT_EQ(messages_[1], "Could not open port.\nDevice: " + adapter +
                                " (COM2)\nNo such file or directory. Choose your adapter in the "
                                "list of the next dialog.");
    std::ifstream file(profile_.Path(), std::ios::binary);
    const std::string after((std::istreambuf_iterator<char>(file)),
                            std::istreambuf_iterator<char>());
    // The mapping joined its section; the saved number, 2 with it, is now the terminate request.
    EXPECT_EQ(after, "; bench 4\n[Ports]\nCOM1 = /dev/ttyS0\n; COM3 was the old adapter\nCOM3=" +
                         dir_.path().toStdString() + "/gone\nCOM2=" + adapter +
                         "\n\n[MySorvellAp]\nSorvellComPort=1000\n[Other]\nx=\"y\"\n");
}

TEST_F(DialogTest, APortChoiceTheProfileCannotKeepIsSaidOnceAndUsedAllTheSame) {
    WriteText(QString::fromStdString(profile_.Path()), "[MySorvellAp]\nSorvellComPort=3\n");
    ASSERT_EQ(chmod(profile_.Path().c_str(), 0444), 0);
    SetComDevicePath(3, dir_.path().toStdString() + "/gone");
    const std::string adapter = dir_.path().toStdString() + "/ttyUSB7";
    ports_.ports = {FtdiAdapter(adapter, adapter)};

    const std::vector<std::string> shown = ChooseFirstPortThenTerminate(dialog_);

    EXPECT_EQ(shown, (std::vector<std::string>{"3", "1"}));
    ASSERT_EQ(messages_.size(), 3u);
    EXPECT_EQ(messages_[1], "The port choice could not be saved: " + profile_.Path() +
                                " is read-only. COM1 opens " + adapter + " until Sorvell ends.");
    // The chosen device is the one tried, and the number's own save says nothing more.
    EXPECT_EQ(messages_[2].rfind("Could not open port.\nDevice: " + adapter + " (COM1)\n", 0), 0u)
        << messages_[2];
    EXPECT_EQ(profile_.GetInt("MySorvellAp", "SorvellComPort", 0), 3);
}

TEST_F(DialogTest, AFailureBoxCarriesTheDeviceAndTheReasonAsItsSecondaryText) {
    SetProgramMessageHook({});  // the program's own message boxes
    CVibrationDialog dialog(store_, session_, profile_, ports_);
    QString text;
    QString informative;
    QTimer timer;
    timer.setInterval(5);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            text = box->text();
            informative = box->informativeText();
            box->accept();
        }
    });
    timer.start();
    QTimer::singleShot(10000, &dialog, [] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            ADD_FAILURE() << "the box was not answered";
            modal->close();
        }
    });
    dialog.FailureBox("Could not open port.", "Device: /dev/ttyUSB0 (COM3)\nPermission denied.");
    EXPECT_EQ(text, QStringLiteral("Could not open port."));
    EXPECT_EQ(informative, QStringLiteral("Device: /dev/ttyUSB0 (COM3)\nPermission denied."));
}

TEST_F(DialogTest, TheSerialLayersMessageBoxIsOneOfTheProgramsBoxesUnderItsOwnCaption) {
    std::vector<ProgramMessage> seen;
    SetProgramMessageHook([&](const ProgramMessage& message) { seen.push_back(message); });
    // Should a real box come up instead, the test fails rather than waits for a click.
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            ADD_FAILURE() << "a real box was shown";
            modal->close();
        }
    });
    guard.start(5000);
    RouteSerialMessageBoxes();
    EXPECT_EQ(MessageBoxA(GetFocus(), "Port in use.", "Library Error", MB_OK), IDOK);
    SetMessageBoxHandler({});
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].owner, nullptr);
    EXPECT_EQ(seen[0].caption, QStringLiteral("Library Error"));
    EXPECT_EQ(seen[0].text, QStringLiteral("Port in use."));
    EXPECT_TRUE(seen[0].detail.isEmpty());
}
