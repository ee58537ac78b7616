// sorvell-check as a whole: arguments, the profile (saved port and COM device map) and the run.
#pragma once

#include <ostream>
#include <span>
#include <string>

// Answers the exit status (see CheckStatus).
int SorvellCheckMain(std::span<const std::string> args, std::ostream& out, std::ostream& err);
