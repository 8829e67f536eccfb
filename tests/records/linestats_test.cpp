// The line's numbers: the hand-made line on both databases, whole and for one
// station, as numbers and as JSON; the Pareto's order and length.

#include "handmadeline.h"
#include "linestats.h"
#include "recordtesting.h"
#include "reports.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <cstdio>

namespace tamrisk {
namespace {

using namespace tamrisk::testing;

std::string Fraction(const std::optional<double>& f) {
    if (!f)
        return "-";
    char text[16];
    std::snprintf(text, sizeof text, "%.4f", *f);
    return text;
}

std::string Counts(const OutcomeCounts& c) {
    return std::to_string(c.pass) + "/" + std::to_string(c.fail) + "/" + std::to_string(c.error) + "/" +
           std::to_string(c.aborted) + "/" + std::to_string(c.running);
}

// A scope's numbers on one line: units, runs, runs without a unit, outcomes and
// first runs (pass/fail/error/aborted/running), first-pass and final yield,
// retested units, runs per unit.
std::string Summary(const ScopeStats& s) {
    return "units " + std::to_string(s.units) + " runs " + std::to_string(s.runs) + " (" +
           std::to_string(s.runsWithoutUnit) + " without) outcomes " + Counts(s.outcomes) + " first " +
           Counts(s.firstRuns) + " fpy " + Fraction(s.firstPassYield) + " final " + Fraction(s.finalYield) +
           " retested " + std::to_string(s.retestedUnits) + " per unit " + Fraction(s.runsPerUnit);
}

std::string Pareto(const LineStats& stats) {
    std::string text;
    for (const CauseCount& c : stats.pareto)
        text += (text.empty() ? "" : "; ") + c.cause + " x" + std::to_string(c.count);
    return text;
}

std::string PerHour(const LineStats& stats) {
    std::string text;
    for (const HourUnits& h : stats.perHour)
        text += (text.empty() ? "" : " ") + std::to_string((h.hourMs - LineSinceMs) / 3'600'000 + 10) + "h:" +
                h.station + "=" + std::to_string(h.units);
    return text;
}

class LineStatsOn : public BackendStoreTest {
protected:
    void SetUp() override {
        BackendStoreTest::SetUp();
        if (IsSkipped())
            return;
        const std::vector<Record> line = HandMadeLine();
        ASSERT_TRUE(StoreOk(store.Import(line)));
    }
};

TEST_P(LineStatsOn, TheHandMadeLineGivesItsKnownNumbers) {
    const struct {
        const char* station;
        const char* line;
        std::vector<std::string> stations;
        const char* pareto;
        const char* perHour;
    } cases[] = {
        {"",
         "units 7 runs 10 (1 without) outcomes 4/3/1/1/1 first 1/2/1/1/1 fpy 0.2000 final 0.5000 retested 2 "
         "per unit 1.2857",
         {"units 5 runs 5 (0 without) outcomes 2/2/0/0/1 first 1/2/0/0/1 fpy 0.3333 final 0.5000 retested 0 per unit "
          "1.0000",
          "units 3 runs 5 (1 without) outcomes 2/1/1/1/0 first 0/0/1/1/0 fpy 0.0000 final 0.3333 retested 1 per unit "
          "1.3333"},
         "voltage x2; line 7: 91 x1; the printer did not answer x1",
         "10h:st-1=3 10h:st-2=2 11h:st-1=1 11h:st-2=1 12h:st-1=1"},
        // One station: a unit's first-ever run is still judged over the line (U2's was on st-1).
        {"st-2",
         "units 3 runs 5 (1 without) outcomes 2/1/1/1/0 first 0/0/1/1/0 fpy 0.0000 final 0.3333 retested 1 per unit "
         "1.3333",
         {"units 3 runs 5 (1 without) outcomes 2/1/1/1/0 first 0/0/1/1/0 fpy 0.0000 final 0.3333 retested 1 per unit "
          "1.3333"},
         "line 7: 91 x1; the printer did not answer x1",
         "10h:st-2=2 11h:st-2=1"},
        {"st-9", "units 0 runs 0 (0 without) outcomes 0/0/0/0/0 first 0/0/0/0/0 fpy - final - retested 0 per unit -",
         {}, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.station);
        const LineStats stats = ValueOf(store.Stats({LineSinceMs, LineUntilMs, c.station}));
        EXPECT_EQ(Summary(stats.line), c.line);
        std::vector<std::string> stations;
        for (const ScopeStats& s : stats.stations)
            stations.push_back(Summary(s));
        EXPECT_EQ(stations, c.stations);
        EXPECT_EQ(Pareto(stats), c.pareto);
        EXPECT_EQ(PerHour(stats), c.perHour);
    }
}

// Each station's newest record (of any kind) and whether it has gone quiet,
// as JSON gives them with the rest.
TEST_P(LineStatsOn, JsonGivesTheNumbersTheStationsAndTheirLastRecords) {
    const QJsonObject json =
        QJsonDocument::fromJson(StatsJson(ValueOf(store.Stats({LineSinceMs, LineUntilMs, ""})))).object();
    EXPECT_EQ(json["since"].toString(), "2026-12-07T10:00:00.000Z");
    EXPECT_EQ(json["until"].toString(), "2026-12-07T14:00:00.000Z");
    EXPECT_TRUE(json["station"].isNull());
    EXPECT_EQ(json["units"].toInt(), 7);
    EXPECT_EQ(json["outcomes"].toObject()["aborted"].toInt(), 1);
    EXPECT_DOUBLE_EQ(json["first_pass_yield"].toDouble(), 0.2);
    EXPECT_DOUBLE_EQ(json["final_yield"].toDouble(), 0.5);
    EXPECT_EQ(json["retested_units"].toInt(), 2);
    const QJsonArray stations = json["stations"].toArray();
    ASSERT_EQ(stations.size(), 2);
    const struct {
        const char* station;
        const char* last;
        double gapS;
        bool silent;
    } expected[] = {
        // Quiet since 12:05, three times its usual 25 minutes before 14:00.
        {"st-1", "2026-12-07T12:05:00.000Z", 1500, true},
        // A command at 13:30 is its newest record: half an hour against a usual 20 minutes.
        {"st-2", "2026-12-07T13:30:00.000Z", 1200, false},
    };
    for (int i = 0; i < 2; ++i) {
        const QJsonObject s = stations[i].toObject();
        EXPECT_EQ(s["station"].toString(), expected[i].station);
        EXPECT_EQ(s["last_record"].toString(), expected[i].last);
        EXPECT_DOUBLE_EQ(s["usual_gap_s"].toDouble(), expected[i].gapS);
        EXPECT_EQ(s["silent"].toBool(), expected[i].silent);
    }
    EXPECT_EQ(json["pareto"].toArray()[0].toObject(), (QJsonObject{{"cause", "voltage"}, {"count", 2}}));
    EXPECT_EQ(json["per_hour"].toArray()[0].toObject(),
              (QJsonObject{{"hour", "2026-12-07T10:00:00.000Z"}, {"station", "st-1"}, {"units", 3}}));
}

// Engineering runs mixed into the hand-made line change none of its numbers,
// of the line or of a station: one before the period (of a unit whose first
// run would no longer count), failures with causes of their own, a retest
// after a unit's error, a new unit and a station that made only them. Counted
// as any run, they would change every one of these.
TEST_P(LineStatsOn, EngineeringRunsChangeNoNumber) {
    const struct {
        int minutes;
        const char* station;
        const char* unit;
        RecordOutcome outcome;
        std::vector<RecordCheck> checks = {};
    } made[] = {
        {-60, "st-1", "U2", RecordOutcome::Pass},
        {5, "st-1", "U9", RecordOutcome::Fail, {NumericCheck("ground", CheckResult::Fail, "9", std::nullopt)}},
        {45, "st-2", "U4", RecordOutcome::Pass},
        {50, "st-3", "U1", RecordOutcome::Error},
        {115, "st-1", "", RecordOutcome::Fail, {NumericCheck("ground", CheckResult::Fail, "9", std::nullopt)}},
    };
    const char* const stations[] = {"", "st-1", "st-2", "st-3"};
    std::vector<QByteArray> without;
    for (const char* station : stations)
        without.push_back(StatsJson(ValueOf(store.Stats({LineSinceMs, LineUntilMs, station}))));
    std::vector<Record> engineering;
    for (const auto& m : made) {
        Record record;
        record.header =
            TestHeader("e" + std::to_string(engineering.size()), "run", LineSinceMs + qint64{m.minutes} * 60'000);
        record.header.station = m.station;
        record.header.unit = m.unit;
        record.header.outcome = m.outcome;
        record.header.engineering = true;
        record.checks = m.checks;
        engineering.push_back(std::move(record));
    }
    ASSERT_EQ(ValueOf(store.Import(engineering)), 5);
    for (std::size_t i = 0; i < std::size(stations); ++i) {
        SCOPED_TRACE(stations[i]);
        EXPECT_EQ(StatsJson(ValueOf(store.Stats({LineSinceMs, LineUntilMs, stations[i]}))).toStdString(),
                  without[i].toStdString());
    }
    RunSql(Location(), {QStringLiteral("UPDATE records SET engineering = FALSE")});
    for (std::size_t i = 0; i < std::size(stations); ++i) {
        SCOPED_TRACE(stations[i]);
        EXPECT_NE(StatsJson(ValueOf(store.Stats({LineSinceMs, LineUntilMs, stations[i]}))), without[i]);
    }
}

INSTANTIATE_TEST_SUITE_P(Backends, LineStatsOn, ::testing::Values(Backend::Sqlite, Backend::Postgresql), BackendName);

// The Pareto: most runs first, a tie by cause, the first ten only.
TEST(LineStats, TheParetoKeepsTheTenMostFrequentCauses) {
    std::vector<StatsRun> runs;
    for (int cause = 0; cause < 12; ++cause) {
        for (int n = 0; n <= cause % 4; ++n) {
            StatsRun run;
            run.id = std::to_string(cause) + "-" + std::to_string(n);
            run.station = "st";
            run.outcome = RecordOutcome::Fail;
            run.cause = "cause " + std::string(1, static_cast<char>('a' + cause));
            runs.push_back(run);
        }
    }
    const LineStats stats = ComputeLineStats(runs, {}, StatsQuery{0, 1000, ""});
    EXPECT_EQ(Pareto(stats),
              "cause d x4; cause h x4; cause l x4; cause c x3; cause g x3; cause k x3; cause b x2; cause f x2; "
              "cause j x2; cause a x1");
}

}  // namespace
}  // namespace tamrisk
