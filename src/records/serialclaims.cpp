#include "serialclaims.h"

#include "workthread.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>

#include <future>
#include <optional>
#include <utility>

namespace tamrisk {

namespace {

bool Answered(ClaimResult result) { return result == ClaimResult::Claimed || result == ClaimResult::Taken; }

}  // namespace

SerialClaims::SerialClaims(QString location) : m_location(std::move(location)) {}

SerialClaims::~SerialClaims() = default;

void SerialClaims::Post(std::function<void()> job) {
    if (!m_thread) {
        // The connection is closed on the thread that made it.
        m_thread = std::make_unique<WorkThread>(QStringLiteral("serial claims"), WorkThread::AtStop::RunWaitingJobs,
                                                [this] { m_store.reset(); });
    }
    m_thread->Post(std::move(job));
}

void SerialClaims::Wait(const std::function<void()>& job) {
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

RecordStore* SerialClaims::OpenStore(QString& error, bool& outOfReach) {
    if (!m_store) {
        auto store = std::make_unique<RecordStore>();
        if (!store->Open(m_location, error) || !store->SetDurableCommits(true, error)) {
            outOfReach = store->OutOfReach();
            return nullptr;
        }
        m_store = std::move(store);
    }
    return m_store.get();
}

bool SerialClaims::WithStore(const std::function<bool(ClaimStore& claims, QString& error)>& work, QString& error,
                             bool& outOfReach) {
    RecordStore* store = OpenStore(error, outOfReach);
    if (store == nullptr)
        return false;
    if (work(store->Claiming(), error))
        return true;
    // Only a lost connection is made again; a refusal would be refused again.
    outOfReach = store->OutOfReach();
    if (outOfReach)
        m_store.reset();
    return false;
}

ClaimResult SerialClaims::ClaimHere(const SerialClaimRow& claim, bool again, QString& error) {
    auto result = ClaimResult::Failed;
    bool outOfReach = false;
    WithStore(
        [&](ClaimStore& claims, QString& failure) {
            result = claims.Claim(claim, failure, again);
            return Answered(result);
        },
        error, outOfReach);
    return Answered(result) ? result : outOfReach ? ClaimResult::Unreachable : ClaimResult::Failed;
}

ClaimResult SerialClaims::Claim(const SerialClaimRow& claim, QString& error) {
    bool fromAhead = false;
    if (const auto ahead = m_aheadAsked.find(claim.space); ahead != m_aheadAsked.end()) {
        fromAhead = ahead->second.data == claim.data && ahead->second.recordId == claim.recordId;
        if (fromAhead)
            m_aheadAsked.erase(ahead);
        else
            GiveBack(claim.space);
    }
    const std::pair<std::string, std::string> key{claim.space, claim.data};
    // A claim that got no answer may have been made: this record's claim found
    // when it is tried again is its own.
    bool again = m_unanswered == key;
    auto result = ClaimResult::Failed;
    // The answer made ahead is usually here already: taken without a turn of the claims thread.
    bool taken = fromAhead && TakeAheadAnswer(key, result);
    if (taken && Answered(result)) {
        m_unanswered.reset();
        return result;
    }
    Wait([&] {
        // Made before on this thread, an answer made ahead is here now.
        taken = taken || (fromAhead && TakeAheadAnswer(key, result));
        if (taken && Answered(result))
            return;
        // A claim made ahead that failed may have been made all the same.
        result = ClaimHere(claim, again || taken, error);
    });
    if (Answered(result))
        m_unanswered.reset();
    else
        m_unanswered = key;
    return result;
}

void SerialClaims::ClaimAhead(const SerialClaimRow& claim) {
    if (const auto held = m_aheadAsked.find(claim.space); held != m_aheadAsked.end()) {
        if (held->second.data == claim.data)
            return;
        GiveBack(claim.space);
    }
    m_aheadAsked.emplace(claim.space, claim);
    Post([this, claim] {
        QString error;  // the claim of the number, when it comes, tries again and tells
        const ClaimResult result = ClaimHere(claim, false, error);
        const std::lock_guard lock(m_aheadMutex);
        m_aheadAnswers[{claim.space, claim.data}] = result;
    });
}

void SerialClaims::GiveBack(const std::string& space) {
    const auto held = m_aheadAsked.find(space);
    if (held == m_aheadAsked.end())
        return;
    SerialClaimRow claim = std::move(held->second);
    m_aheadAsked.erase(held);
    Post([this, claim = std::move(claim)] {
        auto result = ClaimResult::Failed;
        if (!TakeAheadAnswer({claim.space, claim.data}, result) || result != ClaimResult::Claimed)
            return;
        QString ignored;  // a claim that cannot be given back only leaves a gap
        bool outOfReach = false;
        WithStore([&](ClaimStore& claims,
                      QString& failure) { return claims.Release(claim.space, claim.data, claim.recordId, failure); },
                  ignored, outOfReach);
    });
}

bool SerialClaims::TakeAheadAnswer(const std::pair<std::string, std::string>& key, ClaimResult& result) {
    const std::lock_guard lock(m_aheadMutex);
    const auto answer = m_aheadAnswers.find(key);
    if (answer == m_aheadAnswers.end())
        return false;
    result = answer->second;
    m_aheadAnswers.erase(answer);
    return true;
}

void SerialClaims::GiveBackAhead() {
    while (!m_aheadAsked.empty())
        GiveBack(m_aheadAsked.begin()->first);
}

bool SerialClaims::Release(const std::string& space, const std::string& data, const std::string& recordId,
                           QString& error) {
    bool released = false;
    Wait([&] {
        bool outOfReach = false;
        released = WithStore(
            [&](ClaimStore& claims, QString& failure) { return claims.Release(space, data, recordId, failure); },
            error, outOfReach);
    });
    return released;
}

}  // namespace tamrisk
