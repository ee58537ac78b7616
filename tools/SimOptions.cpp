#include "SimOptions.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <limits>
#include <string_view>

namespace {

// The simulator's numbers are read as the C library reads them (white space before, a '+',
// hexadecimal fractions, a value too small for a double refused), which the scripts and people
// driving it may rely on; none of the program's own forms (NumberText.h) reads that way.
bool ParseDouble(const std::string& text, double* value) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(v)) {
        return false;
    }
    *value = v;
    return true;
}

// As strtoll reads a decimal number, but never after a space or with a '+' in front.
bool ParseInt(const std::string& text, long long low, long long high, long long* value) {
    if (text.empty() || text[0] == ' ' || text[0] == '+') {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < low || v > high) {
        return false;
    }
    *value = v;
    return true;
}

// BIN:VOLTS or BIN:VOLTS:PHASE
bool ParseTone(const std::string& text, Tone* tone) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t colon = text.find(':', start);
        parts.push_back(text.substr(start, colon - start));
        if (colon == std::string::npos) {
            break;
        }
        start = colon + 1;
    }
    if (parts.size() < 2 || parts.size() > 3) {
        return false;
    }
    Tone t;
    if (!ParseDouble(parts[0], &t.bin) || t.bin < 0.0 || !ParseDouble(parts[1], &t.volts)) {
        return false;
    }
    if (parts.size() == 3 && !ParseDouble(parts[2], &t.phaseDegrees)) {
        return false;
    }
    *tone = t;
    return true;
}

// Everything a command line sets, taken over only when the whole line is good.
struct Parsed {
    SimConfig config;
    CommandOptions command;
};

// Takes an option's value (empty for a flag) into *out; false when the value is not what the
// option wants, and then *out is left as it was.
using Apply = bool (*)(const std::string& value, Parsed* out);

struct Option {
    std::string_view name;
    std::string_view alias = {};  // another spelling, not shown in the --help text
    bool flag = false;            // takes no value
    Apply apply = nullptr;
    const char* what = "";        // what a value must be, for the message about a bad one
    const char* needs = nullptr;  // an option that has to be given as well
};

template <bool CommandOptions::*Field>
bool CommandFlag(const std::string&, Parsed* out) {
    out->command.*Field = true;
    return true;
}

bool Link(const std::string& value, Parsed* out) {
    if (value.empty()) {
        return false;
    }
    out->config.linkPath = value;
    return true;
}

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// A number within [low, high] into *target; *target is left alone otherwise.
bool Bounded(const std::string& value, double low, double high, double* target) {
    double d = 0.0;
    if (!ParseDouble(value, &d) || d < low || d > high) {
        return false;
    }
    *target = d;
    return true;
}

template <AxisSignal SimConfig::*Axis>
bool AxisDc(const std::string& value, Parsed* out) {
    return Bounded(value, -kInfinity, kInfinity, &(out->config.*Axis).dcVolts);
}

template <AxisSignal SimConfig::*Axis>
bool AxisNoise(const std::string& value, Parsed* out) {
    return Bounded(value, 0.0, kInfinity, &(out->config.*Axis).noiseVolts);
}

template <AxisSignal SimConfig::*Axis>
bool AxisTone(const std::string& value, Parsed* out) {
    Tone tone;
    if (!ParseTone(value, &tone)) {
        return false;
    }
    (out->config.*Axis).tones.push_back(tone);
    return true;
}

bool Seed(const std::string& value, Parsed* out) {
    long long n = 0;
    if (!ParseInt(value, 0, std::numeric_limits<long long>::max(), &n)) {
        return false;
    }
    out->config.seed = static_cast<std::uint64_t>(n);
    return true;
}

template <int SimFaults::*Field, long long Low, long long High>
bool FaultCount(const std::string& value, Parsed* out) {
    long long n = 0;
    if (!ParseInt(value, Low, High, &n)) {
        return false;
    }
    out->config.faults.*Field = static_cast<int>(n);
    return true;
}

bool ResumeAfter(const std::string& value, Parsed* out) {
    return Bounded(value, 0.0, 1e6, &out->config.faults.resumeAfterSeconds);
}

bool ReplugAfter(const std::string& value, Parsed* out) {
    return Bounded(value, -kInfinity, 1e6, &out->config.faults.replugAfterSeconds);
}

bool StreamRate(const std::string& value, Parsed* out) {
    return Bounded(value, 1.0, 1e7, &out->config.faults.streamBytesPerSecond);
}

