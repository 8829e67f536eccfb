// tamrisk-cli route show [--product P]: every product's route (or one), as a
// table (the route as route set takes it), CSV or JSON.

#include "processactions.h"
#include "recordsactions.h"

#include "cli.h"
#include "clisession.h"
#include "process.h"
#include "reports.h"
#include "terminalsink.h"

#include <ostream>

namespace tamrisk {

int RouteShowAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err) {
    const ParsedArgs args = ParseArgs(rest, {"records", "product", "format"}, {});
    if (!args.error.empty())
        return UsageError(err, args.error);
    if (!args.positional.empty())
        return UsageError(err, "route show takes no argument besides its options");
    std::optional<std::string> product;
    if (args.value("product")) {
        product = ProcessName(args, "product", "product", err);
        if (!product)
            return CliUsage;
    }
    const auto format = FormatNamed(args.value("format").value_or("table"), ListFormats);
    if (!format)
        return UsageError(err, "--format takes " + FormatChoices(ListFormats));
    return PrintRecordsListing<Route>(
        args, *format, out, err, [&product](RecordStore& store) { return store.Routes().Routes(product); },
        &RoutesJson, &RoutesCsv, [](const std::vector<Route>& routes) {
            std::vector<std::vector<std::string>> rows = {{"PRODUCT", "ROUTE"}};
            for (const Route& route : routes)
                rows.push_back({EscapeControls(route.product), EscapeControls(RouteText(route.steps))});
            return rows;
        });
}

}  // namespace tamrisk
