// The Windows serial calls on POSIX terminals. A handle is one open terminal with the control
// block last set on it; the control block is kept as set and never rebuilt from termios, since
// a pseudo-terminal forces its own character format. Transfers complete at once.
//
// Built twice: with the test seam (SORVELL_SERIAL_SEAM) for the test programs, and without it
// for the program, whose serial calls then take no lock and keep no log.
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <utility>

#include "ComDeviceMap.h"
#include "SerialMapping.h"
#include "TermiosLine.h"
#include "UniqueFd.h"
#include "WinSerial.h"
#ifdef SORVELL_SERIAL_SEAM
#include "SerialSeam.h"
#endif

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

// The speed that a terminal found at speed 0 (hung up) is opened with.
constexpr unsigned kSpeedForSpeedZero = 9600;

struct Device {
    int fd = -1;
    DCB dcb{};
    COMMTIMEOUTS timeouts{};
    DWORD inQueueSize = 0;
    DWORD outQueueSize = 0;
    // The one state another thread may change: SetCommMask ends a wait in WaitCommEvent.
    std::atomic<DWORD> eventMask{0};
    std::atomic<unsigned> maskChanges{0};
    bool haveCounters = false;
    ErrorCounters counters;
    // Bytes were handed to the driver since the last speed or framing change.
    bool writtenSinceLineChange = false;
};

// Handles are numbers never given out twice, so a handle kept after CloseHandle names no device
// rather than a device opened later. Used from one thread (see WinSerial.h): no lock.
struct DeviceTable {
    std::map<std::uintptr_t, std::unique_ptr<Device>> devices;
    std::uintptr_t lastId = 0;
};

DeviceTable& Devices() {
    static DeviceTable table;
    return table;
}