bool BurstByte(const std::string& value, Parsed* out) {
    long long n = 0;
    if (!ParseInt(value, 0, 255, &n)) {
        return false;
    }
    out->config.faults.burstByte = static_cast<std::uint8_t>(n);
    return true;
}

bool Answer(const std::string& value, Parsed* out) {
    out->config.faults.answer = value;
    return true;
}

bool NoAnswer(const std::string&, Parsed* out) {
    return Answer("", out);
}

bool DoubleAnswer(const std::string&, Parsed* out) {
    return Answer("QQ", out);
}

bool SlowStream(const std::string&, Parsed* out) {
    out->config.faults.streamBytesPerSecond = 1280.0;
    return true;
}

bool Replay(const std::string& value, Parsed* out) {
    if (value.empty()) {
        return false;
    }
    out->command.replayFile = value;
    return true;
}

bool ReplayLoop(const std::string&, Parsed* out) {
    out->config.replayLoop = true;
    return true;
}

bool StreamingAtStart(const std::string&, Parsed* out) {
    out->config.faults.streamingAtStart = true;
    return true;
}

constexpr long long kMaxBlocks = 1000000000;
constexpr const char* kBlocksFromOne = "a number of blocks of 1 or more";
constexpr const char* kMilliseconds = "a number of milliseconds from 0 to 600000";

// Every option, in the order of the --help text.
constexpr Option kOptions[] = {
    {.name = "--link", .apply = Link, .what = "a path"},
    {.name = "--x-dc", .apply = AxisDc<&SimConfig::x>, .what = "a number of volts"},
    {.name = "--y-dc", .apply = AxisDc<&SimConfig::y>, .what = "a number of volts"},
    {.name = "--x-tone",
     .apply = AxisTone<&SimConfig::x>,
     .what = "BIN:VOLTS or BIN:VOLTS:PHASE with a bin of 0 or more"},
    {.name = "--y-tone",
     .apply = AxisTone<&SimConfig::y>,
     .what = "BIN:VOLTS or BIN:VOLTS:PHASE with a bin of 0 or more"},
    {.name = "--x-noise",
     .apply = AxisNoise<&SimConfig::x>,
     .what = "a number of volts of 0 or more"},
    {.name = "--y-noise",
     .apply = AxisNoise<&SimConfig::y>,
     .what = "a number of volts of 0 or more"},
    {.name = "--seed", .apply = Seed, .what = "a whole number of 0 or more"},
    {.name = "--replay", .apply = Replay, .what = "a recording file"},
    {.name = "--loop", .flag = true, .apply = ReplayLoop, .needs = "--replay"},
    {.name = "--no-answer", .flag = true, .apply = NoAnswer},
    {.name = "--double-answer", .flag = true, .apply = DoubleAnswer},
    {.name = "--answer", .apply = Answer},
    {.name = "--late-answer",
     .apply = FaultCount<&SimFaults::answerDelayMs, 0, 600000>,
     .what = kMilliseconds},
    {.name = "--silent-after",
     .apply = FaultCount<&SimFaults::silentAfterBlocks, 0, kMaxBlocks>,
     .what = "a number of blocks of 0 or more"},
    {.name = "--resume-after",
     .apply = ResumeAfter,
     .what = "a number of seconds from 0 to 1000000",
     .needs = "--silent-after"},
    {.name = "--burst",
     .apply = FaultCount<&SimFaults::burstBytes, 1, 4096>,
     .what = "a number of bytes from 1 to 4096"},
    {.name = "--burst-after",
     .apply = FaultCount<&SimFaults::burstAfterBlock, 1, kMaxBlocks>,
     .what = kBlocksFromOne,
     .needs = "--burst"},
    {.name = "--burst-byte", .apply = BurstByte, .what = "a byte value from 0 to 255"},
    {.name = "--stream-rate",
     .apply = StreamRate,
     .what = "a number of bytes per second from 1 to 10000000"},
    {.name = "--slow-stream", .flag = true, .apply = SlowStream},
    {.name = "--hang-up-after",
     .apply = FaultCount<&SimFaults::hangUpAfterBlocks, 1, kMaxBlocks>,
     .what = kBlocksFromOne},
    {.name = "--lose-stop-after",
     .apply = FaultCount<&SimFaults::loseStopAfterBlocks, 1, kMaxBlocks>,
     .what = kBlocksFromOne},
    {.name = "--reset-after",
     .apply = FaultCount<&SimFaults::resetAfterBlocks, 1, kMaxBlocks>,
     .what = kBlocksFromOne},
    {.name = "--unplug-after",
     .apply = FaultCount<&SimFaults::unplugAfterBlocks, 1, kMaxBlocks>,
     .what = kBlocksFromOne},
    {.name = "--replug-after",
     .apply = ReplugAfter,
     .what = "a number of seconds up to 1000000",
     .needs = "--unplug-after"},
    {.name = "--streaming-at-start", .flag = true, .apply = StreamingAtStart},
    {.name = "--late-samples",
     .apply = FaultCount<&SimFaults::lateSamples, 1, 4096>,
     .what = "a number of samples from 1 to 4096"},
    {.name = "--late-ms",
     .apply = FaultCount<&SimFaults::lateMs, 0, 600000>,
     .what = kMilliseconds,
     .needs = "--late-samples"},
    {.name = "--record", .flag = true, .apply = CommandFlag<&CommandOptions::printRecord>},
    {.name = "--verbose", .flag = true, .apply = CommandFlag<&CommandOptions::verbose>},
    {.name = "--help", .alias = "-h", .flag = true, .apply = CommandFlag<&CommandOptions::help>},
};
constexpr std::size_t kOptionCount = std::size(kOptions);

