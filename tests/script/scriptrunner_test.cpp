// Script runs against the printer model on an in-memory line, with a fake host
// whose clock moves only when the run sleeps or waits.

#include "scriptrig.h"
#include "seriallink.h"
#include "transaction.h"

#include <gtest/gtest.h>

#include <pthread.h>

#include <algorithm>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <set>
#include <ostream>

namespace tamrisk {
namespace {

using testing::FakeHost;
using testing::Logged;
using testing::ModelIo;

struct Rig : testing::ScriptRig {
    using ScriptRig::ScriptRig;

    // Logged lines without the final execution time.
    std::vector<std::string> Body() const {
        auto texts = sink.Texts();
        EXPECT_FALSE(texts.empty());
        if (!texts.empty())
            texts.pop_back();
        return texts;
    }
};

const std::string kHealthy = "[00,00,00,00,00,3A](0,0)";

TEST(ScriptRun, EveryLineKindLeavesItsLines) {
    Rig rig;
    EXPECT_EQ(rig.Run({"@Demo of every line", "^Line one\\nLine two", "#1500", "#2000", "$ ignored text",
                       "90,A\\tB", "+1;91,DT000100", "free text", "", ":nowhere"}),
              RunOutcome::Completed);
    const std::vector<std::string> expected = {
        "## Wait 1500 milliseconds ...",
        "## Wait 2 seconds ...",
        "$$ Set RTC using PC clock: 07.03.2012 09:05:41",
        "-> 61,\"07-03-12 09:05\"",
        "<- " + kHealthy + ",\"\"",
        "-> 90,\"A\\tB\"",
        "<- " + kHealthy + ",\"\"",
        "-> 91,\"DT000100\"",
        "<- " + kHealthy + ",\"\"",
        "!! free text",
    };
    EXPECT_EQ(rig.Body(), expected);
    EXPECT_EQ(rig.SentData(), (std::vector<std::string>{"07-03-12 09:05", "A\tB", "DT000100"}));
    ASSERT_EQ(rig.host.messages.size(), 1u);
    EXPECT_EQ(rig.host.messages[0].text, "Line one\nLine two");
    EXPECT_EQ(rig.host.messages[0].caption, "Message");
    EXPECT_EQ(rig.sink.lines[2].colour, ResultColour::Black);
    EXPECT_EQ(rig.sink.lines[3].colour, ResultColour::Blue);
    EXPECT_EQ(rig.sink.lines[4].colour, ResultColour::Green);
    EXPECT_EQ(rig.sink.Texts().back(), "Script execution time 3.50 seconds\r\n");
    EXPECT_EQ(rig.io->model().Clock().day, 7);
}

TEST(ScriptRun, NotConnectedShowsOnlyTheMessage) {
    Rig rig;
    rig.link->ClosePort();
    EXPECT_EQ(rig.Run({"90"}), RunOutcome::NotStarted);
    EXPECT_TRUE(rig.sink.lines.empty());
    ASSERT_EQ(rig.host.messages.size(), 1u);
    EXPECT_EQ(rig.host.messages[0].text, "Serial port not open");
}

TEST(ScriptRun, RepeatAroundAnIncrementingLineAdvancesItEachPass) {
    Rig rig;
    StringScriptList list({"*3,Loop", "+1;91,DT000100", ":Loop", "90"});
    rig.Run(list);
    EXPECT_EQ(rig.SentData(), (std::vector<std::string>{"DT000100", "DT000101", "DT000102", ""}));
    EXPECT_EQ(list.Line(1), "+1;91,DT000103");
    EXPECT_TRUE(list.Changed());
    const auto texts = rig.sink.Texts();
    EXPECT_EQ(texts[0], "** Repeating 1 from 3 for Label \"Loop\"");
    EXPECT_EQ(texts[6], "** Repeating 3 from 3 for Label \"Loop\"");
}

TEST(ScriptRun, NestedBlocksRunTheInnerBlockSixTimes) {
    Rig rig;
    rig.Run({"*2,Outer", "90,o", "*3,Inner", "91,i", ":Inner", ":Outer"});
    const auto sent = rig.SentData();
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "o"), 2);
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "i"), 6);
    const auto texts = rig.sink.Texts();
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "** Repeating 1 from 2 for Label \"Outer\""), 1);
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "** Repeating 3 from 3 for Label \"Inner\""), 2);
}

// Runs `work` on a thread whose stack holds 512 KiB, far less than a call per
// nesting level of the deep script below would take.
void RunOnSmallStack(const std::function<void()>& work) {
    pthread_attr_t attributes;
    ASSERT_EQ(pthread_attr_init(&attributes), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attributes, 512 * 1024), 0);
    pthread_t thread;
    auto run = [](void* argument) -> void* {
        (*static_cast<const std::function<void()>*>(argument))();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attributes, run, const_cast<std::function<void()>*>(&work)), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
}

