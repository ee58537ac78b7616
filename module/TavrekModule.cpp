#include "TavrekModule.h"

TavrekModule::TavrekModule(SpectrumStore& store, ModuleClock& clock)
    : store_(store), clock_(clock) {}

TavrekModule::~TavrekModule() = default;

void TavrekModule::ClearBusy() {}

void TavrekModule::ConnectAtStartup(ModuleHost&) {}

void TavrekModule::OnTimer(ModuleHost&) {}
