#include "CheckOptions.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <string_view>

#include "ComDeviceMap.h"
#include "NumberText.h"

const std::string CheckHelpText =
    R"(Usage: sorvell-check [--port N | --device PATH] [--cycles N] [--warm-up N] [--limits FILE]
                     [--spectra FILE] [--save-limits FILE [--merge] [--margin DB]]
                     [--report FILE] [--record FILE]
       sorvell-check --from FILE [--cycles N] [--warm-up N] [--limits FILE] [--spectra FILE]
                     [--save-limits FILE [--merge] [--margin DB]] [--report FILE]
       sorvell-check --list-ports

Runs Sorvell's connection and acquisition cycle without a window and judges both axes' spectra
against their limits as the plots do: an entry is out of limits when its level is above its upper
limit or not at or above its lower one, and its latest out-of-limit level is latched.

  --port N            COM port number 1 to )" +
    std::to_string(HighestComNumber) + R"(, mapped as Sorvell maps it (the [Ports] section of
                      the profile, else /dev/ttyS<N-1>); default: the profile's saved port
  --device PATH       the module's serial device, instead of a COM number
  --cycles N          judged cycles after the warm-up (default 40)
  --warm-up N         completed cycles before judging starts (default 19; the moving mean of the
                      levels fills after 20 blocks)
  --limits FILE       limits file (CSV: axis,entry,max_db,min_db; axis X or Y, entry 0 to 31);
                      entries it does not list, or all without it, keep the default limits
                      (+15 dB and -120 dB)
  --spectra FILE      writes a header line, then for every completed cycle (warm-up included,
                      numbered from 1) and axis a row cycle,axis,db0,...,db32: the levels of
                      entries 0 to 32 in dB with four decimals
  --save-limits FILE  after the run, writes a limits file learned from this part: each entry's
                      upper limit at the highest level it reached in a judged cycle plus the
                      margin, its lower limit at the lowest level minus the margin
  --merge             with --save-limits: widens the limits already in FILE so that they also
                      cover this run, to learn from several good parts, one run each
  --margin DB         the margin of --save-limits (default 5)
  --list-ports        lists the serial ports present, one a line: the device (a USB adapter's
                      stable /dev/serial/by-id/ name where it has one), what the system says it
                      is (description, maker, serial number, USB ids) and the COM numbers that
                      open it; then exits 0 without running
  --report FILE       writes the run's result as one JSON object, also when the run fails
  --record FILE       keeps the module's blocks of every completed cycle (warm-up included) as a
                      recording (CSV: cycle,axis,ms,s0,...,s63), written as the cycles complete
  --from FILE         judges a recording instead of the module, as a live run would; --cycles
                      defaults to every cycle of the file after the warm-up
  --version           the version
  --help              this text

It prints the port, the cycles with their rate and every entry 5 to 31 that was out of limits
in a judged cycle, with its latched level. It never asks a question: where Sorvell would open the
Port Selection dialog it gives up. The profile is read, never written.

Exit status:
  0  every entry 5 to 31 of both axes stayed within its limits in every judged cycle
  1  at least one did not
  2  bad usage, or a limits, merge, spectra, report or recording file that cannot be read or
     written
  3  the module cannot be reached or the line fails (with Sorvell's own message)
)";

std::string CheckVersionText() {
    return std::string("sorvell-check ") + SORVELL_VERSION + "\n";
}

