#pragma once
// The database that keeps the records: an SQLite file by default, made on first
// use, or a PostgreSQL database named by a postgresql:// URL that many stations
// share. Several programs may write one file at once: a busy database is waited
// for (a busy time-out, then the whole transaction again, a bounded number of
// times), never skipped. A file that is not a records database, or one that
// cannot be written, is reported with its reason and never overwritten,
// truncated or deleted.
//
// One RecordStore is one connection of its own, used from the thread that made it.
// Every failure is reported as "<location>: <reason>".

#include "record.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

class QSqlQuery;

namespace tamrisk {

class AnswerWatch;

// What one write adds to a record: log lines, serial numbers, images and steps, and the
// unit's identity when it became known while the record was being written.
struct RecordBatch {
    std::vector<RecordLogChunk> log;  // lines in order, as AddLogLine adds them
    std::vector<RecordSerial> serials;
    std::vector<RecordImage> images;
    std::vector<RecordStep> steps;  // in the order sent, after those added before
    std::string unit;  // set only when it changes; empty: unchanged
    bool Empty() const { return log.empty() && serials.empty() && images.empty() && steps.empty() && unit.empty(); }
};

// A serial number claimed before it is sent: by which record, station and unit, and when.
struct SerialClaimRow {
    std::string space;  // Windows-1251, as the record's serial numbers
    std::string data;   // Windows-1251
    std::string recordId, station, unit;  // UTF-8
    qint64 claimedMs = 0;                 // UTC ms
};

// Records read from the queue for a line, to be sent together.
struct QueuedBatch {
    std::vector<Record> records;
    qint64 lastSeq = 0;  // the newest queue entry read: entries queued later stay
};

// A record that the line's database refused, kept in the local file with the reason.
struct SetAsideRecord {
    std::string id, unit;  // UTF-8
    QString reason;        // the line's refusal, "<location>: <reason>"
};

class RecordStore {
public:
    // The schema version this program writes.
    static constexpr int CurrentSchemaVersion = 8;
    // How long a PostgreSQL server reached over a Unix socket may leave a
    // statement unanswered before its connection is taken for lost (over TCP the
    // kernel bounds it as long: tcp_user_timeout).
    static constexpr std::chrono::milliseconds AnswerLimit{15000};

    RecordStore();
    ~RecordStore();
    RecordStore(const RecordStore&) = delete;
    RecordStore& operator=(const RecordStore&) = delete;

    // The user's records file, the same for every program: "Tamrisk/records.sqlite"
    // in the user's data folder (~/.local/share/Tamrisk/records.sqlite on Linux).
    static QString DefaultLocation();

    // True for a location that names a PostgreSQL database:
    // postgresql://[USER@][HOST][:PORT]/DB[?host=SOCKET_FOLDER] (also postgres://).
    static bool IsPostgresqlLocation(const QString& location);
    // Adds the connection `name` for `location`, set up but not open: an SQLite file
    // with its busy time-out, or a PostgreSQL database with a connection time-out.
    // False with `reason` for a URL that cannot be taken (one that carries a
    // password: passwords come from ~/.pgpass or PGPASSWORD as libpq reads them)
    // or a driver that is not installed.
    static bool AddConnection(const QString& location, const QString& name, QSqlDatabase& db, QString& reason);
    // `location` as messages show it: a password written into a URL masked.
    static QString ShownLocation(const QString& location);

    // Opens the records at `location`: an SQLite file, making its folder and the
    // file on first use, in WAL mode, or a PostgreSQL database (the URL above);
    // creates or upgrades the schema in one transaction, one program at a time.
    // False with `error` for a folder or file that cannot be made or opened, a
    // server that cannot be reached, a database that is not a records database
    // (other tables and no schema version), or one of a newer schema than this
    // program's. A login that may not make or upgrade a line's schema (a
    // station's) is told "the line's database has no records schema: run
    // `tamrisk-cli records setup`", or for an older schema its version and the
    // same advice. Every later operation of a store that did not open fails with
    // this same error.
    bool Open(const QString& location, QString& error);
    bool IsOpen() const { return m_open; }

    // Grants the logins of the open line's database (PostgreSQL) their rights, in
    // one transaction: each of `stationRoles` may add records and claims and give
    // back only the claims it made, never change or delete a record; each of
    // `readerRoles` may only read. Run by the database's owner, whose Open made or
    // upgraded the schema; the roles are made beforehand (createuser). Granting
    // again adds to what was granted. False with `error` for a records file, a role
    // that does not exist, a login that does not own the schema, or a table of the
    // schema whose rights are not listed.
    bool GrantLogins(const QStringList& stationRoles, const QStringList& readerRoles, QString& error);

