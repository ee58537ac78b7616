// Which device path a COM number names. The application loads its profile's [Ports] section
// here at start-up; a COM number without an entry names /dev/ttyS<n-1>.
#pragma once

#include <map>
#include <string>

// COM numbers run from 1 to 16.
inline constexpr int HighestComNumber = 16;

constexpr bool IsComNumber(int number) {
    return number >= 1 && number <= HighestComNumber;
}

// What a COM number names when the profile maps no device to it: /dev/ttyS<n-1>, the system's
// own name for the built-in port with the same index.
std::string DefaultComDevicePath(int comNumber);

void SetComDevicePath(int comNumber, const std::string& path);
void ClearComDeviceMap();
std::string ComDevicePath(int comNumber);
// The first line of a connection failure's detail, naming the device and its number:
// "Device: /dev/ttyUSB0 (COM3)" and a line break.
std::string ComDeviceLine(int comNumber);
// Every COM number with a device of its own, as loaded and set since.
std::map<int, std::string> ComDeviceMapEntries();
