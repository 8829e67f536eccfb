#pragma once
// Which serial ports the station offers: the system's ports sorted by device
// path ignoring case, then the virtual ports that tamrisk-sim publishes as links
// in the virtual ports folder; with no port at all, ttyS0 to ttyS15.

#include "virtualports.h"

#include <string>
#include <vector>

namespace tamrisk {

struct PortEntry {
    std::string name;  // what the operator sees and picks
    std::string path;  // what is opened
};

// Orders the system's ports by path ignoring case, appends the virtual ports in
// the order given, and falls back to /dev/ttyS0../dev/ttyS15 when both are empty.
std::vector<PortEntry> BuildPortList(std::vector<PortEntry> systemPorts,
                                     const std::vector<PortEntry>& virtualPorts);

// The links in `dir` whose target exists, sorted by name ignoring case.
std::vector<PortEntry> ListVirtualPorts(const std::string& dir);

// The system's serial ports as QSerialPortInfo reports them.
std::vector<PortEntry> ListSystemPorts();

}  // namespace tamrisk
