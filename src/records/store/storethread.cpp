#include "storethread.h"

#include "workthread.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>

#include <future>
#include <utility>

namespace tamrisk {

StoreThread::StoreThread(QString location, QString name, std::function<void(RecordStore&)> opened)
    : m_location(std::move(location)), m_name(std::move(name)), m_opened(std::move(opened)) {}

StoreThread::~StoreThread() = default;

void StoreThread::Post(std::function<void()> job) {
    const std::lock_guard made(m_threadMade);
    if (!m_thread) {
        // The connection is closed on the thread that made it.
        m_thread = std::make_unique<WorkThread>(m_name, WorkThread::AtStop::RunWaitingJobs, [this] { m_store.reset(); });
    }
    m_thread->Post(std::move(job));
}

void StoreThread::Wait(const std::function<void()>& job) {
    // Without an application there are no events to process: the caller only waits.
    std::optional<QEventLoop> loop;
    if (QCoreApplication::instance() != nullptr)
        loop.emplace();
    std::promise<void> done;
    std::future<void> finished = done.get_future();
    Post([&] {
        job();
        if (loop)
            QMetaObject::invokeMethod(&*loop, &QEventLoop::quit, Qt::QueuedConnection);
        done.set_value();
    });
    // The loop may also end early (the application quitting): the answer is still waited for.
    if (loop)
        loop->exec();
    finished.wait();
}

void StoreThread::SetActor(std::string who, std::string station) {
    Post([this, actor = std::pair(std::move(who), std::move(station))] {
        m_actor = actor;
        if (m_store)
            m_store->SetActor(actor.first, actor.second);
    });
}

StoreResult<RecordStore*> StoreThread::OpenStore() {
    if (!m_store) {
        auto store = std::make_unique<RecordStore>();
        if (StoreResult<void> opened = store->Open(m_location); !opened)
            return opened.error();
        if (StoreResult<void> synced = store->SetDurableCommits(true); !synced)
            return synced.error();
        m_store = std::move(store);
        if (m_actor)
            m_store->SetActor(m_actor->first, m_actor->second);
        if (m_opened)
            m_opened(*m_store);
    }
    return m_store.get();
}

}  // namespace tamrisk
