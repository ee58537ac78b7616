// Which device path a COM number names. The application loads its profile's [Ports] section
// here at start-up; a COM number without an entry names /dev/ttyS<n-1>.
#pragma once

#include <string>

void SetComDevicePath(int comNumber, const std::string& path);
void ClearComDeviceMap();
std::string ComDevicePath(int comNumber);
