// tamrisk-cli read-code, read-fiscal and read-journal-bin against tamrisk-sim
// over a pseudo-terminal; images compared with the printer model's memories.

#include "printermodel.h"
#include "simprocess.h"
#include "testfiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <csignal>
#include <sys/resource.h>
#include <cstdio>

namespace tamrisk::testing {
namespace {

std::string Bytes(const std::vector<std::uint8_t>& memory) { return {memory.begin(), memory.end()}; }

std::string LastLine(const std::string& text) {
    const auto lines = Lines(text);
    return lines.empty() ? std::string() : lines.back();
}

// The journal's raw blocks from `start` as the printer serves them: the part of
// the last block past the written journal reads as erased memory (0xFF).
std::string JournalFrom(std::size_t start) {
    const sim::PrinterModel model;
    const std::string& stored = model.Journal().Stored();
    if (start >= stored.size())
        return {};
    std::string bytes = stored.substr(start);
    bytes.resize((bytes.size() + 63) / 64 * 64, '\xFF');
    return bytes;
}

class CliReaders : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString file = dir.filePath("image.bin");
};

TEST_F(CliReaders, CodeMemoryIsReadWholeWithItsDump) {
    SimProcess sim;
    ASSERT_TRUE(sim.started());
    const CliRun run = sim.cli({"read-code", "--port", "SIM0", "--dump", "-o", file});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(ReadFileBytes(file).toStdString(), Bytes(sim::PrinterModel().CodeMemory()));
    const auto lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 12288u);
    for (std::size_t n = 0; n < lines.size(); ++n) {
        char address[8];
        std::snprintf(address, sizeof address, "%05zX ", n * 16);
        ASSERT_EQ(lines[n].substr(0, 6), address) << "line " << n;
    }
    EXPECT_EQ(lines.back().substr(0, 5), "2FFF0");
    EXPECT_EQ(LastLine(run.err), "196608 bytes read, every block");
}

TEST_F(CliReaders, FiscalMemoryHasTheSizeItsFirstBlockGives) {
    for (const int kib : {64, 256}) {
        SimProcess sim({"--fm-size", QString::number(kib)});
        ASSERT_TRUE(sim.started());
        const CliRun run = sim.cli({"read-fiscal", "--port", "SIM0", "-o", file});
        EXPECT_EQ(run.exitCode, 0) << run.err;
        const std::string image = ReadFileBytes(file).toStdString();
        EXPECT_EQ(image.size(), static_cast<std::size_t>(kib) * 1024);
        EXPECT_EQ(image, Bytes(sim::PrinterModel(sim::SimOptions{.fiscalMemoryKiB = kib}).FiscalMemory())) << kib;
    }
}