TEST(ScriptRun, DeeplyNestedBlocksRunWithoutAStackPerLevel) {
    constexpr std::size_t Depth = 5000;
    std::vector<std::string> script;
    for (std::size_t level = 0; level < Depth; ++level)
        script.push_back("*1,L" + std::to_string(level));
    script.push_back("innermost");
    for (std::size_t level = Depth; level-- > 0;)
        script.push_back(":L" + std::to_string(level));
    script.push_back("after");
    Rig rig;
    RunOnSmallStack([&] { EXPECT_EQ(rig.Run(script), RunOutcome::Completed); });
    const auto texts = rig.Body();
    ASSERT_EQ(texts.size(), Depth + 2);
    for (std::size_t level = 0; level < Depth; ++level)
        ASSERT_EQ(texts[level], "** Repeating 1 from 1 for Label \"L" + std::to_string(level) + "\"");
    EXPECT_EQ(texts[Depth], "!! innermost");
    EXPECT_EQ(texts[Depth + 1], "!! after");
}

TEST(ScriptRun, RepeatLabelRules) {
    struct Case {
        std::vector<std::string> script;
        int sends;     // of "90,x" lines
        int passes;    // "** Repeating" lines
        bool invalid;  // "** Invalid repeat command" in red
    };
    const std::string label15(15, 'L'), label16(16, 'L');
    const std::vector<Case> cases = {
        {{"*3,Loop", "90,x", ":Loop"}, 3, 3, false},
        {{"*3,Loop", "90,x", ":loop"}, 1, 0, true},
        {{"*3,Loop", "90,x", ":Loop "}, 1, 0, true},
        {{"*3,Loop", "90,x", ":Loop end"}, 1, 0, true},
        {{"*3, Loop", "90,x", ":Loop"}, 3, 3, false},
        {{"*3 ,Loop", "90,x", ":Loop"}, 1, 0, true},
        {{"*3,My Loop", "90,x", ":My"}, 3, 3, false},
        {{"*0,L", "90,x", ":L"}, 1, 0, false},
        {{"*10001,L", "90,x", ":L"}, 1, 0, false},
        {{"*1,L", "90,x", ":L"}, 1, 1, false},
        {{"*10000,L", ":L"}, 0, 10000, false},
        {{"*2," + label15, "90,x", ":" + label15}, 2, 2, false},
        {{"*2," + label16, "90,x", ":" + label16}, 1, 0, true},
        {{"90,x", "*3,L"}, 1, 0, false},  // the last line of the list
        {{"*", "90,x"}, 1, 0, true},      // no count at all
        {{"*x,L", "90,x", ":L"}, 1, 0, true},
        {{"*,L", "90,x", ":L"}, 1, 0, true},
        // An inner label after the outer label is not found, on every outer pass.
        {{"*2,A", "*3,B", "90,x", ":A", ":B"}, 2, 2, true},
    };
    for (const Case& c : cases) {
        Rig rig;
        rig.Run(c.script);
        EXPECT_EQ(static_cast<int>(rig.SentData().size()), c.sends) << c.script[0];
        int passes = 0, invalid = 0;
        for (const auto& line : rig.sink.lines) {
            passes += line.text.rfind("** Repeating ", 0) == 0;
            if (line.text.rfind("** Invalid repeat command (", 0) == 0) {
                ++invalid;
                EXPECT_EQ(line.colour, ResultColour::Red);
            }
        }
        EXPECT_EQ(passes, c.passes) << c.script[0];
        EXPECT_EQ(invalid > 0, c.invalid) << c.script[0];
        // Every line is accounted for: passes, invalid notices, two per command, the time.
        EXPECT_EQ(rig.sink.lines.size(), static_cast<std::size_t>(passes + invalid + 2 * c.sends + 1)) << c.script[0];
    }
}

TEST(ScriptRun, WaitsSleepAndReportTheirCount) {
    struct Case {
        std::string line;
        std::string logged;
        double waitedMs;
    };
    const std::vector<Case> cases = {
        {"#1500", "## Wait 1500 milliseconds ...", 1500},
        {"#1050", "## Wait 1050 milliseconds ...", 1000},
        {"#2000", "## Wait 2 seconds ...", 2000},
        {"#700000", "## Wait 700 seconds ...", 600000},
        {"#", "## Wait 0 seconds ...", 0},
        {"#999", "## Wait 999 milliseconds ...", 999},
        {"#-5", "## Wait -5 milliseconds ...", 0},
        {"#-3000", "## Wait -3 seconds ...", 0},
    };
    for (const Case& c : cases) {
        Rig rig;
        rig.Run({c.line});
        EXPECT_EQ(rig.sink.Texts().at(0), c.logged);
        EXPECT_NEAR(rig.host.elapsedMs(), c.waitedMs, 0.5) << c.line;
    }
}

