#include "station.h"

#include "settings.h"

namespace tamrisk {

Station::Station(Host& host_, std::unique_ptr<SerialIo> io, SerialLink::PortSource source)
    : host(host_), link(host_, std::move(io), std::move(source)), transactor(link, host_, state) {
    m_portLost = link.OnPortLost([this] {
        Connected = false;
        m_connectionLost.Notify();
    });
}

int Station::SpeedAt(int speedIndex) {
    return speedIndex >= 0 && speedIndex < static_cast<int>(LineSpeeds.size())
               ? LineSpeeds[static_cast<std::size_t>(speedIndex)]
               : LineSpeeds[DefaultSpeedIndex];
}

int Station::SpeedBps() const { return SpeedAt(SpeedIndex); }

bool Station::Connect(int portIndex) {
    if (!link.OpenPort(portIndex, std::to_string(SpeedBps())))
        return false;
    Connected = true;
    return true;
}

bool Station::ConnectPath(const std::string& path, int speedBps) {
    if (!link.OpenPath(path, speedBps))
        return false;
    Connected = true;
    return true;
}

void Station::Disconnect() {
    link.ClosePort();
    Connected = false;
}

void Station::LoadSettings(QSettings& store) { tamrisk::LoadSettings(store, link, SpeedIndex); }

void Station::SaveSettings(QSettings& store) const {
    tamrisk::SaveSettings(store, link.PortIndex, SpeedIndex, link.PortPathToSave(link.PortIndex));
}

}  // namespace tamrisk
