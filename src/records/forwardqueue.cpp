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

int ForwardQueue::Waiting(const QString& line, QString& error) {
    if (!m_c.IsOpen()) {
        m_c.NotOpen(error);
        return -1;
    }
    const StoreConnection::Watching watching(m_c);
    QSqlQuery query(m_c.Db());
    query.prepare(QStringLiteral(
        "SELECT COUNT(DISTINCT record_id) FROM forward_queue WHERE destination = ? AND set_aside IS NULL"));
    query.addBindValue(Text(line));
    if (!query.exec() || !query.next()) {
        m_c.Fail(query.lastError(), error);
        return -1;
    }
    return query.value(0).toInt();
}

QueuedBatch ForwardQueue::Sendable(const QString& line, int limit, QString& error) {
    QueuedBatch batch;
    if (!m_c.IsOpen()) {
        m_c.NotOpen(error);
        return batch;
    }
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
        if (!m_c.Run(query, failure)) {
            m_c.Fail(failure, error);
            return batch;
        }
        while (query.next()) {
            ids.push_back(Utf8From(query.value(0)));
            batch.lastSeq = std::max(batch.lastSeq, query.value(1).toLongLong());
        }
    }
    batch.records = m_queries.LoadMany(ids, error);
    if (batch.records.size() != ids.size())
        return {};
    return batch;
}

// Only the entries read: one queued while the batch was being sent (an image
// added) stays, and the record goes again.
bool ForwardQueue::Unqueue(const QString& line, const QueuedBatch& batch, QString& error) {
    return ForEachQueued(QStringLiteral("DELETE FROM forward_queue WHERE destination = ? AND record_id = ? AND seq <= ?"),
                         {}, line, batch, error);
}

bool ForwardQueue::SetAside(const QString& line, const QueuedBatch& batch, const QString& reason, QString& error) {
    return ForEachQueued(QStringLiteral("UPDATE forward_queue SET set_aside = ?"
                                        " WHERE destination = ? AND record_id = ? AND seq <= ?"),
                         {Text(reason)}, line, batch, error);
}

bool ForwardQueue::ForEachQueued(const QString& sql, const QVariantList& first, const QString& line,
                                 const QueuedBatch& batch, QString& error) {
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
        },
        error);
}

std::vector<SetAsideRecord> ForwardQueue::SetAsideRecords(const QString& line, QString& error) {
    std::vector<SetAsideRecord> records;
    if (!m_c.IsOpen()) {
        m_c.NotOpen(error);
        return records;
    }
    const StoreConnection::Watching watching(m_c);
    QSqlQuery query(m_c.Db());
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT q.record_id, r.unit, MAX(q.set_aside) FROM forward_queue q"
                                 " JOIN records r ON r.id = q.record_id"
                                 " WHERE q.destination = ? AND q.set_aside IS NOT NULL"
                                 " GROUP BY q.record_id, r.unit ORDER BY MIN(q.seq)"));
    query.addBindValue(Text(line));
    QSqlError failure;
    if (!m_c.Run(query, failure)) {
        m_c.Fail(failure, error);
        return records;
    }
    while (query.next())
        records.push_back({Utf8From(query.value(0)), Utf8From(query.value(1)), query.value(2).toString()});
    return records;
}

bool ForwardQueue::RetrySetAside(const QString& line, QString& error) {
    return m_c.Write(
        [&](QSqlError& failure) {
            QSqlQuery query(m_c.Db());
            query.prepare(QStringLiteral(
                "UPDATE forward_queue SET set_aside = NULL WHERE destination = ? AND set_aside IS NOT NULL"));
            query.addBindValue(Text(line));
            return m_c.Run(query, failure);
        },
        error);
}

}  // namespace tamrisk
