// Transfers: reads and writes that complete at once, their completion records, the purge of the
// queues, the wait for input and the one character sent ahead.
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "WinSerialDevices.h"
#ifdef SORVELL_SERIAL_SEAM
#include "SerialSeam.h"
#endif

using namespace winserial;

namespace {

// A transfer that failed: the code goes into the completion record too, as the driver's would.
BOOL FailTransfer(LPOVERLAPPED overlapped, DWORD code) {
    if (overlapped != nullptr) {
        overlapped->Internal = code;
    }
    return Fail(code);
}

// What a read and a write do before they touch the device: clear the count and the completion
// record, enter the call, check the buffer. Answers the device, or nullptr when the transfer has
// already failed (the error in the completion record too).
Device* BeginTransfer(SerialCall call, HANDLE handle, const void* buffer, DWORD count, LPDWORD done,
                      LPOVERLAPPED overlapped) {
    if (done != nullptr) {
        *done = 0;
    }
    if (overlapped != nullptr) {
        *overlapped = OVERLAPPED{};
    }
    Device* device = EnterCall(call, handle, count);
    if (device == nullptr) {
        FailTransfer(overlapped, GetLastError());
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
    if (EnterCallNeeding(SerialCall::GetOverlappedResult, handle, overlapped) == nullptr) {
        return FALSE;
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
    Device* device = EnterCall(SerialCall::PurgeComm, handle, flags);
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
    Device* device = EnterCall(SerialCall::WaitForCommInput, handle);
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
    Device* device =
        EnterCall(SerialCall::TransmitCommChar, handle, static_cast<unsigned char>(byte));
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
