#pragma once
// The results log: its colours, the one sink every writer appends through, the
// request and answer lines of a transaction, and the format of durations.

#include "frame.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace tamrisk {

struct TransactionState;
class Transactor;

enum class ResultColour { Black, Blue, Green, Red, Gray, Purple };

struct Rgb {
    int red, green, blue;
};
Rgb ColourRgb(ResultColour colour);

// Longest text one results line holds; longer texts are cut to it.
constexpr std::size_t MaxResultLineText = 1021;

// Where result lines go: the station's results view, the CLI's stdout, a test's list.
class ResultSink {
public:
    virtual ~ResultSink() = default;
    // Appends `text` (8-bit Windows-1251) and a line end, in `colour`.
    virtual void AppendResultLine(std::string_view text, ResultColour colour) = 0;
};

// "-> %i,\"%s\"": the command and the data as written (escapes untranslated).
std::string FormatRequestLine(int command, std::string_view data);
// "<- [%02X,%02X,%02X,%02X,%02X,%02X](%i,%i),\"%s\"" from the transaction state.
std::string FormatAnswerLine(const TransactionState& state);
// Red when the printer reported its common error or the link failed (no port,
// no answer, malformed answer); green otherwise.
ResultColour AnswerLineColour(std::uint32_t statusFlags);

// One logged transaction: the request line in blue, ExecCommand with `sendData`
// (AnswerData emptied first), the answer line in its colour. Returns the
// result of ExecCommand.
int LogTransaction(Transactor& transactor, ResultSink& sink, int command, std::string_view writtenData,
                   std::string_view sendData);

// "%s%4.2lf seconds\r\n" below 60 s, "%s%d:%4.2lf\r\n" (whole minutes and the
// rest) from 60 s on. The text carries its own line end.
std::string FormatElapsed(std::string_view prefix, double seconds);

}  // namespace tamrisk
