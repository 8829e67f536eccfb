#include "serialclaims.h"

#include "storethread.h"

#include <optional>
#include <utility>

namespace tamrisk {

namespace {

bool Answered(const std::optional<StoreResult<ClaimResult>>& result) { return result && result->has_value(); }

}  // namespace

SerialClaims::SerialClaims(QString location)
    : m_line(std::make_unique<StoreThread>(std::move(location), QStringLiteral("serial claims"))) {}

SerialClaims::~SerialClaims() = default;

QString SerialClaims::Location() const { return m_line->Location(); }

void SerialClaims::Post(std::function<void()> job) { m_line->Post(std::move(job)); }

void SerialClaims::Wait(const std::function<void()>& job) { m_line->Wait(job); }

template <typename T>
StoreResult<T> SerialClaims::WithStore(const std::function<StoreResult<T>(ClaimStore& claims)>& work) {
    return m_line->WithStore<T>([&](RecordStore& store) { return work(store.Claiming()); });
}

StoreResult<ClaimResult> SerialClaims::ClaimHere(const SerialClaimRow& claim, bool again) {
    return WithStore<ClaimResult>([&](ClaimStore& claims) { return claims.Claim(claim, again); });
}

StoreResult<ClaimResult> SerialClaims::Claim(const SerialClaimRow& claim) {
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
    std::optional<StoreResult<ClaimResult>> result;
    // The answer made ahead is usually here already: taken without a turn of the claims thread.
    bool taken = fromAhead && TakeAheadAnswer(key, result);
    if (taken && Answered(result)) {
        m_unanswered.reset();
        return *result;
    }
    Wait([&] {
        // Made before on this thread, an answer made ahead is here now.
        taken = taken || (fromAhead && TakeAheadAnswer(key, result));
        if (taken && Answered(result))
            return;
        // A claim made ahead that failed may have been made all the same.
        result = ClaimHere(claim, again || taken);
    });
    if (Answered(result))
        m_unanswered.reset();
    else
        m_unanswered = key;
    return *result;
}

void SerialClaims::ClaimAhead(const SerialClaimRow& claim) {
    if (const auto held = m_aheadAsked.find(claim.space); held != m_aheadAsked.end()) {
        if (held->second.data == claim.data)
            return;
        GiveBack(claim.space);
    }
    m_aheadAsked.emplace(claim.space, claim);
    Post([this, claim] {
        // A failure is told by the claim of the number, when it comes and tries again.
        StoreResult<ClaimResult> result = ClaimHere(claim, false);
        const std::lock_guard lock(m_aheadMutex);
        m_aheadAnswers.insert_or_assign({claim.space, claim.data}, std::move(result));
    });
}

void SerialClaims::GiveBack(const std::string& space) {
    const auto held = m_aheadAsked.find(space);
    if (held == m_aheadAsked.end())
        return;
    SerialClaimRow claim = std::move(held->second);
    m_aheadAsked.erase(held);
    Post([this, claim = std::move(claim)] {
        std::optional<StoreResult<ClaimResult>> result;
        if (!TakeAheadAnswer({claim.space, claim.data}, result) || !Answered(result) || **result != ClaimResult::Claimed)
            return;
        // A claim that cannot be given back only leaves a gap.
        (void)WithStore<void>(
            [&](ClaimStore& claims) { return claims.Release(claim.space, claim.data, claim.recordId); });
    });
}

bool SerialClaims::TakeAheadAnswer(const std::pair<std::string, std::string>& key,
                                   std::optional<StoreResult<ClaimResult>>& result) {
    const std::lock_guard lock(m_aheadMutex);
    const auto answer = m_aheadAnswers.find(key);
    if (answer == m_aheadAnswers.end())
        return false;
    result = std::move(answer->second);
    m_aheadAnswers.erase(answer);
    return true;
}

void SerialClaims::GiveBackAhead() {
    while (!m_aheadAsked.empty())
        GiveBack(m_aheadAsked.begin()->first);
}

StoreResult<void> SerialClaims::Release(const std::string& space, const std::string& data,
                                        const std::string& recordId) {
    StoreResult<void> released;
    Wait([&] {
        released = WithStore<void>([&](ClaimStore& claims) { return claims.Release(space, data, recordId); });
    });
    return released;
}

}  // namespace tamrisk
