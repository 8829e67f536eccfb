#pragma once
// The record of one operation as a front end keeps it: its header, filled before
// Start; the operation's lines teed from its sink (or kept only); its
// transactions with the printer as steps; the serial numbers a script run
// sends; images of memory reads; the outcome. Lines wait at
// most a quarter of a second before they are written, also while the operation
// waits for the printer, as long as events run. The store is shared, not owned.

#include "failurecause.h"
#include "recorder.h"
#include "scriptrunner.h"
#include "serialclaims.h"
#include "serialnumbers.h"
#include "transaction.h"

#include <QString>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tamrisk {

// Opens the route's local records file and marks the records left unfinished
// by ended programs aborted; with a line, its records are queued for the line
// (ForwardTo), to be sent on by a RecordForwarder. Null, after `tell` received
// "<file>: <reason>", when it cannot be opened or written.
std::unique_ptr<RecordStore> OpenRecords(const RecordsRoute& route, const std::function<void(const QString&)>& tell);

// The image of `bytes` read by an operation of `kind`, saved in `file` (UTF-8;
// empty when not saved, else made absolute): its length and SHA-256.
RecordImage ImageOf(std::string kind, std::string_view bytes, const std::string& file);

class OperationRecord : public RunObserver {
public:
    // A record of `kind` along `route` (none: nothing is kept, lines are only
    // forwarded); `tellOnce` receives the first store failure. `shared`: the
    // writer it shares with records running beside it (Recorder).
    OperationRecord(std::optional<RecordsRoute> route, Host& host, std::function<void(const QString&)> tellOnce,
                    std::string kind, std::shared_ptr<RecordsWriterThread> shared = nullptr);
    // A record still in progress is finished as aborted.
    ~OperationRecord() override;
    OperationRecord(const OperationRecord&) = delete;
    OperationRecord& operator=(const OperationRecord&) = delete;

    // Filled before Start: the kind, station, operator and version are set.
    RecordHeader& Header() { return m_header; }
    // Writes the header; the record's time starts now. Once.
    void Start();
    // The operation's sink teed into the record. Either Tee or Keep, once.
    ResultSink& Tee(ResultSink& inner);
    // A sink whose lines are kept in the record only, for an operation that shows
    // them another way.
    ResultSink& Keep();
    void Serial(RecordSerial serial) { m_recorder.Serial(std::move(serial)); }
    // Every transaction `transactor` carries out while the record is in progress
    // becomes a step of it: a run's with the script line it was sent for. A bulk
    // read (every kind but "run" and "command") keeps a step per phase instead:
    // consecutive transactions of one command make one step. The transactor
    // must outlive the watch (until Finish or destruction).
    void WatchTransactions(Transactor& transactor);
    // A script run's lines and serial numbers go into the record.
    // The end of the run's lines (0) gives back the numbers claimed ahead.
    void LineStarting(int line) override;
    void SerialSent(const SentSerial& serial) override;
    // With `claims` (not owned), every number is claimed there before it is sent
    // (the run waits for the answer), a refused one given up again; records that
    // are not kept, or claims that cannot be made, let no number out; claims out
    // of reach are waited for as the run's `wait` says (WaitWhileOutOfReach),
    // then Unreachable, or Cancelled. A line's next number is
    // claimed ahead, given back at the end of the run's lines or at Finish when
    // not used. Null, the default: every number is free to send.
    void SetUniqueSerials(SerialClaims* claims) { m_claims = claims; }
    ClaimAnswer ClaimSerial(const std::string& space, const std::string& data, int line,
                            const OutOfReachWait& wait) override;
    void NextSerial(const std::string& space, const std::string& data, int line) override;
    // A check line's outcome goes into the record with the step it judged: the
    // last step recorded (none before the first).
    void Checked(const CheckOutcome& check) override;
    // Why the run failed, as far as its checks tell.
    const FailureCause& Cause() const { return m_cause; }
    // The image read, saved in `file` (UTF-8; empty when not saved): its length and SHA-256.
    void Image(std::string_view bytes, const std::string& file);
    // The image in `file` as saved (a copy written as it is read).
    void ImageOfFile(const std::string& file);
    // Why an operation that showed red lines failed (UTF-8): the answer line of
    // its first failing step (one not answered) when that step came before any
    // other red line, else its first red line (a cancel, a number not claimed,
    // an operator's message); empty when no line was red.
    std::string FailureReason() const;
    // The last red line teed or kept (UTF-8); empty when none.
    const std::string& LastRedLine() const { return m_lastRed; }
    // True once a red line was teed or kept.
    bool SawRed() const { return m_sawRed; }
    // Finishes the record (starting it first when the operation could not start).
    // Only the first call counts.
    void Finish(RecordOutcome outcome, std::string reason, std::optional<int> exitCode = std::nullopt);
    bool Finished() const { return m_finished; }
    // The outcome and reason the record was finished with; none before Finish.
    std::optional<RecordOutcome> Outcome() const { return m_outcome; }
    const std::string& Reason() const { return m_reason; }
    // The record's id once started.
    const std::string& Id() const { return m_recorder.Header().id; }
    // Keeps the whole record in memory too, for a report when the operation ends.
    // Call before Start.
    void KeepWhole() {
        m_keepWhole = true;
        m_recorder.KeepWhole();
    }
    // The record so far (with KeepWhole, every line, serial number, image and
    // step, with the phase of a bulk read under way).
    Record Snapshot() const;

private:
    // Turns a transaction into a step of the record (or into the phase under way).
    void Transaction(const TransactionReport& report);
    // Hands the phase of a bulk read under way to the recorder.
    void EndPhase();
    // The claim of `data` in `space` by this record.
    SerialClaimRow ClaimRow(const std::string& space, const std::string& data) const;
    // One try at claiming `data` in `space`; Unreachable while the claims are out of reach.
    ClaimAnswer ClaimOnce(const std::string& space, const std::string& data);

