#include "resultlog.h"

#include "transaction.h"

#include <cstdio>
#include <string>

namespace tamrisk {

Rgb ColourRgb(ResultColour colour) {
    switch (colour) {
    case ResultColour::Black: return {0, 0, 0};
    case ResultColour::Blue: return {0, 0, 255};
    case ResultColour::Green: return {0, 128, 0};
    case ResultColour::Red: return {255, 0, 0};
    case ResultColour::Gray: return {128, 128, 128};
    case ResultColour::Purple: return {128, 0, 128};
    }
    return {0, 0, 0};
}

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

ResultColour AnswerLineColour(std::uint32_t statusFlags) {
    return (statusFlags & (CommonErrorFlag | LinkFailureMask)) != 0 ? ResultColour::Red : ResultColour::Green;
}

int LogTransaction(Transactor& transactor, ResultSink& sink, int command, std::string_view writtenData,
                   std::string_view sendData) {
    sink.AppendResultLine(FormatRequestLine(command, writtenData), ResultColour::Blue);
    TransactionState& state = transactor.State();
    state.AnswerData.clear();
    const int result = transactor.ExecCommand(command, sendData);
    sink.AppendResultLine(FormatAnswerLine(state), AnswerLineColour(state.StatusFlags));
    return result;
}

std::string FormatElapsed(std::string_view prefix, double seconds) {
    char text[64];
    if (seconds < 60) {
        std::snprintf(text, sizeof text, "%4.2f seconds\r\n", seconds);
    } else {
        const int minutes = static_cast<int>(seconds / 60);
        std::snprintf(text, sizeof text, "%d:%4.2f\r\n", minutes, seconds - 60.0 * minutes);
    }
    return std::string(prefix) + text;
}

}  // namespace tamrisk
