#include "CheckRun.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

#include "AcquisitionCycle.h"
#include "ComDeviceMap.h"
#include "LimitEditor.h"
#include "LimitsFile.h"
#include "ModuleConnection.h"
#include "SpectrumJudge.h"

namespace {

// The main window's timer period: a tick starts a cycle at most this often.
constexpr std::int64_t TickPeriodMs = 50;
// Spectrum entries written per axis to the spectra file: 0 (no coefficient) to 32 (Nyquist).
constexpr int SpectraEntries = 33;
// Ticks in a row that neither complete a cycle nor fail before the run gives up; the cycle always
// does one or the other, so this only guards the run against a cycle that changed its ways.
constexpr int IdleTickLimit = 100;

// The window's services as a bench run has them: nothing is ever asked. The first message box
// ends the run (its text is what the run reports), the Port Selection dialog ends it too, there are
// no window messages to pump, and the profile is read through the run's own port choice and never
// written.
class BenchHost final : public ModuleHost {
  public:
    explicit BenchHost(int portNumber) : portNumber_(portNumber) {}

    void MessageBox(const char* text) override {
        if (!failed_) {
            message_ = text;
        }
        failed_ = true;
    }
    bool PumpOneMessage() override { return false; }
    // A failure ends the cycle at its next look, as closing the window would.
    bool MainWindowClosing() const override { return failed_; }
    void InvalidateClient() override { ++completedCycles_; }
    void KillTimerAndClose() override { failed_ = true; }
    void DefaultProcessing() override {}
    void RunPortSelectionDialog(int& portNumber) override {
        portSelection_ = true;
        failed_ = true;
        portNumber = TerminatePortNumber;
    }
    int GetProfileInt(const char* section, const char* entry, int defaultValue) override {
        if (std::strcmp(section, ProfileSection) == 0 &&
            std::strcmp(entry, ProfilePortEntry) == 0) {
            return portNumber_;
        }
        return defaultValue;
    }
    // The window's saved port belongs to the window; a bench run leaves it as it is.
    bool WriteProfileInt(const char*, const char*, int) override { return true; }

    bool Failed() const { return failed_; }
    bool PortSelection() const { return portSelection_; }
    const std::string& Message() const { return message_; }
    long long CompletedCycles() const { return completedCycles_; }

  private:
    int portNumber_;
    bool failed_ = false;
    bool portSelection_ = false;
    std::string message_;
    long long completedCycles_ = 0;
};

void WriteSpectraRow(std::ostream& out, int cycle, char axis, const SpectrumArray& levels) {
    char field[64];
    out << cycle << ',' << axis;
    for (int i = 0; i < SpectraEntries; ++i) {
        std::snprintf(field, sizeof field, ",%.4f", levels[static_cast<std::size_t>(i)]);
        out << field;
    }
    out << '\n';
}

std::string Db(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.4f", value);
    return text;
}

void ReportOutOfLimits(std::ostream& out, const SpectrumStore& store, const SpectrumJudge& judge,
                       int judgedCycles) {
    for (const char axis : {'X', 'Y'}) {
        const bool isX = axis == 'X';
        for (int bin = FirstDrawnBin; bin <= LastDrawnBin; ++bin) {
            const int count = isX ? judge.OutCountX(bin) : judge.OutCountY(bin);
            if (count == 0) {
                continue;
            }
            const auto b = static_cast<std::size_t>(bin);
            out << "out of limits: " << axis << " entry " << bin << ": latched "
                << Db(isX ? store.errorX[b] : store.errorY[b]) << " dB, limits "
                << Db(isX ? store.minLimitX[b] : store.minLimitY[b]) << " to "
                << Db(isX ? store.maxLimitX[b] : store.maxLimitY[b]) << " dB, in " << count
                << " of " << judgedCycles << " judged cycles\n";
        }
    }
}

}  // namespace

