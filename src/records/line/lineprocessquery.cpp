// The line's process as the records hold it, read: the products' routes, a
// unit's history and the facts of the work in progress, which ComputeWip sums.

#include "recordqueries.h"
#include "routestore.h"

#include "failurecause.h"
#include "recordrows.h"

#include <QSqlQuery>

#include <map>

namespace tamrisk {

StoreResult<std::vector<UnitEvent>> RecordQueries::History(const std::string& unit) {
    if (!m_c.IsOpen())
        return m_c.NotOpen();
    const StoreConnection::Watching watching(m_c);
    QString kinds;
    for (const char* kind : UnitHistoryKinds)
        kinds += (kinds.isEmpty() ? QStringLiteral("'") : QStringLiteral(", '")) + QLatin1String(kind) + u'\'';
    QSqlQuery q(m_c.Db());
    if (StoreResult<void> selected =
            m_c.Select(q,
                       QStringLiteral("SELECT ") + QLatin1String(HeaderColumns) +
                           QStringLiteral(" FROM records WHERE unit = ? AND kind IN (") + kinds +
                           QStringLiteral(") ORDER BY started_ms, id"),
                       {Utf8(unit)}, 0);
        !selected)
        return selected.error();
    std::vector<UnitEvent> events;
    std::vector<std::string> failedRuns;
    std::map<std::string, std::size_t> placeOf;  // a failed run's id -> its event
    while (q.next()) {
        const RecordHeader h = ReadHeader(q);
        const bool failedRun =
            h.kind == "run" && (h.outcome == RecordOutcome::Fail || h.outcome == RecordOutcome::Error);
        if (failedRun) {
            failedRuns.push_back(h.id);
            placeOf[h.id] = events.size();
        }
        const bool passed = h.outcome == RecordOutcome::Pass && h.kind == "run";
        events.push_back({h.id, h.kind, h.operation, h.product, h.station, h.operatorName, h.outcome,
                          passed ? std::string() : h.reason, h.startedMs, h.engineering});
    }
    // A failed run's cause is told by its checks and steps, as everywhere else.
    StoreResult<std::vector<Record>> failed = LoadMany(failedRuns);
    if (!failed)
        return failed.error();
    for (const Record& record : *failed)
        events[placeOf[record.header.id]].cause = FailureCauseOf(record).Name(record.header.reason);
    return events;
}

StoreResult<std::vector<WipCount>> RecordQueries::Wip(const std::string& product) {
    if (!m_c.IsOpen())
        return m_c.NotOpen();
    StoreResult<std::vector<Route>> routes = RouteStore(m_c).Routes();
    if (!routes)
        return routes.error();
    WipFacts facts;
    for (Route& route : *routes) {
        if (product.empty() || route.product == product)
            facts.routes.push_back(std::move(route));
    }
    const StoreConnection::Watching watching(m_c);
    // Only runs that name a product with a route (the one asked for) count: a
    // unit's product is the one its runs name.
    QString products = QStringLiteral("SELECT product FROM routes");
    QVariantList values;
    if (!product.empty()) {
        products += QStringLiteral(" WHERE product = ?");
        values.push_back(Utf8(product));
    }
    QSqlQuery runs(m_c.Db());
    if (StoreResult<void> selected =
            m_c.Select(runs,
                       QStringLiteral("SELECT unit, product, operation, outcome, engineering FROM records"
                                      " WHERE kind = 'run'"
                                      " AND unit <> '' AND outcome IS NOT NULL AND product IN (") +
                           products + QStringLiteral(") ORDER BY started_ms, id"),
                       values, 0);
        !selected)
        return selected.error();
    while (runs.next()) {
        if (const std::optional<RecordOutcome> outcome = OutcomeFrom(runs.value(3)))
            facts.runs.push_back({Utf8From(runs.value(0)), Utf8From(runs.value(1)), Utf8From(runs.value(2)), *outcome,
                                  runs.value(4).toBool()});
    }
    const auto places = [this](const QString& sql, std::vector<WipPlace>& into) -> StoreResult<void> {
        QSqlQuery q(m_c.Db());
        if (StoreResult<void> selected = m_c.Select(q, sql, {}, 0); !selected)
            return selected;
        while (q.next())
            into.push_back({Utf8From(q.value(0)), Utf8From(q.value(1)), Utf8From(q.value(2))});
        return {};
    };
    if (StoreResult<void> read =
            places(QStringLiteral("SELECT unit, product, operation FROM units_in_test ORDER BY unit"), facts.inTest);
        !read)
        return read.error();
    // A hold's product is its record's, for a unit of no run yet.
    if (StoreResult<void> read = places(QStringLiteral("SELECT h.unit, COALESCE(r.product, ''), h.operation"
                                                       " FROM unit_holds h LEFT JOIN records r ON r.id = h.record_id"
                                                       " WHERE h.released_ms IS NULL ORDER BY h.unit"),
                                        facts.onHold);
        !read)
        return read.error();
    return ComputeWip(facts);
}

}  // namespace tamrisk
