#pragma once
// The station's one serial port: opening it at the operator's choice of port
// and speed, the byte operations the frame protocol needs, and the port list.

#include "notifier.h"
#include "portlist.h"
#include "serialio.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tamrisk {

class Host;

// The entries of the speed list, in bit/s; entry 3 (9600) is the default.
constexpr std::array<int, 8> LineSpeeds{1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
constexpr int DefaultSpeedIndex = 3;

class SerialLink {
public:
    using PortSource = std::function<std::vector<PortEntry>()>;

    // `source` lists the ports (the system's and the simulator's by default).
    SerialLink(Host& host, std::unique_ptr<SerialIo> io, PortSource source = {});

    // Index of the selected entry of the port list, saved between runs.
    std::int32_t PortIndex = 0;
    // Speed in bit/s of the last open.
    std::int32_t LineSpeed = 9600;
    // Names of the ports the operator can pick, rebuilt by EnumeratePorts.
    std::vector<std::string> PortList;
    // A port the operator gave by path (a /dev/serial/by-id link, say) in the
    // saved setting or on the command line; saved back as given, so that the
    // choice follows the adapter whatever order the adapters were plugged in.
    std::string GivenPortPath;

    // Takes `selectedIndex` as PortIndex and the number at the start of
    // `speedText` as LineSpeed (0 when none), then opens that port unless one is
    // open already. On failure shows "Can't open serial port" with the system's
    // reason, followed for a device refused for lack of permission by how to
    // get access (PortAccessAdvice), or "No serial port selected" when the
    // index is outside the list, and returns false.
    bool OpenPort(int selectedIndex, std::string_view speedText);
    // Opens a device path at `speed` bit/s; the same messages on failure.
    bool OpenPath(const std::string& path, int speed);
    void ClosePort();
    bool IsOpen() const;
    // Set when the open device went away; cleared by the next open.
    bool PortLost() const { return m_lost; }
    // Subscribes `callback` to the loss of the device: every subscriber is
    // called, in subscription order, before the operator is told "Serial port
    // lost" with the reason (once per loss).
    [[nodiscard]] Notifier::Subscription OnPortLost(std::function<void()> callback) {
        return m_portLost.Subscribe(std::move(callback));
    }

    // Bytes in the input queue; 0 without a port.
    unsigned BytesWaiting();
    // One waiting byte; false when none was read.
    bool ReadByte(std::uint8_t& byte);
    // Writes and waits until transmitted. True when fewer bytes than asked went
    // out; with no port open, true for a non-empty buffer.
    bool WriteBytes(std::string_view bytes);
    // Waits up to `timeout` for input without spinning (returns at once without
    // a port); `toCome`: bytes known to be on their way (SerialIo::waitForRest).
    void WaitForBytes(std::chrono::microseconds timeout, std::size_t toCome = 0);
    // Lets an answer expected whole within `time` gather (SerialIo::sleepFor).
    void SleepFor(std::chrono::microseconds time);

    // Rebuilds PortList from the port source.
    void EnumeratePorts();
    // Rebuilds PortList and returns the entry to select: PortIndex, or -1 when
    // it lies outside the refreshed list.
    int FillPortList();
    // The entry at `index` (name and path); empty when out of range.
    PortEntry PortAt(int index) const;
    // Index of the port whose name, path or stable path is `nameOrPath`, or
    // that a path leads to through links; -1 when none.
    int FindPort(const std::string& nameOrPath) const;
    // What to save for the selection `selectedIndex`: GivenPortPath while the
    // selection is the port it leads to (no selection when it leads to none
    // listed), else empty: the position is saved.
    std::string PortPathToSave(int selectedIndex) const;

private:
    void HandleLost(const std::string& reason);

    Host& m_host;
    std::unique_ptr<SerialIo> m_io;
    PortSource m_source;
    std::vector<PortEntry> m_ports;
    bool m_lost = false;
    Notifier m_portLost;
};

// Leading decimal number of a speed text such as "9600"; 0 when it holds none.
int ParseLineSpeed(std::string_view speedText);

}  // namespace tamrisk
