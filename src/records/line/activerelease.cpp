#include "activerelease.h"

#include "storethread.h"

#include <QDateTime>

namespace tamrisk {

std::string KeptReleaseNotice(const ScriptRelease& release) {
    return "the line cannot be reached: running release " + std::to_string(release.number) + " kept at this station";
}

ActiveReleases::ActiveReleases(RecordsRoute route)
    : m_route(std::move(route)),
      m_records(std::make_unique<StoreThread>(m_route.Claims(), QStringLiteral("releases"))) {
    if (!m_route.line.isEmpty())
        m_local = std::make_unique<StoreThread>(m_route.local, QStringLiteral("kept releases"));
}

ActiveReleases::~ActiveReleases() = default;

StoreResult<TakenRelease> ActiveReleases::Take(const std::string& product, const std::string& operation) {
    const auto active = [&](RecordStore& store) { return store.Releases().Active(product, operation); };
    StoreResult<ScriptRelease> taken = m_records->Ask<ScriptRelease>(active);
    if (!m_local)
        return taken ? StoreResult<TakenRelease>(TakenRelease{*std::move(taken)}) : taken.error();
    if (taken) {
        TakenRelease release{*std::move(taken)};
        const StoreResult<void> kept =
            m_local->Ask<void>([&](RecordStore& store) { return store.Releases().Keep(release.release); });
        if (!kept)
            release.notice = "the release is not kept at this station: " + kept.error().Text().toStdString();
        return release;
    }
    if (!taken.error().OutOfReach())
        return taken.error();
    StoreResult<ScriptRelease> copy = m_local->Ask<ScriptRelease>(active);
    if (!copy)
        return taken.error();
    TakenRelease release{*std::move(copy), TakenRelease::Source::KeptCopy};
    release.notice = KeptReleaseNotice(release.release);
    return release;
}

std::string ActiveReleases::TextToRun(const ScriptRelease& release, const std::string& station, std::string& notice) {
    const StoreResult<std::string> progress =
        Own().Ask<std::string>([&](RecordStore& store) { return store.Progresses().Progress(release.id, station); });
    if (!progress && progress.error().kind != StoreError::Kind::NotFound)
        notice = "the release runs from its own serial numbers: this station's progress through it cannot be read: " +
                 progress.error().Text().toStdString();
    return ReleaseTextToRun(release.script, progress ? std::optional(*progress) : std::nullopt);
}

StoreResult<void> ActiveReleases::KeepProgress(qint64 releaseId, const std::string& station,
                                               const std::string& script) {
    const qint64 nowMs = QDateTime::currentMSecsSinceEpoch();
    return Own().Ask<void>(
        [&](RecordStore& store) { return store.Progresses().KeepProgress(releaseId, station, script, nowMs); });
}

}  // namespace tamrisk