    // True when the last failure was the database out of reach rather than a
    // refusal: a connection refused, lost or timed out, a server shutting down or
    // starting, an open that failed. A later try may work.
    bool OutOfReach() const { return m_outOfReach; }
    // On: every later commit is synced to disk before it returns (SQLite's
    // synchronous=FULL); off: a commit in the file's WAL may be rolled back by a
    // power cut (NORMAL, the default). PostgreSQL's commits are durable with the
    // server's settings, which this leaves alone. False with `error` on failure.
    bool SetDurableCommits(bool on, QString& error);
    QString Location() const { return m_location; }
    // The schema version of the open database.
    int SchemaVersion() const { return m_schemaVersion; }
    // Sets how long an unanswered statement is waited for over a Unix socket (AnswerLimit by default).
    void SetAnswerLimit(std::chrono::milliseconds limit) { m_answerLimit = limit; }
    // True when the last failed write was refused by the database for what it
    // wrote (a constraint, a trigger, a value too long or out of range): the
    // same write fails again. False for a lost connection, a busy database or a
    // time-out, which may pass.
    bool Refused() const { return m_refused; }

    // The line's database that the records begun from now on are queued for, to be
    // sent on by a RecordForwarder (empty: none, the default).
    void SetForwardTo(const QString& line) { m_forwardTo = line; }
    QString ForwardTo() const { return m_forwardTo; }

    // Inserts the header of a record in progress (its outcome is ignored), with
    // this computer's host name and this process's id as its writer; with
    // ForwardTo set, queues the record for that line in the same transaction.
    bool Begin(const RecordHeader& header, QString& error);
    // Adds to record `id` in one transaction; log lines and serial numbers keep the
    // order given after those added before.
    bool AppendBatch(const std::string& id, const RecordBatch& batch, QString& error);
    bool AppendLog(const std::string& id, std::span<const RecordLogLine> lines, QString& error);
    bool AddSerials(const std::string& id, std::span<const RecordSerial> serials, QString& error);
    // With ForwardTo set, also queues the record again for that line, so that an
    // image added after the record was sent follows it.
    bool AddImage(const std::string& id, const RecordImage& image, QString& error);
    // Writes the header's outcome, reason, duration, unit and exit status; in an
    // SQLite file the commit is synced to disk before it returns.
    bool Finish(const RecordHeader& header, QString& error);

    enum class ClaimResult { Claimed, Taken, Failed, Unreachable };
    // Claims `claim.data` in `claim.space` for its record in one transaction:
    // Taken when any record, of any program or station, claimed it before, but
    // with `again` (a claim tried again after its answer was lost) Claimed when
    // its own record did; Unreachable with `error` when the database is out of
    // reach (OutOfReach), Failed with `error` when it cannot be written otherwise.
    ClaimResult Claim(const SerialClaimRow& claim, QString& error, bool again = false);
    // Gives up the claim of record `recordId` on `data` in `space` (a claim of
    // another record stays); nothing to give up is no failure.
    bool Release(const std::string& space, const std::string& data, const std::string& recordId, QString& error);

    // Store and forward. How many records are queued for `line`, finished or not,
    // besides those set aside; -1 with `error` on failure.
    int Waiting(const QString& line, QString& error);
    // The oldest `limit` finished records queued for `line` and not set aside,
    // whole, in the order they were queued (a record still in progress waits;
    // finished ones queued after it come). No records, with `error` set, on failure.
    QueuedBatch Sendable(const QString& line, int limit, QString& error);
    // Takes the records of `batch` out of the queue for `line` once the line holds them.
    bool Unqueue(const QString& line, const QueuedBatch& batch, QString& error);
    // Marks the records of `batch` set aside for `line` with `reason`: kept and
    // listed, no longer sent, until RetrySetAside.
    bool SetAside(const QString& line, const QueuedBatch& batch, const QString& reason, QString& error);
    // The records set aside for `line`, oldest first; empty with `error` set on failure.
    std::vector<SetAsideRecord> SetAsideRecords(const QString& line, QString& error);
    // Queues the records set aside for `line` to be sent again.
    bool RetrySetAside(const QString& line, QString& error);
    // Inserts each record whole (header, log, serial numbers, images) in one
    // transaction; a record whose id is there already gets only the images it
    // lacks (saved after it was sent), so a record sent twice arrives once.
    // `added`: how many records were inserted.
    bool Import(std::span<const Record> records, int& added, QString& error);

