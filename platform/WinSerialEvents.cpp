// Events and modem lines: the event mask and the wait for an event, the output lines and the
// break, the input lines, and what ClearCommError reports of the line (errors, hold flags,
// queue counts).
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <utility>

#include "WinSerialDevices.h"
#ifdef SORVELL_SERIAL_SEAM
#include "SerialSeam.h"
#endif

using namespace winserial;

namespace {

BOOL ModemBits(Device& device, unsigned long request, int bits) {
    if (ioctl(device.fd, request, &bits) != 0) {
        return FailErrno();
    }
    return TRUE;
}

// What a WaitCommEvent found on the line when it began.
struct WaitStart {
    bool haveLines = false;
    DWORD lines = 0;
    bool haveCounters = false;
    ErrorCounters counters;
};

// The events of a device since its wait began: bytes waiting, output drained, input lines
// changed, error counters moved.
DWORD EventsSince(const Device& device, const WaitStart& start) {
    static constexpr std::pair<DWORD, DWORD> kLineEvents[] = {
        {MS_CTS_ON, EV_CTS}, {MS_DSR_ON, EV_DSR}, {MS_RLSD_ON, EV_RLSD}, {MS_RING_ON, EV_RING}};
    DWORD found = 0;
    int waiting = 0;
    if (ioctl(device.fd, FIONREAD, &waiting) == 0 && waiting > 0) {
        found |= EV_RXCHAR;
    }
    if (OutputQueued(device) == 0) {
        found |= EV_TXEMPTY;
    }
    DWORD lines = 0;
    if (start.haveLines && ReadModemStatus(device, lines)) {
        for (const auto& [line, event] : kLineEvents) {
            if (((lines ^ start.lines) & line) != 0) {
                found |= event;
            }
        }
    }
    ErrorCounters counters;
    if (start.haveCounters && ReadCounters(device, counters)) {
        found |= CommEventsFromCounters(start.counters, counters);
    }
    return found;
}

}  // namespace

BOOL GetCommMask(HANDLE handle, LPDWORD mask) {
    Device* device = EnterCallNeeding(SerialCall::GetCommMask, handle, mask);
    if (device == nullptr) {
        return FALSE;
    }
    *mask = device->eventMask.load();
    return TRUE;
}

BOOL SetCommMask(HANDLE handle, DWORD mask) {
    Device* device = EnterCall(SerialCall::SetCommMask, handle, mask);
    if (device == nullptr) {
        return FALSE;
    }
    device->eventMask.store(mask);
    device->maskChanges.fetch_add(1);  // ends a wait in progress
    return TRUE;
}

BOOL WaitCommEvent(HANDLE handle, LPDWORD events, LPOVERLAPPED) {
    Device* device = EnterCallNeeding(SerialCall::WaitCommEvent, handle, events);
    if (device == nullptr) {
        return FALSE;
    }
    *events = 0;
    const unsigned maskChanges = device->maskChanges.load();
    const DWORD mask = device->eventMask.load();
    if (mask == 0) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    WaitStart start;
    start.haveLines = ReadModemStatus(*device, start.lines);
    start.haveCounters = ReadCounters(*device, start.counters);
    // An event that cannot be seen here would make the wait endless.
    if ((mask & ~DetectableEvents(start.haveLines, start.haveCounters)) != 0) {
        return Fail(ERROR_NOT_SUPPORTED);
    }
    for (;;) {
        if (device->maskChanges.load() != maskChanges) {
            return TRUE;  // the mask was changed: the wait ends with no event
        }
        if (HungUp(device->fd)) {
            return Fail(ERROR_DEVICE_NOT_CONNECTED);
        }
        DWORD found = EventsSince(*device, start);
        found &= mask;
        if (found != 0) {
            *events = found;
            return TRUE;
        }
        pollfd p{device->fd, POLLIN, 0};
        poll(&p, 1, 10);
    }
}

BOOL EscapeCommFunction(HANDLE handle, DWORD function) {
    Device* device = EnterCall(SerialCall::EscapeCommFunction, handle, function);
    if (device == nullptr) {
        return FALSE;
    }
    switch (function) {
        case SETDTR:
            return ModemBits(*device, TIOCMBIS, TIOCM_DTR);
        case CLRDTR:
            return ModemBits(*device, TIOCMBIC, TIOCM_DTR);
        case SETRTS:
            return ModemBits(*device, TIOCMBIS, TIOCM_RTS);
        case CLRRTS:
            return ModemBits(*device, TIOCMBIC, TIOCM_RTS);
        case SETBREAK:
            return ioctl(device->fd, TIOCSBRK) == 0 ? TRUE : FailErrno();
        case CLRBREAK:
            return ioctl(device->fd, TIOCCBRK) == 0 ? TRUE : FailErrno();
        case SETXOFF:
            return tcflow(device->fd, TCOOFF) == 0 ? TRUE : FailErrno();
        case SETXON:
            return tcflow(device->fd, TCOON) == 0 ? TRUE : FailErrno();
        default:
            return Fail(ERROR_INVALID_PARAMETER);
    }
}

BOOL GetCommModemStatus(HANDLE handle, LPDWORD modemStatus) {
    Device* device = EnterCallNeeding(SerialCall::GetCommModemStatus, handle, modemStatus);
    if (device == nullptr) {
        return FALSE;
    }
    DWORD status = 0;
    if (!ReadModemStatus(*device, status)) {
        return FailErrno();
    }
    *modemStatus = status;
    return TRUE;
}

BOOL ClearCommError(HANDLE handle, LPDWORD errors, COMSTAT* status) {
    Device* device = EnterCall(SerialCall::ClearCommError, handle);
    if (device == nullptr) {
        return FALSE;
    }
    if (HungUp(device->fd)) {
        return Fail(ERROR_DEVICE_NOT_CONNECTED);
    }
    int waiting = 0;
    if (ioctl(device->fd, FIONREAD, &waiting) != 0) {
        return FailErrno();
    }
    COMSTAT report{};
    report.cbInQue = static_cast<DWORD>(waiting > 0 ? waiting : 0);
    report.cbOutQue = static_cast<DWORD>(OutputQueued(*device));
    DWORD found = CounterErrors(*device);
#ifdef SORVELL_SERIAL_SEAM
    const SerialSeam::LineReport seam = SerialSeam::TakeLineReport();
    found |= seam.errors;
    report.fCtsHold = seam.ctsHold ? 1 : 0;
    report.fDsrHold = seam.dsrHold ? 1 : 0;
    report.fXoffHold = seam.xoffHold ? 1 : 0;
    report.fXoffSent = seam.xoffSent ? 1 : 0;
    if (seam.inQueue >= 0) {
        report.cbInQue = static_cast<DWORD>(seam.inQueue);
    }
    if (seam.outQueue >= 0) {
        report.cbOutQue = static_cast<DWORD>(seam.outQueue);
    }
#endif
    if (errors != nullptr) {
        *errors = found;
    }
    if (status != nullptr) {
        *status = report;
    }
    return TRUE;
}

BOOL SetCommBreak(HANDLE handle) {
    Device* device = EnterCall(SerialCall::SetCommBreak, handle);
    if (device == nullptr) {
        return FALSE;
    }
    return ioctl(device->fd, TIOCSBRK) == 0 ? TRUE : FailErrno();
}

BOOL ClearCommBreak(HANDLE handle) {
    Device* device = EnterCall(SerialCall::ClearCommBreak, handle);
    if (device == nullptr) {
        return FALSE;
    }
    return ioctl(device->fd, TIOCCBRK) == 0 ? TRUE : FailErrno();
}
