// tamrisk-cli journal against tamrisk-sim over a pseudo-terminal: the lines
// read and saved, every day's digest against the printer's, check, info and
// print, Cancel by signal and the usage errors.

#include "journalformat.h"
#include "printermodel.h"
#include "simprocess.h"
#include "testfiles.h"
#include "textcodec.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QTemporaryDir>

#include <algorithm>
#include <csignal>
#include <regex>

namespace tamrisk::testing {
namespace {

std::string JournalLastLine(const std::string& text) {
    const auto lines = Lines(text);
    return lines.empty() ? std::string() : lines.back();
}

bool IsDoneStatus(const std::string& line, std::size_t documents) {
    return std::regex_match(line, std::regex(std::to_string(documents) + " documents?, [0-9]+\\.[0-9]{2} seconds"));
}

class CliJournal : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(sim.started()); }
    CliRun Journal(const QStringList& args) const { return sim.cli(QStringList{"journal"} + args); }
    CliRun OnPort(const QString& action, const QStringList& args) const {
        return Journal(QStringList{action, "--port", "SIM0"} + args);
    }

    SimProcess sim;
    sim::PrinterModel model;
    const sim::JournalBook& book = model.Journal().Book();
    QTemporaryDir dir;
    QString file = dir.filePath("journal.txt");
};

TEST_F(CliJournal, ReadsPrintAndSaveWhatTheViewHolds) {
    std::string all;
    for (const auto& document : book.documents)
        for (const std::string& line : document.lines)
            all += Cp1251ToUtf8(line) + "\n";
    struct Case {
        QString query;
        int exitCode;
        std::string out, file, errLast;  // errLast empty: the done status
        std::size_t documents;
    };
    const std::vector<Case> cases = {
        {"A", 0, all, model.Journal().Stored(), "", book.documents.size()},
        {"Z1", 0, "", "", "", 0},  // on record without journal text: the first answer is "F"
        {"K1", 1, "", "old", "Error: Invalid input data", 0},  // a refused read leaves the file alone
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.query.toStdString());
        ASSERT_TRUE(WriteFileBytes(file, "old"));
        const CliRun run = OnPort("read", {"-o", file, c.query});
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        EXPECT_EQ(run.out, c.out);
        EXPECT_EQ(ReadFileBytes(file).toStdString(), c.file);
        if (c.errLast.empty())
            EXPECT_TRUE(IsDoneStatus(JournalLastLine(run.err), c.documents)) << run.err;
        else
            EXPECT_EQ(JournalLastLine(run.err), c.errLast);
    }
    for (const auto& [args, documents] : std::vector<std::pair<QStringList, std::size_t>>{
             {{"Z3"}, 6}, {{"--large", "Z3"}, 6}, {{"--large", "Z1"}, 0}}) {
        const CliRun run = OnPort("print", args);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_TRUE(IsDoneStatus(JournalLastLine(run.err), documents)) << args.join(' ').toStdString() << run.err;
    }
}

TEST_F(CliJournal, DigestOfEveryZReportDayEqualsThePrinters) {
    for (int z = 3; z <= 8; ++z) {
        SCOPED_TRACE(z);
        const QString query = "Z" + QString::number(z);
        ASSERT_EQ(OnPort("read", {"-o", file, query}).exitCode, 0);
        const CliRun ours = Journal({"sha1", file});
        const CliRun check = OnPort("check", {query});
        const auto lines = Lines(check.out);
        ASSERT_FALSE(lines.empty()) << check.err;
        const bool altered = z == 5;  // changed after its digest was recorded
        EXPECT_EQ(check.exitCode, altered ? 3 : 0);
        EXPECT_EQ(lines.front(), altered ? JournalDigestMismatch : "Journal SHA-1 correct");
        const std::string label = altered ? "SHA-1 (Calculated): " : "SHA-1: ";
        EXPECT_EQ(lines.back().substr(0, label.size()), label);
        EXPECT_EQ(ours.out, "SHA-1: " + lines.back().substr(label.size()) + "\n") << ours.err;
        EXPECT_TRUE(std::regex_match(JournalLastLine(check.err), std::regex("[0-9]\\.[0-9]{3} секунди"))) << check.err;
    }
}

TEST_F(CliJournal, CheckRecordsAndInfoLines) {
    const auto& z3 = book.zReports[2];
    const std::string raw = model.Execute(119, "C,X3").data;  // P,3,<document>,<date and time>,...
    const std::string madeAt = raw.substr(raw.find(',', 4) + 1, 17);
    const std::vector<std::pair<QString, std::vector<std::string>>> cases = {
        {"R3",
         {"Z-report document number: " + std::to_string(z3.documentNumber), "Z-report data and time: " + madeAt,
          "Z-report SHA-1: " + z3.recordedSha1}},
        {"X3", {raw}},
        {"r3", {}},  // a lower-case letter: only the time
    };
    for (const auto& [query, expected] : cases) {
        const CliRun run = OnPort("check", {query});
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(Lines(run.out), expected) << query.toStdString();
    }
    const CliRun info = OnPort("info", {});
    EXPECT_EQ(info.exitCode, 0) << info.err;
    EXPECT_EQ(Lines(info.out), InfoAnswerLines(model.Execute(119, "I").data).value());
}

