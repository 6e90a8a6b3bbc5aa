#pragma once
// The serial ports of this machine as the person connecting a register sees them: the COM<N>
// links the driver follows, the serial devices present, whether this user may open one, and
// making a system-wide link. On Windows ports have their own names: nothing to map.

#include <string>
#include <vector>

namespace fr {

inline constexpr const char* kSerialByIdDir = "/dev/serial/by-id/";

struct TPortMapping {
    int Number = 0;
    std::string Link;    // the COM<N> link
    std::string Target;  // what it points at, as written
    bool SystemWide = false;
};

struct TSerialPresence {
    std::string Device;      // /dev/ttyACM0
    std::string StableName;  // its /dev/serial/by-id/ name, or empty
};

// The COM<N> links of the system-wide folder and of this user's data folder, by number; a
// per-user link hidden by a system-wide one of the same number is left out.
std::vector<TPortMapping> PortMappings();

// ttyS*, ttyUSB* and ttyACM* in DevDir, sorted, with their names in ByIdDir.
std::vector<TSerialPresence> SerialDevicesPresent(const std::string& DevDir = "/dev/",
                                                  const std::string& ByIdDir = kSerialByIdDir);

// The name in ByIdDir that leads to the same device as Device (which stays when it is such a
// name already, or has none): the number the kernel gives a USB device changes when it is
// plugged in again, its by-id name does not.
std::string StableSerialName(const std::string& Device, const std::string& ByIdDir = kSerialByIdDir);

// Empty when this process may read and write Device; else the system's text and what to do.
std::string SerialAccessProblem(const std::string& Device);
// The group that may read and write Device besides its owner ("dialout" for serial devices on
// Debian); empty when the group has no such right or Device cannot be seen.
std::string SerialDeviceGroup(const std::string& Device);

// Points COM<Number> in the system-wide folder at Target (replacing a link there), creating the
// folder (mode 0755) when missing. Only root or the folder's owner may; false with the reason.
bool MapSerialPort(int Number, const std::string& Target, std::string& Error);

}  // namespace fr
