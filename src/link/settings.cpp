#include "settings.h"

#include "seriallink.h"

#include <optional>

namespace tamrisk {

namespace {

std::optional<std::int32_t> ReadDword(QSettings& store, const char* name) {
    if (!store.contains(QLatin1String(name)))
        return std::nullopt;
    bool ok = false;
    const int value = store.value(QLatin1String(name)).toInt(&ok);
    if (!ok)
        return std::nullopt;
    return value;
}

}  // namespace

std::unique_ptr<QSettings> OpenSettingsStore() {
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("ZORMIK"),
                                       QStringLiteral("ZORMIK Tamrisk"));
}

void LoadSettings(QSettings& store, SerialLink& link, std::int32_t& speedIndex) {
    link.EnumeratePorts();
    if (store.status() == QSettings::NoError) {
        std::optional<std::int32_t> port = ReadDword(store, "SerialPort");
        if (const QString path = store.value(QStringLiteral("SerialPort")).toString();
            !port && path.startsWith(QLatin1Char('/'))) {
            link.GivenPortPath = path.toStdString();
            port = link.FindPort(link.GivenPortPath);
        }
        if (port) {
            link.PortIndex = *port;
            if (const auto bauds = ReadDword(store, "Bauds"); bauds && *bauds < 8)
                speedIndex = *bauds;
        }
    }
    if (link.PortIndex >= static_cast<std::int32_t>(link.PortList.size()))
        link.PortIndex = 0;
}

void SaveSettings(QSettings& store, std::int32_t portIndex, std::int32_t speedIndex, const std::string& portPath) {
    if (portPath.empty())
        store.setValue(QStringLiteral("SerialPort"), portIndex);
    else
        store.setValue(QStringLiteral("SerialPort"), QString::fromStdString(portPath));
    store.setValue(QStringLiteral("Bauds"), speedIndex);
    store.sync();
}

}  // namespace tamrisk
