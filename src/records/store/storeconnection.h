#pragma once
// One connection to the records, used from the thread that made it: an SQLite
// file or a line's PostgreSQL database. It runs statements and write
// transactions (a busy database is waited for, then the whole transaction tried
// again a bounded number of times, never skipped), bounds how long a server may
// leave a statement unanswered, and turns every failure into a StoreError of
// its kind. The pieces of the records layer (schema, writing, queue, claims,
// queries) each work through one.

#include "sqldialect.h"
#include "storeerror.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>
#include <QVariant>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

class QSqlQuery;

namespace tamrisk {

class AnswerWatch;

// Adds the Qt connection `name` for `location`, set up but not open (an SQLite
// file with its busy time-out, or a PostgreSQL database with its time-outs);
// fails (NotOpen) for a location that cannot be taken or a driver that is not
// installed. For a program's or a test's own statements.
StoreResult<void> AddConnection(const QString& location, const QString& name, QSqlDatabase& db);

class StoreConnection {
public:
    // How long a PostgreSQL server reached over a Unix socket may leave a
    // statement unanswered before its connection is taken for lost (over TCP the
    // kernel bounds it as long: tcp_user_timeout).
    static constexpr std::chrono::milliseconds AnswerLimit{15000};

    StoreConnection();
    ~StoreConnection();
    StoreConnection(const StoreConnection&) = delete;
    StoreConnection& operator=(const StoreConnection&) = delete;

    // Connects to `location` (an SQLite file, its folder made first, or a
    // PostgreSQL URL); the failure when it cannot.
    StoreResult<void> Connect(const QString& location);
    // Closes the connection; every later operation fails as not open with `error` (NotOpen kind unless given).
    void Close(StoreError error);
    // The store may be used: Connect passed and the owner marked it ready.
    bool IsOpen() const { return m_open; }
    void SetOpen(bool open) { m_open = open; }

    QSqlDatabase& Db() { return m_db; }
    const SqlDialect& Dialect() const { return *m_dialect; }
    QString Location() const { return m_location; }

    // A failure of `kind` with `reason`, at this connection's location.
    StoreError Fail(StoreError::Kind kind, const QString& reason) const;
    // A failure of the database: its kind from the dialect, or `kind` when in reach.
    StoreError Fail(const QSqlError& failure, StoreError::Kind kind = StoreError::Kind::StatementFailed) const;
    // The failure of a store that is not open: the open's own, or "the records database is not open".
    StoreError NotOpen() const;

    // Runs `sql`, or `query` as prepared; false with the failure.
    bool Exec(const QString& sql, QSqlError& failure);
    bool Run(QSqlQuery& query, QSqlError& failure);
    // Prepares `query` as `sql`, binds `values` and runs it; false with the failure.
    bool Run(QSqlQuery& query, const QString& sql, const QVariantList& values, QSqlError& failure);
    // Runs `sql` with `values` bound, at most `limit` rows (0 or less: all), read forward only.
    StoreResult<void> Select(QSqlQuery& query, QString sql, QVariantList values, int limit);
    // Runs `body` in one write transaction, again while the database is busy. A
    // failed write's error says whether it was refused for what it wrote.
    StoreResult<void> Write(const std::function<bool(QSqlError&)>& body);

    // Commits synced to disk before they return (SQLite's synchronous=FULL) or not.
    StoreResult<void> SetDurableCommits(bool on);
    bool DurableCommits() const { return m_durable; }
    // Who makes the changes written through this connection, as the audit
    // trail names them: the logged-in person's ID, or the computer's login
    // where nobody logs in, and the station (this computer's host name unless set).
    void SetActor(std::string who, std::string station) {
        m_actorWho = std::move(who);
        m_actorStation = std::move(station);
    }
    const std::string& ActorWho() const { return m_actorWho; }
    const std::string& ActorStation() const { return m_actorStation; }
    // Sets how long an unanswered statement is waited for over a Unix socket.
    void SetAnswerLimit(std::chrono::milliseconds limit) { m_answerLimit = limit; }

    // While one lives, a server that leaves a statement unanswered for the
    // answer limit over a Unix socket loses its connection (nested ones share it).
    class Watching {
    public:
        explicit Watching(StoreConnection& connection);
        ~Watching();
        Watching(const Watching&) = delete;
        Watching& operator=(const Watching&) = delete;

    private:
        StoreConnection& m_connection;
    };

private:
    QString m_name;
    QSqlDatabase m_db;
    const SqlDialect* m_dialect;
    QString m_location;
    StoreError m_openError;
    bool m_open = false;
    bool m_durable = false;
    bool m_overUnixSocket = false;
    std::chrono::milliseconds m_answerLimit = AnswerLimit;
    std::unique_ptr<AnswerWatch> m_watch;  // while a Watching lives
    int m_watching = 0;                    // Watching objects alive
    bool m_unanswered = false;             // the last watch shut the connection down
    std::string m_actorWho, m_actorStation;
};

}  // namespace tamrisk
