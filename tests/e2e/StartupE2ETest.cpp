// The real program, from its application object on, offscreen: a profile naming a port that
// is missing shows "Could not open port." and then the Port Selection dialog with that number.
// From there the user either picks the port the simulated module is on, and spectra appear, or
// terminates the program.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

#include "ComDeviceMap.h"
#include "FakePortList.h"
#include "PortSelectionDialog.h"
#include "Profile.h"
#include "SpectrumStore.h"
#include "Startup.h"
#include "SystemClock.h"
#include "TavrekModule.h"
#include "TavrekSimulator.h"
#include "VibrationApp.h"
#include "VibrationDialog.h"

namespace {

constexpr int MissingCom = 5;
constexpr int SimCom = 6;

// Watches the modal windows the program opens and answers each with the next step of a script.
class ModalScript {
  public:
    using Step = std::function<bool(QWidget* modal)>;  // true: step done

    explicit ModalScript(std::vector<Step> steps) : steps_(std::move(steps)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
        timer_.start(20);
    }
    bool Finished() const { return next_ == steps_.size(); }

  private:
    void Poll() {
        QWidget* modal = QApplication::activeModalWidget();
        if (++polls_ > GiveUpPolls) {
            GiveUp(modal);
            return;
        }
        if (modal == nullptr || next_ >= steps_.size() || modal == last_) {
            return;
        }
        if (steps_[next_](modal)) {
            last_ = modal;
            ++next_;
        }
    }
    // A script that stalls must end the program rather than hang the suite: terminate from the
    // port dialog, acknowledge boxes, close the main window.
    static void GiveUp(QWidget* modal) {
        if (auto* dialog = qobject_cast<CPortSelectionDialog*>(modal)) {
            dialog->TerminateButton()->click();
        } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            box->accept();
        } else if (auto* main = qobject_cast<QDialog*>(modal)) {
            main->reject();
        }
    }
    static constexpr int GiveUpPolls = 30'000 / 20;

    QTimer timer_;
    int polls_ = 0;
    std::vector<Step> steps_;
    std::size_t next_ = 0;
    QWidget* last_ = nullptr;
};

class StartupE2ETest : public ::testing::Test {
  protected:
    StartupE2ETest() {
        QSettings ini(ProfilePath(), QSettings::IniFormat);
        ini.setValue(QStringLiteral("MySorvellAp/SorvellComPort"), MissingCom);
        ini.setValue(QStringLiteral("Ports/COM%1").arg(MissingCom),
                     QStringLiteral("/nonexistent/sorvell-e2e-port"));
    }
    ~StartupE2ETest() override { ClearComDeviceMap(); }

    // The ports the Port Selection dialog lists.
    FixedPortList ports_;

    QString ProfilePath() const { return dir_.path() + QStringLiteral("/sorvell.ini"); }

    int SavedPort() const {
        QSettings ini(ProfilePath(), QSettings::IniFormat);
        return ini.value(QStringLiteral("MySorvellAp/SorvellComPort"), -1).toInt();
    }

    // Runs the program as main does, on this test's profile.
    void RunProgram(SpectrumStore& store) {
        Profile profile(ProfilePath().toStdString());
        PrepareApplication(profile);
        SystemClock clock;
        TavrekModule module(store, clock);
        CVibrationApp app(store, module, profile, ports_);
        EXPECT_FALSE(app.InitInstance());
    }

    // The first two modal windows: the open failure, then the port dialog showing that number.
    std::vector<ModalScript::Step> OpenFailureThenDialog(
        std::function<void(CPortSelectionDialog&)> answer) {
        return {
            [this](QWidget* modal) {
                auto* box = qobject_cast<QMessageBox*>(modal);
                if (box == nullptr) {
                    return false;
                }
                seen_.push_back("box:" + box->windowTitle().toStdString() + ":" +
                                box->text().toStdString());
                box->accept();
                return true;
            },
            [this, answer](QWidget* modal) {
                auto* dialog = qobject_cast<CPortSelectionDialog*>(modal);
                if (dialog == nullptr) {
                    return false;
                }
                seen_.push_back("dialog:" + dialog->windowTitle().toStdString() + ":" +
                                dialog->PortEdit()->text().toStdString());
                mainVisibleAtDialog_ = MainDialogVisible();
                answer(*dialog);
                return true;
            },
        };
    }

