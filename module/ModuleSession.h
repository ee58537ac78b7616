#pragma once

#include <string>

#include "ModuleHost.h"

class CycleObserver;

// What the main dialog asks of the module side: the connection step of its initialisation, and
// one acquisition cycle per timer tick.
class ModuleSession {
  public:
    virtual ~ModuleSession() = default;
    // Saved port, connection attempts, Port Selection dialog while they fail, start commands.
    virtual void ConnectAtStartup(ModuleHost& host) = 0;
    // One timer tick: the terminate request, or one acquisition cycle of both axes.
    virtual void OnTimer(ModuleHost& host) = 0;
    // Tells observer of every cycle that completes from now on (a recording); null stops it.
    // A session without a module has no cycles to tell of.
    virtual void SetCycleObserver(CycleObserver* /*observer*/) {}
    // The device the module was last reached on, as a recording names it; empty before that.
    virtual std::string DeviceName() const { return {}; }
};