    class Watch : public ResultSink {
    public:
        explicit Watch(OperationRecord& record) : m_record(record) {}
        void AppendResultLine(std::string_view text, ResultColour colour) override;
        void Flush() override;
        ResultSink* next = nullptr;

    private:
        OperationRecord& m_record;
    };
    class Nothing : public ResultSink {
    public:
        void AppendResultLine(std::string_view, ResultColour) override {}
    };

    Host& m_host;
    Recorder m_recorder;
    RecordHeader m_header;
    SerialClaims* m_claims = nullptr;
    // The number claimed for the transaction under way, until it is told.
    std::optional<std::pair<std::string, std::string>> m_claim;
    Watch m_watch{*this};
    Nothing m_nothing;
    std::optional<QTimer> m_timer;
    Subscription m_transactions;
    int m_scriptLine = 0;
    std::optional<RecordStep> m_phase;  // of a bulk read, until its command changes
    int m_steps = 0;                    // steps recorded so far, the phase under way too
    FailureCause m_cause;
    RecordStep m_step;                  // the transaction being kept
    std::string m_firstRed, m_lastRed;
    bool m_sawRed = false;
    // The first failing step: whether it came before any red line, and the red
    // line shown for it once that came.
    bool m_stepFailed = false;
    bool m_stepFailedFirst = false;
    bool m_awaitingFailureLine = false;
    std::string m_failureLine;
    bool m_keepWhole = false;
    bool m_started = false;
    bool m_finished = false;
    std::optional<RecordOutcome> m_outcome;
    std::string m_reason;
};

// An operation's outcome and the reason given for it.
struct Verdict {
    RecordOutcome outcome = RecordOutcome::Pass;
    std::string reason;
};

// The verdict of a script run that ended so, whose lines, transactions and
// checks `record` watched: an error when it could not start and aborted when the
// port was lost, both for `portReason`; an error for its last red line when a
// number could not be claimed; aborted by a cancel for `cancelReason`, or when
// that is empty for the run's last red line ("Script cancelled !!!"). A run that
// went to its end or stopped at a failure: for the check that caused it to fail
// (FailureCause), an error when that check could not be read, else a failure;
// without one, a failure for its FailureReason when a line was red; else a pass.
Verdict RunVerdict(RunOutcome ended, const OperationRecord& record, const std::string& portReason,
                   const std::string& cancelReason = {});

// The verdict of one command whose transaction left the status `flags`, whose
// lines `record` watched: aborted for `lostReason` when the port was lost on the
// way; a pass when the printer reported neither a failure nor its common error;
// else a failure for its FailureReason, or `refusedReason` when no line was red.
Verdict CommandVerdict(bool stillConnected, std::uint32_t flags, const OperationRecord& record,
                       const std::string& lostReason, const std::string& refusedReason);

}  // namespace tamrisk
