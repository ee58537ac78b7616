// The real program, offscreen, against a simulated module that misbehaves as real lines do: a
// lost stop byte, a module that resets, an adapter pulled out and plugged back, a module left
// streaming, a modal box held open inside a cycle, and the window closed while the module is
// silent. Every message box and dialog is answered by a watcher, as a user would; every wait is
// bounded. Each test prints the figure it measured.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "AboutDialog.h"
#include "ComDeviceMap.h"
#include "ModuleSession.h"
#include "PortSelectionDialog.h"
#include "Profile.h"
#include "SpectrumStore.h"
#include "Startup.h"
#include "SystemClock.h"
#include "TavrekModule.h"
#include "TavrekSimulator.h"
#include "VibrationApp.h"
#include "VibrationDialog.h"
#include "WaitUntil.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int SimCom = 6;
// Ten cycles in a row within this span are acquisition at full rate (20 a second, with room
// for a loaded machine).
constexpr int FullRateCycles = 10;
constexpr auto FullRateSpan = 650ms;
// How soon acquisition must be at full rate again where no cycle was lost: well short of the
// road through a timeout, its box and a new connection (about 3 s), and long enough for a
// machine that builds something else beside the suite to find ten quick cycles in a row.
constexpr auto ResumedAtOnce = 2s;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// Answers what the program shows, as a user would, after `delay`: message boxes and the Port
// Selection dialog with OK, the About box with OK after `aboutHold`. Records what it saw and
// when. Closes the main window when `done` says so, or after `limit` in any case.
class Watcher {
  public:
    Watcher(std::chrono::milliseconds delay, std::chrono::milliseconds limit)
        : delay_(delay), limit_(Clock::now() + limit) {
        QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
        timer_.start(10);
    }

    std::function<bool()> done;
    std::chrono::milliseconds aboutHold{0};

    std::vector<std::string> boxes;
    int portDialogs = 0;
    int abouts = 0;
    std::optional<Clock::time_point> closedAt;
    bool gaveUp = false;

  private:
    void Poll() {
        QWidget* modal = QApplication::activeModalWidget();
        const Clock::time_point now = Clock::now();
        if (modal != current_) {
            current_ = modal;
            since_ = now;
            answered_ = false;
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                boxes.push_back(box->text().toStdString());
            } else if (qobject_cast<CPortSelectionDialog*>(modal) != nullptr) {
                ++portDialogs;
            } else if (qobject_cast<CAboutDialog*>(modal) != nullptr) {
                ++abouts;
            }
        }
        if (modal == nullptr || answered_) {
            return;
        }
        if (auto* main = qobject_cast<CVibrationDialog*>(modal)) {
            const bool give = now > limit_;
            if (give || (done && done())) {
                gaveUp = give;
                answered_ = true;
                closedAt = Clock::now();
                QTest::keyClick(main, Qt::Key_Escape);
            }
            return;
        }
        const bool about = qobject_cast<CAboutDialog*>(modal) != nullptr;
        if (now - since_ < (about ? aboutHold : delay_) && now < limit_) {
            return;
        }
        answered_ = true;
        if (auto* dialog = qobject_cast<CPortSelectionDialog*>(modal)) {
            dialog->OkButton()->click();
        } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            box->accept();
        } else if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            dialog->accept();
        }
    }

    QTimer timer_;
    std::chrono::milliseconds delay_;
    Clock::time_point limit_;
    QWidget* current_ = nullptr;
    Clock::time_point since_{};
    bool answered_ = false;
};

// The module session as main hands it to the dialog, with a hook that runs before a tick.
class HookedSession final : public ModuleSession {
  public:
    explicit HookedSession(TavrekModule& inner) : inner_(inner) {}
    void ConnectAtStartup(ModuleHost& host) override { inner_.ConnectAtStartup(host); }
    void OnTimer(ModuleHost& host) override {
        if (beforeTick) {
            beforeTick(inner_.Acquisition().Busy());
        }
        inner_.OnTimer(host);
    }
    // Told whether a cycle is already running further up the stack.
    std::function<void(bool busy)> beforeTick;

  private:
    TavrekModule& inner_;
};

class LineFaultsE2ETest : public ::testing::Test {
  protected:
    ~LineFaultsE2ETest() override { ClearComDeviceMap(); }

    TavrekSimulator& StartSim(SimConfig config) {
        config.x.tones.push_back({8.0, 1.0, 0.0});
        config.linkPath = dir_.path().toStdString() + "/module";
        sim_ = std::make_unique<TavrekSimulator>(config);
        std::string error;
        EXPECT_TRUE(sim_->Start(&error)) << error;
        QSettings ini(dir_.path() + QStringLiteral("/sorvell.ini"), QSettings::IniFormat);
        ini.setValue(QStringLiteral("MySorvellAp/SorvellComPort"), SimCom);
        ini.setValue(QStringLiteral("Ports/COM%1").arg(SimCom),
                     QString::fromStdString(config.linkPath));
        return *sim_;
    }

