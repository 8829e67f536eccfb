// The line's process as rules: names, routes, the entry of a unit on a line
// made by hand, and failures in a row.

#include "process.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tamrisk {
namespace {

TEST(ProcessNames, EmptyTooLongAndControlCharactersAreRefused) {
    const struct {
        std::string name;
        std::string problem;
    } cases[] = {
        {"FP-3", ""},
        {std::string(64, 'x'), ""},
        {"\xD0\x94-1", ""},  // UTF-8 letters are names too
        {"", "the product name is empty"},
        {std::string(65, 'x'), "the product name is over 64 characters"},
        {"FP\t3", "the product name holds a control character"},
        {"FP-3\x7f", "the product name holds a control character"},
        {std::string("FP\0" "3", 4), "the product name holds a control character"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(NameProblem("product", c.name), c.problem);
    }
}

TEST(ProcessRoutes, ParsedWithLimitsAndWrittenBack) {
    const struct {
        std::vector<std::string> words;
        std::vector<RouteStep> steps;  // empty: refused
        std::string error;
        std::string text;
    } cases[] = {
        {{"board", "burn-in:2", "fiscal", "final"},
         {{"board", 3}, {"burn-in", 2}, {"fiscal", 3}, {"final", 3}},
         "",
         "board burn-in:2 fiscal final"},
        {{"final:3"}, {{"final", 3}}, "", "final"},
        {{"a:10"}, {{"a", 10}}, "", "a:10"},
        {{}, {}, "a route names at least one operation", ""},
        {{"board", "fiscal", "board:2"}, {}, "board is named twice", ""},
        {{"burn-in:0"}, {}, "burn-in:0: the limit after ':' is a whole number from 1", ""},
        {{"burn-in:"}, {}, "burn-in:: the limit after ':' is a whole number from 1", ""},
        {{"burn-in:2x"}, {}, "burn-in:2x: the limit after ':' is a whole number from 1", ""},
        {{"burn-in:-1"}, {}, "burn-in:-1: the limit after ':' is a whole number from 1", ""},
        {{":2"}, {}, ":2: the operation name is empty", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.words));
        std::string error;
        const auto steps = ParseRoute(c.words, error);
        EXPECT_EQ(steps.value_or(std::vector<RouteStep>{}), c.steps);
        EXPECT_EQ(error, c.error);
        if (steps) {
            EXPECT_EQ(RouteText(*steps), c.text);
        }
    }
    EXPECT_EQ(RouteOperations({{"board", 3}, {"burn-in", 2}, {"final", 3}}), "board, burn-in, final");
}

// The route of FP-3, and U-4711's history on it: board passed, burn-in failed
// on line-2 at 10:42 after an earlier pass.
class ProcessEntry : public ::testing::Test {
protected:
    static std::string At(qint64 ms) { return "t" + std::to_string(ms); }
    EntryFacts Line() const {
        EntryFacts facts;
        facts.route = {{"board", 3}, {"burn-in", 2}, {"fiscal", 3}, {"final", 3}};
        facts.firstProduct = "FP-3";
        facts.lastRuns = {{"board", "FP-3", "line-1", "r1", 100, RecordOutcome::Pass},
                          {"burn-in", "FP-3", "line-2", "r3", 1042, RecordOutcome::Fail}};
        return facts;
    }
    EntryRequest Asking(std::string operation, std::string product = "FP-3") const {
        return {"U-4711", std::move(operation), std::move(product), "r9", "line-1", "/dev/ttyUSB0", 2000};
    }
};

TEST_F(ProcessEntry, EachRuleRefusesWithItsReason) {
    using V = EntryVerdict;
    const auto passedBurnIn = [](EntryFacts f) {
        f.lastRuns[1].outcome = RecordOutcome::Pass;
        return f;
    };
    const struct {
        const char* what;
        EntryRequest request;
        std::function<EntryFacts(EntryFacts)> change;
        V verdict;
        std::string reason;
    } cases[] = {
        {"first operation", Asking("board"), nullptr, V::Entered, ""},
        {"passed before, again", Asking("burn-in"), passedBurnIn, V::Entered, ""},
        {"failed the one before", Asking("fiscal"), nullptr, V::Refused,
         "U-4711 has not passed burn-in: its last burn-in run failed at t1042 on line-2"},
        {"error before",
         Asking("fiscal"),
         [](EntryFacts f) {
             f.lastRuns[1].outcome = RecordOutcome::Error;
             return f;
         },
         V::Refused, "U-4711 has not passed burn-in: its last burn-in run ended in error at t1042 on line-2"},
        {"one skipped", Asking("final"), passedBurnIn, V::Refused, "U-4711 has no fiscal run"},
        {"never run at all",
         Asking("burn-in"),
         [](EntryFacts f) {
             f.lastRuns.clear();
             f.firstProduct.clear();
             return f;
         },
         V::Refused, "U-4711 has no board run"},
        {"not on the route", Asking("pack"), nullptr, V::Refused,
         "pack is not on FP-3's route: board, burn-in, fiscal, final"},
        {"another product", Asking("board", "FP-3-KZ"), nullptr, V::Refused, "U-4711 is an FP-3, not an FP-3-KZ"},
        {"a product that is a word",
         Asking("board", "Tiger"),
         [](EntryFacts f) {
             f.firstProduct = "Orion";
             return f;
         },
         V::Refused, "U-4711 is an Orion, not a Tiger"},
        {"on hold",
         Asking("board"),
         [](EntryFacts f) {
             f.holds = {{"h2", "", "sv", "line-1", "later", 1500}, {"h1", "burn-in", "", "line-2", "failed twice", 1100}};
             return f;
         },
         V::Refused, "U-4711 is on hold since t1100: failed twice"},
        {"in test at another station",
         Asking("board"),
         [](EntryFacts f) {
             f.inTest = UnitInTest{"r8", "line-2", "/dev/ttyUSB0", "board", "FP-3", 1042};
             return f;
         },
         V::Refused, "U-4711 is in test at line-2 since t1042"},
        {"in test at another port here",
         Asking("board"),
         [](EntryFacts f) {
             f.inTest = UnitInTest{"r8", "line-1", "/dev/ttyUSB1", "board", "FP-3", 1042};
             return f;
         },
         V::Refused, "U-4711 is in test at line-1 /dev/ttyUSB1 since t1042"},
        {"in test for this same record",
         Asking("board"),
         [](EntryFacts f) {
             f.inTest = UnitInTest{"r9", "line-1", "/dev/ttyUSB0", "board", "FP-3", 2000};
             return f;
         },
         V::Entered, ""},
        {"no route",
         Asking("board"),
         [](EntryFacts f) {
             f.route.clear();
             return f;
         },
         V::NotChecked, ""},
        {"no product named", Asking("board", ""), nullptr, V::NotChecked, ""},
        {"no operation named", Asking(""), nullptr, V::NotChecked, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const EntryFacts facts = c.change ? c.change(Line()) : Line();
        const EntryDecision decision = DecideEntry(c.request, facts, At);
        EXPECT_EQ(decision.verdict, c.verdict);
        EXPECT_EQ(decision.reason, c.reason);
    }
}

TEST(ProcessFailures, CountedBackToAPassOrTheLastRelease) {
    using O = RecordOutcome;
    const auto runs = [](std::vector<std::pair<qint64, O>> made) {
        std::vector<UnitRun> list;
        for (const auto& [ms, outcome] : made)
            list.push_back({"burn-in", "FP-3", "line-2", "r", ms, outcome});
        return list;
    };
    const struct {
        std::vector<UnitRun> runs;  // newest first
        qint64 releasedMs;
        int failures;
    } cases[] = {
        {{}, 0, 0},
        {runs({{5, O::Fail}, {4, O::Error}, {3, O::Fail}}), 0, 3},
        {runs({{5, O::Fail}, {4, O::Pass}, {3, O::Fail}}), 0, 1},
        {runs({{5, O::Pass}, {4, O::Fail}}), 0, 0},
        {runs({{5, O::Fail}, {4, O::Aborted}, {3, O::Fail}}), 0, 2},
        {runs({{5, O::Fail}, {4, O::Fail}, {3, O::Fail}}), 4, 1},
        {runs({{5, O::Fail}}), 5, 0},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(FailuresInRow(cases[i].runs, cases[i].releasedMs), cases[i].failures);
    }
    EXPECT_EQ(AutomaticHoldReason("burn-in", 2, 2), "failed burn-in 2 times in a row (limit 2)");
}

}  // namespace
}  // namespace tamrisk
