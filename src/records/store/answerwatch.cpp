#include "answerwatch.h"

#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

#include <sys/socket.h>
#include <sys/stat.h>

namespace tamrisk {

using Clock = std::chrono::steady_clock;

struct AnswerWatch::Entry {
    int socket = -1;
    // The socket's identity when watching began: a descriptor closed by its
    // connection and reused by another file is left alone.
    dev_t device = 0;
    ino_t inode = 0;
    std::chrono::milliseconds limit{0};
    Clock::time_point deadline;
    bool fired = false;
};

namespace {

class Watchdog {
public:
    // Never destroyed: the thread may still wait when the program exits, and a
    // forked child (which has no such thread) must not join it.
    static Watchdog& Instance() {
        static Watchdog* const watchdog = new Watchdog;
        return *watchdog;
    }

    void Add(AnswerWatch::Entry* entry) {
        {
            const std::lock_guard lock(m_mutex);
            m_entries.insert(entry);
        }
        m_changed.notify_all();
    }
    // Once it returns, the entry's socket is not touched again: shutting down
    // happens under the same lock.
    void Remove(AnswerWatch::Entry* entry) {
        const std::lock_guard lock(m_mutex);
        m_entries.erase(entry);
    }
    // Only ever later: the thread wakes at the old deadline and waits on.
    void Progress(AnswerWatch::Entry* entry) {
        const std::lock_guard lock(m_mutex);
        entry->deadline = Clock::now() + entry->limit;
    }
    bool Fired(const AnswerWatch::Entry* entry) {
        const std::lock_guard lock(m_mutex);
        return entry->fired;
    }

private:
    Watchdog() {
        std::thread([this] { Run(); }).detach();
    }

    void Run() {
        std::unique_lock lock(m_mutex);
        for (;;) {
            auto next = Clock::time_point::max();
            const auto now = Clock::now();
            for (AnswerWatch::Entry* entry : m_entries) {
                if (entry->fired)
                    continue;
                if (entry->deadline <= now)
                    ShutDown(*entry);
                else
                    next = std::min(next, entry->deadline);
            }
            if (next == Clock::time_point::max())
                m_changed.wait(lock);
            else
                m_changed.wait_until(lock, next);
        }
    }

    static void ShutDown(AnswerWatch::Entry& entry) {
        entry.fired = true;
        struct stat now {};
        if (fstat(entry.socket, &now) == 0 && now.st_dev == entry.device && now.st_ino == entry.inode)
            shutdown(entry.socket, SHUT_RDWR);
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::set<AnswerWatch::Entry*> m_entries;
};

}  // namespace

AnswerWatch::AnswerWatch(int socket, std::chrono::milliseconds limit) {
    struct stat identity {};
    if (socket < 0 || fstat(socket, &identity) != 0 || !S_ISSOCK(identity.st_mode))
        return;
    m_entry = std::make_unique<Entry>();
    m_entry->socket = socket;
    m_entry->device = identity.st_dev;
    m_entry->inode = identity.st_ino;
    m_entry->limit = limit;
    m_entry->deadline = Clock::now() + limit;
    Watchdog::Instance().Add(m_entry.get());
}

AnswerWatch::~AnswerWatch() {
    if (m_entry)
        Watchdog::Instance().Remove(m_entry.get());
}

void AnswerWatch::Progress() {
    if (m_entry)
        Watchdog::Instance().Progress(m_entry.get());
}

bool AnswerWatch::Fired() const { return m_entry && Watchdog::Instance().Fired(m_entry.get()); }

}  // namespace tamrisk
