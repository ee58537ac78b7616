#pragma once

#include "ModuleHost.h"

class CComLink;

// Time limit of every read that empties or gathers input, in milliseconds.
inline constexpr int DrainReadTimeoutMs = 10;
// Pause after each read of a drain, so that bytes still on their way get counted.
inline constexpr int DrainPauseMs = 5;

// Reads and throws away whatever the port holds: reads what is counted as waiting, never more
// than bufferSize - 1 at a time (a read stores a terminating zero), pausing 5 ms after each
// read, until the queue is found empty. Sends nothing, reports nothing.
void DrainInput(CComLink& link, char* buffer, int bufferSize, ModuleClock& clock);

// As DrainInput, but lets the window system dispatch one pending message before each read, so
// the window stays responsive while a long tail of bytes is thrown away.
void DrainInputPumping(CComLink& link, char* buffer, int bufferSize, ModuleClock& clock,
                       ModuleHost& host);
