#include "releasestore.h"

#include "audittrail.h"
#include "process.h"
#include "recordrows.h"
#include "scriptcheck.h"

#include <QCryptographicHash>
#include <QSqlQuery>

namespace tamrisk {

namespace {

// The columns of a release as ReleaseFrom reads them; its bytes, where read, after them.
constexpr const char* ReleaseColumns =
    "id, product, operation, number, script_name, script_sha256, vars_name, vars_sha256, released_by, released_ms,"
    " station, approved_by, approved_ms, revoked_by, revoked_ms, revoke_reason";
constexpr int BytesColumn = 16;

// How many times a release is tried again after another station took its id or number.
constexpr int ReleaseAttempts = 20;

std::optional<std::string> OptionalText(const QVariant& value) {
    return value.isNull() ? std::nullopt : std::optional(Utf8From(value));
}

std::optional<qint64> OptionalMs(const QVariant& value) {
    return value.isNull() ? std::nullopt : std::optional(value.toLongLong());
}

ScriptRelease ReleaseFrom(const QSqlQuery& query, bool withBytes) {
    ScriptRelease release{.id = query.value(0).toLongLong(),
                          .product = Utf8From(query.value(1)),
                          .operation = Utf8From(query.value(2)),
                          .number = query.value(3).toInt(),
                          .scriptName = Utf8From(query.value(4)),
                          .scriptSha256 = Utf8From(query.value(5)),
                          .varsName = Utf8From(query.value(6)),
                          .varsSha256 = Utf8From(query.value(7)),
                          .releasedBy = Utf8From(query.value(8)),
                          .station = Utf8From(query.value(10)),
                          .releasedMs = query.value(9).toLongLong(),
                          .approvedBy = OptionalText(query.value(11)),
                          .approvedMs = OptionalMs(query.value(12)),
                          .revokedBy = OptionalText(query.value(13)),
                          .revokedMs = OptionalMs(query.value(14)),
                          .revokeReason = OptionalText(query.value(15))};
    if (withBytes) {
        release.script = BytesFrom(query.value(BytesColumn));
        release.vars = BytesFrom(query.value(BytesColumn + 1));
    }
    return release;
}

QString Columns(bool withBytes) {
    return QLatin1String(ReleaseColumns) + (withBytes ? QStringLiteral(", script, vars") : QString());
}

// "release N"
std::string Named(qint64 id) { return "release " + std::to_string(id); }

// What the audit trail names a release by, and the value it gives it.
std::string AuditSubject(const ScriptRelease& release) {
    return release.product + " " + release.operation + " release " + std::to_string(release.number);
}
std::string AuditValue(const ScriptRelease& release) { return release.scriptName + " " + release.scriptSha256; }

}  // namespace

std::string Sha256Hex(const std::string& bytes) {
    return QCryptographicHash::hash(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())),
                                    QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}

std::string ReleaseProblem(const NewRelease& release) {
    for (const auto& [what, name] : {std::pair{"product", &release.product}, {"operation", &release.operation}}) {
        if (std::string problem = NameProblem(what, *name); !problem.empty())
            return problem;
    }
    if (release.script.empty())
        return release.scriptName + ": the script is empty";
    CheckVariables variables;
    if (!release.varsName.empty() || !release.vars.empty()) {
        if (std::string error; !ReadCheckVariables(release.vars, variables, error))
            return release.varsName + ": " + error;
    }
    if (std::string problem = ScriptProblem(release.script, variables); !problem.empty())
        return release.scriptName + ": " + problem;
    return {};
}

std::string TamperedReleaseText(const ScriptRelease& release) {
    return Named(release.number) + " of " + release.product + " " + release.operation +
           ": its text no longer matches its SHA-256";
}

std::string NoActiveReleaseText(const std::string& product, const std::string& operation) {
    return "no active release of " + product + " " + operation;
}

ReleaseStore::ReleaseStore(StoreConnection& connection) : m_c(connection) {}

