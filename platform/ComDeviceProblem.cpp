#include "ComDeviceProblem.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "ComDeviceMap.h"
#include "PortHardware.h"
#include "WinSerial.h"

std::string SystemErrorReason(std::uint32_t error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return "No such device.";
        case ERROR_INVALID_FUNCTION:
            return "Not a serial device.";
        case ERROR_INVALID_PARAMETER:
        case ERROR_NOT_SUPPORTED:
            return "The device does not support this line setting.";
        case ERROR_DEVICE_NOT_CONNECTED:
            return "The device is no longer connected.";
        default:
            return "The system reported error " + std::to_string(error) + ".";
    }
}

std::string DescribeComDeviceProblem(int comNumber, std::uint32_t openError,
                                     std::string_view hint) {
    const std::string ending = ". " + std::string(hint);
    if (!IsComNumber(comNumber)) {
        return "COM" + std::to_string(comNumber) + " is no port: numbers run from 1 to " +
               std::to_string(HighestComNumber) + ending;
    }
    const std::string path = ComDevicePath(comNumber);
    std::string detail = ComDeviceLine(comNumber);
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) {
        return detail + std::strerror(errno) + ending;
    }
    // Before the permissions: a user outside the dialout group may open no /dev/ttyS* at all,
    // and being let in would not help with this one.
    if (IsPortWithoutHardware(path)) {
        return detail + "No hardware stands behind this port" + ending;
    }
    if (access(path.c_str(), R_OK | W_OK) != 0) {
        const int error = errno;
        detail += std::string(std::strerror(error)) + ".";
        if (error == EACCES || error == EPERM) {
            detail +=
                "\nYour user may not open it: add it to the dialout group (sudo adduser $USER "
                "dialout), then log in again.";
        }
        return detail;
    }
    if (!S_ISCHR(status.st_mode)) {
        return detail + "Not a serial device" + ending;
    }

    // A character device that opens but is no terminal (/dev/null, a printer): another device has
    // to be chosen, as for anything else at the path that is no serial device.
    if (openError == ERROR_INVALID_FUNCTION) {
        return detail + "Not a serial device" + ending;
    }
    // The device is there and ours to open: another program holding it is the usual cause when
    // the serial layer says no more than that it was refused.
    if (openError == ERROR_SUCCESS || openError == ERROR_ACCESS_DENIED ||
        openError == ERROR_INVALID_HANDLE) {
        return detail + "It may be in use by another program.";
    }
    return detail + SystemErrorReason(openError);
}
