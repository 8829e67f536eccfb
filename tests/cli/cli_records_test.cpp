// The records tamrisk-cli keeps of its printer commands against tamrisk-sim,
// and records list and show over them.

#include "handmadeline.h"
#include "recordstore.h"
#include "recordtesting.h"
#include "reportfields.h"
#include "reports.h"
#include "simprocess.h"
#include "testfiles.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QTimeZone>
#include <QXmlStreamReader>

#include <csignal>
#include <set>
#include <sys/resource.h>

namespace tamrisk::testing {
namespace {


std::string Sha256(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex().toStdString();
}

// What a JUnit report holds as an XML reader sees it.
struct JUnitCounts {
    int suites = 0, cases = 0, failures = 0, errors = 0;
    QString systemOut;  // of the last suite
    QStringList caseNames;
    bool wellFormed = false;
};

JUnitCounts ReadJUnit(const QByteArray& bytes) {
    JUnitCounts counts;
    QXmlStreamReader xml(bytes);
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const auto name = xml.name();
        counts.suites += name == QLatin1String("testsuite");
        if (name == QLatin1String("testcase")) {
            ++counts.cases;
            counts.caseNames.append(xml.attributes().value(QLatin1String("name")).toString());
        }
        counts.failures += name == QLatin1String("failure");
        counts.errors += name == QLatin1String("error");
        if (name == QLatin1String("system-out"))
            counts.systemOut = xml.readElementText();
    }
    counts.wellFormed = !xml.hasError();
    return counts;
}

class CliRecords : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim.started());
        sim.setEnv("TAMRISK_RECORDS", records);
    }
    // A script file of `lines` (Windows-1251, CR LF) in the test's folder.
    QString Script(const char* name, const std::vector<std::string>& lines) {
        std::string bytes;
        for (const auto& line : lines)
            bytes += line + "\r\n";
        const QString path = dir.filePath(name);
        EXPECT_TRUE(WriteFileBytes(path, QByteArray::fromStdString(bytes)));
        return path;
    }
    std::vector<RecordHeader> List(RecordStore::Filter filter = {}) {
        RecordStore store;
        EXPECT_TRUE(StoreOk(store.Open(records)));
        filter.limit = 0;
        return ValueOf(store.List(filter));
    }
    Record Newest() {
        const auto headers = List();
        if (headers.empty())
            return {};
        RecordStore store;
        EXPECT_TRUE(StoreOk(store.Open(records)));
        return ValueOf(store.Load(headers.front().id));
    }
    // Inserts a finished record with `id` and `unit` straight into the records file.
    void Insert(const std::string& id, const std::string& kind, const std::string& unit, RecordOutcome outcome,
                qint64 startedMs) {
        RecordStore store;
        ASSERT_TRUE(StoreOk(store.Open(records)));
        RecordHeader header = NewRecordHeader(kind);
        header.id = id;
        header.unit = unit;
        header.startedMs = startedMs;
        ASSERT_TRUE(StoreOk(store.Begin(header)));
        header.outcome = outcome;
        header.exitCode = 0;
        ASSERT_TRUE(StoreOk(store.Finish(header)));
    }

    // Command 200 is refused with the printer's common error.
    SimProcess sim{{"--status", "200=21,02,00,00,00,00"}};
    QTemporaryDir dir;
    QString records = dir.filePath("records.sqlite");
};

TEST_F(CliRecords, EveryKindIsRecordedWithItsOutcomeAndExitStatus) {
    const QString red = Script("red.inp", {"90,a", "200", "90,b"});
    const QString image = dir.filePath("code.bin");
    const QString journal = dir.filePath("journal.bin");
    struct Case {
        QStringList args;
        std::string kind;
        RecordOutcome outcome;
        int exitCode;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {{"exec", "--port", "SIM0", "48"}, "command", RecordOutcome::Pass, 0, ""},
        {{"exec", "--port", "SIM0", "200"}, "command", RecordOutcome::Fail, 1, "<- [21,02,00,00,00,00](0,0),\"\""},
        {{"exec", "--port", "/nonexistent/tty", "48"}, "command", RecordOutcome::Error, 2,
         "Can't open serial port: "},
        {{"run", "--port", "SIM0", red}, "run", RecordOutcome::Fail, 1, "<- [21,02,00,00,00,00](0,0),\"\""},
        {{"run", "--port", "SIM0", dir.filePath("none.inp")}, "run", RecordOutcome::Error, 2, "cannot read "},
        {{"read-code", "--port", "SIM0", "-o", image}, "code-memory", RecordOutcome::Pass, 0, ""},
        {{"read-journal-bin", "--port", "SIM0", "-o", journal}, "journal-binary", RecordOutcome::Pass, 0, ""},
        {{"journal", "info", "--port", "SIM0"}, "journal-info", RecordOutcome::Pass, 0, ""},
        {{"journal", "check", "--port", "SIM0", "Z5"}, "journal-check", RecordOutcome::Fail, 3,
         "Journal and calculated SHA-1 not equal!"},
        {{"journal", "read", "--port", "SIM0", "Z5"}, "journal-read", RecordOutcome::Pass, 0, ""},
    };
    for (const Case& c : cases) {
        const CliRun run = sim.cli(c.args);
        const std::string name = c.args.join(' ').toStdString();
        EXPECT_EQ(run.exitCode, c.exitCode) << name << run.err;
        const Record record = Newest();
        EXPECT_EQ(record.header.kind, c.kind) << name;
        EXPECT_EQ(record.header.outcome, c.outcome) << name << " " << record.header.reason;
        EXPECT_EQ(record.header.exitCode, c.exitCode) << name;
        EXPECT_EQ(record.header.reason.rfind(c.reason, 0), 0u) << name << ": " << record.header.reason;
        if (c.outcome != RecordOutcome::Error) {
            EXPECT_EQ(record.header.port, sim.port()) << name;
            EXPECT_EQ(record.header.speed, 9600) << name;
        }
    }
    // The reads keep their images, not hex lines.
    RecordStore::Filter reads;
    reads.kind = "code-memory";
    RecordStore store;
    ASSERT_TRUE(StoreOk(store.Open(records)));
    for (const auto& [kind, path] : {std::pair{"code-memory", image}, std::pair{"journal-binary", journal}}) {
        reads.kind = kind;
        const auto headers = ValueOf(store.List(reads));
        ASSERT_EQ(headers.size(), 1u) << kind;
        const StoreResult<Record> record = store.Load(headers[0].id);
        ASSERT_TRUE(record);
        const QByteArray bytes = ReadFileBytes(path);
        ASSERT_EQ(record->images.size(), 1u) << kind;
        EXPECT_EQ(record->images[0], (RecordImage{kind, bytes.size(), Sha256(bytes), path.toStdString()}));
        EXPECT_LE(record->log.size(), 2u) << kind;
    }
}

