// The capability figures of a numeric check's values, on values whose figures
// are worked out by hand, and how checks are grouped by name and limits.

#include "capability.h"

#include <gtest/gtest.h>

#include <initializer_list>

namespace tamrisk {
namespace {

constexpr double Near = 5e-4;

void ExpectFigure(const char* name, std::optional<double> got, std::optional<double> want) {
    SCOPED_TRACE(name);
    ASSERT_EQ(got.has_value(), want.has_value());
    if (want) {
        EXPECT_NEAR(*got, *want, Near);
    }
}

CapabilityLimits Limits(std::optional<double> low, std::optional<double> high, bool lowStrict = false,
                        bool highStrict = false) {
    return {low, high, lowStrict, highStrict, "V"};
}

// Each row's figures are worked out by hand (the first is the README's example).
TEST(Capability, FiguresWorkedOutByHand) {
    const std::optional<double> none;
    const struct {
        const char* what;
        std::vector<double> values;
        CapabilityLimits limits;
        std::optional<double> mean, sd, mr, cp, cpk, pp, ppk, cpkLow, cpkHigh, lcl, ucl;
        int outside;
        std::optional<int> marginal;
    } cases[] = {
        // mean 58/5; squares 5.2 / 4; moving ranges 2 1 2 1; sigma 1.5 / 1.128.
        {"two-sided", {10, 12, 11, 13, 12}, Limits(5, 17), 11.6, 1.140175, 1.5, 1.503999, 1.353599, 1.754116,
         1.578704, 0.371150, 2.336048, 7.610638, 15.589362, 0, 0},
        // mean 19.5; moving ranges 2 1 2; 20 is refused by "< 20", 21 too.
        {"one-sided, strict", {18, 20, 19, 21}, Limits(none, 20, false, true), 19.5, 1.290994, 5.0 / 3, none,
         0.112800, none, 0.129099, -0.226107, 0.451707, 15.067376, 23.932624, 2, none},
        // ">= 11": only the lower side; 10 is below it.
        {"one-sided, lower", {10, 12, 11, 13, 12}, Limits(11, none), 11.6, 1.140175, 1.5, none, 0.150400, none,
         0.175412, -0.159811, 0.460611, 7.610638, 15.589362, 1, none},
        // Within a tenth of the width (1.2) of a limit: 5.5 and 16.9; 17.5 is outside.
        // Moving ranges 5.5 5.9 0.6.
        {"marginal and outside", {5.5, 11, 16.9, 17.5}, Limits(5, 17), 12.725, 5.639371, 4, 0.564, 0.40185,
         0.354650, 0.252688, -0.056521, 0.860221, 2.086702, 23.363298, 1, 2},
        {"sigma 0", {5, 5, 5}, Limits(0, 10), 5, 0, 0, none, none, none, none, none, none, 5, 5, 0, 0},
        {"one value", {7}, Limits(0, 10), 7, none, none, none, none, none, none, none, none, none, none, 0, 0},
        {"no value", {}, Limits(0, 10), none, none, none, none, none, none, none, none, none, none, none, 0, none},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const CapabilityFigures f = ComputeCapability(c.values, c.limits);
        EXPECT_EQ(f.n, static_cast<int>(c.values.size()));
        EXPECT_TRUE(f.tooFew);
        ExpectFigure("mean", f.mean, c.mean);
        ExpectFigure("sd", f.standardDeviation, c.sd);
        ExpectFigure("moving range", f.averageMovingRange, c.mr);
        ExpectFigure("cp", f.cp, c.cp);
        ExpectFigure("cpk", f.cpk, c.cpk);
        ExpectFigure("pp", f.pp, c.pp);
        ExpectFigure("ppk", f.ppk, c.ppk);
        ExpectFigure("cpk low", f.cpkLow, c.cpkLow);
        ExpectFigure("cpk high", f.cpkHigh, c.cpkHigh);
        ExpectFigure("lcl", f.lowerControlLimit, c.lcl);
        ExpectFigure("ucl", f.upperControlLimit, c.ucl);
        EXPECT_EQ(f.outside, c.outside);
        EXPECT_EQ(f.marginal, c.marginal);
        if (!c.values.empty()) {
            ASSERT_TRUE(f.outsideShare);
            EXPECT_DOUBLE_EQ(*f.outsideShare, static_cast<double>(c.outside) / c.values.size());
        }
    }
}

// Rule 1 marks a value beyond a control limit; rule 2 the ninth and later
// values of a run on one side of the mean, which a value on the mean ends.
// Steady runs have a small moving range, so most rows look at rule 2 alone.
TEST(Capability, RuleBreaksOfTheIndividualsChart) {
    const std::vector<double> twos(8, 2), zeros(8, 0);
    auto join = [](std::initializer_list<std::vector<double>> parts) {
        std::vector<double> all;
        for (const auto& part : parts)
            all.insert(all.end(), part.begin(), part.end());
        return all;
    };
    const struct {
        const char* what;
        std::vector<double> values;
        bool runsOnly;
        std::vector<RuleBreak> breaks;
    } cases[] = {
        // Ten 10s and a 20: mean 120/11, sigma 1/1.128, control limits 8.25 and 13.57.
        {"a jump after a run",
         {10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 20},
         false,
         {{8, ChartRule::NineOnOneSide}, {9, ChartRule::NineOnOneSide}, {10, ChartRule::BeyondControlLimit}}},
        // Mean 1: eight above, one on the mean, eight above, eight below, one on it, eight below.
        {"a value on the mean ends the run", join({twos, {1}, twos, zeros, {1}, zeros}), true, {}},
        {"eight in a row is no break", join({zeros, twos}), true, {}},
        {"nine in a row below", join({zeros, {0}, twos}), true, {{8, ChartRule::NineOnOneSide}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<RuleBreak> breaks = ComputeCapability(c.values, Limits(-100, 100)).breaks;
        if (c.runsOnly)
            std::erase_if(breaks, [](const RuleBreak& b) { return b.rule != ChartRule::NineOnOneSide; });
        EXPECT_EQ(breaks, c.breaks);
    }
}

TEST(Capability, ThirtyValuesAreEnoughToJudge) {
    std::vector<double> values;
    for (int i = 0; i < CapabilityMinimumValues; ++i)
        values.push_back(i % 3);
    EXPECT_FALSE(ComputeCapability(values, Limits(-10, 10)).tooFew);
    values.pop_back();
    EXPECT_TRUE(ComputeCapability(values, Limits(-10, 10)).tooFew);
}

MeasuredCheck Check(const char* name, CapabilityLimits limits, std::optional<double> value, qint64 startedMs,
                    bool failed = false) {
    MeasuredCheck c;
    c.name = name;
    c.limits = std::move(limits);
    c.value = value;
    c.run.recordId = "r" + std::to_string(startedMs);
    c.run.startedMs = startedMs;
    c.run.runFailed = failed;
    return c;
}

// A check whose limits changed is two groups; values go in time order; a
// value that is no number is counted, not used; failed runs' values are left
// out of the second set of figures; the worst Cpk comes first.
TEST(Capability, ChecksAreGroupedByNameAndLimitsWorstFirst) {
    const std::vector<MeasuredCheck> checks = {
        Check("volts", Limits(0, 10), 6, 4),          Check("volts", Limits(0, 10), 4, 2),
        Check("volts", Limits(0, 10), 5, 3),          Check("volts", Limits(0, 10), std::nullopt, 5),
        Check("volts", Limits(0, 12), 9, 6),          Check("volts", Limits(0, 12), 11, 7, true),
        Check("volts", Limits(0, 12), 10, 8),         Check("flat", Limits(0, 10), 5, 1),
        Check("flat", Limits(0, 10), 5, 9),
    };
    const std::vector<CheckCapability> groups = ComputeCapabilities(checks, true);
    ASSERT_EQ(groups.size(), 3u);
    // 0..12: mean 10, sigma 1.5/1.128, Cpk 2/(4.5/1.128); 0..10: mean 5, sigma 1/1.128, Cpk 5/(3/1.128).
    EXPECT_EQ(groups[0].limits.high, 12);
    EXPECT_NEAR(*groups[0].all.cpk, 0.501333, Near);
    EXPECT_EQ(groups[0].withoutFailed.n, 2);
    EXPECT_EQ(groups[0].values[1].recordId, "r7");
    EXPECT_TRUE(groups[0].values[1].runFailed);
    EXPECT_EQ(groups[1].limits.high, 10);
    EXPECT_EQ(groups[1].name, "volts");
    EXPECT_NEAR(*groups[1].all.cpk, 1.88, Near);
    EXPECT_EQ(groups[1].notNumbers, 1);
    ASSERT_EQ(groups[1].values.size(), 3u);
    EXPECT_EQ(groups[1].values[0].value, 4);
    EXPECT_EQ(groups[1].values[2].value, 6);
    EXPECT_EQ(groups[2].name, "flat");  // sigma 0: no Cpk, last
    EXPECT_FALSE(groups[2].all.cpk);
    EXPECT_TRUE(ComputeCapabilities(checks, false)[0].values.empty());
}

}  // namespace
}  // namespace tamrisk
