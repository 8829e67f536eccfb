#include "failurecause.h"
#include "recordtesting.h"

#include <gtest/gtest.h>

namespace tamrisk::testing {
namespace {

// The first check that did not pass, failed or not read, in the run's order, is
// the cause whatever came after it; without one, the first step not answered;
// without that, the run's reason.
TEST(FailureCause, TheFirstCheckThatDidNotPassThenTheFirstRedStepThenTheReason) {
    using R = CheckResult;
    using S = StepResult;
    const auto step = [](int line, int command, StepResult result) {
        RecordStep s;
        s.line = line;
        s.command = command;
        s.result = result;
        return s;
    };
    const struct Case {
        const char* what;
        std::vector<std::pair<const char*, CheckResult>> checks;
        std::vector<RecordStep> steps;
        std::string reason;
        std::string cause;
        std::optional<std::size_t> check;  // the causing check's place
    } cases[] = {
        {"a failed check before one not read", {{"a", R::Pass}, {"b", R::Fail}, {"c", R::Error}}, {}, "", "b", 1},
        {"a check not read before a failed one", {{"a", R::Error}, {"b", R::Fail}}, {}, "", "a", 0},
        {"a check comes before a red step", {{"a", R::Fail}}, {step(3, 74, S::Refused)}, "", "a", 0},
        {"checks that passed leave the first red step",
         {{"a", R::Pass}},
         {step(3, 74, S::Answered), step(7, 91, S::NoAnswer), step(8, 92, S::Refused)},
         "",
         "line 7: 91",
         std::nullopt},
        {"nothing red: the reason",
         {{"a", R::Pass}},
         {step(3, 74, S::Answered)},
         "cancelled",
         "cancelled",
         std::nullopt},
        {"nothing at all", {}, {}, "", "unknown", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Record record;
        for (const auto& [name, result] : c.checks)
            record.checks.push_back(NumericCheck(name, result, "1", 0));
        record.steps = c.steps;
        const FailureCause cause = FailureCauseOf(record);
        EXPECT_EQ(cause.Name(c.reason), c.cause);
        EXPECT_EQ(cause.CausingCheckIndex(), c.check);
        if (c.check) {
            EXPECT_EQ(cause.CausingCheck(), record.checks[*c.check].check);
        }
    }
}

}  // namespace
}  // namespace tamrisk::testing