// The device behind a handle, or nullptr (and ERROR_INVALID_HANDLE) when it names none.
Device* Lookup(HANDLE handle) {
    DeviceTable& table = Devices();
    auto found = table.devices.find(reinterpret_cast<std::uintptr_t>(handle));
    if (found == table.devices.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return found->second.get();
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

// A failure of `call` injected by the test seam; never one in the program.
#ifdef SORVELL_SERIAL_SEAM
bool Injected(SerialCall call, DWORD argument = 0) {
    DWORD error = 0;
    if (SerialSeam::TakeFailure(call, argument, error)) {
        SetLastError(error);
        return true;
    }
    return false;
}
#define SEAM_INJECTED(call, argument) Injected(SerialCall::call, argument)
#else
#define SEAM_INJECTED(call, argument) false
#endif

// What most calls do first: take an injected failure, then find the device behind the handle.
// Answers nullptr, with the last error set, when the call has already failed.
#define ENTER(call, handle) (SEAM_INJECTED(call, 0) ? nullptr : Lookup(handle))

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

DCB DcbFromLine(const TerminalLine& line) {
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    dcb.fBinary = 1;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = line.rtsCtsFlow ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    dcb.fTXContinueOnXoff = 1;
    dcb.BaudRate = line.baud;
    dcb.ByteSize = static_cast<BYTE>(line.dataBits);
    dcb.Parity = static_cast<BYTE>(line.parity);
    dcb.StopBits = line.twoStopBits ? TWOSTOPBITS : ONESTOPBIT;
    dcb.fOutxCtsFlow = line.rtsCtsFlow ? 1 : 0;
    dcb.fOutX = line.xonOutput ? 1 : 0;
    dcb.fInX = line.xonInput ? 1 : 0;
    dcb.XonChar = line.xonChar;
    dcb.XoffChar = line.xoffChar;
    return dcb;
}

// The driver's error counters, or the seam's stand-in; false when the device keeps none
// (pseudo-terminals, some drivers).
bool ReadCounters(const Device& device, ErrorCounters& counters) {
#ifdef SORVELL_SERIAL_SEAM
    if (SerialSeam::StandInErrorCounters(counters)) {
        return true;
    }
#endif
    serial_icounter_struct now{};
    if (ioctl(device.fd, TIOCGICOUNT, &now) != 0) {
        return false;
    }
    counters.frame = static_cast<unsigned>(now.frame);
    counters.overrun = static_cast<unsigned>(now.overrun);
    counters.parity = static_cast<unsigned>(now.parity);
    counters.brk = static_cast<unsigned>(now.brk);
    counters.bufOverrun = static_cast<unsigned>(now.buf_overrun);
    return true;
}

// Line-error bits from the change of the driver's error counters since the previous call.
DWORD CounterErrors(Device& device) {
    ErrorCounters now;
    if (!ReadCounters(device, now)) {
        return 0;
    }
    const DWORD errors = device.haveCounters ? CommErrorsFromCounters(device.counters, now) : 0;
    device.counters = now;
    device.haveCounters = true;
    return errors;
}

// The input lines as MS_... bits; false (errno set) when the device has none to read.
bool ReadModemStatus(const Device& device, DWORD& status) {
#ifdef SORVELL_SERIAL_SEAM
    if (SerialSeam::ModemStatus(status)) {
        return true;
    }
#endif
    int lines = 0;
    if (ioctl(device.fd, TIOCMGET, &lines) != 0) {
        return false;
    }
    status = ModemStatusFromLines(lines);
    return true;
}

// Bytes handed to the driver and not yet sent; 0 when the driver cannot tell.
long OutputQueued(const Device& device) {
    int queued = 0;
    if (ioctl(device.fd, TIOCOUTQ, &queued) != 0 || queued < 0) {
        return 0;
    }
    return queued;
}

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

// USB adapters hold received bytes up to 16 ms to fill a transfer unless the port asks for low
// latency; every one-byte answer and block of the module would wait that long. Drivers without
// the setting (pseudo-terminals, most UARTs) refuse or ignore it, which changes nothing.
void AskForLowLatency(int fd) {
    serial_struct info{};
    if (ioctl(fd, TIOCGSERIAL, &info) != 0 || (info.flags & ASYNC_LOW_LATENCY)) {
        return;
    }
    info.flags |= ASYNC_LOW_LATENCY;
    ioctl(fd, TIOCSSERIAL, &info);
}

BOOL ModemBits(Device& device, unsigned long request, int bits) {
    if (ioctl(device.fd, request, &bits) != 0) {
        return FailErrno();
    }
    return TRUE;
}

// Refused opens set the last error and answer INVALID_HANDLE_VALUE; may throw std::bad_alloc,
// which leaves no descriptor open.
HANDLE OpenTerminal(int comNumber) {
    const std::string path = ComDevicePath(comNumber);
    // Only a character device can be a serial line. Anything else that a wrong [Ports] entry
    // names (a file, a directory, a FIFO, a disk) is refused before it is opened read-write.
    struct stat named {};
    if (stat(path.c_str(), &named) != 0) {
        SetLastError(Win32Error(errno));
        return INVALID_HANDLE_VALUE;
    }
    if (!S_ISCHR(named.st_mode)) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return INVALID_HANDLE_VALUE;
    }
    UniqueFd fd(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (fd.Get() < 0) {
        SetLastError(Win32Error(errno));
        return INVALID_HANDLE_VALUE;
    }
    // The same device as the one checked, and a terminal.
    struct stat opened {};
    termios probe{};
    if (fstat(fd.Get(), &opened) != 0 || !S_ISCHR(opened.st_mode) ||
        opened.st_rdev != named.st_rdev || tcgetattr(fd.Get(), &probe) != 0) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return INVALID_HANDLE_VALUE;
    }
    // Unshared, as a Win32 serial open is: the lock keeps other processes out (root included,
    // which TIOCEXCL does not stop). Closing the descriptor drops it.
    if (flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
        SetLastError(Win32Error(errno));
        return INVALID_HANDLE_VALUE;
    }

    auto device = std::make_unique<Device>();
    device->fd = fd.Get();
    // Raw at once, with the terminal's own settings, so nothing is held back for a newline; a
    // terminal left at speed 0 has no rate to keep and gets one.
    TerminalLine line;
    if (ReadTerminalLine(fd.Get(), line) == 0) {
        if (line.baud == 0) {
            line.baud = kSpeedForSpeedZero;
        }
        line.xonOutput = line.xonInput = false;
        ApplyTerminalLine(fd.Get(), line);
    } else {
        line.baud = kSpeedForSpeedZero;
    }
    device->dcb = DcbFromLine(line);
    AskForLowLatency(fd.Get());
    CounterErrors(*device);

    DeviceTable& table = Devices();
    const std::uintptr_t id = table.lastId + 1;
    table.devices.emplace(id, std::move(device));
    table.lastId = id;
    ioctl(fd.Get(), TIOCEXCL);
    fd.Release();
    return reinterpret_cast<HANDLE>(id);
}

}  // namespace