    // Runs the program as main does, on this test's profile, until its window has closed and
    // its objects are gone; answers when that was.
    Clock::time_point RunProgram(const std::function<void(HookedSession&)>& prepare = {}) {
        started_ = Clock::now();
        {
            Profile profile((dir_.path() + QStringLiteral("/sorvell.ini")).toStdString());
            PrepareApplication(profile);
            SpectrumStore store;
            SystemClock clock;
            TavrekModule module(store, clock);
            HookedSession session(module);
            if (prepare) {
                prepare(session);
            }
            SystemPortListSource ports;
            CVibrationApp app(store, session, profile, ports);
            EXPECT_FALSE(app.InitInstance());
        }
        return Clock::now();
    }

    // When the module was asked for X blocks ('0' heard), oldest first.
    std::vector<Clock::time_point> CycleStarts() const {
        std::vector<Clock::time_point> starts;
        for (const ReceivedByte& byte : sim_->Received()) {
            if (byte.heard && byte.value == '0') {
                starts.push_back(byte.time);
            }
        }
        return starts;
    }

    // The first cycle at or after `after` from which ten cycles follow at full rate.
    std::optional<Clock::time_point> FullRateFrom(Clock::time_point after) const {
        const std::vector<Clock::time_point> starts = CycleStarts();
        for (std::size_t i = 0; i + FullRateCycles < starts.size(); ++i) {
            if (starts[i] >= after && starts[i + FullRateCycles] - starts[i] <= FullRateSpan) {
                return starts[i];
            }
        }
        return std::nullopt;
    }

    bool AtFullRateSince(Clock::time_point after) const { return FullRateFrom(after).has_value(); }

    // Notes the moment `happened` first holds; true from then on once acquisition is at full
    // rate again after it.
    bool FullRateAfter(std::optional<Clock::time_point>& at, bool happened) const {
        if (!at && happened) {
            at = Clock::now();
        }
        return at && AtFullRateSince(*at);
    }

    // Prints how long after `from` acquisition was at full rate again, and checks the bound.
    void ExpectFullRateWithin(const char* what, std::optional<Clock::time_point> from,
                              Clock::duration bound) const {
        ASSERT_TRUE(from.has_value()) << what;
        const auto back = FullRateFrom(*from);
        ASSERT_TRUE(back.has_value()) << what;
        std::printf("[ figure   ] %s: %.0f ms\n", what, Ms(*back - *from));
        std::fflush(stdout);
        EXPECT_LE(*back - *from, bound) << what;
    }

    QTemporaryDir dir_;
    std::unique_ptr<TavrekSimulator> sim_;
    Clock::time_point started_{};
};

TEST_F(LineFaultsE2ETest, LostStopByteIsHealedWithinOneCycleAndNoBox) {
    SimConfig config;
    config.faults.loseStopAfterBlocks = 1;
    TavrekSimulator& sim = StartSim(config);
    Watcher watcher(100ms, 15s);
    watcher.done = [&] { return sim.Stats().stopsLost == 1 && CycleStarts().size() > 30; };
    RunProgram();

    EXPECT_FALSE(watcher.gaveUp);
    EXPECT_TRUE(watcher.boxes.empty());
    ASSERT_EQ(sim.Stats().stopsLost, 1u);
    const std::vector<Clock::time_point> starts = CycleStarts();
    ASSERT_GT(starts.size(), 1u);
    ExpectFullRateWithin("lost stop byte: back at full rate after", starts[0], ResumedAtOnce);
}

TEST_F(LineFaultsE2ETest, ResetModuleIsBackAfterOneTimeoutBox) {
    SimConfig config;
    config.faults.resetAfterBlocks = 1;
    TavrekSimulator& sim = StartSim(config);
    Watcher watcher(100ms, 20s);
    std::optional<Clock::time_point> resetAt;
    watcher.done = [&] { return FullRateAfter(resetAt, sim.Stats().resets == 1); };
    RunProgram();

    EXPECT_FALSE(watcher.gaveUp);
    EXPECT_EQ(watcher.boxes,
              (std::vector<std::string>{"Acquisition timeout. Click OK to continue."}));
    EXPECT_EQ(watcher.portDialogs, 0);
    ExpectFullRateWithin("module reset: acquiring at full rate again after", resetAt, 5s);
}

