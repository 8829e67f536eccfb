#include "recordforwarder.h"

#include "recordstore.h"

#include <QLockFile>
#include <QThread>

#include <algorithm>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace tamrisk {

namespace {

// The first wait after a failure, doubled each failure after it up to LongestRetry.
constexpr std::chrono::milliseconds FirstRetry{250};
// The wait while another program sends from the same local file.
constexpr std::chrono::milliseconds LockRetry{100};

}  // namespace

// The two connections of one sender, and the lock that lets one sender at a time
// send from the local file. Used on one thread.
class RecordForwarder::Sender {
public:
    Sender(QString local, QString line)
        : m_localLocation(std::move(local)), m_line(std::move(line)), m_lock(m_localLocation + QStringLiteral(".forwarding")) {
        // Only a lock of a program that no longer runs is taken over: a sender
        // waiting for a slow line still holds it.
        m_lock.setStaleLockTime(0);
    }

    // Opens the local file the first time, and finishes as aborted the records that
    // programs which ended left in progress, so that they can be sent.
    bool OpenLocal(QString& problem) {
        if (m_local.IsOpen())
            return true;
        if (!m_local.Open(m_localLocation, problem))
            return false;
        MarkAbandoned();
        return true;
    }
    void MarkAbandoned() {
        QString ignored;  // a file that takes no writes fails again where it matters
        m_local.Writer().MarkAbandoned(ignored);
    }
    int Waiting(QString& problem) { return m_local.Queue().Waiting(m_line, problem); }
    std::vector<SetAsideRecord> SetAside(QString& problem) { return m_local.Queue().SetAsideRecords(m_line, problem); }
    bool RetrySetAside(QString& problem) { return m_local.Queue().RetrySetAside(m_line, problem); }

    // Takes the lock, waiting until `deadline`. False while another sender holds it.
    bool Lock(QDeadlineTimer deadline) {
        return m_lock.tryLock(deadline.isForever() ? -1 : static_cast<int>(std::max<qint64>(0, deadline.remainingTime())));
    }
    void Unlock() { m_lock.unlock(); }

    // Sends batches in queue order while `goOn(sent so far)` says so; a record
    // the line refuses is set aside and the rest go on. True when no finished
    // record waits any more; false on a failure (`problem` set, the line's
    // connection closed) or when told to stop (`problem` empty).
    bool Send(int& sent, QString& problem, const std::function<bool(int)>& goOn) {
        int size = BatchSize;
        for (;;) {
            QString error;
            const QueuedBatch batch = m_local.Queue().Sendable(m_line, size, error);
            if (!error.isEmpty()) {
                problem = error;
                return false;
            }
            if (batch.records.empty())
                return true;
            if (!m_lineStore) {
                m_lineStore.emplace();
                if (!m_lineStore->Open(m_line, error))
                    return Broken(error, problem);
            }
            int added = 0;
            if (!m_lineStore->Writer().Import(batch.records, added, error)) {
                if (!m_lineStore->Refused())
                    return Broken(error, problem);
                // The line refused a record of the batch, all of it undone: one at a
                // time until the refused one is found, which is set aside.
                if (batch.records.size() > 1) {
                    size = 1;
                    continue;
                }
                const QString reason = error;
                if (!m_local.Queue().SetAside(m_line, batch, reason, error)) {
                    problem = error;
                    return false;
                }
                size = BatchSize;
                continue;
            }
            // Sent but still queued if this fails: sent again later, and skipped there.
            if (!m_local.Queue().Unqueue(m_line, batch, error)) {
                problem = error;
                return false;
            }
            sent += static_cast<int>(batch.records.size());
            if (!goOn(sent))
                return false;
        }
    }

private:
    bool Broken(const QString& error, QString& problem) {
        problem = error;
        m_lineStore.reset();
        return false;
    }

    const QString m_localLocation, m_line;
    QLockFile m_lock;
    RecordStore m_local;
    std::optional<RecordStore> m_lineStore;
};

RecordForwarder::RecordForwarder(QString local, QString line) : m_local(std::move(local)), m_line(std::move(line)) {}

RecordForwarder::~RecordForwarder() {
    if (!m_thread)
        return;
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    m_thread->wait();
}

void RecordForwarder::Start() {
    if (m_thread)
        return;
    // A QThread, not a bare thread: Qt's data for the thread (the connections
    // live in it) goes with the QThread.
    m_thread.reset(QThread::create([this] { Run(); }));
    m_thread->start();
}

void RecordForwarder::Nudge() {
    {
        const std::lock_guard lock(m_mutex);
        m_nudged = true;
    }
    m_changed.notify_all();
}

QString RecordForwarder::Problem() const {
    const std::lock_guard lock(m_mutex);
    return m_problem;
}

