#include "operationrecord.h"

#include "outofreachwait.h"
#include "statusbits.h"
#include "textcodec.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <utility>

namespace tamrisk {

namespace {

std::string Sha256Hex(QCryptographicHash& hash) { return hash.result().toHex().toStdString(); }

StepResult StepResultOf(TransactionResult result) {
    switch (result) {
    case TransactionResult::Answered: return StepResult::Answered;
    case TransactionResult::Refused: return StepResult::Refused;
    case TransactionResult::NoAnswer: return StepResult::NoAnswer;
    case TransactionResult::BadAnswer: return StepResult::BadAnswer;
    case TransactionResult::NotSent: break;
    }
    return StepResult::NotSent;
}

// Adds `next`, a transaction of the same command, to the phase `phase`: the
// phase shows its first failure, or its last transaction while none failed.
void AddToPhase(RecordStep& phase, const RecordStep& next) {
    const bool failed = next.result != StepResult::Answered;
    if (phase.failures == 0) {
        phase.status = next.status;
        phase.answer = next.answer;
        phase.result = next.result;
    }
    phase.failures += failed ? 1 : 0;
    phase.transactions += 1;
    phase.attempts += next.attempts;
    phase.durationMs = next.tMs + next.durationMs - phase.tMs;
}

// A record is read later and elsewhere: the file it names must not depend on the folder it was made in.
std::string AbsolutePath(const std::string& file) {
    if (file.empty())
        return file;
    return QFileInfo(QString::fromStdString(file)).absoluteFilePath().toStdString();
}

}  // namespace

std::unique_ptr<RecordStore> OpenRecords(const RecordsRoute& route, const std::function<void(const QString&)>& tell) {
    auto store = std::make_unique<RecordStore>();
    store->SetForwardTo(route.line);
    StoreResult<void> opened = store->Open(route.local);
    const StoreResult<int> marked = opened ? store->MarkAbandoned() : StoreResult<int>(opened.error());
    if (!marked) {
        tell(marked.error().Text());
        return nullptr;
    }
    return store;
}

OperationRecord::OperationRecord(std::optional<RecordsRoute> route, Host& host,
                                 std::function<void(const QString&)> tellOnce, std::string kind,
                                 std::shared_ptr<RecordsWriterThread> shared)
    : m_host(host), m_recorder(std::move(route), host, std::move(tellOnce), std::move(shared)),
      m_header(NewRecordHeader(std::move(kind))) {}

// The phase under way goes into the record before the recorder finishes it.
OperationRecord::~OperationRecord() { EndPhase(); }

void OperationRecord::Start() {
    if (m_started)
        return;
    m_started = true;
    m_recorder.Start(m_header);
    // Lines are written when the operation lets events through, also while it
    // waits for the printer, so that a killed program leaves the lines so far.
    if (QCoreApplication::instance() != nullptr && m_recorder.Recording()) {
        m_timer.emplace();
        m_timer->setInterval(Recorder::BatchInterval);
        QObject::connect(&*m_timer, &QTimer::timeout, [this] { m_recorder.Tick(); });
        m_timer->start();
    }
}

ResultSink& OperationRecord::Tee(ResultSink& inner) {
    m_watch.next = &m_recorder.Tee(inner);
    return m_watch;
}

ResultSink& OperationRecord::Keep() { return Tee(m_nothing); }

void OperationRecord::Watch::AppendResultLine(std::string_view text, ResultColour colour) {
    OperationRecord& record = m_record;
    if (colour == ResultColour::Red) {
        record.m_lastRed = Cp1251ToUtf8(text);
        if (!record.m_sawRed)
            record.m_firstRed = record.m_lastRed;
        record.m_sawRed = true;
        if (record.m_awaitingFailureLine) {
            record.m_failureLine = record.m_lastRed;
            record.m_awaitingFailureLine = false;
        }
    }
    next->AppendResultLine(text, colour);
}

void OperationRecord::Watch::Flush() { next->Flush(); }

void OperationRecord::WatchTransactions(Transactor& transactor) {
    m_transactions = transactor.OnTransaction([this](const TransactionReport& report) { Transaction(report); });
}

void OperationRecord::Transaction(const TransactionReport& report) {
    if (!m_started || m_finished)
        return;
    const std::string& kind = m_recorder.Header().kind;
    // Filled in place: its strings keep their room from one transaction to the next.
    RecordStep& step = m_step;
    step.line = m_scriptLine > 0 && kind != "command" ? std::optional(m_scriptLine) : std::nullopt;
    step.command = report.command;
    step.data.assign(report.data);
    step.status = report.status;
    step.answer.assign(report.answer);
    step.result = StepResultOf(report.result);
    step.attempts = report.attempts;
    step.tMs = m_recorder.MsSinceStart(report.started);
    step.durationMs = std::chrono::duration_cast<std::chrono::milliseconds>(report.ended - report.started).count();
    step.transactions = 1;
    step.failures = step.result != StepResult::Answered ? 1 : 0;
    if (step.failures > 0 && !m_stepFailed) {
        m_stepFailed = true;
        m_stepFailedFirst = !m_sawRed;
        m_awaitingFailureLine = true;
    }
    if (!IsBulkKind(kind)) {
        m_recorder.Step(step);
        ++m_steps;
        return;
    }
    if (m_phase && m_phase->command == step.command) {
        AddToPhase(*m_phase, step);
        return;
    }
    EndPhase();
    m_phase = step;
    ++m_steps;
}

void OperationRecord::EndPhase() {
    if (m_phase)
        m_recorder.Step(*std::exchange(m_phase, std::nullopt));
}

std::string OperationRecord::FailureReason() const {
    if (m_stepFailedFirst && !m_awaitingFailureLine)
        return m_failureLine;
    return m_firstRed;
}

Record OperationRecord::Snapshot() const {
    Record record = m_recorder.Snapshot();
    if (m_keepWhole && m_phase)
        record.steps.push_back(*m_phase);
    return record;
}

void OperationRecord::LineStarting(int line) {
    m_scriptLine = line;
    m_recorder.SetScriptLine(line);
    // The run's lines are done: a number claimed ahead is not sent.
    if (line == 0 && m_claims != nullptr)
        m_claims->GiveBackAhead();
}

void OperationRecord::Checked(const CheckOutcome& check) {
    if (!m_started || m_finished)
        return;
    m_cause.Check(check);
    m_recorder.Check({check, m_steps > 0 ? std::optional(m_steps - 1) : std::nullopt});
}

SerialClaimRow OperationRecord::ClaimRow(const std::string& space, const std::string& data) const {
    const RecordHeader& header = m_recorder.Header();
    // A record without a unit is named after its first number, as its serial
    // numbers name it: the one under way when a number is claimed ahead of it.
    const std::string& first = m_claim ? m_claim->second : data;
    const std::string unit = header.unit.empty() ? Cp1251ToUtf8(first) : header.unit;
    return {space, data, header.id, header.station, unit, QDateTime::currentMSecsSinceEpoch()};
}

ClaimAnswer OperationRecord::ClaimSerial(const std::string& space, const std::string& data, int line,
                                         const OutOfReachWait& wait) {
    (void)line;
    if (m_claims == nullptr)
        return {};
    if (!m_recorder.Recording())
        return {SerialClaim::Unavailable, "records are not kept"};
    return ClaimWaiting(m_host, wait, [&] { return ClaimOnce(space, data); });
}

ClaimAnswer OperationRecord::ClaimOnce(const std::string& space, const std::string& data) {
    const StoreResult<ClaimResult> claimed = m_claims->Claim(ClaimRow(space, data));
    if (!claimed) {
        const StoreError& error = claimed.error();
        return {error.OutOfReach() ? SerialClaim::Unreachable : SerialClaim::Unavailable, error.Text().toStdString()};
    }
    if (*claimed == ClaimResult::Taken)
        return {SerialClaim::Taken, {}};
    m_claim.emplace(space, data);
    return {};
}

void OperationRecord::NextSerial(const std::string& space, const std::string& data, int line) {
    (void)line;
    if (m_claims != nullptr && m_recorder.Recording())
        m_claims->ClaimAhead(ClaimRow(space, data));
}

void OperationRecord::SerialSent(const SentSerial& serial) {
    // A refused number goes back for the next unit; one that may have gone out stays claimed.
    if (m_claim && m_claim->first == serial.space && m_claim->second == serial.data) {
        // A claim that cannot be given up only leaves a gap.
        if (serial.result == SentSerialResult::Refused)
            (void)m_claims->Release(serial.space, serial.data, Id());
        m_claim.reset();
    }
    SerialResult result = SerialResult::Unknown;
    switch (serial.result) {
    case SentSerialResult::Answered: result = SerialResult::Answered; break;
    case SentSerialResult::Refused: result = SerialResult::Refused; break;
    case SentSerialResult::Unknown: break;
    }
    m_recorder.Serial({serial.space, serial.data, serial.line, result});
}

RecordImage ImageOf(std::string kind, std::string_view bytes, const std::string& file) {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    return {std::move(kind), static_cast<qint64>(bytes.size()), Sha256Hex(hash), AbsolutePath(file)};
}

void OperationRecord::Image(std::string_view bytes, const std::string& file) {
    m_recorder.Image(ImageOf(m_header.kind, bytes, file));
}

void OperationRecord::ImageOfFile(const std::string& file) {
    QFile image(QString::fromStdString(file));
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!m_recorder.Recording() || !image.open(QIODevice::ReadOnly) || !hash.addData(&image))
        return;
    m_recorder.Image({m_header.kind, image.size(), Sha256Hex(hash), AbsolutePath(file)});
}

