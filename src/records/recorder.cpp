#include "recorder.h"

#include "textcodec.h"

#include <QDateTime>
#include <QUuid>

namespace tamrisk {

namespace {

constexpr std::string_view LeftUnfinishedReason = "the operation ended without an outcome";

}  // namespace

Recorder::Recorder(RecordStore* store, Host& host, std::function<void(const QString&)> tellOnce)
    : m_store(store), m_host(host), m_tellOnce(std::move(tellOnce)) {}

Recorder::~Recorder() {
    if (m_recording)
        Finish(RecordOutcome::Aborted, std::string(LeftUnfinishedReason), std::nullopt);
}

void Recorder::Start(RecordHeader header) {
    if (header.id.empty())
        header.id = QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString();
    if (header.startedMs == 0)
        header.startedMs = QDateTime::currentMSecsSinceEpoch();
    header.outcome.reset();
    m_header = std::move(header);
    m_pending = {};
    m_whole = {};
    m_started = m_lastWrite = m_host.now();
    if (m_store == nullptr)
        return;
    QString error;
    m_recording = m_store->Begin(m_header, error);
    if (!m_recording)
        Failed(error);
}

ResultSink& Recorder::Tee(ResultSink& inner) {
    m_tee.inner = &inner;
    return m_tee;
}

void Recorder::TeeSink::AppendResultLine(std::string_view text, ResultColour colour) {
    if (inner != nullptr)
        inner->AppendResultLine(text, colour);
    Recorder& recorder = m_recorder;
    if (!recorder.m_recording && !(recorder.m_keepWhole && recorder.InProgress()))
        return;
    // A text that ends in line ends (a duration's CR LF) shows as itself and one
    // empty line after it for each: the record keeps them so, as lines without
    // line ends.
    std::size_t emptyLines = 0;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        const bool crlf = text.back() == '\n' && text.size() >= 2 && text[text.size() - 2] == '\r';
        text.remove_suffix(crlf ? 2 : 1);
        ++emptyLines;
    }
    const qint64 tMs = recorder.ElapsedMs();
    recorder.Keep({tMs, colour, std::string(text), recorder.m_scriptLine});
    for (; emptyLines > 0; --emptyLines)
        recorder.Keep({tMs, colour, std::string(), recorder.m_scriptLine});
}

void Recorder::Keep(RecordLogLine line) {
    if (m_keepWhole && InProgress())
        m_whole.log.push_back(line);
    if (!m_recording)
        return;
    m_pending.log.push_back(std::move(line));
    Kept();
}

void Recorder::TeeSink::Flush() {
    if (inner != nullptr)
        inner->Flush();
}

qint64 Recorder::ElapsedMs() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(m_host.now() - m_started).count();
}

void Recorder::Kept() {
    if (m_host.now() - m_lastWrite >= BatchInterval)
        WriteBatch();
}

void Recorder::Tick() {
    if (m_recording && !m_pending.Empty())
        Kept();
}

void Recorder::Serial(RecordSerial serial) {
    const bool whole = m_keepWhole && InProgress();
    if (!m_recording && !whole)
        return;
    if (m_header.unit.empty()) {
        m_header.unit = Cp1251ToUtf8(serial.data);
        m_pending.unit = m_header.unit;
    }
    if (whole)
        m_whole.serials.push_back(serial);
    if (!m_recording)
        return;
    m_pending.serials.push_back(std::move(serial));
    Kept();
}

void Recorder::Image(RecordImage image) {
    if (m_keepWhole && InProgress())
        m_whole.images.push_back(image);
    if (!m_recording)
        return;
    m_pending.images.push_back(std::move(image));
    Kept();
}

Record Recorder::Snapshot() const {
    Record record = m_whole;
    record.header = m_header;
    if (InProgress())
        record.header.durationMs = ElapsedMs();
    return record;
}

void Recorder::WriteBatch() {
    m_lastWrite = m_host.now();
    if (m_pending.Empty())
        return;
    QString error;
    const bool written = m_store->AppendBatch(m_header.id, m_pending, error);
    m_pending = {};
    if (!written)
        Failed(error);
}

void Recorder::Finish(RecordOutcome outcome, std::string reason, std::optional<int> exitCode) {
    if (m_header.id.empty() || m_header.outcome)
        return;
    if (m_recording)
        WriteBatch();
    m_header.outcome = outcome;
    m_header.reason = std::move(reason);
    m_header.exitCode = exitCode;
    m_header.durationMs = ElapsedMs();
    if (!m_recording)
        return;
    m_recording = false;
    QString error;
    if (!m_store->Finish(m_header, error))
        Failed(error);
}

void Recorder::Failed(const QString& error) {
    m_recording = false;
    m_pending = {};
    if (m_told)
        return;
    m_told = true;
    if (m_tellOnce)
        m_tellOnce(error);
}

}  // namespace tamrisk
