// tamrisk-cli script list [--product P] [--operation O]: the releases, by
// product, operation and number, the active one of each marked, as a table,
// CSV or JSON.

#include "scriptactions.h"

#include "cli.h"
#include "clisession.h"
#include "outputformats.h"
#include "processactions.h"
#include "recordsactions.h"
#include "reports.h"
#include "terminalsink.h"

#include <ostream>

namespace tamrisk {

int ScriptListAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err) {
    const ParsedArgs args = ParseArgs(rest, {"records", "product", "operation", "format"}, {});
    if (!args.error.empty())
        return UsageError(err, args.error);
    if (!args.positional.empty())
        return UsageError(err, "script list takes no argument besides its options");
    const auto format = FormatNamed(args.value("format").value_or("table"), ListFormats);
    if (!format)
        return UsageError(err, "--format takes " + FormatChoices(ListFormats));
    RecordStore store;
    if (const int status = OpenProcessRecords(args, store, err); status != CliOk)
        return status;
    const StoreResult<std::vector<ScriptRelease>> releases =
        store.Releases().List({args.value("product").value_or(""), args.value("operation").value_or("")});
    if (!releases)
        return StoreFailed(err, "cannot read releases:", releases.error());
    if (format == RecordFormat::Json) {
        out << ReleasesJson(*releases).toStdString() << '\n';
        return CliOk;
    }
    if (format == RecordFormat::Csv) {
        out << ReleasesCsv(*releases).toStdString();
        return CliOk;
    }
    const auto when = [](const std::optional<std::string>& who, const std::optional<qint64>& ms) {
        return who ? EscapeControls(*who) + " " + IsoUtcMs(*ms) : std::string("-");
    };
    std::vector<std::vector<std::string>> rows = {
        {"ID", "PRODUCT", "OPERATION", "NO", "SCRIPT", "SHA-256", "RELEASED", "APPROVED", "REVOKED", "ACTIVE"}};
    for (const ScriptRelease& r : *releases) {
        rows.push_back({std::to_string(r.id), EscapeControls(r.product), EscapeControls(r.operation),
                        std::to_string(r.number), EscapeControls(r.scriptName), r.scriptSha256.substr(0, 12),
                        when(r.releasedBy, r.releasedMs), when(r.approvedBy, r.approvedMs),
                        when(r.revokedBy, r.revokedMs), r.active ? "*" : ""});
    }
    WriteTable(out, rows);
    return CliOk;
}

}  // namespace tamrisk
