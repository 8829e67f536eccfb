#include "workthread.h"

#include <QThread>

namespace tamrisk {

WorkThread::WorkThread(const QString& name, AtStop atStop, Job atEnd)
    : m_atStop(atStop), m_atEnd(std::move(atEnd)), m_thread(QThread::create([this] { Run(); })) {
    m_thread->setObjectName(name);
    m_thread->start();
}

WorkThread::~WorkThread() {
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
        if (m_atStop == AtStop::DropWaitingJobs)
            m_jobs.clear();
    }
    m_changed.notify_all();
    m_thread->wait();
}

void WorkThread::Post(Job job) {
    {
        const std::lock_guard lock(m_mutex);
        m_jobs.push_back(std::move(job));
    }
    m_changed.notify_all();
}

void WorkThread::Settle() {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_jobs.empty() && !m_busy; });
}

void WorkThread::Run() {
    for (;;) {
        Job job;
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
            if (m_jobs.empty())
                break;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
            m_busy = true;
        }
        job();
        {
            const std::lock_guard lock(m_mutex);
            m_busy = false;
        }
        m_changed.notify_all();
    }
    if (m_atEnd)
        m_atEnd();
}

}  // namespace tamrisk
