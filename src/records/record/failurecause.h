#pragma once
// Why a run failed, decided here once: the verdict's reason, the line's Pareto
// (records stats, the dashboard), JUnit and the pages all name the cause this
// finds. The cause is the first check, in the order the run made them, that did
// not pass (it failed, or could not be read): what went wrong first is why the
// run failed, whatever went wrong after it. A run without such a check failed
// for its first step that was not answered, else for its reason.

#include "answercheck.h"
#include "record.h"

#include <cstddef>
#include <optional>
#include <string>
#include <utility>

namespace tamrisk {

class FailureCause {
public:
    // Told of the run's checks one at a time, in the order made.
    void Check(const CheckOutcome& check);
    // Told of the run's steps one at a time, in the order made.
    void Step(const RecordStep& step);
    // The check that caused the failure; none when every check told passed.
    const std::optional<CheckOutcome>& CausingCheck() const { return m_check; }
    // Its place among the checks told, from 0.
    const std::optional<std::size_t>& CausingCheckIndex() const { return m_checkIndex; }
    // The first step not answered, as (script line, command); none when none was.
    const std::optional<std::pair<int, int>>& FirstRedStep() const { return m_step; }
    // True once a step not answered was told: later steps change nothing.
    bool HasRedStep() const { return m_step.has_value(); }
    // The cause a failed run is counted under (UTF-8): the causing check's name,
    // else "line N: CMD" of its first step not answered (N its script line, CMD
    // its command), else `reason`, else "unknown".
    std::string Name(const std::string& reason) const;

private:
    std::optional<CheckOutcome> m_check;
    std::optional<std::size_t> m_checkIndex;
    std::size_t m_checks = 0;  // told so far
    std::optional<std::pair<int, int>> m_step;
};

// The cause of `record`, from its checks and steps.
FailureCause FailureCauseOf(const Record& record);

}  // namespace tamrisk