TEST_F(CliRecords, TheRecordOfARunHoldsItsHeaderAndTheLinesItPrinted) {
    const QString script = Example("demo.inp");
    const CliRun run = sim.cli({"run", "--port", "SIM0", "--unit", "ZK-0042", "--color", "never", script});
    ASSERT_EQ(run.exitCode, 1) << run.err;
    const Record record = Newest();
    EXPECT_EQ(record.header.unit, "ZK-0042");
    EXPECT_EQ(record.header.script, "demo.inp");
    EXPECT_EQ(record.header.scriptSha256, Sha256(ReadFileBytes(script)));
    EXPECT_EQ(record.header.lineRange, "");
    // The demo hands out DT000100 to DT000102; the unit given wins over them.
    ASSERT_EQ(record.serials.size(), 3u);
    EXPECT_EQ(record.serials[2], (RecordSerial{"91,DT######", "DT000102", 11, SerialResult::Answered}));

    // Shown, the log reads exactly as the run printed it.
    const CliRun shown = sim.cli({"records", "show", QString::fromStdString(record.header.id), "--color", "never"});
    ASSERT_EQ(shown.exitCode, 0) << shown.err;
    const auto blank = shown.out.find("\n\n");
    ASSERT_NE(blank, std::string::npos);
    EXPECT_EQ(shown.out.substr(blank + 2), run.out);
    EXPECT_NE(shown.out.find("unit      ZK-0042\n"), std::string::npos) << shown.out;

    // A selection keeps its range and numbers its lines from the first one taken.
    const QString serials = Script("serials.inp", {"90", "+1;91,DT000100", "90"});
    ASSERT_EQ(sim.cli({"run", "--port", "SIM0", "--lines", "2-9", serials}).exitCode, 0);
    const Record selection = Newest();
    EXPECT_EQ(selection.header.lineRange, "2-3");
    EXPECT_EQ(selection.header.unit, "DT000100");
    EXPECT_EQ(selection.serials, (std::vector<RecordSerial>{{"91,DT######", "DT000100", 2, SerialResult::Answered}}));
}

