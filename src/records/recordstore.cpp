#include "recordstore.h"

namespace tamrisk {

RecordStore::RecordStore() = default;

bool RecordStore::Open(const QString& location, QString& error) {
    m_claims.Reset();
    m_schemaVersion = 0;
    // The open's failures name the location as shown: a URL's password masked.
    const auto refuse = [&] {
        StoreError failure = m_connection.LastError();
        failure.location = ShownLocation(location);
        m_connection.Close(failure);
        error = failure.Text();
        return false;
    };
    if (!m_connection.Connect(location))
        return refuse();
    QString ignored;
    if (!OpenSchema(m_connection, m_schemaVersion, ignored))
        return refuse();
    m_connection.SetOpen(true);
    return true;
}

}  // namespace tamrisk