TEST_F(CliReaders, RefusedAndFailedReads) {
    struct Case {
        QString command, status;
        bool fileWritten;
        std::string errHas;
    };
    const std::vector<Case> cases = {
        {"read-code", "74=02,00,00,00,00,00", false, "Nothing read: the printer refused the readiness probe"},
        {"read-fiscal", "74=00,02,00,00,00,00", false, "Nothing read: the printer refused the readiness probe"},
        // Every block and the tail refused with common fiscal error: nothing stored.
        {"read-code", "121=21,00,00,00,20,00", true,
         "<- [21,00,00,00,20,00](0,0),\"\"\nStatus: Syntax error, Common error, Common fiscal error\n"
         "0 bytes read, the read of block 0 of 3072 failed, the tail brought nothing\n"},
        {"read-fiscal", "116=00,02,00,00,20,00", true,
         "Status: Command not permitted, Common fiscal error\n"
         "0 bytes read, the read of block 0 of 2048 failed, the tail brought nothing\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command.toStdString() + " " + c.status.toStdString());
        QFile::remove(file);
        SimProcess sim({"--status", c.status});
        ASSERT_TRUE(sim.started());
        const CliRun run = sim.cli({c.command, "--port", "SIM0", "-o", file});
        EXPECT_EQ(run.exitCode, 1) << run.err;
        EXPECT_NE(run.err.find(c.errHas), std::string::npos) << run.err;
        EXPECT_EQ(QFile::exists(file), c.fileWritten);
        EXPECT_EQ(QFile(file).size(), 0);
    }
}

TEST_F(CliReaders, SignalCancelsAfterTheBlockInFlight) {
    SimProcess sim({"--baud", "115200"});  // a full read would take about 45 s
    ASSERT_TRUE(sim.started());
    QProcess cli;
    sim.startCli(cli, {"read-code", "--port", "SIM0", "--dump", "-o", file});
    // The first dump lines show the blocks have begun.
    ASSERT_TRUE(cli.waitForReadyRead(10000));
    ::kill(static_cast<pid_t>(cli.processId()), SIGINT);
    ASSERT_TRUE(cli.waitForFinished(10000));
    EXPECT_EQ(cli.exitCode(), 130);
    const std::string image = ReadFileBytes(file).toStdString();
    ASSERT_GT(image.size(), 0u);
    ASSERT_LT(image.size(), 196608u);
    EXPECT_EQ(image.size() % 64, 0u);  // no tail read
    EXPECT_EQ(image, Bytes(sim::PrinterModel().CodeMemory()).substr(0, image.size()));
    EXPECT_EQ(Lines(cli.readAllStandardOutput().toStdString()).size(), image.size() / 16);
    EXPECT_EQ(LastLine(cli.readAllStandardError().toStdString()),
              std::to_string(image.size()) + " bytes read, cancelled");
}

TEST_F(CliReaders, JournalIsCopiedFromItsStartOverALongerFile) {
    SimProcess sim;
    ASSERT_TRUE(sim.started());
    const std::size_t end = sim::PrinterModel().Journal().Stored().size();
    const std::vector<std::pair<QStringList, std::size_t>> cases = {
        {{}, 0}, {{"--start", "4A00"}, 0x4A00}, {{"--start="}, 0}, {{"--start", "FFFFFFFFF"}, end}};
    for (const auto& [start, address] : cases) {
        SCOPED_TRACE(start.join(' ').toStdString());
        ASSERT_TRUE(WriteFileBytes(file, QByteArray(64 * 1024, 'x')));
        const CliRun run = sim.cli(QStringList{"read-journal-bin", "--port", "SIM0", "-o", file} + start);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(ReadFileBytes(file).toStdString(), JournalFrom(address));
        EXPECT_NE(LastLine(run.err).find("the journal has no more data"), std::string::npos) << run.err;
    }
}

// Past a file size limit the image's write fails and is reported; the
// limit's signal does not end tamrisk-cli without a word.
TEST_F(CliReaders, AFileSizeLimitIsReportedAsAFailedWrite) {
    SimProcess sim({"--fm-size", "64"});
    ASSERT_TRUE(sim.started());
    QProcess cli;
    cli.setProcessEnvironment(sim.environment());
    // The limit and SIGXFSZ's default action for the child only.
    cli.setChildProcessModifier([] {
        const rlimit limit{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ::signal(SIGXFSZ, SIG_DFL);
    });
    cli.start(TAMRISK_CLI_PATH, {"read-fiscal", "--port", "SIM0", "-o", file});
    ASSERT_TRUE(cli.waitForFinished(60000));
    const std::string err = cli.readAllStandardError().toStdString();
    ASSERT_EQ(cli.exitStatus(), QProcess::NormalExit) << err;
    EXPECT_EQ(cli.exitCode(), 1);
    EXPECT_NE(err.find("Error: Can't write output file: " + file.toStdString() + ": "), std::string::npos) << err;
    EXPECT_FALSE(QFile::exists(file));
}

TEST_F(CliReaders, UsageAndPortErrorsExitWithTwo) {
    SimProcess sim;
    ASSERT_TRUE(sim.started());
    const std::vector<std::pair<QStringList, std::string>> cases = {
        {{"read-code", "--port", "SIM0"}, "read-code needs -o FILE"},
        {{"read-fiscal", "--port", "SIM0", "-o"}, "option --output needs a value"},
        {{"read-code", "--port", "SIM0", "-o", file, "extra"}, "takes no argument"},
        {{"read-fiscal", "--port", "SIM0", "--start", "0", "-o", file}, "unknown option --start"},
        {{"read-journal-bin", "--port", "SIM0"}, "read-journal-bin needs -o FILE"},
        {{"read-journal-bin", "--port", "SIM0", "--dump", "-o", file}, "unknown option --dump"},
        {{"read-journal-bin", "--port", "SIM0", "--start", "1a2b", "-o", file}, "Invalid start address"},
        {{"read-journal-bin", "--port", "SIM0", "--start", "1234567890", "-o", file}, "Invalid start address"},
        {{"read-code", "--port", "/nonexistent/tty", "-o", file}, "Can't open serial port"},
        // FILE is tried before the read, which would take up to a minute.
        {{"read-code", "--port", "SIM0", "-o", dir.filePath("missing/image.bin")},
         "cannot write " + dir.filePath("missing/image.bin").toStdString() + ": "},
        {{"read-fiscal", "--port", "SIM0", "-o", dir.path()}, "cannot write " + dir.path().toStdString() + ": "},
    };
    for (const auto& [args, message] : cases) {
        SCOPED_TRACE(args.join(' ').toStdString());
        const CliRun run = sim.cli(args);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
        // Nothing left behind, not even the trial's temporary file.
        EXPECT_TRUE(QDir(dir.path()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    }
}

}  // namespace
}  // namespace tamrisk::testing
