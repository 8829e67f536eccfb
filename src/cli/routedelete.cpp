// tamrisk-cli route delete --product P: the product's runs go unchecked from
// the next entry on; the deletion is kept with the route's changes.

#include "processactions.h"

#include "cli.h"
#include "clilogin.h"
#include "clisession.h"

#include <QDateTime>

#include <ostream>

namespace tamrisk {

int RouteDeleteAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err) {
    const ParsedArgs args = ParseArgs(rest, WithLogInOptions({"records", "product"}), {});
    if (!args.error.empty())
        return UsageError(err, args.error);
    if (!args.positional.empty())
        return UsageError(err, "route delete takes no argument besides its options");
    const auto product = ProcessName(args, "product", "product", err);
    if (!product)
        return CliUsage;
    RecordStore store;
    if (const int status = OpenProcessRecords(args, store, err); status != CliOk)
        return status;
    const CliLogIn login = LogInAt(store, args, Privilege::ManageRoutes, err);
    if (login.Refused())
        return login.status;
    const RecordHeader who = NewRecordHeader("route");
    if (StoreResult<void> deleted =
            store.Routes().Delete(*product, {login.Who(), who.station, QDateTime::currentMSecsSinceEpoch()});
        !deleted)
        return StoreFailed(err, "cannot delete the route", deleted.error());
    out << *product << ": route deleted\n";
    return CliOk;
}

}  // namespace tamrisk
