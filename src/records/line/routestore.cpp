#include "routestore.h"

#include "audittrail.h"
#include "recordrows.h"

#include <QSqlQuery>

namespace tamrisk {

RouteStore::RouteStore(StoreConnection& connection) : m_c(connection) {}

bool RouteStore::Replace(const std::string& product, const std::vector<RouteStep>& steps, const RouteChange& change,
                         int& deleted, QSqlError& failure) {
    // The route it replaces, as the trail shows it.
    QSqlQuery old(m_c.Db());
    old.prepare(QStringLiteral("SELECT operation, retest_limit FROM routes WHERE product = ? ORDER BY seq"));
    old.addBindValue(Utf8(product));
    if (!m_c.Run(old, failure))
        return false;
    std::vector<RouteStep> oldSteps;
    while (old.next())
        oldSteps.push_back({Utf8From(old.value(0)), old.value(1).toInt()});
    old.finish();
    QSqlQuery remove(m_c.Db());
    remove.prepare(QStringLiteral("DELETE FROM routes WHERE product = ?"));
    remove.addBindValue(Utf8(product));
    if (!m_c.Run(remove, failure))
        return false;
    deleted = remove.numRowsAffected();
    QSqlQuery insert(m_c.Db());
    insert.prepare(QStringLiteral("INSERT INTO routes (product, seq, operation, retest_limit) VALUES (?, ?, ?, ?)"));
    for (std::size_t seq = 0; seq < steps.size(); ++seq) {
        for (const QVariant& value : {Utf8(product), QVariant(static_cast<int>(seq)), Utf8(steps[seq].operation),
                                      QVariant(steps[seq].retestLimit)})
            insert.addBindValue(value);
        if (!m_c.Run(insert, failure))
            return false;
    }
    QSqlQuery changed(m_c.Db());
    changed.prepare(QStringLiteral(
        "INSERT INTO route_changes (product, changed_ms, route, changed_by, station) VALUES (?, ?, ?, ?, ?)"));
    for (const QVariant& value : {Utf8(product), QVariant(change.changedMs), Utf8(RouteText(steps)),
                                  Utf8(change.changedBy), Utf8(change.station)})
        changed.addBindValue(value);
    const auto text = [](const std::vector<RouteStep>& route) {
        return route.empty() ? std::nullopt : std::optional<std::string>(RouteText(route));
    };
    return m_c.Run(changed, failure) &&
           AppendAudit(m_c, {steps.empty() ? "route delete" : "route set", product, text(oldSteps), text(steps)},
                       change.changedMs, failure);
}

StoreResult<void> RouteStore::Set(const std::string& product, const std::vector<RouteStep>& steps,
                                  const RouteChange& change) {
    int deleted = 0;
    return m_c.Write([&](QSqlError& failure) { return Replace(product, steps, change, deleted, failure); });
}

StoreResult<void> RouteStore::Delete(const std::string& product, const RouteChange& change) {
    int deleted = 0;
    bool none = false;
    StoreResult<void> written = m_c.Write([&](QSqlError& failure) {
        if (!Replace(product, {}, change, deleted, failure))
            return false;
        // Nothing to delete changes nothing, not even the history.
        none = deleted == 0;
        if (none)
            failure = QSqlError(QString(), QStringLiteral("no route to delete"));
        return !none;
    });
    if (none)
        return m_c.Fail(StoreError::Kind::NotFound, QString::fromStdString(product) + QStringLiteral(" has no route"));
    return written;
}

StoreResult<std::vector<Route>> RouteStore::Routes(const std::optional<std::string>& product) {
    if (!m_c.IsOpen())
        return m_c.NotOpen();
    QSqlQuery query(m_c.Db());
    QString sql = QStringLiteral("SELECT product, operation, retest_limit FROM routes");
    QVariantList values;
    if (product) {
        sql += QStringLiteral(" WHERE product = ?");
        values.push_back(Utf8(*product));
    }
    if (StoreResult<void> selected = m_c.Select(query, sql + QStringLiteral(" ORDER BY product, seq"), values, 0);
        !selected)
        return selected.error();
    std::vector<Route> routes;
    while (query.next()) {
        const std::string name = Utf8From(query.value(0));
        if (routes.empty() || routes.back().product != name)
            routes.push_back({name, {}});
        routes.back().steps.push_back({Utf8From(query.value(1)), query.value(2).toInt()});
    }
    return routes;
}

}  // namespace tamrisk
