#include "portlist.h"

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
        ports.push_back({info.portName().toStdString(), info.systemLocation().toStdString()});
    return ports;
}

}  // namespace tamrisk
