#include "journalops.h"

#include "host.h"
#include "journalformat.h"
#include "printercommands.h"
#include "transaction.h"

#include <QCryptographicHash>

#include <chrono>

namespace tamrisk {

JournalSession::JournalSession(Transactor& transactor, Host& host) : m_transactor(transactor), m_host(host) {}

bool JournalSession::Failed() const { return (m_transactor.State().StatusFlags & FailureMask) != 0; }

bool JournalSession::Probe() {
    // A transaction refused because another runs leaves a stale StatusFlags behind.
    return m_transactor.ExecCommand(CmdReadiness, {}) != ExecResult::ExecBusy && !Failed();
}

std::int64_t JournalSession::NowNs() const {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(m_host.now().time_since_epoch()).count();
}

double JournalSession::SecondsSince(std::int64_t startNs) const {
    return static_cast<double>(NowNs() - startNs) / 1e9;
}

// Nothing to do for an empty query; a query too long for its request is
// refused with a message before anything is sent; then the readiness probe.
bool JournalSession::Ready(const std::string& query, std::size_t prefixLength, JournalResult& result) {
    if (query.empty())
        return false;
    if (const std::string problem = QueryTooLong(query, prefixLength); !problem.empty()) {
        m_host.showMessage(problem, "Error");
        result.outcome = JournalOutcome::TooLong;
        return false;
    }
    if (!Probe()) {
        result.outcome = JournalOutcome::ProbeFailed;
        return false;
    }
    return true;
}

bool JournalSession::Request(const std::string& data, JournalResult& result, bool tellFailure) {
    if (m_transactor.ExecCommand(CmdJournal, data) != ExecResult::ExecBusy && !Failed())
        return true;
    const std::uint32_t flags = m_transactor.State().StatusFlags;
    result.outcome = JournalOutcome::RequestFailed;
    result.statusFlags = flags;
    if (tellFailure)
        m_host.showMessage(JournalFailureMessage(flags), "Error");
    return false;
}

JournalResult JournalSession::Read(const std::string& query, JournalObserver& observer) {
    JournalResult result;
    const std::int64_t start = NowNs();  // the probe counts in a read's time
    if (!Ready(query, 2, result))
        return result;
    observer.Started();
    JournalCancelled = false;
    const TransactionState& state = m_transactor.State();
    if (!Request(JournalReadFirstData(query), result, true))
        return result;
    observer.SetStatus({});
    observer.ClearView();
    JournalCancelled = false;
    result.outcome = JournalOutcome::Done;
    JournalAnswerLine answer = ParseReadAnswer(state.AnswerData);
    while (answer.kind != 'F') {
        observer.AddLine(answer.text);
        if (!Request(JournalNextData(), result, false)) {
            result.outcome = JournalOutcome::NextFailed;
            result.seconds = SecondsSince(start);
            return result;
        }
        answer = ParseReadAnswer(state.AnswerData);
        if (answer.kind == '*') {
            ++result.documents;
            observer.SetStatus(DocumentCountText(result.documents));
            m_host.processEvents();  // the count is seen while the read goes on
        }
        if (JournalCancelled) {
            result.outcome = JournalOutcome::Cancelled;
            break;
        }
    }
    result.seconds = SecondsSince(start);
    observer.SetStatus(DocumentsDoneText(result.documents, result.seconds));
    return result;
}

JournalResult JournalSession::Print(const std::string& query, bool smallFont, JournalObserver& observer) {
    JournalResult result;
    if (!Ready(query, 3, result))
        return result;
    const std::int64_t start = NowNs();
    observer.Started();
    JournalCancelled = false;
    observer.SetStatus({});
    const TransactionState& state = m_transactor.State();
    if (!Request(JournalPrintData(smallFont, query), result, true))
        return result;
    result.outcome = JournalOutcome::Done;
    result.documents = LeadingNumber(state.AnswerData);
    result.seconds = SecondsSince(start);
    observer.SetStatus(DocumentsDoneText(result.documents, result.seconds));
    return result;
}

JournalResult JournalSession::Check(const std::string& query, JournalObserver& observer) {
    JournalResult result;
    if (!Ready(query, 2, result))
        return result;
    const std::int64_t start = NowNs();
    observer.Started();
    JournalCancelled = false;
    observer.SetStatus({});
    observer.ClearView();
    const TransactionState& state = m_transactor.State();
    if (!Request(JournalCheckData(query), result, true))
        return result;
    result.outcome = JournalOutcome::Done;
    result.seconds = SecondsSince(start);
    observer.SetStatus(CheckTimeText(result.seconds));
    const std::vector<std::string> lines = CheckAnswerLines(query.front(), state.AnswerData);
    result.digestsDiffer = !lines.empty() && lines.front() == JournalDigestMismatch;
    for (const std::string& line : lines)
        observer.AddLine(line);
    return result;
}

JournalResult JournalSession::Info(JournalObserver& observer) {
    JournalResult result;
    if (!Probe()) {
        result.outcome = JournalOutcome::ProbeFailed;
        return result;
    }
    observer.Started();
    observer.ClearView();
    const TransactionState& state = m_transactor.State();
    if (!Request(JournalInfoData(), result, false))
        return result;
    const auto lines = InfoAnswerLines(state.AnswerData);
    if (!lines) {
        result.outcome = JournalOutcome::RequestFailed;
        return result;
    }
    for (const std::string& line : *lines)
        observer.AddLine(line);
    result.outcome = JournalOutcome::Done;
    return result;
}

std::optional<std::string> Sha1Text(std::string_view bytes, bool& cancelled, Host& host) {
    // Large enough to run near the hash's own speed, small enough that Cancel acts at once.
    constexpr std::size_t Chunk = 256 * 1024;
    QCryptographicHash hash(QCryptographicHash::Sha1);
    for (std::size_t at = 0; at < bytes.size(); at += Chunk) {
        const std::string_view piece = bytes.substr(at, Chunk);
        hash.addData(QByteArrayView(piece.data(), static_cast<qsizetype>(piece.size())));
        host.processEvents();
        if (cancelled) {
            cancelled = false;
            return std::nullopt;
        }
    }
    return "SHA-1: " + hash.result().toHex().toUpper().toStdString();
}

}  // namespace tamrisk