TEST(ScriptRun, CancelEndsALongWaitWithinASlice) {
    Rig rig;
    rig.host.onEvents = [&] {
        if (rig.host.elapsedMs() >= 3000)
            rig.state.CancelRequest = true;
    };
    EXPECT_EQ(rig.Run({"#10000", "90"}), RunOutcome::Cancelled);
    EXPECT_TRUE(rig.io->written.empty());
    EXPECT_NEAR(rig.host.elapsedMs(), 3000, 0.5);  // the slice in which it was pressed
    const auto& lines = rig.sink.lines;
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1].text, "Script cancelled !!!");
    EXPECT_EQ(lines[1].colour, ResultColour::Red);
    EXPECT_EQ(lines[2].text, "Script execution time 3.00 seconds\r\n");
    EXPECT_FALSE(rig.state.CancelRequest);
}

TEST(ScriptRun, CancelDuringAShortWaitLetsItFinish) {
    Rig rig;
    rig.host.onEvents = [&] {
        if (rig.host.elapsedMs() >= 500)
            rig.state.CancelRequest = true;
    };
    rig.Run({"#1000", "90"});
    EXPECT_EQ(rig.host.sleeps, std::vector<int>{1000});
    EXPECT_TRUE(rig.io->written.empty());
    EXPECT_EQ(rig.sink.lines.at(1).text, "Script cancelled !!!");
}

TEST(ScriptRun, AYesToTheRetryQuestionResendsAfterAPause) {
    Rig rig;
    int dropped = 0;
    const auto respond = rig.io->respond;
    rig.io->respond = [&](const std::string& written) {
        auto chunks = respond(written);
        if (dropped < 2) {  // the printer misses both attempts of the first sending
            ++dropped;
            chunks.clear();
        }
        return chunks;
    };
    rig.host.answers = {true};
    StringScriptList list({"+1;91,DT000100"});
    rig.Run(list);
    const std::vector<std::string> expected = {
        "-> 91,\"DT000100\"", "<- [00,00,00,00,00,00](2,0),\"\"",
        "-> 91,\"DT000100\"", "<- " + kHealthy + ",\"\"",
    };
    EXPECT_EQ(rig.Body(), expected);
    EXPECT_EQ(rig.sink.lines[1].colour, ResultColour::Red);
    EXPECT_EQ(list.Line(0), "+1;91,DT000101");
    EXPECT_EQ(rig.host.sleeps, (std::vector<int>{300, 300, 500}));
    EXPECT_FALSE(rig.state.RepeatRequest);
}

