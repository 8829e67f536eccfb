#pragma once
// The audit trail: every change of who may do what and of what runs, appended
// to the records by whoever makes it, in the same transaction as the change.
// Each entry holds the SHA-256 of the entry before it and its own, taken over
// its content and that previous SHA-256, so that the entries form a chain: an
// entry changed or deleted afterwards no longer matches what follows it.

#include "storeconnection.h"

#include <QSqlError>
#include <QtGlobal>

#include <optional>
#include <string>
#include <vector>

namespace tamrisk {

// A change as its maker states it: what was done ("operator add", "release
// approve"...), to what (an operator's ID, a product's route...), the value
// before and after where there are such, and the reason where one was given.
struct AuditChange {
    std::string action, subject;
    std::optional<std::string> oldValue{}, newValue{}, reason{};
};

// An entry of the trail as kept. Texts are UTF-8; at is ms since the epoch.
struct AuditEntry {
    qint64 seq = 0;
    qint64 atMs = 0;
    std::string who, station, login;
    AuditChange change;
    std::string previousSha256, sha256;  // lower-case hex; the first entry's previous is empty
};

// The SHA-256 (lower-case hex) of `entry`'s content and its previousSha256,
// the sha256 it should hold. Each field is written with its length, so no two
// entries' contents give the same text.
std::string AuditEntrySha256(const AuditEntry& entry);

// Appends `change` by the connection's actor (StoreConnection::SetActor) at
// `atMs` as the next entry of the trail. To be
// called inside a write transaction of `c` (StoreConnection::Write), so that
// the change and its entry are kept or lost together; entries of concurrent
// writers wait for each other on the trail's head. False with the failure.
bool AppendAudit(StoreConnection& c, const AuditChange& change, qint64 atMs, QSqlError& failure);
// The same by `who` at `station`, for a change made in another's name (an
// engineering run names the person and station of its record).
bool AppendAudit(StoreConnection& c, const AuditChange& change, qint64 atMs, const std::string& who,
                 const std::string& station, QSqlError& failure);

// Where the chain breaks, as Verify finds it first.
struct AuditBreak {
    enum class Kind {
        ContentChanged,   // the entry's content does not match its sha256
        EntryMissing,     // the entry numbered before it is not there
        ChainBroken,      // its previousSha256 is not the sha256 of the entry before it
        LaterMissing,     // the head names a later entry than the last one there (entry: the last, or none)
        HeadMismatch,     // the last entry is not the one whose sha256 the head keeps
    };
    Kind kind = Kind::ContentChanged;
    std::optional<AuditEntry> entry;  // none: the trail holds no entry at all
    qint64 headSeq = 0;               // LaterMissing: the last entry the head names
};

// What Verify read: how many entries, and the first break if any.
struct AuditCheck {
    qint64 entries = 0;
    std::optional<AuditBreak> broken;
};

// The trail read: listed and verified.
class AuditStore {
public:
    explicit AuditStore(StoreConnection& connection);

    // The entries at or after `sinceMs`, newest first (by seq), at most `limit` (0: all).
    StoreResult<std::vector<AuditEntry>> List(qint64 sinceMs, int limit);
    // Reads the trail in order up to the entry its head names (entries appended
    // meanwhile wait for the next check) and finds the first entry that does
    // not match: content against sha256, numbers without gaps from 1, each
    // previousSha256 against the entry before it, and the head against the last entry.
    StoreResult<AuditCheck> Verify();

private:
    StoreConnection& m_c;
};

}  // namespace tamrisk
