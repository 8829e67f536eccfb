#include "recordsreader.h"

#include "recordstore.h"
#include "workthread.h"

namespace tamrisk {

// The reads of one location, in order, on a thread of their own.
class RecordsReader::Lane {
public:
    Lane(RecordsReader& reader, QString location, WorkThread::AtStop atStop)
        : m_reader(reader), m_location(std::move(location)), m_thread(QStringLiteral("RecordsReader"), atStop, [this] {
              m_store.reset();
          }) {}

    void Post(Read read) {
        m_thread.Post([this, read = std::move(read)] {
            // Made, used and closed on the lane's thread: a connection belongs to the thread that opened it.
            if (m_store == nullptr) {
                m_store = std::make_unique<RecordStore>();
                (void)m_store->Open(m_location);  // every operation of the store tells its failure
            }
            StoreError failure;
            Reply reply = read(*m_store, failure);
            // Opened again only when it could not be opened or its connection was
            // lost: a query the database refused would be refused again.
            if (failure.Failed() && (!m_store->IsOpen() || failure.kind == StoreError::Kind::ConnectionLost))
                m_store.reset();
            m_reader.Deliver(std::move(reply));
        });
    }

private:
    RecordsReader& m_reader;
    const QString m_location;
    std::unique_ptr<RecordStore> m_store;  // the lane's thread's alone
    // Last: stopped first, closing the store on its thread.
    WorkThread m_thread;
};

RecordsReader::RecordsReader(AtEnd atEnd, QObject* parent) : QObject(parent), m_atEnd(atEnd) {}

RecordsReader::~RecordsReader() { m_lanes.clear(); }

void RecordsReader::Post(const QString& location, Read read) {
    std::unique_ptr<Lane>& lane = m_lanes[location];
    if (lane == nullptr)
        lane = std::make_unique<Lane>(*this, location,
                                      m_atEnd == AtEnd::RunWaiting ? WorkThread::AtStop::RunWaitingJobs
                                                                   : WorkThread::AtStop::DropWaitingJobs);
    lane->Post(std::move(read));
    if (m_pending++ == 0)
        emit BusyChanged(true);
}

void RecordsReader::Tell(Reply reply) { QMetaObject::invokeMethod(this, std::move(reply), Qt::QueuedConnection); }

void RecordsReader::Deliver(Reply reply) {
    QMetaObject::invokeMethod(
        this,
        [this, reply = std::move(reply)] {
            if (reply)
                reply();
            if (--m_pending == 0)
                emit BusyChanged(false);
        },
        Qt::QueuedConnection);
}

}  // namespace tamrisk
