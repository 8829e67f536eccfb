#include "forwardqueue.h"

#include "recordqueries.h"
#include "recordrows.h"

#include <QSqlQuery>

#include <algorithm>

namespace tamrisk {

// Queues record `id` for the line at the end of the queue; nothing without one.
// A record may be queued more than once (an image added while it was being
// sent): it is sent once for all its entries.
bool EnqueueForLine(StoreConnection& c, const std::string& id, const QString& line, QSqlError& failure) {
    if (line.isEmpty())
        return true;
    QSqlQuery queue(c.Db());
    queue.prepare(QStringLiteral("INSERT INTO forward_queue (seq, record_id, destination)"
                                 " SELECT COALESCE(MAX(seq), 0) + 1, ?, ? FROM forward_queue"));
    queue.addBindValue(Utf8(id));
    queue.addBindValue(Text(line));
    return c.Run(queue, failure);
}


ForwardQueue::ForwardQueue(StoreConnection& connection, RecordQueries& queries)
    : m_c(connection), m_queries(queries) {}

StoreResult<int> ForwardQueue::Waiting(const QString& line) {
    if (!m_c.IsOpen())
        return m_c.NotOpen();
    const StoreConnection::Watching watching(m_c);
    QSqlQuery query(m_c.Db());
    query.prepare(QStringLiteral(
        "SELECT COUNT(DISTINCT record_id) FROM forward_queue WHERE destination = ? AND set_aside IS NULL"));
    query.addBindValue(Text(line));
    if (!query.exec() || !query.next())
        return m_c.Fail(query.lastError());
    return query.value(0).toInt();
}

StoreResult<QueuedBatch> ForwardQueue::Sendable(const QString& line, int limit) {
    QueuedBatch batch;
    if (!m_c.IsOpen())
        return m_c.NotOpen();
    const StoreConnection::Watching watching(m_c);
    std::vector<std::string> ids;
    {
        QSqlQuery query(m_c.Db());
        query.setForwardOnly(true);
        query.prepare(QStringLiteral("SELECT q.record_id, MAX(q.seq) FROM forward_queue q JOIN records r ON r.id = q.record_id"
                                     " WHERE q.destination = ? AND q.set_aside IS NULL AND r.outcome IS NOT NULL"
                                     " GROUP BY q.record_id ORDER BY MIN(q.seq) LIMIT ?"));
        query.addBindValue(Text(line));
        query.addBindValue(limit);
        QSqlError failure;
        if (!m_c.Run(query, failure))
            return m_c.Fail(failure);
        while (query.next()) {
            ids.push_back(Utf8From(query.value(0)));
            batch.lastSeq = std::max(batch.lastSeq, query.value(1).toLongLong());
        }
    }
    StoreResult<std::vector<Record>> records = m_queries.LoadMany(ids);
    if (!records)
        return records.error();
    if (records->size() != ids.size())
        return QueuedBatch{};
    batch.records = std::move(*records);
    return batch;
}

// Only the entries read: one queued while the batch was being sent (an image
// added) stays, and the record goes again.
StoreResult<void> ForwardQueue::Unqueue(const QString& line, const QueuedBatch& batch) {
    return ForEachQueued(QStringLiteral("DELETE FROM forward_queue WHERE destination = ? AND record_id = ? AND seq <= ?"),
                         {}, line, batch);
}

StoreResult<void> ForwardQueue::SetAside(const QString& line, const QueuedBatch& batch, const QString& reason) {
    return ForEachQueued(QStringLiteral("UPDATE forward_queue SET set_aside = ?"
                                        " WHERE destination = ? AND record_id = ? AND seq <= ?"),
                         {Text(reason)}, line, batch);
}

StoreResult<void> ForwardQueue::ForEachQueued(const QString& sql, const QVariantList& first, const QString& line,
                                              const QueuedBatch& batch) {
    return m_c.Write(
        [&](QSqlError& failure) {
            QSqlQuery query(m_c.Db());
            query.prepare(sql);
            for (const Record& record : batch.records) {
                int i = 0;
                for (const QVariant& value : first)
                    query.bindValue(i++, value);
                query.bindValue(i++, Text(line));
                query.bindValue(i++, Utf8(record.header.id));
                query.bindValue(i, batch.lastSeq);
                if (!m_c.Run(query, failure))
                    return false;
            }
            return true;
        });
}

StoreResult<std::vector<SetAsideRecord>> ForwardQueue::SetAsideRecords(const QString& line) {
    std::vector<SetAsideRecord> records;
    if (!m_c.IsOpen())
        return m_c.NotOpen();
    const StoreConnection::Watching watching(m_c);
    QSqlQuery query(m_c.Db());
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT q.record_id, r.unit, MAX(q.set_aside) FROM forward_queue q"
                                 " JOIN records r ON r.id = q.record_id"
                                 " WHERE q.destination = ? AND q.set_aside IS NOT NULL"
                                 " GROUP BY q.record_id, r.unit ORDER BY MIN(q.seq)"));
    query.addBindValue(Text(line));
    QSqlError failure;
    if (!m_c.Run(query, failure))
        return m_c.Fail(failure);
    while (query.next())
        records.push_back({Utf8From(query.value(0)), Utf8From(query.value(1)), query.value(2).toString()});
    return records;
}

StoreResult<void> ForwardQueue::RetrySetAside(const QString& line) {
    return m_c.Write(
        [&](QSqlError& failure) {
            QSqlQuery query(m_c.Db());
            query.prepare(QStringLiteral(
                "UPDATE forward_queue SET set_aside = NULL WHERE destination = ? AND set_aside IS NOT NULL"));
            query.addBindValue(Text(line));
            return m_c.Run(query, failure);
        });
}

}  // namespace tamrisk
