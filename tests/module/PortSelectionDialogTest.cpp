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
#include <string>
#include <vector>

#include "PortSelectionDialog.h"

namespace {

class PortSelectionDialogTest : public ::testing::Test {
  protected:
    // Shows the dialog as exec would and records the data-exchange messages.
    void Open(CPortSelectionDialog& dialog) {
        dialog.SetMessageSink(
            [this](QWidget*, const QString& text) { messages.push_back(text.toStdString()); });
        dialog.show();
        QApplication::processEvents();
    }
    std::vector<std::string> messages;
};

TEST_F(PortSelectionDialogTest, LayoutFollowsTheTemplateInDialogUnits) {
    int portNumber = 7;
    CPortSelectionDialog dialog(portNumber);
    Open(dialog);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Port Selection Dialog "));
    EXPECT_EQ(dialog.size(), QSize(186 * 6 / 4, 95 * 13 / 8));
    EXPECT_EQ(dialog.OkButton()->text(), QStringLiteral("OK"));
    EXPECT_EQ(dialog.OkButton()->geometry(), QRect(193, 11, 75, 22));
    EXPECT_TRUE(dialog.OkButton()->isDefault());
    EXPECT_EQ(dialog.TerminateButton()->text(), QStringLiteral("Terminate Program"));
    EXPECT_EQ(dialog.TerminateButton()->geometry(), QRect(100, 121, 168, 21));
    EXPECT_EQ(dialog.PortEdit()->geometry(), QRect(94, 92, 55, 19));
    EXPECT_EQ(CPortSelectionDialog::IDD, 129);

    std::vector<QString> texts;
    for (QLabel* label : dialog.findChildren<QLabel*>()) {
        texts.push_back(label->text());
        // Every text is fully visible at the dialog's font.
        const QFontMetrics metrics(label->font());
        EXPECT_LE(metrics.horizontalAdvance(label->text()), label->width())
            << label->text().toStdString();
        EXPECT_LE(metrics.height(), label->height() + 1) << label->text().toStdString();
    }
    EXPECT_EQ(texts,
              (std::vector<QString>{QStringLiteral("Unable to open port.  Please enter a new COM "),
                                    QStringLiteral("port number and click OK.")}));
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
    int portNumber = 3;
    CPortSelectionDialog dialog(portNumber);
    Open(dialog);
    dialog.PortEdit()->setText(QStringLiteral(" 5 "));
    QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(portNumber, 5);
    EXPECT_TRUE(messages.empty());
}

TEST_F(PortSelectionDialogTest, EnterInTheEditActsAsOk) {
    int portNumber = 3;
    CPortSelectionDialog dialog(portNumber);
    Open(dialog);
    dialog.PortEdit()->setFocus();
    dialog.PortEdit()->setText(QStringLiteral("12"));
    QTest::keyClick(dialog.PortEdit(), Qt::Key_Return);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(portNumber, 12);
}

TEST_F(PortSelectionDialogTest, EscapeAndCloseCancelAndKeepTheFailedNumber) {
    {
        int portNumber = 4;
        CPortSelectionDialog dialog(portNumber);
        Open(dialog);
        dialog.PortEdit()->setText(QStringLiteral("9"));
        QTest::keyClick(&dialog, Qt::Key_Escape);
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(portNumber, 4);
    }
    {
        int portNumber = 4;
        CPortSelectionDialog dialog(portNumber);
        Open(dialog);
        dialog.PortEdit()->setText(QStringLiteral("9"));
        dialog.close();
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
        EXPECT_EQ(portNumber, 4);
    }
}

TEST_F(PortSelectionDialogTest, TerminateProgramRecordsTheRequest) {
    int portNumber = 3;
    CPortSelectionDialog dialog(portNumber);
    Open(dialog);
    QTest::mouseClick(dialog.TerminateButton(), Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(portNumber, 1000);
}

TEST_F(PortSelectionDialogTest, TypingThousandIsATerminateRequest) {
    int portNumber = 3;
    CPortSelectionDialog dialog(portNumber);
    Open(dialog);
    dialog.PortEdit()->setText(QStringLiteral("1000"));
    QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
    EXPECT_EQ(portNumber, 1000);
}

TEST_F(PortSelectionDialogTest, TextThatIsNotAnIntegerKeepsTheDialogOpen) {
    int portNumber = 6;
    CPortSelectionDialog dialog(portNumber);
    Open(dialog);
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
    int portNumber = 6;
    CPortSelectionDialog dialog(portNumber);
    Open(dialog);
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
    int portNumber = 2;
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

TEST(DialogIntegerTest, AcceptsWhatTheDataExchangeAccepts) {
    int value = -1;
    EXPECT_TRUE(ParseDialogInteger(QStringLiteral("12"), value));
    EXPECT_EQ(value, 12);
    EXPECT_TRUE(ParseDialogInteger(QStringLiteral("  -3\t"), value));
    EXPECT_EQ(value, -3);
    EXPECT_TRUE(ParseDialogInteger(QStringLiteral("+4"), value));
    EXPECT_EQ(value, 4);
    EXPECT_TRUE(ParseDialogInteger(QStringLiteral("-2147483648"), value));
    EXPECT_EQ(value, -2147483647 - 1);
    value = 77;
    for (const char* bad :
         {"", " ", "-", "1x", "x1", "1 2", "0x10", "2147483648", "1.0", "99999999999999999999"}) {
        EXPECT_FALSE(ParseDialogInteger(QString::fromLatin1(bad), value)) << bad;
    }
    EXPECT_EQ(value, 77);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
