#pragma once
// Sends the records kept in a station's local file on to the line's database:
// the oldest finished records first, in the order they were begun, in batches of
// one transaction each; a record still in progress waits, the finished ones
// behind it go. Each record arrives once (the line's database skips an id it
// holds already, and takes from it only the images saved after it was sent),
// and leaves the local queue only after the line committed it. A record the
// line refuses (a constraint, a trigger, a value it does not take) is set aside
// in the local file with the line's reason, and the records behind it go on.
//
// The work runs on a QThread of its own over connections of its own (the local
// file and the line's database), so that a slow or absent line never holds up
// the thread that made the forwarder. One forwarder at a time sends from one
// local file (a lock file beside it, taken over from a program that ended), so
// that records arrive in order also when several programs share the file.
// After a failure the line's connection is closed and tried again a moment
// later, at most a few seconds apart. Records that other programs queued are
// found by looking again every few seconds.

#include "recordstore.h"

#include <QDeadlineTimer>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

class QThread;

namespace tamrisk {

class RecordForwarder {
public:
    // Records a line transaction takes at most.
    static constexpr int BatchSize = 100;
    // Longest wait between two tries to reach the line after a failure.
    static constexpr std::chrono::milliseconds LongestRetry{3000};
    // How often the local file is looked at for records queued by other programs.
    static constexpr std::chrono::milliseconds LookAgain{2000};

    // Sends the records of the local file `local` queued for the line's database `line`.
    RecordForwarder(QString local, QString line);
    // Stops the thread (a connection under way is waited for, its time-out bounded).
    ~RecordForwarder();
    RecordForwarder(const RecordForwarder&) = delete;
    RecordForwarder& operator=(const RecordForwarder&) = delete;

    // Starts the thread, which sends what waits at once. Once.
    void Start();
    // A record was finished: send soon.
    void Nudge();
    // The last known count of records waiting (also those in progress); -1 when not known yet.
    int Waiting() const { return m_waiting.load(); }
    // The last failure reaching the line or reading the local file, "<location>: <reason>";
    // empty when the last attempt worked.
    QString Problem() const;
    // The records the line refused, as of the last pass, oldest first.
    std::vector<SetAsideRecord> SetAside() const;
    // Sends what waits until no finished record waits (true) or `limit` passes (false);
    // waits on the calling thread.
    bool Drain(std::chrono::milliseconds limit);

    struct SyncResult {
        int sent = 0;     // records the line took now
        int waiting = 0;  // records still waiting afterwards (-1: the local file could not be read)
        StoreError unread;  // why the local file could not be read, when it could not
        QString problem;    // why some wait; empty when none does
        std::vector<SetAsideRecord> setAside;  // refused by the line, afterwards
    };
    // Sends every finished record waiting in `local` for `line` now, on the calling
    // thread, until none waits or `deadline` passes; records of programs that ended
    // without finishing them are finished as aborted first, and those set aside
    // before are tried once more.
    static SyncResult SendWaiting(const QString& local, const QString& line, QDeadlineTimer deadline);

private:
    class Sender;
    void Run();

    const QString m_local, m_line;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    QString m_problem;
    std::vector<SetAsideRecord> m_setAside;
    bool m_nudged = false;
    bool m_stopping = false;
    int m_draining = 0;              // Drain calls waiting
    long m_passesStarted = 0;        // passes over the queue begun so far
    long m_lastCleanPass = 0;        // the number of the last pass that left no finished record waiting
    std::atomic<int> m_waiting{-1};
    std::unique_ptr<QThread> m_thread;
};

}  // namespace tamrisk
