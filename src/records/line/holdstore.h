#pragma once
// Holds of units by hand and their release, in the records. A unit is on hold
// while it has a hold not released; a release releases every hold of the unit
// and frees it from test (a run left going), and its failures in a row are
// counted again from then on.

#include "audittrail.h"
#include "storeconnection.h"

#include <string>

namespace tamrisk {

// A hold or release made by hand: of which unit, its record, who, where, when and why.
struct HoldChange {
    std::string unit, recordId, by, station, reason;
    qint64 atMs = 0;
};

// What a release found to do.
struct Released {
    int holds = 0;       // holds released
    bool freed = false;  // the unit was in test and is free now
};

// A unit put on hold for `reason` as the audit trail keeps it, by hand or by a station.
AuditChange HoldAudit(const std::string& unit, const std::string& reason);

class HoldStore {
public:
    explicit HoldStore(StoreConnection& connection);

    // Puts `change.unit` on hold (once more when it is already).
    StoreResult<void> Hold(const HoldChange& change);
    // Releases every hold of `change.unit` and frees it from test; NotFound when
    // it was neither on hold nor in test. A station's login may not (refused).
    StoreResult<Released> Release(const HoldChange& change);

private:
    StoreConnection& m_c;
};

}  // namespace tamrisk
