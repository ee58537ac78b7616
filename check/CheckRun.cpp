#include "CheckRun.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "AcquisitionCycle.h"
#include "CheckReport.h"
#include "ComDeviceMap.h"
#include "CycleRecorder.h"
#include "LevelRanges.h"
#include "LimitEditor.h"
#include "LimitsFile.h"
#include "ModuleConnection.h"
#include "Profile.h"
#include "Recording.h"
#include "SpectrumJudge.h"

namespace {

// Spectrum entries written per axis to the spectra file: 0 (no bin) to 32 (DFT bin 31), every
// entry the plots could draw; the Nyquist entry (33) is drawn nowhere and left out.
constexpr int SpectraEntries = 33;
// Ticks in a row that neither complete a cycle nor fail before the run gives up; the cycle always
// does one or the other, so this only guards the run against a cycle that changed its ways.
constexpr int IdleTickLimit = 100;

// What the run says on standard error, one line each, and keeps for its report.
class RunMessages {
  public:
    RunMessages(std::ostream& err, CheckReport& report) : err_(err), report_(report) {}

    void Say(const std::string& line) {
        err_ << "sorvell-check: " << line << '\n';
        report_.messages.push_back(line);
    }

  private:
    std::ostream& err_;
    CheckReport& report_;
};

constexpr const char* ListPortsHint = "sorvell-check --list-ports lists the ports present.";

// The window's services as a check run has them: nothing is ever asked. The first message box
// ends the run (its text is what the run reports), the Port Selection dialog ends it too, there are
// no window messages to pump, and the profile is read through the run's own port choice and never
// written.
class CheckHost final : public ModuleHost {
  public:
    explicit CheckHost(int portNumber) : portNumber_(portNumber) {}

    void MessageBox(const char* text) override { FailureBox(text, {}); }
    // The connection's boxes carry the device and the system's reason as their secondary text,
    // one line each, which the run prints after the box's own text.
    void FailureBox(const char* text, const std::string& detail) override {
        if (!failed_) {
            message_ = text;
            detail_ = detail;
        }
        failed_ = true;
    }
    // No dialog follows a check run: the list of ports is the command's own.
    std::string_view OtherDeviceHint() const override { return ListPortsHint; }
    bool PumpOneMessage() override { return false; }
    // A failure ends the cycle at its next look, as closing the window would.
    bool MainWindowClosing() const override { return failed_; }
    // Nothing is drawn: the run reads each cycle's spectra from the store.
    void InvalidateClient() override {}
    void KillTimerAndClose() override { failed_ = true; }
    void DefaultProcessing() override {}
    void RunPortSelectionDialog(int& portNumber) override {
        portSelection_ = true;
        failed_ = true;
        portNumber = TerminatePortNumber;
    }
    int GetProfileInt(const char* section, const char* entry, int defaultValue) override {
        if (std::strcmp(section, Profile::AppSection) == 0 &&
            std::strcmp(entry, Profile::ComPortEntry) == 0) {
            return portNumber_;
        }
        return defaultValue;
    }
    // The window's saved port belongs to the window; a check run leaves it as it is.
    bool WriteProfileInt(const char*, const char*, int) override { return true; }

    bool Failed() const { return failed_; }
    bool PortSelection() const { return portSelection_; }
    const std::string& Message() const { return message_; }
    const std::string& Detail() const { return detail_; }

  private:
    int portNumber_;
    bool failed_ = false;
    bool portSelection_ = false;
    std::string message_;
    std::string detail_;
};

// The cycles of a run that completed. The cycle tells of each live one as it completes, and this
// hands it on to the recording --record makes; the run tells of each recorded one (--from) it
// has analysed.
class CompletedCycles final : public CycleObserver {
  public:
    void CycleCompleted(const CycleBlocks& blocks) override {
        ++count_;
        if (recorder_ != nullptr) {
            recorder_->CycleCompleted(blocks);
        }
    }
    void HandOnTo(CycleObserver& recorder) { recorder_ = &recorder; }
    long long Count() const { return count_; }

