// Test seam of the serial calls: lets a test make a call fail with a chosen Win32 error, report
// line-error bits, error counters and hold flags, set the modem input lines and the queue
// counts, leave writes in flight, make the driver substitute a baud rate, and see which calls
// were made. Process-wide; Reset() puts everything back.
//
// Only the test programs have it: the layer is built with it (SORVELL_SERIAL_SEAM) for targets
// that set the SORVELL_SERIAL_SEAM property, and without it, lock and call log included, for the
// program and its tools.
#pragma once

#include <utility>
#include <vector>

#include "SerialCalls.h"
#include "SerialMapping.h"
#include "WinSerial.h"

class SerialSeam {
  public:
    // Clears every setting below and the call log.
    static void Reset();

    // The next `times` calls (every call while times is negative) fail with `error`.
    static void FailCall(SerialCall call, DWORD error, int times = -1);
    static void ClearFailure(SerialCall call);
    // SetCommState fails with `error` whenever the control block asks for this baud rate.
    static void FailBaudRate(DWORD baud, DWORD error = ERROR_INVALID_PARAMETER);
    static void ClearBaudFailures();

    // CE_... bits that the next successful ClearCommError reports once, with the device's own.
    static void InjectLineErrors(DWORD errors);
    // Hold flags that every ClearCommError reports until changed.
    static void SetHoldFlags(bool ctsHold, bool dsrHold, bool xoffHold, bool xoffSent);
    // MS_... bits that GetCommModemStatus reports instead of the device's lines.
    static void SetModemStatus(DWORD modemStatus);
    static void ClearModemStatus();
    // Queue counts that ClearCommError reports instead of the device's; negative: the device's.
    static void SetQueueCounts(long inQueue, long outQueue);
    // While on, WriteFile hands the bytes over but reports the write as still in flight
    // (ERROR_IO_PENDING); GetOverlappedResult completes it.
    static void SetWritesPending(bool pending);
    // The output queue as the wait before a speed or framing change sees it: `bytes` for the
    // next `looks` looks (every look while looks is negative), then the device's own.
    static void SetLineChangeOutputQueue(long bytes, int looks);
    // How often that wait has looked at the output queue since the last Reset.
    static int LineChangeOutputLooks();
    // After SetCommState asks for `asked` baud, the driver reads back `got` instead.
    static void SubstituteBaudRate(DWORD asked, DWORD got);
    // Error counters that the device reports instead of its own (a pseudo-terminal has none).
    static void SetErrorCounters(const ErrorCounters& counters);

    // Calls made since the last Reset, with their main argument (function code, purge flags,
    // baud rate, byte count; 0 otherwise). Counts stop at the largest int.
    static int CallCount(SerialCall call);
    static std::vector<std::pair<SerialCall, DWORD>> CallLog();

    // Used by the layer itself.
    struct LineReport {
        DWORD errors;
        bool ctsHold, dsrHold, xoffHold, xoffSent;
        long inQueue, outQueue;
    };
    static bool TakeFailure(SerialCall call, DWORD argument, DWORD& error);
    static bool BaudFailure(DWORD baud, DWORD& error);
    static LineReport TakeLineReport();
    static bool ModemStatus(DWORD& modemStatus);
    static bool WritesPending();
    static bool LineChangeOutputQueue(long& bytes);
    static void SubstitutedBaudRate(DWORD asked, unsigned& readBack);
    static bool StandInErrorCounters(ErrorCounters& counters);
};