StoreError ReleaseStore::Refused(const QString& why) const {
    StoreError error = m_c.Fail(StoreError::Kind::StatementFailed, why);
    error.refused = true;
    return error;
}

bool ReleaseStore::Intact(const ScriptRelease& release) {
    return Sha256Hex(release.script) == release.scriptSha256 &&
           (release.varsSha256.empty() ? release.vars.empty() : Sha256Hex(release.vars) == release.varsSha256);
}

StoreResult<ScriptRelease> ReleaseStore::Release(const NewRelease& made) {
    if (std::string problem = ReleaseProblem(made); !problem.empty())
        return Refused(QString::fromStdString(problem));
    ScriptRelease release{.product = made.product,
                          .operation = made.operation,
                          .scriptName = made.scriptName,
                          .script = made.script,
                          .scriptSha256 = Sha256Hex(made.script),
                          .varsName = made.varsName,
                          .vars = made.vars,
                          .varsSha256 =
                              made.varsName.empty() && made.vars.empty() ? std::string() : Sha256Hex(made.vars),
                          .releasedBy = made.releasedBy,
                          .station = made.station,
                          .releasedMs = made.releasedMs};
    // The next id and number are read and taken in one transaction; a station
    // that took either first leaves this insert with nothing done, and the
    // whole transaction is made again with the numbers after it.
    for (int attempt = 0; attempt < ReleaseAttempts; ++attempt) {
        bool taken = false;
        StoreResult<void> written = m_c.Write([&](QSqlError& failure) {
            QSqlQuery next(m_c.Db());
            if (!m_c.Run(next,
                         QStringLiteral("SELECT (SELECT COALESCE(MAX(id), 0) FROM script_releases),"
                                        " (SELECT COALESCE(MAX(number), 0) FROM script_releases"
                                        " WHERE product = ? AND operation = ?)"),
                         {Utf8(release.product), Utf8(release.operation)}, failure))
                return false;
            if (!next.next()) {
                failure = QSqlError(QString(), QStringLiteral("no next release number"));
                return false;
            }
            release.id = next.value(0).toLongLong() + 1;
            release.number = next.value(1).toInt() + 1;
            QSqlQuery insert(m_c.Db());
            if (!m_c.Run(insert,
                         QStringLiteral("INSERT INTO script_releases (id, product, operation, number, script_name,"
                                        " script, script_sha256, vars_name, vars, vars_sha256, released_by,"
                                        " released_ms, station) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"
                                        " ON CONFLICT DO NOTHING"),
                         {QVariant(release.id), Utf8(release.product), Utf8(release.operation),
                          QVariant(release.number), Utf8(release.scriptName), Bytes(release.script),
                          Utf8(release.scriptSha256), Utf8(release.varsName), Bytes(release.vars),
                          Utf8(release.varsSha256), Utf8(release.releasedBy), QVariant(release.releasedMs),
                          Utf8(release.station)},
                         failure))
                return false;
            taken = insert.numRowsAffected() == 0;
            if (taken)
                return true;
            return AppendAudit(m_c, {"script release", AuditSubject(release), std::nullopt, AuditValue(release)},
                               release.releasedMs, failure);
        });
        if (!written)
            return written.error();
        if (!taken)
            return release;
    }
    return m_c.Fail(StoreError::Kind::Busy, QStringLiteral("other stations took every release number tried"));
}

StoreResult<std::vector<ScriptRelease>> ReleaseStore::Read(const QString& where, const QVariantList& values,
                                                           bool withBytes, int limit) {
    if (!m_c.IsOpen())
        return m_c.NotOpen();
    QSqlQuery query(m_c.Db());
    if (StoreResult<void> selected =
            m_c.Select(query,
                       QStringLiteral("SELECT ") + Columns(withBytes) + QStringLiteral(" FROM script_releases") + where,
                       values, limit);
        !selected)
        return selected.error();
    std::vector<ScriptRelease> releases;
    while (query.next())
        releases.push_back(ReleaseFrom(query, withBytes));
    return releases;
}

