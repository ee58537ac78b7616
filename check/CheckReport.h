// The report of a check run for station software: one JSON object with the verdict, the exit
// status, the messages, the line, the cycles, the limits and, per axis and entry 5 to 31, the
// levels seen and the judgement. packaging/man/sorvell-check.1 lists its fields.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "LevelRanges.h"
#include "SpectrumJudge.h"
#include "SpectrumStore.h"

struct CheckReport {
    int exitStatus = 0;
    // Whether every cycle asked for completed, so that the judgement is whole.
    bool judged = false;
    bool outOfLimits = false;
    // What the run said on standard error, one line each, without the program's name.
    std::vector<std::string> messages;
    int portNumber = 0;
    std::string device;
    // The recording judged instead of a module (--from); empty for a module.
    std::string recording;
    int warmUpCycles = 0;
    int judgedCycles = 0;
    int completedCycles = 0;
    // The time of the cycles, when any ran.
    std::optional<double> seconds;
    std::string limitsFile;
    std::string savedLimitsFile;
    bool merged = false;
    // The report's file was found unfit to write before the run: nothing is written.
    bool refused = false;
    // The limits in use, the levels, the counts and the latched errors; none before the limits
    // were loaded.
    const SpectrumStore* store = nullptr;
    const LevelRanges* ranges = nullptr;
    const SpectrumJudge* judge = nullptr;
};

// The report as JSON text, ending in a line feed.
std::string FormatCheckReport(const CheckReport& report);

// Writes the report to path atomically: a reader sees the old file or the whole report. On
// failure nothing is left at path that was not there before, and error says why.
bool WriteCheckReport(const std::string& path, const CheckReport& report, std::string& error);
