// Making the port on a COM number, and saying why it cannot be used. The module side makes its
// ports here, so the Win32 port and the system's error codes stay inside the serial library.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "COMLINK.h"

// A port made on COM<comNumber>, with what the system said of its open.
struct OpenedComPort {
    // Null for a number outside 1..HighestComNumber, which names no device to open.
    std::unique_ptr<CComPort> port;
    int comNumber = 0;
    // The serial layer's last error right after the open: what refused it when the port has no
    // device; after a good open it may hold what a later step of the constructor met (modem
    // lines a device does not have), so it is read only when the port reports the open failed.
    std::uint32_t openError = 0;

    // Why the port cannot be used, starting with its device line; where another device has to
    // be chosen, the text ends with hint.
    std::string FailureDetail(std::string_view hint) const;
};

// Opens COM<comNumber> at once with the given queue sizes.
OpenedComPort OpenComPort(int comNumber, unsigned inputQueueSize, unsigned outputQueueSize);

// Why a call on COM<comNumber>'s line just failed: its device line and the serial layer's last
// error as a reason. Asked at once after the failed call.
std::string LastLineFailure(int comNumber);
