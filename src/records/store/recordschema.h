#pragma once
// The records' schema: its tables, one step per version, the upgrade of an
// older database in one transaction (one program at a time), and the rights the
// logins of a line's database are granted on each table.

#include "storeconnection.h"

#include <QString>
#include <QStringList>

namespace tamrisk {

// The schema version this program writes.
inline constexpr int CurrentSchemaVersion = 14;

// Checks what the database connected by `connection` holds and makes or upgrades
// the schema; `version` is then the database's. Reading the version reads an
// SQLite file's header: a file that is not a database, another program's
// database (other tables and no schema version) or a newer one is refused before
// anything is written to it. A login that may not make or upgrade a line's
// schema (a station's) is told to run `tamrisk-cli records setup`. Its version,
// or a failure of kind SchemaRefused (or the database's failure).
StoreResult<int> OpenSchema(StoreConnection& connection);

// Grants the logins of the line's database their rights in one transaction:
// each of `stationRoles` may add records and claims and give back only the
// claims it made, never change or delete a record; each of `readerRoles` may
// only read; each of `supervisorRoles` may do what a station does and set
// routes, release holds, free the units of any station and manage people.
// Fails for a database without logins (SchemaRefused), a role that does not
// exist, a login that does not own the schema, or a table whose rights
// are not listed.
StoreResult<void> GrantLogins(StoreConnection& connection, const QStringList& stationRoles,
                              const QStringList& readerRoles, const QStringList& supervisorRoles = {});

}  // namespace tamrisk
