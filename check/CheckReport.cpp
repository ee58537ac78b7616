#include "CheckReport.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

#include "LimitsFile.h"

namespace {

// The bytes of one UTF-8 character starting at text[i], or 0 when none starts there.
std::size_t Utf8Length(const std::string& text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) {
        return 1;
    }
    // Length, smallest code point of that length (shorter forms are refused), and payload bits.
    struct Form {
        unsigned char mask;
        unsigned char lead;
        std::size_t length;
        unsigned min;
    };
    constexpr Form Forms[] = {
        {0xE0, 0xC0, 2, 0x80}, {0xF0, 0xE0, 3, 0x800}, {0xF8, 0xF0, 4, 0x10000}};
    std::size_t length = 0;
    unsigned min = 0;
    unsigned code = 0;
    for (const Form& form : Forms) {
        if ((lead & form.mask) == form.lead) {
            length = form.length;
            min = form.min;
            code = lead & static_cast<unsigned>(~form.mask & 0xFF);
        }
    }
    if (length == 0) {
        return 0;
    }
    if (i + length > text.size()) {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            return 0;
        }
        code = (code << 6) | (byte(i + k) & 0x3Fu);
    }
    const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    return code < min || code > 0x10FFFF || surrogate ? 0 : length;
}

// A JSON string. Paths are bytes to the system: a byte that is no part of a UTF-8 character
// becomes U+FFFD, so the report stays valid JSON.
std::string Quoted(const std::string& text) {
    std::string json = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        const std::size_t length = Utf8Length(text, i);
        if (length == 0) {
            json += "\\ufffd";
            ++i;
            continue;
        }
        if (c == '"' || c == '\\') {
            json += '\\';
            json += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            json += escaped;
        } else {
            json.append(text, i, length);
        }
        i += length;
    }
    return json + "\"";
}

// A number as the shortest text that reads back as the same double; null for what JSON cannot
// hold (an infinity or a NaN) or for nothing.
std::string Number(std::optional<double> value) {
    if (!value || !std::isfinite(*value)) {
        return "null";
    }
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, *value);
    return std::string(text, result.ptr);
}

std::string OptionalPath(const std::string& path) {
    return path.empty() ? "null" : Quoted(path);
}

std::string Verdict(const CheckReport& report) {
    if (!report.judged) {
        return "none";
    }
    return report.outOfLimits ? "fail" : "pass";
}

void AppendEntries(const CheckReport& report, std::string& json) {
    json += "  \"entries\": [";
    if (report.store == nullptr) {
        json += "]\n";
        return;
    }
    const SpectrumStore& store = *report.store;
    bool first = true;
    for (const char axis : {'X', 'Y'}) {
        const bool isX = axis == 'X';
        for (int bin = FirstDrawnBin; bin <= LastDrawnBin; ++bin) {
            const auto b = static_cast<std::size_t>(bin);
            const int out = report.judge == nullptr ? 0
                            : isX                   ? report.judge->OutCountX(bin)
                                                    : report.judge->OutCountY(bin);
            const auto level = [&](bool highest) -> std::optional<double> {
                if (report.ranges == nullptr) {
                    return std::nullopt;
                }
                return highest ? report.ranges->Highest(axis, bin)
                               : report.ranges->Lowest(axis, bin);
            };
            json += first ? "\n" : ",\n";
            first = false;
            json += "    {\"axis\": \"" + std::string(1, axis) +
                    "\", \"entry\": " + std::to_string(bin) +
                    ", \"lowest_db\": " + Number(level(false)) +
                    ", \"highest_db\": " + Number(level(true)) +
                    ", \"max_db\": " + Number(isX ? store.maxLimitX[b] : store.maxLimitY[b]) +
                    ", \"min_db\": " + Number(isX ? store.minLimitX[b] : store.minLimitY[b]) +
                    ", \"out_of_limits\": " + std::to_string(out) + ", \"latched_db\": " +
                    (out == 0 ? "null" : Number(isX ? store.errorX[b] : store.errorY[b])) + "}";
        }
    }
    json += "\n  ]\n";
}

}  // namespace

std::string FormatCheckReport(const CheckReport& report) {
    std::string json = "{\n";
    json += "  \"program\": \"sorvell-check\",\n";
    json += "  \"version\": " + Quoted(SORVELL_VERSION) + ",\n";
    json += "  \"verdict\": \"" + Verdict(report) + "\",\n";
    json += "  \"exit_status\": " + std::to_string(report.exitStatus) + ",\n";
    json += "  \"messages\": [";
    for (std::size_t i = 0; i < report.messages.size(); ++i) {
        json += (i == 0 ? "" : ", ") + Quoted(report.messages[i]);
    }
    json += "],\n";
    json += "  \"port\": " +
            (report.portNumber == 0 ? std::string("null")
                                    : Quoted("COM" + std::to_string(report.portNumber))) +
            ",\n";
    json += "  \"device\": " + OptionalPath(report.device) + ",\n";
    json += "  \"recording\": " + OptionalPath(report.recording) + ",\n";
    // Cycles per second; not a number (null) when no cycle was timed.
    const double seconds = report.seconds.value_or(0.0);
    const double rate =
        seconds > 0.0 ? report.completedCycles / seconds : std::numeric_limits<double>::quiet_NaN();
    json += "  \"cycles\": {\"warm_up\": " + std::to_string(report.warmUpCycles) +
            ", \"judged\": " + std::to_string(report.judgedCycles) +
            ", \"completed\": " + std::to_string(report.completedCycles) +
            ", \"seconds\": " + Number(report.seconds) + ", \"per_second\": " + Number(rate) +
            "},\n";
    json += "  \"limits_file\": " + OptionalPath(report.limitsFile) + ",\n";
    json += "  \"saved_limits_file\": " + OptionalPath(report.savedLimitsFile) + ",\n";
    json += std::string("  \"merged\": ") + (report.merged ? "true" : "false") + ",\n";
    AppendEntries(report, json);
    json += "}\n";
    return json;
}

bool WriteCheckReport(const std::string& path, const CheckReport& report, std::string& error) {
    return WriteFileAtomically(path, FormatCheckReport(report), error);
}
