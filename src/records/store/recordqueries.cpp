#include "recordqueries.h"

#include "recordrows.h"

#include <QSqlQuery>

#include <algorithm>
#include <map>
#include <tuple>

namespace tamrisk {

RecordQueries::RecordQueries(StoreConnection& connection) : m_c(connection) {}

StoreResult<std::vector<RecordHeader>> RecordQueries::List(const RecordFilter& filter) {
    std::vector<RecordHeader> headers;
    if (!m_c.IsOpen())
        return m_c.NotOpen();
    const StoreConnection::Watching watching(m_c);
    Conditions c{QStringLiteral("SELECT ") + QLatin1String(HeaderColumns) + QStringLiteral(" FROM records WHERE 1 = 1"),
                 {}};
    QString& sql = c.sql;
    QVariantList& values = c.values;
    c.Where(!filter.unit.empty(), "unit = ?", Utf8(filter.unit));
    c.Where(!filter.kind.empty(), "kind = ?", Utf8(filter.kind));
    c.Where(!filter.operation.empty(), "operation = ?", Utf8(filter.operation));
    c.Where(!filter.product.empty(), "product = ?", Utf8(filter.product));
    c.Where(filter.outcome.has_value(), "outcome = ?", OutcomeValue(filter.outcome));
    c.Where(filter.sinceMs.has_value(), "started_ms >= ?", QVariant(filter.sinceMs.value_or(0)));
    c.Where(!filter.serial.empty(), "id IN (SELECT record_id FROM record_serials WHERE data = ?)", Utf8(filter.serial));
    if (filter.after) {
        // Written so that the started_ms index bounds the scan.
        sql += QStringLiteral(" AND started_ms <= ? AND (started_ms < ? OR id < ?)");
        values << filter.after->startedMs << filter.after->startedMs << Utf8(filter.after->id);
    }
    QSqlQuery query(m_c.Db());
    if (StoreResult<void> selected =
            m_c.Select(query, sql + QStringLiteral(" ORDER BY started_ms DESC, id DESC"), values, filter.limit);
        !selected)
        return selected.error();
    while (query.next())
        headers.push_back(ReadHeader(query));
    return headers;
}

StoreResult<ResolvedId> RecordQueries::ResolveId(const std::string& prefix) {
    if (!m_c.IsOpen())
        return m_c.NotOpen();
    const QString start = QString::fromStdString(prefix).toLower();
    const StoreConnection::Watching watching(m_c);
    const bool uuidLike = std::all_of(start.begin(), start.end(), [](QChar c) {
        return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || c == u'-';
    });
    if (start.isEmpty() || !uuidLike)
        return ResolvedId{};
    QSqlQuery query(m_c.Db());
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT id FROM records WHERE id ") + m_c.Dialect().CaseInsensitiveLike() +
                  QStringLiteral(" ? ORDER BY id LIMIT 2"));
    query.addBindValue(start + u'%');
    QSqlError failure;
    if (!m_c.Run(query, failure))
        return m_c.Fail(failure);
    if (!query.next())
        return ResolvedId{};
    const std::string id = Utf8From(query.value(0));
    return ResolvedId{query.next() ? Resolve::Ambiguous : Resolve::Found, id};
}

StoreResult<Record> RecordQueries::Load(const std::string& id) {
    StoreResult<std::vector<Record>> records = LoadMany(std::span(&id, 1));
    if (!records)
        return records.error();
    if (records->empty())
        return m_c.Fail(StoreError::Kind::NotFound, QStringLiteral("no record ") + QString::fromStdString(id));
    return std::move(records->front());
}

StoreResult<std::vector<Record>> RecordQueries::LoadMany(std::span<const std::string> ids) {
    std::vector<Record> records;
    if (!m_c.IsOpen())
        return m_c.NotOpen();
    const StoreConnection::Watching watching(m_c);
    for (std::size_t from = 0; from < ids.size(); from += LoadBatch) {
        const std::span<const std::string> batch = ids.subspan(from, std::min(LoadBatch, ids.size() - from));
        if (StoreResult<void> loaded = LoadBatchOf(batch, records); !loaded)
            return loaded.error();
    }
    return records;
}

