// Handles: opening a COM number's terminal raw and unshared, closing it, and its queue sizes.
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <utility>

#include "ComDeviceMap.h"
#include "NumberText.h"
#include "TermiosLine.h"
#include "UniqueFd.h"
#include "WinSerialDevices.h"

using namespace winserial;

namespace {

// The speed that a terminal found at speed 0 (hung up) is opened with.
constexpr unsigned kSpeedForSpeedZero = 9600;

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
    const std::optional<long> number = ParseNumber<long>(name, NumberForms::Exact);
    if (!number || *number > 100000) {
        return 0;
    }
    return static_cast<int>(*number);
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
    if (!EnterOpen(static_cast<DWORD>(comNumber))) {
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
    const Device* device = EnterCall(SerialCall::CloseHandle, handle);
    if (device == nullptr) {
        return FALSE;
    }
    const int fd = device->fd;
    Devices().devices.erase(reinterpret_cast<std::uintptr_t>(handle));
    ioctl(fd, TIOCNXCL);
    flock(fd, LOCK_UN);
    close(fd);
    return TRUE;
}

BOOL SetupComm(HANDLE handle, DWORD inQueue, DWORD outQueue) {
    Device* device = EnterCall(SerialCall::SetupComm, handle);
    if (device == nullptr) {
        return FALSE;
    }
    // The kernel's queues have fixed sizes; the sizes are only remembered.
    device->inQueueSize = inQueue;
    device->outQueueSize = outQueue;
    return TRUE;
}
