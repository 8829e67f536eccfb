// Ports told apart and reached: the advice for a device refused for lack of
// permission, the stable names of the adapters, and ports found by any link.

#include "fakehost.h"
#include "portaccess.h"
#include "portlist.h"
#include "scriptedio.h"
#include "seriallink.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <filesystem>
#include <fstream>
#include <grp.h>
#include <unistd.h>

namespace tamrisk {
namespace {

namespace fs = std::filesystem;
using testing::FakeHost;
using testing::ScriptedIo;

TEST(PortAccessAdvice, SaysWhatTheUserMustDo) {
    struct Case {
        const char* what;
        PortAccessFacts facts;
        std::vector<std::string> says;
        std::vector<std::string> never;
    };
    const std::vector<Case> cases = {
        {"not in the group", {"/dev/ttyUSB0", "dialout", false, false, 0660},
         {"/dev/ttyUSB0 belongs to the group dialout", "sudo usermod -aG dialout $USER", "log in again"},
         {"administrator"}},
        {"not in a group other than dialout", {"/dev/ttyUSB1", "uucp", false, false, 0660},
         {"/dev/ttyUSB1 belongs to the group uucp", "sudo usermod -aG uucp $USER", "log in again"},
         {"dialout", "administrator"}},
        {"in the group, not in this session", {"/dev/ttyUSB0", "uucp", true, false, 0660},
         {"/dev/ttyUSB0 belongs to the group uucp", "not in this session", "log out and log in again"},
         {"usermod"}},
        {"in the group and the session", {"/dev/ttyACM1", "dialout", true, true, 0600},
         {"(0600)", "ask the administrator"},
         {"usermod", "log in"}},
        {"group unreadable", {"/dev/ttyS3", "", false, false, 0},
         {"The group that owns /dev/ttyS3 could not be read", "ask the administrator"},
         {"usermod"}},
    };
    for (const Case& c : cases) {
        const std::string advice = PortAccessAdvice(c.facts);
        for (const std::string& part : c.says)
            EXPECT_NE(advice.find(part), std::string::npos) << c.what << ": " << advice;
        for (const std::string& part : c.never)
            EXPECT_EQ(advice.find(part), std::string::npos) << c.what << ": " << advice;
    }
}

TEST(PortAccessAdvice, ReadsTheDevicesGroupAndTheSessionsGroups) {
    QTemporaryDir dir;
    const fs::path root = dir.path().toStdString();
    std::ofstream(root / "ttyUSB0");
    fs::permissions(root / "ttyUSB0", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_symlink(root / "ttyUSB0", root / "usb-Maker_Model_A1-if00-port0");
    // A file this process makes belongs to its own group, which its session has.
    const group* own = ::getgrgid(::getegid());
    ASSERT_NE(own, nullptr);

    for (const fs::path& path : {root / "ttyUSB0", root / "usb-Maker_Model_A1-if00-port0"}) {
        const PortAccessFacts facts = ReadPortAccessFacts(path.string());
        EXPECT_EQ(facts.device, fs::canonical(root / "ttyUSB0").string()) << path;
        EXPECT_EQ(facts.group, own->gr_name) << path;
        EXPECT_TRUE(facts.groupActive) << path;
        EXPECT_EQ(facts.mode, 0640u) << path;
    }
    const PortAccessFacts missing = ReadPortAccessFacts((root / "gone").string());
    EXPECT_EQ(missing.device, (root / "gone").string());
    EXPECT_TRUE(missing.group.empty());
    EXPECT_NE(PortAccessAdvice((root / "gone").string()).find("could not be read"), std::string::npos);
}

// The refusal's reason comes first; the advice follows only when the refusal
// was for lack of permission.
TEST(PortAccessAdvice, FollowsTheReasonOfARefusedOpen) {
    QTemporaryDir dir;
    const std::string device = dir.filePath("ttyUSB0").toStdString();
    std::ofstream{device};
    struct Case {
        bool denied;
        std::string detail;
    };
    for (const Case& c : {Case{true, "Permission denied\n" + PortAccessAdvice(device)},
                          Case{false, "Permission denied"}}) {
        FakeHost host;
        auto io = std::make_unique<ScriptedIo>(host);
        io->refuseOpen = true;
        io->denyAccess = c.denied;
        io->refuseReason = "Permission denied";
        SerialLink link(host, std::move(io), [&] { return std::vector<PortEntry>{{"ttyUSB0", device}}; });
        link.EnumeratePorts();
        EXPECT_FALSE(link.OpenPort(0, "9600"));
        ASSERT_EQ(host.messages.size(), 1u);
        EXPECT_EQ(host.messages[0].text, "Can't open serial port");
        EXPECT_EQ(host.messages[0].detail, c.detail);
    }
}

// A folder of devices and one of stable links to them, as udev lays them out.
struct StableNames {
    QTemporaryDir dir;
    fs::path root = dir.path().toStdString();
    fs::path byId = root / "by-id";
    StableNames() {
        fs::create_directories(root / "dev");
        fs::create_directories(byId);
        for (const char* device : {"ttyUSB0", "ttyUSB1", "ttyACM0", "pts7"})
            std::ofstream(root / "dev" / device);
        fs::create_symlink(root / "dev/ttyUSB1", byId / "usb-FTDI_FT232R_A10K1-if00-port0");
        fs::create_symlink("../dev/ttyUSB0", byId / "usb-Prolific_PL2303_0042-if00-port0");
        fs::create_symlink(root / "dev/ttyUSB0", byId / "usb-Prolific_PL2303_0042-if01-port0");
        fs::create_symlink(root / "dev/ttyUSB9", byId / "usb-Unplugged_X-if00-port0");
        // The simulator's published port is itself a link.
        fs::create_symlink(root / "dev/pts7", root / "SIM0");
        fs::create_symlink(root / "dev/pts7", byId / "usb-Tamrisk_Sim_1-if00");
    }
    std::string Dev(const char* name) const { return (root / "dev" / name).string(); }
    std::string Id(const char* name) const { return (byId / name).string(); }
};

TEST(StablePorts, EachPortGetsTheLinkThatLeadsToItsDevice) {
    StableNames names;
    std::vector<PortEntry> ports{{"ttyACM0", names.Dev("ttyACM0")},
                                 {"ttyUSB0", names.Dev("ttyUSB0")},
                                 {"ttyUSB1", names.Dev("ttyUSB1")},
                                 {"SIM0", (names.root / "SIM0").string()}};
    AddStablePaths(ports, names.byId.string());
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"ttyACM0", ""},
        {"ttyUSB0", names.Id("usb-Prolific_PL2303_0042-if00-port0")},  // the first of two by name
        {"ttyUSB1", names.Id("usb-FTDI_FT232R_A10K1-if00-port0")},
        {"SIM0", names.Id("usb-Tamrisk_Sim_1-if00")},
    };
    ASSERT_EQ(ports.size(), expected.size());
    for (std::size_t i = 0; i < ports.size(); ++i) {
        EXPECT_EQ(ports[i].name, expected[i].first);
        EXPECT_EQ(ports[i].stablePath, expected[i].second) << ports[i].name;
    }
    std::vector<PortEntry> untouched{{"ttyUSB0", names.Dev("ttyUSB0")}};
    AddStablePaths(untouched, (names.root / "no-such-folder").string());
    EXPECT_TRUE(untouched[0].stablePath.empty());
}

TEST(StablePorts, APortIsFoundByNamePathOrAnyLinkToItsDevice) {
    StableNames names;
    FakeHost host;
    SerialLink link(host, std::make_unique<ScriptedIo>(host), [&] {
        std::vector<PortEntry> ports{{"ttyUSB0", names.Dev("ttyUSB0")}, {"ttyUSB1", names.Dev("ttyUSB1")}};
        AddStablePaths(ports, names.byId.string());
        return ports;
    });
    link.EnumeratePorts();
    const std::vector<std::pair<std::string, int>> cases = {
        {"ttyUSB1", 1},
        {names.Dev("ttyUSB0"), 0},
        {names.Id("usb-FTDI_FT232R_A10K1-if00-port0"), 1},
        {names.Id("usb-Prolific_PL2303_0042-if01-port0"), 0},  // not the one listed, same device
        {names.Id("usb-Unplugged_X-if00-port0"), -1},
        {names.Dev("ttyACM0"), -1},  // exists, but not listed
        {"ttyUSB7", -1},
        {"", -1},
    };
    for (const auto& [given, index] : cases)
        EXPECT_EQ(link.FindPort(given), index) << given;
}

TEST(StablePorts, DetailsListWhatTheSystemReports) {
    const std::vector<std::pair<PortEntry, std::string>> cases = {
        {{"ttyUSB0", "/dev/ttyUSB0", "FT232R USB UART", "FTDI", "A10K1", "/dev/serial/by-id/usb-FTDI-if00"},
         "/dev/ttyUSB0\nDescription: FT232R USB UART\nManufacturer: FTDI\nSerial number: A10K1\n"
         "Stable path: /dev/serial/by-id/usb-FTDI-if00"},
        {{"ttyACM0", "/dev/ttyACM0", "", "Maker", "", ""}, "/dev/ttyACM0\nManufacturer: Maker"},
        {{"SIM0", "/run/user/0/tamrisk/ports/SIM0"}, "/run/user/0/tamrisk/ports/SIM0"},
    };
    for (const auto& [port, details] : cases)
        EXPECT_EQ(PortDetails(port), details) << port.name;
}

}  // namespace
}  // namespace tamrisk
