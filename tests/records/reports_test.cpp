#include "reports.h"

#include "reportfields.h"

#include "recordtesting.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace tamrisk {
namespace {

using testing::NumericCheck;
using testing::TestHeader;

// "Касов апарат" in Windows-1251, as the log holds it.
const std::string Cyrillic = "\xCA\xE0\xF1\xEE\xE2 \xE0\xEF\xE0\xF0\xE0\xF2";
const std::string CyrillicUtf8 = "Касов апарат";

RecordHeader FinishedHeader(std::string kind, RecordOutcome outcome, std::string reason = {}) {
    RecordHeader header = TestHeader("5f0c2a4e-1111-4222-8333-944455556666", std::move(kind));
    header.durationMs = 2500;
    header.outcome = outcome;
    header.reason = std::move(reason);
    return header;
}

Record RunRecord(RecordOutcome outcome, std::vector<RecordLogLine> log, std::string reason = {}) {
    Record record{FinishedHeader("run", outcome, std::move(reason)), std::move(log), {}, {}};
    record.header.script = "/home/ivana/scripts/fiscalize.scr";
    return record;
}

RecordLogLine Line(qint64 tMs, ResultColour colour, std::string text, int scriptLine = 0) {
    return {tMs, colour, std::move(text), scriptLine};
}

const RecordLogLine Request48 = Line(100, ResultColour::Blue, "-> 48,\"\"");
const RecordLogLine Answer48 = Line(220, ResultColour::Green, "<- [80,80,88,80,86,AE](0,0),\"\"");
const RecordLogLine Request91 = Line(300, ResultColour::Blue, "-> 91,\"DT000100\"");
const RecordLogLine Refused91 = Line(350, ResultColour::Red, "<- [A1,80,80,80,80,80](0,0),\"\"");
const RecordLogLine NoAnswer91 = Line(2350, ResultColour::Red, "<- [00,00,00,00,00,00](3,0),\"\"");
const RecordLogLine Elapsed = Line(2400, ResultColour::Black, "Script execution time 00:00:02.400\r\n");

const StatusBytesArray ReportFine{0x80, 0x80, 0x88, 0x80, 0x86, 0xAE};
const StatusBytesArray ReportRefused{0xA1, 0x80, 0x80, 0x80, 0x80, 0x80};

RecordStep Step(std::optional<int> line, int command, std::string data, StepResult result,
                std::optional<StatusBytesArray> status, qint64 tMs, qint64 durationMs, std::string answer = {}) {
    RecordStep step;
    step.line = line;
    step.command = command;
    step.data = std::move(data);
    step.status = status;
    step.answer = std::move(answer);
    step.result = result;
    step.attempts = result == StepResult::NoAnswer || result == StepResult::BadAnswer ? 2 : 1;
    step.tMs = tMs;
    step.durationMs = durationMs;
    step.failures = result == StepResult::Answered ? 0 : 1;
    return step;
}

// A record with steps and a log that holds none of their transactions: the
// reports read the steps, not the log.
Record WithSteps(Record record, std::vector<RecordStep> steps) {
    record.steps = std::move(steps);
    return record;
}

// A check as a run makes one: a numeric one with `low`..`high` and units, a
// text one with `expected`.
RecordCheck TextCheck(std::string name, CheckResult result, std::string expected, std::optional<int> step) {
    return {CheckOutcome{name, 8, "hex:*", CheckOperator::Matches, std::move(expected), std::nullopt, std::nullopt, "",
                         "ZORMIK FP-2", result, name + ": expected ~ " + expected + ", got ZORMIK FP-2"},
            step};
}

Record WithChecks(Record record, std::vector<RecordCheck> checks) {
    record.checks = std::move(checks);
    return record;
}

// ---------------------------------------------------------------- JSON

TEST(ReportsJson, HeaderFieldsCarryTheirJsonNamesAndTypes) {
    RecordHeader finished = FinishedHeader("command", RecordOutcome::Fail, "the printer reported an error");
    finished.startedMs = 1'796'746'028'123;
    finished.unit = "DT000123";
    finished.script = "";
    finished.exitCode = 1;
    RecordHeader running = TestHeader("0000", "journal-read", 1'700'000'000'000);
    running.script = "/tmp/ä.scr";
    running.scriptSha256 = std::string(64, 'a');
    running.lineRange = "4-9";
    running.operation = "fiscal";
    running.product = "FP-3";
    const std::vector<RecordHeader> headers = {finished, running};

    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(HeadersJson(headers), &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
    ASSERT_TRUE(document.isArray());
    const QJsonArray array = document.array();
    ASSERT_EQ(array.size(), 2);

    struct Field {
        int record;
        const char* key;
        QJsonValue expected;
    };
    const Field fields[] = {
        {0, "id", "5f0c2a4e-1111-4222-8333-944455556666"},
        {0, "kind", "command"},
        {0, "station", "line-3"},
        {0, "operator", "ivana"},
        {0, "version", "0.1"},
        {0, "port", "/dev/ttyUSB0"},
        {0, "speed", 115200},
        {0, "started", "2026-12-08T16:07:08.123Z"},
        {0, "duration_s", 2.5},
        {0, "outcome", "fail"},
        {0, "reason", "the printer reported an error"},
        {0, "unit", "DT000123"},
        {0, "script", ""},
        {0, "script_sha256", ""},
        {0, "exit", 1},
        {0, "lines", QJsonValue::Null},  // a whole run
        {1, "lines", "4-9"},
        {1, "started", "2023-11-14T22:13:20.000Z"},
        {1, "outcome", QJsonValue::Null},
        {1, "exit", QJsonValue::Null},
        {1, "script", QString::fromUtf8("/tmp/ä.scr")},
        {1, "script_sha256", QString(64, u'a')},
        {0, "operation", QJsonValue::Null},  // named by neither
        {0, "product", QJsonValue::Null},
        {1, "operation", "fiscal"},
        {1, "product", "FP-3"},
    };
    for (const Field& field : fields) {
        const QJsonObject object = array[field.record].toObject();
        ASSERT_TRUE(object.contains(field.key)) << field.key;
        EXPECT_EQ(object[field.key], field.expected) << field.record << " " << field.key;
    }
    // The list carries the header only.
    EXPECT_EQ(array[0].toObject().keys().size(), 22);
    EXPECT_FALSE(array[0].toObject().contains("log"));
}

TEST(ReportsJson, ShowCarriesTheLogSerialsAndImagesDecoded) {
    Record record = RunRecord(RecordOutcome::Pass, {Line(0, ResultColour::Black, "!! " + Cyrillic), Request91,
                                                    Line(320, ResultColour::Green, "<- [80,80,80,80,80,80](0,0),\"\""),
                                                    Elapsed});
    record.serials = {{"91,DT######", "DT000100", 7, SerialResult::Answered},
                      {"91,\xC1\xD0######", "\xC1\xD0" "000001", 9, SerialResult::Refused}};
    record.images = {{"code-memory", 196608, std::string(64, 'f'), "/home/ivana/образ.bin"}};

    const QJsonObject object = QJsonDocument::fromJson(RecordJson(record)).object();
    EXPECT_EQ(object["kind"].toString(), "run");
    EXPECT_EQ(object["outcome"].toString(), "pass");

    const QJsonArray log = {
        QJsonObject{{"t_ms", 0}, {"colour", "black"}, {"text", QString::fromStdString("!! " + CyrillicUtf8)}},
        QJsonObject{{"t_ms", 300}, {"colour", "blue"}, {"text", "-> 91,\"DT000100\""}},
        QJsonObject{{"t_ms", 320}, {"colour", "green"}, {"text", "<- [80,80,80,80,80,80](0,0),\"\""}},
        // Without its line end.
        QJsonObject{{"t_ms", 2400}, {"colour", "black"}, {"text", "Script execution time 00:00:02.400"}},
    };
    EXPECT_EQ(object["log"].toArray(), log);

    const QJsonArray serials = object["serials"].toArray();
    ASSERT_EQ(serials.size(), 2);
    EXPECT_EQ(serials[0].toObject(), (QJsonObject{{"space", "91,DT######"}, {"data", "DT000100"}, {"line", 7},
                                                  {"result", "answered"}}));
    EXPECT_EQ(serials[1].toObject(), (QJsonObject{{"space", QString::fromUtf8("91,БР######")},
                                                  {"data", QString::fromUtf8("БР000001")}, {"line", 9},
                                                  {"result", "refused"}}));
    const QJsonArray images = object["images"].toArray();
    ASSERT_EQ(images.size(), 1);
    EXPECT_EQ(images[0].toObject(), (QJsonObject{{"kind", "code-memory"}, {"length", 196608},
                                                 {"sha256", QString(64, u'f')},
                                                 {"file", QString::fromUtf8("/home/ivana/образ.bin")}}));

    // An export holds whole records, in the order given.
    const std::vector<Record> both = {record, RunRecord(RecordOutcome::Error, {})};
    const QJsonArray exported = QJsonDocument::fromJson(RecordsJson(both)).array();
    ASSERT_EQ(exported.size(), 2);
    EXPECT_EQ(exported[0].toObject(), object);
    EXPECT_EQ(exported[1].toObject()["outcome"].toString(), "error");
    EXPECT_TRUE(exported[1].toObject()["log"].toArray().isEmpty());
}

// Each step in the order sent with exactly its keys, the bytes decoded; a
// phase of a bulk read adds how many transactions it stands for and failed.
TEST(ReportsJson, StepsCarryTheirFieldsDecoded) {
    const Record run = WithSteps(RunRecord(RecordOutcome::Fail, {}),
                                 {Step(3, 91, "DT\xC1\xD0", StepResult::Refused, ReportRefused, 300, 50, "\xEE\xEA"),
                                  Step(std::nullopt, 48, "", StepResult::NoAnswer, std::nullopt, 400, 4600)});
    Record read{FinishedHeader("code-memory", RecordOutcome::Pass), {}, {}, {}};
    RecordStep phase = Step(std::nullopt, 121, "0000,64", StepResult::Answered, ReportFine, 10, 90000, "ff");
    phase.transactions = 3072;
    read.steps = {phase};
    struct Case {
        const char* what;
        Record record;
        QJsonArray steps;
    };
    const std::vector<Case> cases = {
        {"a run",
         run,
         {QJsonObject{{"line", 3}, {"command", 91}, {"data", QString::fromUtf8("DTБР")},
                      {"status", "A1,80,80,80,80,80"}, {"answer", QString::fromUtf8("ок")}, {"result", "refused"},
                      {"attempts", 1}, {"t_ms", 300}, {"duration_ms", 50}},
          QJsonObject{{"line", QJsonValue::Null}, {"command", 48}, {"data", ""}, {"status", QJsonValue::Null},
                      {"answer", ""}, {"result", "no-answer"}, {"attempts", 2}, {"t_ms", 400},
                      {"duration_ms", 4600}}}},
        {"a memory read",
         read,
         {QJsonObject{{"line", QJsonValue::Null}, {"command", 121}, {"data", "0000,64"},
                      {"status", "80,80,88,80,86,AE"}, {"answer", "ff"}, {"result", "answered"}, {"attempts", 1},
                      {"t_ms", 10}, {"duration_ms", 90000}, {"transactions", 3072}, {"failures", 0}}}},
        {"an older record", RunRecord(RecordOutcome::Pass, {Request48, Answer48}), {}},
    };
    for (const Case& c : cases) {
        const QJsonObject object = QJsonDocument::fromJson(RecordJson(c.record)).object();
        EXPECT_EQ(object["steps"].toArray(), c.steps) << c.what;
    }
}

// A record's checks carry their keys, null where a check has none; a record
// without checks reads as it always did, with no `checks` at all.
TEST(ReportsJson, ChecksCarryTheirKeysOnlyInRecordsThatMadeThem) {
    const Record run = WithChecks(RunRecord(RecordOutcome::Fail, {}),
                                  {NumericCheck("journal used", CheckResult::Fail, "2097000", 1),
                                   TextCheck("firmware", CheckResult::Error, "^ZORMIK (FP-3", std::nullopt)});
    const QJsonObject object = QJsonDocument::fromJson(RecordJson(run)).object();
    const QJsonArray expected = {
        QJsonObject{{"name", "journal used"}, {"line", 5}, {"field", "3"}, {"op", "in"}, {"expected", QJsonValue::Null},
                    {"low", 0}, {"high", 2000000}, {"units", "bytes"}, {"value", "2097000"}, {"result", "fail"},
                    {"step", 1}},
        QJsonObject{{"name", "firmware"}, {"line", 8}, {"field", "hex:*"}, {"op", "~"},
                    {"expected", "^ZORMIK (FP-3"}, {"low", QJsonValue::Null}, {"high", QJsonValue::Null},
                    {"units", QJsonValue::Null}, {"value", "ZORMIK FP-2"}, {"result", "error"},
                    {"step", QJsonValue::Null}}};
    EXPECT_EQ(object["checks"].toArray(), expected);
    EXPECT_TRUE(RecordJson(run).contains("\"high\": 2000000,")) << "a whole bound is written as a whole number";
    const Record older = RunRecord(RecordOutcome::Pass, {Request48, Answer48});
    EXPECT_FALSE(QJsonDocument::fromJson(RecordJson(older)).object().contains("checks"));
}

// Listed checks carry their record's id, unit, station and start besides their
// own keys; as CSV a row each, numbers unquoted, an empty field for none.
TEST(ReportsChecks, ListedChecksAsJsonAndCsv) {
    std::vector<CheckRow> rows = {
        {NumericCheck("journal used", CheckResult::Pass, "1024.5", 2), "5f0c2a4e-1111", "DT 1,2", "line-3",
         1'796'746'028'123},
        {TextCheck("firmware", CheckResult::Fail, "^ZORMIK \"FP\"", std::nullopt), "6a", "", "line-4", 0},
        {NumericCheck("voltage", CheckResult::Fail, std::nullopt, 0), "7b", "U", "line-4", 0}};
    rows[2].made.check.low = -0.25;
    rows[2].made.check.high = 1e-7;
    const QByteArray expected =
        "record,started,unit,station,name,line,field,op,expected,low,high,units,value,result,step\r\n"
        "5f0c2a4e-1111,2026-12-08T16:07:08.123Z,\"DT 1,2\",line-3,journal used,5,3,in,,0,2000000,bytes,1024.5,pass,2\r\n"
        "6a,1970-01-01T00:00:00.000Z,,line-4,firmware,8,hex:*,~,\"^ZORMIK \"\"FP\"\"\",,,,ZORMIK FP-2,fail,\r\n"
        "7b,1970-01-01T00:00:00.000Z,U,line-4,voltage,5,3,in,,-0.25,1e-07,bytes,,fail,0\r\n";
    EXPECT_EQ(ChecksCsv(rows).toStdString(), expected.toStdString());

    const QJsonArray listed = QJsonDocument::fromJson(ChecksJson(rows)).array();
    ASSERT_EQ(listed.size(), 3);
    const QJsonObject first = listed[0].toObject();
    EXPECT_EQ(first["record"], "5f0c2a4e-1111");
    EXPECT_EQ(first["unit"], "DT 1,2");
    EXPECT_EQ(first["station"], "line-3");
    EXPECT_EQ(first["started"], "2026-12-08T16:07:08.123Z");
    EXPECT_EQ(first["name"], "journal used");
    EXPECT_EQ(first["step"], 2);
    EXPECT_EQ(listed[2].toObject()["value"], QJsonValue::Null);
    EXPECT_EQ(listed[2].toObject()["low"], -0.25);
}

// ---------------------------------------------------------------- CSV

TEST(ReportsCsv, HeaderRowThenOneQuotedRowPerRecord) {
    RecordHeader header = FinishedHeader("run", RecordOutcome::Aborted, "cancelled, \"Stop\" pressed");
    header.startedMs = 1'796'746'028'123;
    header.unit = "DT 1,2";
    header.script = "/home/ivana/скрипт.scr";
    header.scriptSha256 = "ab12";
    header.exitCode = 130;
    header.lineRange = "4-9";
    header.operation = "final";
    header.product = "FP-3";
    RecordHeader running = TestHeader("r2", "journal-info");
    running.reason = "line one\nline two";
    const std::vector<RecordHeader> headers = {header, running};

    const QByteArray expected =
        "id,kind,station,operator,version,port,speed,started,duration_s,outcome,reason,unit,script,script_sha256,"
        "exit,lines,operation,product,operator_id,computer_login,release,engineering\r\n"
        "5f0c2a4e-1111-4222-8333-944455556666,run,line-3,ivana,0.1,/dev/ttyUSB0,115200,2026-12-08T16:07:08.123Z,"
        "2.500,aborted,\"cancelled, \"\"Stop\"\" pressed\",\"DT 1,2\",/home/ivana/скрипт.scr,ab12,130,4-9,final,FP-3,"
        ",,,false\r\n"
        "r2,journal-info,line-3,ivana,0.1,/dev/ttyUSB0,115200,2023-11-14T22:13:20.000Z,0.000,,"
        "\"line one\nline two\",,,,,,,,,,,false\r\n";
    EXPECT_EQ(HeadersCsv(headers).toStdString(), expected.toStdString());
    EXPECT_EQ(HeadersCsv({}).count("\r\n"), 1);
}

// ---------------------------------------------------------------- JUnit

struct ReadCase {
    std::string className, name, time;
    std::string verdict;  // "", "failure", "error" or "skipped"
    std::string message, text;
};

struct ReadSuite {
    std::map<std::string, std::string> attributes;
    std::map<std::string, std::string> properties;
    std::vector<ReadCase> cases;
    std::string systemOut;
};

struct ReadReport {
    std::map<std::string, std::string> attributes;
    std::vector<ReadSuite> suites;
};

std::map<std::string, std::string> Attributes(const QXmlStreamReader& xml) {
    std::map<std::string, std::string> attributes;
    for (const QXmlStreamAttribute& attribute : xml.attributes())
        attributes[attribute.name().toString().toStdString()] = attribute.value().toString().toStdString();
    return attributes;
}

// Reads a JUnit report back as a CI server would; fails the test on malformed XML.
ReadReport ReadJUnit(const QByteArray& bytes) {
    ReadReport report;
    QXmlStreamReader xml(bytes);
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QStringView name = xml.name();
        if (name == u"testsuites") {
            report.attributes = Attributes(xml);
        } else if (name == u"testsuite") {
            report.suites.push_back({Attributes(xml), {}, {}, {}});
        } else if (name == u"property") {
            const auto attributes = Attributes(xml);
            report.suites.back().properties[attributes.at("name")] = attributes.at("value");
        } else if (name == u"testcase") {
            auto attributes = Attributes(xml);
            ReadCase& test = report.suites.back().cases.emplace_back();
            test.className = attributes["classname"];
            test.name = attributes["name"];
            test.time = attributes["time"];
        } else if (name == u"failure" || name == u"error" || name == u"skipped") {
            ReadCase& test = report.suites.back().cases.back();
            test.verdict = name.toString().toStdString();
            test.message = Attributes(xml)["message"];
            test.text = xml.readElementText().toStdString();
        } else if (name == u"system-out") {
            report.suites.back().systemOut = xml.readElementText().toStdString();
        }
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    return report;
}

struct ExpectedCase {
    std::string name, time, verdict, message, text;
};

struct JUnitScenario {
    const char* what;
    Record record;
    std::string suiteName;
    std::vector<ExpectedCase> cases;
};

std::vector<JUnitScenario> JUnitScenarios() {
    const std::string refusedAnswer = "<- [A1,80,80,80,80,80](0,0),\"\"";
    Record journalCheck{FinishedHeader("journal-check", RecordOutcome::Fail, "Journal and calculated SHA-1 not equal!"),
                        {Line(900, ResultColour::Red, "Journal and calculated SHA-1 not equal!")}, {}, {}};
    Record readInProgress{TestHeader("r", "journal-read"), {}, {}, {}};
    Record command{FinishedHeader("command", RecordOutcome::Pass), {Request48, Answer48}, {}, {}};
    return {
        {"a run whose transactions all answered: each named by its script line",
         RunRecord(RecordOutcome::Pass, {Line(0, ResultColour::Black, "!! start", 1), Line(100, ResultColour::Blue,
                                         "-> 48,\"\"", 3), Line(220, ResultColour::Green, Answer48.text, 3),
                                         Line(300, ResultColour::Blue, Request91.text, 7),
                                         Line(340, ResultColour::Green, "<- [80,80,80,80,80,80](0,0),\"\"", 7),
                                         Line(400, ResultColour::Blue, Request91.text, 7),
                                         Line(450, ResultColour::Green, Answer48.text, 7), Elapsed}),
         "fiscalize.scr",
         {{"line 3: 48,", "0.120", "", "", ""},
          {"line 7: 91,DT000100", "0.040", "", "", ""},
          {"line 7: 91,DT000100", "0.050", "", "", ""}}},
        {"a refused command fails with its status bits' captions",
         RunRecord(RecordOutcome::Fail, {Request48, Answer48, Request91, Refused91, Elapsed}),
         "fiscalize.scr",
         {{"line 1: 48,", "0.120", "", "", ""},
          {"line 2: 91,DT000100", "0.050", "failure", refusedAnswer, "Syntax error\nCommon error"}}},
        {"a red answer with no status is a link failure",
         RunRecord(RecordOutcome::Fail, {Request91, NoAnswer91}),
         "fiscalize.scr",
         {{"line 1: 91,DT000100", "2.050", "failure", "<- [00,00,00,00,00,00](3,0),\"\"",
           "No valid answer from the printer"}}},
        {"a run killed mid-transaction leaves that transaction in error",
         RunRecord(RecordOutcome::Aborted, {Request48, Answer48, Request91}, std::string(UnfinishedReason)),
         "fiscalize.scr",
         {{"line 1: 48,", "0.120", "", "", ""},
          {"line 2: 91,DT000100", "0.000", "error", std::string(UnfinishedReason), ""}}},
        {"a run cancelled between transactions gets an error of its own",
         RunRecord(RecordOutcome::Aborted, {Request48, Answer48, Line(900, ResultColour::Red, "Script cancelled !!!")},
                   "cancelled"),
         "fiscalize.scr",
         {{"line 1: 48,", "0.120", "", "", ""}, {"run", "1.600", "error", "cancelled", ""}}},
        {"a run failed by a red line of its own gets a failure of its own",
         RunRecord(RecordOutcome::Fail, {Request48, Answer48,
                                         Line(400, ResultColour::Red, "** Invalid repeat command (@x)")}),
         "fiscalize.scr",
         {{"line 1: 48,", "0.120", "", "", ""}, {"run", "2.100", "failure", "fail", "** Invalid repeat command (@x)"}}},
        {"a run that could not start",
         RunRecord(RecordOutcome::Error, {}, "the port could not be opened"),
         "fiscalize.scr",
         {{"run", "2.500", "error", "the port could not be opened", ""}}},
        {"a command is named after its kind",
         command,
         "command",
         {{"line 1: 48,", "0.120", "", "", ""}}},
        {"an operation without transactions is one case of its kind",
         journalCheck,
         "journal-check",
         {{"journal-check", "2.500", "failure", "Journal and calculated SHA-1 not equal!",
           "Journal and calculated SHA-1 not equal!"}}},
        {"a record still in progress is skipped",
         readInProgress,
         "journal-read",
         {{"journal-read", "0.000", "skipped", "in progress", ""}}},
        {"a run's steps: each a case, a failing one naming its status bits",
         WithSteps(RunRecord(RecordOutcome::Fail, {Elapsed}),
                   {Step(3, 48, "", StepResult::Answered, ReportFine, 100, 120),
                    Step(7, 91, "DT\xC1\xD0", StepResult::Refused, ReportRefused, 300, 50),
                    Step(9, 90, "x", StepResult::NoAnswer, std::nullopt, 400, 4600),
                    Step(9, 90, "x", StepResult::BadAnswer, std::nullopt, 5000, 602, "A")}),
         "fiscalize.scr",
         {{"line 3: 48,", "0.120", "", "", ""},
          {"line 7: 91,DTБР", "0.050", "failure", "refused [A1,80,80,80,80,80]", "Syntax error\nCommon error"},
          {"line 9: 90,x", "4.600", "failure", "no-answer", "No valid answer from the printer"},
          {"line 9: 90,x", "0.602", "failure", "bad-answer \"A\"", "No valid answer from the printer"}}},
        {"a run cut by a lost port: the step that sent nothing is the error",
         WithSteps(RunRecord(RecordOutcome::Aborted, {}, "Serial port lost"),
                   {Step(1, 48, "", StepResult::Answered, ReportFine, 0, 120),
                    Step(2, 91, "DT000100", StepResult::NotSent, std::nullopt, 300, 0)}),
         "fiscalize.scr",
         {{"line 1: 48,", "0.120", "", "", ""}, {"line 2: 91,DT000100", "0.000", "error", "Serial port lost", ""}}},
        {"a run failed by a red line of its own after its steps",
         WithSteps(RunRecord(RecordOutcome::Fail, {Line(400, ResultColour::Red, "** Invalid repeat command (@x)")}),
                   {Step(1, 48, "", StepResult::Answered, ReportFine, 0, 120)}),
         "fiscalize.scr",
         {{"line 1: 48,", "0.120", "", "", ""}, {"run", "2.100", "failure", "fail", "** Invalid repeat command (@x)"}}},
        {"a command's step is named by its place",
         WithSteps(Record{FinishedHeader("command", RecordOutcome::Fail), {}, {}, {}},
                   {Step(std::nullopt, 91, "DT000100", StepResult::Refused, ReportRefused, 0, 50)}),
         "command",
         {{"line 1: 91,DT000100", "0.050", "failure", "refused [A1,80,80,80,80,80]", "Syntax error\nCommon error"}}},
        {"a run's checks: a case each after its steps, a failed one a failure with its message",
         WithChecks(WithSteps(RunRecord(RecordOutcome::Fail, {}, "journal used: expected 3 in 0..2000000, got 2097000"),
                              {Step(3, 119, "I", StepResult::Answered, ReportFine, 100, 120)}),
                    {NumericCheck("journal size", CheckResult::Pass, "2097152", 0),
                     NumericCheck("journal used", CheckResult::Fail, "2097000", 0)}),
         "fiscalize.scr",
         {{"line 3: 119,I", "0.120", "", "", ""},
          {"journal size", "0.000", "", "", ""},
          {"journal used", "0.000", "failure", "journal used: expected 3 in 0..2000000, got 2097000", ""}}},
        {"a check that could not be read is an error",
         WithChecks(WithSteps(RunRecord(RecordOutcome::Error, {}, "line 4: no transaction yet"),
                              {Step(5, 48, "", StepResult::Answered, ReportFine, 100, 120)}),
                    {{CheckOutcome{"line 4", 4, "*", std::nullopt, std::nullopt, std::nullopt, std::nullopt, "",
                                   std::nullopt, CheckResult::Error, "line 4: no transaction yet"},
                      std::nullopt}}),
         "fiscalize.scr",
         {{"line 5: 48,", "0.120", "", "", ""}, {"line 4", "0.000", "error", "line 4: no transaction yet", ""}}},
        {"a bulk read with steps stays one case of its kind",
         WithSteps(Record{FinishedHeader("fiscal-memory", RecordOutcome::Pass), {}, {}, {}},
                   {Step(std::nullopt, 121, "0000", StepResult::Answered, ReportFine, 0, 9000)}),
         "fiscal-memory",
         {{"fiscal-memory", "2.500", "", "", ""}}},
    };
}

TEST(ReportsJUnit, EveryRecordIsASuiteOfItsTransactions) {
    const std::vector<JUnitScenario> scenarios = JUnitScenarios();
    std::vector<Record> records;
    for (const JUnitScenario& scenario : scenarios)
        records.push_back(scenario.record);
    const ReadReport report = ReadJUnit(RecordsJUnit(records));
    ASSERT_EQ(report.suites.size(), scenarios.size());

    int tests = 0, failures = 0, errors = 0;
    for (std::size_t s = 0; s < scenarios.size(); ++s) {
        const JUnitScenario& scenario = scenarios[s];
        SCOPED_TRACE(scenario.what);
        const ReadSuite& suite = report.suites[s];
        EXPECT_EQ(suite.attributes.at("name"), scenario.suiteName);
        ASSERT_EQ(suite.cases.size(), scenario.cases.size());
        int suiteFailures = 0, suiteErrors = 0;
        for (std::size_t c = 0; c < scenario.cases.size(); ++c) {
            const ExpectedCase& expected = scenario.cases[c];
            const ReadCase& read = suite.cases[c];
            EXPECT_EQ(read.className, scenario.suiteName);
            EXPECT_EQ(read.name, expected.name);
            EXPECT_EQ(read.time, expected.time) << expected.name;
            EXPECT_EQ(read.verdict, expected.verdict) << expected.name;
            EXPECT_EQ(read.message, expected.message) << expected.name;
            EXPECT_EQ(read.text, expected.text) << expected.name;
            suiteFailures += expected.verdict == "failure";
            suiteErrors += expected.verdict == "error";
        }
        EXPECT_EQ(suite.attributes.at("tests"), std::to_string(scenario.cases.size()));
        EXPECT_EQ(suite.attributes.at("failures"), std::to_string(suiteFailures));
        EXPECT_EQ(suite.attributes.at("errors"), std::to_string(suiteErrors));
        tests += static_cast<int>(scenario.cases.size());
        failures += suiteFailures;
        errors += suiteErrors;
        // A suite fails exactly when its record did not pass.
        const auto outcome = scenario.record.header.outcome;
        EXPECT_EQ(suiteFailures + suiteErrors == 0, !outcome || *outcome == RecordOutcome::Pass);
    }
    EXPECT_EQ(report.attributes.at("tests"), std::to_string(tests));
    EXPECT_EQ(report.attributes.at("failures"), std::to_string(failures));
    EXPECT_EQ(report.attributes.at("errors"), std::to_string(errors));
}

TEST(ReportsJUnit, SuiteCarriesTheHeaderAndTheWholeLog) {
    Record record = RunRecord(RecordOutcome::Pass, {Line(0, ResultColour::Black, "!! " + Cyrillic), Request48,
                                                    Answer48, Elapsed});
    record.header.unit = "DT000123";
    record.header.lineRange = "3-9";
    const ReadReport report = ReadJUnit(RecordsJUnit(std::span<const Record>(&record, 1)));
    ASSERT_EQ(report.suites.size(), 1u);
    const ReadSuite& suite = report.suites[0];
    EXPECT_EQ(suite.attributes.at("timestamp"), "2023-11-14T22:13:20");
    EXPECT_EQ(suite.attributes.at("time"), "2.500");
    EXPECT_EQ(suite.attributes.at("hostname"), "line-3");
    EXPECT_EQ(suite.properties.at("id"), record.header.id);
    EXPECT_EQ(suite.properties.at("unit"), "DT000123");
    EXPECT_EQ(suite.properties.at("lines"), "3-9");
    EXPECT_EQ(suite.properties.at("outcome"), "pass");
    // A record of no product and operation names neither; one that does, both.
    EXPECT_EQ(suite.properties.count("operation") + suite.properties.count("product"), 0u);
    record.header.operation = "final";
    record.header.product = "FP-3";
    const ReadSuite named = ReadJUnit(RecordsJUnit(std::span<const Record>(&record, 1))).suites.at(0);
    EXPECT_EQ(named.properties.at("operation"), "final");
    EXPECT_EQ(named.properties.at("product"), "FP-3");
    EXPECT_EQ(suite.systemOut, "!! " + CyrillicUtf8 + "\n-> 48,\"\"\n<- [80,80,88,80,86,AE](0,0),\"\"\n"
                               "Script execution time 00:00:02.400\n");
}

TEST(ReportsJUnit, ControlCharactersFromThePrinterKeepTheXmlReadable) {
    const std::string answer = std::string("<- [A1,80,80,80,80,80](0,0),\"\x01\x1B") + "\"";
    const Record record = RunRecord(RecordOutcome::Fail, {Request48, Line(200, ResultColour::Red, answer)});
    const ReadReport report = ReadJUnit(RecordsJUnit(std::span<const Record>(&record, 1)));
    ASSERT_EQ(report.suites.size(), 1u);
    ASSERT_EQ(report.suites[0].cases.size(), 1u);
    EXPECT_EQ(report.suites[0].cases[0].message, "<- [A1,80,80,80,80,80](0,0),\"\uFFFD\uFFFD\"");
    EXPECT_NE(report.suites[0].systemOut.find("\uFFFD\uFFFD"), std::string::npos);
}

// ---------------------------------------------------------------- who ran it

// Who ran a record and what it ran, in every report that writes headers: an
// engineering run of a release by a person logged in at a computer of another
// login, and an older record that names none of it (JUnit then names nothing).
TEST(ReportsRunBy, EveryReportCarriesThePersonTheLoginTheReleaseAndTheEngineeringMark) {
    Record named = RunRecord(RecordOutcome::Pass, {Elapsed});
    named.header.operatorName = "Anna Petrova";
    named.header.operatorId = "A17";
    named.header.computerLogin = "anna";
    named.header.releaseNumber = 3;
    named.header.engineering = true;
    const std::vector<Record> records = {named, RunRecord(RecordOutcome::Pass, {Elapsed})};
    const std::vector<RecordHeader> headers = {records[0].header, records[1].header};
    const QJsonValue null;
    const struct {
        QJsonObject json;
        const char* csvEnd;
        std::map<std::string, std::string> junit;
    } expected[] = {
        {{{"operator_id", "A17"}, {"computer_login", "anna"}, {"release", 3}, {"engineering", true}},
         ",A17,anna,3,true\r",
         {{"operator_id", "A17"}, {"computer_login", "anna"}, {"release", "3"}, {"engineering", "true"}}},
        {{{"operator_id", null}, {"computer_login", null}, {"release", null}, {"engineering", false}}, ",,,,false\r", {}},
    };
    const QJsonArray json = QJsonDocument::fromJson(HeadersJson(headers)).array();
    const QList<QByteArray> csv = HeadersCsv(headers).split('\n');
    EXPECT_TRUE(csv[0].endsWith(",product,operator_id,computer_login,release,engineering\r")) << csv[0].toStdString();
    const ReadReport junit = ReadJUnit(RecordsJUnit(records));
    ASSERT_EQ(junit.suites.size(), 2u);
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        for (const QString& key : expected[i].json.keys())
            EXPECT_EQ(json[i].toObject().value(key), expected[i].json[key]) << key.toStdString();
        EXPECT_TRUE(csv[i + 1].endsWith(expected[i].csvEnd)) << csv[i + 1].toStdString();
        std::map<std::string, std::string> properties;
        for (const auto& [name, value] : junit.suites[static_cast<std::size_t>(i)].properties)
            if (expected[0].junit.count(name))
                properties[name] = value;
        EXPECT_EQ(properties, expected[i].junit);
    }
    const std::string html = RecordHtml(named).toStdString();
    for (const char* shown : {"<dd>Anna Petrova (A17), login anna</dd>", "<dd>run (engineering)</dd>",
                              "<dt>Release</dt><dd>3</dd>", "engineering run: counted in no yield"})
        EXPECT_NE(html.find(shown), std::string::npos) << shown;
    EXPECT_EQ(RecordHtml(records[1]).toStdString().find("engineering"), std::string::npos);
    UnitEvent event;
    event.engineering = true;
    EXPECT_EQ(QJsonDocument::fromJson(UnitHistoryJson({&event, 1})).array()[0].toObject()["engineering"], true);
    // The person as people read it: the ID after the name, the login only where it is not the name.
    for (const auto& [name, id, login, shown] :
         {std::tuple("ivana", "", "ivana", "ivana"), std::tuple("", "A17", "", "A17"),
          std::tuple("", "", "anna", "login anna")}) {
        RecordHeader header;
        header.operatorName = name;
        header.operatorId = id;
        header.computerLogin = login;
        EXPECT_EQ(OperatorShown(header), shown);
    }
}

}  // namespace
}  // namespace tamrisk