namespace {

// The options as read so far, with what only the whole command line can judge.
struct ParsedOptions {
    CheckOptions options;
    bool marginGiven = false;
};

// Stores the value of the option name, or answers false with the reason in error.
using ValueSetter = bool (*)(const std::string& name, const std::string& value,
                             ParsedOptions& parsed, std::string& error);

bool SetPort(const std::string&, const std::string& value, ParsedOptions& parsed,
             std::string& error) {
    const std::optional<int> port = ParseNumber<int>(value, NumberForms::CommandLine);
    if (!port || !IsComNumber(*port)) {
        error = "--port takes a COM port number from 1 to " + std::to_string(HighestComNumber) +
                ", not \"" + value + "\"";
        return false;
    }
    parsed.options.port = *port;
    return true;
}

bool SetDevice(const std::string&, const std::string& value, ParsedOptions& parsed,
               std::string& error) {
    if (value.empty()) {
        error = "--device needs a device path";
        return false;
    }
    parsed.options.device = value;
    return true;
}

template <int CheckOptions::*Count, int Lowest>
bool SetCount(const std::string& name, const std::string& value, ParsedOptions& parsed,
              std::string& error) {
    const std::optional<int> count = ParseNumber<int>(value, NumberForms::CommandLine);
    if (!count || *count < Lowest) {
        error = name + " takes a whole number from " + std::to_string(Lowest) + ", not \"" + value +
                "\"";
        return false;
    }
    parsed.options.*Count = *count;
    return true;
}

bool SetMargin(const std::string&, const std::string& value, ParsedOptions& parsed,
               std::string& error) {
    const std::optional<float> margin = ParseNumber<float>(value, NumberForms::CommandLine);
    if (!margin) {
        error = "--margin takes a number of dB, not \"" + value + "\"";
        return false;
    }
    parsed.options.margin = *margin;
    parsed.marginGiven = true;
    return true;
}

template <std::string CheckOptions::*File>
bool SetFile(const std::string& name, const std::string& value, ParsedOptions& parsed,
             std::string& error) {
    if (value.empty()) {
        error = name + " needs a file name";
        return false;
    }
    parsed.options.*File = value;
    return true;
}

struct ValueOption {
    std::string_view name;
    ValueSetter set;
};

// Every option that takes a value, as --name VALUE or --name=VALUE.
constexpr std::array<ValueOption, 11> ValueOptions = {{
    {"--port", SetPort},
    {"--device", SetDevice},
    {"--cycles", SetCount<&CheckOptions::cycles, 1>},
    {"--warm-up", SetCount<&CheckOptions::warmUp, 0>},
    {"--limits", SetFile<&CheckOptions::limitsFile>},
    {"--spectra", SetFile<&CheckOptions::spectraFile>},
    {"--save-limits", SetFile<&CheckOptions::saveLimitsFile>},
    {"--margin", SetMargin},
    {"--report", SetFile<&CheckOptions::reportFile>},
    {"--record", SetFile<&CheckOptions::recordFile>},
    {"--from", SetFile<&CheckOptions::fromFile>},
}};

const ValueOption* FindValueOption(std::string_view name) {
    const auto found = std::find_if(ValueOptions.begin(), ValueOptions.end(),
                                    [&](const ValueOption& option) { return option.name == name; });
    return found == ValueOptions.end() ? nullptr : &*found;
}

// Reads the option at args[i], and its value (moving i past a separate one).
bool TakeOption(std::span<const std::string> args, std::size_t& i, ParsedOptions& parsed,
                std::string& error) {
    std::string name = args[i];
    std::optional<std::string> value;
    if (const std::size_t equals = name.find('=');
        name.starts_with("--") && equals != std::string::npos) {
        value = name.substr(equals + 1);
        name.resize(equals);
    }
    if (name == "--help" || name == "-h" || name == "--version" || name == "--merge" ||
        name == "--list-ports") {
        if (value) {
            error = name + " takes no value";
            return false;
        }
        bool CheckOptions::*flag = name == "--version"      ? &CheckOptions::version
                                   : name == "--merge"      ? &CheckOptions::merge
                                   : name == "--list-ports" ? &CheckOptions::listPorts
                                                            : &CheckOptions::help;
        parsed.options.*flag = true;
        return true;
    }
    const ValueOption* option = FindValueOption(name);
    if (option == nullptr) {
        error = "unknown option " + args[i];
        return false;
    }
    if (!value && i + 1 < args.size()) {
        value = args[++i];
    }
    if (!value) {
        error = name + " needs a value";
        return false;
    }
    parsed.options.cyclesGiven |= name == "--cycles";
    return option->set(name, *value, parsed, error);
}

// Whether a and b name one file: the same name, or two names of one file that is there already.
bool SameFile(const std::string& a, const std::string& b) {
    if (a.empty() || b.empty()) {
        return false;
    }
    struct stat first {};
    struct stat second {};
    return a == b || (::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
                      first.st_dev == second.st_dev && first.st_ino == second.st_ino);
}

// Whether path is also one of the files the run writes (its spectra, limits or report).
bool IsAnOutput(const std::string& path, const CheckOptions& options) {
    return SameFile(path, options.spectraFile) || SameFile(path, options.saveLimitsFile) ||
           SameFile(path, options.reportFile);
}

// What no single option shows: options that exclude or need each other, and the cycle total.
bool CheckTogether(const ParsedOptions& parsed, std::string& error) {
    const CheckOptions& options = parsed.options;
    if (options.port && !options.device.empty()) {
        error = "--port and --device cannot be given together";
    } else if (parsed.marginGiven && options.saveLimitsFile.empty()) {
        error = "--margin goes with --save-limits";
    } else if (options.merge && options.saveLimitsFile.empty()) {
        error = "--merge goes with --save-limits: it widens the limits of that file";
    } else if (!options.reportFile.empty() && (options.reportFile == options.spectraFile ||
                                               options.reportFile == options.saveLimitsFile)) {
        error = "--report needs a file of its own";
    } else if (!options.spectraFile.empty() && options.spectraFile == options.saveLimitsFile) {
        error = "--spectra and --save-limits need a file each";
    } else if (!options.fromFile.empty() &&
               (options.port || !options.device.empty() || !options.recordFile.empty())) {
        error = "--from judges a recording: it takes no --port, --device or --record";
    } else if (IsAnOutput(options.recordFile, options) ||
               SameFile(options.recordFile, options.limitsFile)) {
        error = "--record needs a file of its own";
    } else if (IsAnOutput(options.fromFile, options)) {
        // The recording would be written over by the run that judges it.
        error = "--from needs a file of its own: no output may be written to the recording";
    } else if (static_cast<long long>(options.cycles) + options.warmUp > 1'000'000'000LL) {
        // The total of completed cycles is counted in an int.
        error = "--cycles and --warm-up together exceed 1000000000 cycles";
    } else {
        return true;
    }
    return false;
}

}  // namespace

std::optional<CheckOptions> ParseCheckOptions(std::span<const std::string> args,
                                              std::string& error) {
    ParsedOptions parsed;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (!TakeOption(args, i, parsed, error)) {
            return std::nullopt;
        }
    }
    if (!CheckTogether(parsed, error)) {
        return std::nullopt;
    }
    return parsed.options;
}
