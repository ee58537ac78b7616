// A list of serial ports given by the test, in place of the system's, and two USB adapters as
// the system would describe them.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "PortListSource.h"

class FixedPortList final : public PortListSource {
  public:
    FixedPortList() = default;
    explicit FixedPortList(std::vector<SerialPortFacts> present) : ports(std::move(present)) {}

    std::vector<SerialPortFacts> PortsPresent() override {
        ++reads;
        return ports;
    }

    std::vector<SerialPortFacts> ports;
    int reads = 0;
};

inline SerialPortFacts FtdiAdapter(std::string device =
                                       "/dev/serial/by-id/"
                                       "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0",
                                   std::string node = "/dev/ttyUSB0") {
    return SerialPortFacts{
        std::move(device), std::move(node), "FT232R USB UART", "FTDI", "A50285BI", 0x0403, 0x6001};
}

inline SerialPortFacts SiliconLabsAdapter(
    std::string device =
        "/dev/serial/by-id/"
        "usb-Silicon_Labs_CP2102_USB_to_UART_Bridge_Controller_0001-if00-port0",
    std::string node = "/dev/ttyUSB1") {
    return SerialPortFacts{std::move(device),
                           std::move(node),
                           "CP2102 USB to UART Bridge Controller",
                           "Silicon Labs",
                           "0001",
                           0x10c4,
                           0xea60};
}
