// Where the list of serial ports present comes from. The program asks the system (through Qt's
// serial port module); tests hand in a list of their own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// One serial port present, as the system describes it.
struct SerialPortFacts {
    // The path to open and to map: the stable /dev/serial/by-id/ name of a USB adapter where
    // the system gives one, else the device node.
    std::string device;
    // The device node itself (/dev/ttyUSB0).
    std::string systemLocation;
    std::string description;
    std::string manufacturer;
    std::string serialNumber;
    std::optional<std::uint16_t> vendorId;
    std::optional<std::uint16_t> productId;
};

class PortListSource {
  public:
    virtual ~PortListSource() = default;
    // The ports present now, in a stable order: built-in ports without hardware behind them and
    // pseudo-terminals are not among them.
    virtual std::vector<SerialPortFacts> PortsPresent() = 0;
};
