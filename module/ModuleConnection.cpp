#include "ModuleConnection.h"

#include <cstdint>
#include <cstdio>
#include <string>

#include "ComDeviceMap.h"
#include "ModuleIo.h"
#include "PortFactory.h"
#include "PortLink.h"
#include "Profile.h"

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

// What came back instead of the one "Q".
std::string AnswerDetail(int number, long waiting, char first) {
    std::string detail = ComDeviceLine(number);
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

    OpenedComPort opened = OpenComPort(number, InputQueueSize, OutputQueueSize);
    // Only the COM range gets a port (OpenComPort); a link over a missing port would have nothing
    // to talk to.
    if (!opened.port) {
        host.FailureBox(OpenFailedText, opened.FailureDetail(host.OtherDeviceHint()));
        return ConnectOpenFailed;
    }
    modulePort = std::move(opened.port);
    moduleLink = std::make_unique<CComLink>(modulePort.get());

    std::uint16_t lineFlags = 0;
    if (moduleLink->TakeLineErrors(&lineFlags) != 0) {
        host.FailureBox(OpenFailedText, opened.FailureDetail(host.OtherDeviceHint()));
        return ConnectOpenFailed;
    }

    moduleSettings = std::make_unique<CLineSettings>(moduleLink.get());
    if (moduleSettings->Apply(HandshakeBaud, 'N', 8, 1) != 0) {
        host.FailureBox(HandshakeBaudFailedText, LastLineFailure(number));
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
        host.FailureBox(ModuleBaudFailedText, LastLineFailure(number));
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

    host.WriteProfileInt(Profile::AppSection, Profile::ComPortEntry, number);
    DrainStoppingStream(*moduleLink, scratch, ConnectScratchSize, clock_);
    connectedNumber_ = number;
    return ConnectOk;
}

int ModuleConnection::StopStreamingModule(ModuleHost& host, int number, char* scratch) {
    if (moduleSettings->Apply(ModuleBaud, 'N', 8, 1) != 0) {
        host.FailureBox(ModuleBaudFailedText, LastLineFailure(number));
        return ConnectModuleBaudFailed;
    }
    SendByte(StartStopCommand);
    const DrainResult drained = DrainInput(*moduleLink, scratch, ConnectScratchSize, clock_);
    if (moduleSettings->Apply(HandshakeBaud, 'N', 8, 1) != 0) {
        host.FailureBox(HandshakeBaudFailedText, LastLineFailure(number));
        return ConnectHandshakeBaudFailed;
    }
    // Still streaming after its stop byte: whatever talks on this line, it is no module in step.
    if (drained == DrainResult::Streaming) {
        host.FailureBox(NoAnswerText,
                        ComDeviceLine(number) + "Bytes kept arriving after the command to stop.");
        return ConnectNoAnswer;
    }
    return ConnectOk;
}

void ModuleConnection::ConnectAtStartup(ModuleHost& host) {
    const int saved =
        host.GetProfileInt(Profile::AppSection, Profile::ComPortEntry, Profile::DefaultComNumber);
    ConnectWithRetries(host, StartComNumber(saved));
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
        const bool saved =
            host.WriteProfileInt(Profile::AppSection, Profile::ComPortEntry, portNumber);
        if (portNumber == TerminatePortNumber) {
            break;
        }
        // A profile that could not keep the number would give back an old one in every round:
        // the number the user entered is tried instead.
        number = saved ? host.GetProfileInt(Profile::AppSection, Profile::ComPortEntry,
                                            Profile::DefaultComNumber)
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