  private:
    long long count_ = 0;
    CycleObserver* recorder_ = nullptr;
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
bool LoadLimits(const CheckOptions& options, SpectrumStore& store, RunMessages& messages) {
    store.FillDefaults();
    std::string error;
    if (options.limitsFile.empty() || LoadLimitsFile(options.limitsFile, store, error)) {
        return true;
    }
    messages.Say(error);
    return false;
}

// The limits that --merge widens: the file --save-limits names, read whole before the module is
// touched, so that a file that cannot be read costs no run.
bool LoadMergeLimits(const CheckOptions& options, LimitsTable& table, RunMessages& messages) {
    if (!options.merge) {
        return true;
    }
    std::string text;
    std::string error;
    if (!ReadWholeFile(options.saveLimitsFile, LimitsFileMaxBytes, text, error) ||
        !ParseLimits(text, options.saveLimitsFile, table, error)) {
        messages.Say(error + " (the limits --merge would widen)");
        return false;
    }
    return true;
}

// A report or a recording that could never be written is said before the run rather than after it:
// the folder must be there, and the name must not be a folder itself. Whether the file can really
// be written shows only when it is.
bool ReportCanBeWritten(const std::string& path, RunMessages& messages) {
    if (path.empty()) {
        return true;
    }
    const std::size_t slash = path.rfind('/');
    const std::string folder =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    struct stat status {};
    std::string why;
    if (stat(folder.c_str(), &status) != 0) {
        why = std::strerror(errno);
    } else if (!S_ISDIR(status.st_mode)) {
        why = std::strerror(ENOTDIR);
    } else if (stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
        why = std::strerror(EISDIR);
    } else {
        return true;
    }
    messages.Say("Could not write " + path + ": " + why);
    return false;
}

bool OpenSpectra(const std::string& path, std::ofstream& spectra, RunMessages& messages) {
    spectra.open(path, std::ios::out | std::ios::trunc);
    if (!spectra) {
        messages.Say("Could not write " + path + ": " + std::strerror(errno));
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
// window's start-up, the saved number as StartComNumber has it.
int ChoosePort(const CheckOptions& options, int savedPort) {
    if (!options.device.empty()) {
        SetComDevicePath(DeviceComNumber, options.device);
        return DeviceComNumber;
    }
    const int portNumber = options.port.value_or(savedPort);
    return StartComNumber(portNumber);
}

// One run against the module, once its files are open: the connection, the cycles paced as the
// window's timer paces them, the judgement of each, and what is written at the end.
class CheckSession {
  public:
    // recording, when given, is judged instead of the module (--from).
    CheckSession(const CheckOptions& options, int portNumber, const Recording* recording,
                 SpectrumStore& store, std::ofstream& spectra, const LimitsTable& mergeLimits,
                 ModuleClock& clock, RunMessages& messages)
        : options_(options),
          recording_(recording),
          store_(store),
          spectra_(spectra),
          mergeLimits_(mergeLimits),
          clock_(clock),
          messages_(messages),
          portNumber_(recording == nullptr ? portNumber : 0),
          portName_(recording != nullptr ? "recording " + options.fromFile
                                         : "COM" + std::to_string(portNumber) + " (" +
                                               ComDevicePath(portNumber) + ")"),
          host_(portNumber),
          connection_(clock),
          recorder_(clock, SORVELL_VERSION, [this](const std::string& why) {
              messages_.Say(why);
              recordingFailed_ = true;
          }) {
        cycle_.SetObserver(&completed_);
    }

    // Starts the recording --record asks for, once the module has answered (a run that cannot
    // reach it leaves an older recording of that name as it was); false, said, when its file
    // cannot be made.
    bool StartRecording() {
        if (options_.recordFile.empty()) {
            return true;
        }
        std::string error;
        if (!recorder_.Start(options_.recordFile, portName_, error)) {
            messages_.Say(error);
            return false;
        }
        completed_.HandOnTo(recorder_);
        return true;
    }

    // Answers a CheckStatus; the summary goes to out.
    int Run(std::ostream& out) {
        if (recording_ == nullptr) {
            connection_.ConnectAtStartup(host_);
            if (host_.Failed() || connection_.TerminateRequested()) {
                return ModuleFailed();
            }
            if (!StartRecording()) {
                connection_.TearDown();
                return CheckBadUsage;
            }
        }
        startMs_ = clock_.SteadyMs();
        const bool completed = recording_ != nullptr ? JudgeRecording() : RunCycles();
        // A recording's own times say how long its cycles took; one whose rows carry no time
        // apart (a single cycle, or times written by hand) has none to say.
        elapsedMs_ = recording_ != nullptr
                         ? std::max<std::int64_t>(RecordedMs(), 0)
                         : std::max<std::int64_t>(clock_.SteadyMs() - startMs_, 1);
        recorder_.Stop();
        if (!completed) {
            return CheckModuleFailed;
        }
        judged_ = true;
        connection_.TearDown();
        const int status = WriteOutputs(judge_.AnyOut() ? CheckOutOfLimits : CheckPassed);
        Summarise(out);
        return status;
    }

    // What the run did, for its report.
    void Record(CheckReport& report) const {
        report.portNumber = portNumber_;
        report.device = recording_ != nullptr ? std::string() : ComDevicePath(portNumber_);
        report.recording = options_.fromFile;
        report.completedCycles = static_cast<int>(completed_.Count());
        if (startMs_ >= 0 && elapsedMs_ > 0) {
            report.seconds = static_cast<double>(elapsedMs_) / 1000.0;
        }
        report.judged = judged_;
        report.outOfLimits = judge_.AnyOut();
        report.ranges = &ranges_;
        report.judge = &judge_;
    }

  private:
    int TotalCycles() const { return options_.warmUp + options_.cycles; }

    // Ticks until every cycle has completed; false, said, when the module fails.
    bool RunCycles() {
        std::int64_t nextTickMs = startMs_;
        int idleTicks = 0;
        for (int completed = 0; completed < TotalCycles();) {
            WaitForTick(nextTickMs);
            const long long before = completed_.Count();
            cycle_.OnTimer(host_, connection_, store_, clock_);
            if (host_.Failed()) {
                ModuleFailed();
                return false;
            }
            if (completed_.Count() == before) {
                if (++idleTicks >= IdleTickLimit) {
                    messages_.Say(portName_ + ": no cycle completed in " +
                                  std::to_string(IdleTickLimit) + " ticks");
                    return false;
                }
                continue;
            }
            idleTicks = 0;
            RecordCycle(++completed);
        }
        return true;
    }

    // The recording's cycles through the same analysis, averaging and judgement as the module's.
    bool JudgeRecording() {
        CycleBlocks blocks;
        for (int completed = 0; completed < TotalCycles();) {
            for (const RecordedBlock& block : CycleRows(completed)) {
                (block.axis == 'X' ? blocks.x : blocks.y) = block.samples;
            }
            cycle_.AnalyseRecordedCycle(blocks, host_, store_);
            completed_.CycleCompleted(blocks);
            RecordCycle(++completed);
        }
        return true;
    }

    // The two rows of a recorded cycle (from 0): every cycle of a recording holds one row of
    // each axis, one after the other.
    std::span<const RecordedBlock, 2> CycleRows(int cycle) const {
        return std::span(recording_->blocks)
            .subspan(2 * static_cast<std::size_t>(cycle))
            .first<2>();
    }

    // How long the recorded cycles took, by the recording's own clock: the time from the first
    // cycle to the last, over the cycles in between, is the pace of one. 0 when there is no
    // pace to be had (one cycle, or times that do not move on).
    std::int64_t RecordedMs() const {
        const auto startOf = [this](int cycle) {
            const std::span<const RecordedBlock, 2> rows = CycleRows(cycle);
            return std::min(rows[0].ms, rows[1].ms);
        };
        const int cycles = TotalCycles();
        const std::int64_t span = startOf(cycles - 1) - startOf(0);
        if (cycles < 2 || span <= 0) {
            return 0;
        }
        // In doubles, and bounded: a file's times may be anything up to 18 digits.
        const double ms = static_cast<double>(span) * cycles / (cycles - 1);
        return static_cast<std::int64_t>(std::min(ms, 1e15));
    }

    void WaitForTick(std::int64_t& nextTickMs) {
        const std::int64_t now = clock_.SteadyMs();
        if (now < nextTickMs) {
            clock_.Sleep(static_cast<std::uint32_t>(nextTickMs - now));
        }
        // As the window's timer: the next tick is a period after this one, or at once when the
        // cycle took longer.
        nextTickMs = std::max(nextTickMs + AcquisitionPeriodMs, clock_.SteadyMs());
    }

    void RecordCycle(int completed) {
        if (spectra_.is_open()) {
            WriteSpectraRow(spectra_, completed, 'X', store_.shownX);
            WriteSpectraRow(spectra_, completed, 'Y', store_.shownY);
        }
        const bool judged = completed > options_.warmUp;
        if (judged) {
            ranges_.Take(store_);
        }
        judge_.Paint(store_, judged);
    }

    // The window's message, then the device and the system's reason from the box's secondary
    // text, one line each, then what it means for the run.
    int ModuleFailed() {
        if (!host_.Message().empty()) {
            messages_.Say(host_.Message());
        }
        std::istringstream detail(host_.Detail());
        for (std::string line; std::getline(detail, line);) {
            if (!line.empty()) {
                messages_.Say(line);
            }
        }
        messages_.Say(portName_ + ": " +
                      (host_.PortSelection()
                           ? "the module cannot be reached"
                           : "the line failed after " + std::to_string(completed_.Count()) +
                                 " completed cycles"));
        return CheckModuleFailed;
    }

    // Finishes the spectra file and saves the limits asked for; answers status, or CheckBadUsage
    // when either cannot be written.
    int WriteOutputs(int status) {
        if (recordingFailed_) {
            status = CheckBadUsage;
        }
        if (spectra_.is_open()) {
            spectra_.close();
            if (!spectra_) {
                messages_.Say("Could not write " + options_.spectraFile);
                status = CheckBadUsage;
            }
        }
        if (!options_.saveLimitsFile.empty()) {
            // Limits learned from this part, over the limits the run judged with (entries that
            // got no level keep those), widened by the file's own when merging.
            auto limits = std::make_unique<SpectrumStore>(store_);
            SetLearnedLimits(ranges_, options_.margin, *limits);
            if (options_.merge) {
                WidenLimits(mergeLimits_, *limits);
            }
            std::string error;
            if (!SaveLimitsFile(options_.saveLimitsFile, *limits, error)) {
                messages_.Say(error);
                status = CheckBadUsage;
            }
        }
        return status;
    }

    void Summarise(std::ostream& out) const {
        char timing[64] = "no recorded time";
        if (elapsedMs_ > 0) {
            std::snprintf(timing, sizeof timing, "%.2f s, %.1f cycles/s",
                          static_cast<double>(elapsedMs_) / 1000.0,
                          1000.0 * TotalCycles() / static_cast<double>(elapsedMs_));
        }
        out << "sorvell-check: " << portName_ << ": " << TotalCycles() << " cycles ("
            << options_.warmUp << " warm-up, " << options_.cycles << " judged) in " << timing
            << '\n';
        ReportOutOfLimits(out, store_, judge_, options_.cycles);
        out << (judge_.AnyOut() ? "FAIL: entries out of limits\n"
                                : "PASS: every entry 5 to 31 of both axes within its limits\n");
    }

    const CheckOptions& options_;
    const Recording* const recording_;
    SpectrumStore& store_;
    std::ofstream& spectra_;
    const LimitsTable& mergeLimits_;
    ModuleClock& clock_;
    RunMessages& messages_;
    const int portNumber_;
    const std::string portName_;
    CheckHost host_;
    ModuleConnection connection_;
    // Told of every cycle by cycle_, so made before it.
    CompletedCycles completed_;
    AcquisitionCycle cycle_;
    SpectrumJudge judge_;
    LevelRanges ranges_;
    std::int64_t startMs_ = -1;
    std::int64_t elapsedMs_ = 0;
    bool judged_ = false;
    CycleRecorder recorder_;
    bool recordingFailed_ = false;
};

// Everything before the module is touched: the limits, the limits --merge widens, the spectra
// file and the report's folder. Answers whether the run may go on.
bool Prepare(const CheckOptions& options, SpectrumStore& store, LimitsTable& mergeLimits,
             std::ofstream& spectra, RunMessages& messages, CheckReport& report) {
    if (!LoadLimits(options, store, messages)) {
        return false;
    }
    report.store = &store;
    if (!ReportCanBeWritten(options.reportFile, messages)) {
        report.refused = true;
        return false;
    }
    // The recording is made once the module answers; a folder it could never be made in is said
    // now.
    if (!ReportCanBeWritten(options.recordFile, messages)) {
        return false;
    }
    return LoadMergeLimits(options, mergeLimits, messages) &&
           (options.spectraFile.empty() || OpenSpectra(options.spectraFile, spectra, messages));
}

// The recording --from names, read whole before anything is judged. Unless --cycles says
// otherwise, every cycle it holds after the warm-up is judged. Answers whether it can be.
bool ReadRecordingToJudge(CheckOptions& options, Recording& recording, RunMessages& messages) {
    if (options.fromFile.empty()) {
        return true;
    }
    std::string error;
    if (!ReadRecording(options.fromFile, recording, error)) {
        messages.Say(error);
        return false;
    }
    if (!recording.warning.empty()) {
        messages.Say(recording.warning);
    }
    const long long held = static_cast<long long>(recording.blocks.size() / 2);
    if (!options.cyclesGiven) {
        options.cycles = static_cast<int>(
            std::clamp<long long>(held - options.warmUp, 0, 1'000'000'000LL - options.warmUp));
    }
    if (options.cycles < 1 || held < static_cast<long long>(options.warmUp) + options.cycles) {
        messages.Say(options.fromFile + " holds " + std::to_string(held) + " cycles: too few for " +
                     std::to_string(options.warmUp) + " warm-up and " +
                     (options.cyclesGiven ? std::to_string(options.cycles) : "at least 1") +
                     " judged");
        return false;
    }
    return true;
}

}  // namespace

int RunCheck(const CheckOptions& given, int savedPort, ModuleClock& clock, std::ostream& out,
             std::ostream& err) {
    CheckOptions options = given;
    CheckReport report;
    RunMessages messages(err, report);
    // A recording first: how many cycles it holds decides how many are judged.
    auto recording = std::make_unique<Recording>();
    const bool recordingRead = ReadRecordingToJudge(options, *recording, messages);
    report.warmUpCycles = options.warmUp;
    report.judgedCycles = options.cycles;
    report.limitsFile = options.limitsFile;
    report.savedLimitsFile = options.saveLimitsFile;
    report.merged = options.merge;

    // Defaults and limits first: a bad file is refused before the module is touched.
    auto store = std::make_unique<SpectrumStore>();
    auto mergeLimits = std::make_unique<LimitsTable>();
    std::ofstream spectra;
    CheckSession run(options, ChoosePort(options, savedPort),
                     options.fromFile.empty() ? nullptr : recording.get(), *store, spectra,
                     *mergeLimits, clock, messages);
    int status = CheckBadUsage;
    if (recordingRead && Prepare(options, *store, *mergeLimits, spectra, messages, report)) {
        status = run.Run(out);
    }
    run.Record(report);
    if (!options.reportFile.empty() && !report.refused) {
        report.exitStatus = status;
        std::string error;
        if (!WriteCheckReport(options.reportFile, report, error)) {
            messages.Say(error);
            status = CheckBadUsage;
        }
    }
    return status;
}
