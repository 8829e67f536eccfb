#pragma once
// One printer transaction (ExecCommand) and the transaction state that every
// caller reads after it: the answer's data and status bytes, the condition
// word, the attempt and SYN counts, the sequence byte and the two request flags.

#include "frame.h"
#include "host.h"
#include "notifier.h"
#include "statusbits.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tamrisk {

class SerialLink;

// Outcome of ExecCommand (the values are the station's result codes 0 to 3).
enum class ExecResult {
    // An answer passed every frame test; its status bytes may still report a
    // printer error (StatusFlags & FailureMask).
    ExecOk,
    // No answer within the gap in the last attempt, no port open, the port lost
    // on the way, or cancelled before anything was sent.
    ExecNoAnswer,
    // An answer came in the last attempt but failed a frame test, or the data
    // did not fit a request frame (nothing sent).
    ExecBadProtocol,
    // Refused without touching anything: another transaction is in progress.
    ExecBusy,
};

// The silence after the last byte that ends a reception (2.315e-05 day).
constexpr std::chrono::microseconds AnswerGap{2000160};
// Pause after a failed attempt, blocking.
constexpr int AttemptPauseMs = 300;

// The shared state of the last transaction; one instance, owned by the
// application and handed to every window and runner.
struct TransactionState {
    std::string AnswerData;  // data field of the last answer, at most 212 bytes
    StatusBytesArray StatusBytes{};
    std::uint32_t StatusFlags = 0;
    std::int32_t FailedAttempts = 0;
    std::int32_t SynCount = 0;
    std::uint8_t SequenceNumber = FirstSequence;
    bool RepeatRequest = false;  // set here on a Yes to a retry question; the script run clears it
    bool CancelRequest = false;  // set by the Cancel buttons; only read here
    // The last transaction's request went out whole on the line (at least once).
    // When it did and no valid answer came, the printer may have carried it out;
    // a frame cut short cannot pass its checksum, so it does not count.
    bool RequestSent = false;
};

// How one transaction ended, as its watchers hear it: a valid answer; a valid
// answer whose status reports the printer's common error (the command refused);
// no valid answer to a request that went out; an answer that failed a frame
// test; nothing went out (no port, the port lost before sending, a cancel
// before sending, data too long for a frame).
enum class TransactionResult { Answered, Refused, NoAnswer, BadAnswer, NotSent };

// One transaction as it ended. The views into the data and the answer hold only
// while the watcher is being told.
struct TransactionReport {
    int command = 0;
    std::string_view data;                   // as sent
    std::optional<StatusBytesArray> status;  // when a valid answer came
    std::string_view answer;                 // the answer's data as the state holds it
    TransactionResult result = TransactionResult::NotSent;
    int attempts = 0;  // frames sent: 1 when the first was answered
    Host::Clock::time_point started, ended;  // ended before any question to the operator
};

// ORs into `flags` the StatusFlags bit of every mapped status bit set in `status`.
std::uint32_t MapStatusToFlags(const StatusBytesArray& status, std::uint32_t flags);

// Carries out transactions over `link`, reaching the operator through `host`.
class Transactor {
public:
    Transactor(SerialLink& link, Host& host, TransactionState& state);

    // Sends `command` (its low byte) with `data` and collects the answer, making
    // at most two attempts; asks "No printer serponse. Retry?" or "Bad protocol.
    // Retry?" after a final failure (Yes sets RepeatRequest). A port lost on the
    // way ends the transaction at once with PortNotOpen, without a question.
    // Returns ExecOk, ExecNoAnswer or ExecBadProtocol, or ExecBusy without
    // touching anything when called while another transaction runs.
    ExecResult ExecCommand(int command, std::string_view data);

    // Subscribes `callback` to every transaction that ExecCommand carries out (not
    // one refused as busy), told once as it ends, after the operator answered
    // any question; in subscription order.
    [[nodiscard]] Subscription OnTransaction(std::function<void(const TransactionReport&)> callback) {
        return m_transactions.Subscribe(std::move(callback));
    }

    bool InProgress() const { return m_inProgress; }
    // The port went away since it was opened (nothing can be sent until the next open).
    bool PortLost() const;
    TransactionState& State() { return m_state; }

private:
    // Empties AnswerData, StatusBytes and SynCount.
    void ForgetAnswer();
    // Writes the request frame; false when the line did not take all of it (the
    // rest is dropped, so the printer never gets it whole) or no port is open.
    bool SendFrame(int command, std::string_view data);
    // Collects one answer to `command` into the receiver; true when the gap ran
    // out first. Every byte restarts the gap, busy bytes only while
    // CancelRequest is clear.
    bool ReceiveFrame(int command);
    // Runs the attempts of one transaction whose request may go out, and fills
    // in its end, result, attempts, status and answer.
    ExecResult Attempt(int command, std::string_view data, TransactionReport& report);
    // Tells the watchers of `report`.
    void Tell(const TransactionReport& report);

    // How long a command's answers take to come whole, from the request handed
    // to the line, as learnt from them; zero while not known. `uses`: answers
    // to the command since it was learnt.
    struct AnswerTime {
        std::chrono::microseconds took{0};
        int uses = 0;
    };
    // Learns `time` from an answer that ended with `step` and was whole by
    // `whole` (none when that is not known: found whole after a sleep).
    void LearnAnswerTime(AnswerTime& time, AnswerReceiver::Step step, std::optional<Host::Clock::time_point> whole);

    SerialLink& m_link;
    Host& m_host;
    TransactionState& m_state;
    AnswerReceiver m_receiver;
    std::array<AnswerTime, 256> m_answerTimes{};
    Host::Clock::time_point m_sentAt{};  // the last request handed to the line
    bool m_inProgress = false;
    BasicNotifier<const TransactionReport&> m_transactions;
};

}  // namespace tamrisk
