#pragma once
// Reads records for the windows on a thread of its own, over connections of its
// own, so that a slow or unreachable database (a line's PostgreSQL server away
// from the network) never stalls the windows: they show that a read is under
// way and, when it fails, its reason. Reads run one at a time in the order they
// were posted; each hands back what it read as a reply that runs on the
// reader's thread of creation (the windows'), through its event loop.

#include <QObject>
#include <QString>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

class QThread;

namespace tamrisk {

class RecordStore;

class RecordsReader : public QObject {
    Q_OBJECT
public:
    // What a read hands back: run on the windows' thread; empty: nothing.
    using Reply = std::function<void()>;
    // Runs on the reader's thread with the store of its location; a store that
    // could not be opened fails every operation with the reason it did not open.
    // A read that failed sets `error`: the store is opened anew for the next read,
    // since a connection that broke does not mend itself.
    using Read = std::function<Reply(RecordStore& store, QString& error)>;

    explicit RecordsReader(QObject* parent = nullptr);
    // Drops the reads not started and waits for the one under way (a connection
    // times out in seconds); replies not run yet are dropped.
    ~RecordsReader() override;

    // Posts `read` of the records at `location`, opened on first use and again
    // after it failed to open, so that a database that comes back is read again.
    void Post(const QString& location, Read read);
    // From a read under way: runs `reply` on the windows' thread (progress).
    void Tell(Reply reply);
    // Reads posted whose replies have not run yet.
    int Pending() const { return m_pending; }

signals:
    // Pending() became zero or stopped being zero.
    void BusyChanged(bool busy);

private:
    struct Job {
        QString location;
        Read read;
    };
    void Run();

    std::mutex m_mutex;
    std::condition_variable m_posted;
    std::deque<Job> m_jobs;
    bool m_stopping = false;
    int m_pending = 0;  // the windows' thread only
    std::unique_ptr<QThread> m_thread;  // last: it starts once the rest is made
};

}  // namespace tamrisk
