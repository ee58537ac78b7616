// The Windows serial calls on POSIX terminals. A handle is one open terminal with the control
// block last set on it; the control block is kept as set and never rebuilt from termios, since
// a pseudo-terminal forces its own character format. Transfers complete at once.
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <set>
#include <string>

#include "ComDeviceMap.h"
#include "SerialSeam.h"
#include "TermiosLine.h"
#include "WinSerial.h"

namespace {

struct Device {
    int fd = -1;
    DCB dcb{};
    COMMTIMEOUTS timeouts{};
    DWORD inQueueSize = 0;
    DWORD outQueueSize = 0;
    DWORD eventMask = 0;
    bool haveCounters = false;
    serial_icounter_struct counters{};
};

struct Registry {
    std::mutex lock;
    std::set<Device*> devices;
};

Registry& Devices() {
    static Registry registry;
    return registry;
}

// The device behind a handle, or nullptr (and ERROR_INVALID_HANDLE) when it names none.
Device* Lookup(HANDLE handle) {
    Registry& registry = Devices();
    std::lock_guard<std::mutex> guard(registry.lock);
    auto found = registry.devices.find(static_cast<Device*>(handle));
    if (found == registry.devices.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return *found;
}

DWORD Win32Error(int error) {
    switch (error) {
        case 0:
            return ERROR_GEN_FAILURE;
        case ENOENT:
            return ERROR_FILE_NOT_FOUND;
        case ENOTDIR:
            return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EBUSY:
        case EWOULDBLOCK:
            return ERROR_ACCESS_DENIED;
        case EBADF:
            return ERROR_INVALID_HANDLE;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        case EINVAL:
            return ERROR_INVALID_PARAMETER;
        case ENOTTY:
        case ENOSYS:
        case EOPNOTSUPP:
            return ERROR_NOT_SUPPORTED;
        case EIO:
        case ENXIO:
        case ENODEV:
            return ERROR_DEVICE_NOT_CONNECTED;
        default:
            return ERROR_GEN_FAILURE;
    }
}

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

BOOL FailErrno() {
    return Fail(Win32Error(errno));
}

// A seam-injected failure of `call`, if any.
bool Injected(SerialCall call, DWORD argument = 0) {
    DWORD error = 0;
    if (SerialSeam::TakeFailure(call, argument, error)) {
        SetLastError(error);
        return true;
    }
    return false;
}

// What most calls do first: take an injected failure, then find the device behind the handle.
// Answers nullptr, with the last error set, when the call has already failed.
Device* Enter(SerialCall call, HANDLE handle) {
    if (Injected(call)) {
        return nullptr;
    }
    return Lookup(handle);
}

// The far end has gone (adapter unplugged, pseudo-terminal master closed).
bool HungUp(int fd) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 0) < 0) {
        return false;
    }
    return (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

// The COM number of "\\.\COMn" or "COMn"; 0 when the name is not a COM device name.
int ComNumber(const char* name) {
    if (name == nullptr) {
        return 0;
    }
    if (std::strncmp(name, "\\\\.\\", 4) == 0) {
        name += 4;
    }
    if (strncasecmp(name, "COM", 3) != 0) {
        return 0;
    }
    name += 3;
    if (*name < '1' || *name > '9') {
        return 0;
    }
    char* end = nullptr;
    const long number = std::strtol(name, &end, 10);
    if (*end != '\0' || number <= 0 || number > 100000) {
        return 0;
    }
    return static_cast<int>(number);
}

DCB DcbFromTerminal(int fd) {
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    dcb.fBinary = 1;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fTXContinueOnXoff = 1;
    TerminalLine line;
    if (ReadTerminalLine(fd, line) == 0) {
        dcb.BaudRate = line.baud;
        dcb.ByteSize = static_cast<BYTE>(line.dataBits);
        dcb.Parity = static_cast<BYTE>(line.parity);
        dcb.StopBits = line.twoStopBits ? TWOSTOPBITS : ONESTOPBIT;
        dcb.fOutxCtsFlow = line.rtsCtsFlow ? 1 : 0;
        if (line.rtsCtsFlow) {
            dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
        }
        dcb.fOutX = line.xonOutput ? 1 : 0;
        dcb.fInX = line.xonInput ? 1 : 0;
        dcb.XonChar = line.xonChar;
        dcb.XoffChar = line.xoffChar;
    } else {
        dcb.BaudRate = 9600;
        dcb.ByteSize = 8;
        dcb.XonChar = 0x11;
        dcb.XoffChar = 0x13;
    }
    return dcb;
}

// Line-error bits from the change of the driver's error counters since the previous call.
DWORD CounterErrors(Device& device) {
    serial_icounter_struct now{};
    if (ioctl(device.fd, TIOCGICOUNT, &now) != 0) {
        return 0;  // pseudo-terminals and some drivers keep no counters
    }
    DWORD errors = 0;
    if (device.haveCounters) {
        const serial_icounter_struct& was = device.counters;
        if (now.buf_overrun != was.buf_overrun)
            errors |= CE_RXOVER;
        if (now.overrun != was.overrun)
            errors |= CE_OVERRUN;
        if (now.parity != was.parity)
            errors |= CE_RXPARITY;
        if (now.frame != was.frame)
            errors |= CE_FRAME;
        if (now.brk != was.brk)
            errors |= CE_BREAK;
    }
    device.counters = now;
    device.haveCounters = true;
    return errors;
}

BOOL ModemBits(Device& device, unsigned long request, int bits) {
    if (ioctl(device.fd, request, &bits) != 0) {
        return FailErrno();
    }
    return TRUE;
}

void CloseDevice(Device* device) {
    ioctl(device->fd, TIOCNXCL);
    flock(device->fd, LOCK_UN);
    close(device->fd);
    delete device;
}

}  // namespace

