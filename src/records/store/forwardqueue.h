#pragma once
// The queue of a station's local file: the records still to be sent on to the
// line's database, in the order they were begun, and those the line refused,
// set aside with its reason so that the records behind them go on.

#include "record.h"
#include "storeconnection.h"

#include <QString>

#include <string>
#include <vector>

namespace tamrisk {

class RecordQueries;

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

// Queues record `id` for `line` at the end of the queue, within the caller's
// transaction; nothing for no line. A record may be queued more than once (an
// image added while it was being sent): it is sent once for all its entries.
bool EnqueueForLine(StoreConnection& connection, const std::string& id, const QString& line, QSqlError& failure);

class ForwardQueue {
public:
    // Whole records are read through `queries`, over the same connection.
    ForwardQueue(StoreConnection& connection, RecordQueries& queries);

    // How many records are queued for `line`, finished or not, besides those set
    // aside.
    StoreResult<int> Waiting(const QString& line);
    // The oldest `limit` finished records queued for `line` and not set aside,
    // whole, in the order they were queued (a record still in progress waits;
    // finished ones queued after it come).
    StoreResult<QueuedBatch> Sendable(const QString& line, int limit);
    // Takes the records of `batch` out of the queue for `line` once the line holds them.
    StoreResult<void> Unqueue(const QString& line, const QueuedBatch& batch);
    // Marks the records of `batch` set aside for `line` with `reason`: kept and
    // listed, no longer sent, until RetrySetAside.
    StoreResult<void> SetAside(const QString& line, const QueuedBatch& batch, const QString& reason);
    // The records set aside for `line`, oldest first.
    StoreResult<std::vector<SetAsideRecord>> SetAsideRecords(const QString& line);
    // Queues the records set aside for `line` to be sent again.
    StoreResult<void> RetrySetAside(const QString& line);

private:
    // Runs `sql` once for each record of `batch`, with `first` bound before the
    // line, the record's id and the batch's last entry.
    StoreResult<void> ForEachQueued(const QString& sql, const QVariantList& first, const QString& line,
                                    const QueuedBatch& batch);

    StoreConnection& m_c;
    RecordQueries& m_queries;
};

}  // namespace tamrisk
