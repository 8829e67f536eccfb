#pragma once
// The station's connection and shared state, one object for every window, the
// CLI, the benchmarks and the test rigs: the serial link with its port list,
// the transaction state, the one transactor (so one transaction at a time
// holds across windows), the Connected flag and the speed list position.

#include "seriallink.h"
#include "transaction.h"

#include <QSettings>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace tamrisk {

class Host;

class Station {
public:
    // `source` lists the ports (the system's and the simulator's by default).
    Station(Host& host, std::unique_ptr<SerialIo> io, SerialLink::PortSource source = {});
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    Host& host;
    SerialLink link;
    TransactionState state;
    Transactor transactor;

    // The Connect button has opened the port and it has not been closed since
    // (nor lost).
    bool Connected = false;
    // Position in the speed list (LineSpeeds), saved between runs.
    std::int32_t SpeedIndex = DefaultSpeedIndex;

    // Bit/s of the speed list position; the default speed when out of range.
    int SpeedBps() const;
    static int SpeedAt(int speedIndex);

    // Opens entry `portIndex` of the port list at SpeedBps(). Sets Connected on
    // success; on failure the link has told the operator and nothing changes.
    bool Connect(int portIndex);
    // Opens a device path (or a port list name) at `speedBps`, as the CLI does.
    bool ConnectPath(const std::string& path, int speedBps);
    // Closes the port; Connected clear.
    void Disconnect();

    // Saved port and speed positions (the port list is refreshed first).
    void LoadSettings(QSettings& store);
    void SaveSettings(QSettings& store) const;

    // Subscribes `callback` to a lost port: every subscriber is called, in
    // subscription order, after Connected has been cleared and before the
    // operator is told; the station's windows show themselves disconnected.
    [[nodiscard]] Notifier::Subscription OnConnectionLost(std::function<void()> callback) {
        return m_connectionLost.Subscribe(std::move(callback));
    }

private:
    Notifier m_connectionLost;
    Notifier::Subscription m_portLost;
};

}  // namespace tamrisk
