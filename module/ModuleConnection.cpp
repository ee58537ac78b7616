#include "ModuleConnection.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

#include "ComDeviceMap.h"
#include "ModuleIo.h"
#include "PortHardware.h"
#include "PortLink.h"
#include "Win32Port.h"
#include "WinSerial.h"

namespace {

// Queue sizes the port is built with.
constexpr unsigned InputQueueSize = 4096;
constexpr unsigned OutputQueueSize = 2048;

// The module's "ready" answer to "P" at 128000 baud.
constexpr char ReadyAnswer = 'Q';

// Waits of the handshake: the module's reply time at each speed.
constexpr std::uint32_t HandshakeSettleMs = 50;
constexpr std::uint32_t AnswerWaitMs = 150;
constexpr int AnswerReadTimeoutMs = 100;
constexpr std::uint32_t StartCommandPauseMs = 1;

constexpr const char* OpenFailedText = "Could not open port.";
constexpr const char* HandshakeBaudFailedText = "Could not set 38.4K baud rate.";
constexpr const char* ModuleBaudFailedText = "Could not set 128K baud rate.";
constexpr const char* NoAnswerText = "Could not commmunicate with Tavrek.  Try resetting module.";

bool IsPortNumber(int number) {
    return number >= 1 && number <= HighestPortNumber;
}

// The serial layer's last error as a reason.
std::string SystemReason(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return "No such device.";
        case ERROR_INVALID_FUNCTION:
            return "Not a serial device.";
        case ERROR_INVALID_PARAMETER:
        case ERROR_NOT_SUPPORTED:
            return "The device does not support this line setting.";
        case ERROR_DEVICE_NOT_CONNECTED:
            return "The device is no longer connected.";
        default:
            return "The system reported error " + std::to_string(error) + ".";
    }
}

// The secondary text of the connection's failure boxes: which device, and why.
std::string DeviceLine(int number) {
    return "Device: " + ComDevicePath(number) + " (COM" + std::to_string(number) + ")\n";
}

// Why a port could not be opened. The device is looked at without opening it again (an open
// may reset the module); whether we may open it at all is the commonest trouble on Linux. Where
// the number names no device (nothing at its path, or a built-in port with no hardware behind
// it, as most /dev/ttyS* are), the text says how to reach the adapter instead.
std::string OpenFailureDetail(int number, DWORD systemError) {
    if (!IsPortNumber(number)) {
        return "COM" + std::to_string(number) + " is no port: numbers run from 1 to " +
               std::to_string(HighestPortNumber) + ". " + ChooseAdapterText;
    }
    const std::string path = ComDevicePath(number);
    std::string detail = DeviceLine(number);
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) {
        return detail + std::strerror(errno) + ". " + ChooseAdapterText;
    }
    // Before the permissions: a user outside the dialout group may open no /dev/ttyS* at all,
    // and being let in would not help with this one.
    if (IsPortWithoutHardware(path)) {
        return detail + "No hardware stands behind this port. " + ChooseAdapterText;
    }
    if (access(path.c_str(), R_OK | W_OK) != 0) {
        const int error = errno;
        detail += std::string(std::strerror(error)) + ".";
        if (error == EACCES || error == EPERM) {
            detail +=
                "\nYour user may not open it: add it to the dialout group (sudo adduser $USER "
                "dialout), then log in again.";
        }
        return detail;
    }
    if (!S_ISCHR(status.st_mode)) {
        return detail + "Not a serial device. " + ChooseAdapterText;
    }

    // The device is there and ours to open: another program holding it is the usual cause, and
    // the serial layer's error is no more specific than that.
    if (systemError == ERROR_SUCCESS || systemError == ERROR_ACCESS_DENIED ||
        systemError == ERROR_INVALID_HANDLE) {
        return detail + "It may be in use by another program.";
    }
    return detail + SystemReason(systemError);
}

// What came back instead of the one "Q".
std::string AnswerDetail(int number, long waiting, char first) {
    std::string detail = DeviceLine(number);
    if (waiting == 0) {
        return detail + "The module did not answer.";
    }
    if (waiting != 1) {
        return detail + "The module answered with " + std::to_string(waiting) +
               " bytes instead of one.";
    }
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02X", static_cast<unsigned char>(first));
    return detail + "The module answered " + hex + " instead of \"Q\".";
}

}  // namespace

ModuleConnection::ModuleConnection(ModuleClock& clock) : clock_(clock) {}

ModuleConnection::~ModuleConnection() {
    TearDown();
}

void ModuleConnection::TearDown() {
    if (moduleSettings) {
        moduleSettings->Restore();
        moduleSettings.reset();
    }
    // The link puts back its own snapshots; the port outlives both.
    moduleLink.reset();
    modulePort.reset();
}

void ModuleConnection::Adopt(std::unique_ptr<CComPort> port) {
    TearDown();
    modulePort = std::move(port);
    if (modulePort) {
        moduleLink = std::make_unique<CComLink>(modulePort.get());
    }
}

void ModuleConnection::SendByte(char byte) {
    SendCommand(*moduleLink, byte);
}

