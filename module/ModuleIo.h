#pragma once

#include "ModuleHost.h"

class CComLink;

// Time limit of every read that empties or gathers input, in milliseconds.
inline constexpr int DrainReadTimeoutMs = 10;
// Pause after each read of a drain, so that bytes still on their way get counted.
inline constexpr int DrainPauseMs = 5;

// A healthy drain meets at most a few dozen bytes (a backlog, the tail of a stream that was just
// stopped, a burst) and is over within about 10 ms. One whose queue still keeps filling up with
// new bytes after this many reads in a row (40 ms and more of pauses) is not emptying a queue
// but listening to a module that streams out of step with the host (its stop byte was lost, or
// it was left streaming by an earlier run): the drain gives up rather than listen for ever. A
// large backlog alone never trips it, however many reads it takes.
inline constexpr int DrainArrivingReads = 8;

// The module's command that starts and stops a stream of samples.
inline constexpr char StartStopCommand = '8';

enum class DrainResult {
    Quiet,      // the queue was found empty
    Streaming,  // new bytes kept arriving, read after read
};

// Reads and throws away whatever the port holds: reads what is counted as waiting, never more
// than bufferSize - 1 at a time (a read stores a terminating zero), pausing 5 ms after each
// read, until the queue is found empty or new bytes have kept coming for DrainArrivingReads
// reads in a row. Sends nothing.
DrainResult DrainInput(CComLink& link, char* buffer, int bufferSize, ModuleClock& clock);

// As DrainInput, but lets the window system dispatch one pending message before each read, so
// the window stays responsive while a tail of bytes is thrown away. Stops at once when the main
// window is closing.
DrainResult DrainInputPumping(CComLink& link, char* buffer, int bufferSize, ModuleClock& clock,
                              ModuleHost& host);

// The cycle's drain: when the queue keeps filling, what it holds is thrown away and it is
// listened to once more; when bytes still keep coming, the module is streaming out of step and
// is sent one "8" to stop, and the input is drained again, each drain bounded the same way.
// Streaming means that it did not stop. The pumping form is taken when pump is set.
DrainResult DrainStoppingStream(CComLink& link, char* buffer, int bufferSize, ModuleClock& clock,
                                ModuleHost* pump = nullptr);

// Sends one command byte; the result is not looked at (the module's answer, or its silence,
// tells).
void SendCommand(CComLink& link, char command);