StoreResult<std::vector<ScriptRelease>> ReleaseStore::List(const ReleaseFilter& filter) {
    QString where;
    QVariantList values;
    for (const auto& [column, name] : {std::pair{"product", &filter.product}, {"operation", &filter.operation}}) {
        if (name->empty())
            continue;
        where += (where.isEmpty() ? QStringLiteral(" WHERE ") : QStringLiteral(" AND ")) + QLatin1String(column) +
                 QStringLiteral(" = ?");
        values.push_back(Utf8(*name));
    }
    StoreResult<std::vector<ScriptRelease>> releases =
        Read(where + QStringLiteral(" ORDER BY product, operation, number"), values, false, 0);
    if (!releases)
        return releases;
    // Ordered by number, the last approved and not revoked of each product and operation is active.
    ScriptRelease* active = nullptr;
    for (ScriptRelease& release : *releases) {
        if (active != nullptr && (active->product != release.product || active->operation != release.operation)) {
            active->active = true;
            active = nullptr;
        }
        if (release.Approved() && !release.Revoked())
            active = &release;
    }
    if (active != nullptr)
        active->active = true;
    return releases;
}

StoreResult<ScriptRelease> ReleaseStore::Find(qint64 id) {
    StoreResult<std::vector<ScriptRelease>> found = Read(QStringLiteral(" WHERE id = ?"), {QVariant(id)}, true, 1);
    if (!found)
        return found.error();
    if (found->empty())
        return m_c.Fail(StoreError::Kind::NotFound, QStringLiteral("no release ") + QString::number(id));
    ScriptRelease release = std::move(found->front());
    StoreResult<ScriptRelease> active = Active(release.product, release.operation);
    if (!active && active.error().kind != StoreError::Kind::NotFound)
        return active.error();
    release.active = active && active->id == release.id;
    return release;
}

StoreResult<ScriptRelease> ReleaseStore::Active(const std::string& product, const std::string& operation) {
    StoreResult<std::vector<ScriptRelease>> found =
        Read(QStringLiteral(" WHERE product = ? AND operation = ? AND approved_ms IS NOT NULL AND revoked_ms IS NULL"
                            " ORDER BY number DESC"),
             {Utf8(product), Utf8(operation)}, true, 1);
    if (!found)
        return found.error();
    if (found->empty())
        return m_c.Fail(StoreError::Kind::NotFound, QString::fromStdString(NoActiveReleaseText(product, operation)));
    found->front().active = true;
    return std::move(found->front());
}

StoreResult<void> ReleaseStore::Change(qint64 id, const std::function<std::string(const ScriptRelease&)>& refusal,
                                       const QString& set, const QVariantList& values, const std::string& action,
                                       const std::optional<std::string>& reason, qint64 nowMs) {
    std::optional<ScriptRelease> release;
    std::string refused;
    StoreResult<void> written = m_c.Write([&](QSqlError& failure) {
        release.reset();
        refused.clear();
        QSqlQuery read(m_c.Db());
        if (!m_c.Run(read,
                     QStringLiteral("SELECT ") + Columns(false) + QStringLiteral(" FROM script_releases WHERE id = ?"),
                     {QVariant(id)}, failure))
            return false;
        if (!read.next())
            return true;
        release = ReleaseFrom(read, false);
        read.finish();
        // What was read decides the refusal; the update's own condition holds
        // it against another station that changed the release meanwhile.
        QSqlQuery update(m_c.Db());
        if (!m_c.Run(update, QStringLiteral("UPDATE script_releases SET ") + set, values, failure))
            return false;
        if (update.numRowsAffected() == 0) {
            QSqlQuery again(m_c.Db());
            if (!m_c.Run(again,
                         QStringLiteral("SELECT ") + Columns(false) +
                             QStringLiteral(" FROM script_releases WHERE id = ?"),
                         {QVariant(id)}, failure))
                return false;
            if (again.next())
                release = ReleaseFrom(again, false);
            refused = refusal(*release);
            if (refused.empty())
                refused = Named(id) + ": changed by another station meanwhile";
            return true;
        }
        return AppendAudit(m_c, {action, AuditSubject(*release), std::nullopt, AuditValue(*release), reason}, nowMs,
                           failure);
    });
    if (!written)
        return written;
    if (!release)
        return m_c.Fail(StoreError::Kind::NotFound, QStringLiteral("no release ") + QString::number(id));
    if (!refused.empty())
        return Refused(QString::fromStdString(refused));
    return {};
}

