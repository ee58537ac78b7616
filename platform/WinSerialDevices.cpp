// The devices behind the serial handles and the one entry of every serial call.
#include "WinSerialDevices.h"

#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>

#include <cerrno>

#ifdef SORVELL_SERIAL_SEAM
#include "SerialSeam.h"
#endif

namespace winserial {

DeviceTable& Devices() {
    static DeviceTable table;
    return table;
}

namespace {

// A failure that the test seam has armed for `call`, taken with the last error set; never one in
// the program.
bool TakeArmedFailure([[maybe_unused]] SerialCall call, [[maybe_unused]] DWORD argument) {
#ifdef SORVELL_SERIAL_SEAM
    DWORD error = 0;
    if (SerialSeam::TakeFailure(call, argument, error)) {
        SetLastError(error);
        return true;
    }
#endif
    return false;
}

}  // namespace

bool EnterOpen(DWORD comNumber) {
    return !TakeArmedFailure(SerialCall::CreateFile, comNumber);
}

Device* EnterCall(SerialCall call, HANDLE handle, DWORD argument) {
    if (TakeArmedFailure(call, argument)) {
        return nullptr;
    }
    DeviceTable& table = Devices();
    auto found = table.devices.find(reinterpret_cast<std::uintptr_t>(handle));
    if (found == table.devices.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return found->second.get();
}

Device* EnterCallNeeding(SerialCall call, HANDLE handle, const void* needed, DWORD argument) {
    Device* device = EnterCall(call, handle, argument);
    if (device != nullptr && needed == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return device;
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

bool HungUp(int fd) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 0) < 0) {
        return false;
    }
    return (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

long OutputQueued(const Device& device) {
    int queued = 0;
    if (ioctl(device.fd, TIOCOUTQ, &queued) != 0 || queued < 0) {
        return 0;
    }
    return queued;
}

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

}  // namespace winserial
