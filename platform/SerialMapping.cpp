#include "SerialMapping.h"

#include <sys/ioctl.h>

DWORD CommErrorsFromCounters(const ErrorCounters& was, const ErrorCounters& now) {
    DWORD errors = 0;
    if (now.bufOverrun != was.bufOverrun) {
        errors |= CE_RXOVER;
    }
    if (now.overrun != was.overrun) {
        errors |= CE_OVERRUN;
    }
    if (now.parity != was.parity) {
        errors |= CE_RXPARITY;
    }
    if (now.frame != was.frame) {
        errors |= CE_FRAME;
    }
    if (now.brk != was.brk) {
        errors |= CE_BREAK;
    }
    return errors;
}

DWORD CommEventsFromCounters(const ErrorCounters& was, const ErrorCounters& now) {
    const DWORD errors = CommErrorsFromCounters(was, now);
    DWORD events = 0;
    if (errors & (CE_FRAME | CE_OVERRUN | CE_RXPARITY)) {
        events |= EV_ERR;
    }
    if (errors & CE_BREAK) {
        events |= EV_BREAK;
    }
    return events;
}

DWORD ModemStatusFromLines(int lines) {
    DWORD status = 0;
    if (lines & TIOCM_CTS) {
        status |= MS_CTS_ON;
    }
    if (lines & TIOCM_DSR) {
        status |= MS_DSR_ON;
    }
    if (lines & TIOCM_RNG) {
        status |= MS_RING_ON;
    }
    if (lines & TIOCM_CAR) {
        status |= MS_RLSD_ON;
    }
    return status;
}

bool TerminalLineFromDcb(const DCB& dcb, TerminalLine& line, DWORD& error) {
    if (dcb.BaudRate == 0 || dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > SPACEPARITY ||
        dcb.StopBits > TWOSTOPBITS || (dcb.StopBits == ONE5STOPBITS && dcb.ByteSize != 5)) {
        error = ERROR_INVALID_PARAMETER;
        return false;
    }
    // The kernel has no flow control on DTR and DSR.
    if (dcb.fOutxDsrFlow || dcb.fDtrControl == DTR_CONTROL_HANDSHAKE) {
        error = ERROR_NOT_SUPPORTED;
        return false;
    }
    line = TerminalLine{};
    line.baud = dcb.BaudRate;
    line.dataBits = dcb.ByteSize;
    line.parity = dcb.Parity;
    line.twoStopBits = dcb.StopBits != ONESTOPBIT;  // one and a half (5 bits) is CSTOPB too
    // RTS/CTS flow control goes both ways together on a terminal.
    line.rtsCtsFlow = dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE;
    line.xonOutput = dcb.fOutX != 0;
    line.xonInput = dcb.fInX != 0;
    line.xonChar = dcb.XonChar;
    line.xoffChar = dcb.XoffChar;
    return true;
}

DWORD DetectableEvents(bool modemLines, bool errorCounters) {
    DWORD events = EV_RXCHAR | EV_TXEMPTY;
    if (modemLines) {
        events |= EV_CTS | EV_DSR | EV_RLSD | EV_RING;
    }
    if (errorCounters) {
        events |= EV_ERR | EV_BREAK;
    }
    return events;  // never EV_RXFLAG: the event character is not looked for in the input
}
