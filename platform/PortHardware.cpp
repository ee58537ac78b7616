#include "PortHardware.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <system_error>

bool IsPortWithoutHardware(const std::string& device, const std::string& terminalClassFolder) {
    std::error_code error;
    const std::filesystem::path node = std::filesystem::canonical(device, error);
    if (error) {
        return false;
    }
    std::ifstream typeFile(terminalClassFolder + "/" + node.filename().string() + "/type");
    int type = -1;
    return static_cast<bool>(typeFile >> type) && type == 0;
}

bool SameDevice(const std::string& a, const std::string& b) {
    struct stat first {};
    struct stat second {};
    if (stat(a.c_str(), &first) != 0 || stat(b.c_str(), &second) != 0) {
        return false;
    }
    const bool firstIsDevice = S_ISCHR(first.st_mode) || S_ISBLK(first.st_mode);
    const bool secondIsDevice = S_ISCHR(second.st_mode) || S_ISBLK(second.st_mode);
    if (firstIsDevice || secondIsDevice) {
        return firstIsDevice && secondIsDevice &&
               S_ISCHR(first.st_mode) == S_ISCHR(second.st_mode) && first.st_rdev == second.st_rdev;
    }
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}