int ModuleConnection::ConnectModule(ModuleHost& host, int number) {
    char scratch[ConnectScratchSize] = {};

    TearDown();

    // Only COM1..COM16 get a port; a link over a missing port would have nothing to talk to.
    if (!IsPortNumber(number)) {
        host.FailureBox(OpenFailedText, OpenFailureDetail(number, ERROR_SUCCESS));
        return ConnectOpenFailed;
    }
    SetLastError(ERROR_SUCCESS);
    modulePort = std::make_unique<CWin32Port>(number - 1, InputQueueSize, OutputQueueSize, 0);
    const DWORD openError = GetLastError();
    moduleLink = std::make_unique<CComLink>(modulePort.get());

    std::uint16_t lineFlags = 0;
    if (moduleLink->TakeLineErrors(&lineFlags) != 0) {
        host.FailureBox(OpenFailedText, OpenFailureDetail(number, openError));
        return ConnectOpenFailed;
    }

    moduleSettings = std::make_unique<CLineSettings>(moduleLink.get());
    if (moduleSettings->Apply(HandshakeBaud, 'N', 8, 1) != 0) {
        host.FailureBox(HandshakeBaudFailedText, DeviceLine(number) + SystemReason(GetLastError()));
        return ConnectHandshakeBaudFailed;
    }

    SendByte('P');
    clock_.Sleep(HandshakeSettleMs);
    if (DrainInput(*moduleLink, scratch, ConnectScratchSize, clock_) == DrainResult::Streaming) {
        if (const int result = StopStreamingModule(host, number, scratch); result != ConnectOk) {
            return result;
        }
    }

    // The module switches its own line as soon as it has "9", so the host follows at once.
    SendByte('9');
    if (moduleSettings->Apply(ModuleBaud, 'N', 8, 1) != 0) {
        host.FailureBox(ModuleBaudFailedText, DeviceLine(number) + SystemReason(GetLastError()));
        return ConnectModuleBaudFailed;
    }

    SendByte('P');
    clock_.Sleep(AnswerWaitMs);

    scratch[0] = 0;
    const long waiting = moduleLink->RxCount();
    if (waiting == 1) {
        moduleLink->ReadBlock(scratch, 1, AnswerReadTimeoutMs);
    }
    if (scratch[0] != ReadyAnswer) {
        host.FailureBox(NoAnswerText, AnswerDetail(number, waiting, scratch[0]));
        return ConnectNoAnswer;
    }

    host.WriteProfileInt(ProfileSection, ProfilePortEntry, number);
    DrainStoppingStream(*moduleLink, scratch, ConnectScratchSize, clock_);
    connectedNumber_ = number;
    return ConnectOk;
}

int ModuleConnection::StopStreamingModule(ModuleHost& host, int number, char* scratch) {
    if (moduleSettings->Apply(ModuleBaud, 'N', 8, 1) != 0) {
        host.FailureBox(ModuleBaudFailedText, DeviceLine(number) + SystemReason(GetLastError()));
        return ConnectModuleBaudFailed;
    }
    SendByte(StartStopCommand);
    const DrainResult drained = DrainInput(*moduleLink, scratch, ConnectScratchSize, clock_);
    if (moduleSettings->Apply(HandshakeBaud, 'N', 8, 1) != 0) {
        host.FailureBox(HandshakeBaudFailedText, DeviceLine(number) + SystemReason(GetLastError()));
        return ConnectHandshakeBaudFailed;
    }
    // Still streaming after its stop byte: whatever talks on this line, it is no module in step.
    if (drained == DrainResult::Streaming) {
        host.FailureBox(NoAnswerText,
                        DeviceLine(number) + "Bytes kept arriving after the command to stop.");
        return ConnectNoAnswer;
    }
    return ConnectOk;
}

void ModuleConnection::ConnectAtStartup(ModuleHost& host) {
    int number = host.GetProfileInt(ProfileSection, ProfilePortEntry, DefaultPortNumber);
    if (number > HighestPortNumber) {
        number = DefaultPortNumber;
    }
    ConnectWithRetries(host, number);
}

bool ModuleConnection::Reconnect(ModuleHost& host) {
    return ConnectWithRetries(host, connectedNumber_);
}

bool ModuleConnection::ConnectWithRetries(ModuleHost& host, int number) {
    int result = ConnectModule(host, number);
    while (result != ConnectOk) {
        portNumber = number;
        host.RunPortSelectionDialog(portNumber);
        // Saved before anything else, so a terminate request stores 1000 and a cancelled
        // dialog stores the number that just failed.
        const bool saved = host.WriteProfileInt(ProfileSection, ProfilePortEntry, portNumber);
        if (portNumber == TerminatePortNumber) {
            break;
        }
        // A profile that could not keep the number would give back an old one in every round:
        // the number the user entered is tried instead.
        number = saved ? host.GetProfileInt(ProfileSection, ProfilePortEntry, DefaultPortNumber)
                       : portNumber;
        result = ConnectModule(host, number);
    }

    if (portNumber != TerminatePortNumber && moduleLink) {
        for (const char command : {'G', 'Q', 'S'}) {
            clock_.Sleep(StartCommandPauseMs);
            SendByte(command);
        }
    }
    return result == ConnectOk;
}