// A request that went out without a valid answer may have been carried out:
// its line is red but its serial number advances. Only a definite refusal
// (the printer's common error, or nothing sent) keeps it.
TEST(ScriptRun, UnknownOutcomesAdvanceDefiniteRefusalsDoNot) {
    struct Case {
        const char* name;
        std::optional<sim::FaultKind> fault;
        std::string line;
        std::string after;
        std::string answer;
    };
    const std::string longData(230, 'x');
    const std::vector<Case> cases = {
        {"no answer", sim::FaultKind::NoAnswer, "+1;91,DT000100", "+1;91,DT000101", "<- [00,00,00,00,00,00](2,0),\"\""},
        {"bad checksum", sim::FaultKind::BadChecksum, "+1;91,DT000100", "+1;91,DT000101", ""},
        {"too long for a frame", std::nullopt, "+1;91,7" + longData, "+1;91,7" + longData,
         "<- [00,00,00,00,00,00](0,0),\"\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::SimOptions options;
        if (c.fault) {
            options.faultRate = 1;
            options.faultKinds = {*c.fault};
        }
        Rig rig(options);
        StringScriptList list({c.line, "90"});
        rig.Run(list);
        EXPECT_EQ(list.Line(0), c.after);
        if (!c.answer.empty()) {
            EXPECT_EQ(rig.sink.lines.at(1).text, c.answer);
        }
        EXPECT_EQ(rig.sink.lines.at(1).colour, ResultColour::Red);
        EXPECT_EQ(rig.sink.lines.at(2).text, "-> 90,\"\"");  // the run goes on
    }
}

TEST(ScriptRun, LostPortEndsTheRunAtItsNextCheck) {
    Rig rig;
    rig.runner = std::make_unique<ScriptRunner>(*rig.transactor, rig.host, rig.sink,
                                                [&rig] { return rig.station->Connected; });
    int lostCalls = 0;
    const auto subscription = rig.station->OnConnectionLost([&] { ++lostCalls; });
    rig.io->answerDelay = std::chrono::milliseconds(500);
    bool unplugged = false;
    rig.host.onEvents = [&] {
        if (!unplugged && rig.io->written.size() == 2) {
            unplugged = true;
            rig.io->unplug("No such device");
        }
    };
    StringScriptList list({"90,a", "+1;90,N5", "90,c", "90,d"});
    EXPECT_EQ(rig.Run(list), RunOutcome::PortLost);
    EXPECT_EQ(rig.io->written.size(), 2u);  // one attempt, nothing after
    EXPECT_EQ(list.Line(1), "+1;90,N6");    // it went out: the outcome is unknown
    EXPECT_FALSE(rig.station->Connected);
    EXPECT_EQ(lostCalls, 1);
    EXPECT_TRUE(rig.host.questions.empty());
    ASSERT_EQ(rig.host.messages.size(), 1u);
    EXPECT_EQ(rig.host.messages[0].text, "Serial port lost");
    EXPECT_EQ(rig.host.messages[0].detail, "No such device");
    EXPECT_EQ(rig.host.messages[0].caption, "Error");
    const auto texts = rig.sink.Texts();
    ASSERT_GE(texts.size(), 2u);
    EXPECT_EQ(texts[texts.size() - 2], "Serial port lost !!!");
    EXPECT_EQ(rig.sink.lines[texts.size() - 2].colour, ResultColour::Red);
    EXPECT_EQ(texts.back().rfind("Script execution time ", 0), 0u);
    // The device is back: connecting again works.
    EXPECT_TRUE(rig.station->Connect(0));
    EXPECT_EQ(rig.Run(list), RunOutcome::Completed);
}

// A port lost during a long wait ends the run within one slice of the loss, and
// nothing after it is logged as sent.
TEST(ScriptRun, ALostPortEndsALongWaitWithinASlice) {
    Rig rig;
    rig.host.onEvents = [&] {
        if (rig.link->IsOpen() && rig.host.elapsedMs() >= 3050)
            rig.io->unplug("The device hung up (/dev/pts/3)");
    };
    EXPECT_EQ(rig.Run({"#10000", "74"}), RunOutcome::PortLost);
    EXPECT_LE(rig.host.elapsedMs(), 3050 + WaitSliceMs);
    EXPECT_TRUE(rig.io->written.empty());
    const auto texts = rig.sink.Texts();
    EXPECT_EQ(std::count_if(texts.begin(), texts.end(), [](const std::string& t) { return t.rfind("->", 0) == 0; }),
              0);
    // A transaction asked for after the loss logs no request line either.
    const std::size_t logged = rig.sink.lines.size();
    EXPECT_EQ(LogTransaction(*rig.transactor, rig.sink, 74, "", ""), ExecResult::ExecNoAnswer);
    EXPECT_EQ(rig.sink.lines.size(), logged);
    EXPECT_EQ(rig.host.messages.back().text, "Serial port not open");
}

TEST(ScriptRun, PrinterErrorIsRedAndAdvancesNothing) {
    sim::SimOptions options;
    options.statusOverrides[91] = {0x20, 0, 0, 0, 0, 0};
    Rig rig(options);
    StringScriptList list({"+1;91,DT000100", "+1;92,N7"});
    rig.Run(list);
    EXPECT_EQ(list.Line(0), "+1;91,DT000100");
    EXPECT_EQ(list.Line(1), "+1;92,N8");
    EXPECT_EQ(rig.sink.lines.at(1).colour, ResultColour::Red);
    EXPECT_EQ(rig.sink.lines.at(3).colour, ResultColour::Green);
}

TEST(ScriptRun, WriteBackKeepsTextAfterAControlCharacter) {
    Rig rig;
    StringScriptList list({"+1+0+2;91,A099,B5,C998\tserial numbers of line 3"});
    rig.Run(list);
    EXPECT_EQ(list.Line(0), "+1+0+2;91,A100,B5,C000\tserial numbers of line 3");
    EXPECT_EQ(rig.SentData().at(0), "A099,B5,C998");
}

TEST(ScriptRun, ARepeatRequestFromBeforeTheRunIsDropped) {
    Rig rig;
    rig.state.RepeatRequest = true;
    rig.Run({"90"});
    EXPECT_EQ(rig.io->written.size(), 1u);
}

TEST(ScriptRun, RepeatAndCancelTogetherNeverResend) {
    Rig rig;
    bool pressed = false;
    rig.host.onEvents = [&] {
        if (!pressed && !rig.io->written.empty()) {
            pressed = true;  // Repeat, then Cancel, in the status dialog during the transaction
            rig.state.RepeatRequest = true;
            rig.state.CancelRequest = true;
        }
    };
    EXPECT_EQ(rig.Run({"90", "91"}), RunOutcome::Cancelled);
    EXPECT_EQ(rig.io->written.size(), 1u);
    EXPECT_FALSE(rig.state.RepeatRequest);
}

TEST(ScriptRun, RepeatFromTheStatusDialogResendsTheCurrentCommand) {
    Rig rig;
    bool pressed = false;
    rig.host.onEvents = [&] {
        if (!pressed && rig.io->written.size() == 1) {
            pressed = true;
            rig.state.RepeatRequest = true;
        }
    };
    rig.Run({"90,a", "91,b"});
    EXPECT_EQ(rig.SentData(), (std::vector<std::string>{"a", "a", "b"}));
}

TEST(ScriptRun, OverlongLinesAndDataAreReportedNotSent) {
    Rig rig;
    const std::string longData(256, 'd');
    const std::string longLine = "90," + std::string(509, 'x');  // 512 characters
    rig.Run({"90," + longData, longLine, "90," + std::string(255, 'd'), "91"});
    const auto& lines = rig.sink.lines;
    EXPECT_EQ(lines.at(0).text, "** Data too long, not sent (256 characters, at most 255)");
    EXPECT_EQ(lines.at(0).colour, ResultColour::Red);
    EXPECT_EQ(lines.at(1).text, "** Line too long, not sent (512 characters, at most 511)");
    // 255 characters fit a script line but not a frame: the link refuses it.
    EXPECT_EQ(lines.at(3).colour, ResultColour::Red);
    EXPECT_EQ(rig.host.messages.at(0).text, "Command data too long (255 bytes, at most 219)");
    EXPECT_EQ(rig.SentData(), std::vector<std::string>{""});
}

TEST(ScriptRun, TwoRunsFollowEachOtherAndCommentsArePrinted) {
    Rig rig;
    rig.Run({"just words", "  ", " #100"});
    rig.Run({"90"});
    const std::vector<std::string> expected = {
        "!! just words", "!!   ", "!!  #100", "Script execution time 0.00 seconds\r\n",
        "-> 90,\"\"", "<- " + kHealthy + ",\"\"", "Script execution time 0.00 seconds\r\n",
    };
    EXPECT_EQ(rig.sink.Texts(), expected);
}

TEST(ScriptRun, HooksFollowTheRun) {
    Rig rig;
    std::vector<std::string> events;
    rig.runner->SetHooks({[&](bool running) { events.push_back(running ? "controls on" : "controls off"); },
                          [&](bool enabled) { events.push_back(enabled ? "timer on" : "timer off"); },
                          [&](const std::string& text) { events.push_back("timer " + text); },
                          [&] { events.push_back("command"); },
                          {},
                          [&](int line) { events.push_back("line " + std::to_string(line)); }});
    rig.host.onEvents = [&] {
        if (rig.host.elapsedMs() >= 2500 && rig.host.elapsedMs() < 2600)
            rig.runner->ScriptTmrTimer();
    };
    rig.Run({"#3000", "90"});
    const std::vector<std::string> expected = {"controls on", "timer on",  "line 1",  "timer 2.50 seconds",
                                               "line 2",      "command",   "timer off", "timer 3.00 seconds",
                                               "controls off"};
    EXPECT_EQ(events, expected);
}

}  // namespace
}  // namespace tamrisk

