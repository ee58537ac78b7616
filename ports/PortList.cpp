#include "PortList.h"

#include <cstdio>
#include "ComDeviceMap.h"
#include "PortHardware.h"

namespace {

// Whether path opens this port: it names the port as the list does, or it leads to the same
// device node (a /dev/ttyUSB0 entry of the profile reaches the adapter that the list names by
// its stable name, and the other way round).
bool Reaches(const std::string& path, const SerialPortFacts& port) {
    if (path == port.device || path == port.systemLocation) {
        return true;
    }
    return SameDevice(path, port.systemLocation.empty() ? port.device : port.systemLocation);
}

// The profile's first entry for COM<number>; none when the profile maps it to nothing.
const ComMapping* ProfileMapping(const std::vector<ComMapping>& mappings, int number) {
    for (const ComMapping& mapping : mappings) {
        if (mapping.comNumber == number) {
            return &mapping;
        }
    }
    return nullptr;
}

std::string ComNumbersText(const std::vector<int>& numbers) {
    if (numbers.empty()) {
        return "no COM number";
    }
    std::string text;
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        if (i > 0) {
            text += i + 1 == numbers.size() ? " and " : ", ";
        }
        text += "COM" + std::to_string(numbers[i]);
    }
    return text;
}

std::string UsbIdsText(const SerialPortFacts& port) {
    if (!port.vendorId || !port.productId) {
        return {};
    }
    char text[32];
    std::snprintf(text, sizeof text, "USB %04x:%04x", static_cast<unsigned>(*port.vendorId),
                  static_cast<unsigned>(*port.productId));
    return text;
}

std::string DetailsText(const SerialPortFacts& port, const std::vector<int>& numbers) {
    std::vector<std::string> parts;
    if (!port.description.empty()) {
        parts.push_back(port.description);
    }
    // Many adapters name their maker in their description as well.
    if (!port.manufacturer.empty() && port.manufacturer != port.description) {
        parts.push_back(port.manufacturer);
    }
    if (parts.empty()) {
        parts.push_back("no description");
    }
    if (!port.serialNumber.empty()) {
        parts.push_back("serial number " + port.serialNumber);
    }
    if (std::string ids = UsbIdsText(port); !ids.empty()) {
        parts.push_back(std::move(ids));
    }
    parts.push_back(ComNumbersText(numbers));
    std::string text;
    for (const std::string& part : parts) {
        text += text.empty() ? part : ", " + part;
    }
    return text;
}

}  // namespace

std::vector<PortListEntry> BuildPortList(const std::vector<SerialPortFacts>& ports,
                                         const std::vector<ComMapping>& mappings) {
    std::vector<PortListEntry> list;
    list.reserve(ports.size());
    for (const SerialPortFacts& port : ports) {
        PortListEntry entry;
        entry.device = port.device.empty() ? port.systemLocation : port.device;
        for (int number = 1; number <= HighestComNumber; ++number) {
            const ComMapping* mapping = ProfileMapping(mappings, number);
            if (Reaches(mapping ? mapping->devicePath : DefaultComDevicePath(number), port)) {
                entry.comNumbers.push_back(number);
            }
        }
        entry.details = DetailsText(port, entry.comNumbers);
        list.push_back(std::move(entry));
    }
    return list;
}

std::vector<PortListEntry> ListPorts(PortListSource& source,
                                     const std::vector<ComMapping>& mappings) {
    return BuildPortList(source.PortsPresent(), mappings);
}

int ComNumberForChoice(const std::vector<PortListEntry>& list, std::size_t chosen,
                       const std::vector<ComMapping>& mappings) {
    if (chosen >= list.size()) {
        return 0;
    }
    if (!list[chosen].comNumbers.empty()) {
        return list[chosen].comNumbers.front();
    }
    for (int number = 1; number <= HighestComNumber; ++number) {
        bool reachesAPortPresent = false;
        for (const PortListEntry& entry : list) {
            for (const int reaching : entry.comNumbers) {
                reachesAPortPresent = reachesAPortPresent || reaching == number;
            }
        }
        if (!reachesAPortPresent && ProfileMapping(mappings, number) == nullptr) {
            return number;
        }
    }
    return 0;
}

void PrintPortList(const std::vector<PortListEntry>& list, std::ostream& out) {
    if (list.empty()) {
        out << NoPortPresentText << '\n';
        return;
    }
    for (const PortListEntry& entry : list) {
        out << entry.Line() << '\n';
    }
}