// A run's record gives the digest of the whole script, also with --lines: that of
// its lines each ended by CR LF (the file's own for a file saved so, as the
// station saves one), whatever line ends the file has, as the station gives it.
TEST_F(CliRecords, AScriptsDigestIsOfTheWholeScriptWhateverItsLineEnds) {
    const QByteArray asSaved = "90\r\n+1;91,DT000100\r\n90\r\n";
    const struct {
        const char* name;
        QByteArray bytes;
        const char* lines;  // --lines; null: the whole script
        const char* lineRange;
    } cases[] = {
        {"crlf.inp", asSaved, nullptr, ""},
        {"lf.inp", "90\n+1;91,DT000100\n90", "2-2", "2-2"},
        {"cr.inp", "90\r+1;91,DT000100\r90\r", "1-9", "1-3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath(c.name);
        ASSERT_TRUE(WriteFileBytes(path, c.bytes));
        QStringList args = {"run", "--port", "SIM0", path};
        if (c.lines)
            args << "--lines" << c.lines;
        const CliRun run = sim.cli(args);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        const RecordHeader header = Newest().header;
        EXPECT_EQ(header.scriptSha256, Sha256(asSaved));
        EXPECT_EQ(header.lineRange, c.lineRange);
    }
}

TEST_F(CliRecords, ASignalledRunIsAbortedAndAKilledOneIsFoundSoAtTheNextStart) {
    const QString script = Script("wait.inp", {"90", "^waiting now", "#20000", "91"});
    for (const int signal : {SIGINT, SIGKILL}) {
        QProcess cli;
        sim.startCli(cli, {"run", "--port", "SIM0", "--color", "never", script});
        cli.setReadChannel(QProcess::StandardError);
        while (!cli.canReadLine() && cli.state() == QProcess::Running)
            cli.waitForReadyRead(5000);
        // The run's record, with the lines before the wait, reaches the file within a batch interval.
        QDeadlineTimer deadline(5000);
        for (Record newest = Newest(); (newest.header.outcome || newest.log.size() < 2) && !deadline.hasExpired();
             newest = Newest())
            QThread::msleep(20);
        ::kill(static_cast<pid_t>(cli.processId()), signal);
        ASSERT_TRUE(cli.waitForFinished(5000));
        const std::string printed = cli.readAllStandardOutput().toStdString();

        if (signal == SIGKILL) {
            EXPECT_FALSE(Newest().header.outcome);  // in progress until a program starts
            ASSERT_EQ(sim.cli({"records", "list"}).exitCode, 0);
        }
        const Record record = Newest();
        ASSERT_TRUE(record.header.outcome) << signal;
        EXPECT_EQ(*record.header.outcome, RecordOutcome::Aborted) << signal;
        ASSERT_GE(record.log.size(), 2u) << signal;
        EXPECT_EQ(record.log[0].text, "-> 90,\"\"");
        if (signal == SIGINT) {
            EXPECT_EQ(record.header.reason, "Script cancelled !!!");
            EXPECT_EQ(record.header.exitCode, 130);
            // Every line printed, up to the run's time, is kept.
            EXPECT_EQ(record.log.size(), Lines(printed).size()) << printed;
        } else {
            EXPECT_EQ(record.header.reason, UnfinishedReason);
            EXPECT_FALSE(record.header.exitCode);
        }
    }
}

TEST_F(CliRecords, ListTakesItsFiltersAndFormats) {
    Insert("aaaa1111-0000-4000-8000-000000000001", "run", "UNIT-A", RecordOutcome::Pass, 1'700'000'000'000);
    Insert("aaaa2222-0000-4000-8000-000000000002", "command", "UNIT-B", RecordOutcome::Fail, 1'700'000'100'000);
    Insert("bbbb3333-0000-4000-8000-000000000003", "run", "UNIT-B", RecordOutcome::Error, 1'800'000'000'000);
    struct Case {
        QStringList options;
        std::vector<std::string> ids;  // their starts, in the order listed
    };
    const std::vector<Case> cases = {
        {{}, {"bbbb3333", "aaaa2222", "aaaa1111"}},
        {{"--unit", "UNIT-B"}, {"bbbb3333", "aaaa2222"}},
        {{"--outcome", "fail"}, {"aaaa2222"}},
        {{"--kind", "run"}, {"bbbb3333", "aaaa1111"}},
        {{"--since", "2023-11-14T22:14:00"}, {"bbbb3333", "aaaa2222"}},
        {{"--since", "2027-01-01"}, {"bbbb3333"}},
        {{"--limit", "1"}, {"bbbb3333"}},
    };
    for (const Case& c : cases) {
        const std::string name = c.options.join(' ').toStdString();
        const CliRun table = sim.cli(QStringList{"records", "list"} + c.options);
        ASSERT_EQ(table.exitCode, 0) << name << table.err;
        const auto lines = Lines(table.out);
        ASSERT_EQ(lines.size(), c.ids.size() + 1) << name << table.out;
        for (std::size_t i = 0; i < c.ids.size(); ++i)
            EXPECT_EQ(lines[i + 1].substr(0, 8), c.ids[i]) << name;

        const CliRun json = sim.cli(QStringList{"records", "list", "--format", "json"} + c.options);
        const QJsonArray array = QJsonDocument::fromJson(QByteArray::fromStdString(json.out)).array();
        ASSERT_EQ(static_cast<std::size_t>(array.size()), c.ids.size()) << name << json.out;
        EXPECT_TRUE(array[0]["id"].toString().startsWith(QString::fromStdString(c.ids[0]))) << name;
        const CliRun csv = sim.cli(QStringList{"records", "list", "--format", "csv"} + c.options);
        EXPECT_EQ(Lines(csv.out).size(), c.ids.size() + 1) << name;
    }
    for (const QStringList& bad : {QStringList{"--outcome", "green"}, QStringList{"--kind", "walk"},
                                   QStringList{"--since", "yesterday"}, QStringList{"--limit", "-1"},
                                   QStringList{"--format", "xml"}, QStringList{"extra"}}) {
        const CliRun run = sim.cli(QStringList{"records", "list"} + bad);
        EXPECT_EQ(run.exitCode, 2) << bad.join(' ').toStdString();
        EXPECT_EQ(run.out, "");
    }
}

TEST_F(CliRecords, ShowTakesAUniqueStartOfTheId) {
    Insert("aaaa1111-0000-4000-8000-000000000001", "run", "UNIT-A", RecordOutcome::Pass, 1'700'000'000'000);
    Insert("aaaa2222-0000-4000-8000-000000000002", "command", "UNIT-B", RecordOutcome::Fail, 1'700'000'100'000);
    struct Case {
        QString id;
        int exitCode;
        std::string shown;  // in stdout, or stderr when it fails
    };
    const std::vector<Case> cases = {
        {"aaaa1", 0, "id        aaaa1111-0000-4000-8000-000000000001\n"},
        {"AAAA2", 0, "unit      UNIT-B\n"},
        {"aaaa", 2, "tamrisk-cli: more than one record has an ID starting with aaaa; give more of it\n"},
        {"cccc", 4, "tamrisk-cli: no record has an ID starting with cccc\n"},
    };
    for (const Case& c : cases) {
        const CliRun run = sim.cli({"records", "show", c.id});
        EXPECT_EQ(run.exitCode, c.exitCode) << c.id.toStdString();
        const std::string& text = c.exitCode == 0 ? run.out : run.err;
        EXPECT_NE(text.find(c.shown), std::string::npos) << c.id.toStdString() << ": " << text;
    }
    const CliRun json = sim.cli({"records", "show", "aaaa2", "--format", "json"});
    const QJsonObject object = QJsonDocument::fromJson(QByteArray::fromStdString(json.out)).object();
    EXPECT_EQ(object["outcome"].toString(), "fail");
    EXPECT_TRUE(object["log"].isArray());
}

TEST_F(CliRecords, OffOrAnUnwritableFileChangesNothingButOneLine) {
    const QString garbage = dir.filePath("garbage.sqlite");
    const QByteArray junk(4096, 'x');
    ASSERT_TRUE(WriteFileBytes(garbage, junk));
    const QString underFile = garbage + "/records.sqlite";
    sim.setEnv("TAMRISK_RECORDS", "off");
    const QString script = Script("plain.inp", {"90,a", "91"});
    const CliRun quiet = sim.cli({"run", "--port", "SIM0", "--color", "never", script});
    ASSERT_EQ(quiet.exitCode, 0) << quiet.err;
    const auto withoutTimes = [](const std::string& out) { return out.substr(0, out.find("Script execution")); };

    struct Case {
        QStringList records;
        std::string told;  // the one stderr line; empty: none
    };
    const std::vector<Case> cases = {
        {{}, ""},
        {{"--records", "off"}, ""},
        {{"--records", garbage}, "tamrisk-cli: records not kept: " + garbage.toStdString() + ": "},
        {{"--records", underFile}, "tamrisk-cli: records not kept: " + underFile.toStdString() + ": "},
    };
    for (const Case& c : cases) {
        const std::string name = c.records.join(' ').toStdString();
        const CliRun run = sim.cli(QStringList{"run", "--port", "SIM0", "--color", "never"} + c.records + QStringList{script});
        EXPECT_EQ(run.exitCode, quiet.exitCode) << name;
        EXPECT_EQ(withoutTimes(run.out), withoutTimes(quiet.out)) << name;
        const auto lines = Lines(run.err);
        if (c.told.empty()) {
            EXPECT_EQ(run.err, quiet.err) << name;
        } else {
            ASSERT_EQ(lines.size(), 1u) << name << run.err;
            EXPECT_EQ(lines[0].rfind(c.told, 0), 0u) << name << run.err;
        }
    }
    EXPECT_EQ(ReadFileBytes(garbage), junk);
    // Off keeps nothing, not even in the user's own records file.
    EXPECT_FALSE(QFile::exists(records));
    EXPECT_FALSE(QFile::exists(sim.environment().value("XDG_DATA_HOME")));
    // Without a choice the records go to the user's records file, the station's.
    sim.setEnv("TAMRISK_RECORDS", "");
    ASSERT_EQ(sim.cli({"exec", "--port", "SIM0", "90"}).exitCode, 0);
    EXPECT_TRUE(QFile::exists(sim.environment().value("XDG_DATA_HOME") + "/Tamrisk/records.sqlite"));
}

// The names of a JUnit report's cases and how many failed or erred.
std::tuple<QStringList, int, int> JUnitOutline(const Record& record) {
    const JUnitCounts junit = ReadJUnit(RecordsJUnit(std::span<const Record>(&record, 1)));
    return {junit.caseNames, junit.failures, junit.errors};
}

// A run's transactions are steps of its record: a refused command's with its
// status bytes, one cut by a lost port without; JUnit built from the steps
// names the same cases and failures as the log told before.
TEST_F(CliRecords, ShowListsTheStepsAndJUnitFromThemNamesTheSameFailures) {
    struct Case {
        const char* what;
        QStringList options;
        std::vector<std::pair<std::string, std::string>> steps;  // result and status ("null": none) of each step
    };
    SimProcess slow{{"--delay", "1500"}};
    ASSERT_TRUE(slow.started());
    slow.setEnv("TAMRISK_RECORDS", records);
    const std::vector<Case> cases = {
        {"a refused command",
         {Script("red.inp", {"90,a", "200", "90,b"})},
         {{"answered", "00,00,00,00,00,3A"}, {"refused", "21,02,00,00,00,00"}, {"answered", "00,00,00,00,00,3A"}}},
        {"a lost port", {"--lines", "2-3", Script("lost.inp", {"90,a", "90,b", "90,c"})}, {{"no-answer", "null"}}},
    };
    for (const Case& c : cases) {
        const bool lost = c.steps.back().first == "no-answer";
        if (lost) {
            QProcess cli;
            slow.startCli(cli, QStringList{"run", "--port", "SIM0", "--color", "never"} + c.options);
            // The request's line is shown as it is sent: a moment later the
            // request is out (the answer is 1.5 s away), even on a busy machine.
            ASSERT_TRUE(cli.waitForReadyRead(3000)) << c.what;
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            slow.stop();
            ASSERT_TRUE(cli.waitForFinished(10000)) << c.what;
            EXPECT_EQ(cli.exitCode(), 2) << c.what;
        } else {
            EXPECT_EQ(sim.cli(QStringList{"run", "--port", "SIM0"} + c.options).exitCode, 1) << c.what;
        }
        const Record record = Newest();
        const CliRun shown = sim.cli({"records", "show", QString::fromStdString(record.header.id), "--format", "json"});
        ASSERT_EQ(shown.exitCode, 0) << c.what << shown.err;
        const QJsonObject json = QJsonDocument::fromJson(QByteArray::fromStdString(shown.out)).object();
        const QJsonArray steps = json["steps"].toArray();
        ASSERT_EQ(steps.size(), static_cast<qsizetype>(c.steps.size())) << c.what << shown.out;
        for (qsizetype i = 0; i < steps.size(); ++i) {
            const QJsonObject step = steps[i].toObject();
            EXPECT_EQ(step.keys(), QStringList({"answer", "attempts", "command", "data", "duration_ms", "line",
                                                "result", "status", "t_ms"}))
                << c.what;
            EXPECT_EQ(step["result"].toString().toStdString(), c.steps[static_cast<std::size_t>(i)].first) << c.what;
            const QJsonValue status = step["status"];
            EXPECT_EQ(status.isNull() ? "null" : status.toString().toStdString(),
                      c.steps[static_cast<std::size_t>(i)].second)
                << c.what;
            EXPECT_EQ(step["line"].toInt(), (lost ? 2 : 1) + i) << c.what;
            EXPECT_EQ(step["attempts"].toInt(), 1) << c.what;
        }
        EXPECT_EQ(json["lines"], lost ? QJsonValue("2-3") : QJsonValue()) << c.what;
        // The same record without its steps is read from its log, as before.
        Record logged = record;
        logged.steps.clear();
        EXPECT_EQ(JUnitOutline(record), JUnitOutline(logged)) << c.what;
        EXPECT_EQ(std::get<1>(JUnitOutline(record)), 1) << c.what;
    }
}

TEST_F(CliRecords, ExportWritesTheSelectedRecordsInEachFormatInOneStep) {
    // Three records, newest first: a command that passed, a run with a red line, a run that passed.
    ASSERT_EQ(sim.cli({"run", "--port", "SIM0", "--unit", "UNIT-A", Script("plain.inp", {"90,a", "91"})}).exitCode, 0);
    ASSERT_EQ(sim.cli({"run", "--port", "SIM0", "--unit", "UNIT-B", Script("red.inp", {"90,a", "200", "90,b"})})
                  .exitCode,
              1);
    ASSERT_EQ(sim.cli({"exec", "--port", "SIM0", "--unit", "UNIT-B", "48"}).exitCode, 0);
    const QString file = dir.filePath("export.out");
    struct Case {
        QStringList options;
        int records;   // suites, objects or CSV rows
        int cases;     // JUnit testcases; -1: not checked
        int failures;  // JUnit failures
    };
    const std::vector<Case> cases = {
        {{"--format", "junit"}, 3, 6, 1},
        {{"--format", "junit", "--outcome", "fail"}, 1, 3, 1},
        {{"--format", "junit", "--kind", "run", "--limit", "1"}, 1, 3, 1},
        {{"--format", "json"}, 3, -1, 0},
        {{"--format", "json", "--unit", "UNIT-B"}, 2, -1, 0},
        {{"--format", "csv"}, 3, -1, 0},
        {{"--format", "csv", "--outcome", "error"}, 0, -1, 0},
    };
    for (const Case& c : cases) {
        const std::string name = c.options.join(' ').toStdString();
        ASSERT_TRUE(WriteFileBytes(file, QByteArray("an older file")));
        const CliRun run = sim.cli(QStringList{"records", "export", "-o", file} + c.options);
        ASSERT_EQ(run.exitCode, 0) << name << run.err;
        EXPECT_EQ(run.out + run.err, "") << name;
        const QByteArray bytes = ReadFileBytes(file);
        if (c.options[1] == "junit") {
            const JUnitCounts junit = ReadJUnit(bytes);
            EXPECT_TRUE(junit.wellFormed) << name << bytes.toStdString();
            EXPECT_EQ(junit.suites, c.records) << name;
            EXPECT_EQ(junit.cases, c.cases) << name;
            EXPECT_EQ(junit.failures, c.failures) << name;
        } else if (c.options[1] == "json") {
            const QJsonArray array = QJsonDocument::fromJson(bytes).array();
            ASSERT_EQ(array.size(), c.records) << name << bytes.toStdString();
            // Whole records, newest first, each with its log.
            EXPECT_EQ(array[0]["kind"].toString(), "command") << name;
            for (const auto& record : array)
                EXPECT_FALSE(record.toObject()["log"].toArray().isEmpty()) << name;
        } else {
            EXPECT_EQ(Lines(bytes.toStdString()).size(), static_cast<std::size_t>(c.records) + 1) << name;
        }
    }

    // A usage error writes nothing; a FILE that cannot be written is told and exits 1.
    ASSERT_TRUE(WriteFileBytes(file, QByteArray("an older file")));
    const QString missing = dir.filePath("missing/export.xml");
    const std::vector<std::pair<QStringList, int>> failures = {
        {{"-o", file}, 2},
        {{"--format", "xml", "-o", file}, 2},
        {{"--format", "csv"}, 2},
        {{"--format", "csv", "--outcome", "green", "-o", file}, 2},
        {{"--format", "csv", "-o", file, "extra"}, 2},
        {{"--format", "junit", "-o", missing}, 1},
    };
    for (const auto& [options, exitCode] : failures) {
        const std::string name = options.join(' ').toStdString();
        const CliRun run = sim.cli(QStringList{"records", "export"} + options);
        EXPECT_EQ(run.exitCode, exitCode) << name << run.err;
        EXPECT_EQ(ReadFileBytes(file), "an older file") << name;
    }
    const CliRun unwritable = sim.cli({"records", "export", "--format", "junit", "-o", missing});
    EXPECT_EQ(unwritable.err.rfind("tamrisk-cli: cannot write " + missing.toStdString() + ": ", 0), 0u)
        << unwritable.err;
    EXPECT_FALSE(QFile::exists(missing));
}

TEST_F(CliRecords, RunWritesItsReportsWhenItEndsAlsoWithRecordsOff) {
    sim.setEnv("TAMRISK_RECORDS", "off");
    const QString junitFile = dir.filePath("report.xml");
    const QString jsonFile = dir.filePath("report.json");
    struct Case {
        QString script;
        int exitCode;
        std::string outcome;
        int cases, failures, errors;
    };
    const std::vector<Case> cases = {
        {Script("plain.inp", {"90,a", "+1;91,DT000100"}), 0, "pass", 2, 0, 0},
        {Script("red.inp", {"90,a", "", "200", "90,b"}), 1, "fail", 3, 1, 0},
        {dir.filePath("none.inp"), 2, "error", 1, 0, 1},
    };
    for (const Case& c : cases) {
        const std::string name = c.script.toStdString();
        const CliRun run = sim.cli({"run", "--port", "SIM0", "--color", "never", "--junit", junitFile, "--json",
                                    jsonFile, c.script});
        ASSERT_EQ(run.exitCode, c.exitCode) << name << run.err;

        const JUnitCounts junit = ReadJUnit(ReadFileBytes(junitFile));
        EXPECT_TRUE(junit.wellFormed) << name;
        EXPECT_EQ(junit.suites, 1) << name;
        EXPECT_EQ(junit.cases, c.cases) << name;
        EXPECT_EQ(junit.failures, c.failures) << name;
        EXPECT_EQ(junit.errors, c.errors) << name;
        if (c.outcome == "fail") {  // each case named by its script line
            EXPECT_EQ(junit.caseNames, QStringList({"line 1: 90,a", "line 3: 200,", "line 4: 90,b"}));
        }

        const QJsonObject json = QJsonDocument::fromJson(ReadFileBytes(jsonFile)).object();
        EXPECT_EQ(json["outcome"].toString().toStdString(), c.outcome) << name;
        EXPECT_EQ(json["exit"].toInt(-1), c.exitCode) << name;
        // The report's log is what the run printed, line for line.
        std::vector<std::string> logged;
        for (const auto& line : json["log"].toArray())
            logged.push_back(line.toObject()["text"].toString().toStdString());
        EXPECT_EQ(logged, Lines(run.out)) << name;
        if (c.exitCode == 0) {
            ASSERT_EQ(json["serials"].toArray().size(), 1) << name;
            EXPECT_EQ(json["unit"].toString(), "DT000100");
            EXPECT_EQ(Lines(junit.systemOut.toStdString()), Lines(run.out)) << name;
        }
    }
    EXPECT_FALSE(QFile::exists(records));
}

// A report that cannot be written is told; it makes a run that passed exit 1 and
// leaves a worse exit status alone; an existing report file stays as it was.
TEST_F(CliRecords, AReportThatCannotBeWrittenIsAFailedWrite) {
    sim.setEnv("TAMRISK_RECORDS", "off");
    const QString report = dir.filePath("report.json");
    const std::vector<std::pair<QString, int>> cases = {
        {Script("plain.inp", {"90,a", "91"}), 1},
        {Script("red.inp", {"90,a", "200"}), 1},
        {dir.filePath("none.inp"), 2},
    };
    for (const auto& [script, exitCode] : cases) {
        const std::string name = script.toStdString();
        ASSERT_TRUE(WriteFileBytes(report, QByteArray("an older report")));
        QProcess cli;
        cli.setProcessEnvironment(sim.environment());
        // Past 256 bytes a write fails: the report's (400 bytes and more), not the port's lock file nor
        // the trial that makes an empty report file.
        cli.setChildProcessModifier([] {
            const rlimit limit{256, 256};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        });
        cli.start(TAMRISK_CLI_PATH, {"run", "--port", "SIM0", "--json", report, script});
        ASSERT_TRUE(cli.waitForFinished(60000));
        const std::string err = cli.readAllStandardError().toStdString();
        EXPECT_EQ(cli.exitCode(), exitCode) << name << err;
        EXPECT_NE(err.find("Error: Can't write output file: " + report.toStdString() + ": "), std::string::npos)
            << name << err;
        EXPECT_EQ(ReadFileBytes(report), "an older report") << name;
    }
    // A report file that cannot be made is refused before the run talks to the printer.
    const QString missing = dir.filePath("missing/report.xml");
    const CliRun refused = sim.cli({"run", "--port", "SIM0", "--junit", missing, cases[0].first});
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_EQ(refused.out, "");
    EXPECT_NE(refused.err.find("cannot write " + missing.toStdString() + ": "), std::string::npos) << refused.err;
}

// Two runs at once over two printers, from one script and one records file,
// give every number once; a later run skips the numbers given with a black line
// each, but not one the printer refused. Without records there is nothing to
// claim in.
TEST_F(CliRecords, UniqueSerialsGiveEveryNumberOnceAcrossRuns) {
    SimProcess second;
    ASSERT_TRUE(second.started());
    second.setEnv("TAMRISK_RECORDS", records);
    const QString script = Script("loop.inp", {"*50,L", "+1;91,DT000100", ":L"});
    const QStringList run = {"run", "--unique-serials", "--port", "SIM0", "--color", "never", script};
    QProcess a, b;
    sim.startCli(a, run);
    second.startCli(b, run);
    for (QProcess* cli : {&a, &b}) {
        ASSERT_TRUE(cli->waitForFinished(60000));
        EXPECT_EQ(cli->exitCode(), 0) << cli->readAllStandardError().toStdString();
    }
    std::set<std::string> given;
    std::size_t sent = 0;
    RecordStore store;
    ASSERT_TRUE(StoreOk(store.Open(records)));
    for (const RecordHeader& header : List()) {
        for (const RecordSerial& serial : ValueOf(store.Load(header.id)).serials) {
            EXPECT_EQ(serial.result, SerialResult::Answered);
            given.insert(serial.data);
            ++sent;
        }
    }
    EXPECT_EQ(sent, 100u);
    EXPECT_EQ(given.size(), 100u);
    EXPECT_EQ(*given.begin(), "DT000100");
    EXPECT_EQ(*given.rbegin(), "DT000199");

    const QString one = Script("one.inp", {"+1;91,DT000198"});
    const CliRun later = sim.cli({"run", "--unique-serials", "--port", "SIM0", "--color", "never", one});
    EXPECT_EQ(later.exitCode, 0) << later.err;
    const std::vector<std::string> expected = {"** DT000198 already given, skipped",
                                               "** DT000199 already given, skipped", "-> 91,\"DT000200\""};
    const std::vector<std::string> lines = Lines(later.out);
    ASSERT_GE(lines.size(), 3u) << later.out;
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 3), expected);
    EXPECT_EQ(Newest().header.unit, "DT000200");

    // A number refused by the printer is given up: the next run sends it again.
    const QString refused = Script("refused.inp", {"+1;200,U000500"});
    for (int i = 0; i < 2; ++i) {
        const CliRun again = sim.cli({"run", "--unique-serials", "--port", "SIM0", "--color", "never", refused});
        EXPECT_EQ(again.exitCode, 1);
        ASSERT_FALSE(Lines(again.out).empty());
        EXPECT_EQ(Lines(again.out)[0], "-> 200,\"U000500\"") << i;
    }

    EXPECT_EQ(sim.cli({"run", "--unique-serials", "--records", "off", "--port", "SIM0", one}).exitCode, 2);
}

