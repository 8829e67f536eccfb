#pragma once
// Reads records for the windows on threads of their own, over connections of
// their own, so that a slow or unreachable database (a line's PostgreSQL server
// away from the network) never stalls the windows: they show that a read is
// under way and, when it fails, its reason. The station's few writes after an
// operation ended (an image saved later) go the same way, kept at the end. Each location has its thread: reads
// of one location run one at a time in the order they were posted, and a line's
// database that does not answer holds up no read of the station's own file.
// Each read hands back what it read as a reply that runs on the reader's thread
// of creation (the windows'), through its event loop.

#include "storeerror.h"

#include <QObject>
#include <QString>

#include <functional>
#include <map>
#include <memory>

namespace tamrisk {

class RecordStore;

class RecordsReader : public QObject {
    Q_OBJECT
public:
    // What a read hands back: run on the windows' thread; empty: nothing.
    using Reply = std::function<void()>;
    // Runs on the location's thread with the store of its location; a store that
    // could not be opened fails every operation with the reason it did not open.
    // A read that failed sets `failure`: a store that did not open or lost its
    // connection is opened anew for the next read, since a connection that broke
    // does not mend itself.
    using Read = std::function<Reply(RecordStore& store, StoreError& failure)>;

    // What the end does with the operations posted and not started.
    enum class AtEnd { DropWaiting, RunWaiting };

    explicit RecordsReader(AtEnd atEnd = AtEnd::DropWaiting, QObject* parent = nullptr);
    // Drops the operations not started (or with RunWaiting, runs them) and waits
    // for those under way (a connection times out in seconds); replies not run
    // yet are dropped.
    ~RecordsReader() override;

    // Posts `read` of the records at `location`, opened on first use and again
    // after a read failed, so that a database that comes back is read again.
    void Post(const QString& location, Read read);
    // From a read under way: runs `reply` on the windows' thread (progress).
    void Tell(Reply reply);
    // Reads posted whose replies have not run yet.
    int Pending() const { return m_pending; }

signals:
    // Pending() became zero or stopped being zero.
    void BusyChanged(bool busy);

private:
    class Lane;
    void Deliver(Reply reply);

    const AtEnd m_atEnd;
    std::map<QString, std::unique_ptr<Lane>> m_lanes;
    int m_pending = 0;
};

}  // namespace tamrisk
