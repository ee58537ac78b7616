#include "SystemPortListSource.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <QSerialPortInfo>
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>
#include <tuple>
#include <utility>

#include "PortHardware.h"

namespace {

namespace fs = std::filesystem;

// Terminals that are no serial port whatever a listing says: pseudo-terminals (masters and
// slaves, old and new style, and their multiplexer), the controlling terminal and the console,
// and the virtual consoles. A simulator or a terminal window is never offered as an adapter.
bool IsTerminalWithoutLine(const std::string& node) {
    struct stat status {};
    if (stat(node.c_str(), &status) != 0 || !S_ISCHR(status.st_mode)) {
        return true;
    }
    const unsigned majorNumber = major(status.st_rdev);
    const unsigned minorNumber = minor(status.st_rdev);
    constexpr unsigned OldPtyMaster = 2, OldPtySlave = 3, VirtualConsole = 4, TtyAux = 5;
    constexpr unsigned FirstPtyMajor = 128, LastPtyMajor = 143;
    constexpr unsigned VirtualConsoleMinors = 64;
    return majorNumber == OldPtyMaster || majorNumber == OldPtySlave || majorNumber == TtyAux ||
           (majorNumber >= FirstPtyMajor && majorNumber <= LastPtyMajor) ||
           (majorNumber == VirtualConsole && minorNumber < VirtualConsoleMinors);
}

// The stable name that the system gave the device node, if any: a link in the folder of stable
// names that leads to it. The first by name, so that the choice does not change between reads.
std::string StableName(const std::string& stableNameFolder, const std::string& node) {
    std::error_code error;
    std::vector<std::string> names;
    for (fs::directory_iterator it(stableNameFolder, error), end; !error && it != end;
         it.increment(error)) {
        if (SameDevice(it->path().string(), node)) {
            names.push_back(it->path().string());
        }
    }
    if (names.empty()) {
        return {};
    }
    return *std::min_element(names.begin(), names.end());
}

// Orders device nodes as a person counts them: ttyS2 before ttyS10, ttyS before ttyUSB.
std::tuple<std::string, long, std::string> CountingKey(const std::string& node) {
    std::size_t digits = node.size();
    while (digits > 0 && std::isdigit(static_cast<unsigned char>(node[digits - 1]))) {
        --digits;
    }
    const std::string number = node.substr(digits);
    if (number.empty() || number.size() > 9) {
        return {node, -1, node};
    }
    return {node.substr(0, digits), std::stol(number), node};
}

}  // namespace

SystemPortListSource::SystemPortListSource(std::string terminalClassFolder,
                                           std::string stableNameFolder)
    : terminalClassFolder_(std::move(terminalClassFolder)),
      stableNameFolder_(std::move(stableNameFolder)) {}

std::vector<SerialPortFacts> SystemPortListSource::PortsPresent() {
    std::vector<SerialPortFacts> ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        SerialPortFacts port;
        port.systemLocation = info.systemLocation().toStdString();
        // Built-in ports without a UART are what most of the /dev/ttyS* of a PC are.
        if (IsTerminalWithoutLine(port.systemLocation) ||
            IsPortWithoutHardware(port.systemLocation, terminalClassFolder_)) {
            continue;
        }
        port.device = StableName(stableNameFolder_, port.systemLocation);
        if (port.device.empty()) {
            port.device = port.systemLocation;
        }
        port.description = info.description().toStdString();
        port.manufacturer = info.manufacturer().toStdString();
        port.serialNumber = info.serialNumber().toStdString();
        if (info.hasVendorIdentifier() && info.hasProductIdentifier()) {
            port.vendorId = info.vendorIdentifier();
            port.productId = info.productIdentifier();
        }
        ports.push_back(std::move(port));
    }
    std::sort(ports.begin(), ports.end(), [](const SerialPortFacts& a, const SerialPortFacts& b) {
        return CountingKey(a.systemLocation) < CountingKey(b.systemLocation);
    });
    return ports;
}
