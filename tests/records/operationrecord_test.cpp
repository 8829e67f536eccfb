#include "operationrecord.h"

#include "linkrig.h"
#include "recordtesting.h"
#include "resultlog.h"
#include "scriptedio.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tamrisk {
namespace {

using namespace std::chrono_literals;
using testing::Chunk;
using testing::ScriptedIo;

const StatusBytesArray Fine{0, 0, 0, 0, 0, 0x08};
const StatusBytesArray Refused{0x21, 0x02, 0, 0, 0, 0x08};

// A printer over a scripted line that answers each command after 10 ms, with
// the status the test gives for the command's nth request; a request it has no
// status for goes unanswered.
struct Printer : testing::LinkRig<ScriptedIo> {
    Printer() {
        io->respond = [this](const std::string& written) {
            const auto request = DecodeRequestFrame(written);
            const int n = seen[request->command]++;
            const auto& statuses = answers[request->command];
            if (n >= static_cast<int>(statuses.size()))
                return std::vector<Chunk>{};
            return std::vector<Chunk>{
                {10ms, EncodeAnswerFrame(request->sequence, request->command, "A" + request->data, statuses[n])}};
        };
    }
    std::map<int, std::vector<StatusBytesArray>> answers;
    std::map<int, int> seen;
};

class OperationRecordSteps : public testing::RecordsTest {};

// One transaction sent for a script line (0: none).
struct Sent {
    int line;
    int command;
    std::string data;
};

// Each transaction becomes a step with the line it was sent for; a bulk read's
// consecutive transactions of one command make one phase step, which shows its
// first transaction's line and data and its first failure (or its last
// transaction while none failed).
TEST_F(OperationRecordSteps, TransactionsBecomeStepsAndBulkReadsMergeIntoPhases) {
    const std::vector<Sent> sent = {{2, 121, "0000"}, {3, 121, "0040"}, {3, 121, "0080"},
                                    {3, 121, "00C0"}, {4, 48, ""},      {0, 121, "0100"}};
    const std::map<int, std::vector<StatusBytesArray>> answers = {{121, {Fine, Refused, Fine, Fine, Fine}},
                                                                  {48, {}}};
    struct Expected {
        std::optional<int> line;
        int command;
        std::string data;
        std::optional<StatusBytesArray> status;
        std::string answer;
        StepResult result;
        int attempts;
        qint64 tMs, durationMs;
        int transactions, failures;
    };
    const qint64 silent = 2 * (2000 + 300);  // both attempts of an unanswered request, whole milliseconds
    const std::vector<Expected> run = {
        {2, 121, "0000", Fine, "A0000", StepResult::Answered, 1, 0, 10, 1, 0},
        {3, 121, "0040", Refused, "A0040", StepResult::Refused, 1, 10, 10, 1, 1},
        {3, 121, "0080", Fine, "A0080", StepResult::Answered, 1, 20, 10, 1, 0},
        {3, 121, "00C0", Fine, "A00C0", StepResult::Answered, 1, 30, 10, 1, 0},
        {4, 48, "", std::nullopt, "", StepResult::NoAnswer, 2, 40, silent, 1, 1},
        {std::nullopt, 121, "0100", Fine, "A0100", StepResult::Answered, 1, 40 + silent, 10, 1, 0}};
    std::vector<Expected> command = run;  // the same steps without script lines
    for (Expected& e : command)
        e.line.reset();
    const std::map<std::string, std::vector<Expected>> cases = {
        {"run", run},
        {"command", command},
        {"code-memory",
         {{2, 121, "0000", Refused, "A0040", StepResult::Refused, 4, 0, 40, 4, 1},
          {4, 48, "", std::nullopt, "", StepResult::NoAnswer, 2, 40, silent, 1, 1},
          {std::nullopt, 121, "0100", Fine, "A0100", StepResult::Answered, 1, 40 + silent, 10, 1, 0}}},
    };
    for (const auto& [kind, expected] : cases) {
        Printer printer;
        printer.answers = answers;
        OperationRecord record(RecordsRoute{Path(), {}}, printer.host, {}, kind);
        record.WatchTransactions(*printer.transactor);
        record.KeepWhole();
        printer.transactor->ExecCommand(48, "before the start");  // not the record's
        record.Start();
        for (const Sent& s : sent) {
            record.LineStarting(s.line);
            printer.transactor->ExecCommand(s.command, s.data);
        }
        record.Finish(RecordOutcome::Fail, "refused");
        printer.transactor->ExecCommand(48, "after the end");  // not the record's either
        const std::vector<RecordStep> steps = record.Snapshot().steps;
        // The records file holds what the operation kept.
        const StoreResult<Record> stored = store.Load(record.Id());
        ASSERT_TRUE(StoreOk(stored));
        EXPECT_EQ(stored->steps, steps) << kind;
        ASSERT_EQ(steps.size(), expected.size()) << kind;
        for (std::size_t i = 0; i < steps.size(); ++i) {
            const RecordStep& step = steps[i];
            const Expected& e = expected[i];
            const std::string at = kind + " step " + std::to_string(i);
            EXPECT_EQ(step.line, e.line) << at;
            EXPECT_EQ(step.command, e.command) << at;
            EXPECT_EQ(step.data, e.data) << at;
            EXPECT_EQ(step.status, e.status) << at;
            EXPECT_EQ(step.answer, e.answer) << at;
            EXPECT_EQ(step.result, e.result) << at;
            EXPECT_EQ(step.attempts, e.attempts) << at;
            EXPECT_EQ(step.tMs, e.tMs) << at;
            EXPECT_EQ(step.durationMs, e.durationMs) << at;
            EXPECT_EQ(step.transactions, e.transactions) << at;
            EXPECT_EQ(step.failures, e.failures) << at;
        }
    }
}

// A failed operation's reason: the answer line of its first failing step when
// that came first, else the red line that came before it; the text as shown.
TEST_F(OperationRecordSteps, TheReasonIsTheFirstFailureAsShown) {
    struct Case {
        const char* what;
        std::vector<std::string> events;  // "tx <command>" sends and logs a transaction; else a red line
        std::string reason;
    };
    const std::string refusedLine = "<- [21,02,00,00,00,08](0,0),\"A\"";
    const std::vector<Case> cases = {
        {"a refused step first", {"tx 90", "tx 91", "paper out"}, refusedLine},
        {"an operator's message first", {"tx 90", "paper out", "tx 91"}, "paper out"},
        {"no failing step", {"tx 90", "number not claimed"}, "number not claimed"},
        {"nothing red", {"tx 90"}, ""},
    };
    for (const Case& c : cases) {
        Printer printer;
        printer.answers = {{90, {Fine}}, {91, {Refused}}};
        OperationRecord record(std::nullopt, printer.host, {}, "run");
        record.WatchTransactions(*printer.transactor);
        record.Start();
        ResultSink& sink = record.Keep();
        for (const std::string& event : c.events) {
            if (event.starts_with("tx "))
                LogTransaction(*printer.transactor, sink, std::stoi(event.substr(3)), "", "");
            else
                sink.AppendResultLine(event, ResultColour::Red);
        }
        EXPECT_EQ(record.FailureReason(), c.reason) << c.what;
        const Verdict verdict = RunVerdict(RunOutcome::Completed, record, "port lost");
        EXPECT_EQ(verdict.outcome, c.reason.empty() ? RecordOutcome::Pass : RecordOutcome::Fail) << c.what;
        EXPECT_EQ(verdict.reason, c.reason) << c.what;
    }
}

// A check made by a run: named `name`, ended so.
CheckOutcome Check(const std::string& name, CheckResult result) {
    CheckOutcome check;
    check.name = name;
    check.line = 7;
    check.field = "2";
    check.op = CheckOperator::In;
    check.low = 0;
    check.high = 2000000;
    check.units = "bytes";
    check.value = "2097000";
    check.result = result;
    check.message = name + ": expected 2 in 0..2000000, got 2097000";
    return check;
}

// Each check is kept, in the file and the whole record alike, with the index of
// the last step before it (none before the first); the run's verdict is for
// its first check that did not pass (an error when it could not be read), then
// for red lines, and leaves the verdicts of runs that did not go on as they were.
TEST_F(OperationRecordSteps, ChecksAreKeptWithTheirStepAndWeighInTheVerdict) {
    struct Case {
        const char* what;
        // "tx <command>" a logged transaction; "pass|fail|error <name>" a check
        // (a failed or unread one also shows its red line); else a red line.
        std::vector<std::string> events;
        RunOutcome ended;
        RecordOutcome outcome;
        std::string reason;
        std::vector<std::optional<int>> steps;  // of the checks, in order
    };
    const std::string refusedLine = "<- [21,02,00,00,00,08](0,0),\"A\"";
    const auto message = [](const char* name) { return Check(name, CheckResult::Fail).message; };
    const std::vector<Case> cases = {
        {"checks that held", {"pass first", "tx 90", "pass size", "tx 90", "tx 90", "pass used"},
         RunOutcome::Completed, RecordOutcome::Pass, "", {std::nullopt, 0, 2}},
        {"the first failed check names the failure",
         {"tx 90", "pass size", "fail used", "tx 90", "fail shape"}, RunOutcome::Completed, RecordOutcome::Fail,
         message("used"), {0, 0, 1}},
        {"a failed check comes before an earlier red answer", {"tx 91", "fail used"}, RunOutcome::Completed,
         RecordOutcome::Fail, message("used"), {0}},
        {"a red answer alone fails as before", {"tx 91", "pass size"}, RunOutcome::Completed, RecordOutcome::Fail,
         refusedLine, {0}},
        {"a check not read after a failed one changes nothing", {"tx 90", "fail used", "error bad", "error worse"},
         RunOutcome::Completed, RecordOutcome::Fail, message("used"), {0, 0, 0}},
        {"a check not read before a failed one is an error", {"tx 90", "error bad", "fail used"},
         RunOutcome::Completed, RecordOutcome::Error, message("bad"), {0, 0}},
        {"stopped at a failed check", {"tx 90", "fail used"}, RunOutcome::StoppedAtFailure, RecordOutcome::Fail,
         message("used"), {0}},
        {"stopped at a red answer", {"tx 91"}, RunOutcome::StoppedAtFailure, RecordOutcome::Fail, refusedLine, {}},
        {"a cancel stays aborted", {"tx 90", "error bad", "cancelled"}, RunOutcome::Cancelled,
         RecordOutcome::Aborted, "cancelled", {0}},
        {"a lost port stays aborted", {"tx 90", "fail used"}, RunOutcome::PortLost, RecordOutcome::Aborted,
         "port lost", {0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Printer printer;
        printer.answers = {{90, {Fine, Fine, Fine}}, {91, {Refused}}};
        OperationRecord record(RecordsRoute{Path(), {}}, printer.host, {}, "run");
        record.WatchTransactions(*printer.transactor);
        record.KeepWhole();
        record.Checked(Check("before the start", CheckResult::Error));  // not the record's
        record.Start();
        ResultSink& sink = record.Keep();
        std::vector<CheckOutcome> made;
        for (const std::string& event : c.events) {
            const std::size_t blank = event.find(' ');
            const std::string word = event.substr(0, blank), rest = blank == std::string::npos ? "" : event.substr(blank + 1);
            const std::map<std::string, CheckResult> results = {
                {"pass", CheckResult::Pass}, {"fail", CheckResult::Fail}, {"error", CheckResult::Error}};
            if (word == "tx") {
                LogTransaction(*printer.transactor, sink, std::stoi(rest), "", "");
            } else if (const auto result = results.find(word); result != results.end()) {
                made.push_back(Check(rest, result->second));
                if (result->second != CheckResult::Pass)
                    sink.AppendResultLine("?? " + made.back().message, ResultColour::Red);
                record.Checked(made.back());
            } else {
                sink.AppendResultLine(event, ResultColour::Red);
            }
        }
        const Verdict verdict = RunVerdict(c.ended, record, "port lost", "");
        EXPECT_EQ(verdict.outcome, c.outcome);
        EXPECT_EQ(verdict.reason, c.reason);
        record.Finish(verdict.outcome, verdict.reason);
        record.Checked(Check("after the end", CheckResult::Error));  // nor this
        std::vector<RecordCheck> expected;
        for (std::size_t i = 0; i < made.size(); ++i)
            expected.push_back({made[i], c.steps.at(i)});
        EXPECT_EQ(record.Snapshot().checks, expected);
        const StoreResult<Record> stored = store.Load(record.Id());
        ASSERT_TRUE(StoreOk(stored));
        EXPECT_EQ(stored->checks, expected);
    }
}

}  // namespace
}  // namespace tamrisk
