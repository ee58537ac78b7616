#include "ModuleConnection.h"

#include <cstdint>

#include "ModuleIo.h"
#include "PortLink.h"
#include "Win32Port.h"

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
    moduleLink->WriteBytes(&byte, 1);
}

int ModuleConnection::ConnectModule(ModuleHost& host, int number) {
    char scratch[ConnectScratchSize] = {};

    TearDown();

    // Only COM1..COM16 get a port; a link over a missing port would have nothing to talk to.
    if (!IsPortNumber(number)) {
        host.MessageBox(OpenFailedText);
        return ConnectOpenFailed;
    }
    modulePort = std::make_unique<CWin32Port>(number - 1, InputQueueSize, OutputQueueSize, 0);
    moduleLink = std::make_unique<CComLink>(modulePort.get());

    std::uint16_t lineFlags = 0;
    if (moduleLink->TakeLineErrors(&lineFlags) != 0) {
        host.MessageBox(OpenFailedText);
        return ConnectOpenFailed;
    }

    moduleSettings = std::make_unique<CLineSettings>(moduleLink.get());
    if (moduleSettings->Apply(HandshakeBaud, 'N', 8, 1) != 0) {
        host.MessageBox(HandshakeBaudFailedText);
        return ConnectHandshakeBaudFailed;
    }

    SendByte('P');
    clock_.Sleep(HandshakeSettleMs);
    DrainInput(*moduleLink, scratch, ConnectScratchSize, clock_);

    // The module switches its own line as soon as it has "9", so the host follows at once.
    SendByte('9');
    if (moduleSettings->Apply(ModuleBaud, 'N', 8, 1) != 0) {
        host.MessageBox(ModuleBaudFailedText);
        return ConnectModuleBaudFailed;
    }

    SendByte('P');
    clock_.Sleep(AnswerWaitMs);

    scratch[0] = 0;
    if (moduleLink->RxCount() == 1) {
        moduleLink->ReadBlock(scratch, 1, AnswerReadTimeoutMs);
    }
    if (scratch[0] != ReadyAnswer) {
        host.MessageBox(NoAnswerText);
        return ConnectNoAnswer;
    }

    host.WriteProfileInt(ProfileSection, ProfilePortEntry, number);
    DrainInput(*moduleLink, scratch, ConnectScratchSize, clock_);
    return ConnectOk;
}

void ModuleConnection::ConnectAtStartup(ModuleHost& host) {
    int number = host.GetProfileInt(ProfileSection, ProfilePortEntry, DefaultPortNumber);
    if (number > HighestPortNumber) {
        number = DefaultPortNumber;
    }
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
}
