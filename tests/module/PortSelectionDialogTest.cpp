// The Port Selection dialog on Qt's offscreen platform: layout, data exchange and the ways
// out (OK, Enter, Escape, Close, "Terminate Program").

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "FakePortList.h"
#include "PortSelectionDialog.h"
#include "ProgramMessageBox.h"

namespace {

class PortSelectionDialogTest : public ::testing::Test {
  protected:
    ~PortSelectionDialogTest() override { SetProgramMessageHook({}); }

    // A new dialog on `number` (a previous one closes), shown as exec would show it; its message
    // boxes are recorded, and the number it ends with is portNumber.
    CPortSelectionDialog& Open(int number) {
        SetProgramMessageHook([this](const ProgramMessage& message) {
            EXPECT_EQ(message.owner, &*dialog);
            messages.push_back(message.text.toStdString());
        });
        dialog.reset();
        portNumber = number;
        dialog.emplace(portNumber, ports, mappings);
        dialog->show();
        QApplication::processEvents();
        return *dialog;
    }

    int portNumber = 0;
    FixedPortList ports;
    std::vector<ComMapping> mappings;
    std::optional<CPortSelectionDialog> dialog;
    std::vector<std::string> messages;
};

TEST_F(PortSelectionDialogTest, LayoutFollowsTheTemplateInDialogUnits) {
    CPortSelectionDialog& dialog = Open(7);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Port Selection Dialog "));
    // Each dialog unit coordinate and extent rounds to the nearest pixel: OK at (129, 7) is
    // (193.5, 11.375) and 14 units high is 22.75. The template's 186 x 95 units grow to 352 x
    // 182 (528 x 295.75 pixels) for the list of ports under them.
    EXPECT_EQ(dialog.size(), QSize(528, 296));
    EXPECT_EQ(dialog.OkButton()->text(), QStringLiteral("OK"));
    EXPECT_EQ(dialog.OkButton()->geometry(), QRect(194, 11, 75, 23));
    EXPECT_TRUE(dialog.OkButton()->isDefault());
    EXPECT_EQ(dialog.TerminateButton()->text(), QStringLiteral("Terminate Program"));
    EXPECT_EQ(dialog.TerminateButton()->geometry(), QRect(101, 122, 168, 21));
    EXPECT_EQ(dialog.PortEdit()->geometry(), QRect(95, 93, 56, 20));
    EXPECT_EQ(CPortSelectionDialog::IDD, 129);

    std::vector<QString> texts;
    std::vector<QRect> placed;
    for (QLabel* label : dialog.findChildren<QLabel*>()) {
        texts.push_back(label->text());
        placed.push_back(label->geometry());
        // Every text is fully visible at the dialog's font.
        const QFontMetrics metrics(label->font());
        EXPECT_LE(metrics.horizontalAdvance(label->text()), label->width())
            << label->text().toStdString();
        EXPECT_LE(metrics.height(), label->height() + 1) << label->text().toStdString();
    }
    EXPECT_EQ(texts, (std::vector<QString>{
                         QStringLiteral("Unable to open port.  Please enter a new COM "),
                         QStringLiteral("port number and click OK."),
                         QStringLiteral("Serial ports present. Choose your adapter to map it to "
                                        "the number:")}));
    EXPECT_EQ(placed[0], QRect(30, 42, 237, 13));
    EXPECT_EQ(placed[1], QRect(30, 62, 182, 13));
    // The list lies under the template's controls, within the dialog.
    const QRect list = dialog.PortList()->geometry();
    EXPECT_GT(list.top(), dialog.TerminateButton()->geometry().bottom());
    EXPECT_GT(list.top(), placed[2].bottom());
    EXPECT_TRUE(dialog.rect().contains(list));
    for (QPushButton* button : dialog.findChildren<QPushButton*>()) {
        const QFontMetrics metrics(button->font());
        EXPECT_LT(metrics.horizontalAdvance(button->text()), button->width());
    }
    // Focus starts on the first tab stop; Tab visits the controls in template order.
    EXPECT_EQ(dialog.focusWidget(), dialog.OkButton());
    EXPECT_EQ(dialog.OkButton()->nextInFocusChain(), dialog.TerminateButton());
    EXPECT_EQ(dialog.TerminateButton()->nextInFocusChain(), dialog.PortEdit());
    QWidget* afterEdit = dialog.PortEdit()->nextInFocusChain();
    while (afterEdit != nullptr && !(afterEdit->focusPolicy() & Qt::TabFocus)) {
        afterEdit = afterEdit->nextInFocusChain();
    }
    EXPECT_EQ(afterEdit, dialog.PortList());
    // No Cancel button: Escape and Close are the only ways to cancel.
    EXPECT_EQ(dialog.findChildren<QPushButton*>().size(), 2);
    // The edit shows the number that just failed.
    EXPECT_EQ(dialog.PortEdit()->text(), QStringLiteral("7"));
    EXPECT_EQ(dialog.m_nPortNumber, 7);
}

TEST_F(PortSelectionDialogTest, OkTakesTheNewNumber) {
    // Ports listed but none chosen: the number alone, as always.
    ports.ports = {FtdiAdapter()};
    CPortSelectionDialog& dialog = Open(3);
    dialog.PortEdit()->setText(QStringLiteral(" 5 "));
    QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(portNumber, 5);
    EXPECT_FALSE(dialog.ChosenMapping());
    EXPECT_TRUE(messages.empty());
}

TEST_F(PortSelectionDialogTest, EnterInTheEditActsAsOk) {
    CPortSelectionDialog& dialog = Open(3);
    dialog.PortEdit()->setFocus();
    dialog.PortEdit()->setText(QStringLiteral("12"));
    QTest::keyClick(dialog.PortEdit(), Qt::Key_Return);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(portNumber, 12);
}

TEST_F(PortSelectionDialogTest, EscapeAndCloseCancelAndKeepTheFailedNumber) {
    const std::function<void(CPortSelectionDialog&)> cancels[] = {
        [](CPortSelectionDialog& dialog) { QTest::keyClick(&dialog, Qt::Key_Escape); },
        [](CPortSelectionDialog& dialog) { dialog.close(); },
    };
    for (const auto& cancel : cancels) {
        CPortSelectionDialog& dialog = Open(4);
        dialog.PortEdit()->setText(QStringLiteral("9"));
        cancel(dialog);
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(portNumber, 4);
    }
}

TEST_F(PortSelectionDialogTest, TerminateProgramRecordsTheRequest) {
    CPortSelectionDialog& dialog = Open(3);
    QTest::mouseClick(dialog.TerminateButton(), Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(portNumber, 1000);
}

TEST_F(PortSelectionDialogTest, TypingThousandIsATerminateRequest) {
    CPortSelectionDialog& dialog = Open(3);
    dialog.PortEdit()->setText(QStringLiteral("1000"));
    QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
    EXPECT_EQ(portNumber, 1000);
}

TEST_F(PortSelectionDialogTest, TextThatIsNotAnIntegerKeepsTheDialogOpen) {
    CPortSelectionDialog& dialog = Open(6);
    dialog.activateWindow();
    dialog.PortEdit()->setText(QStringLiteral("COM6"));
    dialog.OkButton()->setFocus();
    QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
    EXPECT_TRUE(dialog.isVisible());
    // Once when the number is taken, once more by the framework's own check before it ends.
    EXPECT_EQ(messages,
              (std::vector<std::string>{"Please enter an integer.", "Please enter an integer."}));
    EXPECT_EQ(portNumber, 6);
    EXPECT_EQ(dialog.m_nPortNumber, 6);
    EXPECT_EQ(dialog.focusWidget(), dialog.PortEdit());

    // Corrected text then goes through.
    dialog.PortEdit()->setText(QStringLiteral("8"));
    QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(portNumber, 8);
}

TEST_F(PortSelectionDialogTest, TerminateWithBadTextStaysOpenButEscapeThenTerminates) {
    CPortSelectionDialog& dialog = Open(6);
    dialog.PortEdit()->setText(QString());
    QTest::mouseClick(dialog.TerminateButton(), Qt::LeftButton);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(messages, (std::vector<std::string>{"Please enter an integer."}));
    EXPECT_EQ(portNumber, 1000);
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(portNumber, 1000);
}

TEST_F(PortSelectionDialogTest, ValidationMessagesAreProgramMessageBoxes) {
    portNumber = 2;
    CPortSelectionDialog dialog(portNumber, ports, mappings);
    std::vector<QString> boxes;
    std::vector<int> portNumberAtBox;
    bool clicked = false;
    int polls = 0;
    // Runs modally as the program runs it: types bad text and presses OK, reads and closes
    // every box that appears, then cancels.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (++polls > 1000) {
            dialog.reject();  // a script that stalls must not hang the suite
        } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            boxes.push_back(box->windowTitle() + QStringLiteral(": ") + box->text());
            portNumberAtBox.push_back(portNumber);
            box->accept();
        } else if (modal == &dialog && !clicked) {
            clicked = true;
            dialog.PortEdit()->setText(QStringLiteral("x"));
            // Pressed from outside this slot: a timer does not fire again while its own slot
            // runs, and the boxes' loops need this one.
            QTimer::singleShot(0, &dialog,
                               [&dialog] { QTest::mouseClick(dialog.OkButton(), Qt::LeftButton); });
        } else if (modal == &dialog) {
            QTest::keyClick(&dialog, Qt::Key_Escape);
        }
    });
    poll.start(5);
    const int result = dialog.exec();
    poll.stop();
    EXPECT_EQ(result, QDialog::Rejected);
    EXPECT_EQ(boxes, (std::vector<QString>{QStringLiteral("Sorvell: Please enter an integer."),
                                           QStringLiteral("Sorvell: Please enter an integer.")}));
    // The number was taken (unchanged) before the framework's check said so again.
    EXPECT_EQ(portNumberAtBox, (std::vector<int>{2, 2}));
    EXPECT_EQ(portNumber, 2);
}

