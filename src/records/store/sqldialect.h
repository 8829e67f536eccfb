#pragma once
// The few things in which SQLite and PostgreSQL differ for the records: the
// driver a connection takes, how a write transaction begins, which error codes
// mean busy, refused, denied or out of reach, the type of a byte column, how
// tables are listed, what an open connection needs first, and the logins of a
// line's database with their rights. Everything else is plain SQL both take;
// callers ask the dialect, never which database they are on.

#include "recordslocation.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>
#include <QStringList>

#include <functional>
#include <utility>
#include <vector>

namespace tamrisk {

class SqlDialect {
public:
    virtual ~SqlDialect() = default;

    // Adds the Qt connection `name` for `target` with this database's driver, set
    // up but not open (an SQLite file with its busy time-out, or a PostgreSQL
    // database with its settings); false with `reason` when the driver is not installed.
    virtual bool AddConnection(const DatabaseTarget& target, const QString& name, QSqlDatabase& db,
                               QString& reason) const = 0;

    // Another writer holds the database: the same transaction may pass later.
    virtual bool IsBusy(const QSqlError& failure) const = 0;
    // The login may not do what was asked.
    virtual bool IsDenied(const QSqlError& failure) const = 0;
    // Refused for the values written: the same write fails again.
    virtual bool IsRefusal(const QSqlError& failure) const = 0;
    // The database is out of reach (`open`: the connection still is).
    virtual bool IsOutOfReach(const QSqlError& failure, bool open) const = 0;
    // The failure's message on one line.
    virtual QString Reason(const QSqlError& failure) const = 0;

    // A statement run by `exec`; false with the failure it left.
    using Exec = std::function<bool(const QString& sql, QSqlError& failure)>;
    // Begins, commits and rolls back a write transaction; an SQLite write takes
    // its lock at the start, so that one that reads first waits for other writers.
    virtual bool Begin(QSqlDatabase& db, const Exec& exec, QSqlError& failure) const = 0;
    virtual bool Commit(QSqlDatabase& db, const Exec& exec, QSqlError& failure) const = 0;
    virtual void Rollback(QSqlDatabase& db, const Exec& exec) const = 0;
    // Lets one program at a time make or upgrade the schema within the transaction.
    virtual bool LockSchema(const Exec& exec, QSqlError& failure) const = 0;
    // A statement listing every table (and view) of the records' schema, one name a row.
    virtual QString ListTablesSql() const = 0;
    // Makes what the database needs before it is opened: false with `reason`
    // (`outOfReach` when a later try may work).
    virtual bool BeforeOpen(const QSqlDatabase& db, QString& reason, bool& outOfReach) const = 0;
    // Sets up a connection just opened: false with the failure.
    virtual bool AfterOpen(const Exec& exec, QSqlError& failure) const = 0;
    // Commits synced to disk before they return (`on`) or not; false with the failure.
    virtual bool SetDurable(bool on, const Exec& exec, QSqlError& failure) const = 0;
    // "LIKE" or the database's LIKE that ignores the case of letters.
    virtual QString CaseInsensitiveLike() const = 0;
    // The type of a column of bytes.
    virtual QString BytesType() const = 0;
    // What follows CREATE TABLE (...) for a table of many small rows stored in
    // the order of its primary key (SQLite: without a second copy of the key).
    virtual QString KeyedTableOptions() const = 0;
    // True when the database has logins that may be granted rights.
    virtual bool HasLogins() const = 0;
    // True when several results of one connection may be read side by side forward only.
    virtual bool KeepsForwardResults() const = 0;
    // The socket of an open connection to a server; -1 for none.
    virtual int Socket(const QSqlDatabase& db) const = 0;
    // The SQL value of the login a statement runs as ('' for a database without logins).
    virtual QString CurrentLogin() const = 0;
    // Statements after which every login reads all rows of `table` but adds, and
    // deletes, only rows whose `column` names it (the table's owner is not
    // bound); none for a database without logins.
    virtual QStringList KeepRowsToTheirLogins(const QString& table, const QString& column) const = 0;

    // What one login is granted: on each table, its privileges ("SELECT, INSERT").
    struct LoginRights {
        QString login;
        std::vector<std::pair<QString, QString>> tables;
        // Tables whose rows it changes and deletes whoever added them, where
        // others are kept to their own (KeepRowsToTheirLogins).
        QStringList everyRow;
    };
    // Grants each login the use of the database and its schema and its rights on
    // each table, once the login running this is found to own every table of the
    // schema; false with the failure (a database without logins grants nothing).
    virtual bool Grant(QSqlDatabase& db, const Exec& exec, const std::vector<LoginRights>& logins,
                       QSqlError& failure) const = 0;
};

// The dialect of the database `target` names.
const SqlDialect& DialectFor(const DatabaseTarget& target);

}  // namespace tamrisk