// The index of the option spelt `name` in kOptions, or kOptionCount.
constexpr std::size_t FindOption(std::string_view name) {
    for (std::size_t k = 0; k < kOptionCount; ++k) {
        const Option& option = kOptions[k];
        if (option.name == name || (!option.alias.empty() && option.alias == name)) {
            return k;
        }
    }
    return kOptionCount;
}

constexpr bool EveryNeedIsAnOption() {
    for (const Option& option : kOptions) {
        if (option.needs != nullptr && FindOption(option.needs) == kOptionCount) {
            return false;
        }
    }
    return true;
}
static_assert(EveryNeedIsAnOption(), "an option needs one that is not in the table");

// The option that some option given needs and that was not given, as a message; empty if none.
std::string MissingNeed(const bool (&given)[kOptionCount]) {
    for (std::size_t k = 0; k < kOptionCount; ++k) {
        const Option& option = kOptions[k];
        if (given[k] && option.needs != nullptr && !given[FindOption(option.needs)]) {
            return "option " + std::string(option.name) + " needs " + option.needs;
        }
    }
    return {};
}

constexpr char kUsage[] = R"(Usage: tavrek-sim [OPTION]...
Runs a Tavrek two-axis sensor module on a pseudo-terminal. The slave path is printed on the first
line of standard output; open it as the module's serial port. Stops on SIGINT or SIGTERM.

Line:
  --link PATH            also publish the slave as a symbolic link at PATH (an old symbolic link
                         there is replaced; removed again at exit)
Signals (volts; a sample byte is round(volts * 255 / 3.1) clipped to 0..255):
  --x-dc VOLTS           DC level of the X axis (default 1.55)
  --y-dc VOLTS           DC level of the Y axis (default 1.55)
  --x-tone BIN:VOLTS[:PHASE]
                         add a sine tone to X at BIN (bins of a 64-sample block, fractional
                         allowed) with peak amplitude VOLTS and PHASE in degrees (default 0);
                         may be given any number of times
  --y-tone BIN:VOLTS[:PHASE]
                         the same for Y
  --x-noise VOLTS        Gaussian noise on X with this standard deviation (default 0: none)
  --y-noise VOLTS        the same for Y
  --seed N               seed of the noise (default 1)
  --replay FILE          serve the blocks of a recording (sorvell-check --record, Ctrl+R in
                         Sorvell) instead of the signals: each "8" on the X axis starts the next
                         X row, on the Y axis the next Y row; when an axis has run out its
                         streams send nothing
  --loop                 with --replay: start the recording over when an axis has run out
