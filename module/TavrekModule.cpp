#include "TavrekModule.h"

#include "ComDeviceMap.h"

TavrekModule::TavrekModule(SpectrumStore& store, ModuleClock& clock)
    : store_(store), clock_(clock), connection_(clock) {}

TavrekModule::~TavrekModule() = default;

void TavrekModule::ConnectAtStartup(ModuleHost& host) {
    connection_.ConnectAtStartup(host);
}

void TavrekModule::OnTimer(ModuleHost& host) {
    cycle_.OnTimer(host, connection_, store_, clock_);
}

std::string TavrekModule::DeviceName() const {
    const int number = connection_.ConnectedNumber();
    if (number == 0) {
        return {};
    }
    return "COM" + std::to_string(number) + " (" + ComDevicePath(number) + ")";
}
