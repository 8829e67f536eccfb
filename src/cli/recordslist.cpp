// tamrisk-cli records list: the headers of the records that match the
// filters, newest first, as a table, CSV or JSON.

#include "recordsactions.h"

#include "cli.h"
#include "clisession.h"
#include "duration.h"
#include "outputformats.h"
#include "reportfields.h"
#include "reports.h"
#include "terminalsink.h"

#include <QString>

#include <algorithm>
#include <ostream>

namespace tamrisk {

void WriteTable(std::ostream& out, const std::vector<std::vector<std::string>>& rows) {
    std::vector<qsizetype> widths(rows.front().size(), 0);
    for (const auto& row : rows) {
        for (std::size_t i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], QString::fromStdString(row[i]).size());
    }
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size())
                line += std::string(static_cast<std::size_t>(widths[i] - QString::fromStdString(row[i]).size() + 2), ' ');
        }
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        out << line << '\n';
    }
}

int RecordsListAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err) {
    const ParsedArgs args = ParseArgs(rest, RecordsFilterOptions({"format"}), {});
    RecordStore::Filter filter;
    if (!ParseRecordsQuery(args, "list", 20, filter, err))
        return CliUsage;
    const auto format = FormatNamed(args.value("format").value_or("table"), ListFormats);
    if (!format)
        return UsageError(err, "--format takes " + FormatChoices(ListFormats));

    std::vector<RecordHeader> headers;
    std::unique_ptr<RecordStore> store;
    if (const int status = ListRecordsToRead(args, filter, store, headers, err); status != CliOk)
        return status;
    if (format == RecordFormat::Json) {
        out << HeadersJson(headers).toStdString() << '\n';
        return CliOk;
    }
    if (format == RecordFormat::Csv) {
        out << HeadersCsv(headers).toStdString();
        return CliOk;
    }
    // A line's process adds the product and operation, only where a record listed names one;
    // released scripts the release, only where a record listed ran one.
    const bool process = std::any_of(headers.begin(), headers.end(), [](const RecordHeader& h) {
        return !h.operation.empty() || !h.product.empty();
    });
    const bool releases =
        std::any_of(headers.begin(), headers.end(), [](const RecordHeader& h) { return h.releaseNumber.has_value(); });
    std::vector<std::vector<std::string>> rows = {
        {"ID", "STARTED (UTC)", "KIND", "OUTCOME", "DURATION", "UNIT", "SCRIPT", "PORT"}};
    if (process)
        rows.front().insert(rows.front().begin() + 6, {"PRODUCT", "OPERATION"});
    if (releases)
        rows.front().push_back("RELEASE");
    for (const RecordHeader& header : headers) {
        rows.push_back({header.id.substr(0, 8), IsoUtcMs(header.startedMs), KindShown(header.kind, header.engineering),
                        header.outcome ? std::string(OutcomeText(*header.outcome)) : "-",
                        FormatSeconds(std::chrono::milliseconds(header.durationMs), 2) + " s",
                        EscapeControls(header.unit), EscapeControls(header.script), EscapeControls(header.port)});
        if (process)
            rows.back().insert(rows.back().begin() + 6,
                               {header.product.empty() ? "-" : EscapeControls(header.product),
                                header.operation.empty() ? "-" : EscapeControls(header.operation)});
        if (releases)
            rows.back().push_back(header.releaseNumber ? std::to_string(*header.releaseNumber) : "-");
    }
    WriteTable(out, rows);
    return CliOk;
}

}  // namespace tamrisk
