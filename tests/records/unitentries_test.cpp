// The entry of units into operations in the records, on SQLite files and on
// PostgreSQL: a unit's way along its route with failures, a hold and its
// release; two stations racing for one unit; a line out of reach during the
// check; a station killed in the middle of a run.

#include "fakehost.h"
#include "recordtesting.h"
#include "unitentries.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace tamrisk {
namespace {

using testing::Backend;
using testing::BackendName;
using testing::BackendStoreTest;
using testing::FakeHost;
using testing::RunSql;
using V = EntryVerdict;

constexpr qint64 T0 = 1'796'637'600'000;

class UnitEntriesOn : public BackendStoreTest {
protected:
    void SetUp() override {
        BackendStoreTest::SetUp();
        if (IsSkipped())
            return;
        for (const auto& [product, route] : {std::pair{"FP-3", "board burn-in:2 fiscal"}, {"FP-3-KZ", "board"}}) {
            std::string error;
            const auto words = QString::fromLatin1(route).split(u' ');
            std::vector<std::string> list;
            for (const QString& word : words)
                list.push_back(word.toStdString());
            ASSERT_TRUE(StoreOk(store.Routes().Set(product, *ParseRoute(list, error), {"sv", "office", T0})));
        }
    }
    static EntryRequest Request(const std::string& record, const std::string& operation,
                                const std::string& station = "line-1", const std::string& product = "FP-3") {
        return {"U1", operation, product, record, station, "/dev/ttyUSB0", T0 + 1000 * static_cast<qint64>(record[1])};
    }
    // The run of `request` kept in the records as ended with `outcome`.
    void Ran(const EntryRequest& request, RecordOutcome outcome) {
        Record record;
        record.header = testing::TestHeader(request.recordId, "run", request.enteredMs);
        record.header.engineering = request.engineering;
        record.header.unit = request.unit;
        record.header.station = request.station;
        record.header.operation = request.operation;
        record.header.product = request.product;
        record.header.outcome = outcome;
        ASSERT_EQ(ValueOf(store.Import(std::vector<Record>{record})), 1);
    }
    std::string InTest() const { return RunSql(Location(), {"SELECT unit || ' ' || record_id FROM units_in_test"}); }

