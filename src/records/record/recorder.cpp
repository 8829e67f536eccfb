#include "recorder.h"

#include "recordstore.h"
#include "textcodec.h"
#include "workthread.h"

#include <QDateTime>
#include <QFileInfo>
#include <QUuid>

#include <future>
#include <mutex>
#include <utility>

namespace tamrisk {

namespace {

constexpr std::string_view LeftUnfinishedReason = "the operation ended without an outcome";

}  // namespace

// A thread with a connection to one records file, over which records are
// written in the order their parts are handed over. The connection is opened
// by the first job, and opened again after a job failed or once the file has
// gone (moved or deleted while the program runs), so that a later record is not
// written into a file nobody will find, as it would not be with a connection of
// its own.
class RecordsWriterThread {
public:
    // A job runs on the thread; false when it failed.
    using Job = std::function<bool(RecordsWriterThread& thread)>;

    // Writes into the file at `location`, queueing each record begun for `forwardTo` (empty: none).
    RecordsWriterThread(QString location, QString forwardTo)
        : m_location(std::move(location)), m_forwardTo(std::move(forwardTo)) {}

    void Post(Job job) {
        m_thread.Post([this, job = std::move(job)] {
            if (!job(*this))
                m_store.reset();
        });
    }
    // Returns once every job posted before the call has run (not the jobs
    // other records post meanwhile).
    void Settle() {
        std::promise<void> reached;
        std::future<void> done = reached.get_future();
        m_thread.Post([&reached] { reached.set_value(); });
        done.wait();
    }

    // On the thread: the store, opened first when it is not; null when it
    // cannot be, NotOpened() telling why.
    RecordStore* Store() {
        if (m_store != nullptr && QFileInfo::exists(m_location))
            return m_store.get();
        m_store = std::make_unique<RecordStore>();
        m_store->Writer().SetForwardTo(m_forwardTo);
        if (StoreResult<void> opened = m_store->Open(m_location); !opened) {
            m_notOpened = opened.error().Text();
            m_store.reset();
        }
        return m_store.get();
    }
    const QString& NotOpened() const { return m_notOpened; }

private:
    const QString m_location;
    const QString m_forwardTo;
    // The thread's alone.
    std::unique_ptr<RecordStore> m_store;
    QString m_notOpened;
    // Last: stopped first, after the jobs posted, closing the store on its thread.
    WorkThread m_thread{QStringLiteral("Recorder"), WorkThread::AtStop::RunWaitingJobs, [this] { m_store.reset(); }};
};

std::shared_ptr<RecordsWriterThread> SharedRecordsWriter(const RecordsRoute& route) {
    return std::make_shared<RecordsWriterThread>(route.local, route.line);
}

// Writes one record's parts in order on a writer thread, so that the
// operation's thread never waits for the disk or for another program's lock.
// After the record's first failure nothing more of it is written; the failure
// waits to be told on the operation's thread.
class Recorder::Writer {
public:
    using Job = std::function<StoreResult<void>(RecordWriter& writer)>;

    explicit Writer(std::shared_ptr<RecordsWriterThread> thread) : m_thread(std::move(thread)) {}

    void Post(Job job) {
        m_thread->Post([state = m_state, job = std::move(job)](RecordsWriterThread& thread) {
            if (state->failed)
                return true;
            RecordStore* store = thread.Store();
            if (store == nullptr) {
                state->Fail(thread.NotOpened());
                return false;
            }
            StoreResult<void> written = job(store->Writer());
            if (!written)
                state->Fail(written.error().Text());
            return written.has_value();
        });
    }
    // Waits until every job posted so far is done.
    void Settle() { m_thread->Settle(); }
    // The first failure, the first time it is asked for.
    std::optional<QString> TakeFailure() {
        const std::lock_guard lock(m_state->mutex);
        if (!m_state->failure || m_state->failureTaken)
            return std::nullopt;
        m_state->failureTaken = true;
        return m_state->failure;
    }

private:
    // Shared with the jobs, which may run after the record has let go of them.
    struct State {
        void Fail(const QString& error) {
            failed = true;
            const std::lock_guard lock(mutex);
            failure = error;
        }
        bool failed = false;  // the writer thread's alone
        std::mutex mutex;     // guards the failure, read on the operation's thread
        std::optional<QString> failure;
        bool failureTaken = false;
    };

    std::shared_ptr<RecordsWriterThread> m_thread;
    std::shared_ptr<State> m_state = std::make_shared<State>();
};

Recorder::Recorder(std::optional<RecordsRoute> route, Host& host, std::function<void(const QString&)> tellOnce,
                   std::shared_ptr<RecordsWriterThread> shared)
    : m_route(std::move(route)), m_shared(std::move(shared)), m_host(host), m_tellOnce(std::move(tellOnce)) {}

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
    if (!m_route)
        return;
    // A file that cannot be opened is told as the first failure of the writer.
    m_writer = std::make_unique<Writer>(m_shared ? m_shared : SharedRecordsWriter(*m_route));
    m_recording = true;
    m_writer->Post([header = m_header](RecordWriter& writer) { return writer.Begin(header); });
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
    recorder.Keep(tMs, colour, text);
    for (; emptyLines > 0; --emptyLines)
        recorder.Keep(tMs, colour, {});
}

void Recorder::Keep(qint64 tMs, ResultColour colour, std::string_view text) {
    if (m_keepWhole && InProgress())
        m_whole.log.push_back({tMs, colour, std::string(text), m_scriptLine});
    if (!m_recording)
        return;
    // Straight into the batch's chunk text: no allocation a line.
    AddLogLine(m_pending.log, tMs, colour, m_scriptLine, text);
    Kept();
}

void Recorder::TeeSink::Flush() {
    if (inner != nullptr)
        inner->Flush();
}

qint64 Recorder::ElapsedMs() const { return MsSinceStart(m_host.now()); }

qint64 Recorder::MsSinceStart(Host::Clock::time_point at) const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(at - m_started).count();
}

void Recorder::Kept() {
    if (m_host.now() - m_lastWrite >= BatchInterval)
        WriteBatch();
}

void Recorder::Tick() {
    CheckWriter();
    if (m_recording && !m_pending.Empty())
        Kept();
}

void Recorder::Settle() {
    if (m_writer != nullptr)
        m_writer->Settle();
    CheckWriter();
}

void Recorder::CheckWriter() {
    if (m_writer == nullptr)
        return;
    if (const std::optional<QString> failure = m_writer->TakeFailure())
        Failed(*failure);
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

void Recorder::Step(const RecordStep& step) {
    if (m_keepWhole && InProgress())
        m_whole.steps.push_back(step);
    if (!m_recording)
        return;
    // Straight into the batch's chunk text, as a log line is.
    AddStep(m_pending.steps, step);
    Kept();
}

void Recorder::Check(const RecordCheck& check) {
    if (m_keepWhole && InProgress())
        m_whole.checks.push_back(check);
    if (!m_recording)
        return;
    m_pending.checks.push_back(check);
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
    CheckWriter();
    if (!m_recording || m_pending.Empty())
        return;
    m_writer->Post([id = m_header.id, batch = std::exchange(m_pending, {})](RecordWriter& writer) {
        return writer.AppendBatch(id, batch);
    });
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
    m_writer->Post([header = m_header](RecordWriter& writer) { return writer.Finish(header); });
    m_writer->Settle();
    CheckWriter();
    m_recording = false;
    // A writer of its own closes its connection: a finished record holds no thread.
    m_writer.reset();
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