TEST_F(LineFaultsE2ETest, AdapterPulledAndPluggedBackIsFoundAgain) {
    SimConfig config;
    config.faults.unplugAfterBlocks = 1;
    config.faults.replugAfterSeconds = 3.0;
    TavrekSimulator& sim = StartSim(config);
    Watcher watcher(200ms, 30s);
    std::optional<Clock::time_point> pluggedAt;
    watcher.done = [&] { return FullRateAfter(pluggedAt, sim.Stats().replugs == 1); };
    RunProgram();

    EXPECT_FALSE(watcher.gaveUp);
    ASSERT_TRUE(pluggedAt.has_value());
    ASSERT_FALSE(watcher.boxes.empty());
    EXPECT_EQ(watcher.boxes[0], "Acquisition timeout. Click OK to continue.");
    for (std::size_t i = 1; i < watcher.boxes.size(); ++i) {
        EXPECT_EQ(watcher.boxes[i], "Could not open port.") << i;
    }
    EXPECT_EQ(watcher.portDialogs + 1, static_cast<int>(watcher.boxes.size()));
    ExpectFullRateWithin("adapter plugged back: acquiring at full rate again after", pluggedAt, 5s);
}

TEST_F(LineFaultsE2ETest, ModuleLeftStreamingIsStoppedAndTheWindowComesUp) {
    SimConfig config;
    config.faults.streamingAtStart = true;
    TavrekSimulator& sim = StartSim(config);
    Watcher watcher(100ms, 15s);
    watcher.done = [&] { return AtFullRateSince(started_); };
    RunProgram();

    EXPECT_FALSE(watcher.gaveUp);
    EXPECT_TRUE(watcher.boxes.empty());
    EXPECT_EQ(watcher.portDialogs, 0);
    EXPECT_GT(sim.Stats().streamsStarted, 10u);
    ExpectFullRateWithin("module left streaming: start to full rate", started_, 3s);
}

TEST_F(LineFaultsE2ETest, AboutBoxHeldOpenInsideACycleBringsNoTimeout) {
    TavrekSimulator& sim = StartSim(SimConfig{});
    Watcher watcher(100ms, 20s);
    watcher.aboutHold = 3500ms;
    std::optional<Clock::time_point> aboutClosedAt;
    watcher.done = [&] {
        QWidget* modal = QApplication::activeModalWidget();
        return FullRateAfter(aboutClosedAt, watcher.abouts == 1 && modal != nullptr &&
                                                qobject_cast<CAboutDialog*>(modal) == nullptr);
    };
    int ticks = 0;
    RunProgram([&](HookedSession& session) {
        // On the tenth tick, the About command is waiting when the cycle starts, so the cycle's
        // own pump opens the box while the module's block is on its way.
        session.beforeTick = [&](bool busy) {
            if (!busy && ++ticks == 10) {
                QTimer::singleShot(0, [] {
                    for (QWidget* widget : QApplication::topLevelWidgets()) {
                        if (auto* main = qobject_cast<CVibrationDialog*>(widget)) {
                            main->AboutAction()->trigger();
                        }
                    }
                });
            }
        };
    });

    EXPECT_FALSE(watcher.gaveUp);
    EXPECT_EQ(watcher.abouts, 1);
    EXPECT_TRUE(watcher.boxes.empty());
    ExpectFullRateWithin("About box held 3.5 s: full rate again after it closed", aboutClosedAt,
                         ResumedAtOnce);
    EXPECT_GT(sim.Stats().streamsStarted, 20u);
}

TEST_F(LineFaultsE2ETest, EscapeWhileTheModuleIsSilentEndsTheProgramAtOnce) {
    SimConfig config;
    config.faults.silentAfterBlocks = 6;
    TavrekSimulator& sim = StartSim(config);
    Watcher watcher(100ms, 15s);
    std::optional<Clock::time_point> silentAt;
    watcher.done = [&] {
        if (!silentAt && sim.Stats().silent) {
            silentAt = Clock::now();
        }
        // Well inside the cycle that waits for the silent module, before its timeout.
        return silentAt && Clock::now() - *silentAt > 500ms;
    };
    const Clock::time_point ended = RunProgram();

    EXPECT_FALSE(watcher.gaveUp);
    EXPECT_TRUE(watcher.boxes.empty());
    ASSERT_TRUE(watcher.closedAt.has_value());
    std::printf("[ figure   ] Escape while the module is silent: program ended after %.0f ms\n",
                Ms(ended - *watcher.closedAt));
    EXPECT_LE(ended - *watcher.closedAt, 500ms);
    // The module was told to stop before the line was let go, and heard it.
    EXPECT_TRUE(WaitUntil([&] { return !sim.Stats().streaming; }, 1000ms));
    const std::vector<ReceivedByte> record = sim.Received();
    ASSERT_FALSE(record.empty());
    EXPECT_EQ(record.back().value, '8');
    EXPECT_TRUE(record.back().heard);
    EXPECT_FALSE(sim.Stats().streaming);
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