    // A unit's entry and, for a run that went on, its leaving.
    struct Step {
        EntryRequest request;
        std::optional<RecordOutcome> left;  // empty: entered only
        bool recordArrives;                 // before the next step
        V verdict;
        std::string said;  // the refusal or the hold made
    };
    // Enters each step's unit and gives it back as its run ended, its record
    // kept in the records after it where it arrives.
    void Walk(const std::vector<Step>& steps) {
        for (const Step& s : steps) {
            SCOPED_TRACE(s.request.recordId);
            const EntryDecision decision = ValueOf(store.Entries().Enter(s.request));
            EXPECT_EQ(decision.verdict, s.verdict);
            if (!s.left) {
                EXPECT_EQ(decision.reason, s.said);
                continue;
            }
            const std::optional<UnitHold> hold =
                ValueOf(store.Entries().Leave({s.request, *s.left, "hold-" + s.request.recordId, "ivana", 0}));
            EXPECT_EQ(hold ? hold->reason : "", s.said);
            if (s.recordArrives)
                Ran(s.request, *s.left);
        }
    }
};

// A unit's way along FP-3's route, every answer known.
TEST_P(UnitEntriesOn, AUnitGoesAlongItsRouteAndIsHeldAfterItsLimit) {
    const auto at = [&](const std::string& record) { return LocalTimeText(Request(record, "").enteredMs); };
    enum Step { Enter, Leave, Release };
    const struct {
        Step step;
        EntryRequest request;
        std::optional<RecordOutcome> outcome;  // Leave: the run's, kept in the records first
        V verdict;
        std::string said;  // Enter: the reason; Leave: the hold's reason
    } steps[] = {
        {Enter, Request("ra", "board"), {}, V::Entered, ""},
        {Enter, Request("rb", "board", "line-2"), {}, V::Refused, "U1 is in test at line-1 since " + at("ra")},
        {Leave, Request("ra", "board"), RecordOutcome::Fail, {}, ""},
        {Enter, Request("rc", "burn-in"), {}, V::Refused,
         "U1 has not passed board: its last board run failed at " + at("ra") + " on line-1"},
        {Enter, Request("rd", "board", "line-2", "FP-3-KZ"), {}, V::Refused, "U1 is an FP-3, not an FP-3-KZ"},
        {Enter, Request("re", "board"), {}, V::Entered, ""},
        {Leave, Request("re", "board"), RecordOutcome::Pass, {}, ""},
        {Enter, Request("rf", "fiscal"), {}, V::Refused, "U1 has no burn-in run"},
        {Enter, Request("rg", "burn-in", "line-2"), {}, V::Entered, ""},
        {Leave, Request("rg", "burn-in", "line-2"), RecordOutcome::Fail, {}, ""},
        {Enter, Request("rh", "burn-in", "line-2"), {}, V::Entered, ""},
        {Leave, Request("rh", "burn-in", "line-2"), RecordOutcome::Error, {},
         "failed burn-in 2 times in a row (limit 2)"},
        {Enter, Request("ri", "board"), {}, V::Refused,
         "U1 is on hold since " + at("rh") + ": failed burn-in 2 times in a row (limit 2)"},
        {Release, Request("rj", ""), {}, {}, ""},
        {Enter, Request("rk", "burn-in"), {}, V::Entered, ""},
        // Counted again from the release: one failure is not two.
        {Leave, Request("rk", "burn-in"), RecordOutcome::Fail, {}, ""},
        {Enter, Request("rl", "burn-in"), {}, V::Entered, ""},
        {Leave, Request("rl", "burn-in"), RecordOutcome::Pass, {}, ""},
        {Enter, Request("rm", "fiscal"), {}, V::Entered, ""},
        {Enter, Request("rn", "pack"), {}, V::Refused, "pack is not on FP-3's route: board, burn-in, fiscal"},
        {Enter, Request("ro", "board", "line-1", "FP-9"), {}, V::NotChecked, ""},
    };
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        const auto& s = steps[i];
        SCOPED_TRACE(std::to_string(i) + " " + s.request.recordId);
        switch (s.step) {
        case Enter: {
            const EntryDecision decision = ValueOf(store.Entries().Enter(s.request));
            EXPECT_EQ(decision.verdict, s.verdict);
            EXPECT_EQ(decision.reason, s.said);
            break;
        }
        case Leave: {
            Ran(s.request, *s.outcome);
            Leaving leaving{s.request, *s.outcome, "hold-" + s.request.recordId, "ivana", s.request.enteredMs};
            const std::optional<UnitHold> hold = ValueOf(store.Entries().Leave(leaving));
            EXPECT_EQ(hold ? hold->reason : "", s.said);
            if (hold) {
                EXPECT_EQ(hold->recordId, "hold-" + s.request.recordId);
            }
            break;
        }
        case Release: {
            const Released released =
                ValueOf(store.Holds().Release({"U1", s.request.recordId, "sv", "office", "looked at", s.request.enteredMs}));
            EXPECT_EQ(released.holds, 1);
            EXPECT_FALSE(released.freed);
            break;
        }
        }
    }
    // Only the entry that went on is in test; refusals and unchecked runs left nothing.
    EXPECT_EQ(InTest(), "U1 rm\n");
    EXPECT_EQ(RunSql(Location(), {"SELECT unit || ' ' || held_by || ' ' || release_record_id FROM unit_holds"}),
              "U1 ivana rj\n");
}

