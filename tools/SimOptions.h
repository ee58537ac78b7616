#pragma once

#include <string>
#include <vector>

#include "TavrekSimulator.h"

// What the tavrek-sim command does besides running the module.
struct CommandOptions {
    bool help = false;
    bool printRecord = false;  // print every received byte as it arrives
    bool verbose = false;      // print the module's events on standard error
    std::string replayFile;    // --replay: the recording the module serves, read by the command
};

// Parses the command's arguments (without the program name) into the module's configuration.
// Returns false with a message naming the offending option on any bad argument.
bool ParseSimOptions(const std::vector<std::string>& args, SimConfig* config,
                     CommandOptions* command, std::string* error);

// The --help text: every option with its argument, meaning and default.
std::string SimUsage();

// The options ParseSimOptions takes, in the order of the --help text (without the short "-h"
// for --help, and without --version, which the command answers before parsing).
std::vector<std::string> SimOptionNames();

// One line of the printed record: milliseconds since start, line speed, byte in hex and as text.
std::string FormatReceivedByte(const ReceivedByte& byte,
                               std::chrono::steady_clock::time_point start);