Faults (may be combined; a block is 64 consecutive samples of one stream, counted from the "8"
that started it):
  --no-answer            never answer the handshake
  --double-answer        answer the handshake with two bytes "QQ"
  --answer TEXT          answer the handshake with TEXT instead of "Q"
  --late-answer MS       answer the handshake MS milliseconds late (the host waits 150 ms
                         for the answer: later is too late)
  --silent-after N       send nothing at all (samples or answers) after N blocks; 0: from the
                         start
  --resume-after SECONDS with --silent-after: send again SECONDS after falling silent
  --burst COUNT          send COUNT extra bytes at once after every block
  --burst-after N        with --burst: only after block N (1 = the first)
  --burst-byte VALUE     value of the extra bytes, 0..255 (default 238, 0xEE)
  --stream-rate BYTES    stream BYTES bytes per second instead of the line's pace (12800 at
                         128000 baud); less is slower than the line
  --slow-stream          stream at 1280 bytes per second, a tenth of the line's pace
  --hang-up-after N      close the line (the host sees a hang-up) after N blocks, then exit
  --lose-stop-after N    lose the "8" that should stop the stream after block N (once): the
                         module streams on until the next "8"
  --reset-after N        reset the module after block N (once), as a glitch of its supply does:
                         it stops streaming and listens at 38400 baud again
  --unplug-after N       pull the adapter out after block N (once): the line is gone, and so is
                         the --link; it is plugged back in after --replug-after seconds as a new
                         pseudo-terminal behind the same --link, with the module starting afresh
  --replug-after SECONDS with --unplug-after: seconds until it is plugged back in (default 3;
                         a negative number: never)
  --streaming-at-start   the module is already streaming the X axis at 128000 baud, as one left
                         so by a host that was killed in the middle of a block
  --late-samples COUNT   each time the host stops a stream, COUNT more samples reach it late, as
                         an adapter that holds received bytes back delivers them
  --late-ms MS           with --late-samples: how late, in milliseconds (default 16)
Output:
  --record               print every received byte as it arrives: milliseconds since start,
                         the host's line speed, the byte, and "ignored" when the module was
                         listening at another speed
  --verbose              print the module's events (handshake answers, streams, faults) on
                         standard error
  --help                 show this text and exit
  --version              show the version and exit

A module cannot tell that the host has closed its end of the line: a stream goes on until an
"8" stops it, and is there for the host that opens the line next.

Exit status: 0 after SIGINT, SIGTERM or a hang-up fault; 1 when the line cannot be opened;
2 for bad options.
)";
;

}  // namespace

std::string SimUsage() {
    return kUsage;
}

std::vector<std::string> SimOptionNames() {
    std::vector<std::string> names;
    for (const Option& option : kOptions) {
        names.emplace_back(option.name);
    }
    return names;
}

bool ParseSimOptions(const std::vector<std::string>& args, SimConfig* config,
                     CommandOptions* command, std::string* error) {
    Parsed parsed;
    bool given[kOptionCount] = {};
    for (std::size_t i = 0; i < args.size(); ++i) {
        // "--name=value" carries its value; any other argument is a name alone.
        std::string name = args[i];
        std::string value;
        const std::size_t eq = name.find('=');
        const bool inlineValue = name.rfind("--", 0) == 0 && eq != std::string::npos;
        if (inlineValue) {
            value = name.substr(eq + 1);
            name.resize(eq);
        }
        const std::size_t k = FindOption(name);
        if (k == kOptionCount) {
            *error = name.rfind("-", 0) == 0 ? "unknown option " + name
                                             : "unexpected argument \"" + name + "\"";
            return false;
        }
        const Option& option = kOptions[k];
        if (option.flag && inlineValue) {
            *error = "option " + name + " takes no value";
            return false;
        }
        if (!option.flag && !inlineValue) {
            if (i + 1 >= args.size()) {
                *error = "option " + name + " needs a value";
                return false;
            }
            value = args[++i];
        }
        if (!option.apply(value, &parsed)) {
            *error = "option " + name + ": \"" + value + "\" is not " + option.what;
            return false;
        }
        given[k] = true;
    }
    const std::string missing = MissingNeed(given);
    if (!missing.empty()) {
        *error = missing;
        return false;
    }
    *config = std::move(parsed.config);
    *command = parsed.command;
    return true;
}

std::string FormatReceivedByte(const ReceivedByte& byte,
                               std::chrono::steady_clock::time_point start) {
    const double ms = std::chrono::duration<double, std::milli>(byte.time - start).count();
    const char shown =
        (byte.value >= 0x20 && byte.value < 0x7F) ? static_cast<char>(byte.value) : '.';
    char line[96];
    std::snprintf(line, sizeof line, "%10.3f ms  %6u baud  0x%02X '%c'%s", ms, byte.lineSpeed,
                  byte.value, shown, byte.heard ? "" : "  ignored");
    return line;
}
