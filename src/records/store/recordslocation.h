#pragma once
// Where records are kept, as text: the records file or a line's PostgreSQL
// database URL, how a location is shown (a password masked), what a URL names,
// and where a front end's records go. Pure: nothing here opens anything.

#include "storeerror.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <string>

namespace tamrisk {

// The user's records file, the same for every program: "Tamrisk/records.sqlite"
// in the user's data folder (~/.local/share/Tamrisk/records.sqlite on Linux).
QString DefaultRecordsLocation();

// True for a location that names a PostgreSQL database:
// postgresql://[USER@][HOST][:PORT]/DB[?host=SOCKET_FOLDER] (also postgres://).
bool IsPostgresqlLocation(const QString& location);
// True for the location of a line's database, which many stations share and
// records are sent on to, rather than a records file of this computer.
inline bool IsLineLocation(const QString& location) { return IsPostgresqlLocation(location); }

// `location` as messages show it: a password written into a URL masked.
QString ShownLocation(const QString& location);

// What a location names: an SQLite file, or a PostgreSQL database with the
// settings its connection takes.
struct DatabaseTarget {
    bool postgresql = false;
    QString file;  // SQLite: the file
    QString host, database, user;  // PostgreSQL
    int port = -1;                 // -1: libpq's default
    QStringList options;           // libpq settings, "key='value'"
};
// The target of `location`; empty with `reason` for a URL that cannot be taken
// (one that carries a password: passwords come from ~/.pgpass or PGPASSWORD as
// libpq reads them, or a setting whose value Qt would change).
std::optional<DatabaseTarget> ParseLocation(const QString& location, QString& reason);

// The records location chosen: `choice` when given, else TAMRISK_RECORDS when
// set and not empty, else DefaultRecordsLocation(); an empty text for "off".
QString ChooseRecordsLocation(const std::optional<std::string>& choice);

// This computer's local records file, where records are written first when they
// go on to a line's database: TAMRISK_LOCAL_RECORDS when set and not empty, else
// DefaultRecordsLocation().
QString LocalRecordsLocation();

// Where a front end's records go, decided once from the location chosen.
struct RecordsRoute {
    QString local;  // the file records are written to first
    QString line;   // the line's database they are sent on to; empty for none
    // Where serial numbers are claimed: the line's database, or the file without one.
    QString Claims() const { return line.isEmpty() ? local : line; }
};
// The route for the chosen location (a file, or a line's URL whose records are
// written to LocalRecordsLocation() first); none for records off (`chosen`
// empty); a failure (NotOpen) for a URL that cannot be taken.
StoreResult<std::optional<RecordsRoute>> RouteRecords(const QString& chosen);

}  // namespace tamrisk