// A station forwards its records later than it gives the unit back: the next
// entry reads a run's end at once, and a run whose record came too is counted once.
TEST_P(UnitEntriesOn, ARunWhoseRecordHasNotArrivedCountsAtOnceAndOnce) {
    const auto at = [&](const std::string& record) { return LocalTimeText(Request(record, "").enteredMs); };
    Walk({
        {Request("ra", "board"), RecordOutcome::Pass, false, V::Entered, ""},
        {Request("rb", "board", "line-2", "FP-3-KZ"), {}, false, V::Refused, "U1 is an FP-3, not an FP-3-KZ"},
        {Request("rc", "burn-in", "line-2"), RecordOutcome::Fail, true, V::Entered, ""},
        {Request("rd", "fiscal"), {}, false, V::Refused,
         "U1 has not passed burn-in: its last burn-in run failed at " + at("rc") + " on line-2"},
        // rc's record and its kept end are one failure, rd's refusal none: two in a row, not three.
        {Request("re", "burn-in", "line-2"), RecordOutcome::Error, false, V::Entered,
         "failed burn-in 2 times in a row (limit 2)"},
    });
}

// An engineering run enters and is given back as any run, but is none of the
// unit's passes or failures: its pass lets the unit into nothing later, its
// failures hold it at no limit and count in no row, whether its record is here
// or its end alone was kept.
TEST_P(UnitEntriesOn, AnEngineeringRunIsNoneOfTheUnitsPassesOrFailures) {
    const auto at = [&](const std::string& record) { return LocalTimeText(Request(record, "").enteredMs); };
    const auto engineering = [](EntryRequest request) {
        request.engineering = true;
        return request;
    };
    Walk({
        {engineering(Request("ra", "board")), RecordOutcome::Pass, true, V::Entered, ""},
        {Request("rb", "burn-in"), {}, false, V::Refused, "U1 has no board run"},
        {Request("rc", "board"), RecordOutcome::Pass, true, V::Entered, ""},
        {engineering(Request("rd", "burn-in")), RecordOutcome::Fail, false, V::Entered, ""},
        {engineering(Request("re", "burn-in")), RecordOutcome::Error, true, V::Entered, ""},
        {Request("rf", "fiscal"), {}, false, V::Refused, "U1 has no burn-in run"},
        {Request("rg", "burn-in"), RecordOutcome::Fail, true, V::Entered, ""},
        {engineering(Request("rh", "burn-in")), RecordOutcome::Pass, true, V::Entered, ""},
        {Request("ri", "fiscal"), {}, false, V::Refused,
         "U1 has not passed burn-in: its last burn-in run failed at " + at("rg") + " on line-1"},
        {Request("rj", "burn-in"), RecordOutcome::Fail, false, V::Entered, "failed burn-in 2 times in a row (limit 2)"},
    });
    EXPECT_EQ(InTest(), "");
}

// Two stations entering the same units at once: each unit enters exactly once.
TEST_P(UnitEntriesOn, OfTwoStationsRacingForAUnitExactlyOneEnters) {
    constexpr int Units = 15;
    std::atomic<int> entered[Units] = {};
    std::atomic<int> refused{0};
    const auto station = [&](const std::string& name) {
        RecordStore own;
        ASSERT_TRUE(StoreOk(own.Open(Location())));
        for (int u = 0; u < Units; ++u) {
            EntryRequest request = Request("r" + name + std::to_string(u), "board", name);
            request.unit = "U" + std::to_string(u);
            const StoreResult<EntryDecision> decision = own.Entries().Enter(request);
            ASSERT_TRUE(decision) << FailureText(decision).toStdString();
            if (decision->verdict == V::Entered)
                ++entered[u];
            else if (decision->reason.find(" is in test at ") != std::string::npos)
                ++refused;
        }
    };
    std::thread a(station, "a"), b(station, "b");
    a.join();
    b.join();
    for (int u = 0; u < Units; ++u)
        EXPECT_EQ(entered[u].load(), 1) << u;
    EXPECT_EQ(refused.load(), Units);
    EXPECT_EQ(RunSql(Location(), {"SELECT COUNT(*) FROM units_in_test"}), std::to_string(Units) + "\n");
}

