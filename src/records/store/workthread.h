#pragma once
// Runs posted jobs one after another, in the order posted, on a QThread of its
// own. A QThread, not a bare thread: Qt's data for the thread (a database
// connection lives in it) goes with the QThread, not with the thread's exit.
// What the jobs keep between them (a connection, which belongs to the thread
// that opened it) is its owner's, and is let go by `atEnd`, run on the thread
// after the last job.

#include <QString>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

class QThread;

namespace tamrisk {

class WorkThread {
public:
    using Job = std::function<void()>;
    // What stopping does with the jobs not yet begun.
    enum class AtStop { RunWaitingJobs, DropWaitingJobs };

    WorkThread(const QString& name, AtStop atStop, Job atEnd = {});
    // Stops as `atStop` says and waits for the job under way.
    ~WorkThread();
    WorkThread(const WorkThread&) = delete;
    WorkThread& operator=(const WorkThread&) = delete;

    void Post(Job job);
    // Waits until every job posted so far has run.
    void Settle();

private:
    void Run();

    const AtStop m_atStop;
    const Job m_atEnd;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Job> m_jobs;
    bool m_busy = false;
    bool m_stopping = false;
    std::unique_ptr<QThread> m_thread;  // last: it starts once the rest is made
};

}  // namespace tamrisk
