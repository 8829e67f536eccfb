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
// deleted. One RecordStore is used from the thread that made it. Every
// operation returns its value or its failure: a StoreError, its kind and its
// text "<location>: <reason>".

#include "audittrail.h"
#include "claimstore.h"
#include "entrystore.h"
#include "forwardqueue.h"
#include "holdstore.h"
#include "operatorstore.h"
#include "record.h"
#include "recordqueries.h"
#include "recordschema.h"
#include "recordslocation.h"
#include "recordwriter.h"
#include "releaseprogress.h"
#include "releasestore.h"
#include "routestore.h"
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
    static bool IsLineLocation(const QString& location) { return tamrisk::IsLineLocation(location); }
    static QString ShownLocation(const QString& location) { return tamrisk::ShownLocation(location); }
    static StoreResult<void> AddConnection(const QString& location, const QString& name, QSqlDatabase& db) {
        return tamrisk::AddConnection(location, name, db);
    }

    // Opens the records at `location`: an SQLite file, making its folder and the
    // file on first use, in WAL mode, or a PostgreSQL database; creates or
    // upgrades the schema in one transaction, one program at a time. Fails for a
    // folder or file that cannot be made or opened, a server that cannot be
    // reached, or a schema refused (see OpenSchema). Every later operation of a
    // store that did not open fails with this same error.
    StoreResult<void> Open(const QString& location);
    // What opening records to read may change.
    enum class Reading {
        // The records of this computer's ended programs are marked aborted (a
        // file that takes no writes is still read), and a records file is made
        // when there is none.
        MarkAbandoned,
        // Nothing is changed: a records file that does not exist is refused
        // ("no records at FILE", NotOpen), and records left in progress stay so.
        ChangeNothing,
    };
    // Opens the records at `location` to read them, as `reading` says.
    StoreResult<void> OpenToRead(const QString& location, Reading reading);
    bool IsOpen() const { return m_connection.IsOpen(); }
    QString Location() const { return m_connection.Location(); }
    // The schema version of the open database.
    int SchemaVersion() const { return m_schemaVersion; }

    StoreResult<void> SetDurableCommits(bool on) { return m_connection.SetDurableCommits(on); }
    // Who makes the changes written through this store, for the audit trail
    // (StoreConnection::SetActor); by default the computer's login and host name.
    void SetActor(std::string who, std::string station) { m_connection.SetActor(std::move(who), std::move(station)); }
    void SetAnswerLimit(std::chrono::milliseconds limit) { m_connection.SetAnswerLimit(limit); }
    StoreResult<void> GrantLogins(const QStringList& stationRoles, const QStringList& readerRoles,
                                  const QStringList& supervisorRoles = {}) {
        return tamrisk::GrantLogins(m_connection, stationRoles, readerRoles, supervisorRoles);
    }

    // The pieces, over this store's connection.
    RecordWriter& Writer() { return m_writer; }
    ForwardQueue& Queue() { return m_queue; }
    ClaimStore& Claiming() { return m_claims; }
    RecordQueries& Queries() { return m_queries; }
    // The line's process: routes, entries of units, holds.
    RouteStore& Routes() { return m_routes; }
    EntryStore& Entries() { return m_entries; }
    HoldStore& Holds() { return m_holds; }
    // The people who use the stations.
    OperatorStore& Operators() { return m_operators; }
    // The audit trail: every change of people, routes, holds and what runs, listed and verified.
    AuditStore& Audit() { return m_audit; }
    // The scripts released for products and operations.
    ReleaseStore& Releases() { return m_releases; }
    // This station's progress through the releases it ran.
    ReleaseProgressStore& Progresses() { return m_progresses; }

    void SetForwardTo(const QString& line) { m_writer.SetForwardTo(line); }
    QString ForwardTo() const { return m_writer.ForwardTo(); }

    // Writing (RecordWriter).
    StoreResult<void> Begin(const RecordHeader& header) { return m_writer.Begin(header); }
    StoreResult<void> AppendBatch(const std::string& id, const RecordBatch& batch) {
        return m_writer.AppendBatch(id, batch);
    }
    StoreResult<void> AppendLog(const std::string& id, std::span<const RecordLogLine> lines) {
        return m_writer.AppendLog(id, lines);
    }
    StoreResult<void> AddSerials(const std::string& id, std::span<const RecordSerial> serials) {
        return m_writer.AddSerials(id, serials);
    }
    StoreResult<void> AddImage(const std::string& id, const RecordImage& image) { return m_writer.AddImage(id, image); }
    StoreResult<void> Finish(const RecordHeader& header) { return m_writer.Finish(header); }
    StoreResult<int> Import(std::span<const Record> records) { return m_writer.Import(records); }
    StoreResult<int> MarkAbandoned() { return m_writer.MarkAbandoned(); }

    // Claims (ClaimStore).
    StoreResult<ClaimResult> Claim(const SerialClaimRow& claim, bool again = false) {
        return m_claims.Claim(claim, again);
    }
    StoreResult<void> Release(const std::string& space, const std::string& data, const std::string& recordId) {
        return m_claims.Release(space, data, recordId);
    }

    // The forwarding queue (ForwardQueue).
    StoreResult<int> Waiting(const QString& line) { return m_queue.Waiting(line); }
    StoreResult<QueuedBatch> Sendable(const QString& line, int limit) { return m_queue.Sendable(line, limit); }
    StoreResult<void> Unqueue(const QString& line, const QueuedBatch& batch) { return m_queue.Unqueue(line, batch); }
    StoreResult<void> SetAside(const QString& line, const QueuedBatch& batch, const QString& reason) {
        return m_queue.SetAside(line, batch, reason);
    }
    StoreResult<std::vector<SetAsideRecord>> SetAsideRecords(const QString& line) {
        return m_queue.SetAsideRecords(line);
    }
    StoreResult<void> RetrySetAside(const QString& line) { return m_queue.RetrySetAside(line); }

    // Queries (RecordQueries).
    StoreResult<std::vector<RecordHeader>> List(const Filter& filter) { return m_queries.List(filter); }
    StoreResult<ResolvedId> ResolveId(const std::string& prefix) { return m_queries.ResolveId(prefix); }
    StoreResult<Record> Load(const std::string& id) { return m_queries.Load(id); }
    StoreResult<std::vector<Record>> LoadMany(std::span<const std::string> ids) { return m_queries.LoadMany(ids); }
    StoreResult<std::vector<SerialClaimRow>> Claims(const ClaimFilter& filter) { return m_queries.Claims(filter); }
    StoreResult<std::vector<CheckRow>> Checks(const CheckFilter& filter) { return m_queries.Checks(filter); }
    StoreResult<LineStats> Stats(const StatsQuery& query) { return m_queries.Stats(query); }
    StoreResult<CapabilityReport> Capability(const CapabilityQuery& query) { return m_queries.Capability(query); }
    StoreResult<std::vector<UnitEvent>> History(const std::string& unit) { return m_queries.History(unit); }
    StoreResult<std::vector<WipCount>> Wip(const std::string& product) { return m_queries.Wip(product); }

private:
    StoreConnection m_connection;
    RecordWriter m_writer{m_connection};
    RecordQueries m_queries{m_connection};
    ForwardQueue m_queue{m_connection, m_queries};
    ClaimStore m_claims{m_connection};
    RouteStore m_routes{m_connection};
    EntryStore m_entries{m_connection};
    HoldStore m_holds{m_connection};
    OperatorStore m_operators{m_connection};
    AuditStore m_audit{m_connection};
    ReleaseStore m_releases{m_connection};
    ReleaseProgressStore m_progresses{m_connection};
    int m_schemaVersion = 0;
};

}  // namespace tamrisk
