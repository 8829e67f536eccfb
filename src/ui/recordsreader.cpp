#include "recordsreader.h"

#include "recordstore.h"

#include <QThread>

#include <condition_variable>
#include <deque>
#include <mutex>

namespace tamrisk {

// The reads of one location, in order, on a QThread of their own (Qt's data for
// the thread, the connection among it, goes with the QThread).
class RecordsReader::Lane {
public:
    Lane(RecordsReader& reader, QString location)
        : m_reader(reader), m_location(std::move(location)), m_thread(QThread::create([this] { Run(); })) {
        m_thread->setObjectName(QStringLiteral("RecordsReader"));
        m_thread->start();
    }
    ~Lane() {
        {
            const std::lock_guard lock(m_mutex);
            m_stopping = true;
            m_reads.clear();
        }
        m_posted.notify_all();
        m_thread->wait();
    }
    Lane(const Lane&) = delete;
    Lane& operator=(const Lane&) = delete;

    void Post(Read read) {
        {
            const std::lock_guard lock(m_mutex);
            m_reads.push_back(std::move(read));
        }
        m_posted.notify_all();
    }

private:
    void Run() {
        // Made, used and closed on this thread: a connection belongs to the thread that opened it.
        std::unique_ptr<RecordStore> store;
        for (;;) {
            Read read;
            {
                std::unique_lock lock(m_mutex);
                m_posted.wait(lock, [this] { return m_stopping || !m_reads.empty(); });
                if (m_stopping)
                    return;
                read = std::move(m_reads.front());
                m_reads.pop_front();
            }
            if (store == nullptr) {
                store = std::make_unique<RecordStore>();
                QString ignored;  // every operation of the store tells it
                store->Open(m_location, ignored);
            }
            QString error;
            Reply reply = read(*store, error);
            if (!error.isEmpty())
                store.reset();
            m_reader.Deliver(std::move(reply));
        }
    }

    RecordsReader& m_reader;
    const QString m_location;
    std::mutex m_mutex;
    std::condition_variable m_posted;
    std::deque<Read> m_reads;
    bool m_stopping = false;
    std::unique_ptr<QThread> m_thread;  // last: it starts once the rest is made
};

RecordsReader::RecordsReader(QObject* parent) : QObject(parent) {}

RecordsReader::~RecordsReader() { m_lanes.clear(); }

void RecordsReader::Post(const QString& location, Read read) {
    std::unique_ptr<Lane>& lane = m_lanes[location];
    if (lane == nullptr)
        lane = std::make_unique<Lane>(*this, location);
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
