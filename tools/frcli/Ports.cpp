#include "Ports.h"

#include <fmt/format.h>

#include "platform/SerialDevice.h"
#include "platform/SerialPorts.h"
#include "platform/System.h"

namespace frcli {

int MapPort(int ANumber, const std::string& ADevice, std::ostream& AOut, std::ostream& AErr) {
    if (ANumber < 1 || ANumber > 128) {
        AErr << "frcli port: the port number is 1 to 128 (9999 is TCP, set by IPAddress and IPPort)\n";
        return 2;
    }
    const std::string target = fr::StableSerialName(ADevice);
    std::string error;
    if (!fr::MapSerialPort(ANumber, target, error)) {
        AErr << "frcli port: " << error << '\n';
        return 1;
    }
    AOut << fmt::format("COM{} -> {}{}\n", ANumber, target, target == ADevice ? "" : " (" + ADevice + ")");
    AOut << fmt::format("set \"PortNumber\" to {} (frcli call DeviceTest --set PortNumber={})\n", ANumber, ANumber);
    if (const std::string problem = fr::SerialAccessProblem(target); !problem.empty()) {
        AErr << "frcli port: this user cannot open it: " << problem << '\n';
        return 1;
    }
    // Root opens anything: the user the platform runs as is the one to think of.
    if (const std::string group = fr::SerialDeviceGroup(target); !group.empty())
        AOut << fmt::format("the user the platform runs as needs the group {} (sudo usermod -aG {} USER)\n", group, group);
    return 0;
}

int ListPorts(std::ostream& AOut) {
    const std::string userDir = fr::CommonAppDataDir() + fr::kModuleBaseName + "/";
    AOut << "Mappings (" << fr::SystemPortMapDir() << " for every user, then " << userDir << "):\n";
    const auto mappings = fr::PortMappings();
    if (mappings.empty()) AOut << "  none: port N is /dev/ttyS<N-1>\n";
    for (const auto& m : mappings) {
        const std::string problem = fr::SerialAccessProblem(m.Link);
        AOut << fmt::format("  COM{} -> {}  [{}]{}\n", m.Number, m.Target, m.SystemWide ? "all users" : "this user",
                            problem.empty() ? "" : "  " + problem);
    }
    AOut << "Serial devices:\n";
    const auto devices = fr::SerialDevicesPresent();
    if (devices.empty()) AOut << "  none\n";
    for (const auto& d : devices)
        AOut << "  " << d.Device << (d.StableName.empty() ? "" : "  " + d.StableName) << '\n';
    return 0;
}

}  // namespace frcli
