// The capability of a period's numeric checks read from both databases: which
// runs and checks count, the filters, values that are no number, a check whose
// limits changed, failed runs' values, and the strictness read from the op.

#include "capability.h"
#include "recordtesting.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

namespace tamrisk {
namespace {

using namespace tamrisk::testing;

constexpr qint64 SinceMs = 1'796'637'600'000;  // 2026-12-07T10:00Z
constexpr qint64 UntilMs = SinceMs + 3'600'000;

struct Found {
    const char* name;
    CheckOperator op;
    std::optional<double> low, high;
    const char* value;  // as found; nullptr: not found
};

struct Run {
    int minutes;  // from SinceMs
    const char* station;
    const char* product;
    const char* operation;
    RecordOutcome outcome;
    bool engineering;
    std::vector<Found> checks;
};

// The runs of the period and beside it; their checks on script lines 1, 2, ...
std::vector<Record> Runs() {
    using O = RecordOutcome;
    using Op = CheckOperator;
    const std::vector<Run> runs = {
        {0, "st-1", "FP-3", "final", O::Pass, false,
         {{"voltage", Op::In, 5, 17, "10"}, {"current", Op::Less, {}, 20, "12"},
          {"firmware", Op::Equal, {}, {}, "2.31"}, {"model", Op::Matches, {}, {}, "FP"}}},
        {1, "st-1", "FP-3", "final", O::Pass, false, {{"voltage", Op::In, 5, 17, "12"}, {"current", Op::Less, {}, 20, "15"}}},
        {2, "st-2", "FP-3", "final", O::Fail, false, {{"voltage", Op::In, 5, 17, "11"}, {"current", Op::Less, {}, 20, "25"}}},
        {3, "st-2", "FP-3-KZ", "board", O::Error, false,
         {{"voltage", Op::In, 5, 17, "13"}, {"current", Op::Less, {}, 20, "oops"}, {"gap", Op::AtLeast, 1, {}, nullptr}}},
        {4, "st-1", "FP-3", "final", O::Pass, true, {{"voltage", Op::In, 5, 17, "100"}}},
        {-1, "st-1", "FP-3", "final", O::Pass, false, {{"voltage", Op::In, 5, 17, "100"}}},
        {60, "st-1", "FP-3", "final", O::Pass, false, {{"voltage", Op::In, 5, 17, "100"}}},
        {5, "st-1", "FP-3", "final", O::Pass, false,
         {{"voltage", Op::In, 5, 20, "12"}, {"gap", Op::AtLeast, 1, {}, "3"}, {"temp", Op::Greater, 0, {}, "4"},
          {"size", Op::AtMost, {}, 9, "2"}}},
    };
    std::vector<Record> records;
    int n = 0;
    for (const Run& r : runs) {
        Record record;
        record.header = TestHeader(NumberedId(++n), "run", SinceMs + qint64{r.minutes} * 60'000);
        record.header.station = r.station;
        record.header.unit = "U" + std::to_string(n);
        record.header.product = r.product;
        record.header.operation = r.operation;
        record.header.outcome = r.outcome;
        record.header.engineering = r.engineering;
        int line = 0;
        for (const Found& f : r.checks) {
            CheckOutcome c{f.name, ++line, "1", f.op, std::nullopt, f.low, f.high, "V", {}, CheckResult::Pass, ""};
            if (f.value)
                c.value = f.value;
            record.checks.push_back({c, std::nullopt});
        }
        records.push_back(std::move(record));
    }
    return records;
}

// A row on one line: name, limits ('(' or ')' for a strict one), n and mean
// of every value, n without failed runs, values that are no number.
std::string Summary(const CheckCapability& c) {
    const CapabilityLimits& l = c.limits;
    char text[160];
    std::snprintf(text, sizeof text, "%s %s%s,%s%s n %d mean %.4g wf %d nn %d", c.name.c_str(), l.lowStrict ? "(" : "[",
                  l.low ? std::to_string(static_cast<int>(*l.low)).c_str() : "",
                  l.high ? std::to_string(static_cast<int>(*l.high)).c_str() : "", l.highStrict ? ")" : "]", c.all.n,
                  c.all.mean.value_or(-1), c.withoutFailed.n, c.notNumbers);
    return text;
}

class CapabilityQueryOn : public BackendStoreTest {
protected:
    void SetUp() override {
        BackendStoreTest::SetUp();
        if (IsSkipped())
            return;
        ASSERT_TRUE(StoreOk(store.Import(Runs())));
    }
};

TEST_P(CapabilityQueryOn, ReadsThePeriodsNumericChecksAsFiltered) {
    const struct {
        const char* what;
        CapabilityQuery query;
        std::vector<std::string> rows;  // sorted
    } cases[] = {
        {"the whole period",
         {SinceMs, UntilMs},
         {"current [,20) n 3 mean 17.33 wf 2 nn 1", "gap [1,] n 1 mean 3 wf 1 nn 1", "size [,9] n 1 mean 2 wf 1 nn 0",
          "temp (0,] n 1 mean 4 wf 1 nn 0", "voltage [5,17] n 4 mean 11.5 wf 2 nn 0",
          "voltage [5,20] n 1 mean 12 wf 1 nn 0"}},
        {"one check by name",
         {SinceMs, UntilMs, "voltage"},
         {"voltage [5,17] n 4 mean 11.5 wf 2 nn 0", "voltage [5,20] n 1 mean 12 wf 1 nn 0"}},
        {"one product",
         {SinceMs, UntilMs, "", "FP-3-KZ"},
         {"current [,20) n 0 mean -1 wf 0 nn 1", "gap [1,] n 0 mean -1 wf 0 nn 1", "voltage [5,17] n 1 mean 13 wf 0 nn 0"}},
        {"one operation",
         {SinceMs, UntilMs, "", "", "board"},
         {"current [,20) n 0 mean -1 wf 0 nn 1", "gap [1,] n 0 mean -1 wf 0 nn 1", "voltage [5,17] n 1 mean 13 wf 0 nn 0"}},
        {"one station",
         {SinceMs, UntilMs, "voltage", "", "", "st-2"},
         {"voltage [5,17] n 2 mean 12 wf 0 nn 0"}},
        {"the period's bounds: since included, until not",
         {SinceMs + 60'000, SinceMs + 3 * 60'000, "voltage"},
         {"voltage [5,17] n 2 mean 11.5 wf 1 nn 0"}},
        {"nothing asked for there", {SinceMs, UntilMs, "firmware"}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const CapabilityReport report = ValueOf(store.Capability(c.query));
        std::vector<std::string> rows;
        for (const CheckCapability& check : report.checks) {
            rows.push_back(Summary(check));
            EXPECT_TRUE(check.values.empty());
        }
        std::sort(rows.begin(), rows.end());
        EXPECT_EQ(rows, c.rows);
    }
}

// With values asked for, each row keeps its runs' values in time order, the
// failed runs' marked.
TEST_P(CapabilityQueryOn, KeepsTheValuesWithTheirRunsInTimeOrder) {
    CapabilityQuery query{SinceMs, UntilMs, "voltage"};
    query.values = true;
    const CapabilityReport report = ValueOf(store.Capability(query));
    ASSERT_EQ(report.checks.size(), 2u);
    const auto wide = std::find_if(report.checks.begin(), report.checks.end(),
                                   [](const CheckCapability& c) { return c.limits.high == 17; });
    ASSERT_NE(wide, report.checks.end());
    std::string shown;
    for (const MeasuredValue& v : wide->values)
        shown += std::to_string(static_cast<int>(v.value)) + "@" + v.station + "/" + v.unit +
                 (v.runFailed ? "!" : "") + "+" + std::to_string((v.startedMs - SinceMs) / 60'000) + " ";
    EXPECT_EQ(shown, "10@st-1/U1+0 12@st-1/U2+1 11@st-2/U3!+2 13@st-2/U4!+3 ");
    EXPECT_EQ(wide->values.front().recordId, "00000001-0000-4000-8000-000000000000");
}

// The checks of a period's runs are read a batch of runs at a time: every
// run counts once, however many batches its period takes.
TEST_P(CapabilityQueryOn, CountsEveryRunOfAPeriodOfManyRuns) {
    constexpr int Many = 1201;
    constexpr qint64 FromMs = UntilMs + 3'600'000;  // after the fixture's runs
    std::vector<Record> runs;
    for (int i = 0; i < Many; ++i) {
        Record record;
        record.header = TestHeader(NumberedId(1000 + i), "run", FromMs + i * 1000);
        record.header.outcome = RecordOutcome::Pass;
        record.checks.push_back({CheckOutcome{"level", 1, "1", CheckOperator::In, std::nullopt, 0, 2000, "",
                                              std::to_string(i), CheckResult::Pass, ""},
                                 std::nullopt});
        runs.push_back(std::move(record));
    }
    ASSERT_TRUE(StoreOk(store.Import(runs)));
    const CapabilityReport report = ValueOf(store.Capability({FromMs, FromMs + Many * 1000}));
    ASSERT_EQ(report.checks.size(), 1u);
    EXPECT_EQ(report.checks[0].all.n, Many);
    EXPECT_EQ(report.checks[0].all.mean, (Many - 1) / 2.0);
    EXPECT_EQ(report.checks[0].all.averageMovingRange, 1.0);  // read back in time order
}

INSTANTIATE_TEST_SUITE_P(Backends, CapabilityQueryOn, ::testing::Values(Backend::Sqlite, Backend::Postgresql),
                         BackendName);

}  // namespace
}  // namespace tamrisk
