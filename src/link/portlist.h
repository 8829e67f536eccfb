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
    // What tells one adapter from another, as the system reports it (empty
    // when it reports nothing).
    std::string description{};
    std::string manufacturer{};
    std::string serialNumber{};
    // The link in the stable-names folder that leads to the device, which
    // stays the same whatever order the adapters were plugged in; empty if none.
    std::string stablePath{};
};

// Where udev links each USB serial adapter under a name made of its maker,
// model and serial number.
inline constexpr const char* DefaultStablePortsDir = "/dev/serial/by-id";

// Orders the system's ports by path ignoring case, appends the virtual ports in
// the order given, and falls back to /dev/ttyS0../dev/ttyS15 when both are empty.
std::vector<PortEntry> BuildPortList(std::vector<PortEntry> systemPorts,
                                     const std::vector<PortEntry>& virtualPorts);

// The links in `dir` whose target exists, sorted by name ignoring case.
std::vector<PortEntry> ListVirtualPorts(const std::string& dir);

// The system's serial ports as QSerialPortInfo reports them, each with its
// description, manufacturer and serial number.
std::vector<PortEntry> ListSystemPorts();
// The ports the station offers: the system's and the simulator's
// (BuildPortList), with their stable paths.
std::vector<PortEntry> ListStationPorts();

// Sets each port's stablePath to the link in `stableDir` that leads to the same
// device (the first by name when several do); ports no link leads to keep none.
void AddStablePaths(std::vector<PortEntry>& ports, const std::string& stableDir = DefaultStablePortsDir);

// The device a port name or link leads to (links followed); `path` itself
// when it leads to nothing that exists.
std::string RealDevice(const std::string& path);

// The port's details for the operator, one per line, those the system
// reports: its device, description, manufacturer, serial number, stable path.
std::string PortDetails(const PortEntry& port);

}  // namespace tamrisk
