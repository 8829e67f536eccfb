#include <gtest/gtest.h>

#include <chrono>

#include "commandline.h"
#include "outputschedule.h"
#include "simoptions.h"

namespace tamrisk::sim {
namespace {

CommandLine Parse(std::initializer_list<const char*> arguments) {
    QStringList list{"tamrisk-sim"};
    for (const char* argument : arguments)
        list << argument;
    return ParseCommandLine(list);
}

TEST(CommandLineTest, DefaultsAndEveryOption) {
    const CommandLine defaults = Parse({});
    ASSERT_EQ(defaults.action, CommandLine::Action::Run);
    EXPECT_EQ(defaults.options.model.synCount, 0);
    EXPECT_EQ(defaults.options.model.faultRate, 0.0);
    EXPECT_EQ(defaults.options.model.fiscalMemoryKiB, 128);
    EXPECT_EQ(defaults.options.model.journalDays, 6);
    EXPECT_EQ(defaults.options.model.faultKinds.size(), 3u);
    EXPECT_TRUE(defaults.options.name.empty());
    EXPECT_FALSE(defaults.options.model.usedVariation);

    const CommandLine all = Parse({"--name", "BENCH", "--link", "/tmp/x/SIM", "--syn", "3", "--delay", "250",
                                   "--baud", "9600", "--fault-rate", "0.25", "--seed", "99", "--faults",
                                   "checksum,sequence", "--status", "48=21,0,0,0,0,0", "--status",
                                   "74=00,00,04,00,00,3a", "--fm-size", "64", "--journal-days", "150",
                                   "--vary", "18446744073709551615", "--vary-spread", "12.5", "--vary-drift", "-0.5"});
    ASSERT_EQ(all.action, CommandLine::Action::Run) << all.text;
    const ServerOptions& o = all.options;
    EXPECT_EQ(o.name, "BENCH");
    EXPECT_EQ(o.linkPath, "/tmp/x/SIM");
    EXPECT_EQ(o.model.synCount, 3);
    EXPECT_EQ(o.delayMs, 250);
    EXPECT_EQ(o.baud, 9600);
    EXPECT_EQ(o.model.faultRate, 0.25);
    EXPECT_EQ(o.model.faultSeed, 99u);
    EXPECT_EQ(o.model.faultKinds, (std::vector{FaultKind::BadChecksum, FaultKind::WrongSequence}));
    ASSERT_EQ(o.model.statusOverrides.size(), 2u);
    EXPECT_EQ(o.model.statusOverrides.at(48), (StatusArray{0x21, 0, 0, 0, 0, 0}));
    EXPECT_EQ(o.model.statusOverrides.at(74), (StatusArray{0, 0, 4, 0, 0, 0x3A}));
    EXPECT_EQ(o.model.fiscalMemoryKiB, 64);
    EXPECT_EQ(o.model.journalDays, 150);
    ASSERT_TRUE(o.model.usedVariation);
    EXPECT_EQ(o.model.usedVariation->seed, 18446744073709551615u);
    EXPECT_EQ(o.model.usedVariation->spread, 12.5);
    EXPECT_EQ(o.model.usedVariation->drift, -0.5);
    const CommandLine varied = Parse({"--vary", "0"});
    ASSERT_TRUE(varied.options.model.usedVariation) << varied.text;
    EXPECT_FALSE(varied.options.model.usedVariation->spread);  // 1 % of the stored size

    const CommandLine version = Parse({"--syn", "3", "--version"});
    EXPECT_EQ(version.action, CommandLine::Action::Version);
    EXPECT_EQ(version.text, std::string("tamrisk-sim ") + TAMRISK_PROJECT_VERSION + "\n");

    const CommandLine help = Parse({"--help"});
    EXPECT_EQ(help.action, CommandLine::Action::Help);
    for (const char* option : {"--version", "--name", "--link", "--syn", "--delay", "--baud", "--fault-rate", "--seed",
                               "--faults", "--status", "--fm-size", "--journal-days", "--vary", "--vary-spread", "--vary-drift"})
        EXPECT_NE(help.text.find(option), std::string::npos) << option;
}

TEST(CommandLineTest, RefusesBadValues) {
    const std::vector<std::vector<const char*>> cases{
        {"--syn", "-1"},        {"--syn", "x"},           {"--delay", "1.5"},
        {"--baud", "-9600"},    {"--fault-rate", "1.5"},  {"--fault-rate", "nan"},
        {"--fault-rate", "-0.1"}, {"--seed", "-3"},       {"--faults", "noanswer,late"},
        {"--faults", ""},       {"--status", "48=21,00"}, {"--status", "256=0,0,0,0,0,0"},
        {"--status", "48=100,0,0,0,0,0"}, {"--status", "=0,0,0,0,0,0"}, {"--fm-size", "512"},
        {"--fm-size", "100"},   {"--name", "a/b"},        {"--name", ".."},
        {"--journal-days", "0"}, {"--journal-days", "3651"}, {"--unknown"},          {"stray"},                {"--link", ""},
        {"--vary", "x"},        {"--vary", "-1"},         {"--vary", "1", "--vary-spread", "-0.1"},
        {"--vary", "1", "--vary-spread", "wide"}, {"--vary", "1", "--vary-drift", "nan"}, {"--vary-drift", "3"}};
    for (const auto& arguments : cases) {
        QStringList list{"tamrisk-sim"};
        for (const char* argument : arguments)
            list << argument;
        const CommandLine result = ParseCommandLine(list);
        EXPECT_EQ(result.action, CommandLine::Action::Error) << list.join(' ').toStdString();
        EXPECT_FALSE(result.text.empty());
    }
}

TEST(SimOptionsTest, StatusOverrideForms) {
    struct Case {
        const char* text;
        bool ok;
        int command;
        StatusArray status;
    };
    for (const Case& c : {Case{"48=21,00,00,00,00,00", true, 48, {0x21, 0, 0, 0, 0, 0}},
                          Case{"0=f,F,0,0,0,ff", true, 0, {0x0F, 0x0F, 0, 0, 0, 0xFF}},
                          Case{"255=1,2,3,4,5,6", true, 255, {1, 2, 3, 4, 5, 6}},
                          Case{"48=21,00,00,00,00", false, 0, {}},
                          Case{"48=21,00,00,00,00,00,00", false, 0, {}},
                          Case{"48=21,,00,00,00,00", false, 0, {}},
                          Case{"48=2g,00,00,00,00,00", false, 0, {}},
                          Case{"4a=21,00,00,00,00,00", false, 0, {}},
                          Case{"1000=0,0,0,0,0,0", false, 0, {}},
                          Case{"48", false, 0, {}}}) {
        int command = -1;
        StatusArray status{9, 9, 9, 9, 9, 9};
        EXPECT_EQ(ParseStatusOverride(c.text, command, status), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(command, c.command) << c.text;
            EXPECT_EQ(status, c.status) << c.text;
        } else {
            EXPECT_EQ(command, -1) << c.text;
        }
    }
}

using Clock = OutputSchedule::Clock;
using std::chrono::microseconds;
using std::chrono::milliseconds;

TEST(OutputScheduleTest, UnpacedAnswersGoAfterTheirDelay) {
    OutputSchedule schedule(milliseconds(50), 0);
    const Clock::time_point t0{};
    schedule.Add("first", t0);
    schedule.Add("second", t0 + milliseconds(10));
    EXPECT_EQ(schedule.NextDue(), t0 + milliseconds(50));
    EXPECT_EQ(schedule.TakeDue(t0 + milliseconds(49)), "");
    EXPECT_EQ(schedule.TakeDue(t0 + milliseconds(50)), "first");
    EXPECT_EQ(schedule.NextDue(), t0 + milliseconds(60));
    EXPECT_EQ(schedule.TakeDue(t0 + milliseconds(100)), "second");
    EXPECT_TRUE(schedule.Empty());
    EXPECT_EQ(schedule.NextDue(), std::nullopt);
}

// At 10,000 bit/s a byte takes 1 ms and is due when it has crossed the line. Bytes
// are due on a schedule counted from the answer's start, so a late wake-up sends everything that fell due meanwhile.
TEST(OutputScheduleTest, PacedBytesFollowTheLineSpeed) {
    OutputSchedule schedule(milliseconds(0), 10000);
    EXPECT_EQ(schedule.ByteTime(), milliseconds(1));
    const Clock::time_point t0{};
    schedule.Add("ABCDEFGH", t0);
    schedule.Add("xyz", t0);  // waits for the line: due from 8 ms on
    struct Step {
        microseconds at;
        const char* bytes;
    };
    for (const Step& step : {Step{microseconds(0), ""}, Step{microseconds(999), ""},
                             Step{microseconds(1000), "A"}, Step{microseconds(2000), "B"},
                             Step{microseconds(5500), "CDE"}, Step{microseconds(8000), "FGH"},
                             Step{microseconds(8999), ""}, Step{microseconds(9000), "x"},
                             Step{microseconds(20000), "yz"}})
        EXPECT_EQ(schedule.TakeDue(t0 + step.at), step.bytes) << step.at.count();
    EXPECT_TRUE(schedule.Empty());

    // A quiet line: the next answer starts when it comes, not on the old schedule.
    schedule.Add("QR", t0 + milliseconds(100));
    EXPECT_EQ(schedule.NextDue(), t0 + milliseconds(101));
    EXPECT_EQ(schedule.TakeDue(t0 + milliseconds(102)), "QR");
}

// At 100,000 bit/s a byte takes 100 us: bytes are handed over a millisecond's
// worth at a time, and the answer's last byte when it is due, not at a burst's end.
TEST(OutputScheduleTest, PacedBytesGoOutInBurstsAndTheLastOnTime) {
    OutputSchedule schedule(milliseconds(0), 100000);
    const Clock::time_point t0{};
    schedule.Add(std::string(25, 'a'), t0);
    struct Step {
        microseconds wake;
        std::size_t bytes;
    };
    for (const Step& step : {Step{microseconds(1000), 10}, Step{microseconds(2000), 10}, Step{microseconds(2500), 5}}) {
        ASSERT_EQ(schedule.NextWake(), t0 + step.wake);
        EXPECT_EQ(schedule.TakeDue(t0 + step.wake).size(), step.bytes) << step.wake.count();
    }
    EXPECT_EQ(schedule.NextWake(), std::nullopt);

    // A short answer on a quiet line goes out whole when its last byte is due.
    schedule.Add("QR", t0 + milliseconds(100));
    EXPECT_EQ(schedule.NextWake(), t0 + microseconds(100200));
    EXPECT_EQ(schedule.TakeDue(t0 + microseconds(100200)), "QR");
}

}  // namespace
}  // namespace tamrisk::sim