// Claims in a line's database out of reach (no server at its socket folder) are
// waited for: once --claim-wait runs out the run ends with an error; SIGTERM
// during the wait ends it at once, cancelled. The number goes out in neither.
TEST_F(CliRecords, AClaimWaitsForTheLineAtMostTheClaimWait) {
    const QString script = Script("claim.inp", {"+1;91,DT000100"});
    const QString line = QStringLiteral("postgresql://tamrisk@/tamrisk_test?host=") + dir.filePath("nowhere");
    sim.setEnv("TAMRISK_LOCAL_RECORDS", records);
    const struct {
        const char* wait;
        int signal;  // sent once the wait is told; 0: none
        int exitCode;
        const char* ends;  // the line that ends the run's lines
        RecordOutcome outcome;
    } cases[] = {
        {"1", 0, 2, "** DT000100 not sent, no claim on it: ", RecordOutcome::Error},
        {"60", SIGTERM, 130, "Script cancelled !!!", RecordOutcome::Aborted},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.wait);
        QProcess cli;
        sim.startCli(cli, {"run", "--unique-serials", "--records", line, "--claim-wait", c.wait, "--port", "SIM0",
                           "--color", "never", script});
        QByteArray out;
        const QDeadlineTimer told(20000);
        while (!out.contains("waits for its claim") && cli.state() == QProcess::Running && !told.hasExpired()) {
            cli.waitForReadyRead(100);
            out += cli.readAllStandardOutput();
        }
        QElapsedTimer ending;
        ending.start();
        if (c.signal != 0)
            ::kill(static_cast<pid_t>(cli.processId()), c.signal);
        ASSERT_TRUE(cli.waitForFinished(30000));
        // What could not reach the line waits at most 3 s at the end; the wait itself ends at once.
        if (c.signal != 0) {
            EXPECT_LT(ending.elapsed(), 8000);
        }
        out += cli.readAllStandardOutput();
        EXPECT_EQ(cli.exitCode(), c.exitCode) << out.toStdString() << cli.readAllStandardError().toStdString();
        const std::vector<std::string> lines = Lines(out.toStdString());
        ASSERT_GE(lines.size(), 3u) << out.toStdString();
        EXPECT_TRUE(lines[2].starts_with("Script execution time ")) << lines[2];
        EXPECT_TRUE(lines[0].starts_with("** DT000100 waits for its claim (at most " + std::string(c.wait) + " s): "))
            << lines[0];
        EXPECT_TRUE(lines[1].starts_with(c.ends)) << lines[1];
        const Record record = Newest();
        ASSERT_TRUE(record.header.outcome);
        EXPECT_EQ(*record.header.outcome, c.outcome);
        EXPECT_TRUE(record.serials.empty());
    }
}

