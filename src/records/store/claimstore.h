#pragma once
// Claims on serial numbers: a number is claimed for a record before it is
// sent, once for the whole database whichever program or station asks, and
// given back when the printer refused it.

#include "record.h"
#include "storeconnection.h"

#include <QString>

#include <memory>
#include <string>

class QSqlQuery;

namespace tamrisk {

// How a claim was answered; a claim that got no answer is a StoreError (out of
// reach when a later try may get one).
enum class ClaimResult { Claimed, Taken };

class ClaimStore {
public:
    explicit ClaimStore(StoreConnection& connection);
    ~ClaimStore();
    ClaimStore(const ClaimStore&) = delete;
    ClaimStore& operator=(const ClaimStore&) = delete;

    // Claims `claim.data` in `claim.space` for its record in one transaction:
    // Taken when any record, of any program or station, claimed it before, but
    // with `again` (a claim tried again after its answer was lost) Claimed when
    // its own record did; the failure when the database is out of reach or
    // cannot be written otherwise.
    StoreResult<ClaimResult> Claim(const SerialClaimRow& claim, bool again = false);
    // Gives up the claim of record `recordId` on `data` in `space` (a claim of
    // another record stays); nothing to give up is no failure.
    StoreResult<void> Release(const std::string& space, const std::string& data, const std::string& recordId);
    // Forgets the statement prepared on the connection, before it is opened again.
    void Reset();

private:
    StoreConnection& m_c;
    std::unique_ptr<QSqlQuery> m_claimInsert;  // Claim's statement, prepared once a connection
};

}  // namespace tamrisk
