#pragma once
// The serial numbers that a script run hands out: after every transaction of an
// incrementing line the run tells an observer what went out, in which number
// space and what became of it. Whoever keeps the run's record implements the
// observer; the run knows nothing of how it is kept.

#include "scriptparser.h"
#include "transaction.h"

#include <string>

namespace tamrisk {

// What became of one transaction, judged by what the printer said and whether
// the request went out.
enum class SentSerialResult {
    Answered,  // a valid answer without the printer's common error
    Refused,   // the printer's common error, or the request never went out
    Unknown,   // sent, but no valid answer: the printer may have carried it out
};

// One transaction of an incrementing line.
struct SentSerial {
    std::string space;  // SerialNumberSpace of the line
    std::string data;   // as sent, after the data escapes are translated
    int line = 0;       // 1-based script line number
    SentSerialResult result = SentSerialResult::Unknown;

    bool operator==(const SentSerial&) const = default;
};

class SerialNumberObserver {
public:
    virtual ~SerialNumberObserver() = default;
    // Told after every transaction of an incrementing line, each resend too.
    virtual void SerialSent(const SentSerial& serial) = 0;
};

// The number space of an incrementing line: its command number, a comma, and
// its data as written with the digits of every field that has a step written
// as '#' ("91,DT######" for "+1;91,DT000100"). Fields with a step of 0 and
// digits outside any field keep their digits.
std::string SerialNumberSpace(const ScriptLine& line);

// Judges the transaction that ExecCommand has just ended with `result`, leaving
// `state`. Only a definite refusal is Refused: a request that went out without
// a valid answer may have been carried out. A call refused as busy sent nothing.
SentSerialResult JudgeTransaction(ExecResult result, const TransactionState& state);

}  // namespace tamrisk
