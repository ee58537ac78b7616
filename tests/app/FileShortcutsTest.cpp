// Ctrl+S, Ctrl+O and Ctrl+E of the real main dialog, offscreen, answering the real file dialog.
#include <sys/resource.h>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <fstream>
#include <functional>
#include <sstream>

#include "DialogFixture.h"
#include "FileShortcuts.h"
#include "LimitsFile.h"
#include "Recording.h"
#include "SystemClock.h"

namespace {

class FileShortcutsTest : public DialogTest {
  protected:
    // Presses keys on target and answers the file dialog they open with path (or cancels it when
    // path is empty); beforeAnswer runs just before. Answers the folder the file dialog opened in,
    // empty when none opened. A file dialog still open after its answer is closed, so that a
    // failing test fails rather than waits.
    QString PressAndChoose(QWidget* target, Qt::Key key, const QString& path,
                           const std::function<void()>& beforeAnswer = {}) {
        // The shortcuts belong to the active window; after a file dialog closes the offscreen
        // platform gives the activation back only when asked.
        dialog_.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&dialog_));
        QString openedIn;
        int polls = 0;
        QTimer poll;
        poll.setInterval(10);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            // 5 s at most: then the test goes on and fails on what it finds.
            const bool late = ++polls > 500;
            QWidget* modal = QApplication::activeModalWidget();
            // Saving over a file the user chose is confirmed first: yes, replace it.
            if (auto* confirm = qobject_cast<QMessageBox*>(modal)) {
                if (QAbstractButton* yes = confirm->button(QMessageBox::Yes); yes && !late) {
                    yes->click();
                } else {
                    confirm->reject();
                }
                return;
            }
            auto* chooser = qobject_cast<QFileDialog*>(modal);
            if (chooser == nullptr) {
                if (!openedIn.isEmpty() || late) {
                    poll.stop();
                }
                return;
            }
            if (openedIn.isEmpty()) {
                openedIn = chooser->directory().absolutePath();
                if (beforeAnswer) {
                    beforeAnswer();
                }
            }
            if (path.isEmpty() || late) {
                EXPECT_FALSE(late) << "the file dialog did not take " << path.toStdString();
                chooser->reject();
                return;
            }
            // Typed into the name field, as a user does; the dialog takes a whole path there.
            auto* name = chooser->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            ASSERT_NE(name, nullptr);
            name->setText(path);
            // OK, from the event loop: the poll goes on meanwhile and answers a box that OK
            // may open.
            QMetaObject::invokeMethod(
                chooser, [chooser] { static_cast<QDialog*>(chooser)->accept(); },
                Qt::QueuedConnection);
        });
        poll.start();
        QTest::keyClick(target, key, Qt::ControlModifier);
        return openedIn;
    }

    QString File(const char* name) const { return dir_.path() + QLatin1Char('/') + name; }

    static std::string ReadText(const QString& path) {
        std::ifstream in(QFile::encodeName(path).toStdString());
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
};

TEST_F(FileShortcutsTest, SavedLimitsComeBackWithLoadAndABadFileChangesNothing) {
    ShowActive();
    store_.maxLimitX[10] = -3.25;
    store_.minLimitY[31] = -77.5;
    const QString opened = PressAndChoose(&dialog_, Qt::Key_S, File("bench.csv"));
    EXPECT_FALSE(opened.isEmpty()) << "Ctrl+S opened no file dialog";
    ASSERT_TRUE(QFile::exists(File("bench.csv")));
    auto* shortcuts = dialog_.findChild<FileShortcuts*>();
    ASSERT_NE(shortcuts, nullptr);
    EXPECT_EQ(shortcuts->LastFolder(), dir_.path());

    // Changed in between, with the mouse and with Auto-set.
    store_.maxLimitX[10] = 19.0;
    store_.minLimitY[31] = -139.0;
    dialog_.OnAutoSetLimits();
    // The focus in an edit, whose own keys include Ctrl+E and must not swallow the shortcuts.
    Edit(1004)->setFocus();
    EXPECT_EQ(PressAndChoose(Edit(1004), Qt::Key_O, File("bench.csv")), dir_.path());
    EXPECT_EQ(store_.maxLimitX[10], -3.25);
    EXPECT_EQ(store_.minLimitY[31], -77.5);
    EXPECT_EQ(store_.maxLimitY[5], DefaultMaxLimit);
    EXPECT_TRUE(messages_.empty());

    std::ofstream(QFile::encodeName(File("bad.csv")).toStdString())
        << "axis,entry,max_db,min_db\nX,10,0,-1\nX,10,2,-2\n";
    const SpectrumStore before = store_;
    PressAndChoose(&dialog_, Qt::Key_O, File("bad.csv"));
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0],
              File("bad.csv").toStdString() + ":3: duplicate row for X entry 10 (first on line 2)");
    EXPECT_EQ(store_.maxLimitX, before.maxLimitX);
    EXPECT_EQ(store_.minLimitX, before.minLimitX);

    // A cancelled dialog does nothing and says nothing.
    EXPECT_FALSE(PressAndChoose(&dialog_, Qt::Key_O, QString()).isEmpty());
    EXPECT_EQ(messages_.size(), 1u);
}