int RunCheck(const CheckOptions& options, int savedPort, ModuleClock& clock, std::ostream& out,
             std::ostream& err) {
    // Defaults and limits first: a bad file is refused before the module is touched.
    auto store = std::make_unique<SpectrumStore>();
    store->FillDefaults();
    if (!options.limitsFile.empty()) {
        std::string error;
        if (!LoadLimitsFile(options.limitsFile, *store, error)) {
            err << "sorvell-check: " << error << '\n';
            return CheckBadUsage;
        }
    }
    std::ofstream spectra;
    if (!options.spectraFile.empty()) {
        spectra.open(options.spectraFile, std::ios::out | std::ios::trunc);
        if (!spectra) {
            err << "sorvell-check: Could not write " << options.spectraFile << ": "
                << std::strerror(errno) << '\n';
            return CheckBadUsage;
        }
        spectra << "cycle,axis";
        for (int i = 0; i < SpectraEntries; ++i) {
            spectra << ",db" << i;
        }
        spectra << '\n';
    }

    int portNumber = options.port.value_or(savedPort);
    // As at the window's start-up: a saved number above 16 (1000 after "Terminate Program") is 3.
    if (portNumber > HighestPortNumber) {
        portNumber = DefaultPortNumber;
    }
    if (!options.device.empty()) {
        portNumber = DeviceComNumber;
        SetComDevicePath(DeviceComNumber, options.device);
    }
    const std::string portName =
        "COM" + std::to_string(portNumber) + " (" + ComDevicePath(portNumber) + ")";
    BenchHost host(portNumber);
    ModuleConnection connection(clock);
    AcquisitionCycle cycle;
    SpectrumJudge judge;

    const auto moduleFailed = [&]() {
        if (!host.Message().empty()) {
            err << "sorvell-check: " << host.Message() << '\n';
        }
        err << "sorvell-check: " << portName << ": "
            << (host.PortSelection()
                    ? "the module cannot be reached"
                    : "the line failed after " + std::to_string(host.CompletedCycles()) +
                          " completed cycles")
            << '\n';
        return CheckModuleFailed;
    };

    connection.ConnectAtStartup(host);
    if (host.Failed() || connection.TerminateRequested()) {
        return moduleFailed();
    }
    cycle.acquisitionBusy = 0;

    const int totalCycles = options.warmUp + options.cycles;
    int completed = 0;
    int idleTicks = 0;
    const std::int64_t startMs = clock.SteadyMs();
    std::int64_t nextTickMs = startMs;
    while (completed < totalCycles) {
        const std::int64_t now = clock.SteadyMs();
        if (now < nextTickMs) {
            clock.Sleep(static_cast<std::uint32_t>(nextTickMs - now));
        }
        // As the window's timer: the next tick is a period after this one, or at once when the
        // cycle took longer.
        nextTickMs = std::max(nextTickMs + TickPeriodMs, clock.SteadyMs());

        const long long before = host.CompletedCycles();
        cycle.OnTimer(host, connection, *store, clock);
        if (host.Failed()) {
            return moduleFailed();
        }
        if (host.CompletedCycles() == before) {
            if (++idleTicks >= IdleTickLimit) {
                err << "sorvell-check: " << portName << ": no cycle completed in " << IdleTickLimit
                    << " ticks\n";
                return CheckModuleFailed;
            }
            continue;
        }
        idleTicks = 0;
        ++completed;
        if (spectra.is_open()) {
            WriteSpectraRow(spectra, completed, 'X', store->shownX);
            WriteSpectraRow(spectra, completed, 'Y', store->shownY);
        }
        judge.Paint(*store, completed > options.warmUp);
    }
    const std::int64_t elapsedMs = std::max<std::int64_t>(clock.SteadyMs() - startMs, 1);
    connection.TearDown();

    int status = judge.AnyOut() ? CheckOutOfLimits : CheckPassed;
    if (spectra.is_open()) {
        spectra.close();
        if (!spectra) {
            err << "sorvell-check: Could not write " << options.spectraFile << '\n';
            status = CheckBadUsage;
        }
    }
    if (!options.saveLimitsFile.empty()) {
        auto limits = std::make_unique<SpectrumStore>(*store);
        AutoSetLimits(*limits, options.margin);
        std::string error;
        if (!SaveLimitsFile(options.saveLimitsFile, *limits, error)) {
            err << "sorvell-check: " << error << '\n';
            status = CheckBadUsage;
        }
    }

    char timing[64];
    std::snprintf(timing, sizeof timing, "%.2f s, %.1f cycles/s",
                  static_cast<double>(elapsedMs) / 1000.0,
                  1000.0 * totalCycles / static_cast<double>(elapsedMs));
    out << "sorvell-check: " << portName << ": " << totalCycles << " cycles (" << options.warmUp
        << " warm-up, " << options.cycles << " judged) in " << timing << '\n';
    ReportOutOfLimits(out, *store, judge, options.cycles);
    out << (judge.AnyOut() ? "FAIL: entries out of limits\n"
                           : "PASS: every entry 5 to 31 of both axes within its limits\n");
    return status;
}
