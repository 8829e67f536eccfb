#include "seriallink.h"

#include "host.h"
#include "portaccess.h"

#include <charconv>

namespace tamrisk {

SerialLink::SerialLink(Host& host, std::unique_ptr<SerialIo> io, PortSource source)
    : m_host(host), m_io(std::move(io)), m_source(std::move(source)) {
    if (!m_source)
        m_source = ListStationPorts;
    m_io->setLostHandler([this](const std::string& reason) { HandleLost(reason); });
}

void SerialLink::HandleLost(const std::string& reason) {
    if (m_lost)
        return;
    m_lost = true;
    m_io->close();
    m_portLost.Notify();
    m_host.showMessageDetail("Serial port lost", "Error", reason);
}

int ParseLineSpeed(std::string_view speedText) {
    std::size_t i = 0;
    while (i < speedText.size() && (speedText[i] == ' ' || speedText[i] == '\t'))
        ++i;
    int speed = 0;
    const auto [end, error] = std::from_chars(speedText.data() + i, speedText.data() + speedText.size(), speed);
    (void)end;
    return error == std::errc() ? speed : 0;
}

bool SerialLink::OpenPort(int selectedIndex, std::string_view speedText) {
    PortIndex = selectedIndex;
    LineSpeed = ParseLineSpeed(speedText);
    if (IsOpen())
        return true;
    if (selectedIndex < 0 || selectedIndex >= static_cast<int>(m_ports.size())) {
        m_host.showMessage("No serial port selected", "Error");
        return false;
    }
    return OpenPath(m_ports[static_cast<std::size_t>(selectedIndex)].path, LineSpeed);
}

bool SerialLink::OpenPath(const std::string& path, int speed) {
    LineSpeed = speed;
    if (IsOpen())
        return true;
    if (!m_io->open(path, speed)) {
        std::string detail = m_io->errorText();
        if (m_io->accessDenied())
            detail += (detail.empty() ? "" : "\n") + PortAccessAdvice(path);
        m_host.showMessageDetail("Can't open serial port", "Error", detail);
        return false;
    }
    m_lost = false;
    return true;
}

void SerialLink::ClosePort() { m_io->close(); }

bool SerialLink::IsOpen() const { return m_io->isOpen(); }

unsigned SerialLink::BytesWaiting() { return IsOpen() ? static_cast<unsigned>(m_io->bytesWaiting()) : 0u; }

bool SerialLink::ReadByte(std::uint8_t& byte) { return IsOpen() && m_io->readByte(byte); }

bool SerialLink::WriteBytes(std::string_view bytes) {
    if (!IsOpen())
        return !bytes.empty();
    return m_io->writeAll(bytes) < bytes.size();
}

void SerialLink::WaitForBytes(std::chrono::microseconds timeout, std::size_t toCome) {
    if (!IsOpen())
        return;
    if (toCome > 1)
        m_io->waitForRest(timeout, toCome);
    else
        m_io->waitForBytes(timeout);
}

void SerialLink::SleepFor(std::chrono::microseconds time) {
    if (IsOpen())
        m_io->sleepFor(time);
}

void SerialLink::EnumeratePorts() {
    m_ports = m_source();
    PortList.clear();
    for (const PortEntry& entry : m_ports)
        PortList.push_back(entry.name);
}

int SerialLink::FillPortList() {
    EnumeratePorts();
    return PortIndex >= 0 && PortIndex < static_cast<int>(m_ports.size()) ? PortIndex : -1;
}

PortEntry SerialLink::PortAt(int index) const {
    if (index < 0 || index >= static_cast<int>(m_ports.size()))
        return {};
    return m_ports[static_cast<std::size_t>(index)];
}

int SerialLink::FindPort(const std::string& nameOrPath) const {
    if (nameOrPath.empty())
        return -1;
    for (std::size_t i = 0; i < m_ports.size(); ++i)
        if (m_ports[i].name == nameOrPath || m_ports[i].path == nameOrPath || m_ports[i].stablePath == nameOrPath)
            return static_cast<int>(i);
    if (nameOrPath.find('/') == std::string::npos)
        return -1;
    // Another link to a listed device (a stable name in another folder, say).
    const std::string device = RealDevice(nameOrPath);
    for (std::size_t i = 0; i < m_ports.size(); ++i)
        if (RealDevice(m_ports[i].path) == device)
            return static_cast<int>(i);
    return -1;
}

std::string SerialLink::PortPathToSave(int selectedIndex) const {
    if (GivenPortPath.empty() || FindPort(GivenPortPath) != selectedIndex)
        return {};
    return GivenPortPath;
}

}  // namespace tamrisk