StoreResult<void> ReleaseStore::Approve(qint64 id, const std::string& approver, qint64 nowMs) {
    const auto refusal = [&](const ScriptRelease& release) -> std::string {
        if (release.Revoked())
            return Named(id) + ": revoked, it may not be approved";
        if (release.Approved())
            return Named(id) + ": already approved by " + release.approvedBy.value_or("");
        if (release.releasedBy == approver)
            return Named(id) + ": approved by the one who released it: another person must approve it";
        return {};
    };
    return Change(id, refusal,
                  QStringLiteral("approved_by = ?, approved_ms = ? WHERE id = ? AND approved_ms IS NULL"
                                 " AND revoked_ms IS NULL AND released_by <> ?"),
                  {Utf8(approver), QVariant(nowMs), QVariant(id), Utf8(approver)}, "script approve", std::nullopt,
                  nowMs);
}

StoreResult<void> ReleaseStore::Revoke(qint64 id, const std::string& by, const std::string& reason, qint64 nowMs) {
    if (reason.find_first_not_of(" \t") == std::string::npos)
        return Refused(QString::fromStdString(Named(id) + ": a revoke needs its reason"));
    const auto refusal = [&](const ScriptRelease& release) -> std::string {
        return release.Revoked() ? Named(id) + ": already revoked by " + release.revokedBy.value_or("") : std::string();
    };
    return Change(id, refusal,
                  QStringLiteral("revoked_by = ?, revoked_ms = ?, revoke_reason = ? WHERE id = ?"
                                 " AND revoked_ms IS NULL"),
                  {Utf8(by), QVariant(nowMs), Utf8(reason), QVariant(id)}, "script revoke", reason, nowMs);
}

StoreResult<void> ReleaseStore::Keep(const ScriptRelease& release) {
    return m_c.Write([&](QSqlError& failure) {
        QSqlQuery drop(m_c.Db());
        if (!m_c.Run(drop,
                     QStringLiteral("DELETE FROM script_releases WHERE id = ? OR (product = ? AND operation = ?"
                                    " AND number = ?)"),
                     {QVariant(release.id), Utf8(release.product), Utf8(release.operation), QVariant(release.number)},
                     failure))
            return false;
        QSqlQuery insert(m_c.Db());
        return m_c.Run(insert,
                       QStringLiteral("INSERT INTO script_releases (") + Columns(true) +
                           QStringLiteral(") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
                       {QVariant(release.id), Utf8(release.product), Utf8(release.operation), QVariant(release.number),
                        Utf8(release.scriptName), Utf8(release.scriptSha256), Utf8(release.varsName),
                        Utf8(release.varsSha256), Utf8(release.releasedBy), QVariant(release.releasedMs),
                        Utf8(release.station), NullableUtf8(release.approvedBy),
                        release.approvedMs ? QVariant(*release.approvedMs) : QVariant(QMetaType::fromType<qint64>()),
                        NullableUtf8(release.revokedBy),
                        release.revokedMs ? QVariant(*release.revokedMs) : QVariant(QMetaType::fromType<qint64>()),
                        NullableUtf8(release.revokeReason), Bytes(release.script), Bytes(release.vars)},
                       failure);
    });
}

}  // namespace tamrisk
