#include "resultlog.h"

#include "dataescapes.h"
#include "hexdigits.h"
#include "host.h"
#include "transaction.h"

#include <string>

namespace tamrisk {

std::string FormatRequestLine(int command, std::string_view data) {
    return "-> " + std::to_string(command) + ",\"" + std::string(data) + "\"";
}

std::string FormatAnswerLine(const TransactionState& state) {
    // "<- [%02X,%02X,%02X,%02X,%02X,%02X](%i,%i),\"%s\"", built by hand: it is
    // written after every transaction.
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string line = "<- [";
    line.reserve(32 + state.AnswerData.size());
    for (std::size_t i = 0; i < state.StatusBytes.size(); ++i) {
        if (i != 0)
            line.push_back(',');
        line.push_back(Digits[state.StatusBytes[i] >> 4]);
        line.push_back(Digits[state.StatusBytes[i] & 0x0F]);
    }
    line += "](" + std::to_string(state.FailedAttempts) + "," + std::to_string(state.SynCount) + "),\"";
    line += state.AnswerData;
    line.push_back('"');
    return line;
}

bool ReadAnswerLineStatus(std::string_view line, StatusBytesArray& status) {
    constexpr std::string_view Start = "<- [";
    constexpr std::size_t StatusChars = 17;  // six bytes of two digits with commas between
    if (line.substr(0, Start.size()) != Start)
        return false;
    const std::string_view bytes = line.substr(Start.size(), StatusChars);
    for (std::size_t k = 0; k < status.size(); ++k) {
        int value = 0;
        std::size_t digits = 0;
        for (const std::size_t at = 3 * k; digits < 2 && at + digits < bytes.size(); ++digits) {
            const int digit = HexDigitValue(bytes[at + digits]);
            if (digit < 0)
                break;
            value = value * 16 + digit;
        }
        if (digits > 0)
            status[k] = static_cast<std::uint8_t>(value);
    }
    return true;
}

ResultColour AnswerLineColour(std::uint32_t statusFlags) {
    return (statusFlags & (CommonErrorFlag | LinkFailureMask)) != 0 ? ResultColour::Red : ResultColour::Green;
}

ExecResult LogTransaction(Transactor& transactor, ResultSink& sink, int command, std::string_view writtenData,
                   std::string_view sendData) {
    // A refused overlapping call must not disturb the running transaction's state.
    if (transactor.InProgress())
        return ExecResult::ExecBusy;
    // After a lost port nothing goes out: no request line for a frame that is
    // never sent (ExecCommand only says the port is not open).
    if (transactor.PortLost())
        return transactor.ExecCommand(command, sendData);
    sink.AppendResultLine(FormatRequestLine(command, writtenData), ResultColour::Blue);
    TransactionState& state = transactor.State();
    state.AnswerData.clear();
    const ExecResult result = transactor.ExecCommand(command, sendData);
    sink.AppendResultLine(FormatAnswerLine(state), AnswerLineColour(state.StatusFlags));
    return result;
}

LoggedCommand LogCommand(Transactor& transactor, Host& host, ResultSink& sink, int command,
                         std::string_view writtenData) {
    if (transactor.InProgress())
        return {ExecResult::ExecBusy, 0.0};
    const std::string send = TranslateDataEscapes(writtenData);
    const auto start = host.now();
    LoggedCommand outcome;
    outcome.result = LogTransaction(transactor, sink, command, writtenData, send);
    outcome.seconds = std::chrono::duration<double>(host.now() - start).count();
    sink.AppendResultLine(ElapsedResultLine("Command execution time ", outcome.seconds), ResultColour::Black);
    return outcome;
}

std::string ElapsedResultLine(std::string_view prefix, double seconds) {
    return FormatElapsed(prefix, seconds) + "\r\n";
}

}  // namespace tamrisk
