// The Port Selection dialog on Qt's offscreen platform: layout, data exchange and the ways
// out (OK, Enter, Escape, Close, "Terminate Program").

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <optional>
#include <string>
#include <vector>

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
        dialog.emplace(portNumber);
        dialog->show();
        QApplication::processEvents();
        return *dialog;
    }

    int portNumber = 0;
    std::optional<CPortSelectionDialog> dialog;
    std::vector<std::string> messages;
};

TEST_F(PortSelectionDialogTest, LayoutFollowsTheTemplateInDialogUnits) {
    CPortSelectionDialog& dialog = Open(7);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Port Selection Dialog "));
    // Each dialog unit coordinate and extent rounds to the nearest pixel: 186 x 95 units are
    // 279 x 154.375 pixels, OK at (129, 7) is (193.5, 11.375) and 14 units high is 22.75.
    EXPECT_EQ(dialog.size(), QSize(279, 154));
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
    EXPECT_EQ(texts,
              (std::vector<QString>{QStringLiteral("Unable to open port.  Please enter a new COM "),
                                    QStringLiteral("port number and click OK.")}));
    EXPECT_EQ(placed, (std::vector<QRect>{QRect(30, 42, 237, 13), QRect(30, 62, 182, 13)}));
    for (QPushButton* button : dialog.findChildren<QPushButton*>()) {
        const QFontMetrics metrics(button->font());
        EXPECT_LT(metrics.horizontalAdvance(button->text()), button->width());
    }
    // Focus starts on the first tab stop; Tab visits the controls in template order.
    EXPECT_EQ(dialog.focusWidget(), dialog.OkButton());
    EXPECT_EQ(dialog.OkButton()->nextInFocusChain(), dialog.TerminateButton());
    EXPECT_EQ(dialog.TerminateButton()->nextInFocusChain(), dialog.PortEdit());
    // No Cancel button: Escape and Close are the only ways to cancel.
    EXPECT_EQ(dialog.findChildren<QPushButton*>().size(), 2);
    // The edit shows the number that just failed.
    EXPECT_EQ(dialog.PortEdit()->text(), QStringLiteral("7"));
    EXPECT_EQ(dialog.m_nPortNumber, 7);
}

TEST_F(PortSelectionDialogTest, OkTakesTheNewNumber) {
    CPortSelectionDialog& dialog = Open(3);
    dialog.PortEdit()->setText(QStringLiteral(" 5 "));
    QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(portNumber, 5);
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
    CPortSelectionDialog dialog(portNumber);
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

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
