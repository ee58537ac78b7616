// The serial ports of this computer, as Qt's serial port module finds them.
#pragma once

#include <string>
#include <vector>

#include "PortHardware.h"
#include "PortListSource.h"

class SystemPortListSource final : public PortListSource {
  public:
    // Where the system keeps the stable names of USB adapters.
    static constexpr const char* StableNameFolder = "/dev/serial/by-id";

    SystemPortListSource() = default;
    // The same with other folders in place of the kernel's terminal class (see PortHardware.h)
    // and of the stable names.
    SystemPortListSource(std::string terminalClassFolder, std::string stableNameFolder);

    std::vector<SerialPortFacts> PortsPresent() override;

  private:
    std::string terminalClassFolder_ = TerminalClassFolder;
    std::string stableNameFolder_ = StableNameFolder;
};
