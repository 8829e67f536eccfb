// The main window's parts on their own: what the status line says of runs,
// which presses on the results view are a double click, and the count of
// records waiting for the line.

#include "doubleclick.h"
#include "fakehost.h"
#include "forwardqueue.h"
#include "statusline.h"
#include "waitingpanel.h"

#include <QLabel>

#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

namespace tamrisk {
namespace {

enum class Told { Text, Outcome, Problem, Wait };
struct Step {
    Told told;
    const char* text = "";
    RecordOutcome outcome = RecordOutcome::Pass;
};
Step Text(const char* text) { return {Told::Text, text}; }
Step Outcome(RecordOutcome outcome, const char* reason = "") { return {Told::Outcome, reason, outcome}; }
Step Problem(const char* text) { return {Told::Problem, text}; }
Step Wait(const char* text) { return {Told::Wait, text}; }

TEST(StatusLineTest, ShowsAFailuresReasonUntilAPassAndRecordsNotKeptForGood) {
    using O = RecordOutcome;
    using V = StatusLine::Verdict;
    const struct {
        const char* what;
        std::vector<Step> steps;
        const char* shown;
        V verdict;
    } cases[] = {
        {"a failure's reason covers the script's name", {Text("a.inp"), Outcome(O::Fail, "first: expected X")},
         "FAIL: first: expected X", V::Reason},
        {"a pass gives back what was shown before the first reason",
         {Text("a.inp"), Outcome(O::Fail, "r1"), Outcome(O::Error, "r2"), Outcome(O::Pass)}, "a.inp", V::None},
        {"the last reason is shown", {Text("a.inp"), Outcome(O::Fail, "r1"), Outcome(O::Error, "r2")}, "ERROR: r2",
         V::Reason},
        {"no reason, no change", {Text("a.inp"), Outcome(O::Fail)}, "a.inp", V::None},
        {"an aborted run says nothing here", {Text("a.inp"), Outcome(O::Aborted, "closed")}, "a.inp", V::None},
        {"a script loaded after a reason stays after a pass",
         {Text("a.inp"), Outcome(O::Fail, "r"), Text("b.inp"), Outcome(O::Pass)}, "b.inp", V::None},
        {"records not kept stay told after a pass",
         {Text("a.inp"), Outcome(O::Fail, "r"), Problem("Records not kept: x"), Outcome(O::Pass)},
         "Records not kept: x", V::RecordsNotKept},
        {"no reason covers records not kept", {Problem("Records not kept: x"), Outcome(O::Fail, "r")},
         "Records not kept: x", V::RecordsNotKept},
        {"a wait covers a reason and gives it back",
         {Text("a.inp"), Outcome(O::Fail, "r"), Wait("Waiting 1"), Wait("Waiting 2"), Wait("")}, "FAIL: r",
         V::Reason},
        {"after a wait a pass still finds the text before the reason",
         {Text("a.inp"), Outcome(O::Fail, "r"), Wait("Waiting"), Wait(""), Outcome(O::Pass)}, "a.inp", V::None},
        {"the end of no wait changes nothing", {Text("a.inp"), Wait("")}, "a.inp", V::None},
    };
    for (const auto& c : cases) {
        QLabel label;
        StatusLine line(label);
        for (const Step& step : c.steps) {
            switch (step.told) {
            case Told::Text: line.ShowText(QString::fromUtf8(step.text)); break;
            case Told::Outcome: line.ShowOutcome(step.outcome, QString::fromUtf8(step.text)); break;
            case Told::Problem: line.ShowRecordsProblem(QString::fromUtf8(step.text)); break;
            case Told::Wait: line.ShowClaimWait(step.text); break;
            }
        }
        EXPECT_EQ(label.text().toStdString(), c.shown) << c.what;
        EXPECT_EQ(line.Current(), c.verdict) << c.what;
        // The whole reason is the tooltip while it shows, where the panel cuts it.
        if (c.verdict == V::Reason) {
            EXPECT_EQ(label.toolTip(), label.text()) << c.what;
        }
    }
}

// Qt reports a double click after the press that made it; that press is counted once.
TEST(DoubleClickTimerTest, CountsEachPressOnceAndTimesLeftPresses) {
    using E = QEvent::Type;
    constexpr E Press = QEvent::MouseButtonPress, Double = QEvent::MouseButtonDblClick,
                Release = QEvent::MouseButtonRelease;
    const struct {
        const char* what;
        std::vector<E> events;
        int gapMs;  // on the station's clock, before each press
        Qt::MouseButtons buttons;
        int doubles;
    } cases[] = {
        {"a double click as Qt reports it", {Press, Release, Press, Double, Release}, 0, Qt::LeftButton, 1},
        {"a double click reported in place of its press", {Press, Release, Double, Release}, 0, Qt::LeftButton, 1},
        {"presses 216 ms apart", {Press, Release, Press, Release}, 216, Qt::LeftButton, 1},
        {"presses 217 ms apart", {Press, Release, Press, Release}, 217, Qt::LeftButton, 0},
        {"three quick presses: two pairs", {Press, Release, Press, Release, Press, Release}, 10, Qt::LeftButton, 2},
        {"right presses", {Press, Release, Press, Double, Release}, 0, Qt::RightButton, 0},
    };
    for (const auto& c : cases) {
        testing::FakeHost host;
        DoubleClickTimer clicks(host);
        int doubles = 0;
        for (const E event : c.events) {
            if (!clicks.IsPress(event))
                continue;
            host.advance(std::chrono::milliseconds(c.gapMs));
            doubles += clicks.LeftPressDoubles(c.buttons) ? 1 : 0;
        }
        EXPECT_EQ(doubles, c.doubles) << c.what;
    }
}

TEST(WaitingPanelTest, CountsWhatWaitsAndWhatTheLineRefused) {
    const QString line = QStringLiteral("postgresql://line/db");
    const SetAsideRecord one{.id = "r1", .unit = "DT2", .reason = QStringLiteral("unit DT2 is refused")};
    const SetAsideRecord other{.id = "r2", .unit = {}, .reason = QStringLiteral("too long")};
    const struct {
        int waiting;
        const char* problem;
        std::vector<SetAsideRecord> setAside;
        const char* text;
        const char* tip;
        bool alarm;
    } cases[] = {
        {-1, "", {}, "Records to send: counting", "Records are sent on to postgresql://line/db", false},
        {0, "", {}, "All records sent", "Records are sent on to postgresql://line/db", false},
        {1, "refused", {}, "1 record waits to be sent", "Cannot send the records: refused", true},
        {3, "", {}, "3 records wait to be sent", "Records are sent on to postgresql://line/db", false},
        {0, "", {one}, "All records sent, 1 refused by the line",
         "Records are sent on to postgresql://line/db\nRefused by the line, kept in this station's file (records "
         "sync tries again):\nr1 unit DT2: unit DT2 is refused",
         true},
        {2, "", {one, other}, "2 records wait to be sent, 2 refused by the line",
         "Records are sent on to postgresql://line/db\nRefused by the line, kept in this station's file (records "
         "sync tries again):\nr1 unit DT2: unit DT2 is refused\nr2: too long",
         true},
    };
    for (const auto& c : cases) {
        const WaitingShown shown = ShowRecordsWaiting(c.waiting, QString::fromUtf8(c.problem), c.setAside, line);
        EXPECT_EQ(shown.text.toStdString(), c.text);
        EXPECT_EQ(shown.toolTip.toStdString(), c.tip);
        EXPECT_EQ(shown.alarm, c.alarm) << c.text;
    }
}

}  // namespace
}  // namespace tamrisk
