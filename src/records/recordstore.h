#pragma once
// The records of one connection, as one object: an SQLite file by default, made
// on first use, or a PostgreSQL database named by a postgresql:// URL that many
// stations share. A thin front over the records layer's pieces, each of which
// holds one concern and may be used on its own: the connection and its dialect,
// the schema, writing, the forwarding queue, claims and queries.
//
// Several programs may write one file at once: a busy database is waited for,
// never skipped. A file that is not a records database, or one that cannot be
// written, is reported with its reason and never overwritten, truncated or
// deleted. One RecordStore is used from the thread that made it. Every failure
// is reported as "<location>: <reason>" and kept, with its kind, as LastError.

#include "claimstore.h"
#include "forwardqueue.h"
#include "record.h"
#include "recordqueries.h"
#include "recordschema.h"
#include "recordslocation.h"
#include "recordwriter.h"
#include "storeconnection.h"

#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tamrisk {

class RecordStore {
public:
    static constexpr int CurrentSchemaVersion = tamrisk::CurrentSchemaVersion;
    static constexpr std::chrono::milliseconds AnswerLimit = StoreConnection::AnswerLimit;
    using ClaimResult = tamrisk::ClaimResult;
    using Resolve = tamrisk::Resolve;
    using ListPlace = tamrisk::ListPlace;
    using Filter = RecordFilter;
    using ClaimFilter = tamrisk::ClaimFilter;

    RecordStore();
    RecordStore(const RecordStore&) = delete;
    RecordStore& operator=(const RecordStore&) = delete;

    static QString DefaultLocation() { return DefaultRecordsLocation(); }
    static bool IsPostgresqlLocation(const QString& location) { return tamrisk::IsPostgresqlLocation(location); }
    static QString ShownLocation(const QString& location) { return tamrisk::ShownLocation(location); }
    static bool AddConnection(const QString& location, const QString& name, QSqlDatabase& db, QString& reason) {
        return tamrisk::AddConnection(location, name, db, reason);
    }

    // Opens the records at `location`: an SQLite file, making its folder and the
    // file on first use, in WAL mode, or a PostgreSQL database; creates or
    // upgrades the schema in one transaction, one program at a time. False with
    // `error` for a folder or file that cannot be made or opened, a server that
    // cannot be reached, or a schema refused (see OpenSchema). Every later
    // operation of a store that did not open fails with this same error.
    bool Open(const QString& location, QString& error);
    bool IsOpen() const { return m_connection.IsOpen(); }
    QString Location() const { return m_connection.Location(); }
    // The schema version of the open database.
    int SchemaVersion() const { return m_schemaVersion; }

    const StoreError& LastError() const { return m_connection.LastError(); }
    // True when the last failure was the database out of reach: a later try may work.
    bool OutOfReach() const { return m_connection.OutOfReach(); }
    // True when the last failed write was refused for what it wrote: the same write fails again.
    bool Refused() const { return m_connection.Refused(); }
    bool SetDurableCommits(bool on, QString& error) { return m_connection.SetDurableCommits(on, error); }
    void SetAnswerLimit(std::chrono::milliseconds limit) { m_connection.SetAnswerLimit(limit); }
    bool GrantLogins(const QStringList& stationRoles, const QStringList& readerRoles, QString& error) {
        return tamrisk::GrantLogins(m_connection, stationRoles, readerRoles, error);
    }

    // The pieces, over this store's connection.
    RecordWriter& Writer() { return m_writer; }
    ForwardQueue& Queue() { return m_queue; }
    ClaimStore& Claiming() { return m_claims; }
    RecordQueries& Queries() { return m_queries; }

    void SetForwardTo(const QString& line) { m_writer.SetForwardTo(line); }
    QString ForwardTo() const { return m_writer.ForwardTo(); }

    // Writing (RecordWriter).
    bool Begin(const RecordHeader& header, QString& error) { return m_writer.Begin(header, error); }
    bool AppendBatch(const std::string& id, const RecordBatch& batch, QString& error) {
        return m_writer.AppendBatch(id, batch, error);
    }
    bool AppendLog(const std::string& id, std::span<const RecordLogLine> lines, QString& error) {
        return m_writer.AppendLog(id, lines, error);
    }
    bool AddSerials(const std::string& id, std::span<const RecordSerial> serials, QString& error) {
        return m_writer.AddSerials(id, serials, error);
    }
    bool AddImage(const std::string& id, const RecordImage& image, QString& error) {
        return m_writer.AddImage(id, image, error);
    }
    bool Finish(const RecordHeader& header, QString& error) { return m_writer.Finish(header, error); }
    bool Import(std::span<const Record> records, int& added, QString& error) {
        return m_writer.Import(records, added, error);
    }
    int MarkAbandoned(QString& error) { return m_writer.MarkAbandoned(error); }

    // Claims (ClaimStore).
    ClaimResult Claim(const SerialClaimRow& claim, QString& error, bool again = false) {
        return m_claims.Claim(claim, error, again);
    }
    bool Release(const std::string& space, const std::string& data, const std::string& recordId, QString& error) {
        return m_claims.Release(space, data, recordId, error);
    }

    // The forwarding queue (ForwardQueue).
    int Waiting(const QString& line, QString& error) { return m_queue.Waiting(line, error); }
    QueuedBatch Sendable(const QString& line, int limit, QString& error) {
        return m_queue.Sendable(line, limit, error);
    }
    bool Unqueue(const QString& line, const QueuedBatch& batch, QString& error) {
        return m_queue.Unqueue(line, batch, error);
    }
    bool SetAside(const QString& line, const QueuedBatch& batch, const QString& reason, QString& error) {
        return m_queue.SetAside(line, batch, reason, error);
    }
    std::vector<SetAsideRecord> SetAsideRecords(const QString& line, QString& error) {
        return m_queue.SetAsideRecords(line, error);
    }
    bool RetrySetAside(const QString& line, QString& error) { return m_queue.RetrySetAside(line, error); }

    // Queries (RecordQueries).
    std::vector<RecordHeader> List(const Filter& filter, QString& error) { return m_queries.List(filter, error); }
    Resolve ResolveId(const std::string& prefix, std::string& id, QString& error) {
        return m_queries.ResolveId(prefix, id, error);
    }
    std::optional<Record> Load(const std::string& id, QString& error) { return m_queries.Load(id, error); }
    std::vector<Record> LoadMany(std::span<const std::string> ids, QString& error) {
        return m_queries.LoadMany(ids, error);
    }
    std::vector<SerialClaimRow> Claims(const ClaimFilter& filter, QString& error) {
        return m_queries.Claims(filter, error);
    }
    std::vector<CheckRow> Checks(const CheckFilter& filter, QString& error) { return m_queries.Checks(filter, error); }
    LineStats Stats(const StatsQuery& query, QString& error) { return m_queries.Stats(query, error); }

private:
    StoreConnection m_connection;
    RecordWriter m_writer{m_connection};
    RecordQueries m_queries{m_connection};
    ForwardQueue m_queue{m_connection, m_queries};
    ClaimStore m_claims{m_connection};
    int m_schemaVersion = 0;
};

}  // namespace tamrisk
