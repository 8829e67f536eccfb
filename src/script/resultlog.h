#pragma once
// The results log: its colours, the one sink every writer appends through, the
// request and answer lines of a transaction, and the format of durations.

#include "duration.h"
#include "frame.h"
#include "linesink.h"
#include "transaction.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace tamrisk {

class Host;

// "-> %i,\"%s\"": the command and the data as written (escapes untranslated).
std::string FormatRequestLine(int command, std::string_view data);
// "<- [%02X,%02X,%02X,%02X,%02X,%02X](%i,%i),\"%s\"" from the transaction state.
std::string FormatAnswerLine(const TransactionState& state);
// Reads the six status bytes back from a line as FormatAnswerLine writes it;
// false when `line` does not begin with "<- [". Each byte is read as "%02X"
// (one or two hexadecimal digits) at offsets 0, 3, ... 15 of the 17 characters
// after "<- ["; a byte that does not read keeps its value in `status`.
bool ReadAnswerLineStatus(std::string_view line, StatusBytesArray& status);
// Red when the printer reported its common error or the link failed (no port,
// no answer, malformed answer); green otherwise.
ResultColour AnswerLineColour(std::uint32_t statusFlags);

// One logged transaction: the request line in blue, ExecCommand with `sendData`
// (AnswerData emptied first), the answer line in its colour. Returns the
// result of ExecCommand; ExecBusy, with nothing logged or touched, while
// another transaction is in progress.
ExecResult LogTransaction(Transactor& transactor, ResultSink& sink, int command, std::string_view writtenData,
                   std::string_view sendData);

struct LoggedCommand {
    ExecResult result = ExecResult::ExecOk;  // of ExecCommand; ExecBusy when refused
    double seconds = 0.0;  // the transaction's duration, on the host's clock
};

// One command sent by hand (the Execute Command dialog, tamrisk-cli exec):
// `writtenData` with its escapes translated, logged as the request line, the
// answer line and "Command execution time ..." in black.
LoggedCommand LogCommand(Transactor& transactor, Host& host, ResultSink& sink, int command,
                         std::string_view writtenData);

// A duration as the results log holds it: FormatElapsed's text and the CR LF
// after which the view shows an empty line.
std::string ElapsedResultLine(std::string_view prefix, double seconds);

}  // namespace tamrisk