std::vector<SetAsideRecord> RecordForwarder::SetAside() const {
    const std::lock_guard lock(m_mutex);
    return m_setAside;
}

bool RecordForwarder::Drain(std::chrono::milliseconds limit) {
    const QDeadlineTimer deadline(limit);
    std::unique_lock lock(m_mutex);
    // Only a pass begun after this call has seen every record finished before it.
    const long asked = m_passesStarted;
    ++m_draining;
    m_nudged = true;
    m_changed.notify_all();
    const bool drained = m_changed.wait_for(lock, std::chrono::milliseconds(std::max<qint64>(0, deadline.remainingTime())),
                                            [&] { return m_lastCleanPass > asked; });
    --m_draining;
    return drained;
}

void RecordForwarder::Run() {
    Sender sender(m_local, m_line);
    std::chrono::milliseconds failedWait = FirstRetry;
    std::chrono::milliseconds wait{0};
    for (;;) {
        long pass = 0;
        {
            std::unique_lock lock(m_mutex);
            // While a Drain waits, a failure is tried again soon.
            const auto next = m_draining > 0 ? std::min(wait, FirstRetry) : wait;
            m_changed.wait_for(lock, next, [this] { return m_stopping || m_nudged; });
            if (m_stopping)
                return;
            m_nudged = false;
            pass = ++m_passesStarted;
        }
        QString problem;
        bool clean = false;
        bool busy = false;
        int waiting = -1;
        std::optional<std::vector<SetAsideRecord>> setAside;
        if (sender.OpenLocal(problem) && (waiting = sender.Waiting(problem)) >= 0) {
            wait = LookAgain;
            if (waiting == 0) {
                clean = true;
            } else if (!sender.Lock(QDeadlineTimer(0))) {
                // Another program sends from this file: its pass takes these records too.
                wait = LockRetry;
                busy = true;
                const std::lock_guard lock(m_mutex);
                problem = m_problem;
            } else {
                int sent = 0;
                const int before = waiting;
                clean = sender.Send(sent, problem, [&](int sentSoFar) {
                    m_waiting.store(before - sentSoFar);
                    const std::lock_guard lock(m_mutex);
                    return !m_stopping;
                });
                sender.Unlock();
                QString countProblem;
                waiting = sender.Waiting(countProblem);
                // Those left are in progress: one whose program ended is finished, and sent next time.
                if (clean && waiting > 0)
                    sender.MarkAbandoned();
            }
            QString listProblem;
            std::vector<SetAsideRecord> found = sender.SetAside(listProblem);
            if (listProblem.isEmpty())
                setAside = std::move(found);
        }
        if (busy) {
            // Neither a failure nor a success of this sender.
        } else if (problem.isEmpty()) {
            failedWait = FirstRetry;
        } else {
            wait = failedWait;
            failedWait = std::min(failedWait * 2, LongestRetry);
        }
        if (waiting >= 0)
            m_waiting.store(waiting);
        {
            const std::lock_guard lock(m_mutex);
            m_problem = problem;
            if (setAside)
                m_setAside = *std::move(setAside);
            if (clean)
                m_lastCleanPass = pass;
        }
        m_changed.notify_all();
    }
}

RecordForwarder::SyncResult RecordForwarder::SendWaiting(const QString& local, const QString& line,
                                                         QDeadlineTimer deadline) {
    SyncResult result;
    Sender sender(local, line);
    QString problem;
    if (!sender.OpenLocal(problem)) {
        result.waiting = -1;
        result.problem = problem;
        return result;
    }
    bool clean = false;
    if (!sender.Lock(deadline)) {
        problem = QStringLiteral("another program is sending the records of ") + local;
    } else {
        // The line may take now what it refused before (a trigger or a constraint changed).
        clean = sender.RetrySetAside(problem) &&
                sender.Send(result.sent, problem, [&](int) { return !deadline.hasExpired(); });
        sender.Unlock();
        if (!clean && problem.isEmpty())
            problem = QStringLiteral("the time to send them ran out");
    }
    QString countProblem;
    result.waiting = sender.Waiting(countProblem);
    if (result.waiting >= 0)
        result.setAside = sender.SetAside(countProblem);
    if (!countProblem.isEmpty())
        result.waiting = -1;
    if (result.waiting < 0)
        problem = countProblem;
    else if (result.waiting > 0 && clean)
        problem = QStringLiteral("%1 %2 still being written")
                      .arg(result.waiting)
                      .arg(result.waiting == 1 ? QStringLiteral("record is") : QStringLiteral("records are"));
    if (result.waiting != 0)
        result.problem = problem;
    return result;
}

}  // namespace tamrisk