TEST_F(CliJournal, SignalCancelsTheReadWithoutTheAnswerInFlight) {
    SimProcess slow({"--delay", "40"});  // about 20 s for the whole journal
    ASSERT_TRUE(slow.started());
    QProcess cli;
    slow.startCli(cli, {"journal", "read", "--port", "SIM0", "-o", file, "A"});
    cli.setReadChannel(QProcess::StandardError);
    std::string err;
    while (err.find("1 document\n") == std::string::npos && cli.waitForReadyRead(10000))
        err += cli.readAllStandardError().toStdString();
    ::kill(static_cast<pid_t>(cli.processId()), SIGINT);
    ASSERT_TRUE(cli.waitForFinished(10000));
    err += cli.readAllStandardError().toStdString();
    EXPECT_EQ(cli.exitCode(), 130) << err;

    std::vector<bool> ends;  // journal line i ends a document
    for (const auto& document : book.documents) {
        ends.insert(ends.end(), document.lines.size() - 1, false);
        ends.push_back(true);
    }
    const std::string saved = ReadFileBytes(file).toStdString();
    const std::size_t added = Lines(cli.readAllStandardOutput().toStdString()).size();
    ASSERT_LT(added, ends.size());
    EXPECT_EQ(saved, model.Journal().Stored().substr(0, saved.size()));
    EXPECT_EQ(static_cast<std::size_t>(std::count(saved.begin(), saved.end(), '\n')), added);
    // Line `added` was in flight: counted when it ends a document, not added. Line 0 never counts.
    EXPECT_TRUE(IsDoneStatus(JournalLastLine(err), std::count(ends.begin() + 1, ends.begin() + added + 1, true))) << err;
}

TEST_F(CliJournal, Sha1SelectsWholeLinesAsHeld) {
    ASSERT_TRUE(WriteFileBytes(file, "one\ntwo\r\n\rthree"));  // LF, CR LF, an empty line ended by CR, no final ending
    for (const auto& [lines, bytes] : std::vector<std::pair<QStringList, std::string>>{
             {{}, "one\r\ntwo\r\n\r\nthree"}, {{"--lines", "2-2"}, "two\r\n"}, {{"--lines=3-4"}, "\r\nthree"}}) {
        const CliRun run = Journal(QStringList{"sha1"} + lines + QStringList{file});
        const QByteArray digest = QCryptographicHash::hash(QByteArray::fromStdString(bytes), QCryptographicHash::Sha1);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.out, "SHA-1: " + digest.toHex().toUpper().toStdString() + "\n") << lines.join(' ').toStdString();
    }
}

TEST_F(CliJournal, UsageErrorsSendNothing) {
    ASSERT_TRUE(WriteFileBytes(file, "one\r\ntwo\r\n"));
    const QString empty = dir.filePath("empty.txt");
    ASSERT_TRUE(WriteFileBytes(empty, ""));
    // An unopenable port: a command that got as far as the link would say so.
    const QStringList port = {"--port", "/nonexistent/tty"};
    const std::vector<std::pair<QStringList, std::string>> cases = {
        {QStringList{"read"} + port + QStringList{" \t "}, "journal read: QUERY is blank"},
        {QStringList{"check"} + port + QStringList{""}, "journal check: QUERY is blank"},
        {QStringList{"read"} + port + QStringList{QString(218, 'A')}, "Query too long (218 characters, at most 217)"},
        {QStringList{"print"} + port + QStringList{QString(217, 'A')}, "Query too long (217 characters, at most 216)"},
        {QStringList{"check"} + port + QStringList{"Z日"}, "QUERY holds a character that Windows-1251 cannot carry"},
        {QStringList{"info"} + port + QStringList{"A"}, "journal info takes no argument"},
        {QStringList{"verify"}, "unknown journal action verify"},
        {QStringList{"sha1", "--lines", "3-2", file}, "--lines takes A-B"},
        {QStringList{"sha1", "--lines", "2-3", file}, "has 2 lines, --lines asks for line 3"},
        {QStringList{"sha1", empty}, "holds no lines"},
        {QStringList{"sha1", dir.filePath("absent.txt")}, "cannot read"},
    };
    for (const auto& [args, message] : cases) {
        const CliRun run = Journal(args);
        EXPECT_EQ(run.exitCode, 2) << args.join(' ').toStdString();
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
    }
}

}  // namespace
}  // namespace tamrisk::testing
