// tamrisk-cli against tamrisk-sim over a pseudo-terminal.

#include "simprocess.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QSettings>

#include <algorithm>
#include <regex>
#include <sstream>
#include <vector>

namespace tamrisk::testing {
namespace {

const std::regex kElapsed(R"(Command execution time \d+\.\d\d seconds)");

TEST(CliExec, OneTransactionIsLoggedAsTheStationLogsIt) {
    SimProcess sim;
    ASSERT_TRUE(sim.started());
    const CliRun run = sim.cli({"exec", "--port", "SIM0", "--color", "never", "74"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const auto lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 4u) << run.out;
    EXPECT_EQ(lines[0], "-> 74,\"\"");
    EXPECT_TRUE(std::regex_match(lines[1], std::regex(R"(<- \[[0-9A-F]{2}(,[0-9A-F]{2}){5}\]\(0,0\),".*")")))
        << lines[1];
    EXPECT_TRUE(std::regex_match(lines[2], kElapsed)) << lines[2];
    EXPECT_EQ(lines[3], "");
}

TEST(CliExec, PortByPathAndSavedPort) {
    SimProcess sim;
    ASSERT_TRUE(sim.started());
    EXPECT_EQ(sim.cli({"exec", "--port", QString::fromStdString(sim.port()), "74"}).exitCode, 0);

    // Without --port the station's saved choice is used: point it at the simulator.
    const auto ports = Lines(sim.cli({"ports"}).out);
    ASSERT_FALSE(ports.empty());
    const QString config = sim.environment().value("XDG_CONFIG_HOME") + "/ZORMIK";
    ASSERT_TRUE(QDir().mkpath(config));
    {
        QSettings store(config + "/ZORMIK Tamrisk.conf", QSettings::IniFormat);
        store.setValue("SerialPort", static_cast<int>(ports.size()) - 1);
        store.setValue("Bauds", 7);
    }
    const CliRun saved = sim.cli({"exec", "74"});
    EXPECT_EQ(saved.exitCode, 0) << saved.err;
    EXPECT_EQ(Lines(saved.out).at(0), "-> 74,\"\"");
}

TEST(CliExec, AnswerColourAndExitFollowTheOutcome) {
    struct Case {
        const char* what;
        QStringList simOptions;
        QStringList args;
        int exitCode;
        const char* answerPattern;
        const char* colour;
    };
    const std::vector<Case> cases = {
        {"clean", {}, {"90"}, 0, R"(<- \[.*\]\(0,0\),".*")", "\x1b[32m"},
        {"busy printer", {"--syn", "3"}, {"90"}, 0, R"(<- \[.*\]\(0,3\),".*")", "\x1b[32m"},
        {"printer error", {"--status", "48=21,02,00,00,00,00"}, {"48"}, 1, R"(<- \[21,02,00,00,00,00\]\(0,0\),"")",
         "\x1b[31m"},
        {"malformed answers", {"--fault-rate", "1", "--faults", "checksum", "--seed", "7"}, {"90"}, 1,
         R"(<- \[.*\]\(2,0\),".*")", "\x1b[31m"},
        {"wrong sequence byte", {"--fault-rate", "1", "--faults", "sequence", "--seed", "7"}, {"90"}, 1,
         R"(<- \[00,00,00,00,00,00\]\(2,0\),"")", "\x1b[31m"},
    };
    for (const Case& c : cases) {
        SimProcess sim(c.simOptions);
        ASSERT_TRUE(sim.started()) << c.what;
        const CliRun run = sim.cli(QStringList{"exec", "--port", "SIM0", "--color", "always"} + c.args);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.what << "\n" << run.err;
        const auto lines = Lines(run.out);
        ASSERT_EQ(lines.size(), 4u) << c.what << "\n" << run.out;
        EXPECT_EQ(lines[0].rfind("\x1b[34m-> ", 0), 0u) << c.what;
        const std::string answer = lines[1];
        EXPECT_EQ(answer.rfind(c.colour, 0), 0u) << c.what << ": " << answer;
        const std::string plain = std::regex_replace(answer, std::regex("\x1b\\[[0-9;]*m"), "");
        EXPECT_TRUE(std::regex_match(plain, std::regex(c.answerPattern))) << c.what << ": " << plain;
    }
}

TEST(CliExec, SilentPrinterTimesOutTwiceAndTheQuestionIsAnsweredNo) {
    SimProcess sim({"--fault-rate", "1", "--faults", "noanswer", "--seed", "1"});
    ASSERT_TRUE(sim.started());
    const CliRun run = sim.cli({"exec", "--port", "SIM0", "--color", "never", "90"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(Lines(run.out).at(1), "<- [00,00,00,00,00,00](2,0),\"\"");
    EXPECT_NE(run.err.find("No printer serponse. Retry?"), std::string::npos) << run.err;
}

TEST(CliExec, DataIsSentAsWindows1251AndLoggedAsWritten) {
    SimProcess sim;
    ASSERT_TRUE(sim.started());
    const CliRun run = sim.cli({"exec", "--port", "SIM0", "--color", "never", "--", "90", "-Тест\\tA"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(Lines(run.out).at(0), "-> 90,\"-Тест\\tA\"");
}

TEST(CliExec, UsageAndPortErrorsExitWithTwo) {
    SimProcess sim;
    ASSERT_TRUE(sim.started());
    const std::vector<QStringList> cases = {
        {"exec", "--port", "SIM0", "31"},
        {"exec", "--port", "SIM0", "256"},
        {"exec", "--port", "SIM0", "4x"},
        {"exec", "--port", "SIM0"},
        {"exec", "--port", "SIM0", "90", "a", "b"},
        {"exec", "--port", "SIM0", "--color", "pink", "90"},
        {"exec", "--port", "SIM0", "--speed", "fast", "90"},
        {"exec", "--port", "NOSUCH", "90"},
        {"exec", "--port", "/dev/nonexistent-tty", "90"},
        {"exec", "--port", "SIM0", "90", "\u4e2d"},  // no such character in Windows-1251
        {"exec", "--bogus", "90"},
        {"frobnicate"},
        {},
    };
    for (const QStringList& args : cases) {
        const CliRun run = sim.cli(args);
        EXPECT_EQ(run.exitCode, 2) << args.join(' ').toStdString() << "\n" << run.out;
        EXPECT_TRUE(run.out.empty()) << args.join(' ').toStdString();
    }
}

TEST(CliExec, BlanksBeforeTheCommandAndALongFrameAtLowSpeed) {
    SimProcess sim({"--baud", "1200"});
    ASSERT_TRUE(sim.started());
    // 219 data bytes make a 229-byte frame: 1.9 s on the wire at 1200 bit/s.
    const QString data(219, 'x');
    const CliRun run = sim.cli({"exec", "--port", "SIM0", "--speed", "1200", "--color", "never", " 90", data});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(Lines(run.out).at(1), "<- [00,00,00,00,00,3A](0,0),\"\"") << run.out;
}

TEST(CliExec, APortThatCannotBeOpenedIsReportedWithTheSystemsReason) {
    SimProcess sim;
    ASSERT_TRUE(sim.started());
    const CliRun run = sim.cli({"exec", "--port", "/dev/nonexistent-tty", "90"});
    EXPECT_EQ(run.exitCode, 2);
    const auto lines = Lines(run.err);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0].rfind("Error: Can't open serial port: ", 0), 0u) << run.err;
    EXPECT_GT(lines[0].size(), std::string("Error: Can't open serial port: ").size());
}

TEST(CliPorts, ListsTheSimulatorsPortAfterTheSystemPorts) {
    SimProcess sim;
    ASSERT_TRUE(sim.started());
    const CliRun run = sim.cli({"ports"});
    EXPECT_EQ(run.exitCode, 0);
    const auto lines = Lines(run.out);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "SIM0");
}

TEST(CliPorts, LongListingTellsEachPortsDetailsTabSeparated) {
    SimProcess sim;
    ASSERT_TRUE(sim.started());
    const auto names = Lines(sim.cli({"ports"}).out);
    const CliRun run = sim.cli({"ports", "--long"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const auto lines = Lines(run.out);
    ASSERT_EQ(lines.size(), names.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        // name, description, manufacturer, serial number, stable path
        EXPECT_EQ(std::count(lines[i].begin(), lines[i].end(), '\t'), 4) << lines[i];
        EXPECT_EQ(lines[i].substr(0, lines[i].find('\t')), names[i]);
    }
    // The simulator's port is a link of its own; the system reports nothing of it.
    EXPECT_EQ(lines.back(), "SIM0\t\t\t\t");

    const CliRun wrong = sim.cli({"ports", "--wide"});
    EXPECT_EQ(wrong.exitCode, 2);
    EXPECT_NE(wrong.err.find("ports takes no arguments but --long"), std::string::npos) << wrong.err;
}

// A port given or saved as a stable link opens the device it leads to; a saved
// link that leads nowhere is tried as it is, and the system's reason told.
TEST(CliExec, PortGivenOrSavedAsAStableLink) {
    SimProcess sim;
    ASSERT_TRUE(sim.started());
    QTemporaryDir byId;
    const QString stable = byId.filePath("usb-Tamrisk_Printer_SIM0-if00");
    ASSERT_TRUE(QFile::link(QString::fromStdString(sim.port()), stable));
    const QString config = sim.environment().value("XDG_CONFIG_HOME") + "/ZORMIK";
    ASSERT_TRUE(QDir().mkpath(config));
    struct Case {
        const char* what;
        QString saved;
        QStringList args;
        int exitCode;
        const char* err;
    };
    const std::vector<Case> cases = {
        {"given", "", {"exec", "--port", stable, "74"}, 0, ""},
        {"saved", stable, {"exec", "74"}, 0, ""},
        {"saved, leading nowhere", byId.filePath("usb-Unplugged-if00"), {"exec", "74"}, 2,
         "Error: Can't open serial port: "},
    };
    for (const Case& c : cases) {
        {
            QSettings store(config + "/ZORMIK Tamrisk.conf", QSettings::IniFormat);
            store.clear();
            if (!c.saved.isEmpty())
                store.setValue("SerialPort", c.saved);
        }
        const CliRun run = sim.cli(c.args);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.what << ": " << run.err;
        EXPECT_EQ(run.err.rfind(c.err, 0), 0u) << c.what << ": " << run.err;
        if (c.exitCode == 0) {
            EXPECT_EQ(Lines(run.out).at(0), "-> 74,\"\"") << c.what;
        }
    }
}

}  // namespace
}  // namespace tamrisk::testing
