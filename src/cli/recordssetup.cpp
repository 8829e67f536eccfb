// tamrisk-cli records setup: run by the owner of a line's database, makes or
// upgrades the records schema and grants the line's logins their rights: the
// stations' (add records and claims, give back their own claims, enter and
// hold units), the readers' (read only) and the supervisors' (a station's, and
// set routes, release units and free any station's units). The logins themselves are made by the administrator.

#include "recordsactions.h"

#include "cli.h"
#include "clioperationrecord.h"
#include "clisession.h"

#include <QStringList>

#include <ostream>

namespace tamrisk {

int RecordsSetupAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err) {
    const ParsedArgs args = ParseArgs(rest, {"records", "station-role", "reader-role", "supervisor-role"}, {});
    if (!args.error.empty())
        return UsageError(err, args.error);
    if (!args.positional.empty())
        return UsageError(err, "records setup takes no argument besides its options");
    const QString location = RecordsLocation(args);
    if (!RecordStore::IsLineLocation(location))
        return UsageError(err,
                          "records setup sets up a line's database: --records postgresql://OWNER@HOST[:PORT]/DB"
                          " (or TAMRISK_RECORDS)");
    QStringList roles[3];
    const char* const options[] = {"station-role", "reader-role", "supervisor-role"};
    for (int login = 0; login < 3; ++login) {
        const char* option = options[login];
        const auto given = args.repeated.find(option);
        for (const std::string& role : given == args.repeated.end() ? std::vector<std::string>{} : given->second) {
            if (role.empty())
                return UsageError(err, std::string("--") + option + " takes the name of a login");
            roles[login].push_back(QString::fromStdString(role));
        }
    }

    RecordStore store;
    StoreResult<void> opened = store.Open(location);
    if (const StoreResult<void> set = opened ? store.GrantLogins(roles[0], roles[1], roles[2]) : opened; !set)
        return StoreFailed(err, "cannot set up the line's database", set.error());
    out << "records schema version " << store.SchemaVersion() << " in "
        << RecordStore::ShownLocation(location).toStdString() << '\n';
    const auto tell = [&](const char* what, const QStringList& names) {
        if (!names.isEmpty())
            out << what << names.join(QStringLiteral(", ")).toStdString() << '\n';
    };
    tell("station logins (add records and claims, give back their own claims): ", roles[0]);
    tell("reader logins (read only): ", roles[1]);
    tell("supervisor logins (a station's rights, and set routes, release units, free any station's units): ",
         roles[2]);
    return CliOk;
}

}  // namespace tamrisk