// The list of ports present: what it shows, how it follows the system, and what choosing from
// it does.

constexpr const char* FtdiDevice = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
constexpr const char* CpDevice =
    "/dev/serial/by-id/usb-Silicon_Labs_CP2102_USB_to_UART_Bridge_Controller_0001-if00-port0";

std::vector<std::string> ListedTexts(const CPortSelectionDialog& dialog) {
    std::vector<std::string> texts;
    for (int row = 0; row < dialog.PortList()->count(); ++row) {
        texts.push_back(dialog.PortList()->item(row)->text().toStdString());
    }
    return texts;
}

void Choose(CPortSelectionDialog& dialog, int row) {
    QListWidgetItem* item = dialog.PortList()->item(row);
    QTest::mouseClick(dialog.PortList()->viewport(), Qt::LeftButton, {},
                      dialog.PortList()->visualItemRect(item).center());
}

TEST_F(PortSelectionDialogTest, TheListShowsThePortsPresentWithTheirComNumbers) {
    ports.ports = {FtdiAdapter(), SiliconLabsAdapter()};
    // The profile maps the second adapter by its node, the list names it by its stable name.
    mappings = {{3, "/dev/ttyUSB1"}};
    CPortSelectionDialog& dialog = Open(3);
    EXPECT_EQ(ListedTexts(dialog),
              (std::vector<std::string>{
                  std::string(FtdiDevice) +
                      "\nFT232R USB UART, FTDI, serial number A50285BI, USB 0403:6001, no COM "
                      "number",
                  std::string(CpDevice) +
                      "\nCP2102 USB to UART Bridge Controller, Silicon Labs, serial number 0001, "
                      "USB 10c4:ea60, COM3"}));
    // Nothing is chosen for the user, and the edit still shows the number that failed.
    EXPECT_TRUE(dialog.PortList()->selectedItems().isEmpty());
    EXPECT_EQ(dialog.PortEdit()->text(), QStringLiteral("3"));
}

