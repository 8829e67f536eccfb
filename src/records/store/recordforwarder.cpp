#include "recordforwarder.h"

#include "outofreachwait.h"
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
    StoreResult<void> OpenLocal() {
        if (m_local.IsOpen())
            return {};
        if (StoreResult<void> opened = m_local.Open(m_localLocation); !opened)
            return opened;
        MarkAbandoned();
        return {};
    }
    // A file that takes no writes fails again where it matters.
    void MarkAbandoned() { (void)m_local.Writer().MarkAbandoned(); }
    StoreResult<int> Waiting() { return m_local.Queue().Waiting(m_line); }
    StoreResult<std::vector<SetAsideRecord>> SetAside() { return m_local.Queue().SetAsideRecords(m_line); }
    StoreResult<void> RetrySetAside() { return m_local.Queue().RetrySetAside(m_line); }

    // Takes the lock, waiting until `deadline`. False while another sender holds it.
    bool Lock(QDeadlineTimer deadline) {
        return m_lock.tryLock(deadline.isForever() ? -1 : static_cast<int>(std::max<qint64>(0, deadline.remainingTime())));
    }
    void Unlock() { m_lock.unlock(); }

    // Sends batches in queue order while `goOn(sent so far)` says so; a record
    // the line refuses is set aside and the rest go on. True when no finished
    // record waits any more, false when told to stop; the failure (the line's
    // connection closed) when one fails.
    StoreResult<bool> Send(int& sent, const std::function<bool(int)>& goOn) {
        int size = BatchSize;
        for (;;) {
            const StoreResult<QueuedBatch> batch = m_local.Queue().Sendable(m_line, size);
            if (!batch)
                return batch.error();
            if (batch->records.empty())
                return true;
            if (!m_lineStore) {
                m_lineStore.emplace();
                if (StoreResult<void> opened = m_lineStore->Open(m_line); !opened)
                    return Broken(opened.error());
            }
            if (const StoreResult<int> added = m_lineStore->Writer().Import(batch->records); !added) {
                if (!added.error().refused)
                    return Broken(added.error());
                // The line refused a record of the batch, all of it undone: one at a
                // time until the refused one is found, which is set aside.
                if (batch->records.size() > 1) {
                    size = 1;
                    continue;
                }
                if (StoreResult<void> setAside = m_local.Queue().SetAside(m_line, *batch, added.error().Text());
                    !setAside)
                    return setAside.error();
                size = BatchSize;
                continue;
            }
            // Sent but still queued if this fails: sent again later, and skipped there.
            if (StoreResult<void> unqueued = m_local.Queue().Unqueue(m_line, *batch); !unqueued)
                return unqueued.error();
            sent += static_cast<int>(batch->records.size());
            if (!goOn(sent))
                return false;
        }
    }

private:
    StoreError Broken(const StoreError& error) {
        m_lineStore.reset();
        return error;
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
        const StoreResult<void> opened = sender.OpenLocal();
        const StoreResult<int> counted = opened ? sender.Waiting() : StoreResult<int>(opened.error());
        if (!counted) {
            problem = counted.error().Text();
        } else {
            waiting = *counted;
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
                const StoreResult<bool> sentAll = sender.Send(sent, [&](int sentSoFar) {
                    m_waiting.store(before - sentSoFar);
                    const std::lock_guard lock(m_mutex);
                    return !m_stopping;
                });
                if (sentAll)
                    clean = *sentAll;
                else
                    problem = sentAll.error().Text();
                sender.Unlock();
                const StoreResult<int> left = sender.Waiting();
                waiting = left ? *left : -1;
                // Those left are in progress: one whose program ended is finished, and sent next time.
                if (clean && waiting > 0)
                    sender.MarkAbandoned();
            }
            if (StoreResult<std::vector<SetAsideRecord>> found = sender.SetAside())
                setAside = std::move(*found);
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
    if (StoreResult<void> opened = sender.OpenLocal(); !opened) {
        result.waiting = -1;
        result.unread = opened.error();
        result.problem = opened.error().Text();
        return result;
    }
    QString problem;
    bool clean = false;
    if (!sender.Lock(deadline)) {
        problem = QStringLiteral("another program is sending the records of ") + local;
    } else {
        // The line may take now what it refused before (a trigger or a constraint changed).
        const StoreResult<void> retried = sender.RetrySetAside();
        const StoreResult<bool> sentAll = retried ? sender.Send(result.sent, [&](int) { return !deadline.hasExpired(); })
                                                  : StoreResult<bool>(retried.error());
        if (sentAll)
            clean = *sentAll;
        else
            problem = sentAll.error().Text();
        sender.Unlock();
        if (!clean && problem.isEmpty())
            problem = QStringLiteral("the time to send them ran out");
    }
    const StoreResult<int> left = sender.Waiting();
    StoreResult<std::vector<SetAsideRecord>> setAside =
        left ? sender.SetAside() : StoreResult<std::vector<SetAsideRecord>>(left.error());
    if (!left || !setAside) {
        result.waiting = -1;
        result.unread = !left ? left.error() : setAside.error();
        problem = result.unread.Text();
    } else {
        result.waiting = *left;
        result.setAside = std::move(*setAside);
        if (result.waiting > 0 && clean)
            problem = QStringLiteral("%1 %2 still being written")
                          .arg(result.waiting)
                          .arg(result.waiting == 1 ? QStringLiteral("record is") : QStringLiteral("records are"));
    }
    if (result.waiting != 0)
        result.problem = problem;
    return result;
}

}  // namespace tamrisk
