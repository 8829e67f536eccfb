#include "failurecause.h"

namespace tamrisk {

void FailureCause::Check(const CheckOutcome& check) {
    if (!m_check && check.result != CheckResult::Pass) {
        m_check = check;
        m_checkIndex = m_checks;
    }
    ++m_checks;
}

void FailureCause::Step(const RecordStep& step) {
    if (!m_step && step.result != StepResult::Answered)
        m_step.emplace(step.line.value_or(0), step.command);
}

std::string FailureCause::Name(const std::string& reason) const {
    if (m_check)
        return m_check->name;
    if (m_step)
        return "line " + std::to_string(m_step->first) + ": " + std::to_string(m_step->second);
    return reason.empty() ? "unknown" : reason;
}

FailureCause FailureCauseOf(const Record& record) {
    FailureCause cause;
    for (const RecordCheck& made : record.checks)
        cause.Check(made.check);
    for (const RecordStep& step : record.steps)
        cause.Step(step);
    return cause;
}

}  // namespace tamrisk