namespace tamrisk {
namespace {

// A window that logs a command while another transaction waits is refused,
// and the waiting transaction's state is not touched.
TEST(LoggedCommand, AnOverlappingCallIsRefusedWithoutTouchingTheState) {
    sim::SimOptions options;
    options.faultRate = 1;
    options.faultKinds = {sim::FaultKind::NoAnswer};
    Rig rig(options);
    rig.state.AnswerData = "previous";
    std::vector<ExecResult> inner;
    rig.host.onEvents = [&] {
        if (inner.empty() && rig.transactor->InProgress()) {
            inner.push_back(LogTransaction(*rig.transactor, rig.sink, 90, "x", "x"));
            inner.push_back(LogCommand(*rig.transactor, rig.host, rig.sink, 90, "x").result);
        }
    };
    EXPECT_EQ(rig.transactor->ExecCommand(48, ""), ExecResult::ExecNoAnswer);
    EXPECT_EQ(inner, (std::vector<ExecResult>{ExecResult::ExecBusy, ExecResult::ExecBusy}));
    EXPECT_TRUE(rig.sink.lines.empty());
    EXPECT_EQ(rig.state.AnswerData, "previous");  // a failed transaction keeps the old data
}

TEST(LoggedCommand, RequestAnswerAndTimeWithEscapesTranslated) {
    Rig rig;
    rig.io->answerDelay = std::chrono::milliseconds(250);
    const LoggedCommand outcome = LogCommand(*rig.transactor, rig.host, rig.sink, 90, "A\\tB");
    EXPECT_EQ(outcome.result, ExecResult::ExecOk);
    EXPECT_EQ(rig.SentData(), (std::vector<std::string>{"A\tB"}));
    ASSERT_EQ(rig.sink.lines.size(), 3u);
    EXPECT_EQ(rig.sink.lines[0].text, "-> 90,\"A\\tB\"");
    EXPECT_EQ(rig.sink.lines[1].colour, ResultColour::Green);
    EXPECT_EQ(rig.sink.lines[2].text, ElapsedResultLine("Command execution time ", outcome.seconds));
    EXPECT_NEAR(outcome.seconds, 0.25, 0.01);
}

}  // namespace
}  // namespace tamrisk

