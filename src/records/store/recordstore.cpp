#include "recordstore.h"

#include <QFileInfo>

namespace tamrisk {

RecordStore::RecordStore() = default;

StoreResult<void> RecordStore::Open(const QString& location) {
    m_claims.Reset();
    m_schemaVersion = 0;
    // The open's failures name the location as shown: a URL's password masked.
    const auto refuse = [&](StoreError failure) {
        failure.location = ShownLocation(location);
        m_connection.Close(failure);
        return failure;
    };
    if (StoreResult<void> connected = m_connection.Connect(location); !connected)
        return refuse(connected.error());
    const StoreResult<int> version = OpenSchema(m_connection);
    if (!version)
        return refuse(version.error());
    m_schemaVersion = *version;
    m_connection.SetOpen(true);
    return {};
}

StoreResult<void> RecordStore::OpenToRead(const QString& location, Reading reading) {
    if (reading == Reading::ChangeNothing) {
        QString reason;
        const std::optional<DatabaseTarget> target = ParseLocation(location, reason);
        if (!target)
            return StoreError{StoreError::Kind::NotOpen, ShownLocation(location), reason};
        // Opening a records file makes it when it is not there.
        if (!target->postgresql && !QFileInfo(target->file).isFile())
            return StoreError{StoreError::Kind::NotOpen, {}, QStringLiteral("no records at ") + target->file};
    }
    if (StoreResult<void> opened = Open(location); !opened)
        return opened;
    // A file that takes no writes can still be read.
    if (reading == Reading::MarkAbandoned) {
        (void)MarkAbandoned();
        (void)m_entries.FreeAbandoned();
    }
    return {};
}

}  // namespace tamrisk