HANDLE CreateFileA(LPCSTR name, DWORD, DWORD, SECURITY_ATTRIBUTES*, DWORD, DWORD, HANDLE) {
    const int comNumber = ComNumber(name);
    if (Injected(SerialCall::CreateFile, static_cast<DWORD>(comNumber))) {
        return INVALID_HANDLE_VALUE;
    }
    if (comNumber == 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    const std::string path = ComDevicePath(comNumber);
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        SetLastError(Win32Error(errno));
        return INVALID_HANDLE_VALUE;
    }
    termios probe{};
    if (tcgetattr(fd, &probe) != 0) {
        close(fd);
        SetLastError(ERROR_INVALID_FUNCTION);  // not a terminal
        return INVALID_HANDLE_VALUE;
    }
    // Unshared, as a Win32 serial open is: the lock keeps other processes out (root included,
    // which TIOCEXCL does not stop).
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        close(fd);
        SetLastError(Win32Error(error));
        return INVALID_HANDLE_VALUE;
    }
    ioctl(fd, TIOCEXCL);

    auto* device = new (std::nothrow) Device;
    if (device == nullptr) {
        flock(fd, LOCK_UN);
        close(fd);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    device->fd = fd;
    device->dcb = DcbFromTerminal(fd);
    // Raw at once, with the terminal's own settings, so nothing is held back for a newline.
    TerminalLine line;
    if (ReadTerminalLine(fd, line) == 0) {
        line.xonOutput = line.xonInput = false;
        device->dcb.fOutX = device->dcb.fInX = 0;
        ApplyTerminalLine(fd, line);
    }
    CounterErrors(*device);
    {
        Registry& registry = Devices();
        std::lock_guard<std::mutex> guard(registry.lock);
        registry.devices.insert(device);
    }
    return device;
}

BOOL CloseHandle(HANDLE handle) {
    if (Injected(SerialCall::CloseHandle)) {
        return FALSE;
    }
    Device* device = nullptr;
    {
        Registry& registry = Devices();
        std::lock_guard<std::mutex> guard(registry.lock);
        auto found = registry.devices.find(static_cast<Device*>(handle));
        if (found == registry.devices.end()) {
            return Fail(ERROR_INVALID_HANDLE);
        }
        device = *found;
        registry.devices.erase(found);
    }
    CloseDevice(device);
    return TRUE;
}

BOOL SetupComm(HANDLE handle, DWORD inQueue, DWORD outQueue) {
    Device* device = Enter(SerialCall::SetupComm, handle);
    if (device == nullptr) {
        return FALSE;
    }
    // The kernel's queues have fixed sizes; the sizes are only remembered.
    device->inQueueSize = inQueue;
    device->outQueueSize = outQueue;
    return TRUE;
}