// The records of `ids` appended to `records` in the order of `ids` (one not
// there left out): six queries for the whole batch, each part in its order.
StoreResult<void> RecordQueries::LoadBatchOf(std::span<const std::string> ids, std::vector<Record>& records) {
    QString marks = QStringLiteral("?");
    for (std::size_t i = 1; i < ids.size(); ++i)
        marks += QStringLiteral(", ?");
    QSqlError failure;
    // The six results are read side by side: forward-only only where the driver
    // keeps them all.
    auto select = [&](QSqlQuery& query, const QString& columns, const QString& from, const char* order) {
        query.setForwardOnly(m_c.Dialect().KeepsForwardResults());
        query.prepare(QStringLiteral("SELECT ") + columns + QStringLiteral(" FROM ") + from + QStringLiteral(" IN (") +
                      marks + QStringLiteral(") ORDER BY ") + QLatin1String(order));
        for (const std::string& id : ids)
            query.addBindValue(Utf8(id));
        return m_c.Run(query, failure);
    };
    QSqlQuery header(m_c.Db()), log(m_c.Db()), serials(m_c.Db()), images(m_c.Db()), steps(m_c.Db()), checks(m_c.Db());
    if (!select(header, QLatin1String(HeaderColumns), QStringLiteral("records WHERE id"), "id") ||
        !select(log, QStringLiteral("record_id, lines"), QStringLiteral("record_log_chunks WHERE record_id"),
                "record_id, seq") ||
        !select(serials, QStringLiteral("record_id, space, data, script_line, result"),
                QStringLiteral("record_serials WHERE record_id"), "record_id, seq") ||
        !select(images, QStringLiteral("record_id, kind, length, sha256, file"),
                QStringLiteral("record_images WHERE record_id"), "record_id, seq") ||
        !select(steps, QStringLiteral("record_id, steps"), QStringLiteral("record_step_chunks WHERE record_id"),
                "record_id, seq") ||
        !select(checks, QStringLiteral("record_id, ") + QLatin1String(CheckTableColumns),
                QStringLiteral("record_checks WHERE record_id"), "record_id, seq"))
        return m_c.Fail(failure);
    std::map<std::string, Record> found;
    while (header.next()) {
        Record record;
        record.header = ReadHeader(header);
        found.emplace(record.header.id, std::move(record));
    }
    // Rows of a record not found (written since the header was read) are skipped.
    const auto of = [&](const QSqlQuery& query) {
        const auto record = found.find(Utf8From(query.value(0)));
        return record == found.end() ? nullptr : &record->second;
    };
    // Each chunk row read by `read` into its record; a row that is not a chunk fails the load.
    const auto readChunks = [&](QSqlQuery& query, const char* what, auto read) -> StoreResult<void> {
        while (query.next()) {
            Record* record = of(query);
            if (record != nullptr && !read(query.value(1), *record)) {
                return m_c.Fail(StoreError::Kind::StatementFailed,
                                QStringLiteral("the ") + QLatin1String(what) + QStringLiteral(" of record ") +
                                    QString::fromStdString(record->header.id) + QStringLiteral(" cannot be read"));
            }
        }
        return {};
    };
    if (StoreResult<void> read = readChunks(
            log, "log", [](const QVariant& chunk, Record& record) { return ReadLogChunk(Cp1251From(chunk), record.log); });
        !read)
        return read;
    while (serials.next()) {
        if (Record* record = of(serials))
            record->serials.push_back(
                {Cp1251From(serials.value(1)), Cp1251From(serials.value(2)), serials.value(3).toInt(),
                 SerialResultFromText(Utf8From(serials.value(4))).value_or(SerialResult::Unknown)});
    }
    while (images.next()) {
        if (Record* record = of(images))
            record->images.push_back({Utf8From(images.value(1)), images.value(2).toLongLong(),
                                      Utf8From(images.value(3)), Utf8From(images.value(4))});
    }
    if (StoreResult<void> read = readChunks(steps, "steps", [](const QVariant& chunk, Record& record) {
            return ReadStepChunk(BytesFrom(chunk), record.steps);
        });
        !read)
        return read;
    while (checks.next()) {
        if (Record* record = of(checks))
            record->checks.push_back(ReadCheck(checks, 1));
    }
    for (const std::string& id : ids) {
        if (auto record = found.find(id); record != found.end())
            records.push_back(std::move(record->second));
    }
    return {};
}

