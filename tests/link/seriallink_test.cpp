#include "fakehost.h"
#include "portlist.h"
#include "scriptedio.h"
#include "linkrig.h"
#include "seriallink.h"
#include "station.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <filesystem>
#include <fstream>

namespace tamrisk {
namespace {

using testing::FakeHost;
using testing::ScriptedIo;

std::vector<std::string> Names(const std::vector<PortEntry>& ports) {
    std::vector<std::string> names;
    for (const auto& p : ports)
        names.push_back(p.name);
    return names;
}

TEST(PortList, SystemPortsByPathIgnoringCaseThenVirtualPorts) {
    const auto ports = BuildPortList({{"ttyUSB0", "/dev/ttyUSB0"}, {"ttyS1", "/dev/ttyS1"}, {"ttyACM0", "/dev/ttyACM0"},
                                      {"ttys9", "/dev/ttys9"}},
                                     {{"SIM0", "/run/x/SIM0"}, {"SIM1", "/run/x/SIM1"}});
    EXPECT_EQ(Names(ports), (std::vector<std::string>{"ttyACM0", "ttyS1", "ttys9", "ttyUSB0", "SIM0", "SIM1"}));
}

TEST(PortList, OrderFollowsPathsNotNames) {
    // The name of the port under the later path comes second, whatever it is.
    const auto ports = BuildPortList({{"COM1", "/dev/zz"}, {"COM5", "/dev/aa"}}, {});
    EXPECT_EQ(Names(ports), (std::vector<std::string>{"COM5", "COM1"}));
}

TEST(PortList, FallsBackToSixteenPortsWhenThereIsNone) {
    const auto ports = BuildPortList({}, {});
    ASSERT_EQ(ports.size(), 16u);
    EXPECT_EQ(ports.front().name, "ttyS0");
    EXPECT_EQ(ports.front().path, "/dev/ttyS0");
    EXPECT_EQ(ports.back().name, "ttyS15");
    EXPECT_EQ(BuildPortList({}, {{"SIM0", "/x"}}).size(), 1u);
}

TEST(PortList, VirtualPortsAreLiveLinksSortedByName) {
    QTemporaryDir dir;
    const std::filesystem::path root = dir.path().toStdString();
    std::ofstream(root / "target");
    std::filesystem::create_symlink(root / "target", root / "sim1");
    std::filesystem::create_symlink(root / "target", root / "SIM0");
    std::filesystem::create_symlink(root / "gone", root / "SIM2");  // its simulator has ended
    const auto ports = ListVirtualPorts(root.string());
    EXPECT_EQ(Names(ports), (std::vector<std::string>{"SIM0", "sim1", "target"}));
    EXPECT_EQ(ports[0].path, (root / "SIM0").string());
    EXPECT_TRUE(ListVirtualPorts((root / "missing").string()).empty());
}

TEST(PortList, VirtualFolderFollowsTheRuntimeDirectory) {
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", "/run/user/77");
    EXPECT_EQ(VirtualPortsDir(), "/run/user/77/tamrisk/ports");
    qunsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(VirtualPortsDir().rfind("/tmp/tamrisk-", 0), 0u);
    EXPECT_NE(VirtualPortsDir().find("/ports"), std::string::npos);
    if (!saved.isNull())
        qputenv("XDG_RUNTIME_DIR", saved);
}

struct LinkRig {
    FakeHost host;
    ScriptedIo* io = nullptr;
    std::vector<PortEntry> ports{{"ttyS0", "/dev/ttyS0"}, {"ttyS1", "/dev/ttyS1"}, {"SIM0", "/run/SIM0"}};
    std::unique_ptr<SerialLink> link;
    LinkRig() {
        auto scripted = std::make_unique<ScriptedIo>(host);
        io = scripted.get();
        link = std::make_unique<SerialLink>(host, std::move(scripted), [this] { return ports; });
        link->EnumeratePorts();
    }
};

TEST(SerialLink, OpensTheSelectedPortAtTheListedSpeed) {
    LinkRig rig;
    EXPECT_TRUE(rig.link->OpenPort(2, "115200"));
    EXPECT_EQ(rig.io->openedPath, "/run/SIM0");
    EXPECT_EQ(rig.io->openedBaud, 115200);
    EXPECT_EQ(rig.link->PortIndex, 2);
    EXPECT_EQ(rig.link->PortList, (std::vector<std::string>{"ttyS0", "ttyS1", "SIM0"}));
}

TEST(SerialLink, OpeningAnOpenPortOnlyRefreshesTheChoice) {
    LinkRig rig;
    ASSERT_TRUE(rig.link->OpenPort(0, "9600"));
    EXPECT_TRUE(rig.link->OpenPort(1, "1200"));
    EXPECT_EQ(rig.io->openCount, 1);
    EXPECT_EQ(rig.io->openedBaud, 9600);
    EXPECT_EQ(rig.link->PortIndex, 1);
    EXPECT_EQ(rig.link->LineSpeed, 1200);
}

TEST(SerialLink, RefusedPortsAreReported) {
    struct Case {
        int index;
        bool refuse;
        const char* message;
        const char* reason;  // the system's, beside the message
    };
    for (const Case c : {Case{0, true, "Can't open serial port", "Permission denied"},
                         Case{-1, false, "No serial port selected", ""},
                         Case{3, false, "No serial port selected", ""}}) {
        LinkRig rig;
        rig.io->refuseOpen = c.refuse;
        rig.io->refuseReason = c.reason;
        EXPECT_FALSE(rig.link->OpenPort(c.index, "9600"));
        EXPECT_FALSE(rig.link->IsOpen());
        ASSERT_EQ(rig.host.messages.size(), 1u);
        EXPECT_EQ(rig.host.messages[0].text, c.message);
        EXPECT_EQ(rig.host.messages[0].detail, c.reason);
        EXPECT_EQ(rig.host.messages[0].caption, "Error");
    }
}

TEST(SerialLink, WriteTimeOutCoversTheWireTimeOfTheFrame) {
    using std::chrono::milliseconds;
    // 229 bytes take 1908.3 ms at 1200 bit/s; a fixed 1229 ms would cut the frame.
    EXPECT_EQ(WriteTimeout(229, 1200), milliseconds(1000 + 1909));
    EXPECT_EQ(WriteTimeout(229, 115200), milliseconds(1000 + 20));
    EXPECT_EQ(WriteTimeout(0, 1200), milliseconds(1000));
    EXPECT_GE(WriteTimeout(229, 0), milliseconds(1000));  // no speed known: still bounded
}

TEST(SerialLink, LostDeviceClosesThePortAndIsReportedOnce) {
    LinkRig rig;
    int lost = 0;
    const auto subscription = rig.link->OnPortLost([&] {
        // The windows update before the operator is told.
        EXPECT_EQ(rig.host.messages.size(), static_cast<std::size_t>(lost));
        ++lost;
    });
    ASSERT_TRUE(rig.link->OpenPort(0, "9600"));
    rig.io->unplug("Device disconnected");
    rig.io->unplug("Device disconnected");
    EXPECT_FALSE(rig.link->IsOpen());
    EXPECT_TRUE(rig.link->PortLost());
    EXPECT_EQ(lost, 1);
    ASSERT_EQ(rig.host.messages.size(), 1u);
    EXPECT_EQ(rig.host.messages[0].text, "Serial port lost");
    EXPECT_EQ(rig.host.messages[0].detail, "Device disconnected");
    // Back again: the next open works and a later loss is told again.
    ASSERT_TRUE(rig.link->OpenPort(0, "9600"));
    EXPECT_FALSE(rig.link->PortLost());
    rig.io->unplug("Device disconnected");
    EXPECT_EQ(lost, 2);
}

// Every window that subscribed hears of a lost port, in the order it
// subscribed, after Connected is cleared and before the operator's message;
// a window gone (its subscription dropped) is not called, even from inside the
// notification.
TEST(Station, ALostPortIsToldToEverySubscriberInOrder) {
    testing::LinkRig<ScriptedIo> rig;
    ASSERT_TRUE(rig.station->Connected);
    std::vector<std::string> told;
    const auto hear = [&](const char* who) {
        return [&, who] {
            EXPECT_FALSE(rig.station->Connected) << who;
            EXPECT_TRUE(rig.host.messages.empty()) << who;
            told.push_back(who);
        };
    };
    auto mainWindow = rig.station->OnConnectionLost(hear("main"));
    auto gone = rig.station->OnConnectionLost(hear("gone"));
    Notifier::Subscription later;
    auto journal = rig.station->OnConnectionLost([&] {
        hear("journal")();
        later.Reset();
    });
    later = rig.station->OnConnectionLost(hear("later"));
    gone.Reset();
    rig.io->unplug("Device disconnected");
    EXPECT_EQ(told, (std::vector<std::string>{"main", "journal"}));
    EXPECT_EQ(rig.host.messages.size(), 1u);
}

TEST(SerialLink, SpeedIsTheLeadingNumberOfTheText) {
    EXPECT_EQ(ParseLineSpeed("9600"), 9600);
    EXPECT_EQ(ParseLineSpeed("115200 bit/s"), 115200);
    EXPECT_EQ(ParseLineSpeed(""), 0);
    EXPECT_EQ(ParseLineSpeed("fast"), 0);
}

TEST(SerialLink, FillPortListLosesASelectionBeyondAShorterList) {
    LinkRig rig;
    rig.link->PortIndex = 2;
    EXPECT_EQ(rig.link->FillPortList(), 2);
    rig.ports.pop_back();
    EXPECT_EQ(rig.link->FillPortList(), -1);
    EXPECT_EQ(rig.link->PortList.size(), 2u);
}

TEST(SerialLink, WritesWithoutAPortReportAShortWrite) {
    LinkRig rig;
    EXPECT_TRUE(rig.link->WriteBytes("abc"));
    EXPECT_FALSE(rig.link->WriteBytes(""));
    EXPECT_EQ(rig.link->BytesWaiting(), 0u);
    ASSERT_TRUE(rig.link->OpenPort(0, "9600"));
    EXPECT_FALSE(rig.link->WriteBytes("abc"));
    EXPECT_EQ(rig.io->written.back(), "abc");
}

TEST(SerialLink, FindsPortsByNameOrPath) {
    LinkRig rig;
    EXPECT_EQ(rig.link->FindPort("SIM0"), 2);
    EXPECT_EQ(rig.link->FindPort("/dev/ttyS1"), 1);
    EXPECT_EQ(rig.link->FindPort("ttyUSB9"), -1);
}

}  // namespace
}  // namespace tamrisk