BOOL GetCommState(HANDLE handle, DCB* dcb) {
    Device* device = Enter(SerialCall::GetCommState, handle);
    if (device == nullptr) {
        return FALSE;
    }
    if (dcb == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    *dcb = device->dcb;
    return TRUE;
}

BOOL SetCommState(HANDLE handle, DCB* dcb) {
    if (Injected(SerialCall::SetCommState, dcb != nullptr ? dcb->BaudRate : 0)) {
        return FALSE;
    }
    Device* device = Lookup(handle);
    if (device == nullptr) {
        return FALSE;
    }
    if (dcb == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    DWORD seamError = 0;
    if (SerialSeam::BaudFailure(dcb->BaudRate, seamError)) {
        return Fail(seamError);
    }
    // 4 data bits, one and a half stop bits other than with 5 data bits, and unknown values
    // have no terminal equivalent.
    if (dcb->BaudRate == 0 || dcb->ByteSize < 5 || dcb->ByteSize > 8 || dcb->Parity > 4 ||
        dcb->StopBits > 2 || (dcb->StopBits == ONE5STOPBITS && dcb->ByteSize != 5)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    // DTR/DSR flow control has no mechanism on this system.
    if (dcb->fOutxDsrFlow || dcb->fDtrControl == DTR_CONTROL_HANDSHAKE) {
        return Fail(ERROR_NOT_SUPPORTED);
    }
    TerminalLine line;
    line.baud = dcb->BaudRate;
    line.dataBits = dcb->ByteSize;
    line.parity = dcb->Parity;
    line.twoStopBits = dcb->StopBits != ONESTOPBIT;
    line.rtsCtsFlow = dcb->fOutxCtsFlow || dcb->fRtsControl == RTS_CONTROL_HANDSHAKE;
    line.xonOutput = dcb->fOutX != 0;
    line.xonInput = dcb->fInX != 0;
    line.xonChar = dcb->XonChar;
    line.xoffChar = dcb->XoffChar;
    const int error = ApplyTerminalLine(device->fd, line);
    if (error != 0) {
        return Fail(Win32Error(error));
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
    return TRUE;
}

BOOL GetCommTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts) {
    Device* device = Lookup(handle);
    if (device == nullptr) {
        return FALSE;
    }
    if (timeouts == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    *timeouts = device->timeouts;
    return TRUE;
}

BOOL SetCommTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts) {
    Device* device = Enter(SerialCall::SetCommTimeouts, handle);
    if (device == nullptr) {
        return FALSE;
    }
    if (timeouts == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    // Reads always return at once with what has arrived (VMIN 0, VTIME 0, non-blocking);
    // the values are kept for GetCommTimeouts.
    device->timeouts = *timeouts;
    return TRUE;
}

BOOL GetCommMask(HANDLE handle, LPDWORD mask) {
    Device* device = Enter(SerialCall::GetCommMask, handle);
    if (device == nullptr) {
        return FALSE;
    }
    if (mask == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    *mask = device->eventMask;
    return TRUE;
}

BOOL SetCommMask(HANDLE handle, DWORD mask) {
    if (Injected(SerialCall::SetCommMask, mask)) {
        return FALSE;
    }
    Device* device = Lookup(handle);
    if (device == nullptr) {
        return FALSE;
    }
    device->eventMask = mask;
    return TRUE;
}

BOOL WaitCommEvent(HANDLE handle, LPDWORD events, LPOVERLAPPED) {
    Device* device = Enter(SerialCall::WaitCommEvent, handle);
    if (device == nullptr) {
        return FALSE;
    }
    if (events == nullptr || device->eventMask == 0) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    int startLines = 0;
    const bool haveLines = ioctl(device->fd, TIOCMGET, &startLines) == 0;
    for (;;) {
        if (HungUp(device->fd)) {
            return Fail(ERROR_DEVICE_NOT_CONNECTED);
        }
        DWORD found = 0;
        int waiting = 0;
        if ((device->eventMask & EV_RXCHAR) && ioctl(device->fd, FIONREAD, &waiting) == 0 &&
            waiting > 0) {
            found |= EV_RXCHAR;
        }
        int queued = 0;
        if ((device->eventMask & EV_TXEMPTY) && ioctl(device->fd, TIOCOUTQ, &queued) == 0 &&
            queued == 0) {
            found |= EV_TXEMPTY;
        }
        int lines = 0;
        if (haveLines && ioctl(device->fd, TIOCMGET, &lines) == 0) {
            const int changed = lines ^ startLines;
            if ((device->eventMask & EV_CTS) && (changed & TIOCM_CTS))
                found |= EV_CTS;
            if ((device->eventMask & EV_DSR) && (changed & TIOCM_DSR))
                found |= EV_DSR;
            if ((device->eventMask & EV_RLSD) && (changed & TIOCM_CAR))
                found |= EV_RLSD;
            if ((device->eventMask & EV_RING) && (changed & TIOCM_RNG))
                found |= EV_RING;
        }
        if (found != 0) {
            *events = found;
            return TRUE;
        }
        pollfd p{device->fd, POLLIN, 0};
        poll(&p, 1, 10);
    }
}

BOOL EscapeCommFunction(HANDLE handle, DWORD function) {
    if (Injected(SerialCall::EscapeCommFunction, function)) {
        return FALSE;
    }
    Device* device = Lookup(handle);
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
    Device* device = Enter(SerialCall::GetCommModemStatus, handle);
    if (device == nullptr) {
        return FALSE;
    }
    if (modemStatus == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    DWORD seamStatus = 0;
    if (SerialSeam::ModemStatus(seamStatus)) {
        *modemStatus = seamStatus;
        return TRUE;
    }
    int lines = 0;
    if (ioctl(device->fd, TIOCMGET, &lines) != 0) {
        return FailErrno();
    }
    DWORD bits = 0;
    if (lines & TIOCM_CTS)
        bits |= MS_CTS_ON;
    if (lines & TIOCM_DSR)
        bits |= MS_DSR_ON;
    if (lines & TIOCM_RNG)
        bits |= MS_RING_ON;
    if (lines & TIOCM_CAR)
        bits |= MS_RLSD_ON;
    *modemStatus = bits;
    return TRUE;
}

BOOL ClearCommError(HANDLE handle, LPDWORD errors, COMSTAT* status) {
    Device* device = Enter(SerialCall::ClearCommError, handle);
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
    int queued = 0;
    if (ioctl(device->fd, TIOCOUTQ, &queued) != 0) {
        queued = 0;
    }
    const DWORD counterErrors = CounterErrors(*device);
    const SerialSeam::LineReport report = SerialSeam::TakeLineReport();
    if (errors != nullptr) {
        *errors = counterErrors | report.errors;
    }
    if (status != nullptr) {
        *status = COMSTAT{};
        status->fCtsHold = report.ctsHold ? 1 : 0;
        status->fDsrHold = report.dsrHold ? 1 : 0;
        status->fXoffHold = report.xoffHold ? 1 : 0;
        status->fXoffSent = report.xoffSent ? 1 : 0;
        status->cbInQue = report.inQueue >= 0 ? static_cast<DWORD>(report.inQueue)
                                              : static_cast<DWORD>(waiting > 0 ? waiting : 0);
        status->cbOutQue = report.outQueue >= 0 ? static_cast<DWORD>(report.outQueue)
                                                : static_cast<DWORD>(queued > 0 ? queued : 0);
    }
    return TRUE;
}

BOOL SetCommBreak(HANDLE handle) {
    Device* device = Enter(SerialCall::SetCommBreak, handle);
    if (device == nullptr) {
        return FALSE;
    }
    return ioctl(device->fd, TIOCSBRK) == 0 ? TRUE : FailErrno();
}

BOOL ClearCommBreak(HANDLE handle) {
    Device* device = Enter(SerialCall::ClearCommBreak, handle);
    if (device == nullptr) {
        return FALSE;
    }
    return ioctl(device->fd, TIOCCBRK) == 0 ? TRUE : FailErrno();
}

namespace {

// A transfer that failed: the code goes into the completion record too, as the driver's would.
BOOL FailTransfer(LPOVERLAPPED overlapped, DWORD code) {
    if (overlapped != nullptr) {
        overlapped->Internal = code;
    }
    return Fail(code);
}

// What a read and a write do before they touch the device: clear the count and the completion
// record, take an injected failure, check the handle and the buffer. Answers the device, or
// nullptr when the transfer has already failed.
Device* BeginTransfer(SerialCall call, HANDLE handle, const void* buffer, DWORD count, LPDWORD done,
                      LPOVERLAPPED overlapped) {
    if (done != nullptr) {
        *done = 0;
    }
    if (overlapped != nullptr) {
        *overlapped = OVERLAPPED{};
    }
    DWORD error = 0;
    if (SerialSeam::TakeFailure(call, count, error)) {
        FailTransfer(overlapped, error);
        return nullptr;
    }
    Device* device = Lookup(handle);
    if (device == nullptr) {
        FailTransfer(overlapped, ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (buffer == nullptr && count != 0) {
        FailTransfer(overlapped, ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return device;
}

}  // namespace

BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD count, LPDWORD got, LPOVERLAPPED overlapped) {
    Device* device = BeginTransfer(SerialCall::ReadFile, handle, buffer, count, got, overlapped);
    if (device == nullptr) {
        return FALSE;
    }
    ssize_t n = 0;
    if (count != 0) {
        n = read(device->fd, buffer, count);
        if (n < 0) {
            if (errno != EAGAIN && errno != EINTR) {
                return FailTransfer(overlapped, Win32Error(errno));
            }
            n = 0;
        } else if (n == 0 && HungUp(device->fd)) {
            // Nothing, and the far end is gone: a failure, not a quiet line.
            return FailTransfer(overlapped, ERROR_DEVICE_NOT_CONNECTED);
        }
    }
    if (got != nullptr) {
        *got = static_cast<DWORD>(n);
    }
    if (overlapped != nullptr) {
        overlapped->InternalHigh = static_cast<ULONG_PTR>(n);
    }
    return TRUE;
}

BOOL WriteFile(HANDLE handle, LPCVOID buffer, DWORD count, LPDWORD written,
               LPOVERLAPPED overlapped) {
    Device* device =
        BeginTransfer(SerialCall::WriteFile, handle, buffer, count, written, overlapped);
    if (device == nullptr) {
        return FALSE;
    }
    // Hands over what the terminal takes now; bytes it cannot take (output held by XOFF or
    // flow control, queue full) are not accepted, like a write whose time limit ran out.
    DWORD done = 0;
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    while (done < count) {
        const ssize_t n = write(device->fd, bytes + done, count - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno == EAGAIN) {
                break;
            }
            const DWORD code = Win32Error(errno);
            if (written != nullptr) {
                *written = done;
            }
            return FailTransfer(overlapped, code);
        }
        if (n == 0) {
            break;
        }
        done += static_cast<DWORD>(n);
    }
    if (overlapped != nullptr) {
        overlapped->InternalHigh = done;
        if (SerialSeam::WritesPending()) {
            overlapped->Internal = STATUS_PENDING;
            return Fail(ERROR_IO_PENDING);
        }
    }
    if (written != nullptr) {
        *written = done;
    }
    return TRUE;
}

BOOL GetOverlappedResult(HANDLE handle, LPOVERLAPPED overlapped, LPDWORD transferred, BOOL) {
    if (transferred != nullptr) {
        *transferred = 0;
    }
    if (Injected(SerialCall::GetOverlappedResult)) {
        return FALSE;
    }
    if (Lookup(handle) == nullptr) {
        return FALSE;
    }
    if (overlapped == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    // Transfers finish at once here; one left in flight by the seam finishes now.
    if (overlapped->Internal == STATUS_PENDING) {
        overlapped->Internal = 0;
    }
    if (overlapped->Internal != 0) {
        return Fail(static_cast<DWORD>(overlapped->Internal));
    }
    if (transferred != nullptr) {
        *transferred = static_cast<DWORD>(overlapped->InternalHigh);
    }
    return TRUE;
}

BOOL PurgeComm(HANDLE handle, DWORD flags) {
    if (Injected(SerialCall::PurgeComm, flags)) {
        return FALSE;
    }
    Device* device = Lookup(handle);
    if (device == nullptr) {
        return FALSE;
    }
    if ((flags & (PURGE_TXCLEAR | PURGE_TXABORT)) && tcflush(device->fd, TCOFLUSH) != 0) {
        return FailErrno();
    }
    if ((flags & (PURGE_RXCLEAR | PURGE_RXABORT)) && tcflush(device->fd, TCIFLUSH) != 0) {
        return FailErrno();
    }
    return TRUE;
}

BOOL TransmitCommChar(HANDLE handle, char byte) {
    if (Injected(SerialCall::TransmitCommChar, static_cast<unsigned char>(byte))) {
        return FALSE;
    }
    Device* device = Lookup(handle);
    if (device == nullptr) {
        return FALSE;
    }
    for (;;) {
        const ssize_t n = write(device->fd, &byte, 1);
        if (n == 1) {
            return TRUE;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        return n < 0 ? FailErrno() : Fail(ERROR_GEN_FAILURE);
    }
}
