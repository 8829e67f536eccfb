#include "operatorstore.h"

#include "audittrail.h"
#include "pin.h"
#include "recordrows.h"

#include <QDateTime>
#include <QSqlQuery>

namespace tamrisk {

namespace {

// The columns of a person as OperatorFrom reads them; the hash, where read, after them.
constexpr const char* PersonColumns = "id, name, role, disabled, failed_pins, locked_until_ms, added_ms";

// The person of the current row of `query`; none for a role this program does not know.
std::optional<Operator> OperatorFrom(const QSqlQuery& query) {
    const std::optional<Role> role = ParseRole(Utf8From(query.value(2)));
    if (!role)
        return std::nullopt;
    return Operator{.id = Utf8From(query.value(0)),
                    .name = Utf8From(query.value(1)),
                    .role = *role,
                    .disabled = query.value(3).toBool(),
                    .failedPins = query.value(4).toInt(),
                    .lockedUntilMs = query.value(5).toLongLong(),
                    .addedMs = query.value(6).toLongLong()};
}

}  // namespace

OperatorStore::OperatorStore(StoreConnection& connection) : m_c(connection) {}

StoreError OperatorStore::Refused(const std::string& id, const QString& why) const {
    StoreError error = m_c.Fail(StoreError::Kind::StatementFailed,
                                QStringLiteral("operator ") + QString::fromStdString(id) + QStringLiteral(": ") + why);
    error.refused = true;
    return error;
}

StoreError OperatorStore::NoSuch(const std::string& id) const {
    return m_c.Fail(StoreError::Kind::NotFound, QStringLiteral("no operator ") + QString::fromStdString(id));
}

StoreResult<void> OperatorStore::Add(const Operator& person) {
    if (!OperatorIdWellFormed(person.id))
        return Refused(person.id, QStringLiteral("not an operator ID (1 to 64 characters, no control characters,"
                                                 " no blank at either end)"));
    if (person.pinHash.empty())
        return Refused(person.id, QStringLiteral("no PIN given"));
    bool exists = false;
    StoreResult<void> written = m_c.Write([&](QSqlError& failure) {
        QSqlQuery find(m_c.Db());
        find.prepare(QStringLiteral("SELECT 1 FROM operators WHERE id = ?"));
        find.addBindValue(Utf8(person.id));
        if (!m_c.Run(find, failure))
            return false;
        exists = find.next();
        if (exists) {
            failure = QSqlError(QString(), QStringLiteral("the operator exists"));
            return false;
        }
        QSqlQuery insert(m_c.Db());
        insert.prepare(
            QStringLiteral("INSERT INTO operators (id, name, role, pin_hash, disabled, added_ms)"
                           " VALUES (?, ?, ?, ?, ?, ?)"));
        for (const QVariant& value : {Utf8(person.id), Utf8(person.name), Utf8(std::string(RoleName(person.role))),
                                      Utf8(person.pinHash), QVariant(person.disabled), QVariant(person.addedMs)})
            insert.addBindValue(value);
        // The trail names the person's role, never their PIN nor its hash.
        return m_c.Run(insert, failure) &&
               AppendAudit(m_c, {"operator add", person.id, std::nullopt, std::string(RoleName(person.role))},
                           person.addedMs > 0 ? person.addedMs : QDateTime::currentMSecsSinceEpoch(), failure);
    });
    if (exists)
        return Refused(person.id, QStringLiteral("already in the records"));
    return written;
}

StoreResult<std::vector<Operator>> OperatorStore::List() {
    if (!m_c.IsOpen())
        return m_c.NotOpen();
    QSqlQuery query(m_c.Db());
    if (StoreResult<void> selected =
            m_c.Select(query, QStringLiteral("SELECT %1 FROM operators ORDER BY id").arg(QLatin1String(PersonColumns)),
                       {}, 0);
        !selected)
        return selected.error();
    std::vector<Operator> people;
    while (query.next()) {
        std::optional<Operator> person = OperatorFrom(query);
        if (!person)
            return Refused(Utf8From(query.value(0)), QStringLiteral("a role this program does not know"));
        people.push_back(std::move(*person));
    }
    return people;
}

StoreResult<void> OperatorStore::Read(const std::string& id, Operator& person, bool& found, bool withHash) {
    if (!m_c.IsOpen())
        return m_c.NotOpen();
    QSqlQuery query(m_c.Db());
    QString sql = QStringLiteral("SELECT %1").arg(QLatin1String(PersonColumns));
    if (withHash)
        sql += QStringLiteral(", pin_hash");
    if (StoreResult<void> selected =
            m_c.Select(query, sql + QStringLiteral(" FROM operators WHERE id = ?"), {Utf8(id)}, 0);
        !selected)
        return selected;
    found = query.next();
    if (!found)
        return {};
    std::optional<Operator> read = OperatorFrom(query);
    if (!read)
        return Refused(id, QStringLiteral("a role this program does not know"));
    person = std::move(*read);
    if (withHash)
        person.pinHash = Utf8From(query.value(7));
    return {};
}

StoreResult<Operator> OperatorStore::Find(const std::string& id) {
    Operator person;
    bool found = false;
    if (StoreResult<void> read = Read(id, person, found, false); !read)
        return read.error();
    if (!found)
        return NoSuch(id);
    return person;
}

StoreResult<void> OperatorStore::Change(const std::string& id, const QString& set, const QVariantList& values,
                                        const AuditChange& audit, const char* oldColumn) {
    int changed = 0;
    StoreResult<void> written = m_c.Write([&](QSqlError& failure) {
        changed = 0;
        AuditChange entry = audit;
        if (oldColumn != nullptr) {
            QSqlQuery old(m_c.Db());
            old.prepare(QStringLiteral("SELECT %1 FROM operators WHERE id = ?").arg(QLatin1String(oldColumn)));
            old.addBindValue(Utf8(id));
            if (!m_c.Run(old, failure))
                return false;
            if (!old.next())
                return true;
            entry.oldValue = Utf8From(old.value(0));
        }
        QSqlQuery update(m_c.Db());
        update.prepare(QStringLiteral("UPDATE operators SET ") + set + QStringLiteral(" WHERE id = ?"));
        for (const QVariant& value : values)
            update.addBindValue(value);
        update.addBindValue(Utf8(id));
        if (!m_c.Run(update, failure))
            return false;
        changed = update.numRowsAffected();
        // A value set to what it was is no change for the trail.
        if (changed == 0 || (oldColumn != nullptr && entry.oldValue == entry.newValue))
            return true;
        return AppendAudit(m_c, entry, QDateTime::currentMSecsSinceEpoch(), failure);
    });
    if (!written)
        return written;
    if (changed == 0)
        return NoSuch(id);
    return {};
}

StoreResult<void> OperatorStore::SetRole(const std::string& id, Role role) {
    const std::string name(RoleName(role));
    return Change(id, QStringLiteral("role = ?"), {Utf8(name)}, {"operator role", id, std::nullopt, name}, "role");
}

StoreResult<void> OperatorStore::SetName(const std::string& id, const std::string& name) {
    return Change(id, QStringLiteral("name = ?"), {Utf8(name)}, {"operator name", id, std::nullopt, name}, "name");
}

StoreResult<void> OperatorStore::SetPin(const std::string& id, const std::string& pinHash) {
    if (pinHash.empty())
        return Refused(id, QStringLiteral("no PIN given"));
    // The trail says that the PIN changed, never to what.
    return Change(id, QStringLiteral("pin_hash = ?, failed_pins = 0, locked_until_ms = 0"), {Utf8(pinHash)},
                  {"operator pin", id});
}

StoreResult<void> OperatorStore::Disable(const std::string& id) {
    return Change(id, QStringLiteral("disabled = ?"), {QVariant(true)}, {"operator disable", id});
}

StoreResult<bool> OperatorStore::AnyOperators() {
    if (!m_c.IsOpen())
        return m_c.NotOpen();
    QSqlQuery query(m_c.Db());
    if (StoreResult<void> selected = m_c.Select(query, QStringLiteral("SELECT id FROM operators"), {}, 1); !selected)
        return selected.error();
    return query.next();
}

StoreResult<LogInOutcome> OperatorStore::LogIn(const std::string& id, std::string_view pin, qint64 nowMs) {
    using V = LogInOutcome::Verdict;
    Operator person;
    bool found = false;
    if (StoreResult<void> read = Read(id, person, found, true); !read)
        return read.error();
    if (!found)
        return LogInOutcome{V::Unknown};
    if (person.disabled)
        return LogInOutcome{V::Disabled};
    if (person.lockedUntilMs > nowMs)
        return LogInOutcome{.verdict = V::Locked, .lockedUntilMs = person.lockedUntilMs};
    // The hash is checked outside the transaction: it takes a tenth of a second
    // and a records file would stay locked to every other writer meanwhile.
    const bool right = PinMatches(person.pinHash, pin);
    person.pinHash.clear();
    // The count is changed in the database, not from what was read: another
    // station may have counted a wrong PIN or locked the ID since.
    const QString sql = right ? QStringLiteral(
                                    "UPDATE operators SET failed_pins = 0"
                                    " WHERE id = ? AND NOT disabled AND locked_until_ms <= ?")
                              : QStringLiteral(
                                    "UPDATE operators SET"
                                    " locked_until_ms = CASE WHEN failed_pins + 1 >= ? THEN ?"
                                    " ELSE locked_until_ms END,"
                                    " failed_pins = CASE WHEN failed_pins + 1 >= ? THEN 0"
                                    " ELSE failed_pins + 1 END"
                                    " WHERE id = ? AND NOT disabled AND locked_until_ms <= ?");
    const QVariantList values =
        right ? QVariantList{Utf8(id), nowMs} : QVariantList{PinTries, nowMs + PinLockMs, PinTries, Utf8(id), nowMs};
    int changed = 0;
    StoreResult<void> written = m_c.Write([&](QSqlError& failure) {
        QSqlQuery update(m_c.Db());
        update.prepare(sql);
        for (const QVariant& value : values)
            update.addBindValue(value);
        if (!m_c.Run(update, failure))
            return false;
        changed = update.numRowsAffected();
        if (right || changed == 0)
            return true;
        // This wrong PIN locked the ID when it is locked now: it was not before the count.
        QSqlQuery locked(m_c.Db());
        locked.prepare(QStringLiteral("SELECT locked_until_ms FROM operators WHERE id = ?"));
        locked.addBindValue(Utf8(id));
        if (!m_c.Run(locked, failure))
            return false;
        if (!locked.next() || locked.value(0).toLongLong() <= nowMs)
            return true;
        // Built with QString: gcc 12 takes std::string's operator+ on a short
        // literal here for a write out of bounds (-Warray-bounds).
        AuditChange change;
        change.action = "operator lock";
        change.subject = id;
        change.newValue = QStringLiteral("locked for %1 minutes").arg(PinLockMs / 60000).toStdString();
        change.reason = QStringLiteral("%1 wrong PINs in a row").arg(PinTries).toStdString();
        return AppendAudit(m_c, change, nowMs, failure);
    });
    if (!written)
        return written.error();
    Operator now;
    if (StoreResult<void> again = Read(id, now, found, false); !again)
        return again.error();
    if (!found)
        return LogInOutcome{V::Unknown};
    // Disabled or locked by another station between the read and the count.
    if (changed == 0)
        return now.disabled ? LogInOutcome{V::Disabled}
                            : LogInOutcome{.verdict = V::Locked, .lockedUntilMs = now.lockedUntilMs};
    if (right)
        return LogInOutcome{.verdict = V::Accepted, .person = now};
    if (now.lockedUntilMs > nowMs)
        return LogInOutcome{.verdict = V::Locked, .lockedUntilMs = now.lockedUntilMs};
    return LogInOutcome{.verdict = V::WrongPin, .triesLeft = PinTries - now.failedPins};
}

}  // namespace tamrisk
