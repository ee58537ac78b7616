#pragma once

#include "ModuleHost.h"

// What the main dialog asks of the module side: clearing the acquisition busy flag and the
// connection step of its initialisation, and one acquisition cycle per timer tick.
class ModuleSession {
  public:
    virtual ~ModuleSession() = default;
    // Clears acquisitionBusy.
    virtual void ClearBusy() = 0;
    // Saved port, connection attempts, Port Selection dialog while they fail, start commands.
    virtual void ConnectAtStartup(ModuleHost& host) = 0;
    // One timer tick: the terminate request, or one acquisition cycle of both axes.
    virtual void OnTimer(ModuleHost& host) = 0;
};
