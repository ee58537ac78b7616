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

}  // namespace

void DrainInput(CComLink& link, char* buffer, int bufferSize, ModuleClock& clock) {
    if (buffer == nullptr || bufferSize < 2) {
        return;
    }
    for (;;) {
        const int waiting = link.RxCount();
        if (waiting <= 0) {
            return;
        }
        const bool readSomething = DrainOnce(link, buffer, bufferSize, waiting);
        clock.Sleep(DrainPauseMs);
        if (!readSomething) {
            return;
        }
    }
}

void DrainInputPumping(CComLink& link, char* buffer, int bufferSize, ModuleClock& clock,
                       ModuleHost& host) {
    if (buffer == nullptr || bufferSize < 2) {
        return;
    }
    for (;;) {
        const int waiting = link.RxCount();
        if (waiting <= 0) {
            return;
        }
        host.PumpOneMessage();
        const bool readSomething = DrainOnce(link, buffer, bufferSize, waiting);
        clock.Sleep(DrainPauseMs);
        if (!readSomething) {
            return;
        }
    }
}
