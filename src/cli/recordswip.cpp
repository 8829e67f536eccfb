// tamrisk-cli records wip: the work in progress of the line, for each product
// with a route and each operation of it the units waiting for it, in test at
// it and on hold at it, as a table, CSV or JSON.

#include "recordsactions.h"

#include "cli.h"
#include "clisession.h"
#include "outputformats.h"
#include "reports.h"
#include "terminalsink.h"

#include <ostream>

namespace tamrisk {

int RecordsWipAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err) {
    const ParsedArgs args = ParseArgs(rest, {"records", "product", "format"}, {});
    if (!args.error.empty())
        return UsageError(err, args.error);
    if (!args.positional.empty())
        return UsageError(err, "records wip takes no argument besides its options");
    const auto format = FormatNamed(args.value("format").value_or("table"), ListFormats);
    if (!format)
        return UsageError(err, "--format takes " + FormatChoices(ListFormats));
    const std::string product = args.value("product").value_or("");
    return PrintRecordsListing<WipCount>(
        args, *format, out, err, [&product](RecordStore& store) { return store.Wip(product); }, &WipJson, &WipCsv,
        [](const std::vector<WipCount>& counts) {
            std::vector<std::vector<std::string>> rows = {{"PRODUCT", "OPERATION", "WAITING", "IN TEST", "ON HOLD"}};
            for (const WipCount& c : counts) {
                rows.push_back({EscapeControls(c.product), EscapeControls(c.operation), std::to_string(c.waiting),
                                std::to_string(c.inTest), std::to_string(c.onHold)});
            }
            return rows;
        });
}

}  // namespace tamrisk