TEST_F(FileShortcutsTest, ExportWritesWhatThePlotsShowAndAFailedWriteSaysWhy) {
    ShowActive();
    store_.shownX[5] = -12.5;
    store_.errorY[31] = 3.0;
    store_.minLimitY[31] = -60.0;
    PressAndChoose(&dialog_, Qt::Key_E, File("view.csv"));
    const std::string text = ReadText(File("view.csv"));
    EXPECT_EQ(text, FormatShownView(store_));
    EXPECT_TRUE(
        text.starts_with("axis,entry,shown_db,max_db,min_db,error_db\nX,5,-12.5,15,-120,-139\n"))
        << text;
    EXPECT_NE(text.find("\nY,31,0,15,-60,3\n"), std::string::npos) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1 + 2 * 27);

    // A write that fails (the file size limit stops it here) says why and leaves the old file.
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    PressAndChoose(&dialog_, Qt::Key_E, File("view.csv"), [&] {
        rlimit small = saved;
        small.rlim_cur = 64;
        ::setrlimit(RLIMIT_FSIZE, &small);
    });
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0],
              "Could not write " + File("view.csv").toStdString() + ": File too large");
    EXPECT_EQ(ReadText(File("view.csv")), text);
}

TEST_F(FileShortcutsTest, CtrlRRecordsTheCyclesOfItsTimeUnderATitleThatSaysSo) {
    // Every tick completes a cycle whose X block starts with the tick's number.
    SystemClock clock;
    CycleBlocks blocks;
    blocks.y.fill(200);
    session_.onTimer = [&](ModuleHost& host) {
        blocks.x.fill(7);
        blocks.x[0] = static_cast<std::uint8_t>(session_.ticks);
        blocks.msX = blocks.msY = clock.SteadyMs();
        if (session_.observer != nullptr) {
            session_.observer->CycleCompleted(blocks);
        }
        host.InvalidateClient();
    };
    ShowActive();
    ASSERT_TRUE(TicksPass(2));
    Edit(1001)->setFocus();
    PressAndChoose(Edit(1001), Qt::Key_R, File("part.csv"));
    ASSERT_NE(session_.observer, nullptr) << "Ctrl+R started no recording";
    EXPECT_EQ(dialog_.windowTitle(),
              QStringLiteral("Sorvell Vibration Analysis - recording to part.csv"));
    const int firstTick = session_.ticks + 1;
    ASSERT_TRUE(TicksPass(3));
    // Pressed again, it ends the recording without asking anything.
    dialog_.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog_));
    QTest::keyClick(&dialog_, Qt::Key_R, Qt::ControlModifier);
    EXPECT_EQ(session_.observer, nullptr);
    EXPECT_EQ(dialog_.windowTitle(), QStringLiteral("Sorvell Vibration Analysis"));
    const int lastTick = session_.ticks;
    ASSERT_TRUE(TicksPass(2));

    Recording recording;
    std::string error;
    ASSERT_TRUE(ReadRecording(QFile::encodeName(File("part.csv")).toStdString(), recording, error))
        << error;
    ASSERT_EQ(recording.blocks.size(), 2u * static_cast<std::size_t>(lastTick - firstTick + 1));
    for (std::size_t i = 0; i < recording.blocks.size(); i += 2) {
        EXPECT_EQ(recording.blocks[i].cycle, static_cast<long long>(i / 2 + 1));
        EXPECT_EQ(recording.blocks[i].samples[0], firstTick + static_cast<int>(i / 2));
        EXPECT_EQ(recording.blocks[i + 1].samples[63], 200);
    }
    EXPECT_NE(ReadText(File("part.csv")).find("# device COM3 (/dev/ttyFAKE0)\n"),
              std::string::npos);
    EXPECT_TRUE(messages_.empty());

    // A write that fails ends the recording with one message; what was written stays.
    PressAndChoose(&dialog_, Qt::Key_R, File("full.csv"));
    ASSERT_TRUE(TicksPass(2));
    const std::size_t kept = ReadText(File("full.csv")).size();
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = kept;
    ::setrlimit(RLIMIT_FSIZE, &small);
    const bool failed = QTest::qWaitFor([&] { return !messages_.empty(); }, 5000);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    ASSERT_TRUE(failed);
    EXPECT_EQ(messages_,
              (std::vector<std::string>{"Could not write " + File("full.csv").toStdString() +
                                        ": File too large; the recording stops here"}));
    EXPECT_EQ(session_.observer, nullptr);
    EXPECT_EQ(dialog_.windowTitle(), QStringLiteral("Sorvell Vibration Analysis"));
    EXPECT_TRUE(ReadRecording(QFile::encodeName(File("full.csv")).toStdString(), recording, error))
        << error;

    // Closing the window ends a recording: the file holds whole cycles only.
    PressAndChoose(&dialog_, Qt::Key_R, File("closed.csv"));
    ASSERT_TRUE(TicksPass(2));
    dialog_.reject();
    EXPECT_EQ(session_.observer, nullptr);
    EXPECT_EQ(dialog_.windowTitle(), QStringLiteral("Sorvell Vibration Analysis"));
    ASSERT_TRUE(
        ReadRecording(QFile::encodeName(File("closed.csv")).toStdString(), recording, error))
        << error;
    EXPECT_EQ(recording.warning, "");
    EXPECT_GE(recording.blocks.size(), 2u);
}

}  // namespace
