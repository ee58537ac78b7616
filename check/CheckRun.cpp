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
// Spectrum entries written per axis to the spectra file: 0 (no bin) to 32 (DFT bin 31), every
// entry the plots could draw; the Nyquist entry (33) is drawn nowhere and left out.
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

// A level in dB as the spectra file and the summary write it: four decimals.
struct Db {
    double value;
};

std::ostream& operator<<(std::ostream& out, Db db) {
    char text[64];
    std::snprintf(text, sizeof text, "%.4f", db.value);
    return out << text;
}

void WriteSpectraRow(std::ostream& out, int cycle, char axis, const SpectrumArray& levels) {
    out << cycle << ',' << axis;
    for (int i = 0; i < SpectraEntries; ++i) {
        out << ',' << Db{levels[static_cast<std::size_t>(i)]};
    }
    out << '\n';
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
                << Db{isX ? store.errorX[b] : store.errorY[b]} << " dB, limits "
                << Db{isX ? store.minLimitX[b] : store.minLimitY[b]} << " to "
                << Db{isX ? store.maxLimitX[b] : store.maxLimitY[b]} << " dB, in " << count
                << " of " << judgedCycles << " judged cycles\n";
        }
    }
}

// The defaults, then the limits file's limits over them.
bool LoadLimits(const CheckOptions& options, SpectrumStore& store, std::ostream& err) {
    store.FillDefaults();
    std::string error;
    if (options.limitsFile.empty() || LoadLimitsFile(options.limitsFile, store, error)) {
        return true;
    }
    err << "sorvell-check: " << error << '\n';
    return false;
}

bool OpenSpectra(const std::string& path, std::ofstream& spectra, std::ostream& err) {
    spectra.open(path, std::ios::out | std::ios::trunc);
    if (!spectra) {
        err << "sorvell-check: Could not write " << path << ": " << std::strerror(errno) << '\n';
        return false;
    }
    spectra << "cycle,axis";
    for (int i = 0; i < SpectraEntries; ++i) {
        spectra << ",db" << i;
    }
    spectra << '\n';
    return true;
}

// The COM number the run opens. --device is opened as DeviceComNumber; otherwise, as at the
// window's start-up, a saved number above 16 (1000 after "Terminate Program") is 3.
int ChoosePort(const CheckOptions& options, int savedPort) {
    if (!options.device.empty()) {
        SetComDevicePath(DeviceComNumber, options.device);
        return DeviceComNumber;
    }
    const int portNumber = options.port.value_or(savedPort);
    return portNumber > HighestPortNumber ? DefaultPortNumber : portNumber;
}

// One run against the module, once its files are open: the connection, the cycles paced as the
// window's timer paces them, the judgement of each, and what is written at the end.
class BenchRun {
  public:
    BenchRun(const CheckOptions& options, int portNumber, SpectrumStore& store,
             std::ofstream& spectra, ModuleClock& clock, std::ostream& err)
        : options_(options),
          store_(store),
          spectra_(spectra),
          clock_(clock),
          err_(err),
          portName_("COM" + std::to_string(portNumber) + " (" + ComDevicePath(portNumber) + ")"),
          host_(portNumber),
          connection_(clock) {}

    // Answers a CheckStatus; the summary goes to out.
    int Run(std::ostream& out) {
        connection_.ConnectAtStartup(host_);
        if (host_.Failed() || connection_.TerminateRequested()) {
            return ModuleFailed();
        }
        cycle_.acquisitionBusy = 0;
        const std::int64_t startMs = clock_.SteadyMs();
        if (!RunCycles(startMs)) {
            return CheckModuleFailed;
        }
        const std::int64_t elapsedMs = std::max<std::int64_t>(clock_.SteadyMs() - startMs, 1);
        connection_.TearDown();
        const int status = WriteOutputs(judge_.AnyOut() ? CheckOutOfLimits : CheckPassed);
        Summarise(out, elapsedMs);
        return status;
    }

  private:
    int TotalCycles() const { return options_.warmUp + options_.cycles; }