StoreResult<std::vector<SerialClaimRow>> RecordQueries::Claims(const ClaimFilter& filter) {
    std::vector<SerialClaimRow> claims;
    if (!m_c.IsOpen())
        return m_c.NotOpen();
    const StoreConnection::Watching watching(m_c);
    Conditions c{QStringLiteral(
                     "SELECT space, data, record_id, station, unit, claimed_ms FROM serial_claims WHERE 1 = 1"),
                 {}};
    c.Where(!filter.space.empty(), "space = ?", Cp1251(filter.space));
    c.Where(!filter.data.empty(), "data = ?", Cp1251(filter.data));
    c.Where(!filter.unit.empty(), "unit = ?", Utf8(filter.unit));
    c.Where(!filter.station.empty(), "station = ?", Utf8(filter.station));
    const QString& sql = c.sql;
    const QVariantList& values = c.values;
    QSqlQuery query(m_c.Db());
    if (StoreResult<void> selected = m_c.Select(
            query, sql + QStringLiteral(" ORDER BY claimed_ms DESC, space DESC, data DESC"), values, filter.limit);
        !selected)
        return selected.error();
    while (query.next()) {
        claims.push_back({Cp1251From(query.value(0)), Cp1251From(query.value(1)), Utf8From(query.value(2)),
                          Utf8From(query.value(3)), Utf8From(query.value(4)), query.value(5).toLongLong()});
    }
    return claims;
}

StoreResult<std::vector<CheckRow>> RecordQueries::Checks(const CheckFilter& filter) {
    std::vector<CheckRow> checks;
    if (!m_c.IsOpen())
        return m_c.NotOpen();
    const StoreConnection::Watching watching(m_c);
    QString sql = QStringLiteral("SELECT r.id, r.unit, r.station, r.started_ms");
    for (const QString& column : QString::fromLatin1(CheckTableColumns).split(QStringLiteral(", ")))
        sql += QStringLiteral(", c.") + column;
    sql += QStringLiteral(" FROM record_checks c JOIN records r ON r.id = c.record_id WHERE 1 = 1");
    Conditions c{sql, {}};
    c.Where(!filter.name.empty(), "c.name = ?", Utf8(filter.name));
    c.Where(!filter.unit.empty(), "r.unit = ?", Utf8(filter.unit));
    c.Where(!filter.station.empty(), "r.station = ?", Utf8(filter.station));
    c.Where(!filter.operation.empty(), "r.operation = ?", Utf8(filter.operation));
    c.Where(!filter.product.empty(), "r.product = ?", Utf8(filter.product));
    c.Where(filter.result.has_value(), "c.result = ?",
            QString::fromLatin1(CheckResultText(filter.result.value_or(CheckResult::Error))));
    c.Where(filter.sinceMs.has_value(), "r.started_ms >= ?", QVariant(filter.sinceMs.value_or(0)));
    c.Where(filter.untilMs.has_value(), "r.started_ms < ?", QVariant(filter.untilMs.value_or(0)));
    QSqlQuery query(m_c.Db());
    if (StoreResult<void> selected = m_c.Select(
            query, c.sql + QStringLiteral(" ORDER BY r.started_ms DESC, r.id DESC, c.seq"), c.values, filter.limit);
        !selected)
        return selected.error();
    while (query.next()) {
        checks.push_back({ReadCheck(query, 4), Utf8From(query.value(0)), Utf8From(query.value(1)),
                          Utf8From(query.value(2)), query.value(3).toLongLong()});
    }
    return checks;
}

}  // namespace tamrisk
