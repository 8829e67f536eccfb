// tamrisk-cli audit list [--since T]: the entries of the audit trail, newest
// first, as a table, CSV or JSON (the JSON the line's page gives at /api/audit).

#include "auditactions.h"
#include "recordsactions.h"

#include "cli.h"
#include "clisession.h"
#include "reports.h"
#include "statsperiod.h"
#include "terminalsink.h"

#include <QDateTime>
#include <QTimeZone>

#include <ostream>

namespace tamrisk {

std::string AuditTime(qint64 atMs) {
    return QDateTime::fromMSecsSinceEpoch(atMs, QTimeZone::utc())
        .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
        .toStdString();
}

int AuditListAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err) {
    const ParsedArgs args = ParseArgs(rest, {"records", "since", "format"}, {});
    if (!args.error.empty())
        return UsageError(err, args.error);
    if (!args.positional.empty())
        return UsageError(err, "audit list takes no argument besides its options");
    qint64 sinceMs = 0;
    if (const auto text = args.value("since")) {
        const std::optional<qint64> since = ParseRecordsTime(*text, false);
        if (!since)
            return UsageError(err, "--since takes a date YYYY-MM-DD or a time YYYY-MM-DDTHH:MM:SS (UTC)");
        sinceMs = *since;
    }
    const auto format = FormatNamed(args.value("format").value_or("table"), ListFormats);
    if (!format)
        return UsageError(err, "--format takes " + FormatChoices(ListFormats));
    return PrintRecordsListing<AuditEntry>(
        args, *format, out, err, [sinceMs](RecordStore& store) { return store.Audit().List(sinceMs, 0); },
        &AuditJson, &AuditCsv, [](const std::vector<AuditEntry>& entries) {
            std::vector<std::vector<std::string>> rows = {
                {"SEQ", "TIME (UTC)", "WHO", "STATION", "WHAT", "SUBJECT", "OLD -> NEW", "REASON"}};
            for (const AuditEntry& e : entries) {
                std::string change;
                if (e.change.oldValue || e.change.newValue)
                    change = e.change.oldValue.value_or("-") + " -> " + e.change.newValue.value_or("-");
                rows.push_back({std::to_string(e.seq), AuditTime(e.atMs), EscapeControls(e.who),
                                EscapeControls(e.station), EscapeControls(e.change.action),
                                EscapeControls(e.change.subject), EscapeControls(change),
                                EscapeControls(e.change.reason.value_or(""))});
            }
            return rows;
        });
}

}  // namespace tamrisk
