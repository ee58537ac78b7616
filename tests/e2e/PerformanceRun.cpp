// sorvell-perf: runs the real program offscreen for a while against tavrek-sim in its own
// process and reports how the acquisition keeps up: completed cycles per second, the duration
// of one cycle (median and 99th percentile), the program's processor use and the time from
// start to the first drawn spectrum. A measuring tool, run by hand; it asserts nothing.
//
// Usage: sorvell-perf [SECONDS]   (default 30)

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ModuleHost.h"
#include "ModuleSession.h"
#include "Profile.h"
#include "SpectrumStore.h"
#include "Startup.h"
#include "SystemClock.h"
#include "TavrekModule.h"
#include "VibrationApp.h"
#include "VibrationDialog.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

double CpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
           usage.ru_stime.tv_usec / 1e6;
}

// Forwards to the dialog, noting whether the cycle completed (default processing) or failed.
class MeasuringHost final : public ModuleHost {
  public:
    explicit MeasuringHost(ModuleHost& inner) : inner_(inner) {}
    void MessageBox(const char* text) override {
        ++messages;
        inner_.MessageBox(text);
    }
    bool PumpOneMessage() override { return inner_.PumpOneMessage(); }
    bool MainWindowClosing() const override { return inner_.MainWindowClosing(); }
    void InvalidateClient() override { inner_.InvalidateClient(); }
    void KillTimerAndClose() override { inner_.KillTimerAndClose(); }
    void DefaultProcessing() override {
        completed = true;
        inner_.DefaultProcessing();
    }
    void RunPortSelectionDialog(int& portNumber) override {
        inner_.RunPortSelectionDialog(portNumber);
    }
    int GetProfileInt(const char* section, const char* entry, int defaultValue) override {
        return inner_.GetProfileInt(section, entry, defaultValue);
    }
    bool WriteProfileInt(const char* section, const char* entry, int value) override {
        return inner_.WriteProfileInt(section, entry, value);
    }
    bool completed = false;
    int messages = 0;

  private:
    ModuleHost& inner_;
};

// The module session as main hands it to the dialog, timing every outermost tick.
class MeasuringSession final : public ModuleSession {
  public:
    explicit MeasuringSession(TavrekModule& inner) : inner_(inner) {}
    void ConnectAtStartup(ModuleHost& host) override {
        MeasuringHost measuring(host);
        inner_.ConnectAtStartup(measuring);
        connectMessages = measuring.messages;
        connectedAt = Clock::now();
    }
    void OnTimer(ModuleHost& host) override {
        if (depth_ > 0) {
            ++nestedTicks;
            inner_.OnTimer(host);
            return;
        }
        ++depth_;
        MeasuringHost measuring(host);
        const Clock::time_point start = Clock::now();
        if (firstTick == Clock::time_point{}) {
            firstTick = start;
        }
        inner_.OnTimer(measuring);
        const Clock::time_point end = Clock::now();
        --depth_;
        ++ticks;
        failureMessages += measuring.messages;
        if (measuring.completed) {
            durations.push_back(Seconds(end - start));
            if (firstCompleted == Clock::time_point{}) {
                firstCompleted = end;
            }
            lastCompleted = end;
        }
    }

    std::vector<double> durations;
    Clock::time_point connectedAt{};
    Clock::time_point firstTick{};
    Clock::time_point firstCompleted{};
    Clock::time_point lastCompleted{};
    long ticks = 0;
    long nestedTicks = 0;
    int failureMessages = 0;
    int connectMessages = 0;

  private:
    TavrekModule& inner_;
    int depth_ = 0;
};

// Notes the first paint of the main window that follows the first completed cycle.
class PaintWatch final : public QObject {
  public:
    explicit PaintWatch(const MeasuringSession& session) : session_(session) {}
    bool eventFilter(QObject* object, QEvent* event) override {
        if (event->type() == QEvent::Paint && firstDrawn == Clock::time_point{} &&
            session_.firstCompleted != Clock::time_point{} &&
            qobject_cast<CVibrationDialog*>(object) != nullptr) {
            firstDrawn = Clock::now();
        }
        return false;
    }
    Clock::time_point firstDrawn{};

  private:
    const MeasuringSession& session_;
};

