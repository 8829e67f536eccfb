#include "recordsreader.h"

#include "recordstore.h"

#include <QThread>

#include <map>

namespace tamrisk {

RecordsReader::RecordsReader(QObject* parent) : QObject(parent), m_thread(QThread::create([this] { Run(); })) {
    m_thread->setObjectName(QStringLiteral("RecordsReader"));
    m_thread->start();
}

RecordsReader::~RecordsReader() {
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_jobs.clear();
    }
    m_posted.notify_all();
    m_thread->wait();
}

void RecordsReader::Post(const QString& location, Read read) {
    {
        const std::lock_guard lock(m_mutex);
        m_jobs.push_back({location, std::move(read)});
    }
    m_posted.notify_all();
    if (m_pending++ == 0)
        emit BusyChanged(true);
}

void RecordsReader::Tell(Reply reply) { QMetaObject::invokeMethod(this, std::move(reply), Qt::QueuedConnection); }

void RecordsReader::Run() {
    // Made, used and closed on this thread: a connection belongs to the thread that opened it.
    std::map<QString, std::unique_ptr<RecordStore>> stores;
    for (;;) {
        Job job;
        {
            std::unique_lock lock(m_mutex);
            m_posted.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
            if (m_stopping)
                return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        std::unique_ptr<RecordStore>& store = stores[job.location];
        if (store == nullptr || !store->IsOpen()) {
            store = std::make_unique<RecordStore>();
            QString ignored;  // every operation of the store tells it
            store->Open(job.location, ignored);
        }
        QString error;
        Reply reply = job.read(*store, error);
        if (!error.isEmpty())
            store.reset();
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
}

}  // namespace tamrisk
