#include "holdstore.h"

#include "audittrail.h"
#include "recordrows.h"

#include <QSqlQuery>

namespace tamrisk {

HoldStore::HoldStore(StoreConnection& connection) : m_c(connection) {}

AuditChange HoldAudit(const std::string& unit, const std::string& reason) {
    return {"unit hold", unit, std::nullopt, "on hold", reason};
}

StoreResult<void> HoldStore::Hold(const HoldChange& change) {
    return m_c.Write([&](QSqlError& failure) {
        QSqlQuery insert(m_c.Db());
        insert.prepare(QStringLiteral("INSERT INTO unit_holds (record_id, unit, operation, held_ms, held_by, station,"
                                      " reason) VALUES (?, ?, '', ?, ?, ?, ?)"));
        for (const QVariant& value : {Utf8(change.recordId), Utf8(change.unit), QVariant(change.atMs),
                                      Utf8(change.by), Utf8(change.station), Utf8(change.reason)})
            insert.addBindValue(value);
        return m_c.Run(insert, failure) &&
               AppendAudit(m_c, HoldAudit(change.unit, change.reason), change.atMs, failure);
    });
}

StoreResult<Released> HoldStore::Release(const HoldChange& change) {
    Released released;
    StoreResult<void> written = m_c.Write([&](QSqlError& failure) {
        QSqlQuery release(m_c.Db());
        release.prepare(QStringLiteral("UPDATE unit_holds SET released_ms = ?, released_by = ?, release_reason = ?,"
                                       " release_record_id = ? WHERE unit = ? AND released_ms IS NULL"));
        for (const QVariant& value : {QVariant(change.atMs), Utf8(change.by), Utf8(change.reason),
                                      Utf8(change.recordId), Utf8(change.unit)})
            release.addBindValue(value);
        if (!m_c.Run(release, failure))
            return false;
        released.holds = release.numRowsAffected();
        QSqlQuery free(m_c.Db());
        free.prepare(QStringLiteral("DELETE FROM units_in_test WHERE unit = ?"));
        free.addBindValue(Utf8(change.unit));
        if (!m_c.Run(free, failure))
            return false;
        released.freed = free.numRowsAffected() > 0;
        if (released.holds == 0 && !released.freed)
            return true;
        return AppendAudit(m_c,
                           {"unit release", change.unit, released.holds > 0 ? "on hold" : "in test",
                            released.holds > 0 ? "released" : "freed from test", change.reason},
                           change.atMs, failure);
    });
    if (!written)
        return written.error();
    if (released.holds == 0 && !released.freed)
        return m_c.Fail(StoreError::Kind::NotFound,
                        QString::fromStdString(change.unit) + QStringLiteral(" is neither on hold nor in test"));
    return released;
}

}  // namespace tamrisk
