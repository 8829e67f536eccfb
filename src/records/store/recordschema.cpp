#include "recordschema.h"

#include "audittrail.h"
#include "recordrows.h"

#include <QDateTime>
#include <QSqlQuery>

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

namespace tamrisk {

namespace {

// The schema, one step per version: step N takes a database of version N-1 to N.
// Plain SQL that SQLite and PostgreSQL both take (TEXT, INTEGER, BIGINT; {bytes}
// for the dialect's type of a byte column, {keyed} for its options of a table
// kept in the order of its key, {login} for the login a statement runs as).
// A step may convert rows in C++ between its statements and those after.
// A step may last keep the rows of a table to the logins that added them, where
// the database has logins: every login reads them all, but adds and deletes
// only rows whose column names it.
struct RowsOfLogins {
    const char* table;
    const char* column;
};

struct SchemaStep {
    int version;
    std::vector<const char*> statements;
    bool (*convert)(StoreConnection& c, QSqlError& failure) = nullptr;
    std::vector<const char*> after = {};
    std::optional<RowsOfLogins> rowsOfLogins = {};
};

bool ConvertLogRowsToChunks(StoreConnection& c, QSqlError& failure);
bool ConvertStepRowsToChunks(StoreConnection& c, QSqlError& failure);

const std::vector<SchemaStep>& SchemaSteps() {
    static const std::vector<SchemaStep> steps = {
        {1,
         {
             "CREATE TABLE schema_version (version INTEGER NOT NULL)",
             "CREATE TABLE records ("
             " id TEXT PRIMARY KEY, kind TEXT NOT NULL, station TEXT NOT NULL, operator_name TEXT NOT NULL,"
             " program_version TEXT NOT NULL, port TEXT NOT NULL, speed INTEGER NOT NULL,"
             " started_ms BIGINT NOT NULL, duration_ms BIGINT NOT NULL, outcome TEXT, reason TEXT NOT NULL,"
             " unit TEXT NOT NULL, script TEXT NOT NULL, script_sha256 TEXT NOT NULL, line_range TEXT NOT NULL,"
             " exit_code INTEGER, writer_host TEXT NOT NULL, writer_pid INTEGER NOT NULL)",
             "CREATE INDEX records_started ON records (started_ms DESC)",
             "CREATE INDEX records_unit ON records (unit, started_ms)",
             "CREATE INDEX records_outcome ON records (outcome, started_ms)",
             "CREATE TABLE record_log ("
             " record_id TEXT NOT NULL REFERENCES records (id), seq INTEGER NOT NULL, t_ms BIGINT NOT NULL,"
             " colour TEXT NOT NULL, line_text TEXT NOT NULL, PRIMARY KEY (record_id, seq))",
             "CREATE TABLE record_serials ("
             " record_id TEXT NOT NULL REFERENCES records (id), seq INTEGER NOT NULL, space TEXT NOT NULL,"
             " data TEXT NOT NULL, script_line INTEGER NOT NULL, result TEXT NOT NULL, PRIMARY KEY (record_id, seq))",
             "CREATE INDEX record_serials_data ON record_serials (data)",
             "CREATE TABLE record_images ("
             " record_id TEXT NOT NULL REFERENCES records (id), seq INTEGER NOT NULL, kind TEXT NOT NULL,"
             " length BIGINT NOT NULL, sha256 TEXT NOT NULL, file TEXT NOT NULL, PRIMARY KEY (record_id, seq))",
         }},
        // The script line each log line was shown for, so that a report can name it.
        {2, {"ALTER TABLE record_log ADD COLUMN script_line INTEGER NOT NULL DEFAULT 0"}},
        // Log lines kept in chunks of many lines a row: a row a line cost a busy
        // run a fifth of its speed.
        {3,
         {"CREATE TABLE record_log_chunks ("
          " record_id TEXT NOT NULL REFERENCES records (id), seq INTEGER NOT NULL, last_t_ms BIGINT NOT NULL,"
          " lines TEXT NOT NULL, PRIMARY KEY (record_id, seq))"},
         ConvertLogRowsToChunks,
         {"DROP TABLE record_log"}},
        // Every number claimed before it was sent, by whichever record, station and unit:
        // the key lets each one out once.
        {4,
         {"CREATE TABLE serial_claims ("
          " space TEXT NOT NULL, data TEXT NOT NULL, record_id TEXT NOT NULL, station TEXT NOT NULL,"
          " unit TEXT NOT NULL, claimed_ms BIGINT NOT NULL, PRIMARY KEY (space, data))"}},
        // The records of a station's local file still to be sent on to the line's
        // database, in the order they were begun.
        {5,
         {"CREATE TABLE forward_queue ("
          " seq BIGINT NOT NULL PRIMARY KEY, record_id TEXT NOT NULL, destination TEXT NOT NULL)",
          "CREATE INDEX forward_queue_destination ON forward_queue (destination, seq)"}},
        // The login that made each claim. On a line's database a login may give back
        // only its own claims: row-level security lets every login read and add
        // claims, and delete only those it made (the owner, who sets the line up, is
        // not bound). A records file has no logins.
        {.version = 6,
         .statements = {"ALTER TABLE serial_claims ADD COLUMN claimed_by TEXT NOT NULL DEFAULT {login}"},
         .rowsOfLogins = RowsOfLogins{"serial_claims", "claimed_by"}},
        // A record the line's database refused is set aside with the line's
        // reason (NULL: it waits to be sent), so that those behind it go on.
        {7, {"ALTER TABLE forward_queue ADD COLUMN set_aside TEXT"}},
        // Every transaction of a record as a step. Data and answers are the bytes
        // of the wire, which may hold any byte (a NUL too): kept as bytes.
        {8,
         {"CREATE TABLE record_steps ("
          " record_id TEXT NOT NULL REFERENCES records (id), seq INTEGER NOT NULL, script_line INTEGER,"
          " command INTEGER NOT NULL, data {bytes} NOT NULL, status TEXT, answer {bytes} NOT NULL,"
          " result TEXT NOT NULL, attempts INTEGER NOT NULL, t_ms BIGINT NOT NULL, duration_ms BIGINT NOT NULL,"
          " transactions INTEGER NOT NULL, failures INTEGER NOT NULL, PRIMARY KEY (record_id, seq)){keyed}"}},
        // Steps kept in chunks of many steps a row, as the log is: a row a step
        // cost a busy run a tenth of its speed.
        {9,
         {"CREATE TABLE record_step_chunks ("
          " record_id TEXT NOT NULL REFERENCES records (id), seq INTEGER NOT NULL, steps {bytes} NOT NULL,"
          " PRIMARY KEY (record_id, seq))"},
         ConvertStepRowsToChunks,
         {"DROP TABLE record_steps"}},
        // Every check of an answer a run made, a row each in the order made (a run
        // makes few): what it asked, what it found, how it ended and the step it
        // judged. Records of older files have none.
        {10,
         {"CREATE TABLE record_checks ("
          " record_id TEXT NOT NULL REFERENCES records (id), seq INTEGER NOT NULL, name TEXT NOT NULL,"
          " line INTEGER NOT NULL, field TEXT NOT NULL, op TEXT NOT NULL, expected TEXT, low DOUBLE PRECISION,"
          " high DOUBLE PRECISION, units TEXT NOT NULL, value TEXT, result TEXT NOT NULL, step INTEGER,"
          " message TEXT NOT NULL, PRIMARY KEY (record_id, seq))",
          "CREATE INDEX record_checks_name ON record_checks (name)"}},
        // The line's process. Every record names the operation it did (what the
        // station does: board, burn-in, final...) and the product of its unit;
        // (a unit's runs are found by records_unit: a unit has few, and a
        // second index led by the unit made every record's write dearer);
        // a product's route is its operations in order, each with how many
        // failures in a row put a unit on hold; every change of a route is kept.
        // A unit in test has one row while its run goes on, taken by the
        // station that enters it: the key lets one station in. A hold stays
        // until it is released, by whom and why kept on its row. A run's end is
        // kept as the station gives its unit back (its record reaches the line
        // later, when the station forwards it), so that the next station's
        // entry sees it at once.
        {.version = 11,
         .statements =
             {"ALTER TABLE records ADD COLUMN operation TEXT NOT NULL DEFAULT ''",
              "ALTER TABLE records ADD COLUMN product TEXT NOT NULL DEFAULT ''",
              "CREATE TABLE routes ("
              " product TEXT NOT NULL, seq INTEGER NOT NULL, operation TEXT NOT NULL, retest_limit INTEGER NOT NULL,"
              " PRIMARY KEY (product, seq))",
              "CREATE TABLE route_changes ("
              " product TEXT NOT NULL, changed_ms BIGINT NOT NULL, route TEXT NOT NULL, changed_by TEXT NOT NULL,"
              " station TEXT NOT NULL, login TEXT NOT NULL DEFAULT {login})",
              "CREATE INDEX route_changes_product ON route_changes (product, changed_ms)",
              "CREATE TABLE units_in_test ("
              " unit TEXT NOT NULL PRIMARY KEY, record_id TEXT NOT NULL, station TEXT NOT NULL, port TEXT NOT NULL,"
              " operation TEXT NOT NULL, product TEXT NOT NULL, entered_ms BIGINT NOT NULL,"
              " writer_host TEXT NOT NULL, writer_pid INTEGER NOT NULL, entered_by TEXT NOT NULL DEFAULT {login})",
              "CREATE TABLE unit_holds ("
              " record_id TEXT NOT NULL PRIMARY KEY, unit TEXT NOT NULL, operation TEXT NOT NULL,"
              " held_ms BIGINT NOT NULL, held_by TEXT NOT NULL, station TEXT NOT NULL, reason TEXT NOT NULL,"
              " released_ms BIGINT, released_by TEXT, release_reason TEXT, release_record_id TEXT)",
              "CREATE INDEX unit_holds_unit ON unit_holds (unit, held_ms)",
              "CREATE TABLE ended_runs ("
              " record_id TEXT NOT NULL PRIMARY KEY, unit TEXT NOT NULL, operation TEXT NOT NULL,"
              " product TEXT NOT NULL, station TEXT NOT NULL, started_ms BIGINT NOT NULL, outcome TEXT NOT NULL)",
              "CREATE INDEX ended_runs_unit ON ended_runs (unit)"},
         .rowsOfLogins = RowsOfLogins{"units_in_test", "entered_by"}},
        // The people who use the stations: each one's role and the Argon2id hash
        // of their PIN (never the PIN). A disabled person is kept, not deleted,
        // so that records naming them still name someone. Wrong PINs in a row
        // and the lock they lead to are counted here, so that every station of
        // the line sees them.
        {12,
         {"CREATE TABLE operators ("
          " id TEXT NOT NULL PRIMARY KEY, name TEXT NOT NULL, role TEXT NOT NULL, pin_hash TEXT NOT NULL,"
          " disabled BOOLEAN NOT NULL DEFAULT FALSE, failed_pins INTEGER NOT NULL DEFAULT 0,"
          " locked_until_ms BIGINT NOT NULL DEFAULT 0, added_ms BIGINT NOT NULL)"}},
        // Who did a run and with which released script. A record names the
        // logged-in person's ID (its operator_name their name) and keeps the
        // computer's login beside them; a run of a released script names the
        // release's number (of its product and operation), and a run of any
        // other script where people log in is an engineering run, counted in
        // no yield. A release keeps the script's and the variables' bytes
        // with their SHA-256 (no variables: empty), who released it and who
        // approved or revoked it; its id names it on every station, its number
        // counts the releases of one product and operation. Every change of
        // who may do what and of what runs is appended to the audit trail, each
        // entry holding the SHA-256 of the one before it with its own content;
        // the head row keeps the last entry's number and SHA-256, and its row
        // lock lets one entry be appended at a time.
        {13,
         {"ALTER TABLE records ADD COLUMN operator_id TEXT NOT NULL DEFAULT ''",
          "ALTER TABLE records ADD COLUMN computer_login TEXT NOT NULL DEFAULT ''",
          "ALTER TABLE records ADD COLUMN release_number INTEGER",
          "ALTER TABLE records ADD COLUMN engineering BOOLEAN NOT NULL DEFAULT FALSE",
          "CREATE TABLE script_releases ("
          " id BIGINT NOT NULL PRIMARY KEY, product TEXT NOT NULL, operation TEXT NOT NULL, number INTEGER NOT NULL,"
          " script_name TEXT NOT NULL, script {bytes} NOT NULL, script_sha256 TEXT NOT NULL,"
          " vars_name TEXT NOT NULL, vars {bytes} NOT NULL, vars_sha256 TEXT NOT NULL,"
          " released_by TEXT NOT NULL, released_ms BIGINT NOT NULL, station TEXT NOT NULL,"
          " approved_by TEXT, approved_ms BIGINT, revoked_by TEXT, revoked_ms BIGINT, revoke_reason TEXT,"
          " UNIQUE (product, operation, number))",
          "CREATE TABLE audit_trail ("
          " seq BIGINT NOT NULL PRIMARY KEY, at_ms BIGINT NOT NULL, who TEXT NOT NULL, station TEXT NOT NULL,"
          " login TEXT NOT NULL, action TEXT NOT NULL, subject TEXT NOT NULL, old_value TEXT, new_value TEXT,"
          " reason TEXT, previous_sha256 TEXT NOT NULL, sha256 TEXT NOT NULL)",
          "CREATE INDEX audit_trail_at ON audit_trail (at_ms)",
          "CREATE TABLE audit_head (one INTEGER NOT NULL PRIMARY KEY, seq BIGINT NOT NULL, sha256 TEXT NOT NULL)",
          "INSERT INTO audit_head (one, seq, sha256) VALUES (1, 0, '')"}},
        // How far a station has gone through a release: the text its last run
        // of the release left, the release's own but for the digits of its
        // stepping serial-number fields. A release's bytes never change, so a
        // station's next run continues from here and sends the numbers that
        // follow, not the release's first ones again. Kept in the station's
        // own records: it is the station's state, not the line's.
        {14,
         {"CREATE TABLE release_progress ("
          " release_id BIGINT NOT NULL, station TEXT NOT NULL, script {bytes} NOT NULL, updated_ms BIGINT NOT NULL,"
          " PRIMARY KEY (release_id, station))"}},
    };
    return steps;
}

// What the logins of a line's database may do with each table of the schema. A
// station adds records (a record is its row in `records` and its rows in every
// record_ table), adds claims and gives back claims (row-level security keeps
// that to its own), and reads everything: it looks up the next row numbers of a
// record and the claims of a number space. Nothing here lets it change or
// delete a record. A supervisor may do what a station does, and sets routes,
// releases holds, frees units that other stations left in test and manages
// people. A reader only reads.
// Every table the schema makes is listed: a table added by a later step needs
// its line here as well, or GrantLogins refuses to set up the line.
struct TableGrant {
    const char* table;
    const char* station;     // the privileges of a station's login; a reader's is SELECT
    const char* supervisor;  // a supervisor's; null: a station's
    // A supervisor changes and deletes rows of every login here, not only its own.
    bool supervisorEveryRow = false;
    const char* reader = "SELECT";  // a reader's
};

const std::vector<TableGrant>& LineGrants() {
    static const std::vector<TableGrant> grants = {
        {"schema_version", "SELECT", nullptr},
        {"records", "SELECT, INSERT", nullptr},
        {"record_log_chunks", "SELECT, INSERT", nullptr},
        {"record_serials", "SELECT, INSERT", nullptr},
        {"record_images", "SELECT, INSERT", nullptr},
        {"record_step_chunks", "SELECT, INSERT", nullptr},
        {"record_checks", "SELECT, INSERT", nullptr},
        {"serial_claims", "SELECT, INSERT, DELETE", nullptr},
        // A route is set by a supervisor; a station enters units, gives back its
        // own, and holds a unit that failed too often, but releases none.
        {"routes", "SELECT", "SELECT, INSERT, DELETE"},
        {"route_changes", "SELECT", "SELECT, INSERT"},
        {"units_in_test", "SELECT, INSERT, DELETE", nullptr, true},
        {"unit_holds", "SELECT, INSERT", "SELECT, INSERT, UPDATE"},
        // A station adds the end of each run it gave back; nobody changes one.
        {"ended_runs", "SELECT, INSERT", nullptr},
        // A station checks people's PINs and counts their wrong ones; a
        // supervisor adds people and changes them. A reader never sees a PIN's hash.
        {"operators", "SELECT, UPDATE (failed_pins, locked_until_ms)", "SELECT, INSERT, UPDATE", false,
         "SELECT (id, name, role, disabled, failed_pins, locked_until_ms, added_ms)"},
        // An engineer releases a script from a station; a supervisor approves and revokes.
        {"script_releases", "SELECT, INSERT", "SELECT, INSERT, UPDATE"},
        // A station keeps and moves on its own progress through a release.
        {"release_progress", "SELECT, INSERT, UPDATE", nullptr},
        // Every login appends to the audit trail; none but the owner changes or
        // deletes an entry. The head is moved on by whoever appends.
        {"audit_trail", "SELECT, INSERT", nullptr},
        {"audit_head", "SELECT, UPDATE", nullptr},
        // A station's queue is kept in its local file; on the line it stays empty.
        {"forward_queue", "SELECT", nullptr},
    };
    return grants;
}

// The rows of `select` (a record's id first, ordered by record and seq) made
// into chunks by `add`, each record's written with `insert` from seq 0 on;
// `bind` binds a chunk's columns after the id and seq.
template <typename Chunk, typename Add, typename Bind>
bool ConvertRowsToChunks(StoreConnection& c, const QString& select, const QString& insertSql, Add add, Bind bind,
                         QSqlError& failure) {
    QSqlQuery rows(c.Db());
    rows.setForwardOnly(c.Dialect().KeepsForwardResults());
    if (!rows.exec(select)) {
        failure = rows.lastError();
        return false;
    }
    QSqlQuery insert(c.Db());
    insert.prepare(insertSql);
    QVariant recordId;
    std::vector<Chunk> chunks;
    const auto write = [&] {
        qint64 seq = 0;
        for (const Chunk& chunk : chunks) {
            insert.bindValue(0, recordId);
            insert.bindValue(1, seq++);
            bind(insert, chunk);
            if (!insert.exec()) {
                failure = insert.lastError();
                return false;
            }
        }
        chunks.clear();
        return true;
    };
    while (rows.next()) {
        if (rows.value(0) != recordId && !write())
            return false;
        recordId = rows.value(0);
        add(rows, chunks);
    }
    return write();
}

// The log rows of the second schema become chunks, a record's lines in order.
bool ConvertLogRowsToChunks(StoreConnection& c, QSqlError& failure) {
    return ConvertRowsToChunks<RecordLogChunk>(
        c, QStringLiteral("SELECT record_id, t_ms, colour, line_text, script_line FROM record_log ORDER BY record_id, seq"),
        QStringLiteral("INSERT INTO record_log_chunks (record_id, seq, last_t_ms, lines) VALUES (?, ?, ?, ?)"),
        [](const QSqlQuery& row, std::vector<RecordLogChunk>& log) {
            AddLogLine(log, row.value(1).toLongLong(),
                       ColourFromText(Utf8From(row.value(2))).value_or(ResultColour::Black), row.value(4).toInt(),
                       Cp1251From(row.value(3)));
        },
        [](QSqlQuery& insert, const RecordLogChunk& chunk) {
            insert.bindValue(2, chunk.lastMs);
            insert.bindValue(3, Cp1251(chunk.text));
        },
        failure);
}

// The step rows of the eighth schema become chunks, a record's steps in order.
bool ConvertStepRowsToChunks(StoreConnection& c, QSqlError& failure) {
    return ConvertRowsToChunks<RecordStepChunk>(
        c,
        QStringLiteral("SELECT record_id, script_line, command, data, status, answer, result, attempts, t_ms,"
                       " duration_ms, transactions, failures FROM record_steps ORDER BY record_id, seq"),
        QStringLiteral("INSERT INTO record_step_chunks (record_id, seq, steps) VALUES (?, ?, ?)"),
        [](const QSqlQuery& row, std::vector<RecordStepChunk>& chunks) {
            const auto value = [&](int i) { return row.value(i); };
            RecordStep step;
            if (!value(1).isNull())
                step.line = value(1).toInt();
            step.command = value(2).toInt();
            step.data = BytesFrom(value(3));
            if (!value(4).isNull())
                step.status = StatusFromText(value(4).toString().toStdString());
            step.answer = BytesFrom(value(5));
            step.result = StepResultFromText(Utf8From(value(6))).value_or(StepResult::NotSent);
            step.attempts = value(7).toInt();
            step.tMs = value(8).toLongLong();
            step.durationMs = value(9).toLongLong();
            step.transactions = value(10).toInt();
            step.failures = value(11).toInt();
            AddStep(chunks, step);
        },
        [](QSqlQuery& insert, const RecordStepChunk& chunk) { insert.bindValue(2, Bytes(chunk.text)); }, failure);
}

// 0 for an empty database, -1 for one that holds tables but no schema version.
// QSqlDatabase::tables() hides a failure: a file that is not a database must say so.
// Every table of the records' schema, also those this login may not read.
bool ListTables(StoreConnection& c, QStringList& tables, QSqlError& failure) {
    QSqlQuery list(c.Db());
    if (!list.exec(c.Dialect().ListTablesSql())) {
        failure = list.lastError();
        return false;
    }
    while (list.next())
        tables.push_back(list.value(0).toString());
    return true;
}

bool ReadSchemaVersion(StoreConnection& c, int& version, QSqlError& failure) {
    QStringList tables;
    if (!ListTables(c, tables, failure))
        return false;
    if (!tables.contains(QStringLiteral("schema_version"))) {
        version = tables.isEmpty() ? 0 : -1;
        return true;
    }
    QSqlQuery query(c.Db());
    if (!query.exec(QStringLiteral("SELECT MAX(version) FROM schema_version")) || !query.next()) {
        failure = query.lastError();
        return false;
    }
    version = query.value(0).toInt();
    return true;
}

// Another program may have upgraded the database since it was read: the version
// is read again inside the transaction that upgrades, with the schema locked to
// one program at a time.
StoreResult<void> Upgrade(StoreConnection& c, int& schemaVersion, bool& denied) {
    int upgradedTo = 0;
    denied = false;
    const auto make = [&](const QString& statement, QSqlError& failure) {
        const QString sql = QString(statement)
                                .replace(QLatin1String("{bytes}"), c.Dialect().BytesType())
                                .replace(QLatin1String("{keyed}"), c.Dialect().KeyedTableOptions())
                                .replace(QLatin1String("{login}"), c.Dialect().CurrentLogin());
        if (c.Exec(sql, failure))
            return true;
        denied = c.Dialect().IsDenied(failure);
        return false;
    };
    StoreResult<void> written = c.Write(
        [&](QSqlError& failure) {
            if (!c.Dialect().LockSchema([&](const QString& sql, QSqlError& f) { return c.Exec(sql, f); }, failure))
                return false;
            int version = 0;
            if (!ReadSchemaVersion(c, version, failure))
                return false;
            if (version < 0 || version > CurrentSchemaVersion) {
                failure = QSqlError(QString(), QStringLiteral("the schema changed while it was being upgraded"));
                return false;
            }
            const int from = version;
            for (const SchemaStep& step : SchemaSteps()) {
                if (step.version <= version)
                    continue;
                for (const char* statement : step.statements) {
                    if (!make(QString::fromLatin1(statement), failure))
                        return false;
                }
                if (step.convert != nullptr && !step.convert(c, failure))
                    return false;
                for (const char* statement : step.after) {
                    if (!make(QString::fromLatin1(statement), failure))
                        return false;
                }
                if (step.rowsOfLogins) {
                    const QStringList statements = c.Dialect().KeepRowsToTheirLogins(
                        QLatin1String(step.rowsOfLogins->table), QLatin1String(step.rowsOfLogins->column));
                    for (const QString& statement : statements) {
                        if (!make(statement, failure))
                            return false;
                    }
                }
                version = step.version;
            }
            QSqlQuery query(c.Db());
            query.prepare(from == 0 ? QStringLiteral("INSERT INTO schema_version (version) VALUES (?)")
                                    : QStringLiteral("UPDATE schema_version SET version = ?"));
            query.addBindValue(version);
            upgradedTo = version;
            return c.Run(query, failure);
        });
    if (written)
        schemaVersion = upgradedTo;
    return written;
}


}  // namespace

StoreResult<int> OpenSchema(StoreConnection& c) {
    const StoreConnection::Watching watching(c);
    const auto refuse = [&](const QString& reason) { return c.Fail(StoreError::Kind::SchemaRefused, reason); };
    // A login the owner has not granted its rights may not read the schema.
    const auto failed = [&](const QSqlError& failure) {
        const StoreError error = c.Fail(failure, StoreError::Kind::NotOpen);
        if (!c.Dialect().IsDenied(failure))
            return error;
        return refuse(error.reason + QStringLiteral(" (the database's owner grants the line's logins their"
                                                    " rights with `tamrisk-cli records setup`)"));
    };
    int version = 0;
    QSqlError failure;
    if (!ReadSchemaVersion(c, version, failure))
        return failed(failure);
    if (version < 0)
        return refuse(QStringLiteral("not a records database (it holds other tables)"));
    if (version > CurrentSchemaVersion)
        return refuse(QStringLiteral("records of a newer program (schema version %1; this program knows %2)")
                          .arg(version)
                          .arg(CurrentSchemaVersion));
    if (!c.Dialect().AfterOpen([&](const QString& sql, QSqlError& f) { return c.Exec(sql, f); }, failure))
        return failed(failure);
    if (version == CurrentSchemaVersion)
        return version;
    // The upgrade writes: the connection is usable for it.
    c.SetOpen(true);
    bool denied = false;
    const StoreResult<void> upgraded = Upgrade(c, version, denied);
    c.SetOpen(false);
    // A station's login may use the line's schema but not make it: the owner does.
    if (denied && version == 0)
        return refuse(QStringLiteral("the line's database has no records schema: run `tamrisk-cli records setup`"));
    if (denied)
        return refuse(QStringLiteral("the line's records schema is of an older program (version %1, this program"
                                     " writes %2): run `tamrisk-cli records setup`")
                          .arg(version)
                          .arg(CurrentSchemaVersion));
    if (!upgraded && upgraded.error().kind == StoreError::Kind::StatementFailed)
        return refuse(upgraded.error().reason);
    if (!upgraded)
        return upgraded.error();
    return version;
}

StoreResult<void> GrantLogins(StoreConnection& c, const QStringList& stationRoles, const QStringList& readerRoles,
                              const QStringList& supervisorRoles) {
    // The logins granted, as the audit trail keeps them: "station a, b; reader c".
    const auto grantedText = [&] {
        QStringList kinds;
        for (const auto& [kind, roles] : {std::pair{"station ", &stationRoles}, std::pair{"supervisor ", &supervisorRoles},
                                          std::pair{"reader ", &readerRoles}}) {
            if (!roles->isEmpty())
                kinds.append(QLatin1String(kind) + roles->join(QStringLiteral(", ")));
        }
        return kinds.join(QStringLiteral("; ")).toStdString();
    };
    if (c.IsOpen() && !c.Dialect().HasLogins()) {
        return c.Fail(StoreError::Kind::SchemaRefused,
                      QStringLiteral("a records file has no logins to grant to (a line's database is a"
                                     " postgresql:// URL)"));
    }
    return c.Write(
        [&](QSqlError& failure) {
            QStringList tables;
            if (!ListTables(c, tables, failure))
                return false;
            for (const QString& table : tables) {
                const bool listed = std::any_of(LineGrants().begin(), LineGrants().end(), [&](const TableGrant& grant) {
                    return table == QLatin1String(grant.table);
                });
                if (!listed) {
                    failure = QSqlError(QString(), QStringLiteral("the table ") + table +
                                                       QStringLiteral(" has no rights listed for the line's logins"));
                    return false;
                }
            }
            std::vector<SqlDialect::LoginRights> logins;
            enum class Login { Station, Reader, Supervisor };
            const auto add = [&](const QString& role, Login login) {
                SqlDialect::LoginRights rights{role, {}, {}};
                for (const TableGrant& table : LineGrants()) {
                    const char* privileges = login == Login::Reader ? table.reader
                                             : login == Login::Supervisor && table.supervisor != nullptr
                                                 ? table.supervisor
                                                 : table.station;
                    rights.tables.emplace_back(QLatin1String(table.table), QLatin1String(privileges));
                    if (login == Login::Supervisor && table.supervisorEveryRow)
                        rights.everyRow.push_back(QLatin1String(table.table));
                }
                logins.push_back(std::move(rights));
            };
            for (const QString& role : stationRoles)
                add(role, Login::Station);
            for (const QString& role : readerRoles)
                add(role, Login::Reader);
            for (const QString& role : supervisorRoles)
                add(role, Login::Supervisor);
            return c.Dialect().Grant(c.Db(), [&](const QString& sql, QSqlError& f) { return c.Exec(sql, f); }, logins,
                                     failure) &&
                   AppendAudit(c, {"records setup", "logins", std::nullopt, grantedText()},
                               QDateTime::currentMSecsSinceEpoch(), failure);
        });
}


}  // namespace tamrisk
