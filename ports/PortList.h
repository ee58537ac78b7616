// The list of serial ports that the Port Selection dialog shows and `sorvell-check --list-ports`
// prints: one entry a port, with its device, what the system says it is and the COM numbers that
// reach it.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

#include "PortListSource.h"

// A [Ports] entry of the profile: COM<comNumber> opens devicePath.
struct ComMapping {
    int comNumber = 0;
    std::string devicePath;
};

struct PortListEntry {
    // The path a choice of this entry maps (see SerialPortFacts::device).
    std::string device;
    // Description, maker, serial number, USB ids and COM numbers, as one line of text.
    std::string details;
    // The COM numbers that open this port, lowest first: those the profile maps to it, and the
    // number whose default device it is when the profile maps that number to nothing.
    std::vector<int> comNumbers;

    // The entry as one line: the device, two blanks, the details.
    std::string Line() const { return device + "  " + details; }
};

// The entries for the ports present, in the source's order. mappings are the profile's [Ports]
// entries; where one COM number occurs twice, the first counts.
std::vector<PortListEntry> BuildPortList(const std::vector<SerialPortFacts>& ports,
                                         const std::vector<ComMapping>& mappings);
std::vector<PortListEntry> ListPorts(PortListSource& source,
                                     const std::vector<ComMapping>& mappings);

// The COM number that choosing list[chosen] maps when the user names none: the lowest number
// already reaching it; else the lowest that the profile maps to no device and whose default
// device is no port of the list, so that no port present is hidden behind the new mapping.
// 0 when there is no such number.
int ComNumberForChoice(const std::vector<PortListEntry>& list, std::size_t chosen,
                       const std::vector<ComMapping>& mappings);

// Prints the list one port a line, or a line saying that there is none.
void PrintPortList(const std::vector<PortListEntry>& list, std::ostream& out);

// What PrintPortList prints for an empty list.
inline constexpr const char* NoPortPresentText = "No serial port is present.";