TEST_F(PortSelectionDialogTest, WithNoPortPresentTheListSaysSoAndOffersNothing) {
    CPortSelectionDialog& dialog = Open(3);
    EXPECT_EQ(ListedTexts(dialog), (std::vector<std::string>{"No serial port is present."}));
    Choose(dialog, 0);
    EXPECT_TRUE(dialog.PortList()->selectedItems().isEmpty());
    QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
    EXPECT_EQ(portNumber, 3);
    EXPECT_FALSE(dialog.ChosenMapping());
}

TEST_F(PortSelectionDialogTest, APluggedAdapterAppearsWithinASecondAndTheChoiceStays) {
    ports.ports = {SiliconLabsAdapter()};
    CPortSelectionDialog& dialog = Open(3);
    Choose(dialog, 0);
    dialog.PortEdit()->setText(QStringLiteral("9"));

    // Plugged in: the list grows at its next reading, with the chosen port still chosen and the
    // number the user typed left alone.
    ports.ports = {FtdiAdapter(), SiliconLabsAdapter()};
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.PortList()->count() == 2; }, 3000));
    EXPECT_EQ(dialog.PortList()->selectedItems().size(), 1);
    EXPECT_EQ(dialog.PortList()->row(dialog.PortList()->selectedItems().front()), 1);
    EXPECT_EQ(dialog.PortEdit()->text(), QStringLiteral("9"));

    // Pulled out: the choice goes with it, and OK then only takes the number.
    ports.ports = {FtdiAdapter()};
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.PortList()->count() == 1; }, 3000));
    EXPECT_TRUE(dialog.PortList()->selectedItems().isEmpty());
    QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
    EXPECT_EQ(portNumber, 9);
    EXPECT_FALSE(dialog.ChosenMapping());
}