// records claims lists each claim with its station, unit and record, newest
// first, filtered by data; the data of the script is Windows-1251.
TEST_F(CliRecords, ClaimsAreListedWithStationUnitAndRecord) {
    const QString script = Script("two.inp", {"*2,L", "+1;91,\xC4\xD2" "0100", ":L"});
    const CliRun run = sim.cli({"run", "--unique-serials", "--unit", "U7", "--port", "SIM0", script});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const RecordHeader header = Newest().header;

    const CliRun csv = sim.cli({"records", "claims", "--serial", "\xD0\x94\xD0\xA2" "0101", "--format", "csv"});
    EXPECT_EQ(csv.exitCode, 0) << csv.err;
    auto rows = Lines(csv.out);
    ASSERT_EQ(rows.size(), 2u) << csv.out;
    for (std::string& line : rows) {
        EXPECT_TRUE(line.ends_with('\r')) << "CSV lines end in CR LF";
        line.pop_back();
    }
    EXPECT_EQ(rows[0], "space,data,station,unit,claimed,record");
    const QRegularExpression row(
        QRegularExpression::escape(QString::fromStdString("\"91,\xD0\x94\xD0\xA2####\",\xD0\x94\xD0\xA2" "0101," +
                                                          header.station + ",U7,")) +
        QStringLiteral("\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z,") + QString::fromStdString(header.id) +
        QStringLiteral("$"));
    EXPECT_TRUE(row.match(QString::fromStdString(rows[1])).hasMatch()) << rows[1];

    const CliRun json = sim.cli({"records", "claims", "--format", "json"});
    const QJsonArray claims = QJsonDocument::fromJson(QByteArray::fromStdString(json.out)).array();
    ASSERT_EQ(claims.size(), 2) << json.out;
    EXPECT_EQ(claims[0].toObject()["data"].toString(), QString::fromUtf8("\xD0\x94\xD0\xA2" "0101"));
    EXPECT_EQ(claims[1].toObject()["data"].toString(), QString::fromUtf8("\xD0\x94\xD0\xA2" "0100"));
    EXPECT_EQ(claims[1].toObject()["record"].toString().toStdString(), header.id);

    const CliRun table = sim.cli({"records", "claims", "--limit", "1"});
    ASSERT_EQ(Lines(table.out).size(), 2u) << table.out;
    EXPECT_EQ(Lines(table.out)[0].substr(0, 5), "SPACE");
    EXPECT_NE(Lines(table.out)[1].find(header.id.substr(0, 8)), std::string::npos);
    EXPECT_EQ(sim.cli({"records", "claims", "--limit", "x"}).exitCode, 2);
}

