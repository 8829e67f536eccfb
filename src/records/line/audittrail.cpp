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
                     .who = c.ActorWho(),
                     .station = c.ActorStation(),
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

}  // namespace tamrisk