    static bool MainDialogVisible() {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (qobject_cast<CVibrationDialog*>(widget) != nullptr && widget->isVisible()) {
                return true;
            }
        }
        return false;
    }

    QTemporaryDir dir_;
    std::vector<std::string> seen_;
    bool mainVisibleAtDialog_ = true;
};

TEST_F(StartupE2ETest, MissingPortAsksForAnotherAndThenShowsSpectra) {
    SimConfig config;
    config.x.tones.push_back({8.0, 1.0, 0.0});
    config.y.tones.push_back({20.0, 0.5, 0.0});
    TavrekSimulator sim(config);
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;
    {
        QSettings ini(ProfilePath(), QSettings::IniFormat);
        ini.setValue(QStringLiteral("Ports/COM%1").arg(SimCom),
                     QString::fromStdString(sim.SlavePath()));
    }

    SpectrumStore store;
    std::vector<ModalScript::Step> steps = OpenFailureThenDialog([](CPortSelectionDialog& dialog) {
        dialog.PortEdit()->setText(QString::number(SimCom));
        dialog.OkButton()->click();
    });
    // The main window: wait until the tones stand out of both averaged spectra (a dozen
    // cycles into the 20-block mean), then close it.
    steps.push_back([&store](QWidget* modal) {
        auto* main = qobject_cast<CVibrationDialog*>(modal);
        if (main == nullptr || store.shownX[9] <= store.shownX[15] + 40.0 ||
            store.shownY[21] <= store.shownY[15] + 40.0) {
            return false;
        }
        main->reject();
        return true;
    });
    ModalScript script(std::move(steps));
    RunProgram(store);

    EXPECT_TRUE(script.Finished());
    EXPECT_EQ(seen_, (std::vector<std::string>{"box:Sorvell:Could not open port.",
                                               "dialog:Port Selection Dialog :5"}));
    EXPECT_FALSE(mainVisibleAtDialog_);
    EXPECT_EQ(SavedPort(), SimCom);
    // The tones stand out on their own axes.
    EXPECT_GT(store.shownX[9], store.shownX[15] + 40.0);
    EXPECT_GT(store.shownY[21], store.shownY[15] + 40.0);
    sim.Stop();
}

TEST_F(StartupE2ETest, AnAdapterChosenFromTheListIsMappedSavedAndConnected) {
    TavrekSimulator sim(SimConfig{});
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;
    // The simulator's line stands in for a USB adapter in the dialog's list.
    ports_.ports = {FtdiAdapter(sim.SlavePath(), sim.SlavePath())};

    SpectrumStore store;
    std::vector<ModalScript::Step> steps = OpenFailureThenDialog([](CPortSelectionDialog& dialog) {
        dialog.PortList()->item(0)->setSelected(true);
        dialog.OkButton()->click();
    });
    steps.push_back([&store](QWidget* modal) {
        auto* main = qobject_cast<CVibrationDialog*>(modal);
        if (main == nullptr || store.sampleCount == 0) {
            return false;
        }
        main->reject();
        return true;
    });
    ModalScript script(std::move(steps));
    RunProgram(store);

    EXPECT_TRUE(script.Finished());
    EXPECT_EQ(seen_, (std::vector<std::string>{"box:Sorvell:Could not open port.",
                                               "dialog:Port Selection Dialog :5"}));
    // COM5 opens another device in the profile: the adapter became COM1, which is saved with it
    // and reached the module.
    EXPECT_EQ(SavedPort(), 1);
    QSettings ini(ProfilePath(), QSettings::IniFormat);
    EXPECT_EQ(ini.value(QStringLiteral("Ports/COM1")).toString().toStdString(), sim.SlavePath());
    EXPECT_EQ(ini.value(QStringLiteral("Ports/COM5")).toString(),
              QStringLiteral("/nonexistent/sorvell-e2e-port"));
    EXPECT_GT(store.sampleCount, 0);  // a cycle ran
    sim.Stop();
}

TEST_F(StartupE2ETest, TerminateProgramEndsAtTheFirstTick) {
    SpectrumStore store;
    ModalScript script(OpenFailureThenDialog(
        [](CPortSelectionDialog& dialog) { dialog.TerminateButton()->click(); }));
    RunProgram(store);
    EXPECT_TRUE(script.Finished());
    EXPECT_EQ(seen_, (std::vector<std::string>{"box:Sorvell:Could not open port.",
                                               "dialog:Port Selection Dialog :5"}));
    EXPECT_EQ(SavedPort(), 1000);
    EXPECT_EQ(store.sampleCount, 0);  // no cycle ran
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
