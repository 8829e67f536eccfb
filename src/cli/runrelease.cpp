#include "runrelease.h"

#include "cli.h"
#include "clioperationrecord.h"
#include "clisession.h"
#include "privileges.h"
#include "record.h"

#include <QFileInfo>

namespace tamrisk {

bool RunsRelease(const ParsedArgs& args) { return args.positional.empty(); }

int TakeRunSource(const ParsedArgs& args, const std::optional<Operator>& person, RunSource& source, std::ostream& err) {
    const auto refuse = [&](const std::string& why, int status) {
        CliError(err, why);
        return status;
    };
    if (!RunsRelease(args)) {
        source.path = args.positional[0];
        source.name = QFileInfo(QString::fromStdString(source.path)).fileName().toStdString();
        if (!person)
            return CliOk;
        if (!May(person->role, Privilege::EngineeringRun))
            return refuse(RefusalText(person->role, Privilege::EngineeringRun), CliNotPermitted);
        source.engineering = true;
        return CliOk;
    }
    const std::string product = args.value("product").value_or(""), operation = args.value("operation").value_or("");
    const StoreResult<std::optional<RecordsRoute>> route = RouteRecords(RecordsLocation(args));
    if (!route)
        return refuse("cannot take the active release: " + route.error().Text().toStdString(),
                      StoreExitStatus(route.error()));
    if (!*route)
        return refuse("the active release is kept in the records, which are off", CliUsage);
    ActiveReleases releases(**route);
    StoreResult<TakenRelease> taken = releases.Take(product, operation);
    if (!taken) {
        if (taken.error().kind == StoreError::Kind::NotFound)
            return refuse(NoActiveReleaseText(product, operation), CliNoRelease);
        return refuse("cannot take the active release of " + product + " " + operation + ": " +
                          taken.error().Text().toStdString(),
                      StoreExitStatus(taken.error()));
    }
    if (!taken->notice.empty())
        CliError(err, taken->notice);
    ScriptRelease& release = taken->release;
    if (!ReleaseStore::Intact(release))
        return refuse(TamperedReleaseText(release), CliNoRelease);
    std::string notice;
    source.name = release.scriptName;
    source.script = releases.TextToRun(release, DefaultStationName(), notice);
    if (!notice.empty())
        CliError(err, notice);
    if (!release.varsName.empty())
        source.vars = std::move(release.vars);
    source.releaseNumber = release.number;
    source.releaseId = release.id;
    return CliOk;
}

std::string KeepRunProgress(const ParsedArgs& args, const RunSource& source, const std::string& script) {
    const std::string why =
        "cannot keep the progress through release " + std::to_string(source.releaseNumber.value_or(0)) + ": ";
    const StoreResult<std::optional<RecordsRoute>> route = RouteRecords(RecordsLocation(args));
    if (!route)
        return why + route.error().Text().toStdString();
    if (!*route)
        return why + "the records are off";
    const StoreResult<void> kept = ActiveReleases(**route).KeepProgress(source.releaseId, DefaultStationName(), script);
    return kept ? std::string() : why + kept.error().Text().toStdString();
}

}  // namespace tamrisk
