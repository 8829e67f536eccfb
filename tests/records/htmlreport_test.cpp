// A record's page shows every text that came from a printer or a script as
// characters: markup in any of them is escaped, never taken as markup.

#include "reports.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace tamrisk {
namespace {

// A failed run with a check, a serial number, a step and a log line, all plain.
Record PlainRun() {
    Record record;
    record.header.id = "00000000-0000-4000-8000-000000000001";
    record.header.kind = "run";
    record.header.station = "line-1";
    record.header.operatorName = "ivana";
    record.header.unit = "U-1";
    record.header.script = "final.inp";
    record.header.port = "SIM0";
    record.header.outcome = RecordOutcome::Fail;
    record.header.reason = "size: failed";
    CheckOutcome check;
    check.name = "size";
    check.line = 4;
    check.field = "2";
    check.op = CheckOperator::Equal;
    check.expected = "7";
    check.value = "8";
    check.result = CheckResult::Fail;
    check.message = "size: expected 2 = 7, got 8";
    record.checks = {{check, 0}};
    record.serials = {{"91,DT######", "91,DT000100", 3, SerialResult::Answered}};
    record.steps = {{3, 91, "DT000100", StatusBytesArray{}, "P,8", StepResult::Answered, 1, 5, 20}};
    record.log = {{0, ResultColour::Red, "?? size: failed", 4}};
    return record;
}

TEST(RecordPage, EveryTextFromAPrinterOrAScriptIsShownAsCharacters) {
    using Mark = std::function<void(Record&, const std::string&)>;
    const struct {
        const char* field;
        Mark mark;
    } cases[] = {
        {"unit", [](Record& r, const std::string& m) { r.header.unit = m; }},
        {"station", [](Record& r, const std::string& m) { r.header.station = m; }},
        {"operator", [](Record& r, const std::string& m) { r.header.operatorName = m; }},
        {"script", [](Record& r, const std::string& m) { r.header.script = m; }},
        {"port", [](Record& r, const std::string& m) { r.header.port = m; }},
        {"reason", [](Record& r, const std::string& m) { r.header.reason = m; }},
        {"check's name", [](Record& r, const std::string& m) { r.checks[0].check.name = m; }},
        {"check's field", [](Record& r, const std::string& m) { r.checks[0].check.field = m; }},
        {"check's expected text", [](Record& r, const std::string& m) { r.checks[0].check.expected = m; }},
        {"check's value found", [](Record& r, const std::string& m) { r.checks[0].check.value = m; }},
        {"check's message", [](Record& r, const std::string& m) { r.checks[0].check.message = m; }},
        {"check's units",
         [](Record& r, const std::string& m) {
             CheckOutcome& check = r.checks[0].check;
             check.op = CheckOperator::In;
             check.expected.reset();
             check.low = 0;
             check.high = 10;
             check.units = m;
         }},
        {"serial's number space", [](Record& r, const std::string& m) { r.serials[0].space = m; }},
        {"serial sent", [](Record& r, const std::string& m) { r.serials[0].data = m; }},
        {"step's data", [](Record& r, const std::string& m) { r.steps[0].data = m; }},
        {"step's answer", [](Record& r, const std::string& m) { r.steps[0].answer = m; }},
        {"log line", [](Record& r, const std::string& m) { r.log[0].text = m; }},
    };
    const std::string markup = "<img src=x onerror=alert(1)>";
    const std::string shown = "&lt;img src=x onerror=alert(1)&gt;";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.field);
        Record record = PlainRun();
        c.mark(record, markup);
        const std::string page = RecordHtml(record).toStdString();
        EXPECT_EQ(page.find("<img"), std::string::npos);
        EXPECT_NE(page.find(shown), std::string::npos);
    }
}

}  // namespace
}  // namespace tamrisk