TEST_F(CliRecords, ChecksAreListedByTheirFiltersNewestRecordFirst) {
    RecordStore store;
    ASSERT_TRUE(StoreOk(store.Open(records)));
    RecordHeader first = NewRecordHeader("run");
    first.id = "aaaa1111-0000-4000-8000-000000000001";
    first.unit = "UNIT-A";
    first.startedMs = 1'700'000'000'000;  // 2023-11-14T22:13:20Z
    RecordHeader second = NewRecordHeader("run");
    second.id = "bbbb2222-0000-4000-8000-000000000002";
    second.unit = "UNIT-B";
    second.station = "line-9";
    second.startedMs = 1'800'000'000'000;  // 2027-01-15
    RecordCheck unread = NumericCheck("firmware", CheckResult::Error, std::nullopt, std::nullopt);
    unread.check.op.reset();
    unread.check.low = unread.check.high = std::nullopt;
    for (const auto& [header, checks] :
         {std::pair(first, std::vector{NumericCheck("size", CheckResult::Pass, "2097152", 0),
                                       NumericCheck("used", CheckResult::Fail, "2097000", 1)}),
          std::pair(second, std::vector{NumericCheck("used", CheckResult::Pass, "12", 0), unread})}) {
        ASSERT_TRUE(StoreOk(store.Begin(header)));
        RecordBatch batch;
        batch.checks = checks;
        ASSERT_TRUE(StoreOk(store.AppendBatch(header.id, batch)));
    }
    struct Case {
        QStringList options;
        std::vector<std::string> found;  // record id's start and check name, in the order listed
    };
    // The filters themselves are the records layer's; here, that the options reach them.
    const std::vector<Case> cases = {
        {{}, {"bbbb:used", "bbbb:firmware", "aaaa:size", "aaaa:used"}},
        {{"--station", "line-9"}, {"bbbb:used", "bbbb:firmware"}},
        {{"--result", "error", "--name", "firmware"}, {"bbbb:firmware"}},
        {{"--since", "2027-01-01"}, {"bbbb:used", "bbbb:firmware"}},
        {{"--until", "2023-11-14"}, {"aaaa:size", "aaaa:used"}},  // a day alone: all of it
        {{"--until", "2023-11-14T22:00:00Z"}, {}},
        {{"--limit", "1"}, {"bbbb:used"}},
    };
    for (const Case& c : cases) {
        const std::string name = c.options.join(' ').toStdString();
        const CliRun json = sim.cli(QStringList{"records", "checks", "--format", "json"} + c.options);
        ASSERT_EQ(json.exitCode, 0) << name << json.err;
        std::vector<std::string> found;
        for (const QJsonValue check : QJsonDocument::fromJson(QByteArray::fromStdString(json.out)).array())
            found.push_back((check["record"].toString().left(4) + u':' + check["name"].toString()).toStdString());
        EXPECT_EQ(found, c.found) << name;
    }
    const auto table = Lines(sim.cli({"records", "checks", "--result", "fail"}).out);
    ASSERT_EQ(table.size(), 2u);
    EXPECT_TRUE(QString::fromStdString(table[1]).contains(QRegularExpression(
        "^aaaa1111 +2023-11-14T22:13:20.000Z +UNIT-A +\\S+ +used +3 in 0..2000000 bytes +2097000 bytes +fail$")))
        << table[1];

    for (const QStringList& bad : {QStringList{"--result", "green"}, QStringList{"--until", "tomorrow"},
                                   QStringList{"--since", "2027-13-01"}, QStringList{"--limit", "x"},
                                   QStringList{"--format", "junit"}, QStringList{"--outcome", "fail"},
                                   QStringList{"extra"}}) {
        const CliRun run = sim.cli(QStringList{"records", "checks"} + bad);
        EXPECT_EQ(run.exitCode, 2) << bad.join(' ').toStdString();
        EXPECT_EQ(run.out, "") << bad.join(' ').toStdString();
    }
}