namespace tamrisk {

void PrintTo(const SentSerial& serial, std::ostream* out) {
    static const char* const results[] = {"answered", "refused", "unknown"};
    *out << "{" << serial.space << ", " << serial.data << ", line " << serial.line << ", "
         << results[static_cast<int>(serial.result)] << "}";
}

namespace {

// The printer answers none of the first `count` sendings; the operator answers
// Yes to resend after them.
void MissFirstSendings(Rig& rig, int count) {
    rig.io->respond = [missed = 0, count, respond = rig.io->respond](const std::string& written) mutable {
        auto chunks = respond(written);
        if (missed++ < count)
            chunks.clear();
        return chunks;
    };
    rig.host.answers = {count > 0};
}

struct SerialLog : RunObserver {
    void LineStarting(int line) override { started.push_back(line); }
    void SerialSent(const SentSerial& serial) override { sent.push_back(serial); }
    std::vector<int> started;
    std::vector<SentSerial> sent;
};

// Each line is told as it starts, numbered from the first line taken; each pass
// of a repeat starts at its repeat line; the end of the lines is told as 0.
TEST(ScriptRun, EachLineIsToldAsItStarts) {
    Rig rig;
    SerialLog log;
    rig.runner->SetRunObserver(&log);
    rig.runner->SetFirstLineNumber(7);
    rig.Run({"@unit", "*2,L", "90,1", ":L", "90,2"});
    EXPECT_EQ(log.started, (std::vector<int>{7, 8, 8, 9, 8, 9, 11, 0}));
}

// Every transaction of an incrementing line is told with its space, the data
// as sent, its script line and what became of it; other commands are not.
TEST(ScriptRun, EveryIncrementingTransactionIsTold) {
    using R = SentSerialResult;
    struct Case {
        const char* name;
        std::vector<std::string> script;
        sim::SimOptions options;
        int missedSendings;  // sendings the printer does not answer at all; a Yes to resend after them
        int firstLine;
        std::vector<SentSerial> told;
    };
    sim::SimOptions commonError, badChecksum;
    commonError.statusOverrides[91] = {0x20, 0, 0, 0, 0, 0};
    badChecksum.faultRate = 1;
    badChecksum.faultKinds = {sim::FaultKind::BadChecksum};
    const std::string longData(230, 'x');
    const std::vector<Case> cases = {
        {"answered", {"+1;91,DT000100", "$", "90,12", "+0+1;92,A\\t7,09"}, {}, 0, 1,
         {{"91,DT######", "DT000100", 1, R::Answered}, {"92,A\\t7,##", "A\t7,09", 4, R::Answered}}},
        {"the printer's common error", {"+1;91,DT000100"}, commonError, 0, 1,
         {{"91,DT######", "DT000100", 1, R::Refused}}},
        {"no valid answer", {"+1;91,DT000100"}, badChecksum, 0, 1, {{"91,DT######", "DT000100", 1, R::Unknown}}},
        {"too long for a frame: never sent", {"+1;91,7" + longData}, {}, 0, 1,
         {{"91,#" + longData, "7" + longData, 1, R::Refused}}},
        {"a resend after no answer", {"+1;91,DT000100"}, {}, 2, 1,
         {{"91,DT######", "DT000100", 1, R::Unknown}, {"91,DT######", "DT000100", 1, R::Answered}}},
        {"a selection from line 7", {"@unit", "*2,L", "+1;91,N8", ":L"}, {}, 0, 7,
         {{"91,N#", "N8", 9, R::Answered}, {"91,N#", "N9", 9, R::Answered}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig(c.options);
        MissFirstSendings(rig, c.missedSendings);
        SerialLog log;
        rig.runner->SetRunObserver(&log);
        rig.runner->SetFirstLineNumber(c.firstLine);
        rig.Run(c.script);
        EXPECT_EQ(log.sent, c.told);
    }
}

// A run started while another transaction waits sends nothing: its
// incrementing line is refused and keeps its number.
TEST(ScriptRun, AnIncrementingLineRefusedAsBusyKeepsItsNumber) {
    sim::SimOptions options;
    options.faultRate = 1;
    options.faultKinds = {sim::FaultKind::NoAnswer};
    Rig rig(options);
    SerialLog log;
    rig.runner->SetRunObserver(&log);
    StringScriptList list({"+1;91,DT000100"});
    bool started = false;
    rig.host.onEvents = [&] {
        // While the answer to a request that went out is awaited.
        if (!started && rig.transactor->InProgress() && rig.state.RequestSent) {
            started = true;
            rig.Run(list);
        }
    };
    rig.transactor->ExecCommand(48, "");
    ASSERT_TRUE(started);
    EXPECT_EQ(list.Line(0), "+1;91,DT000100");
    EXPECT_EQ(log.sent, (std::vector<SentSerial>{{"91,DT######", "DT000100", 1, SentSerialResult::Refused}}));
    EXPECT_EQ(rig.io->written.size(), 2u);  // the two attempts of command 48 alone
}

// A number is claimed before it is sent: one given before is skipped with a
// black line and the line moves on; one that cannot be claimed stops the run
// with a red line before anything goes out; a number kept is not claimed again
// by a resend.
TEST(ScriptRun, NumbersAreClaimedBeforeTheyAreSent) {
    struct Claims : SerialLog {
        ClaimAnswer ClaimSerial(const std::string& space, const std::string& data, int line,
                                const OutOfReachWait&) override {
            asked.push_back(space + " " + data + " @" + std::to_string(line));
            if (taken.contains(data))
                return {SerialClaim::Taken, {}};
            if (!reason.empty())
                return {SerialClaim::Unavailable, reason};
            return {};
        }
        std::set<std::string> taken;
        std::string reason;
        std::vector<std::string> asked;
    };
    struct Case {
        const char* name;
        std::string line;
        std::set<std::string> taken;
        std::string reason;
        int missedSendings;  // frames left unanswered; one Yes to resend after them
        RunOutcome outcome;
        std::vector<std::string> sent;
        std::string after;
        std::vector<std::string> asked;
        std::vector<Logged> notes;  // the run's "**" lines
    };
    const auto B = ResultColour::Black;
    const auto R = ResultColour::Red;
    const std::vector<Case> cases = {
        {"two given before", "+1;91,DT000100", {"DT000100", "DT000101"}, "", 0, RunOutcome::Completed,
         {"DT000102", ""}, "+1;91,DT000103",
         {"91,DT###### DT000100 @1", "91,DT###### DT000101 @1", "91,DT###### DT000102 @1"},
         {{"** DT000100 already given, skipped", B}, {"** DT000101 already given, skipped", B}}},
        {"no claim can be made", "+1;91,DT000100", {}, "db: gone", 0, RunOutcome::SerialUnavailable, {},
         "+1;91,DT000100", {"91,DT###### DT000100 @1"},
         {{"** DT000100 not sent, no claim on it: db: gone", R}}},
        {"a field without a step", "+0;91,DT000100", {"DT000100"}, "", 0, RunOutcome::SerialUnavailable, {},
         "+0;91,DT000100", {"91,DT000100 DT000100 @1"},
         {{"** DT000100 not sent, no claim on it: no number of the line is left to give", R}}},
        {"a resend of a number kept", "+1;91,DT000100", {}, "", 2, RunOutcome::Completed,
         {"DT000100", "DT000100", "DT000100", ""}, "+1;91,DT000101", {"91,DT###### DT000100 @1"}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        MissFirstSendings(rig, c.missedSendings);
        Claims claims;
        claims.taken = c.taken;
        claims.reason = c.reason;
        rig.runner->SetRunObserver(&claims);
        StringScriptList list({c.line, "90"});
        EXPECT_EQ(rig.Run(list), c.outcome);
        EXPECT_EQ(rig.SentData(), c.sent);
        EXPECT_EQ(list.Line(0), c.after);
        EXPECT_EQ(claims.asked, c.asked);
        std::vector<Logged> notes;
        std::ranges::copy_if(rig.sink.lines, std::back_inserter(notes),
                             [](const Logged& line) { return line.text.starts_with("** "); });
        EXPECT_EQ(notes, c.notes);
    }
}

}  // namespace
}  // namespace tamrisk

namespace tamrisk {
namespace {

// Once a number is claimed, the number its line gives next is told before the
// transaction goes out, so that it may be claimed while this one is on the wire;
// a line whose fields do not step, or that does not run again, tells none.
TEST(ScriptRun, TheNextNumberIsToldOnceANumberIsClaimed) {
    struct Claims : RunObserver {
        explicit Claims(Rig& rig) : rig(rig) {}
        void SerialSent(const SentSerial&) override {}
        ClaimAnswer ClaimSerial(const std::string&, const std::string& data, int, const OutOfReachWait&) override {
            events.push_back("claim " + data);
            return {};
        }
        void NextSerial(const std::string& space, const std::string& data, int line) override {
            events.push_back("next " + space + " " + data + " @" + std::to_string(line) + " after " +
                             std::to_string(rig.io->written.size()) + " sent");
        }
        Rig& rig;
        std::vector<std::string> events;
    };
    struct Case {
        const char* name;
        std::vector<std::string> script;
        std::vector<std::string> events;
    };
    const std::vector<Case> cases = {
        {"a stepping line run twice",
         {"*2,L", "+1;91,DT000100", ":L"},
         {"claim DT000100", "next 91,DT###### DT000101 @2 after 0 sent", "claim DT000101"}},
        {"a line run once", {"+1;91,DT000100"}, {"claim DT000100"}},
        {"the inner block's last pass with an outer pass left",
         {"*2,O", "*1,I", "+1;91,DT000100", ":I", ":O"},
         {"claim DT000100", "next 91,DT###### DT000101 @3 after 0 sent", "claim DT000101"}},
        {"a line that does not step", {"*2,L", "+0;91,DT000100", ":L"}, {"claim DT000100", "claim DT000100"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        Claims claims(rig);
        rig.runner->SetRunObserver(&claims);
        EXPECT_EQ(rig.Run(c.script), RunOutcome::Completed);
        EXPECT_EQ(claims.events, c.events);
    }
}

struct CheckLog : RunObserver {
    void SerialSent(const SentSerial&) override {}
    void Checked(const CheckOutcome& check) override { checks.push_back(CheckLogLine(check)); }
    std::vector<std::string> checks;
};

// Check lines judge the run's last transaction: one "?? " line each, green
// when it held, and the observer told. Asked to stop at the first failure, the
// run ends at a failed check or a red answer line.
TEST(ScriptRun, CheckLinesJudgeTheLastAnswer) {
    const ResultColour G = ResultColour::Green, R = ResultColour::Red;
    struct Case {
        const char* name;
        std::vector<std::string> script;
        bool refusing, stopOnFail;
        int missed;  // sendings not answered (two a transaction); no resend after them
        RunOutcome outcome;
        std::vector<Logged> checks;
        std::size_t sent;
    };
    const RunOutcome done = RunOutcome::Completed, stopped = RunOutcome::StoppedAtFailure;
    const std::vector<Case> cases = {
        {"held or not", {"119,I", "?kind: 1 = Q", "121,0100,16", "?fw: hex:* ~ ^ZORMIK FP-3", "?2 = {size}"},
         false, false, 0, done,
         {{"?? kind: expected 1 = Q, got P: failed", R},
          {"?? fw: expected hex:* ~ ^ZORMIK FP-3, got ZORMIK FP-3 SIMU: passed", G},
          {"?? line 5: unknown variable {size}: error", R}},
         2},
        {"errors do not stop", {"?1 = P", "119,I", "?2 <> 1", "90"}, false, true, 0, done,
         {{"?? line 1: no command has been sent yet in this run: error", R},
          {"?? line 3: bad number \">\": error", R}},
         2},
        {"refused", {"119,I", "?size: 2 > 0", "90"}, true, false, 0, done,
         {{"?? size: the printer refused the command: failed", R}}, 2},
        {"each pass", {"*2,L", "119,I", "?1 = P", ":L"}, false, false, 2, done,
         {{"?? line 3: the command had no valid answer: failed", R},
          {"?? line 3: expected 1 = P, got P: passed", G}},
         3},
        {"stop at a check", {"*3,L", "119,I", "?2 = 0", ":L", "90"}, false, true, 0, stopped,
         {{"?? line 3: expected 2 = 0, got 2097152: failed", R}}, 1},
        {"stop at a red answer", {"119,I", "?1 = P", "90"}, true, true, 0, stopped, {}, 1},
        {"data too long, not sent", {"119,I", "90," + std::string(300, 'x'), "?1 = P"}, false, false, 0, done,
         {{"?? line 3: the command had no valid answer: failed", R}}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::SimOptions options;
        if (c.refusing)
            options.statusOverrides[119] = {0x20, 0, 0, 0, 0, 0};
        Rig rig(options);
        MissFirstSendings(rig, c.missed);
        rig.host.answers.clear();
        CheckLog log;
        rig.runner->SetRunObserver(&log);
        rig.runner->SetStopOnFail(c.stopOnFail);
        EXPECT_EQ(rig.Run(c.script), c.outcome);
        std::vector<Logged> checks;
        std::ranges::copy_if(rig.sink.lines, std::back_inserter(checks),
                             [](const Logged& line) { return line.text.starts_with("?? "); });
        EXPECT_EQ(checks, c.checks);
        EXPECT_EQ(log.checks.size(), c.checks.size());
        EXPECT_EQ(rig.SentData().size(), c.sent);
        const auto texts = rig.sink.Texts();
        EXPECT_EQ(texts[texts.size() - 2] == "Script stopped at the first failure !!!", c.outcome == stopped);
    }
}

// What the observer is told of a check; a run starts without a last answer.
TEST(ScriptRun, ACheckIsToldWithWhatItFound) {
    Rig rig;
    struct : RunObserver {
        void SerialSent(const SentSerial&) override {}
        void Checked(const CheckOutcome& check) override { checks.push_back(check); }
        std::vector<CheckOutcome> checks;
    } log;
    rig.runner->SetRunObserver(&log);
    rig.runner->SetFirstLineNumber(4);
    rig.runner->SetCheckVariables({{"max", "0x200000"}});
    rig.Run({"119,I", "?size: 2 in 0..{max} bytes"});
    rig.Run({"?size: 2 = 1"});
    ASSERT_EQ(log.checks.size(), 2u);
    EXPECT_EQ(log.checks[0],
              (CheckOutcome{"size", 5, "2", CheckOperator::In, "0..0x200000", 0, 2097152, "bytes", "2097152",
                            CheckResult::Pass, "size: expected 2 in 0..0x200000 bytes, got 2097152 bytes"}));
    EXPECT_EQ(log.checks[1].message, "size: no command has been sent yet in this run");
}

}  // namespace
}  // namespace tamrisk
