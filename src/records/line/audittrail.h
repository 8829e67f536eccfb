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

}  // namespace tamrisk
