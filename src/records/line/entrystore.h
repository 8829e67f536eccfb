#pragma once
// A unit's entry into an operation and its leaving, in the records. The entry
// is one transaction: it takes the unit (a row in units_in_test, whose key lets
// one run of a unit in at a time: of two stations entering it at once, one
// takes it and the other finds it taken), fetches everything the decision needs
// in one query, decides (DecideEntry) and keeps the unit only when it entered.
// Leaving gives the unit back, keeps the run's end where the next entry reads
// it at once (the run's record may reach the records later, when its station
// forwards it) and, after a failure, holds the unit when the operation's limit
// of failures in a row is reached. A run is read once: from its record when
// that is here, else from the end kept. An engineering run is not read at all:
// its record is passed over and its end is not kept, so that the unit's route
// goes on from its last run of a released script.

#include "process.h"
#include "storeconnection.h"

#include <optional>
#include <string>

namespace tamrisk {

// A run ending: the run's entry, how it ended, and the hold it would make.
struct Leaving {
    EntryRequest entry;
    RecordOutcome outcome = RecordOutcome::Pass;
    // When the run puts the unit on hold: the hold's record, by whom, when.
    std::string holdRecordId, heldBy;
    qint64 endedMs = 0;
};

class EntryStore {
public:
    explicit EntryStore(StoreConnection& connection);

    // Decides whether `request` may enter and, when it does, keeps the unit in
    // test for its record (an entry made again for the same record finds its
    // own and enters). NotChecked without a product, an operation or a route;
    // the failure when the database is out of reach (nothing is kept then).
    StoreResult<EntryDecision> Enter(const EntryRequest& request);
    // The facts the entry of `request` decides on, as it reads them (for a
    // unit not taken by this request, its in-test row is another's).
    StoreResult<EntryFacts> Facts(const EntryRequest& request);
    // Gives the unit back (its in-test row of this record; none is no failure),
    // keeps the run's end (once for a record) and, when the run failed or ended in error and its failures in a row of
    // the operation reach the route's limit, holds the unit (unless it is on
    // hold already) in the same transaction. The hold made, if any. An
    // engineering run's entry only gives the unit back.
    StoreResult<std::optional<UnitHold>> Leave(const Leaving& leaving);
    // Gives back the units that programs of this computer which no longer run
    // left in test (a station killed in the middle of a run). How many.
    StoreResult<int> FreeAbandoned();

private:
    bool ReadFacts(const EntryRequest& request, EntryFacts& facts, QSqlError& failure);

    StoreConnection& m_c;
};

}  // namespace tamrisk
