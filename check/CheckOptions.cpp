#include "CheckOptions.h"

#include <charconv>
#include <cmath>

const char* const CheckHelpText =
    R"(Usage: sorvell-check [--port N | --device PATH] [--cycles N] [--warm-up N] [--limits FILE]
                     [--spectra FILE] [--save-limits FILE [--margin DB]]

Runs Sorvell's connection and acquisition cycle without a window and judges both axes' spectra
against their limits as the plots do: an entry is out of limits when its level is above its upper
limit or not at or above its lower one, and its latest out-of-limit level is latched.

  --port N            COM port number 1 to 16, mapped as Sorvell maps it (the [Ports] section of
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
  --save-limits FILE  after the run, writes a limits file set around the last spectra as
                      "Auto-set Limits" does
  --margin DB         the margin of --save-limits (default 5)
  --help              this text

It prints the port, the cycles with their rate and every entry 5 to 31 that was out of limits
in a judged cycle, with its latched level. It never asks a question: where Sorvell would open the
Port Selection dialog it gives up. The profile is read, never written.

Exit status:
  0  every entry 5 to 31 of both axes stayed within its limits in every judged cycle
  1  at least one did not
  2  bad usage, or a limits file or output file that cannot be read or written
  3  the module cannot be reached or the line fails (with Sorvell's own message)
)";

namespace {

std::optional<int> ParseInt(const std::string& text) {
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc{} || ptr != end) {
        return std::nullopt;
    }
    return value;
}

std::optional<float> ParseMargin(const std::string& text) {
    float value = 0.0f;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc{} || ptr != end || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

std::optional<CheckOptions> ParseCheckOptions(std::span<const std::string> args,
                                              std::string& error) {
    CheckOptions options;
    bool marginGiven = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> inlineValue;
        if (const std::size_t equals = name.find('=');
            name.starts_with("--") && equals != std::string::npos) {
            inlineValue = name.substr(equals + 1);
            name.resize(equals);
        }
        if (name == "--help" || name == "-h") {
            options.help = true;
            continue;
        }
        const bool takesValue = name == "--port" || name == "--device" || name == "--cycles" ||
                                name == "--warm-up" || name == "--limits" || name == "--spectra" ||
                                name == "--save-limits" || name == "--margin";
        if (!takesValue) {
            error = "unknown option " + args[i];
            return std::nullopt;
        }
        std::string value;
        if (inlineValue) {
            value = *inlineValue;
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            error = name + " needs a value";
            return std::nullopt;
        }

        if (name == "--port") {
            const std::optional<int> port = ParseInt(value);
            if (!port || *port < 1 || *port > 16) {
                error = "--port takes a COM port number from 1 to 16, not \"" + value + "\"";
                return std::nullopt;
            }
            options.port = *port;
        } else if (name == "--device") {
            if (value.empty()) {
                error = "--device needs a device path";
                return std::nullopt;
            }
            options.device = value;
        } else if (name == "--cycles" || name == "--warm-up") {
            const std::optional<int> count = ParseInt(value);
            const int lowest = name == "--cycles" ? 1 : 0;
            if (!count || *count < lowest) {
                error = name + " takes a whole number from " + std::to_string(lowest) + ", not \"" +
                        value + "\"";
                return std::nullopt;
            }
            (name == "--cycles" ? options.cycles : options.warmUp) = *count;
        } else if (name == "--margin") {
            const std::optional<float> margin = ParseMargin(value);
            if (!margin) {
                error = "--margin takes a number of dB, not \"" + value + "\"";
                return std::nullopt;
            }
            options.margin = *margin;
            marginGiven = true;
        } else if (value.empty()) {
            error = name + " needs a file name";
            return std::nullopt;
        } else if (name == "--limits") {
            options.limitsFile = value;
        } else if (name == "--spectra") {
            options.spectraFile = value;
        } else {
            options.saveLimitsFile = value;
        }
    }
    if (options.port && !options.device.empty()) {
        error = "--port and --device cannot be given together";
        return std::nullopt;
    }
    if (marginGiven && options.saveLimitsFile.empty()) {
        error = "--margin goes with --save-limits";
        return std::nullopt;
    }
    // The total of completed cycles is counted in an int.
    if (static_cast<long long>(options.cycles) + options.warmUp > 1'000'000'000LL) {
        error = "--cycles and --warm-up together exceed 1000000000 cycles";
        return std::nullopt;
    }
    return options;
}
