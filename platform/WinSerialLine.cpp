// Line settings and speed: the control block, applied to the terminal and read back, and the
// timeouts, which are only kept.
#include <sys/ioctl.h>
#include <termios.h>

#include <algorithm>
#include <chrono>

#include "TermiosLine.h"
#include "WinSerialDevices.h"
#ifdef SORVELL_SERIAL_SEAM
#include "SerialSeam.h"
#endif

using namespace winserial;

namespace {

// Longest wait for queued output to leave before a speed or framing change. Bounded because
// flow control (XOFF, CTS low) may hold output for ever; the change then goes ahead.
constexpr auto kOutputDrainLimit = std::chrono::milliseconds(20);

// Time given to the line after the output queue reads empty when the driver cannot say whether
// its transmitter is idle (USB adapters, pseudo-terminals): the last byte may still be in the
// adapter's FIFO or USB transfer, and the far end must have taken it at the old speed before
// the change. 20 ms is a full 16-byte FIFO at 9600 baud, or many USB frames; on a
// pseudo-terminal, the time the system may take on a busy machine to hand the byte over to the
// far end. It is also the most the wait may take in all.
constexpr auto kOutputSettle = std::chrono::milliseconds(20);

// A rate read back within 2 % of the one asked is the rate asked: a UART samples mid-bit and
// tolerates a few percent in all, and drivers report the rate of their nearest divisor. Farther
// off, the driver has put another rate in force (a 16550 keeps its old one when asked for more
// than its clock allows; USB drivers fall back).
constexpr unsigned kRateTolerancePercent = 2;

// Before a speed or framing change: lets the bytes already written leave at the speed they were
// written for (the module's "9" must not go out, or be overtaken, at the new rate). Waits until
// the output queue is empty and, where the driver tells, the transmitter idle; where it cannot
// tell, a settle time after the queue is empty. Never longer than kOutputDrainLimit in all.
void WaitForOutputToLeave(const Device& device) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + kOutputDrainLimit;
    for (;;) {
        long queued = OutputQueued(device);
#ifdef SORVELL_SERIAL_SEAM
        SerialSeam::LineChangeOutputQueue(queued);
#endif
        const Clock::time_point now = Clock::now();
        if (queued == 0) {
            int lineStatus = 0;
            if (ioctl(device.fd, TIOCSERGETLSR, &lineStatus) != 0) {
                const auto settle = std::min<Clock::duration>(kOutputSettle, deadline - now);
                if (settle > Clock::duration::zero()) {
                    Sleep(static_cast<DWORD>(
                        std::chrono::ceil<std::chrono::milliseconds>(settle).count()));
                }
                return;
            }
            if (lineStatus & TIOCSER_TEMT) {
                return;
            }
        }
        if (now >= deadline) {
            return;
        }
        Sleep(1);
    }
}

// Whether the driver put the rate asked in force, judged by reading the termios back.
bool RateTaken(const Device& device, unsigned asked) {
    TerminalLine now;
    if (ReadTerminalLine(device.fd, now) != 0) {
        return true;  // the change was accepted and cannot be read back: nothing to judge
    }
#ifdef SORVELL_SERIAL_SEAM
    SerialSeam::SubstitutedBaudRate(asked, now.baud);
#endif
    const unsigned long long difference = now.baud > asked ? now.baud - asked : asked - now.baud;
    return difference * 100 <= static_cast<unsigned long long>(asked) * kRateTolerancePercent;
}

}  // namespace

BOOL GetCommState(HANDLE handle, DCB* dcb) {
    Device* device = EnterCallNeeding(SerialCall::GetCommState, handle, dcb);
    if (device == nullptr) {
        return FALSE;
    }
    *dcb = device->dcb;
    return TRUE;
}

BOOL SetCommState(HANDLE handle, DCB* dcb) {
    Device* device =
        EnterCallNeeding(SerialCall::SetCommState, handle, dcb, dcb != nullptr ? dcb->BaudRate : 0);
    if (device == nullptr) {
        return FALSE;
    }
#ifdef SORVELL_SERIAL_SEAM
    DWORD seamError = 0;
    if (SerialSeam::BaudFailure(dcb->BaudRate, seamError)) {
        return Fail(seamError);
    }
#endif
    TerminalLine line;
    DWORD refusal = 0;
    if (!TerminalLineFromDcb(*dcb, line, refusal)) {
        return Fail(refusal);
    }
    const DCB& was = device->dcb;
    const bool lineChange = dcb->BaudRate != was.BaudRate || dcb->ByteSize != was.ByteSize ||
                            dcb->Parity != was.Parity || dcb->StopBits != was.StopBits;
    if (lineChange && device->writtenSinceLineChange) {
        WaitForOutputToLeave(*device);
    }
    TerminalState previous;
    const int error = ApplyTerminalLine(device->fd, line, &previous);
    if (error != 0) {
        return Fail(Win32Error(error));
    }
    if (!RateTaken(*device, line.baud)) {
        RestoreTerminalState(device->fd, previous);
        return Fail(ERROR_INVALID_PARAMETER);
    }
    // Output lines follow their enable/disable settings; devices without modem lines
    // (pseudo-terminals) refuse, which changes nothing.
    int dtr = TIOCM_DTR;
    int rts = TIOCM_RTS;
    if (dcb->fDtrControl == DTR_CONTROL_ENABLE) {
        ioctl(device->fd, TIOCMBIS, &dtr);
    } else if (dcb->fDtrControl == DTR_CONTROL_DISABLE) {
        ioctl(device->fd, TIOCMBIC, &dtr);
    }
    if (dcb->fRtsControl == RTS_CONTROL_ENABLE) {
        ioctl(device->fd, TIOCMBIS, &rts);
    } else if (dcb->fRtsControl == RTS_CONTROL_DISABLE) {
        ioctl(device->fd, TIOCMBIC, &rts);
    }
    device->dcb = *dcb;
    device->dcb.DCBlength = sizeof(DCB);
    if (lineChange) {
        device->writtenSinceLineChange = false;
    }
    return TRUE;
}

BOOL GetCommTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts) {
    Device* device = EnterCallNeeding(SerialCall::GetCommTimeouts, handle, timeouts);
    if (device == nullptr) {
        return FALSE;
    }
    *timeouts = device->timeouts;
    return TRUE;
}

BOOL SetCommTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts) {
    Device* device = EnterCallNeeding(SerialCall::SetCommTimeouts, handle, timeouts);
    if (device == nullptr) {
        return FALSE;
    }
    // Reads always return at once with what has arrived (VMIN 0, VTIME 0, non-blocking);
    // the values are kept for GetCommTimeouts.
    device->timeouts = *timeouts;
    return TRUE;
}
