#include "audittrail.h"

#include "recordrows.h"

#include <QCryptographicHash>
#include <QSqlQuery>

namespace tamrisk {

namespace {

void AddField(QByteArray& text, const std::string& field) {
    text += QByteArray::number(static_cast<qulonglong>(field.size()));
    text += ':';
    text += QByteArray::fromStdString(field);
    text += '\n';
}

// NULL is written as "-", a text (even an empty one) with its length first.
void AddField(QByteArray& text, const std::optional<std::string>& field) {
    if (field)
        AddField(text, *field);
    else
        text += "-\n";
}

}  // namespace

std::string AuditEntrySha256(const AuditEntry& entry) {
    QByteArray text;
    AddField(text, std::to_string(entry.seq));
    AddField(text, std::to_string(entry.atMs));
    AddField(text, entry.who);
    AddField(text, entry.station);
    AddField(text, entry.login);
    AddField(text, entry.change.action);
    AddField(text, entry.change.subject);
    AddField(text, entry.change.oldValue);
    AddField(text, entry.change.newValue);
    AddField(text, entry.change.reason);
    AddField(text, entry.previousSha256);
    return QCryptographicHash::hash(text, QCryptographicHash::Sha256).toHex().toStdString();
}

bool AppendAudit(StoreConnection& c, const AuditChange& change, qint64 atMs, QSqlError& failure) {
    return AppendAudit(c, change, atMs, c.ActorWho(), c.ActorStation(), failure);
}

bool AppendAudit(StoreConnection& c, const AuditChange& change, qint64 atMs, const std::string& who,
                 const std::string& station, QSqlError& failure) {
    // Moving the head on first takes its row lock: a second writer waits here
    // until this transaction ends, then reads the head this one left.
    QSqlQuery head(c.Db());
    head.prepare(QStringLiteral("UPDATE audit_head SET seq = seq + 1 WHERE one = 1"));
    if (!c.Run(head, failure))
        return false;
    QSqlQuery read(c.Db());
    read.prepare(QStringLiteral("SELECT seq, sha256, ") + c.Dialect().CurrentLogin() +
                 QStringLiteral(" FROM audit_head WHERE one = 1"));
    if (!c.Run(read, failure))
        return false;
    if (!read.next()) {
        failure = QSqlError(QString(), QStringLiteral("the audit trail has no head"));
        return false;
    }
    AuditEntry entry{.seq = read.value(0).toLongLong(),
                     .atMs = atMs,
                     .who = who,
                     .station = station,
                     .login = Utf8From(read.value(2)),
                     .change = change,
                     .previousSha256 = Utf8From(read.value(1)),
                     .sha256 = {}};
    entry.sha256 = AuditEntrySha256(entry);
    QSqlQuery insert(c.Db());
    insert.prepare(QStringLiteral(
        "INSERT INTO audit_trail (seq, at_ms, who, station, login, action, subject, old_value, new_value, reason,"
        " previous_sha256, sha256) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    for (const QVariant& value :
         {QVariant(entry.seq), QVariant(entry.atMs), Utf8(entry.who), Utf8(entry.station), Utf8(entry.login),
          Utf8(change.action), Utf8(change.subject), NullableUtf8(change.oldValue), NullableUtf8(change.newValue),
          NullableUtf8(change.reason), Utf8(entry.previousSha256), Utf8(entry.sha256)})
        insert.addBindValue(value);
    if (!c.Run(insert, failure))
        return false;
    QSqlQuery moved(c.Db());
    moved.prepare(QStringLiteral("UPDATE audit_head SET sha256 = ? WHERE one = 1"));
    moved.addBindValue(Utf8(entry.sha256));
    return c.Run(moved, failure);
}

namespace {

constexpr const char* EntryColumns =
    "seq, at_ms, who, station, login, action, subject, old_value, new_value, reason, previous_sha256, sha256";

std::optional<std::string> NullableFrom(const QVariant& value) {
    if (value.isNull())
        return std::nullopt;
    return Utf8From(value);
}

// The entry of the current row of `query`, read as EntryColumns lists it.
AuditEntry EntryFrom(const QSqlQuery& query) {
    return AuditEntry{.seq = query.value(0).toLongLong(),
                      .atMs = query.value(1).toLongLong(),
                      .who = Utf8From(query.value(2)),
                      .station = Utf8From(query.value(3)),
                      .login = Utf8From(query.value(4)),
                      .change = {Utf8From(query.value(5)), Utf8From(query.value(6)), NullableFrom(query.value(7)),
                                 NullableFrom(query.value(8)), NullableFrom(query.value(9))},
                      .previousSha256 = Utf8From(query.value(10)),
                      .sha256 = Utf8From(query.value(11))};
}

}  // namespace

AuditStore::AuditStore(StoreConnection& connection) : m_c(connection) {}

StoreResult<std::vector<AuditEntry>> AuditStore::List(qint64 sinceMs, int limit) {
    if (!m_c.IsOpen())
        return m_c.NotOpen();
    QSqlQuery query(m_c.Db());
    if (StoreResult<void> selected = m_c.Select(
            query,
            QStringLiteral("SELECT %1 FROM audit_trail WHERE at_ms >= ? ORDER BY seq DESC").arg(QLatin1String(EntryColumns)),
            {QVariant(sinceMs)}, limit);
        !selected)
        return selected.error();
    std::vector<AuditEntry> entries;
    while (query.next())
        entries.push_back(EntryFrom(query));
    return entries;
}

StoreResult<AuditCheck> AuditStore::Verify() {
    if (!m_c.IsOpen())
        return m_c.NotOpen();
    QSqlQuery head(m_c.Db());
    if (StoreResult<void> selected =
            m_c.Select(head, QStringLiteral("SELECT seq, sha256 FROM audit_head WHERE one = 1"), {}, 0);
        !selected)
        return selected.error();
    if (!head.next())
        return m_c.Fail(StoreError::Kind::StatementFailed, QStringLiteral("the audit trail has no head"));
    const qint64 headSeq = head.value(0).toLongLong();
    const std::string headSha256 = Utf8From(head.value(1));
    head.finish();
    // The head is read first: an entry it names was committed with it, so
    // entries appended while this reads are left out, not taken for a break.
    QSqlQuery rows(m_c.Db());
    if (StoreResult<void> selected = m_c.Select(
            rows,
            QStringLiteral("SELECT %1 FROM audit_trail WHERE seq <= ? ORDER BY seq").arg(QLatin1String(EntryColumns)),
            {QVariant(headSeq)}, 0);
        !selected)
        return selected.error();
    AuditCheck check;
    std::optional<AuditEntry> previous;
    while (rows.next()) {
        AuditEntry entry = EntryFrom(rows);
        ++check.entries;
        const qint64 expectedSeq = previous ? previous->seq + 1 : 1;
        const std::string expectedPrevious = previous ? previous->sha256 : std::string();
        std::optional<AuditBreak::Kind> broken;
        if (entry.seq != expectedSeq)
            broken = AuditBreak::Kind::EntryMissing;
        else if (AuditEntrySha256(entry) != entry.sha256)
            broken = AuditBreak::Kind::ContentChanged;
        else if (entry.previousSha256 != expectedPrevious)
            broken = AuditBreak::Kind::ChainBroken;
        if (broken) {
            check.broken = AuditBreak{*broken, std::move(entry), headSeq};
            return check;
        }
        previous = std::move(entry);
    }
    const qint64 lastSeq = previous ? previous->seq : 0;
    const std::string lastSha256 = previous ? previous->sha256 : std::string();
    if (lastSeq != headSeq)
        check.broken = AuditBreak{AuditBreak::Kind::LaterMissing, std::move(previous), headSeq};
    else if (lastSha256 != headSha256)
        check.broken = AuditBreak{AuditBreak::Kind::HeadMismatch, std::move(previous), headSeq};
    return check;
}

}  // namespace tamrisk
