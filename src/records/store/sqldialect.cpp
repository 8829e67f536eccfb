#include "sqldialect.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlQuery>
#include <QThread>
#include <QVariant>

#include <libpq-fe.h>

namespace tamrisk {

namespace {

// How long one SQLite statement waits for a busy database, and a file that
// another program is switching to WAL is tried again.
constexpr int BusyTimeoutMs = 5000;
// The PostgreSQL advisory lock that lets one program at a time create or upgrade
// the schema ("tamrisk" in ASCII).
constexpr qint64 SchemaLockKey = 0x74616d7269736bLL;

// SQLite's primary result code of a failure; -1 for none.
int SqliteCode(const QSqlError& failure) {
    bool number = false;
    const int value = failure.nativeErrorCode().toInt(&number);
    return number ? value & 0xff : -1;
}

// `name` as a quoted SQL identifier.
QString QuotedName(const QString& name) {
    return u'"' + QString(name).replace(u'"', QStringLiteral("\"\"")) + u'"';
}

class Sqlite final : public SqlDialect {
public:
    bool AddConnection(const DatabaseTarget& target, const QString& name, QSqlDatabase& db,
                       QString& reason) const override {
        if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE"))) {
            reason = QStringLiteral("Qt's SQLite driver is not installed (libqt6sql6-sqlite)");
            return false;
        }
        db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(target.file);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(BusyTimeoutMs));
        return true;
    }
    // The database busy or a table locked.
    bool IsBusy(const QSqlError& failure) const override {
        constexpr int Busy = 5, Locked = 6;
        const int code = SqliteCode(failure);
        return code == Busy || code == Locked;
    }
    bool IsDenied(const QSqlError&) const override { return false; }
    // A constraint (a trigger's RAISE too), a value too big or of the wrong type.
    bool IsRefusal(const QSqlError& failure) const override {
        constexpr int TooBig = 18, Constraint = 19, Mismatch = 20;
        const int code = SqliteCode(failure);
        return code == TooBig || code == Constraint || code == Mismatch;
    }
    // A file that cannot be opened (its share gone, say) or read or written any
    // more. Qt reports every failed step as a ConnectionError: the code tells.
    bool IsOutOfReach(const QSqlError& failure, bool open) const override {
        constexpr int IoError = 10, CannotOpen = 14;
        const int code = SqliteCode(failure);
        return !open || code == IoError || code == CannotOpen;
    }
    QString Reason(const QSqlError& failure) const override {
        return failure.databaseText().isEmpty() ? failure.text() : failure.databaseText();
    }
    bool Begin(QSqlDatabase&, const Exec& exec, QSqlError& failure) const override {
        return exec(QStringLiteral("BEGIN IMMEDIATE"), failure);
    }
    bool Commit(QSqlDatabase&, const Exec& exec, QSqlError& failure) const override {
        return exec(QStringLiteral("COMMIT"), failure);
    }
    void Rollback(QSqlDatabase&, const Exec& exec) const override {
        QSqlError ignored;
        exec(QStringLiteral("ROLLBACK"), ignored);
    }
    // SQLite's write lock lets one program at a time in already.
    bool LockSchema(const Exec&, QSqlError&) const override { return true; }
    QString ListTablesSql() const override {
        return QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table'");
    }
    // A folder that cannot be made may be a share not mounted yet: out of reach.
    bool BeforeOpen(const QSqlDatabase& db, QString& reason, bool& outOfReach) const override {
        const QString folder = QFileInfo(db.databaseName()).absolutePath();
        if (QDir().mkpath(folder))
            return true;
        outOfReach = true;
        reason = QStringLiteral("cannot make the folder ") + folder;
        return false;
    }
    // Switching a new file to WAL takes it for a moment alone, and SQLite answers
    // busy at once rather than waiting: programs that make the file together try
    // again for as long as a busy database is waited for.
    bool AfterOpen(const Exec& exec, QSqlError& failure) const override {
        // A new file takes large pages: a busy run writes its log and steps a
        // page at a time, and every page is a system call into the write-ahead
        // log and another out of it. A file made before keeps its own size.
        if (!exec(QStringLiteral("PRAGMA page_size=16384"), failure))
            return false;
        bool wal = false;
        for (QDeadlineTimer busy(BusyTimeoutMs); !wal;) {
            wal = exec(QStringLiteral("PRAGMA journal_mode=WAL"), failure);
            if (wal || !IsBusy(failure) || busy.hasExpired())
                break;
            QThread::msleep(10);
        }
        // Checkpoints every 4 MB of log, as with SQLite's own pages, on the
        // writer's thread during a run rather than all at once as it closes.
        return wal && exec(QStringLiteral("PRAGMA synchronous=NORMAL"), failure) &&
               exec(QStringLiteral("PRAGMA wal_autocheckpoint=256"), failure);
    }
    bool SetDurable(bool on, const Exec& exec, QSqlError& failure) const override {
        return exec(on ? QStringLiteral("PRAGMA synchronous=FULL") : QStringLiteral("PRAGMA synchronous=NORMAL"),
                    failure);
    }
    // SQLite's LIKE ignores the case of ASCII letters.
    QString CaseInsensitiveLike() const override { return QStringLiteral("LIKE"); }
    QString BytesType() const override { return QStringLiteral("BLOB"); }
    QString KeyedTableOptions() const override { return QStringLiteral(" WITHOUT ROWID"); }
    bool HasLogins() const override { return false; }
    bool KeepsForwardResults() const override { return true; }
    int Socket(const QSqlDatabase&) const override { return -1; }
    QString CurrentLogin() const override { return QStringLiteral("''"); }
    QStringList KeepRowsToTheirLogins(const QString&, const QString&) const override { return {}; }
    bool Grant(QSqlDatabase&, const Exec&, const std::vector<LoginRights>&, QSqlError& failure) const override {
        failure = QSqlError(QString(), QStringLiteral("a records file has no logins to grant to"));
        return false;
    }
};