TEST_F(PortSelectionDialogTest, ChoosingAPortShowsItsNumberAndOkMapsIt) {
    // COM1 opens /dev/ttyS0 by default, a port present: the new adapter gets COM2, since COM3
    // and COM4 already open other devices in the profile.
    SerialPortFacts builtIn{"/dev/ttyS0", "/dev/ttyS0", "", "", "", {}, {}};
    ports.ports = {builtIn, FtdiAdapter(), SiliconLabsAdapter()};
    mappings = {{3, "/dev/serial/by-id/usb-gone-if00-port0"}, {4, "/dev/ttyUSB1"}};
    CPortSelectionDialog& dialog = Open(3);
    Choose(dialog, 1);
    EXPECT_EQ(dialog.PortEdit()->text(), QStringLiteral("2"));
    // A port the profile already maps shows its own number.
    Choose(dialog, 2);
    EXPECT_EQ(dialog.PortEdit()->text(), QStringLiteral("4"));

    Choose(dialog, 1);
    QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(portNumber, 2);
    ASSERT_TRUE(dialog.ChosenMapping());
    EXPECT_EQ(dialog.ChosenMapping()->comNumber, 2);
    EXPECT_EQ(dialog.ChosenMapping()->devicePath, FtdiDevice);
}

TEST_F(PortSelectionDialogTest, ANumberTypedAfterChoosingIsTheOneMapped) {
    ports.ports = {FtdiAdapter()};
    CPortSelectionDialog& dialog = Open(3);
    Choose(dialog, 0);
    dialog.PortEdit()->setText(QStringLiteral("12"));
    QTest::keyClick(dialog.PortEdit(), Qt::Key_Return);
    EXPECT_EQ(portNumber, 12);
    ASSERT_TRUE(dialog.ChosenMapping());
    EXPECT_EQ(dialog.ChosenMapping()->comNumber, 12);
}

TEST_F(PortSelectionDialogTest, NoMappingWithoutAComNumberOrWithoutOk) {
    ports.ports = {FtdiAdapter()};
    const std::function<void(CPortSelectionDialog&)> ends[] = {
        [](CPortSelectionDialog& dialog) { dialog.TerminateButton()->click(); },
        [](CPortSelectionDialog& dialog) {
            dialog.PortEdit()->setText(QStringLiteral("1000"));
            dialog.OkButton()->click();
        },
        [](CPortSelectionDialog& dialog) {
            dialog.PortEdit()->setText(QStringLiteral("17"));
            dialog.OkButton()->click();
        },
        [](CPortSelectionDialog& dialog) { QTest::keyClick(&dialog, Qt::Key_Escape); },
        [](CPortSelectionDialog& dialog) {
            // Refused text, then Escape: the choice made before is not taken.
            dialog.PortEdit()->setText(QStringLiteral("x"));
            dialog.OkButton()->click();
            QTest::keyClick(&dialog, Qt::Key_Escape);
        },
    };
    int round = 0;
    for (const auto& end : ends) {
        CPortSelectionDialog& dialog = Open(3);
        Choose(dialog, 0);
        end(dialog);
        EXPECT_FALSE(dialog.isVisible()) << "round " << round;
        EXPECT_FALSE(dialog.ChosenMapping()) << "round " << round;
        ++round;
    }
}

TEST_F(PortSelectionDialogTest, DoubleClickingAPortChoosesItAndEndsAsOk) {
    ports.ports = {FtdiAdapter()};
    CPortSelectionDialog& dialog = Open(5);
    QListWidgetItem* item = dialog.PortList()->item(0);
    const QPoint centre = dialog.PortList()->visualItemRect(item).center();
    QTest::mouseClick(dialog.PortList()->viewport(), Qt::LeftButton, {}, centre);
    QTest::mouseDClick(dialog.PortList()->viewport(), Qt::LeftButton, {}, centre);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(portNumber, 1);
    ASSERT_TRUE(dialog.ChosenMapping());
    EXPECT_EQ(dialog.ChosenMapping()->devicePath, FtdiDevice);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
