// tamrisk-cli route set --product P OPERATION[:LIMIT]...: replaces the
// product's route, the change kept with who made it; runs going on keep
// theirs, the next entry takes the new one.

#include "processactions.h"

#include "cli.h"
#include "clilogin.h"
#include "clisession.h"
#include "process.h"

#include <QDateTime>

#include <ostream>

namespace tamrisk {

int RouteSetAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err) {
    const ParsedArgs args = ParseArgs(rest, WithLogInOptions({"records", "product"}), {});
    if (!args.error.empty())
        return UsageError(err, args.error);
    const auto product = ProcessName(args, "product", "product", err);
    if (!product)
        return CliUsage;
    std::string problem;
    const auto steps = ParseRoute(args.positional, problem);
    if (!steps)
        return UsageError(err, "route set: " + problem);
    RecordStore store;
    if (const int status = OpenProcessRecords(args, store, err); status != CliOk)
        return status;
    const CliLogIn login = LogInAt(store, args, Privilege::ManageRoutes, err);
    if (login.Refused())
        return login.status;
    const RecordHeader who = NewRecordHeader("route");
    if (StoreResult<void> set = store.Routes().Set(*product, *steps, {login.Who(), who.station,
                                                                      QDateTime::currentMSecsSinceEpoch()});
        !set)
        return StoreFailed(err, "cannot set the route", set.error());
    out << *product << ": " << RouteOperations(*steps) << '\n';
    return CliOk;
}

}  // namespace tamrisk
