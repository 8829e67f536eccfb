// The line's process as read from the records: a hand-made line of two
// products with routes, whose per-operation yields, work in progress and unit
// histories are worked out by hand below, on both databases; and the rules of
// the work in progress over facts made to order.

#include "handmadeline.h"
#include "recordtesting.h"
#include "reports.h"
#include "workinprogress.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <cstdio>

namespace tamrisk {
namespace {

using namespace tamrisk::testing;
using O = RecordOutcome;

// FP-3's route is board, fiscal, final; FP-3-KZ's board alone. Minutes from
// LineSinceMs; negative ones before the period.
struct Made {
    int minutes;
    const char* unit;
    const char* kind;
    const char* product;
    const char* operation;
    std::optional<RecordOutcome> outcome;
    const char* reason = "";
    std::vector<RecordCheck> checks = {};
};

// The record `m` says, of id `id`.
Record MadeRecord(const Made& m, const std::string& id) {
    Record record;
    record.header = TestHeader(id, m.kind, LineSinceMs + qint64{m.minutes} * 60'000);
    record.header.unit = m.unit;
    record.header.product = m.product;
    record.header.operation = m.operation;
    record.header.outcome = m.outcome;
    record.header.reason = m.reason;
    record.checks = m.checks;
    return record;
}

std::vector<Record> ProcessLine() {
    const std::vector<Made> made = {
        {-1440, "U1", "run", "FP-3", "board", O::Pass},
        {-1400, "U1", "run", "FP-3", "fiscal", O::Fail, "a red line"},
        {5, "U2", "run", "FP-3", "board", O::Fail, "a red line"},
        {10, "U1", "run", "FP-3", "fiscal", O::Fail, "voltage: expected 3 in 0..2000000, got 2097000",
         {NumericCheck("firmware", CheckResult::Pass, "1", 0), NumericCheck("voltage", CheckResult::Fail, "9", 1)}},
        {15, "U2", "run", "FP-3", "board", O::Pass},
        {20, "U1", "run", "FP-3", "fiscal", O::Pass},
        {25, "U2", "run", "FP-3", "fiscal", O::Pass},
        {30, "U1", "run", "FP-3", "final", O::Pass},
        {35, "U3", "run", "FP-3", "board", O::Pass},
        {40, "U4", "run", "FP-3", "board", O::Error, "the printer did not answer"},
        {45, "U5", "run", "FP-3", "board", O::Pass},
        {50, "U6", "run", "FP-3", "board", O::Pass},
        {51, "U6", "command", "", "", O::Pass},
        {55, "U6", "run", "FP-3", "fiscal", O::Fail, "a red line"},
        {60, "U6", "run", "FP-3", "fiscal", O::Fail, "a red line"},
        {60, "U6", "hold", "FP-3", "fiscal", O::Pass, "failed fiscal 2 times in a row"},
        {61, "U6", "entry", "FP-3", "fiscal", O::Fail, "U6 is on hold"},
        {65, "U7", "run", "FP-3", "board", O::Pass},
        {66, "U7", "hold", "FP-3", "", O::Pass, "looks scratched"},
        {70, "U9", "run", "FP-3-KZ", "board", O::Pass},
        {75, "U10", "run", "FP-9", "board", O::Fail, "a red line"},
        {80, "U5", "run", "FP-3", "fiscal", std::nullopt},
    };
    std::vector<Record> line;
    int n = 0;
    for (const Made& m : made) {
        char id[40];
        std::snprintf(id, sizeof id, "%08x-0000-4000-8000-0000000000aa", ++n);
        line.push_back(MadeRecord(m, id));
    }
    return line;
}

class LineProcessOn : public BackendStoreTest {
protected:
    void SetUp() override {
        BackendStoreTest::SetUp();
        if (IsSkipped())
            return;
        ASSERT_TRUE(StoreOk(store.Import(ProcessLine())));
        // The routes, U5 and U8 (not run yet) in test, U6 held and U7's hold released.
        const auto id = [](int n) { return QStringLiteral("%1-0000-4000-8000-0000000000aa").arg(n, 8, 16, QChar(u'0')); };
        RunSql(Location(),
               {QStringLiteral("INSERT INTO routes VALUES ('FP-3', 1, 'board', 3), ('FP-3', 2, 'fiscal', 2),"
                               " ('FP-3', 3, 'final', 3), ('FP-3-KZ', 1, 'board', 3)"),
                QStringLiteral("INSERT INTO units_in_test VALUES ('U5', '%1', 'line-3', 'p1', 'fiscal', 'FP-3', 0,"
                               " 'h', 1, 'me'), ('U8', 'x', 'line-2', 'p1', 'board', 'FP-3', 0, 'h', 1, 'me')")
                    .arg(id(22)),
                QStringLiteral("INSERT INTO unit_holds VALUES ('%1', 'U6', 'fiscal', 0, 'line-3', 'line-3', 'r',"
                               " NULL, NULL, NULL, NULL), ('%2', 'U7', '', 0, 'ivana', 'line-3', 'r', 1, 'olga',"
                               " 'fine', NULL)")
                    .arg(id(16), id(19))});
    }
};

std::string Yield(const std::optional<double>& f) {
    if (!f)
        return "-";
    char text[16];
    std::snprintf(text, sizeof text, "%.4f", *f);
    return text;
}

TEST_P(LineProcessOn, OperationsYieldAndEachRouteRollsItsFirstPassYields) {
    const struct {
        const char* operation;
        const char* product;
        std::vector<std::string> operations;
        std::vector<std::string> products;
    } cases[] = {
        // board: first runs U2 fail, U3 pass, U4 error, U5-U7 pass (U1's was the day before).
        // fiscal: U1 failed it the day before, so only U2 (pass) and U6 (fail) are first runs.
        // final: U1 tested before, but never at final: its first final run counts.
        {"",
         "",
         {"FP-3 board units 6 runs 7 fpy 0.6667 final 0.8333", "FP-3 fiscal units 4 runs 6 fpy 0.5000 final 0.6667",
          "FP-3 final units 1 runs 1 fpy 1.0000 final 1.0000", "FP-3-KZ board units 1 runs 1 fpy 1.0000 final 1.0000",
          "FP-9 board units 1 runs 1 fpy 0.0000 final 0.0000"},
         {"FP-3 0.3333", "FP-3-KZ 1.0000"}},
        {"", "FP-3-KZ", {"FP-3-KZ board units 1 runs 1 fpy 1.0000 final 1.0000"}, {"FP-3-KZ 1.0000"}},
        // Only fiscal runs: FP-3's other operations have none, so it rolls no yield.
        {"fiscal", "", {"FP-3 fiscal units 4 runs 6 fpy 0.5000 final 0.6667"}, {"FP-3 -", "FP-3-KZ -"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.operation) + "/" + c.product);
        StatsQuery query{LineSinceMs, LineUntilMs, "", c.operation, c.product};
        const LineStats stats = ValueOf(store.Stats(query));
        std::vector<std::string> operations, products;
        for (const OperationStats& o : stats.operations)
            operations.push_back(o.product + " " + o.operation + " units " + std::to_string(o.units) + " runs " +
                                 std::to_string(o.runs) + " fpy " + Yield(o.firstPassYield) + " final " +
                                 Yield(o.finalYield));
        for (const ProductStats& p : stats.products)
            products.push_back(p.product + " " + Yield(p.rolledThroughputYield));
        EXPECT_EQ(operations, c.operations);
        EXPECT_EQ(products, c.products);
    }
}

TEST_P(LineProcessOn, WorkInProgressCountsEachUnitOnce) {
    // FP-3: U4 erred at board; U8 in test there. U3 and U7 (released) wait for
    // fiscal, U5 is in test and U6 held there. U2 waits for final; U1 is done.
    const std::vector<WipCount> all = {{"FP-3", "board", 1, 1, 0},
                                       {"FP-3", "fiscal", 2, 1, 1},
                                       {"FP-3", "final", 1, 0, 0},
                                       {"FP-3-KZ", "board", 0, 0, 0}};
    EXPECT_EQ(ValueOf(store.Wip("")), all);
    EXPECT_EQ(ValueOf(store.Wip("FP-3-KZ")), std::vector<WipCount>{all.back()});
    EXPECT_TRUE(ValueOf(store.Wip("FP-9")).empty());
}

TEST_P(LineProcessOn, AUnitsHistoryIsItsRunsRefusalsHoldsAndReleasesOldestFirst) {
    const std::vector<UnitEvent> history = ValueOf(store.History("U6"));
    std::vector<std::string> lines;
    for (const UnitEvent& e : history)
        lines.push_back(std::to_string((e.startedMs - LineSinceMs) / 60'000) + " " + e.kind + " " + e.product + " " +
                        e.operation + " " + (e.outcome ? std::string(OutcomeText(*e.outcome)) : "running") + " " +
                        e.cause);
    EXPECT_EQ(lines, (std::vector<std::string>{"50 run FP-3 board pass ", "55 run FP-3 fiscal fail a red line",
                                               "60 run FP-3 fiscal fail a red line",
                                               "60 hold FP-3 fiscal pass failed fiscal 2 times in a row",
                                               "61 entry FP-3 fiscal fail U6 is on hold"}));
    // A run failed by a check names the check, as the Pareto counts it; one going on has no outcome.
    const std::vector<UnitEvent> u1 = ValueOf(store.History("U1"));
    ASSERT_EQ(u1.size(), 5u);
    EXPECT_EQ(u1[2].cause, "voltage");
    EXPECT_EQ(u1[2].station, "line-3");
    EXPECT_EQ(u1[2].operatorName, "ivana");
    const QJsonArray u5 = QJsonDocument::fromJson(UnitHistoryJson(ValueOf(store.History("U5")))).array();
    ASSERT_EQ(u5.size(), 2);
    EXPECT_TRUE(u5[1].toObject()["outcome"].isNull());
    EXPECT_TRUE(u5[1].toObject()["cause"].isNull());
    EXPECT_TRUE(ValueOf(store.History("U99")).empty());
}

// Engineering runs at the operations change no operation's numbers, no rolled
// throughput yield and no unit's place in the work in progress: one before the
// period (U2's fiscal run in it would no longer be its first), a unit's first
// fiscal run, a pass after U4's error at board (it would wait for fiscal) and
// a unit only engineers ran. Counted as any run, each would. A unit's history
// lists them, marked.
TEST_P(LineProcessOn, EngineeringRunsChangeNoOperationNorTheWorkInProgress) {
    const StatsQuery queries[] = {{LineSinceMs, LineUntilMs, "", "", ""},
                                  {LineSinceMs, LineUntilMs, "", "fiscal", ""},
                                  {LineSinceMs, LineUntilMs, "", "board", "FP-3"}};
    const auto numbers = [&] {
        std::vector<std::string> all;
        for (const StatsQuery& query : queries)
            all.push_back(StatsJson(ValueOf(store.Stats(query))).toStdString());
        all.push_back(WipJson(ValueOf(store.Wip(""))).toStdString());
        return all;
    };
    const std::vector<std::string> without = numbers();
    const Made made[] = {
        {-1500, "U2", "run", "FP-3", "fiscal", O::Fail, "a red line"},
        {36, "U3", "run", "FP-3", "fiscal", O::Fail, "a red line"},
        {42, "U4", "run", "FP-3", "board", O::Pass},
        {70, "U11", "run", "FP-3", "final", O::Fail, "a red line"},
    };
    std::vector<Record> engineering;
    for (const Made& m : made) {
        engineering.push_back(MadeRecord(m, "e" + std::to_string(engineering.size())));
        engineering.back().header.engineering = true;
    }
    ASSERT_EQ(ValueOf(store.Import(engineering)), 4);
    const std::vector<std::string> with = numbers();
    RunSql(Location(), {QStringLiteral("UPDATE records SET engineering = FALSE")});
    const std::vector<std::string> counted = numbers();
    for (std::size_t i = 0; i < without.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(with[i], without[i]);
        EXPECT_NE(counted[i], without[i]);
    }
    RunSql(Location(), {QStringLiteral("UPDATE records SET engineering = TRUE WHERE id = 'e2'")});
    std::vector<bool> marked;
    for (const UnitEvent& e : ValueOf(store.History("U4")))
        marked.push_back(e.engineering);
    EXPECT_EQ(marked, (std::vector<bool>{false, true}));
}

INSTANTIATE_TEST_SUITE_P(Backends, LineProcessOn, ::testing::Values(Backend::Sqlite, Backend::Postgresql),
                         BackendName);

// The rules of the work in progress, over facts made to order, on the route a, b, c.
TEST(WorkInProgress, EachUnitWaitsForItsFirstOperationNotPassed) {
    const Route route{"P", {{"a"}, {"b"}, {"c"}}};
    const auto run = [](const char* unit, const char* operation, RecordOutcome outcome) {
        return WipRun{unit, "P", operation, outcome};
    };
    const struct {
        const char* name;
        std::vector<WipRun> runs;
        std::vector<WipPlace> inTest, onHold;
        std::vector<std::array<int, 3>> expected;  // a, b, c: waiting, in test, on hold
    } cases[] = {
        {"a failed first operation is waited for again", {run("U", "a", O::Fail)}, {}, {}, {{1, 0, 0}, {0, 0, 0}, {0, 0, 0}}},
        {"an aborted run is no pass", {run("U", "a", O::Pass), run("U", "b", O::Aborted)}, {}, {}, {{0, 0, 0}, {1, 0, 0}, {0, 0, 0}}},
        {"the last ended run decides", {run("U", "a", O::Pass), run("U", "a", O::Fail)}, {}, {}, {{1, 0, 0}, {0, 0, 0}, {0, 0, 0}}},
        {"a retest passed moves on", {run("U", "a", O::Fail), run("U", "a", O::Pass)}, {}, {}, {{0, 0, 0}, {1, 0, 0}, {0, 0, 0}}},
        {"every operation passed: done",
         {run("U", "a", O::Pass), run("U", "b", O::Pass), run("U", "c", O::Pass)}, {}, {},
         {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}}},
        {"an operation off the route is no step", {run("U", "a", O::Pass), run("U", "x", O::Pass)}, {}, {},
         {{0, 0, 0}, {1, 0, 0}, {0, 0, 0}}},
        {"in test counts where it is tested, not where it waits", {run("U", "a", O::Pass)}, {{"U", "", "b"}}, {},
         {{0, 0, 0}, {0, 1, 0}, {0, 0, 0}}},
        {"a unit never run is in test by its row's product", {}, {{"N", "P", "a"}}, {}, {{0, 1, 0}, {0, 0, 0}, {0, 0, 0}}},
        {"a hold of no operation holds the unit where it waits", {run("U", "a", O::Pass)}, {}, {{"U", "", ""}},
         {{0, 0, 0}, {0, 0, 1}, {0, 0, 0}}},
        {"a unit done and held counts at the last operation",
         {run("U", "a", O::Pass), run("U", "b", O::Pass), run("U", "c", O::Pass)}, {}, {{"U", "", ""}},
         {{0, 0, 0}, {0, 0, 0}, {0, 0, 1}}},
        {"another product's unit counts nowhere", {WipRun{"V", "Q", "a", O::Pass}}, {{"W", "Q", "a"}}, {{"V", "", "a"}},
         {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<WipCount> counts = ComputeWip({{route}, c.runs, c.inTest, c.onHold});
        ASSERT_EQ(counts.size(), 3u);
        for (std::size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(counts[i].operation, route.steps[i].operation);
            EXPECT_EQ((std::array<int, 3>{counts[i].waiting, counts[i].inTest, counts[i].onHold}), c.expected[i]) << i;
        }
    }
}

}  // namespace
}  // namespace tamrisk
