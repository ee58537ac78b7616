#include "ModuleIo.h"

#include <algorithm>

#include "PortLink.h"

namespace {

// One read of a drain. Answers false when bytes were counted as waiting but none could be read:
// the line is then unusable (hung up, or the port refuses reads), and asking again would only
// spin on the same count.
bool DrainOnce(CComLink& link, char* buffer, int bufferSize, int waiting) {
    const int count = std::min(waiting, bufferSize - 1);
    return link.ReadBlock(buffer, count, DrainReadTimeoutMs) > 0;
}

// Both drains: read what is queued, pause, and ask again until the queue is found empty; the
// pumping one lets one window message through before each read.
void Drain(CComLink& link, char* buffer, int bufferSize, ModuleClock& clock, ModuleHost* pump) {
    if (buffer == nullptr || bufferSize < 2) {
        return;
    }
    for (;;) {
        const int waiting = link.RxCount();
        if (waiting <= 0) {
            return;
        }
        if (pump != nullptr) {
            pump->PumpOneMessage();
        }
        const bool readSomething = DrainOnce(link, buffer, bufferSize, waiting);
        clock.Sleep(DrainPauseMs);
        if (!readSomething) {
            return;
        }
    }
}

}  // namespace

void DrainInput(CComLink& link, char* buffer, int bufferSize, ModuleClock& clock) {
    Drain(link, buffer, bufferSize, clock, nullptr);
}

void DrainInputPumping(CComLink& link, char* buffer, int bufferSize, ModuleClock& clock,
                       ModuleHost& host) {
    Drain(link, buffer, bufferSize, clock, &host);
}