    // Records left in progress by a process of this computer that no longer exists
    // become aborted with UnfinishedReason, their duration the time of their last
    // kept line. Returns how many, or -1 with `error`.
    int MarkAbandoned(QString& error);

    // A record's place in the list's order (newest first, then by id, descending).
    struct ListPlace {
        qint64 startedMs = 0;
        std::string id;
    };
    struct Filter {
        std::string unit{}, serial{}, kind{};  // UTF-8, exact; empty: any
        std::optional<RecordOutcome> outcome{};
        std::optional<qint64> sinceMs{};  // started at or after, UTC ms
        int limit = 20;                 // 0 or less: all
        // Only the records listed after this place: the next page after a page's last record.
        std::optional<ListPlace> after{};
    };
    // Headers of the records that match, newest first. `serial`: the records that
    // sent that data. Empty with `error` set on failure.
    std::vector<RecordHeader> List(const Filter& filter, QString& error);

    enum class Resolve { Found, Ambiguous, NotFound };
    // The one record whose id starts with `prefix` (any case); NotFound also when
    // the query fails (then `error` is set).
    Resolve ResolveId(const std::string& prefix, std::string& id, QString& error);
    // The whole record; empty when there is none (`error` says why).
    std::optional<Record> Load(const std::string& id, QString& error);

    // Which claims Claims lists: each given field matched exactly; empty: any.
    struct ClaimFilter {
        std::string data{}, unit{}, station{};  // data Windows-1251, as claimed; unit and station UTF-8
        int limit = 20;                   // 0 or less: all
        std::string space{};              // the number space, Windows-1251
    };
    // The claims that match, newest first (then by space and data, descending).
    // Empty with `error` set on failure.
    std::vector<SerialClaimRow> Claims(const ClaimFilter& filter, QString& error);

private:
    // While one lives, a server that leaves a statement unanswered for the
    // answer limit over a Unix socket loses its connection (nested ones share it).
    class Watching {
    public:
        explicit Watching(RecordStore& store);
        ~Watching();
        Watching(const Watching&) = delete;
        Watching& operator=(const Watching&) = delete;

    private:
        RecordStore& m_store;
    };

    bool Fail(const QSqlError& failure, QString& error) const;
    bool NotOpen(QString& error) const;
    bool IsSqlite() const;
    bool IsBusy(const QSqlError& failure) const;
    bool IsDenied(const QSqlError& failure) const;
    bool ListTables(QStringList& tables, QSqlError& failure);
    bool Exec(const QString& sql, QSqlError& failure);
    bool Run(QSqlQuery& query, QSqlError& failure);
    // Runs `sql` with `values` bound, at most `limit` rows (0 or less: all), read forward only.
    bool Select(QSqlQuery& query, QString sql, QVariantList values, int limit, QString& error);
    bool Write(const std::function<bool(QSqlError&)>& body, QString& error);
    bool ReadSchemaVersion(int& version, QSqlError& failure);
    // `denied`: the login may not make or change the schema.
    bool Upgrade(QString& error, bool& denied);
    bool InsertBatch(const std::string& id, const RecordBatch& batch, QSqlError& failure);
    bool NextSequence(const QString& table, const std::string& id, qint64& next, QSqlError& failure);
    bool InsertHeader(const RecordHeader& header, bool whole, bool& inserted, QSqlError& failure);
    bool QueueForLine(const std::string& id, QSqlError& failure);
    bool IsRefusal(const QSqlError& failure) const;

    QString m_connection;
    QSqlDatabase m_db;
    QString m_location;
    QString m_openError;
    QString m_forwardTo;
    bool m_open = false;
    bool m_durable = false;
    std::unique_ptr<QSqlQuery> m_claimInsert;  // Claim's statement, prepared once a connection
    mutable bool m_outOfReach = false;  // set by every failure reported
    int m_schemaVersion = 0;
    bool m_refused = false;
    bool m_overUnixSocket = false;  // a PostgreSQL server reached over a Unix socket
    std::chrono::milliseconds m_answerLimit = AnswerLimit;
    std::unique_ptr<AnswerWatch> m_watch;  // while a Watching lives
    int m_watching = 0;                    // Watching objects alive
    bool m_unanswered = false;             // the last watch shut the connection down
};

// The filter of RecordStore::Claims, also by this shorter name.
using ClaimFilter = RecordStore::ClaimFilter;

}  // namespace tamrisk
