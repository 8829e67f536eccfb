#include "claimstore.h"

#include "recordrows.h"

#include <QSqlQuery>

namespace tamrisk {

ClaimStore::ClaimStore(StoreConnection& connection) : m_c(connection) {}

ClaimStore::~ClaimStore() = default;

void ClaimStore::Reset() { m_claimInsert.reset(); }

// One statement against the key (space, data): the first claim inserts the row,
// any later one, of any program or station, finds it there and inserts nothing.
// Two claims at once cannot both win, and the loser's transaction stays sound.
// A first claim is that statement alone, committed on its own and prepared once
// a connection: one round trip to a server rather than five.
StoreResult<ClaimResult> ClaimStore::Claim(const SerialClaimRow& claim, bool again) {
    bool taken = false;
    const auto insert = [&](QSqlError& failure) {
        if (!m_claimInsert) {
            m_claimInsert = std::make_unique<QSqlQuery>(m_c.Db());
            if (!m_claimInsert->prepare(
                    QStringLiteral("INSERT INTO serial_claims (space, data, record_id, station, unit, claimed_ms)"
                                   " VALUES (?, ?, ?, ?, ?, ?) ON CONFLICT (space, data) DO NOTHING"))) {
                failure = m_claimInsert->lastError();
                m_claimInsert.reset();
                return false;
            }
        }
        int i = 0;
        for (const QVariant& value : {Cp1251(claim.space), Cp1251(claim.data), Utf8(claim.recordId),
                                      Utf8(claim.station), Utf8(claim.unit), QVariant(claim.claimedMs)})
            m_claimInsert->bindValue(i++, value);
        if (!m_c.Run(*m_claimInsert, failure))
            return false;
        taken = m_claimInsert->numRowsAffected() == 0;
        m_claimInsert->finish();
        return true;
    };
    if (!again) {
        if (!m_c.IsOpen())
            return m_c.NotOpen();
        const StoreConnection::Watching watching(m_c);
        QSqlError failure;
        if (insert(failure))
            return taken ? ClaimResult::Taken : ClaimResult::Claimed;
        // A busy database is waited for as every write waits, in a transaction of its own.
        if (!m_c.Dialect().IsBusy(failure))
            return m_c.Fail(failure);
    }
    StoreResult<void> written = m_c.Write(
        [&](QSqlError& failure) {
            if (!insert(failure))
                return false;
            if (!taken || !again)
                return true;
            QSqlQuery owner(m_c.Db());
            owner.prepare(QStringLiteral("SELECT record_id FROM serial_claims WHERE space = ? AND data = ?"));
            owner.addBindValue(Cp1251(claim.space));
            owner.addBindValue(Cp1251(claim.data));
            if (!m_c.Run(owner, failure))
                return false;
            taken = !owner.next() || owner.value(0).toString().toStdString() != claim.recordId;
            return true;
        });
    if (!written)
        return written.error();
    return taken ? ClaimResult::Taken : ClaimResult::Claimed;
}

StoreResult<void> ClaimStore::Release(const std::string& space, const std::string& data,
                                      const std::string& recordId) {
    return m_c.Write(
        [&](QSqlError& failure) {
            QSqlQuery query(m_c.Db());
            query.prepare(QStringLiteral("DELETE FROM serial_claims WHERE space = ? AND data = ? AND record_id = ?"));
            for (const QVariant& value : {Cp1251(space), Cp1251(data), Utf8(recordId)})
                query.addBindValue(value);
            return m_c.Run(query, failure);
        });
}

}  // namespace tamrisk
