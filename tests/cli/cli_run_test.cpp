// tamrisk-cli run against tamrisk-sim over a pseudo-terminal.

#include "simprocess.h"
#include "testfiles.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <QElapsedTimer>
#include <QTemporaryDir>

#include <csignal>
#include <regex>
#include <sstream>

namespace tamrisk::testing {
namespace {

int Count(const std::vector<std::string>& lines, const std::string& prefix) {
    int n = 0;
    for (const auto& line : lines)
        n += line.rfind(prefix, 0) == 0;
    return n;
}

// A script file in a temporary folder, written as Windows-1251 bytes with CR LF.
class ScriptFile {
public:
    explicit ScriptFile(const std::vector<std::string>& lines) : m_path(m_dir.filePath("test.inp")) {
        std::string bytes;
        for (const auto& line : lines)
            bytes += line + "\r\n";
        Write(bytes);
    }
    void Write(const std::string& bytes) { EXPECT_TRUE(WriteFileBytes(m_path, bytes)); }
    std::string Read() const { return ReadFileBytes(m_path).toStdString(); }
    QString path() const { return m_path; }

private:
    QTemporaryDir m_dir;
    QString m_path;
};


TEST(CliRun, TheDemoShowsEveryLineKind) {
    SimProcess sim;
    ASSERT_TRUE(sim.started());
    const CliRun run = sim.cli({"run", "--port", "SIM0", "--color", "never", Example("demo.inp")});
    EXPECT_EQ(run.exitCode, 1) << run.err;  // it ends with two red lines on purpose
    const auto lines = Lines(run.out);
    EXPECT_EQ(Count(lines, "-> "), 9) << run.out;
    EXPECT_EQ(Count(lines, "<- "), 9);
    EXPECT_EQ(Count(lines, "## Wait 1500 milliseconds ..."), 1);
    EXPECT_EQ(Count(lines, "## Wait 1 seconds ..."), 1);
    EXPECT_EQ(Count(lines, "$$ Set RTC using PC clock: "), 1);
    EXPECT_EQ(Count(lines, "** Repeating "), 3);
    EXPECT_EQ(Count(lines, "!! "), 1);
    EXPECT_EQ(Count(lines, "** Invalid repeat command (*2,Missing)"), 1);
    EXPECT_EQ(Count(lines, "-> 90,\"Ред 1\\tколона 2\""), 1);
    EXPECT_TRUE(std::regex_match(lines.at(lines.size() - 2), std::regex(R"(Script execution time \d+\.\d\d seconds)")));
    EXPECT_EQ(lines.back(), "");
    EXPECT_NE(run.err.find("Message: Демонстрационен скрипт.\nPress OK to start."), std::string::npos) << run.err;
}

TEST(CliRun, WriteBackSavesAdvancedSerialNumbersOnly) {
    SimProcess sim;
    ASSERT_TRUE(sim.started());
    const std::vector<std::string> script = {"@Serials \xD1\xE5\xF0\xE8\xE8", "*3,Next", "+1;91,DT000100\tfirst",
                                             "#20", ":Next"};
    struct Case {
        QStringList options;
        std::string expectedLine;
    };
    for (const Case& c : {Case{{"--write-back"}, "+1;91,DT000103\tfirst"}, Case{{}, "+1;91,DT000100\tfirst"},
                          Case{{"--lines", "2-5"}, "+1;91,DT000100\tfirst"}}) {
        ScriptFile file(script);
        const std::string before = file.Read();
        const CliRun run =
            sim.cli(QStringList{"run", "--port", "SIM0", "--color", "never"} + c.options + QStringList{file.path()});
        EXPECT_EQ(run.exitCode, 0) << run.err;
        const auto lines = Lines(run.out);
        EXPECT_EQ(Count(lines, "-> 91,\"DT000100\""), 1);
        EXPECT_EQ(Count(lines, "-> 91,\"DT000102\""), 1);
        std::string expected = before;
        expected.replace(expected.find("+1;91,DT000100\tfirst"), script[2].size(), c.expectedLine);
        EXPECT_EQ(file.Read(), expected) << c.options.join(' ').toStdString();
    }
}

TEST(CliRun, LineRangeRunsACopyOfTheSelectedLines) {
    SimProcess sim;
    ASSERT_TRUE(sim.started());
    ScriptFile file({"90,one", "90,two", "90,three", "90,four"});
    const CliRun run = sim.cli({"run", "--port", "SIM0", "--lines", "2-3", file.path()});
    EXPECT_EQ(run.exitCode, 0);
    const auto lines = Lines(run.out);
    EXPECT_EQ(Count(lines, "-> "), 2);
    EXPECT_EQ(lines.at(0), "-> 90,\"two\"");
    EXPECT_EQ(sim.cli({"run", "--port", "SIM0", "--lines", "4-9", file.path()}).exitCode, 0);
}

TEST(CliRun, PrinterErrorIsRedAndLeavesTheSerialNumber) {
    SimProcess sim({"--status", "91=20,00,00,00,00,00"});
    ASSERT_TRUE(sim.started());
    ScriptFile file({"+1;91,DT000100", "90"});
    const std::string before = file.Read();
    const CliRun run = sim.cli({"run", "--port", "SIM0", "--color", "always", "--write-back", file.path()});
    EXPECT_EQ(run.exitCode, 1);
    const auto lines = Lines(run.out);
    EXPECT_EQ(lines.at(1), "\x1b[31m<- [20,00,00,00,00,00](0,0),\"\"\x1b[0m");
    EXPECT_EQ(lines.at(2), "\x1b[34m-> 90,\"\"\x1b[0m");  // the run goes on
    EXPECT_EQ(file.Read(), before);
}

TEST(CliRun, SilentPrinterTimesOutAndTheRunGoesOn) {
    SimProcess sim({"--fault-rate", "1", "--faults", "noanswer"});
    ASSERT_TRUE(sim.started());
    ScriptFile file({"+1;91,DT000100", "!comment"});
    const CliRun run = sim.cli({"run", "--port", "SIM0", "--write-back", file.path()});
    EXPECT_EQ(run.exitCode, 1);
    const auto lines = Lines(run.out);
    EXPECT_EQ(lines.at(1), "<- [00,00,00,00,00,00](2,0),\"\"");
    EXPECT_EQ(lines.at(2), "!! !comment");
    EXPECT_NE(run.err.find("No printer serponse. Retry? No"), std::string::npos);
    // The printer may have carried the command out: the number is not handed out again.
    EXPECT_EQ(file.Read(), "+1;91,DT000101\r\n!comment\r\n");
}

TEST(CliRun, RetryAnswersYesToTheFirstQuestionsOfEachLine) {
    SimProcess sim({"--fault-rate", "1", "--faults", "checksum"});
    ASSERT_TRUE(sim.started());
    ScriptFile file({"90,a", "90,b"});
    const CliRun run = sim.cli({"run", "--port", "SIM0", "--retry", "2", file.path()});
    EXPECT_EQ(run.exitCode, 1);
    const auto lines = Lines(run.out);
    // Each line: sent, resent twice after Yes, then No.
    EXPECT_EQ(Count(lines, "-> 90,\"a\""), 3);
    EXPECT_EQ(Count(lines, "-> 90,\"b\""), 3);
    EXPECT_EQ(Count(Lines(run.err), "Error: Bad protocol. Retry? Yes"), 4);
    EXPECT_EQ(Count(Lines(run.err), "Error: Bad protocol. Retry? No"), 2);
}

TEST(CliRun, SignalCancelsTheRun) {
    SimProcess sim;
    ASSERT_TRUE(sim.started());
    ScriptFile file({"90", "^waiting now", "#10000", "91"});
    QProcess cli;
    cli.setProcessEnvironment(sim.environment());
    cli.start(TAMRISK_CLI_PATH, {"run", "--port", "SIM0", file.path()});
    ASSERT_TRUE(cli.waitForStarted(5000));
    // The message goes to stderr at once: from then on the run is in its long wait.
    cli.setReadChannel(QProcess::StandardError);
    while (!cli.canReadLine() && cli.state() == QProcess::Running)
        cli.waitForReadyRead(5000);
    EXPECT_EQ(cli.readLine().toStdString(), "Message: waiting now\n");
    ::kill(static_cast<pid_t>(cli.processId()), SIGINT);
    ASSERT_TRUE(cli.waitForFinished(5000));
    EXPECT_EQ(cli.exitCode(), 130);
    const auto lines = Lines(cli.readAllStandardOutput().toStdString());
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines.at(lines.size() - 3), "Script cancelled !!!");
    EXPECT_EQ(Count(lines, "-> 91"), 0);
}

TEST(CliRun, RunsThatCannotStartExitWithTwo) {
    SimProcess sim;
    ASSERT_TRUE(sim.started());
    ScriptFile file({"90"});
    const std::vector<QStringList> cases = {
        {"run", "--port", "SIM0", "/nonexistent/script.inp"},
        {"run", "--port", "SIM0"},
        {"run", "--port", "SIM0", file.path(), file.path()},
        {"run", "--port", "SIM0", "--lines", "3-2", file.path()},
        {"run", "--port", "SIM0", "--lines", "2", file.path()},
        {"run", "--port", "SIM0", "--lines", "5-6", file.path()},
        {"run", "--port", "SIM0", "--lines", "1-1", "--write-back", file.path()},
        {"run", "--port", "SIM0", "--retry", "-1", file.path()},
        {"run", "--port", "/nonexistent/tty", file.path()},
    };
    for (const QStringList& args : cases) {
        const CliRun run = sim.cli(args);
        EXPECT_EQ(run.exitCode, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(run.out.empty()) << args.join(' ').toStdString();
    }
}

// The printer goes away while a command waits for its answer or a script
// waits: the CLI ends at once with exit 2 and one message, without time-outs,
// retry questions or a request line for a frame it did not send.
TEST(CliLostPort, ARunAndACommandEndAtOnceWithExitTwo) {
    struct Case {
        const char* what;
        QStringList args;
        const char* firstOut;
        const char* lastLine;
    };
    ScriptFile file({"90,a", "+1;90,N5", "90,c"});
    ScriptFile waiting({"#10000", "74"});
    const std::vector<Case> cases = {
        {"exec", {"exec", "--port", "SIM0", "--color", "never", "90"}, "-> ", "<- [00,00,00,00,00,00](0,0),\"\""},
        {"run", {"run", "--port", "SIM0", "--color", "never", file.path()}, "-> ", "Serial port lost !!!"},
        {"wait", {"run", "--port", "SIM0", "--color", "never", waiting.path()}, "## ", "Serial port lost !!!"},
    };
    for (const Case& c : cases) {
        SimProcess sim({"--delay", "1500"});
        ASSERT_TRUE(sim.started());
        QProcess cli;
        sim.startCli(cli, c.args);
        // The request line reaches the pipe while the answer is still awaited.
        ASSERT_TRUE(cli.waitForReadyRead(3000)) << c.what;
        EXPECT_EQ(cli.peek(3).toStdString(), c.firstOut) << c.what;
        QElapsedTimer clock;
        clock.start();
        sim.stop();
        ASSERT_TRUE(cli.waitForFinished(10000)) << c.what;
        EXPECT_LT(clock.elapsed(), 1500) << c.what;  // no 2 s gap, no second attempt
        EXPECT_EQ(cli.exitCode(), 2) << c.what;
        const std::string out = cli.readAllStandardOutput().toStdString();
        const std::string err = cli.readAllStandardError().toStdString();
        EXPECT_EQ(Lines(err).size(), 1u) << c.what << "\n" << err;
        EXPECT_EQ(err.rfind("Error: Serial port lost: ", 0), 0u) << c.what << "\n" << err;
        const auto lines = Lines(out);
        ASSERT_GE(lines.size(), 2u) << c.what << "\n" << out;
        const auto last = std::find(lines.begin(), lines.end(), c.lastLine);
        EXPECT_NE(last, lines.end()) << c.what << "\n" << out;
        EXPECT_EQ(std::find(lines.begin(), lines.end(), "-> 74,\"\""), lines.end()) << c.what << "\n" << out;
    }
}

}  // namespace
}  // namespace tamrisk::testing
