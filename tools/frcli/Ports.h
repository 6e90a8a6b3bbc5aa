#pragma once
// frcli port: the serial ports as the driver sees them, and the system-wide COM<N> mapping.

#include <ostream>
#include <string>

namespace frcli {

// Makes port N of the "PortNumber" setting reach ADevice for every local user, preferring the
// device's stable /dev/serial/by-id/ name; says when this user may not open it, and how to fix it.
int MapPort(int ANumber, const std::string& ADevice, std::ostream& AOut, std::ostream& AErr);
// The COM<N> mappings (system-wide and this user's) and the serial devices present.
int ListPorts(std::ostream& AOut);

}  // namespace frcli
