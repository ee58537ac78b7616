// Why the device behind a COM number cannot be used, in words for the connection's failure boxes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The serial layer's error code (GetLastError) as a reason: "No such device." and the like.
std::string SystemErrorReason(std::uint32_t error);

// Why COM<comNumber> could not be opened, after an open whose last error was openError. Starts
// with the device line (ComDeviceLine); a number outside 1..HighestComNumber has no device and
// gets one line instead. The device is looked at without opening it again (an open may reset
// what is attached), and whether the user may open it at all is the commonest trouble. Where the
// number names no usable device (nothing at its path, a built-in port with no hardware behind it,
// no character device), the text ends with hint, which says how to reach another device.
std::string DescribeComDeviceProblem(int comNumber, std::uint32_t openError, std::string_view hint);
