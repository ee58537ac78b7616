#include "ComDeviceMap.h"

#include <map>
#include <mutex>

namespace {

struct DeviceMap {
    std::mutex lock;
    std::map<int, std::string> paths;
};

DeviceMap& TheMap() {
    static DeviceMap map;
    return map;
}

}  // namespace

void SetComDevicePath(int comNumber, const std::string& path) {
    DeviceMap& map = TheMap();
    std::lock_guard<std::mutex> guard(map.lock);
    if (path.empty()) {
        map.paths.erase(comNumber);
    } else {
        map.paths[comNumber] = path;
    }
}

void ClearComDeviceMap() {
    DeviceMap& map = TheMap();
    std::lock_guard<std::mutex> guard(map.lock);
    map.paths.clear();
}

std::string ComDevicePath(int comNumber) {
    DeviceMap& map = TheMap();
    {
        std::lock_guard<std::mutex> guard(map.lock);
        auto found = map.paths.find(comNumber);
        if (found != map.paths.end()) {
            return found->second;
        }
    }
    return DefaultComDevicePath(comNumber);
}

std::map<int, std::string> ComDeviceMapEntries() {
    DeviceMap& map = TheMap();
    std::lock_guard<std::mutex> guard(map.lock);
    return map.paths;
}

std::string DefaultComDevicePath(int comNumber) {
    return "/dev/ttyS" + std::to_string(comNumber - 1);
}

std::string ComDeviceLine(int comNumber) {
    return "Device: " + ComDevicePath(comNumber) + " (COM" + std::to_string(comNumber) + ")\n";
}
