// What the serial calls share, inside the layer: the devices behind the handles, the one entry
// every call goes through, and the readings of a device that more than one call makes. Not for
// the serial library, which includes WinSerial.h only.
//
// Built twice: with the test seam (SORVELL_SERIAL_SEAM) for the test programs, and without it
// for the program, whose serial calls then take no lock and keep no log.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>

#include "SerialCalls.h"
#include "SerialMapping.h"
#include "WinSerial.h"

namespace winserial {

// One open terminal, with the control block last set on it. The control block is kept as set
// and never rebuilt from termios, since a pseudo-terminal forces its own character format.
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

DeviceTable& Devices();

// The way into every serial call: takes a failure that the test seam has armed for `call`
// (`argument` is what the seam logs and may judge: a function code, a byte count, a baud rate),
// then finds the device behind `handle`. Answers nullptr, with the last error set (the armed
// error, or ERROR_INVALID_HANDLE when the handle names no device), when the call has failed.
Device* EnterCall(SerialCall call, HANDLE handle, DWORD argument = 0);

// EnterCall for a call that cannot do without the record `needed` points to (the DCB, the mask,
// the overlapped record): as EnterCall, then nullptr with ERROR_INVALID_PARAMETER when `needed`
// is null.
Device* EnterCallNeeding(SerialCall call, HANDLE handle, const void* needed, DWORD argument = 0);

// The same for the one call that has no handle yet (CreateFileA): false, with the armed error
// as the last error, when the test seam makes it fail.
bool EnterOpen(DWORD comNumber);

// The Win32 error for an errno value.
DWORD Win32Error(int error);

// Sets the last error and answers FALSE.
BOOL Fail(DWORD error);
BOOL FailErrno();

// The far end has gone (adapter unplugged, pseudo-terminal master closed).
bool HungUp(int fd);

// Bytes handed to the driver and not yet sent; 0 when the driver cannot tell.
long OutputQueued(const Device& device);

// The driver's error counters, or the seam's stand-in; false when the device keeps none
// (pseudo-terminals, some drivers).
bool ReadCounters(const Device& device, ErrorCounters& counters);

// Line-error bits from the change of the driver's error counters since the previous call.
DWORD CounterErrors(Device& device);

// The input lines as MS_... bits; false (errno set) when the device has none to read.
bool ReadModemStatus(const Device& device, DWORD& status);

}  // namespace winserial
