#include "fakehost.h"
#include "scriptedio.h"
#include "seriallink.h"
#include "settings.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <filesystem>
#include <fstream>
#include <optional>

namespace tamrisk {
namespace {

using testing::FakeHost;
using testing::ScriptedIo;

struct Stored {
    std::optional<QVariant> serialPort;
    std::optional<QVariant> bauds;
};

struct Case {
    const char* what;
    Stored stored;
    int expectedPort;
    int expectedSpeed;
};

TEST(Settings, LoadAppliesStoredPositionsWithTheirRules) {
    const std::vector<Case> cases = {
        {"nothing stored", {}, 0, 3},
        {"both stored", {2, 7}, 2, 7},
        {"port beyond the three ports", {5, 1}, 0, 1},
        {"port equal to the count", {3, 1}, 0, 1},
        {"speed 8 or more keeps 9600", {1, 8}, 1, 3},
        {"port missing stops before the speed", {std::nullopt, 1}, 0, 3},
        {"speed missing", {1, std::nullopt}, 1, 3},
        {"negative values are used unchanged", {-1, -2}, -1, -2},
        {"port not a number stops the reading", {QString("two"), 1}, 0, 3},
        {"speed not a number", {1, QString("fast")}, 1, 3},
    };
    for (const Case& c : cases) {
        QTemporaryDir dir;
        QSettings store(dir.filePath("tamrisk.ini"), QSettings::IniFormat);
        if (c.stored.serialPort)
            store.setValue("SerialPort", *c.stored.serialPort);
        if (c.stored.bauds)
            store.setValue("Bauds", *c.stored.bauds);
        store.sync();

        FakeHost host;
        SerialLink link(host, std::make_unique<ScriptedIo>(host), [] {
            return std::vector<PortEntry>{{"a", "/a"}, {"b", "/b"}, {"c", "/c"}};
        });
        std::int32_t speed = DefaultSpeedIndex;
        LoadSettings(store, link, speed);
        EXPECT_EQ(link.PortIndex, c.expectedPort) << c.what;
        EXPECT_EQ(speed, c.expectedSpeed) << c.what;
        EXPECT_EQ(link.PortList.size(), 3u) << c.what;
        EXPECT_TRUE(host.messages.empty()) << c.what;
    }
}

TEST(Settings, SaveCreatesBothValuesAndLoadReadsThemBack) {
    QTemporaryDir dir;
    const QString path = dir.filePath("sub/tamrisk.ini");
    {
        QSettings store(path, QSettings::IniFormat);
        SaveSettings(store, 1, 6);
    }
    QSettings store(path, QSettings::IniFormat);
    EXPECT_EQ(store.value("SerialPort").toInt(), 1);
    EXPECT_EQ(store.value("Bauds").toInt(), 6);

    FakeHost host;
    SerialLink link(host, std::make_unique<ScriptedIo>(host),
                    [] { return std::vector<PortEntry>{{"a", "/a"}, {"b", "/b"}}; });
    std::int32_t speed = DefaultSpeedIndex;
    LoadSettings(store, link, speed);
    EXPECT_EQ(link.PortIndex, 1);
    EXPECT_EQ(speed, 6);
}

// A port saved as a stable link follows its adapter to wherever the system
// lists it, and is saved back as given while it stays selected.
TEST(Settings, APortSavedByPathFollowsItsDevice) {
    QTemporaryDir dir;
    const std::filesystem::path root = dir.path().toStdString();
    for (const char* device : {"ttyUSB0", "ttyUSB1"})
        std::ofstream(root / device);
    const std::string stable = (root / "usb-FTDI_FT232R_A10K1-if00-port0").string();
    std::filesystem::create_symlink(root / "ttyUSB1", stable);
    const std::vector<PortEntry> ports{{"ttyUSB0", (root / "ttyUSB0").string()},
                                       {"ttyUSB1", (root / "ttyUSB1").string()}};
    struct Case {
        const char* what;
        QVariant stored;
        int expectedPort;
        std::string given;
        int selectedAtClose;
        QVariant saved;
    };
    const std::vector<Case> cases = {
        {"stable link kept", QString::fromStdString(stable), 1, stable, 1, QString::fromStdString(stable)},
        {"another port chosen", QString::fromStdString(stable), 1, stable, 0, 0},
        {"adapter unplugged: no selection, kept", QString::fromStdString((root / "gone").string()), -1,
         (root / "gone").string(), -1, QString::fromStdString((root / "gone").string())},
        {"a position as before", 1, 1, "", 1, 1},
    };
    for (const Case& c : cases) {
        QSettings store(dir.filePath("tamrisk.ini"), QSettings::IniFormat);
        store.clear();
        store.setValue("SerialPort", c.stored);
        store.setValue("Bauds", 6);
        FakeHost host;
        SerialLink link(host, std::make_unique<ScriptedIo>(host), [&] { return ports; });
        std::int32_t speed = DefaultSpeedIndex;
        LoadSettings(store, link, speed);
        EXPECT_EQ(link.PortIndex, c.expectedPort) << c.what;
        EXPECT_EQ(link.GivenPortPath, c.given) << c.what;
        EXPECT_EQ(speed, 6) << c.what;  // the reading goes on past a path
        SaveSettings(store, c.selectedAtClose, speed, link.PortPathToSave(c.selectedAtClose));
        EXPECT_EQ(store.value("SerialPort").toString(), c.saved.toString()) << c.what;
    }
}

TEST(Settings, TheStationStoreIsPerUser) {
    const auto store = OpenSettingsStore();
    EXPECT_EQ(store->organizationName(), "ZORMIK");
    EXPECT_EQ(store->applicationName(), "ZORMIK Tamrisk");
    EXPECT_EQ(store->scope(), QSettings::UserScope);
}

}  // namespace
}  // namespace tamrisk