class Postgresql final : public SqlDialect {
public:
    bool AddConnection(const DatabaseTarget& target, const QString& name, QSqlDatabase& db,
                       QString& reason) const override {
        if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL"))) {
            reason = QStringLiteral("Qt's PostgreSQL driver is not installed (libqt6sql6-psql)");
            return false;
        }
        db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        db.setHostName(target.host);
        db.setPort(target.port);
        db.setDatabaseName(target.database);
        db.setUserName(target.user);
        db.setConnectOptions(target.options.join(u';'));
        return true;
    }
    // A serialization failure or a deadlock, which the server resolves by failing one transaction.
    bool IsBusy(const QSqlError& failure) const override {
        const QString code = failure.nativeErrorCode();
        return code == QLatin1String("40001") || code == QLatin1String("40P01");
    }
    // insufficient_privilege.
    bool IsDenied(const QSqlError& failure) const override {
        return failure.nativeErrorCode() == QLatin1String("42501");
    }
    // By the class of the SQLSTATE: data exceptions (a value too long or out of
    // range), integrity constraints, triggered data changes, check options and
    // PL/pgSQL's RAISE. A lost connection (08), a server shutting down (57), out
    // of resources (53), a transaction rolled back (40), a lock not available
    // (55), a missing table or right (42) and the like may pass.
    bool IsRefusal(const QSqlError& failure) const override {
        const QString code = failure.nativeErrorCode();
        const QString sqlClass = code.left(2);
        return code.size() == 5 && (sqlClass == QLatin1String("22") || sqlClass == QLatin1String("23") ||
                                    sqlClass == QLatin1String("27") || sqlClass == QLatin1String("44") ||
                                    sqlClass == QLatin1String("P0"));
    }
    // libpq's own failures (refused, lost, timed out) carry no SQLSTATE; the
    // server says 08xxx for a connection failure and 57P01..57P03 while it shuts
    // down or starts. An error made here (NoError) is never one, but a connection
    // found broken is, whatever error the driver kept (a commit on a lost
    // connection fails without one of its own).
    bool IsOutOfReach(const QSqlError& failure, bool open) const override {
        const QString code = failure.nativeErrorCode();
        return failure.type() == QSqlError::ConnectionError || !open ||
               (failure.type() != QSqlError::NoError &&
                (code.isEmpty() || code.startsWith(QLatin1String("08")) || code == QLatin1String("57P01") ||
                 code == QLatin1String("57P02") || code == QLatin1String("57P03")));
    }
    // PostgreSQL's messages end in a line end and may run over several lines.
    QString Reason(const QSqlError& failure) const override {
        return (failure.databaseText().isEmpty() ? failure.text() : failure.databaseText()).simplified();
    }
    bool Begin(QSqlDatabase& db, const Exec&, QSqlError& failure) const override {
        if (db.transaction())
            return true;
        failure = db.lastError();
        return false;
    }
    bool Commit(QSqlDatabase& db, const Exec&, QSqlError& failure) const override {
        if (db.commit())
            return true;
        failure = db.lastError();
        return false;
    }
    void Rollback(QSqlDatabase& db, const Exec&) const override { db.rollback(); }
    // An advisory lock held until the end of the transaction.
    bool LockSchema(const Exec& exec, QSqlError& failure) const override {
        return exec(QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(SchemaLockKey), failure);
    }
    // Every table, view or other relation of the schema the records go to, also
    // those this login may not read.
    QString ListTablesSql() const override {
        return QStringLiteral("SELECT c.relname FROM pg_catalog.pg_class c"
                              " JOIN pg_catalog.pg_namespace n ON n.oid = c.relnamespace"
                              " WHERE n.nspname = current_schema() AND c.relkind IN ('r', 'p', 'v', 'm', 'f')");
    }
    bool BeforeOpen(const QSqlDatabase&, QString&, bool&) const override { return true; }
    bool AfterOpen(const Exec&, QSqlError&) const override { return true; }
    // The server's commits are durable with its settings, which this leaves alone.
    bool SetDurable(bool, const Exec&, QSqlError&) const override { return true; }
    QString CaseInsensitiveLike() const override { return QStringLiteral("ILIKE"); }
    QString BytesType() const override { return QStringLiteral("BYTEA"); }
    QString KeyedTableOptions() const override { return {}; }
    bool HasLogins() const override { return true; }
    // The driver drops the rest of a forward-only result when the connection runs another statement.
    bool KeepsForwardResults() const override { return false; }
    int Socket(const QSqlDatabase& db) const override {
        const QVariant handle = db.driver() != nullptr ? db.driver()->handle() : QVariant();
        // Qt's driver names the type after libpq's struct (pg_conn*); its documentation, PGconn*.
        const QByteArray type = handle.isValid() ? QByteArray(handle.typeName()) : QByteArray();
        if (type != "pg_conn*" && type != "PGconn*")
            return -1;
        PGconn* const connection = *static_cast<PGconn* const*>(handle.constData());
        // A connection that failed has dropped its socket: its number may be another file's now.
        return connection != nullptr && PQstatus(connection) == CONNECTION_OK ? PQsocket(connection) : -1;
    }
    QString CurrentLogin() const override { return QStringLiteral("current_user"); }
    // Row-level security: every login reads the rows and adds and deletes its own.
    QStringList KeepRowsToTheirLogins(const QString& table, const QString& column) const override {
        const QString own = QStringLiteral(" (") + column + QStringLiteral(" = current_user)");
        return {QStringLiteral("ALTER TABLE ") + table + QStringLiteral(" ENABLE ROW LEVEL SECURITY"),
                QStringLiteral("CREATE POLICY ") + table + QStringLiteral("_read ON ") + table +
                    QStringLiteral(" FOR SELECT USING (true)"),
                QStringLiteral("CREATE POLICY ") + table + QStringLiteral("_add ON ") + table +
                    QStringLiteral(" FOR INSERT WITH CHECK") + own,
                QStringLiteral("CREATE POLICY ") + table + QStringLiteral("_give_back ON ") + table +
                    QStringLiteral(" FOR DELETE USING") + own};
    }
    bool Grant(QSqlDatabase& db, const Exec& exec, const std::vector<LoginRights>& logins,
               QSqlError& failure) const override {
        // PostgreSQL only warns when a login that owns nothing grants nothing.
        QSqlQuery owned(db);
        if (!owned.exec(QStringLiteral("SELECT COUNT(*) FROM pg_catalog.pg_class c"
                                       " JOIN pg_catalog.pg_namespace n ON n.oid = c.relnamespace"
                                       " WHERE n.nspname = current_schema() AND c.relkind = 'r'"
                                       " AND NOT pg_has_role(c.relowner, 'USAGE')")) ||
            !owned.next()) {
            failure = owned.lastError();
            return false;
        }
        if (owned.value(0).toInt() > 0) {
            failure = QSqlError(QString(), QStringLiteral("only the owner of the records schema may grant its rights"
                                                          " (this login is not)"));
            return false;
        }
        QSqlQuery names(db);
        if (!names.exec(QStringLiteral("SELECT current_database(), current_schema()")) || !names.next()) {
            failure = names.lastError();
            return false;
        }
        const QString database = QuotedName(names.value(0).toString());
        const QString schema = QuotedName(names.value(1).toString());
        for (const LoginRights& rights : logins) {
            const QString to = QStringLiteral(" TO ") + QuotedName(rights.login);
            if (!exec(QStringLiteral("GRANT CONNECT ON DATABASE ") + database + to, failure) ||
                !exec(QStringLiteral("GRANT USAGE ON SCHEMA ") + schema + to, failure))
                return false;
            for (const auto& [table, privileges] : rights.tables) {
                if (!exec(QStringLiteral("GRANT ") + privileges + QStringLiteral(" ON ") + table + to, failure))
                    return false;
            }
            // A policy of its own beside those that keep rows to their logins; set up again, made again.
            if (!rights.everyRow.isEmpty() && !exec(QStringLiteral("SET LOCAL client_min_messages = warning"), failure))
                return false;
            for (const QString& table : rights.everyRow) {
                const QString policy = QuotedName(table + QStringLiteral("_every_row_") + rights.login);
                if (!exec(QStringLiteral("DROP POLICY IF EXISTS ") + policy + QStringLiteral(" ON ") + table, failure) ||
                    !exec(QStringLiteral("CREATE POLICY ") + policy + QStringLiteral(" ON ") + table +
                              QStringLiteral(" FOR ALL") + to + QStringLiteral(" USING (true) WITH CHECK (true)"),
                          failure))
                    return false;
            }
        }
        return true;
    }
};

}  // namespace

const SqlDialect& DialectFor(const DatabaseTarget& target) {
    static const Sqlite sqlite;
    static const Postgresql postgresql;
    if (target.postgresql)
        return postgresql;
    return sqlite;
}

}  // namespace tamrisk
