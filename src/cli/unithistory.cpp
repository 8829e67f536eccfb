// tamrisk-cli unit history: every run, refusal, hold and release of one unit
// on the records' line, oldest first, as a table or JSON.

#include "unitactions.h"

#include "cli.h"
#include "clisession.h"
#include "recordsactions.h"
#include "reportfields.h"
#include "reports.h"
#include "terminalsink.h"

#include <ostream>

namespace tamrisk {

int UnitHistoryAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err) {
    const ParsedArgs args = ParseArgs(rest, {"records", "format"}, {});
    if (!args.error.empty())
        return UsageError(err, args.error);
    if (args.positional.size() != 1 || args.positional[0].empty())
        return UsageError(err, "unit history takes one UNIT");
    const std::string format = args.value("format").value_or("table");
    if (format != "table" && format != "json")
        return UsageError(err, "--format takes table or json");

    std::unique_ptr<RecordStore> store;
    if (const int status = OpenRecordsToRead(args, store, err); status != CliOk)
        return status;
    const StoreResult<std::vector<UnitEvent>> history = store->History(args.positional[0]);
    if (!history)
        return StoreFailed(err, "cannot read records", history.error());
    if (format == "json") {
        out << UnitHistoryJson(*history).toStdString() << '\n';
        return CliOk;
    }
    const auto text = [](const std::string& s) { return s.empty() ? std::string("-") : EscapeControls(s); };
    std::vector<std::vector<std::string>> rows = {
        {"STARTED (UTC)", "KIND", "PRODUCT", "OPERATION", "STATION", "OPERATOR", "OUTCOME", "CAUSE", "RECORD"}};
    for (const UnitEvent& e : *history) {
        rows.push_back({IsoUtcMs(e.startedMs), KindShown(e.kind, e.engineering), text(e.product), text(e.operation),
                        text(e.station), text(e.operatorName),
                        e.outcome ? std::string(OutcomeText(*e.outcome)) : "running", text(e.cause),
                        e.recordId.substr(0, 8)});
    }
    WriteTable(out, rows);
    return CliOk;
}

}  // namespace tamrisk