    // Ticks until every cycle has completed; false, said on err, when the module fails.
    bool RunCycles(std::int64_t startMs) {
        std::int64_t nextTickMs = startMs;
        int idleTicks = 0;
        for (int completed = 0; completed < TotalCycles();) {
            WaitForTick(nextTickMs);
            const long long before = host_.CompletedCycles();
            cycle_.OnTimer(host_, connection_, store_, clock_);
            if (host_.Failed()) {
                ModuleFailed();
                return false;
            }
            if (host_.CompletedCycles() == before) {
                if (++idleTicks >= IdleTickLimit) {
                    err_ << "sorvell-check: " << portName_ << ": no cycle completed in "
                         << IdleTickLimit << " ticks\n";
                    return false;
                }
                continue;
            }
            idleTicks = 0;
            RecordCycle(++completed);
        }
        return true;
    }

    void WaitForTick(std::int64_t& nextTickMs) {
        const std::int64_t now = clock_.SteadyMs();
        if (now < nextTickMs) {
            clock_.Sleep(static_cast<std::uint32_t>(nextTickMs - now));
        }
        // As the window's timer: the next tick is a period after this one, or at once when the
        // cycle took longer.
        nextTickMs = std::max(nextTickMs + TickPeriodMs, clock_.SteadyMs());
    }

    void RecordCycle(int completed) {
        if (spectra_.is_open()) {
            WriteSpectraRow(spectra_, completed, 'X', store_.shownX);
            WriteSpectraRow(spectra_, completed, 'Y', store_.shownY);
        }
        judge_.Paint(store_, completed > options_.warmUp);
    }

    int ModuleFailed() {
        if (!host_.Message().empty()) {
            err_ << "sorvell-check: " << host_.Message() << '\n';
        }
        err_ << "sorvell-check: " << portName_ << ": "
             << (host_.PortSelection()
                     ? "the module cannot be reached"
                     : "the line failed after " + std::to_string(host_.CompletedCycles()) +
                           " completed cycles")
             << '\n';
        return CheckModuleFailed;
    }

    // Finishes the spectra file and saves the limits asked for; answers status, or CheckBadUsage
    // when either cannot be written.
    int WriteOutputs(int status) {
        if (spectra_.is_open()) {
            spectra_.close();
            if (!spectra_) {
                err_ << "sorvell-check: Could not write " << options_.spectraFile << '\n';
                status = CheckBadUsage;
            }
        }
        if (!options_.saveLimitsFile.empty()) {
            auto limits = std::make_unique<SpectrumStore>(store_);
            AutoSetLimits(*limits, options_.margin);
            std::string error;
            if (!SaveLimitsFile(options_.saveLimitsFile, *limits, error)) {
                err_ << "sorvell-check: " << error << '\n';
                status = CheckBadUsage;
            }
        }
        return status;
    }

    void Summarise(std::ostream& out, std::int64_t elapsedMs) const {
        char timing[64];
        std::snprintf(timing, sizeof timing, "%.2f s, %.1f cycles/s",
                      static_cast<double>(elapsedMs) / 1000.0,
                      1000.0 * TotalCycles() / static_cast<double>(elapsedMs));
        out << "sorvell-check: " << portName_ << ": " << TotalCycles() << " cycles ("
            << options_.warmUp << " warm-up, " << options_.cycles << " judged) in " << timing
            << '\n';
        ReportOutOfLimits(out, store_, judge_, options_.cycles);
        out << (judge_.AnyOut() ? "FAIL: entries out of limits\n"
                                : "PASS: every entry 5 to 31 of both axes within its limits\n");
    }

    const CheckOptions& options_;
    SpectrumStore& store_;
    std::ofstream& spectra_;
    ModuleClock& clock_;
    std::ostream& err_;
    const std::string portName_;
    BenchHost host_;
    ModuleConnection connection_;
    AcquisitionCycle cycle_;
    SpectrumJudge judge_;
};

}  // namespace

int RunCheck(const CheckOptions& options, int savedPort, ModuleClock& clock, std::ostream& out,
             std::ostream& err) {
    // Defaults and limits first: a bad file is refused before the module is touched.
    auto store = std::make_unique<SpectrumStore>();
    std::ofstream spectra;
    if (!LoadLimits(options, *store, err) ||
        (!options.spectraFile.empty() && !OpenSpectra(options.spectraFile, spectra, err))) {
        return CheckBadUsage;
    }
    BenchRun run(options, ChoosePort(options, savedPort), *store, spectra, clock, err);
    return run.Run(out);
}
