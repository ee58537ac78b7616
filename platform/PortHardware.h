// Whether hardware stands behind a serial device node. A PC's kernel creates /dev/ttyS0 to
// /dev/ttyS31 or so whether or not a UART answers at their addresses; most of them name nothing.
#pragma once

#include <string>

// The kernel's folder of terminals, where each port of its serial core tells its UART type.
inline constexpr const char* TerminalClassFolder = "/sys/class/tty";

// True when device (a path that may be a link, such as a /dev/serial/by-id/ name) is a port of
// the kernel's serial core at which no UART answered (type 0). Devices that are no UART port
// (USB adapters, pseudo-terminals) and paths that lead nowhere answer false. Asked of the kernel's
// description of the port rather than of the port itself: opening a port raises its modem lines.
bool IsPortWithoutHardware(const std::string& device,
                           const std::string& terminalClassFolder = TerminalClassFolder);

// Whether two paths lead to the same device (links followed): the same device number for device
// nodes, the same file otherwise. False when either leads nowhere.
bool SameDevice(const std::string& a, const std::string& b);
