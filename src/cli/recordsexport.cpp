// tamrisk-cli records export: the records that match the list's filters, newest
// first, written to a file in one step as JUnit XML, JSON or CSV.

#include "recordsactions.h"

#include "cli.h"
#include "clisession.h"
#include "exportrecords.h"
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
    std::unique_ptr<RecordStore> store;
    if (const int status = ListRecordsToRead(args, filter, store, headers, err); status != CliOk)
        return status;
    const StoreResult<std::optional<QByteArray>> bytes = ExportRecords(store->Queries(), headers, *format);
    if (!bytes)
        return StoreFailed(err, "cannot read records", bytes.error());
    QString error;
    if (!SaveBytesToFile(QString::fromStdString(*path), (*bytes)->toStdString(), error)) {
        CliError(err, "cannot write " + error.toStdString());
        return CliFailed;
    }
    return CliOk;
}

}  // namespace tamrisk