HANDLE CreateFileA(LPCSTR name, DWORD, DWORD, SECURITY_ATTRIBUTES*, DWORD, DWORD, HANDLE) {
    const int comNumber = ComNumber(name);
    if (SEAM_INJECTED(CreateFile, static_cast<DWORD>(comNumber))) {
        return INVALID_HANDLE_VALUE;
    }
    if (comNumber == 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    try {
        return OpenTerminal(comNumber);
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
}

BOOL CloseHandle(HANDLE handle) {
    if (SEAM_INJECTED(CloseHandle, 0)) {
        return FALSE;
    }
    DeviceTable& table = Devices();
    auto found = table.devices.find(reinterpret_cast<std::uintptr_t>(handle));
    if (found == table.devices.end()) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    const int fd = found->second->fd;
    table.devices.erase(found);
    ioctl(fd, TIOCNXCL);
    flock(fd, LOCK_UN);
    close(fd);
    return TRUE;
}

BOOL SetupComm(HANDLE handle, DWORD inQueue, DWORD outQueue) {
    Device* device = ENTER(SetupComm, handle);
    if (device == nullptr) {
        return FALSE;
    }
    // The kernel's queues have fixed sizes; the sizes are only remembered.
    device->inQueueSize = inQueue;
    device->outQueueSize = outQueue;
    return TRUE;
}

BOOL GetCommState(HANDLE handle, DCB* dcb) {
    Device* device = ENTER(GetCommState, handle);
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
    if (SEAM_INJECTED(SetCommState, dcb != nullptr ? dcb->BaudRate : 0)) {
        return FALSE;
    }
    Device* device = Lookup(handle);
    if (device == nullptr) {
        return FALSE;
    }
    if (dcb == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
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
    Device* device = ENTER(SetCommTimeouts, handle);
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
    Device* device = ENTER(GetCommMask, handle);
    if (device == nullptr) {
        return FALSE;
    }
    if (mask == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    *mask = device->eventMask.load();
    return TRUE;
}

BOOL SetCommMask(HANDLE handle, DWORD mask) {
    if (SEAM_INJECTED(SetCommMask, mask)) {
        return FALSE;
    }
    Device* device = Lookup(handle);
    if (device == nullptr) {
        return FALSE;
    }
    device->eventMask.store(mask);
    device->maskChanges.fetch_add(1);  // ends a wait in progress
    return TRUE;
}

namespace {

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

BOOL WaitCommEvent(HANDLE handle, LPDWORD events, LPOVERLAPPED) {
    Device* device = ENTER(WaitCommEvent, handle);
    if (device == nullptr) {
        return FALSE;
    }
    if (events == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
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
    if (SEAM_INJECTED(EscapeCommFunction, function)) {
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
    Device* device = ENTER(GetCommModemStatus, handle);
    if (device == nullptr) {
        return FALSE;
    }
    if (modemStatus == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    DWORD status = 0;
    if (!ReadModemStatus(*device, status)) {
        return FailErrno();
    }
    *modemStatus = status;
    return TRUE;
}

BOOL ClearCommError(HANDLE handle, LPDWORD errors, COMSTAT* status) {
    Device* device = ENTER(ClearCommError, handle);
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
    Device* device = ENTER(SetCommBreak, handle);
    if (device == nullptr) {
        return FALSE;
    }
    return ioctl(device->fd, TIOCSBRK) == 0 ? TRUE : FailErrno();
}

BOOL ClearCommBreak(HANDLE handle) {
    Device* device = ENTER(ClearCommBreak, handle);
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
// record, fail when the seam has injected a failure (`injected`, the error set), check the handle
// and the buffer. Answers the device, or nullptr when the transfer has already failed.
Device* BeginTransfer(bool injected, HANDLE handle, const void* buffer, DWORD count, LPDWORD done,
                      LPOVERLAPPED overlapped) {
    if (done != nullptr) {
        *done = 0;
    }
    if (overlapped != nullptr) {
        *overlapped = OVERLAPPED{};
    }
    if (injected) {
        FailTransfer(overlapped, GetLastError());
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
    Device* device =
        BeginTransfer(SEAM_INJECTED(ReadFile, count), handle, buffer, count, got, overlapped);
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
        BeginTransfer(SEAM_INJECTED(WriteFile, count), handle, buffer, count, written, overlapped);
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
            if (done > 0) {
                device->writtenSinceLineChange = true;
            }
            return FailTransfer(overlapped, code);
        }
        if (n == 0) {
            break;
        }
        done += static_cast<DWORD>(n);
    }
    if (done > 0) {
        device->writtenSinceLineChange = true;
    }
    if (overlapped != nullptr) {
        overlapped->InternalHigh = done;
#ifdef SORVELL_SERIAL_SEAM
        if (SerialSeam::WritesPending()) {
            overlapped->Internal = STATUS_PENDING;
            return Fail(ERROR_IO_PENDING);
        }
#endif
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
    if (SEAM_INJECTED(GetOverlappedResult, 0)) {
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
    if (SEAM_INJECTED(PurgeComm, flags)) {
        return FALSE;
    }
    Device* device = Lookup(handle);
    if (device == nullptr) {
        return FALSE;
    }
    if (flags & (PURGE_TXCLEAR | PURGE_TXABORT)) {
        if (tcflush(device->fd, TCOFLUSH) != 0) {
            return FailErrno();
        }
        device->writtenSinceLineChange = false;  // nothing left to wait for
    }
    if ((flags & (PURGE_RXCLEAR | PURGE_RXABORT)) && tcflush(device->fd, TCIFLUSH) != 0) {
        return FailErrno();
    }
    return TRUE;
}

BOOL WaitForCommInput(HANDLE handle, DWORD timeoutMs) {
    Device* device = Lookup(handle);
    if (device == nullptr) {
        return FALSE;
    }
    pollfd p{device->fd, POLLIN, 0};
    const int timeout = static_cast<int>(std::min<DWORD>(timeoutMs, 60'000));
    for (;;) {
        const int ready = poll(&p, 1, timeout);
        if (ready >= 0) {
            return ready > 0 ? TRUE : FALSE;
        }
        if (errno != EINTR) {
            return FailErrno();
        }
    }
}

BOOL TransmitCommChar(HANDLE handle, char byte) {
    if (SEAM_INJECTED(TransmitCommChar, static_cast<unsigned char>(byte))) {
        return FALSE;
    }
    Device* device = Lookup(handle);
    if (device == nullptr) {
        return FALSE;
    }
    for (;;) {
        const ssize_t n = write(device->fd, &byte, 1);
        if (n == 1) {
            device->writtenSinceLineChange = true;
            return TRUE;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        return n < 0 ? FailErrno() : Fail(ERROR_GEN_FAILURE);
    }
}
