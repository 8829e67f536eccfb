#pragma once
// The entry of units into operations, for a front end (the station's window,
// tamrisk-cli run). Asked where every station of the line sees it: in the
// line's database when the records are forwarded to one, else in the records
// file itself (RecordsRoute::Claims(), as serial claims are). The connection
// lives on a thread of its own; a caller waits for each answer with its events
// processed, so a window stays drawn while a slow server is waited for.
//
// A run that names a product and an operation:
//   1. before the port is opened or anything sent, Enter(host, request, wait)
//      with the run's record id, unit, product, operation, station and port.
//      Entered: run it. NotChecked: run it as any run (no route for the
//      product). Refused: do not run it; record a record of kind "entry",
//      outcome fail, with `reason`, and tell the operator. Unreachable (the
//      line stayed out of reach for the whole wait), Failed (the check could
//      not be made) or Cancelled: do not run it; end it as an error (cancelled:
//      aborted) with `reason`. A unit never runs unverified.
//   2. when the run ends, with any outcome, Leave(request, outcome, heldBy)
//      gives the unit back. When this run's failure made the unit reach its
//      operation's limit of failures in a row, the hold made is returned: tell
//      the operator and record a record of kind "hold" with the hold's
//      recordId and reason.
// FreeAbandoned() at the program's start gives back the units that programs of
// this computer left in test when they ended (killed in the middle of a run);
// the first question to the records does it too.

#include "entrystore.h"
#include "host.h"
#include "serialnumbers.h"

#include <QString>

#include <memory>
#include <optional>
#include <string>

namespace tamrisk {

class RecordStore;
class StoreThread;

// How an entry was answered.
struct UnitEntry {
    enum class Kind { Entered, NotChecked, Refused, Unreachable, Failed, Cancelled };
    Kind kind = Kind::NotChecked;
    std::string reason;  // why refused, out of reach, failed or cancelled (UTF-8)
};

// The record a hold made by a run's leaving is kept as: kind "hold", the
// hold's id, time and reason, the unit, operation and product of `request`.
RecordHeader HoldRecord(const EntryRequest& request, const UnitHold& hold);

class UnitEntries {
public:
    // Entries kept in the records at `location` (a file or a postgresql:// URL);
    // nothing is opened before the first question.
    explicit UnitEntries(QString location);
    // Waits for the work under way and closes the connection on its thread.
    ~UnitEntries();
    UnitEntries(const UnitEntries&) = delete;
    UnitEntries& operator=(const UnitEntries&) = delete;

    QString Location() const;

    // Asks whether `request` may enter (EntryStore::Enter), at once NotChecked
    // when it names no product or operation. While the records are out of
    // reach it asks again as WaitWhileOutOfReach says (the limit, the events,
    // `wait.cancelled` and the began/ended notices of `wait`), then
    // Unreachable, or Cancelled when the wait was cancelled.
    UnitEntry Enter(Host& host, const EntryRequest& request, const OutOfReachWait& wait);
    // Gives back the unit of `request` as its run ended with `outcome`
    // (EntryStore::Leave), a hold made by `heldBy` with a record id of its own.
    // The hold made, if any; the failure when the records cannot be written
    // (the unit stays in test until released or freed).
    StoreResult<std::optional<UnitHold>> Leave(const EntryRequest& request, RecordOutcome outcome,
                                               const std::string& heldBy);
    // Who makes the changes of the entries and holds (StoreThread::SetActor).
    void SetActor(std::string who, std::string station);
    // EntryStore::FreeAbandoned in the records. How many units were freed.
    StoreResult<int> FreeAbandoned();

private:
    std::unique_ptr<StoreThread> m_line;
};

}  // namespace tamrisk
