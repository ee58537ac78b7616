// The command line of sorvell-check.
#pragma once

#include <optional>
#include <span>
#include <string>

struct CheckOptions {
    bool help = false;
    // --list-ports: list the serial ports present instead of running.
    bool listPorts = false;
    bool version = false;
    // The COM number given with --port; none means the profile's saved port.
    std::optional<int> port;
    // The device given with --device, opened as the COM number the check maps it to.
    std::string device;
    int cycles = 40;
    // Whether --cycles was given: a recording is judged whole unless it was.
    bool cyclesGiven = false;
    int warmUp = 19;
    std::string limitsFile;
    std::string spectraFile;
    std::string saveLimitsFile;
    // Widen the limits already in saveLimitsFile instead of replacing them.
    bool merge = false;
    float margin = 5.0f;
    std::string reportFile;
    // --record: the module's blocks of every completed cycle, kept as a recording.
    std::string recordFile;
    // --from: a recording judged instead of a module.
    std::string fromFile;
};

// Reads the arguments after the program name. On bad usage answers nothing with the reason in
// error.
std::optional<CheckOptions> ParseCheckOptions(std::span<const std::string> args,
                                              std::string& error);

// What --version prints.
std::string CheckVersionText();

// What --help prints.
extern const std::string CheckHelpText;
