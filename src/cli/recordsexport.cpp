// tamrisk-cli records export: the records that match the list's filters, newest
// first, written to a file in one step as JUnit XML, JSON or CSV.

#include "recordsactions.h"

#include "cli.h"
#include "clisession.h"
#include "memoryreadcli.h"
#include "outputformats.h"
#include "reports.h"
#include "savefile.h"

#include <QString>

#include <ostream>

namespace tamrisk {

int RecordsExportAction(const std::vector<std::string>& rest, std::ostream&, std::ostream& err) {
    const ParsedArgs args = ParseReadArgs(rest, RecordsFilterOptions({"format"}), {});
    RecordStore::Filter filter;
    // An export is of every record that matches unless --limit says otherwise.
    if (!ParseRecordsQuery(args, "export", 0, filter, err))
        return CliUsage;
    const auto format = FormatNamed(args.value("format").value_or(""), ExportFormats);
    if (!format)
        return UsageError(err, "records export needs --format " + FormatChoices(ExportFormats));
    const auto path = args.value("output");
    if (!path || path->empty())
        return UsageError(err, "records export needs -o FILE");

    std::vector<RecordHeader> headers;
    const auto store = ListRecordsToRead(args, filter, headers, err);
    if (!store)
        return CliUsage;
    QString error;
    QByteArray bytes;
    if (format == RecordFormat::Csv) {
        bytes = HeadersCsv(headers);
    } else {
        std::vector<Record> records;
        records.reserve(headers.size());
        for (const RecordHeader& header : headers) {
            std::optional<Record> record = store->Load(header.id, error);
            if (!record) {
                CliError(err, "cannot read records " + error.toStdString());
                return CliUsage;
            }
            records.push_back(std::move(*record));
        }
        bytes = format == RecordFormat::JUnit ? RecordsJUnit(records) : RecordsJson(records);
    }
    if (!SaveBytesToFile(QString::fromStdString(*path), bytes.toStdString(), error)) {
        CliError(err, "cannot write " + error.toStdString());
        return CliFailed;
    }
    return CliOk;
}

}  // namespace tamrisk
