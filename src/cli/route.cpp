// tamrisk-cli route: products' routes, set, shown and deleted where every
// station sees them; here the dispatch and what the process commands share.

#include "processactions.h"

#include "cli.h"
#include "clioperationrecord.h"
#include "clisession.h"
#include "process.h"

#include <ostream>

namespace tamrisk {

int OpenProcessRecords(const ParsedArgs& args, RecordStore& store, std::ostream& err) {
    StoreResult<std::optional<RecordsRoute>> route = RouteRecords(RecordsLocation(args));
    if (!route)
        return StoreFailed(err, "cannot open records", route.error());
    if (!*route) {
        CliError(err, "records are off");
        return CliUsage;
    }
    if (StoreResult<void> opened = store.Open((*route)->Claims()); !opened)
        return StoreFailed(err, "cannot open records", opened.error());
    return CliOk;
}

std::optional<std::string> ProcessName(const ParsedArgs& args, const std::string& option, const std::string& what,
                                       std::ostream& err) {
    const std::string name = args.value(option).value_or("");
    if (const std::string problem = NameProblem(what, name); !problem.empty()) {
        UsageError(err, "--" + option + ": " + problem);
        return std::nullopt;
    }
    return name;
}

int RouteCommandLine(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err) {
    return RunAction("route", {{"set", RouteSetAction}, {"show", RouteShowAction}, {"delete", RouteDeleteAction}}, rest,
                     out, err);
}

}  // namespace tamrisk
