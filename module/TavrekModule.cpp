#include "TavrekModule.h"

TavrekModule::TavrekModule(SpectrumStore& store, ModuleClock& clock)
    : store_(store), clock_(clock), connection_(clock) {}

TavrekModule::~TavrekModule() = default;

void TavrekModule::ClearBusy() {
    cycle_.acquisitionBusy = 0;
}

void TavrekModule::ConnectAtStartup(ModuleHost& host) {
    connection_.ConnectAtStartup(host);
}

void TavrekModule::OnTimer(ModuleHost& host) {
    cycle_.OnTimer(host, connection_, store_, clock_);
}
