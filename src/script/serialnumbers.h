#pragma once
// What a script run tells whoever keeps its record: which script line is
// running, so that every line it logs can be traced to it, and the serial numbers
// it hands out: after every transaction of an incrementing line, what went out,
// in which number space and what became of it. The run knows nothing of how its
// record is kept. Whoever keeps the record may also be asked, before an
// incrementing line is sent, whether its number is still free to give.

#include "answercheck.h"
#include "scriptparser.h"
#include "transaction.h"

#include <chrono>
#include <functional>
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

// The answer to a claim on a number before it is sent.
enum class SerialClaim {
    Claimed,      // the number is this run's to send
    Taken,        // given before: the line moves on to its next number
    Unavailable,  // no claim could be made: the number must not go out
    Unreachable,  // the claims are out of reach (and stayed so as long as the claim could wait)
    Cancelled,    // the wait for claims out of reach was cancelled: the number must not go out
};

// How a question to the records may wait while they are out of reach: asked
// again now and then, at most `limit`. Whoever answers does the waiting, with
// the Host's clock and sleep.
struct OutOfReachWait {
    std::chrono::milliseconds limit{0};
    // Asked after every pause, the events run: true ends the wait at once.
    std::function<bool()> cancelled;
    // Told once as a wait begins, with why the records are out of reach.
    std::function<void(const std::string& reason)> began;
    // Told once as a wait ends: the records answered again after `waitedSeconds`,
    // or not (the limit ran out, or the wait was cancelled).
    std::function<void(bool answered, double waitedSeconds)> ended;
};

struct ClaimAnswer {
    SerialClaim claim = SerialClaim::Claimed;
    std::string reason;  // why no claim could be made
};

class RunObserver {
public:
    virtual ~RunObserver() = default;
    // Told as each script line begins to run, with its 1-based number, and with 0
    // once the run's lines are done.
    virtual void LineStarting(int line) { (void)line; }
    // Told after every transaction of an incrementing line, each resend too.
    virtual void SerialSent(const SentSerial& serial) = 0;
    // Asked before an incrementing line sends `data` (translated, in `space`),
    // again after every Taken with the line's next number, waiting as `wait`
    // says while the claims are out of reach. A claim is kept once SerialSent
    // tells an answer or an unknown outcome, and given up on a refusal.
    virtual ClaimAnswer ClaimSerial(const std::string& space, const std::string& data, int line,
                                    const OutOfReachWait& wait) {
        (void)space, (void)data, (void)line, (void)wait;
        return {};
    }
    // Told once a number of an incrementing line is claimed, before it is sent:
    // `data` is the number the line gives next once this one is kept, which may
    // be claimed ahead while this transaction is on the wire. Told only when the
    // line runs again (a repeat block around it has passes left).
    virtual void NextSerial(const std::string& space, const std::string& data, int line) {
        (void)space, (void)data, (void)line;
    }
    // Told after each check line has judged the last transaction's answer (or
    // could not be read), before the run goes on.
    virtual void Checked(const CheckOutcome& check) { (void)check; }
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
