#pragma once

#include "AcquisitionCycle.h"
#include "ModuleConnection.h"
#include "ModuleHost.h"
#include "ModuleSession.h"
#include "SpectrumStore.h"

// The Tavrek module on its serial line: connection state and acquisition cycle, created once
// by main and living as long as the program.
class TavrekModule final : public ModuleSession {
  public:
    TavrekModule(SpectrumStore& store, ModuleClock& clock);
    ~TavrekModule() override;

    void ConnectAtStartup(ModuleHost& host) override;
    void OnTimer(ModuleHost& host) override;
    void SetCycleObserver(CycleObserver* observer) override { cycle_.SetObserver(observer); }
    std::string DeviceName() const override;

    ModuleConnection& Connection() { return connection_; }
    AcquisitionCycle& Acquisition() { return cycle_; }

  private:
    SpectrumStore& store_;
    ModuleClock& clock_;
    ModuleConnection connection_;
    AcquisitionCycle cycle_;
};
