// tamrisk-cli records list: the headers of the records that match the
// filters, newest first, as a table, CSV or JSON.

#include "recordscli.h"

#include "cli.h"
#include "clisession.h"
#include "reports.h"
#include "terminalsink.h"

#include <QDateTime>
#include <QString>
#include <QTimeZone>

#include <cstdio>
#include <ostream>

namespace tamrisk {

namespace {

// "YYYY-MM-DD", or with a time "YYYY-MM-DDTHH:MM[:SS]", in UTC: ms since the epoch.
std::optional<qint64> ParseSince(const std::string& text) {
    const QString given = QString::fromStdString(text);
    QDateTime when = QDateTime::fromString(given, Qt::ISODateWithMs);
    if (!when.isValid()) {
        const QDate day = QDate::fromString(given, Qt::ISODate);
        if (!day.isValid())
            return std::nullopt;
        when = QDateTime(day, QTime(0, 0));
    }
    if (when.timeSpec() == Qt::LocalTime)
        when.setTimeZone(QTimeZone::utc());
    return when.toMSecsSinceEpoch();
}

std::string Seconds(qint64 ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f s", static_cast<double>(ms) / 1000.0);
    return text;
}

// Columns padded to their widest cell in characters; the last one is not padded.
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

}  // namespace

int RecordsListAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err) {
    const ParsedArgs args =
        ParseArgs(rest, {"records", "unit", "serial", "outcome", "kind", "since", "limit", "format"}, {});
    if (!args.error.empty())
        return UsageError(err, args.error);
    if (!args.positional.empty())
        return UsageError(err, "records list takes no argument besides its options");
    RecordStore::Filter filter;
    filter.unit = args.value("unit").value_or("");
    filter.serial = args.value("serial").value_or("");
    filter.kind = args.value("kind").value_or("");
    if (!filter.kind.empty() && !IsRecordKind(filter.kind))
        return UsageError(err, "--kind takes run, command, code-memory, fiscal-memory, journal-binary, journal-read, "
                               "journal-print, journal-check or journal-info");
    if (const auto text = args.value("outcome")) {
        filter.outcome = OutcomeFromText(*text);
        if (!filter.outcome)
            return UsageError(err, "--outcome takes pass, fail, aborted or error");
    }
    if (const auto text = args.value("since")) {
        filter.sinceMs = ParseSince(*text);
        if (!filter.sinceMs)
            return UsageError(err, "--since takes a date YYYY-MM-DD or a time YYYY-MM-DDTHH:MM:SS (UTC)");
    }
    const auto limit = ParseWholeNumber(args.value("limit").value_or("20"), 0, 1000000000);
    if (!limit)
        return UsageError(err, "--limit takes a number of records (0: all)");
    filter.limit = static_cast<int>(*limit);
    const std::string format = args.value("format").value_or("table");
    if (format != "table" && format != "csv" && format != "json")
        return UsageError(err, "--format takes table, csv or json");

    const auto store = OpenRecordsToRead(args, err);
    if (!store)
        return CliUsage;
    QString error;
    const std::vector<RecordHeader> headers = store->List(filter, error);
    if (!error.isEmpty()) {
        CliError(err, "cannot read records " + error.toStdString());
        return CliUsage;
    }
    if (format == "json") {
        out << HeadersJson(headers).toStdString() << '\n';
        return CliOk;
    }
    if (format == "csv") {
        out << HeadersCsv(headers).toStdString();
        return CliOk;
    }
    std::vector<std::vector<std::string>> rows = {
        {"ID", "STARTED (UTC)", "KIND", "OUTCOME", "DURATION", "UNIT", "SCRIPT", "PORT"}};
    for (const RecordHeader& header : headers) {
        rows.push_back({header.id.substr(0, 8), IsoUtcMs(header.startedMs), header.kind,
                        header.outcome ? std::string(OutcomeText(*header.outcome)) : "-", Seconds(header.durationMs),
                        EscapeControls(header.unit), EscapeControls(header.script), EscapeControls(header.port)});
    }
    WriteTable(out, rows);
    return CliOk;
}

}  // namespace tamrisk
