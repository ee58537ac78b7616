#include "PortLink.h"

CLineSettings::CLineSettings(CComLink* link) {
    if (link != nullptr) {
        Attach(link);
    }
}

int CLineSettings::Attach(CComLink* link) {
    port = link != nullptr ? link->Port() : nullptr;
    Capture();
    return Commit();
}

int CLineSettings::Capture() {
    if (port == nullptr) {
        return COM_ERR_FAILED;
    }
    port->GetLineParameters(savedBaud, savedParity, savedDataBits, savedStopBits);
    return 0;
}

int CLineSettings::Commit() {
    if (port == nullptr) {
        return COM_ERR_FAILED;
    }
    // Every refusal reads as a general failure here; the port keeps the precise code pending.
    return port->SetLineParameters(baud, parity, dataBits, stopBits) >= 0 ? 0 : COM_ERR_FAILED;
}

int CLineSettings::Apply(long newBaud, char newParity, int newDataBits, int newStopBits) {
    baud = newBaud;
    parity = newParity;
    dataBits = newDataBits;
    stopBits = newStopBits;
    return Commit();
}

int CLineSettings::Restore() {
    if (port == nullptr) {
        return 0;
    }
    baud = savedBaud;
    parity = savedParity;
    dataBits = savedDataBits;
    stopBits = savedStopBits;
    return Commit();
}

CLineStatus::CLineStatus(CComLink* link) : port(link != nullptr ? link->Port() : nullptr) {
    Refresh();
    if (port != nullptr) {
        port->GetHandshake(savedInputFlow, savedOutputFlow);
    }
    inputFlow = savedInputFlow;
    outputFlow = savedOutputFlow;
}

int CLineStatus::Refresh() {
    if (port == nullptr) {
        return COM_ERR_FAILED;
    }
    return port->GetLineStatus(&status);
}

int CLineStatus::SetHandshake(int newInputFlow, int newOutputFlow) {
    inputFlow = newInputFlow;
    outputFlow = newOutputFlow;
    if (port == nullptr) {
        return COM_ERR_FAILED;
    }
    return port->SetHandshake(newInputFlow, newOutputFlow);
}

int CLineStatus::Restore() {
    return SetHandshake(savedInputFlow, savedOutputFlow);
}