// records stats prints the records layer's numbers as they are, over a period
// read in local time unless it ends in Z (here 5:30 ahead of UTC).
TEST_F(CliRecords, StatsReadTheirPeriodInLocalTimeAndPrintTheLinesNumbers) {
    {
        RecordStore store;
        ASSERT_TRUE(StoreOk(store.Open(records)));
        const std::vector<Record> line = HandMadeLine();
        ASSERT_TRUE(StoreOk(store.Import(line)));
    }
    sim.setEnv("TZ", "IST-5:30");
    const QByteArray expected = [&] {
        RecordStore store;
        EXPECT_TRUE(StoreOk(store.Open(records)));
        return StatsJson(ValueOf(store.Stats({LineSinceMs, LineUntilMs, ""})));
    }();
    const struct {
        QStringList period;
        const char* since;
        const char* until;
    } periods[] = {
        {{"--since", "2026-12-07T10:00:00Z", "--until", "2026-12-07T14:00Z"}, "2026-12-07T10:00:00.000Z",
         "2026-12-07T14:00:00.000Z"},
        {{"--since", "2026-12-07T15:30", "--until", "2026-12-07T19:30:00.000"}, "2026-12-07T10:00:00.000Z",
         "2026-12-07T14:00:00.000Z"},
        // A day alone: from its local midnight, or up to the next one.
        {{"--since", "2026-12-07", "--until", "2026-12-07"}, "2026-12-06T18:30:00.000Z", "2026-12-07T18:30:00.000Z"},
    };
    for (const auto& p : periods) {
        const CliRun run = sim.cli(QStringList{"records", "stats", "--format", "json"} + p.period);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        const QJsonObject json = QJsonDocument::fromJson(QByteArray::fromStdString(run.out)).object();
        EXPECT_EQ(json["since"].toString().toStdString(), p.since);
        EXPECT_EQ(json["until"].toString().toStdString(), p.until);
        if (p.since == std::string(periods[0].since)) {
            EXPECT_EQ(QByteArray::fromStdString(run.out), expected);
        }
    }
    // By default, today from local midnight.
    const QTimeZone india(5 * 3600 + 1800);
    const QDateTime midnight(QDateTime::currentDateTimeUtc().toTimeZone(india).date(), QTime(0, 0), india);
    const CliRun today = sim.cli({"records", "stats", "--format", "json"});
    EXPECT_EQ(QJsonDocument::fromJson(QByteArray::fromStdString(today.out))["since"].toString(),
              midnight.toUTC().toString(Qt::ISODateWithMs));

    const QStringList day = {"--since", "2026-12-07T10:00Z", "--until", "2026-12-07T14:00Z"};
    const std::string table = sim.cli(QStringList{"records", "stats"} + day).out;
    for (const char* shown : {"Units tested: 7\n", "Runs without a unit: 1\n", "First-pass yield: 20.0% \\(",
                              "Final yield: 50.0%\n", "\nst-1 +5 +5 +2 +2 +0 +0 +33.3% +50.0% +0 +"
                              "2026-12-07T12:05:00.000Z \\(silent\\)\n", "\n2 +voltage\n"})
        EXPECT_TRUE(QString::fromStdString(table).contains(QRegularExpression(shown))) << shown << "\n" << table;
    EXPECT_EQ(Lines(sim.cli(QStringList{"records", "stats", "--format", "csv"} + day).out).size(), 4u);  // head, line, 2 stations

    for (const QStringList& bad :
         {QStringList{"--since", "noon"}, QStringList{"--since", "2026-12-07T14:00Z", "--until", "2026-12-07T10:00Z"},
          QStringList{"--format", "junit"}, QStringList{"--limit", "3"}, QStringList{"extra"}}) {
        const CliRun run = sim.cli(QStringList{"records", "stats"} + bad);
        EXPECT_EQ(run.exitCode, 2) << bad.join(' ').toStdString();
        EXPECT_EQ(run.out, "") << bad.join(' ').toStdString();
    }
}


