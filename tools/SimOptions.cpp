#include "SimOptions.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace {

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

}  // namespace

std::string SimUsage() {
    return R"(Usage: tavrek-sim [OPTION]...
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
}

bool ParseSimOptions(const std::vector<std::string>& args, SimConfig* config,
                     CommandOptions* command, std::string* error) {
    SimConfig cfg;
    CommandOptions cmd;
    bool resumeGiven = false;
    bool burstAfterGiven = false;
    bool replugGiven = false;
    bool lateMsGiven = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
        bool hasValue = false;
        const std::size_t eq = name.find('=');
        if (name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
            hasValue = true;
        }
        auto flag = [&]() {
            if (hasValue) {
                *error = "option " + name + " takes no value";
                return false;
            }
            return true;
        };
        auto need = [&]() {
            if (hasValue) {
                return true;
            }
            if (i + 1 >= args.size()) {
                *error = "option " + name + " needs a value";
                return false;
            }
            value = args[++i];
            return true;
        };
        auto bad = [&](const char* what) {
            *error = "option " + name + ": \"" + value + "\" is not " + what;
            return false;
        };
        long long n = 0;
        double d = 0.0;
        if (name == "--help" || name == "-h") {
            if (!flag()) {
                return false;
            }
            cmd.help = true;
        } else if (name == "--link") {
            if (!need()) {
                return false;
            }
            if (value.empty()) {
                return bad("a path");
            }
            cfg.linkPath = value;
        } else if (name == "--x-dc" || name == "--y-dc") {
            if (!need()) {
                return false;
            }
            if (!ParseDouble(value, &d)) {
                return bad("a number of volts");
            }
            (name[2] == 'x' ? cfg.x : cfg.y).dcVolts = d;
        } else if (name == "--x-tone" || name == "--y-tone") {
            if (!need()) {
                return false;
            }
            Tone tone;
            if (!ParseTone(value, &tone)) {
                return bad("BIN:VOLTS or BIN:VOLTS:PHASE with a bin of 0 or more");
            }
            (name[2] == 'x' ? cfg.x : cfg.y).tones.push_back(tone);
        } else if (name == "--x-noise" || name == "--y-noise") {
            if (!need()) {
                return false;
            }
            if (!ParseDouble(value, &d) || d < 0.0) {
                return bad("a number of volts of 0 or more");
            }
            (name[2] == 'x' ? cfg.x : cfg.y).noiseVolts = d;
        } else if (name == "--seed") {
            if (!need()) {
                return false;
            }
            if (!ParseInt(value, 0, std::numeric_limits<long long>::max(), &n)) {
                return bad("a whole number of 0 or more");
            }
            cfg.seed = static_cast<std::uint64_t>(n);
        } else if (name == "--no-answer") {
            if (!flag()) {
                return false;
            }
            cfg.faults.answer.clear();
        } else if (name == "--double-answer") {
            if (!flag()) {
                return false;
            }
            cfg.faults.answer = "QQ";
        } else if (name == "--answer") {
            if (!need()) {
                return false;
            }
            cfg.faults.answer = value;
        } else if (name == "--late-answer") {
            if (!need()) {
                return false;
            }
            if (!ParseInt(value, 0, 600000, &n)) {
                return bad("a number of milliseconds from 0 to 600000");
            }
            cfg.faults.answerDelayMs = static_cast<int>(n);
        } else if (name == "--silent-after" || name == "--hang-up-after" ||
                   name == "--burst-after" || name == "--lose-stop-after" ||
                   name == "--reset-after" || name == "--unplug-after") {
            if (!need()) {
                return false;
            }
            const long long low = name == "--silent-after" ? 0 : 1;
            if (!ParseInt(value, low, 1000000000, &n)) {
                return bad(low == 0 ? "a number of blocks of 0 or more"
                                    : "a number of blocks of 1 or more");
            }
            if (name == "--silent-after") {
                cfg.faults.silentAfterBlocks = static_cast<int>(n);
            } else if (name == "--hang-up-after") {
                cfg.faults.hangUpAfterBlocks = static_cast<int>(n);
            } else if (name == "--lose-stop-after") {
                cfg.faults.loseStopAfterBlocks = static_cast<int>(n);
            } else if (name == "--reset-after") {
                cfg.faults.resetAfterBlocks = static_cast<int>(n);
            } else if (name == "--unplug-after") {
                cfg.faults.unplugAfterBlocks = static_cast<int>(n);
            } else {
                cfg.faults.burstAfterBlock = static_cast<int>(n);
                burstAfterGiven = true;
            }
        } else if (name == "--resume-after") {
            if (!need()) {
                return false;
            }
            if (!ParseDouble(value, &d) || d < 0.0 || d > 1e6) {
                return bad("a number of seconds from 0 to 1000000");
            }
            cfg.faults.resumeAfterSeconds = d;
            resumeGiven = true;
        } else if (name == "--replug-after") {
            if (!need()) {
                return false;
            }
            if (!ParseDouble(value, &d) || d > 1e6) {
                return bad("a number of seconds up to 1000000");
            }
            cfg.faults.replugAfterSeconds = d;
            replugGiven = true;
        } else if (name == "--streaming-at-start") {
            if (!flag()) {
                return false;
            }
            cfg.faults.streamingAtStart = true;
        } else if (name == "--late-samples" || name == "--late-ms") {
            if (!need()) {
                return false;
            }
            const bool count = name == "--late-samples";
            if (!ParseInt(value, count ? 1 : 0, count ? 4096 : 600000, &n)) {
                return bad(count ? "a number of samples from 1 to 4096"
                                 : "a number of milliseconds from 0 to 600000");
            }
            (count ? cfg.faults.lateSamples : cfg.faults.lateMs) = static_cast<int>(n);
            lateMsGiven = lateMsGiven || !count;
        } else if (name == "--burst") {
            if (!need()) {
                return false;
            }
            if (!ParseInt(value, 1, 4096, &n)) {
                return bad("a number of bytes from 1 to 4096");
            }
            cfg.faults.burstBytes = static_cast<int>(n);
        } else if (name == "--burst-byte") {
            if (!need()) {
                return false;
            }
            if (!ParseInt(value, 0, 255, &n)) {
                return bad("a byte value from 0 to 255");
            }
            cfg.faults.burstByte = static_cast<std::uint8_t>(n);
        } else if (name == "--stream-rate") {
            if (!need()) {
                return false;
            }
            if (!ParseDouble(value, &d) || d < 1.0 || d > 1e7) {
                return bad("a number of bytes per second from 1 to 10000000");
            }
            cfg.faults.streamBytesPerSecond = d;
        } else if (name == "--slow-stream") {
            if (!flag()) {
                return false;
            }
            cfg.faults.streamBytesPerSecond = 1280.0;
        } else if (name == "--record") {
            if (!flag()) {
                return false;
            }
            cmd.printRecord = true;
        } else if (name == "--verbose") {
            if (!flag()) {
                return false;
            }
            cmd.verbose = true;
        } else if (name.rfind("-", 0) == 0) {
            *error = "unknown option " + name;
            return false;
        } else {
            *error = "unexpected argument \"" + name + "\"";
            return false;
        }
    }
    if (resumeGiven && cfg.faults.silentAfterBlocks < 0) {
        *error = "option --resume-after needs --silent-after";
        return false;
    }
    if (burstAfterGiven && cfg.faults.burstBytes == 0) {
        *error = "option --burst-after needs --burst";
        return false;
    }
    if (replugGiven && cfg.faults.unplugAfterBlocks < 0) {
        *error = "option --replug-after needs --unplug-after";
        return false;
    }
    if (lateMsGiven && cfg.faults.lateSamples == 0) {
        *error = "option --late-ms needs --late-samples";
        return false;
    }
    *config = std::move(cfg);
    *command = cmd;
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
