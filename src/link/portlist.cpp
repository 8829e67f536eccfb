#include "portlist.h"

#include "virtualports.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>

#include <algorithm>
#include <strings.h>

namespace tamrisk {

namespace {

bool LessIgnoringCase(const std::string& a, const std::string& b) {
    const int c = ::strcasecmp(a.c_str(), b.c_str());
    return c != 0 ? c < 0 : a < b;
}

}  // namespace

std::vector<PortEntry> BuildPortList(std::vector<PortEntry> systemPorts,
                                     const std::vector<PortEntry>& virtualPorts) {
    std::stable_sort(systemPorts.begin(), systemPorts.end(),
                     [](const PortEntry& a, const PortEntry& b) { return LessIgnoringCase(a.path, b.path); });
    systemPorts.insert(systemPorts.end(), virtualPorts.begin(), virtualPorts.end());
    if (systemPorts.empty()) {
        for (int i = 0; i < 16; ++i) {
            const std::string name = "ttyS" + std::to_string(i);
            systemPorts.push_back({name, "/dev/" + name});
        }
    }
    return systemPorts;
}

std::vector<PortEntry> ListVirtualPorts(const std::string& dir) {
    std::vector<PortEntry> ports;
    const QDir folder(QString::fromStdString(dir));
    const auto entries = folder.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::NoSort);
    for (const QFileInfo& info : entries) {
        // A link left behind by a simulator that has ended points nowhere.
        if (!QFileInfo::exists(info.absoluteFilePath()))
            continue;
        ports.push_back({info.fileName().toStdString(), info.absoluteFilePath().toStdString()});
    }
    std::sort(ports.begin(), ports.end(),
              [](const PortEntry& a, const PortEntry& b) { return LessIgnoringCase(a.name, b.name); });
    return ports;
}

std::vector<PortEntry> ListSystemPorts() {
    std::vector<PortEntry> ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        ports.push_back({info.portName().toStdString(), info.systemLocation().toStdString(),
                         info.description().toStdString(), info.manufacturer().toStdString(),
                         info.serialNumber().toStdString()});
    return ports;
}

std::string RealDevice(const std::string& path) {
    const QString canonical = QFileInfo(QString::fromStdString(path)).canonicalFilePath();
    return canonical.isEmpty() ? path : canonical.toStdString();
}

void AddStablePaths(std::vector<PortEntry>& ports, const std::string& stableDir) {
    const QDir folder(QString::fromStdString(stableDir));
    const auto links = folder.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& link : links) {
        const QString device = link.canonicalFilePath();
        if (device.isEmpty())
            continue;
        for (PortEntry& port : ports)
            if (port.stablePath.empty() && RealDevice(port.path) == device.toStdString())
                port.stablePath = link.absoluteFilePath().toStdString();
    }
}

std::string PortDetails(const PortEntry& port) {
    std::string text = port.path;
    for (const auto& [label, value] : {std::pair{"Description: ", &port.description},
                                       std::pair{"Manufacturer: ", &port.manufacturer},
                                       std::pair{"Serial number: ", &port.serialNumber},
                                       std::pair{"Stable path: ", &port.stablePath}})
        if (!value->empty())
            text += "\n" + std::string(label) + *value;
    return text;
}

std::vector<PortEntry> ListStationPorts() {
    std::vector<PortEntry> ports = BuildPortList(ListSystemPorts(), ListVirtualPorts(VirtualPortsDir()));
    AddStablePaths(ports);
    return ports;
}

}  // namespace tamrisk
