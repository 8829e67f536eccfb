#pragma once
// Records opened on a thread of their own, for questions a caller must wait
// for without stopping its window: the claims of serial numbers and the entries
// of units. The store is opened at the first question and again after a lost
// connection, so that a server that came back is used; its commits are durable
// (an answer is on disk before it is given). A caller waits for each answer
// with its events processed.

#include "recordstore.h"

#include <QString>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

namespace tamrisk {

class WorkThread;

class StoreThread {
public:
    // Questions to the records at `location`, asked on a thread named `name`;
    // nothing is opened before the first. `opened`, when given, is run on the
    // thread after each open, before the question that opened the store.
    StoreThread(QString location, QString name, std::function<void(RecordStore&)> opened = {});
    // Runs the questions posted and closes the store on its thread.
    ~StoreThread();
    StoreThread(const StoreThread&) = delete;
    StoreThread& operator=(const StoreThread&) = delete;

    QString Location() const { return m_location; }

    // Who makes the changes asked through this thread (RecordStore::SetActor),
    // for the store open now and every one opened later. Returns at once.
    void SetActor(std::string who, std::string station);

    // Runs `job` on the thread and returns once it is done, the caller's
    // events processed meanwhile (when there is an application).
    void Wait(const std::function<void()>& job);
    // Posts `job` to the thread and returns at once.
    void Post(std::function<void()> job);
    // On the thread: `work` with the store, opened first when it is not; the
    // failure of the open when it cannot be. A lost connection is closed, so
    // that the next question opens it again.
    template <typename T>
    StoreResult<T> WithStore(const std::function<StoreResult<T>(RecordStore& store)>& work) {
        const StoreResult<RecordStore*> store = OpenStore();
        if (!store)
            return store.error();
        StoreResult<T> done = work(**store);
        // Only a lost connection is made again; a refusal would be refused again.
        if (!done && done.error().kind == StoreError::Kind::ConnectionLost)
            m_store.reset();
        return done;
    }
    // WithStore on the thread, waited for as Wait does.
    template <typename T>
    StoreResult<T> Ask(const std::function<StoreResult<T>(RecordStore& store)>& work) {
        std::optional<StoreResult<T>> answer;
        Wait([&] { answer = WithStore<T>(work); });
        return std::move(*answer);
    }

private:
    StoreResult<RecordStore*> OpenStore();

    QString m_location, m_name;
    std::function<void(RecordStore&)> m_opened;
    std::unique_ptr<RecordStore> m_store;  // made, used and closed on m_thread only
    std::optional<std::pair<std::string, std::string>> m_actor;  // who and station; read and set on m_thread only
    std::mutex m_threadMade;  // callers on several threads (a station's sockets) post at once
    std::unique_ptr<WorkThread> m_thread;  // last: stopped first, while the store is there to close
};

}  // namespace tamrisk