// records capability prints the records layer's capability as it is: JSON and
// CSV by their writers, the table worst Cpk first with the warning below 30
// values; what it cannot take is a usage error with nothing printed.
TEST_F(CliRecords, CapabilityPrintsEachNumericCheckWorstFirstInEachFormat) {
    {
        RecordStore store;
        ASSERT_TRUE(StoreOk(store.Open(records)));
        std::vector<Record> runs;
        for (int i = 0; i < 40; ++i) {
            Record run;
            run.header = TestHeader(NumberedId(i + 1), "run", LineSinceMs + i * 60'000);
            run.header.outcome = i == 3 ? RecordOutcome::Fail : RecordOutcome::Pass;
            const auto check = [](const char* name, CheckOperator op, std::optional<double> low,
                                  std::optional<double> high, const char* units, double value) {
                return RecordCheck{{name, 5, "1", op, std::nullopt, low, high, units, NumberText(value),
                                    CheckResult::Pass, ""},
                                   std::nullopt};
            };
            run.checks.push_back(check("voltage", CheckOperator::In, 5, 17, "V", 11 + ((i * 7) % 5 - 2) * 0.5));
            if (i < 5)
                run.checks.push_back(check("current", CheckOperator::Less, std::nullopt, 20, "mA", 17 + i % 3));
            runs.push_back(std::move(run));
        }
        ASSERT_TRUE(StoreOk(store.Import(runs)));
    }
    const QStringList day = {"records", "capability", "--since", "2026-12-07T10:00Z", "--until", "2026-12-07T14:00Z"};
    const auto report = [&](const std::string& name, bool values) {
        RecordStore store;
        EXPECT_TRUE(StoreOk(store.Open(records)));
        CapabilityQuery query{LineSinceMs, LineUntilMs, name};
        query.values = values;
        return ValueOf(store.Capability(query));
    };
    const struct {
        QStringList args;
        std::string out;  // the whole output; empty: see `shown`
        std::vector<const char*> shown;  // lines the output holds, in this order
    } cases[] = {
        {{"--format", "json"}, CapabilityJson(report("", false)).toStdString(), {}},
        {{"--format", "json", "--values", "--name", "voltage"}, CapabilityJson(report("voltage", true)).toStdString(), {}},
        {{"--format", "csv"}, CapabilityCsv(report("", false)).toStdString(), {}},
        {{"--format", "csv"},
         {},
         {"^name,units,lsl,usl,lsl_strict,usl_strict,n,mean,standard_deviation,.*,warning,not_numbers,"
          "without_failed_n,.*,without_failed_warning\r$",
          "^current,mA,,20,false,true,5,17\\.8,.*,too few values to judge capability,0,4,",
          "^voltage,V,5,17,false,false,40,11,.*,0,39,"}},
        {{},
         {},
         {"^Period \\(UTC\\): 2026-12-07T10:00:00.000Z to 2026-12-07T14:00:00.000Z$",
          "^CHECK +UNITS +LIMITS +N +MEAN +SIGMA +CPK \\(95%\\) +PPK +OUTSIDE +MARGINAL +BREAKS +NOTE$",
          "^current +mA +< 20 +5 +17.8 +0.83666 +[0-9.]+ \\([-0-9.]+\\.\\.[0-9.]+\\) +[0-9.]+ +0 +- +[0-9]+ +"
          "too few values to judge capability$",
          "^voltage +V +5\\.\\.17 +40 +11 +0\\.[0-9]+ +[0-9.]+ \\([0-9.]+\\.\\.[0-9.]+\\) +[0-9.]+ +0 +0 +[0-9]+ *$"}},
        {{"--name", "resistance"}, {}, {"^No numeric check in the period\\.$"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const CliRun run = sim.cli(day + c.args);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        if (!c.out.empty()) {
            EXPECT_EQ(run.out, c.out);
        }
        const std::vector<std::string> lines = Lines(run.out);
        auto from = lines.begin();
        for (const char* shown : c.shown) {
            const QRegularExpression expression(QString::fromLatin1(shown));
            from = std::find_if(from, lines.end(), [&](const std::string& line) {
                return expression.match(QString::fromStdString(line)).hasMatch();
            });
            EXPECT_NE(from, lines.end()) << shown << "\n" << run.out;
        }
    }

    for (const QStringList& bad :
         {QStringList{"--since", "noon"}, QStringList{"--since", "2026-12-07T14:00Z", "--until", "2026-12-07T10:00Z"},
          QStringList{"--format", "junit"}, QStringList{"--values"}, QStringList{"--values", "--format", "csv"},
          QStringList{"extra"}}) {
        const CliRun run = sim.cli(day + bad);
        EXPECT_EQ(run.exitCode, 2) << bad.join(' ').toStdString();
        EXPECT_EQ(run.out, "") << bad.join(' ').toStdString();
    }
}


// What the line's process adds to the command line: the product and operation
// listed and filtered, a unit's history, the work in progress and the
// per-operation numbers, each printed as the records layer gives them.
TEST_F(CliRecords, TheLinesProcessIsListedFilteredAndSummed) {
    {
        RecordStore store;
        ASSERT_TRUE(StoreOk(store.Open(records)));
        std::vector<Record> line;
        const struct {
            char id;
            const char* kind;
            const char* operation;
            std::optional<RecordOutcome> outcome;
            const char* reason;
        } made[] = {{'1', "run", "board", RecordOutcome::Pass, ""},
                    {'2', "entry", "final", RecordOutcome::Fail, "U1 has no fiscal run"},
                    {'3', "run", "fiscal", RecordOutcome::Fail, "a red line"}};
        for (const auto& m : made) {
            Record record;
            record.header = TestHeader(std::string(8, m.id) + "-0000-4000-8000-000000000000", m.kind,
                                       LineSinceMs + (m.id - '0') * 60'000);
            record.header.unit = "U1";
            record.header.product = "FP-3";
            record.header.operation = m.operation;
            record.header.outcome = m.outcome;
            record.header.reason = m.reason;
            line.push_back(record);
        }
        line.emplace_back();
        line.back().header = TestHeader("44444444-0000-4000-8000-000000000000", "run", LineSinceMs + 240'000);
        line.back().header.outcome = RecordOutcome::Pass;
        ASSERT_TRUE(StoreOk(store.Import(line)));
    }
    RunSql(records, {"INSERT INTO routes VALUES ('FP-3', 1, 'board', 3), ('FP-3', 2, 'fiscal', 3),"
                     " ('FP-3', 3, 'final', 3)"});

    const CliRun listed = sim.cli({"records", "list", "--product", "FP-3", "--operation", "final"});
    ASSERT_EQ(listed.exitCode, 0) << listed.err;
    ASSERT_EQ(Lines(listed.out).size(), 2u) << listed.out;
    EXPECT_TRUE(QString::fromStdString(listed.out).contains(QRegularExpression("PRODUCT +OPERATION")));
    EXPECT_TRUE(QString::fromStdString(listed.out).contains(QRegularExpression("U1 +FP-3 +final"))) << listed.out;
    // A list of records that name neither shows neither.
    EXPECT_FALSE(QString::fromStdString(sim.cli({"records", "list", "--limit", "1"}).out).contains("PRODUCT"));
    const CliRun csv = sim.cli({"records", "list", "--format", "csv", "--operation", "fiscal"});
    EXPECT_TRUE(QString::fromStdString(csv.out).contains(
        ",lines,operation,product,operator_id,computer_login,release,engineering\r\n33333333-"))
        << csv.out;
    EXPECT_TRUE(QString::fromStdString(csv.out).endsWith(",fiscal,FP-3,,,,false\r\n")) << csv.out;
    EXPECT_TRUE(QString::fromStdString(sim.cli({"records", "show", "2222"}).out).contains("operation final\n"));

    const std::string history = sim.cli({"unit", "history", "U1"}).out;
    for (const char* shown : {"entry +FP-3 +final +line-3 +ivana +fail +U1 has no fiscal run",
                              "run +FP-3 +fiscal +line-3 +ivana +fail +a red line"})
        EXPECT_TRUE(QString::fromStdString(history).contains(QRegularExpression(shown))) << shown << history;
    const QJsonArray json =
        QJsonDocument::fromJson(QByteArray::fromStdString(sim.cli({"unit", "history", "U1", "--format", "json"}).out))
            .array();
    ASSERT_EQ(json.size(), 3);
    EXPECT_EQ(json[1]["kind"].toString(), "entry");

    // U1 failed fiscal: it waits for fiscal again.
    EXPECT_EQ(sim.cli({"records", "wip", "--format", "csv"}).out,
              "product,operation,waiting,in_test,on_hold\r\nFP-3,board,0,0,0\r\nFP-3,fiscal,1,0,0\r\n"
              "FP-3,final,0,0,0\r\n");
    EXPECT_TRUE(QString::fromStdString(sim.cli({"records", "wip"}).out)
                    .contains(QRegularExpression("FP-3 +fiscal +1 +0 +0\n")));
    EXPECT_EQ(sim.cli({"records", "wip", "--product", "FP-9"}).out, "PRODUCT  OPERATION  WAITING  IN TEST  ON HOLD\n");

    const QStringList day = {"--since", "2026-12-07T10:00Z", "--until", "2026-12-07T14:00Z"};
    const std::string stats = sim.cli(QStringList{"records", "stats"} + day).out;
    for (const char* shown : {"\nFP-3 +board +1 +1 +100.0% +100.0%\n", "\nFP-3 +fiscal +1 +1 +0.0% +0.0%\n",
                              "\nFP-3 +- +board, fiscal, final\n"})
        EXPECT_TRUE(QString::fromStdString(stats).contains(QRegularExpression(shown))) << shown << "\n" << stats;
    const QJsonObject only = QJsonDocument::fromJson(QByteArray::fromStdString(
                                 sim.cli(QStringList{"records", "stats", "--format", "json", "--operation", "board"} + day).out))
                                 .object();
    EXPECT_EQ(only["runs"].toInt(), 1);
    EXPECT_EQ(only["operation"].toString(), "board");

    for (const QStringList& bad : {QStringList{"unit"}, QStringList{"unit", "history"},
                                   QStringList{"unit", "history", "U1", "--format", "csv"},
                                   QStringList{"records", "wip", "extra"}}) {
        const CliRun run = sim.cli(bad);
        EXPECT_EQ(run.exitCode, 2) << bad.join(' ').toStdString();
        EXPECT_EQ(run.out, "");
    }
}


}  // namespace
}  // namespace tamrisk::testing
