#include "releaseprogress.h"

#include "increments.h"
#include "recordrows.h"
#include "scriptlist.h"

#include <QSqlQuery>

#include <algorithm>

namespace tamrisk {

std::string ReleaseTextToRun(const std::string& released, const std::optional<std::string>& progress) {
    if (!progress)
        return released;
    const std::vector<std::string> own = SplitScriptLines(released), kept = SplitScriptLines(*progress);
    const bool continues =
        std::equal(own.begin(), own.end(), kept.begin(), kept.end(), [](const std::string& a, const std::string& b) {
            return HideSteppingDigits(a) == HideSteppingDigits(b);
        });
    return continues ? *progress : released;
}

StoreResult<std::string> ReleaseProgressStore::Progress(qint64 releaseId, const std::string& station) {
    if (!m_c.IsOpen())
        return m_c.NotOpen();
    QSqlQuery query(m_c.Db());
    if (StoreResult<void> selected =
            m_c.Select(query,
                       QStringLiteral("SELECT script FROM release_progress WHERE release_id = ? AND station = ?"),
                       {QVariant(releaseId), Utf8(station)}, 1);
        !selected)
        return selected.error();
    if (!query.next())
        return m_c.Fail(StoreError::Kind::NotFound,
                        QStringLiteral("no progress of this station through release %1").arg(releaseId));
    return BytesFrom(query.value(0));
}

StoreResult<void> ReleaseProgressStore::KeepProgress(qint64 releaseId, const std::string& station,
                                                     const std::string& script, qint64 nowMs) {
    return m_c.Write([&](QSqlError& failure) {
        QSqlQuery keep(m_c.Db());
        return m_c.Run(keep,
                       QStringLiteral("INSERT INTO release_progress (release_id, station, script, updated_ms)"
                                      " VALUES (?, ?, ?, ?) ON CONFLICT (release_id, station)"
                                      " DO UPDATE SET script = excluded.script, updated_ms = excluded.updated_ms"),
                       {QVariant(releaseId), Utf8(station), Bytes(script), QVariant(nowMs)}, failure);
    });
}

}  // namespace tamrisk