double Percentile(std::vector<double> values, double fraction) {
    if (values.empty()) {
        return 0.0;
    }
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(fraction * (values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

// Starts tavrek-sim with a tone on each axis; answers its pid and slave path.
pid_t StartSimulator(std::string& slavePath) {
    int out[2];
    if (pipe(out) != 0) {
        return -1;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        execl(SORVELL_SIM_PATH, "tavrek-sim", "--x-tone", "8:1.0", "--y-tone", "20:0.5",
              "--x-noise", "0.01", "--y-noise", "0.01", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    char c = 0;
    while (read(out[0], &c, 1) == 1 && c != '\n') {
        slavePath.push_back(c);
    }
    close(out[0]);
    return pid;
}

// The moments and processor times of a run that the session does not keep itself.
struct RunFigures {
    Clock::time_point programStart{};
    Clock::time_point start{};
    Clock::time_point end{};
    double cpuAtFirstTick = 0.0;
    long completedAtFirstTick = 0;
    double cpu = 0.0;
    double simCpu = 0.0;
};

// The profile the program reads: the module on COM3, mapped to the simulator's device.
QString WriteProfile(const QTemporaryDir& dir, const std::string& slavePath) {
    const QString profilePath = dir.path() + QStringLiteral("/sorvell.ini");
    QSettings ini(profilePath, QSettings::IniFormat);
    ini.setValue(QStringLiteral("MySorvellAp/SorvellComPort"), 3);
    ini.setValue(QStringLiteral("Ports/COM3"), QString::fromStdString(slavePath));
    return profilePath;
}

// Measures over the run proper: once the first tick has come, notes the processor time and the
// cycles so far, and closes the window the given number of seconds later.
void WatchForFirstTick(QTimer& watch, const MeasuringSession& session, int seconds,
                       RunFigures& figures) {
    QObject::connect(&watch, &QTimer::timeout, [&watch, &session, &figures, seconds] {
        if (session.firstTick == Clock::time_point{}) {
            return;
        }
        figures.cpuAtFirstTick = CpuSeconds(RUSAGE_SELF);
        figures.completedAtFirstTick = static_cast<long>(session.durations.size());
        watch.stop();
        QTimer::singleShot(seconds * 1000, Qt::PreciseTimer, QCoreApplication::instance(), [] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                if (auto* dialog = qobject_cast<CVibrationDialog*>(widget)) {
                    dialog->reject();
                }
            }
        });
    });
    watch.start(1);
}

// Ends the simulator and answers the processor time it used.
double StopSimulator(pid_t sim) {
    kill(sim, SIGTERM);
    int status = 0;
    waitpid(sim, &status, 0);
    return CpuSeconds(RUSAGE_CHILDREN);
}

void PrintReport(const MeasuringSession& session, const PaintWatch& paints,
                 const RunFigures& figures) {
    const double window = Seconds(figures.end - session.firstTick);
    const long completed =
        static_cast<long>(session.durations.size()) - figures.completedAtFirstTick;
    std::printf("run:                         %.1f s of acquisition after start-up\n", window);
    std::printf("ticks handled:               %ld (+%ld dispatched inside a cycle, ignored)\n",
                session.ticks, session.nestedTicks);
    std::printf("completed cycles:            %zu, %.2f per second\n", session.durations.size(),
                completed / window);
    std::printf("failure messages:            %d during the run, %d while connecting\n",
                session.failureMessages, session.connectMessages);
    std::printf(
        "cycle duration:              median %.2f ms, 99th percentile %.2f ms, max %.2f ms\n",
        Percentile(session.durations, 0.5) * 1e3, Percentile(session.durations, 0.99) * 1e3,
        Percentile(session.durations, 1.0) * 1e3);
    std::printf("processor use (program):     %.1f %% of one core\n", 100.0 * figures.cpu / window);
    std::printf("processor use (tavrek-sim):  %.1f %% of one core\n",
                100.0 * figures.simCpu / Seconds(figures.end - figures.start));
    std::printf("start to module connected:   %.0f ms\n",
                Seconds(session.connectedAt - figures.start) * 1e3);
    std::printf("start to first spectrum:     %.0f ms (first paint after the first cycle)\n",
                Seconds(paints.firstDrawn - figures.start) * 1e3);
    std::printf("process start to first spectrum: %.0f ms\n",
                Seconds(paints.firstDrawn - figures.programStart) * 1e3);
}

}  // namespace

int main(int argc, char** argv) {
    RunFigures figures;
    figures.programStart = Clock::now();
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);

    std::string slavePath;
    const pid_t sim = StartSimulator(slavePath);
    if (sim < 0 || slavePath.empty()) {
        std::fprintf(stderr, "sorvell-perf: could not start %s\n", SORVELL_SIM_PATH);
        return 1;
    }

    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    QTemporaryDir dir;
    const QString profilePath = WriteProfile(dir, slavePath);

    figures.start = Clock::now();
    Profile profile(profilePath.toStdString());
    PrepareApplication(profile);
    SpectrumStore store;
    SystemClock clock;
    TavrekModule module(store, clock);
    MeasuringSession session(module);
    PaintWatch paints(session);
    application.installEventFilter(&paints);
    QTimer startWatch;
    WatchForFirstTick(startWatch, session, seconds, figures);

    SystemPortListSource ports;
    CVibrationApp app(store, session, profile, ports);
    app.InitInstance();
    figures.end = Clock::now();
    figures.cpu = CpuSeconds(RUSAGE_SELF) - figures.cpuAtFirstTick;
    figures.simCpu = StopSimulator(sim);
    PrintReport(session, paints, figures);
    return 0;
}
