#include "ModuleIo.h"

#include <algorithm>

#include "COMLINK.h"
#include "PortLink.h"

namespace {

// One read of a drain; answers how many bytes it took. None while bytes were counted as waiting
// means the line is unusable (hung up, or the port refuses reads), and asking again would only
// spin on the same count.
int DrainOnce(CComLink& link, char* buffer, int bufferSize, int waiting) {
    const int count = std::min(waiting, bufferSize - 1);
    return std::max(0, link.ReadBlock(buffer, count, DrainReadTimeoutMs));
}

// Both drains: read what is queued, pause, and ask again until the queue is found empty or
// new bytes keep coming; the pumping one lets one window message through before each read.
DrainResult Drain(CComLink& link, char* buffer, int bufferSize, ModuleClock& clock,
                  ModuleHost* pump) {
    if (buffer == nullptr || bufferSize < 2) {
        return DrainResult::Quiet;
    }
    // What should still be waiting if nothing new had come since the last read.
    int left = 0;
    int arrivingReads = 0;
    for (;;) {
        const int waiting = link.RxCount();
        if (waiting <= 0) {
            return DrainResult::Quiet;
        }
        arrivingReads = waiting > left ? arrivingReads + 1 : 0;
        if (arrivingReads > DrainArrivingReads) {
            return DrainResult::Streaming;
        }
        if (pump != nullptr) {
            pump->PumpOneMessage();
            if (pump->MainWindowClosing()) {
                return DrainResult::Quiet;
            }
        }
        const int got = DrainOnce(link, buffer, bufferSize, waiting);
        clock.Sleep(DrainPauseMs);
        if (got == 0) {
            return DrainResult::Quiet;
        }
        left = waiting - got;
    }
}

}  // namespace

DrainResult DrainInput(CComLink& link, char* buffer, int bufferSize, ModuleClock& clock) {
    return Drain(link, buffer, bufferSize, clock, nullptr);
}

DrainResult DrainInputPumping(CComLink& link, char* buffer, int bufferSize, ModuleClock& clock,
                              ModuleHost& host) {
    return Drain(link, buffer, bufferSize, clock, &host);
}

DrainResult DrainStoppingStream(CComLink& link, char* buffer, int bufferSize, ModuleClock& clock,
                                ModuleHost* pump) {
    if (Drain(link, buffer, bufferSize, clock, pump) == DrainResult::Quiet) {
        return DrainResult::Quiet;
    }
    // A queue that keeps filling may be no more than a large backlog: the system holds far more
    // than the count it reports (a modal box kept the program from reading while a block
    // streamed in). Thrown away at once, a backlog is gone; only a module that streams on fills
    // the queue again, and only that one gets the "8", which would start a stream otherwise.
    if (CComPort* port = link.Port()) {
        port->Purge(0, 0);
    }
    // A stream shows itself again within one pause; a backlog does not come back.
    clock.Sleep(DrainPauseMs);
    if (Drain(link, buffer, bufferSize, clock, pump) == DrainResult::Quiet) {
        return DrainResult::Quiet;
    }
    SendCommand(link, StartStopCommand);
    return Drain(link, buffer, bufferSize, clock, pump);
}

void SendCommand(CComLink& link, char command) {
    link.WriteBytes(&command, 1);
}
