#include "platform/SerialPorts.h"

#include "platform/SerialDevice.h"

namespace fr {

std::string SystemPortMapDir() { return {}; }

std::vector<TPortMapping> PortMappings() { return {}; }

std::vector<TSerialPresence> SerialDevicesPresent(const std::string&, const std::string&) { return {}; }

std::string StableSerialName(const std::string& Device, const std::string&) { return Device; }

std::string SerialAccessProblem(const std::string&) { return {}; }

std::string SerialDeviceGroup(const std::string&) { return {}; }

bool MapSerialPort(int, const std::string&, std::string& Error) {
    Error = "on Windows port N is COMN itself: nothing to map";
    return false;
}

}  // namespace fr
