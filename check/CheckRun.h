// A run of sorvell-check: the program's connection and acquisition cycle without a window.
#pragma once

#include <ostream>

#include "CheckOptions.h"
#include "ModuleHost.h"

// Exit status of a run.
enum CheckStatus : int {
    CheckPassed = 0,
    CheckOutOfLimits = 1,
    CheckBadUsage = 2,
    CheckModuleFailed = 3,
};

// The COM number that --device is opened as.
inline constexpr int DeviceComNumber = 1;

// Runs the check. savedPort is the profile's saved COM number, used when options give neither a
// port nor a device; the COM device map is expected to be loaded. The summary goes to out,
// failures to err. Answers a CheckStatus.
int RunCheck(const CheckOptions& given, int savedPort, ModuleClock& clock, std::ostream& out,
             std::ostream& err);
