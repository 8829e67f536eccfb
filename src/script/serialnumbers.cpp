#include "serialnumbers.h"

#include "increments.h"

namespace tamrisk {

std::string SerialNumberSpace(const ScriptLine& line) {
    std::string data = line.data;
    for (const IncrementField& field : FindDigitFields(line))
        if (field.step != 0)
            data.replace(field.position - *line.dataOffset, field.digits.size(), field.digits.size(), '#');
    return std::to_string(line.command) + "," + data;
}

SentSerialResult JudgeTransaction(ExecResult result, const TransactionState& state) {
    // A busy call returns before ExecCommand touches the state: RequestSent
    // then tells of another transaction.
    if (result == ExecResult::ExecBusy || !state.RequestSent || (state.StatusFlags & CommonErrorFlag) != 0)
        return SentSerialResult::Refused;
    return result == ExecResult::ExecOk ? SentSerialResult::Answered : SentSerialResult::Unknown;
}

}  // namespace tamrisk
