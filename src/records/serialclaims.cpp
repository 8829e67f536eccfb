#include "serialclaims.h"

#include "workthread.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>

#include <future>
#include <optional>
#include <utility>

namespace tamrisk {

QString ClaimsLocation(const RecordStore& store) {
    const QString line = store.ForwardTo();
    return line.isEmpty() ? store.Location() : line;
}

SerialClaims::SerialClaims(QString location) : m_location(std::move(location)) {}

SerialClaims::~SerialClaims() = default;

void SerialClaims::Call(const std::function<bool(RecordStore& store, QString& error)>& work, QString& error) {
    if (!m_thread) {
        // The connection is closed on the thread that made it.
        m_thread = std::make_unique<WorkThread>(QStringLiteral("serial claims"), WorkThread::AtStop::RunWaitingJobs,
                                                [this] { m_store.reset(); });
    }
    // Without an application there are no events to process: the caller only waits.
    std::optional<QEventLoop> loop;
    if (QCoreApplication::instance() != nullptr)
        loop.emplace();
    std::promise<void> done;
    std::future<void> finished = done.get_future();
    m_thread->Post([&] {
        if (!m_store) {
            auto store = std::make_unique<RecordStore>();
            if (store->Open(m_location, error))
                m_store = std::move(store);
        }
        // A connection that failed is opened again for the next call: a server
        // that came back is used again.
        if (m_store && !work(*m_store, error))
            m_store.reset();
        if (loop)
            QMetaObject::invokeMethod(&*loop, &QEventLoop::quit, Qt::QueuedConnection);
        done.set_value();
    });
    // The loop may also end early (the application quitting): the answer is still waited for.
    if (loop)
        loop->exec();
    finished.wait();
}

RecordStore::ClaimResult SerialClaims::Claim(const SerialClaimRow& claim, QString& error) {
    auto result = RecordStore::ClaimResult::Failed;
    Call(
        [&](RecordStore& store, QString& failure) {
            result = store.Claim(claim, failure);
            return result != RecordStore::ClaimResult::Failed;
        },
        error);
    return result;
}

bool SerialClaims::Release(const std::string& space, const std::string& data, const std::string& recordId,
                           QString& error) {
    bool released = false;
    Call(
        [&](RecordStore& store, QString& failure) {
            released = store.Release(space, data, recordId, failure);
            return released;
        },
        error);
    return released;
}

}  // namespace tamrisk