// A station killed in the middle of a run leaves its unit in test; the next
// start on that computer frees it, a unit of a program still running stays.
TEST_P(UnitEntriesOn, AUnitOfAKilledStationIsFreedAtTheNextStart) {
    QProcess gone;
    gone.start(QStringLiteral("true"));
    ASSERT_TRUE(gone.waitForFinished(10000));
    const qint64 deadPid = gone.processId() > 0 ? gone.processId() : 999999;
    EntryRequest killed = Request("ra", "board");
    EntryRequest running = Request("rb", "board");
    running.unit = "U2";
    ASSERT_EQ(ValueOf(store.Entries().Enter(killed)).verdict, V::Entered);
    ASSERT_EQ(ValueOf(store.Entries().Enter(running)).verdict, V::Entered);
    RunSql(Location(), {QStringLiteral("UPDATE units_in_test SET writer_pid = %1 WHERE unit = 'U1'").arg(deadPid)});
    EXPECT_EQ(ValueOf(store.Entries().Enter(Request("rc", "board", "line-2"))).verdict, V::Refused);

    // The next start's first question to the records frees it.
    UnitEntries entries(Location());
    EXPECT_EQ(ValueOf(entries.FreeAbandoned()), 0);
    EXPECT_EQ(InTest(), "U2 rb\n");
    EXPECT_EQ(ValueOf(store.Entries().Enter(Request("rc", "board", "line-2"))).verdict, V::Entered);
}

// A line out of reach is asked again until the wait's limit, then the entry
// is Unreachable; a line that comes back during the wait answers; a cancel
// ends the wait. A unit never enters unanswered.
TEST_P(UnitEntriesOn, ALineOutOfReachIsWaitedForAsAClaimIs) {
    const QString location = Unreachable();
    const struct {
        int reachAfterPauses;  // 0: never
        bool cancel;
        UnitEntry::Kind kind;
    } cases[] = {
        {0, false, UnitEntry::Kind::Unreachable},
        {0, true, UnitEntry::Kind::Cancelled},
        {3, false, UnitEntry::Kind::Entered},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.kind));
        FakeHost host;
        UnitEntries entries(location);
        OutOfReachWait wait;
        wait.limit = std::chrono::seconds(5);
        int pauses = 0;
        std::string began;
        bool answered = false;
        wait.began = [&](const std::string& reason) { began = reason; };
        wait.ended = [&](bool yes, double) { answered = yes; };
        wait.cancelled = [&] { return c.cancel; };
        host.onEvents = [&] {
            if (++pauses != c.reachAfterPauses * 10)
                return;
            Reach();
            // A records file reached is a new one: its route is set as the line's was.
            if (!database->IsPostgresql()) {
                RecordStore reached;
                ASSERT_TRUE(StoreOk(reached.Open(location)));
                ASSERT_TRUE(StoreOk(reached.Routes().Set("FP-3", {{"board", 3}}, {"sv", "office", T0})));
            }
        };
        const UnitEntry entry = entries.Enter(host, Request("ra", "board"), wait);
        EXPECT_EQ(entry.kind, c.kind) << entry.reason;
        EXPECT_FALSE(began.empty());
        EXPECT_EQ(answered, c.kind == UnitEntry::Kind::Entered);
        if (c.kind == UnitEntry::Kind::Unreachable) {
            EXPECT_GE(host.elapsedMs(), 5000);
            EXPECT_EQ(entry.reason, began);
        }
    }
    // Given back when the run ends: the unit may enter again elsewhere.
    UnitEntries entries(location);
    EXPECT_FALSE(ValueOf(entries.Leave(Request("ra", "board"), RecordOutcome::Aborted, "ivana")).has_value());
    EXPECT_EQ(InTest(), "");
}

INSTANTIATE_TEST_SUITE_P(Backends, UnitEntriesOn, ::testing::Values(Backend::Sqlite, Backend::Postgresql),
                         BackendName);

}  // namespace
}  // namespace tamrisk
