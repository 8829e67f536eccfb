#pragma once
// The operator's last port and speed, kept between runs as the positions of the
// choices in the port and speed lists ("SerialPort" and "Bauds").

#include <QSettings>

#include <cstdint>
#include <memory>
#include <string>

namespace tamrisk {

class SerialLink;

// The per-user store: organisation "ZORMIK", application "ZORMIK Tamrisk".
std::unique_ptr<QSettings> OpenSettingsStore();

// Lists the ports, then reads "SerialPort" into link.PortIndex and "Bauds" into
// `speedIndex` (only when below 8). Reading stops silently at the first value
// that is missing or not a 32-bit integer; an unreadable store leaves the
// defaults. A PortIndex not below the number of ports becomes 0.
// "SerialPort" may also hold an absolute path (a /dev/serial/by-id link): it
// becomes link.GivenPortPath, and PortIndex the port it leads to (-1, no
// selection, when it leads to none listed).
void LoadSettings(QSettings& store, SerialLink& link, std::int32_t& speedIndex);

// Writes both positions ("SerialPort" is `portPath` instead when that is not
// empty); a store that cannot be written is not reported.
void SaveSettings(QSettings& store, std::int32_t portIndex, std::int32_t speedIndex,
                  const std::string& portPath = {});

}  // namespace tamrisk