void OperationRecord::Finish(RecordOutcome outcome, std::string reason, std::optional<int> exitCode) {
    if (m_finished)
        return;
    m_finished = true;
    if (m_claims != nullptr)
        m_claims->GiveBackAhead();
    Start();
    m_timer.reset();
    EndPhase();
    m_transactions.Reset();
    m_outcome = outcome;
    m_reason = reason;
    m_recorder.Finish(outcome, std::move(reason), exitCode);
}

Verdict RunVerdict(RunOutcome ended, const OperationRecord& record, const std::string& portReason,
                   const std::string& cancelReason) {
    switch (ended) {
    case RunOutcome::NotStarted: return {RecordOutcome::Error, portReason};
    case RunOutcome::PortLost: return {RecordOutcome::Aborted, portReason};
    case RunOutcome::SerialUnavailable: return {RecordOutcome::Error, record.LastRedLine()};
    case RunOutcome::Cancelled:
        return {RecordOutcome::Aborted, cancelReason.empty() ? record.LastRedLine() : cancelReason};
    case RunOutcome::StoppedAtFailure:
    case RunOutcome::Completed: break;
    }
    if (const std::optional<CheckOutcome>& check = record.Cause().CausingCheck())
        return {check->result == CheckResult::Error ? RecordOutcome::Error : RecordOutcome::Fail, check->message};
    if (record.SawRed())
        return {RecordOutcome::Fail, record.FailureReason()};
    return {RecordOutcome::Pass, {}};
}

Verdict CommandVerdict(bool stillConnected, std::uint32_t flags, const OperationRecord& record,
                       const std::string& lostReason, const std::string& refusedReason) {
    if (!stillConnected)
        return {RecordOutcome::Aborted, lostReason};
    if ((flags & (FailureMask | CommonErrorFlag)) == 0)
        return {RecordOutcome::Pass, {}};
    return {RecordOutcome::Fail, record.SawRed() ? record.FailureReason() : refusedReason};
}

}  // namespace tamrisk
