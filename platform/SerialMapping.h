// How the Windows serial settings and reports map onto a terminal's: pure functions of the
// layer, kept apart so that the mappings that only real devices reach can be checked without one.
#pragma once

#include "TermiosLine.h"
#include "WinSerial.h"

// A driver's line-error counters (TIOCGICOUNT); they only ever grow, and wrap.
struct ErrorCounters {
    unsigned frame = 0;
    unsigned overrun = 0;
    unsigned parity = 0;
    unsigned brk = 0;
    unsigned bufOverrun = 0;  // the driver's receive buffer was full
};

// CE_... bits for the counters that changed between two readings.
DWORD CommErrorsFromCounters(const ErrorCounters& was, const ErrorCounters& now);

// EV_ERR (framing, overrun or parity error) and EV_BREAK for the counters that changed.
DWORD CommEventsFromCounters(const ErrorCounters& was, const ErrorCounters& now);

// MS_..._ON bits for the TIOCM_... input lines of TIOCMGET.
DWORD ModemStatusFromLines(int lines);

// The terminal line for a control block. False, with the Win32 error to report, for a block
// that no terminal can have: 4 data bits, one and a half stop bits other than with 5 data bits,
// unknown values, speed 0 (ERROR_INVALID_PARAMETER), DTR/DSR flow control (ERROR_NOT_SUPPORTED).
bool TerminalLineFromDcb(const DCB& dcb, TerminalLine& line, DWORD& error);

// The EV_... events that WaitCommEvent can see on a device with or without readable modem lines
// and error counters.
DWORD DetectableEvents(bool modemLines, bool errorCounters);
