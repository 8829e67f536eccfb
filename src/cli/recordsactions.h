#pragma once
// What the actions of tamrisk-cli records share: the records file opened for
// reading, and the actions themselves.

#include "cli.h"
#include "cliargs.h"
#include "clisession.h"
#include "outputformats.h"
#include "recordstore.h"

#include <QByteArray>

#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

namespace tamrisk {

// The records file that `args` choose (--records, TAMRISK_RECORDS, the user's),
// opened, with the records of ended programs marked aborted. Null, after a
// message on `err`, when records are off or the file cannot be opened.
std::unique_ptr<RecordStore> OpenRecordsToRead(const ParsedArgs& args, std::ostream& err);

// The options of the filters that records list and export share (--unit,
// --serial, --outcome, --kind, --since, --limit) and --records, with `more`.
std::set<std::string> RecordsFilterOptions(std::set<std::string> more);
// What records list and export check first, in this order: `args` parsed without
// error, no argument besides the options (`action` names the command in that
// message), then the filters into `filter`, --limit defaulting to `defaultLimit`
// (0: all). False after a usage message on `err`.
bool ParseRecordsQuery(const ParsedArgs& args, const std::string& action, int defaultLimit, RecordStore::Filter& filter,
                       std::ostream& err);
// The records file opened (as OpenRecordsToRead) and the headers that `filter`
// selects in `headers`. Null, after a message on `err`, when either fails.
std::unique_ptr<RecordStore> ListRecordsToRead(const ParsedArgs& args, const RecordStore::Filter& filter,
                                               std::vector<RecordHeader>& headers, std::ostream& err);

// `rows` (the first the column names) with each column padded to its widest cell
// in characters, the last one not padded.
void WriteTable(std::ostream& out, const std::vector<std::vector<std::string>>& rows);

// Reads a listing with `read` from the records that `args` choose and prints
// it in `format`: JSON and CSV by their writers, a table from `tableRows` (the
// first row the column names). CliOk, or CliUsage after a message on `err`
// when the records cannot be opened or read.
template <class Row, class Read, class TableRows>
int PrintRecordsListing(const ParsedArgs& args, RecordFormat format, std::ostream& out, std::ostream& err, Read read,
                        QByteArray (*json)(std::span<const Row>), QByteArray (*csv)(std::span<const Row>),
                        TableRows tableRows) {
    const auto store = OpenRecordsToRead(args, err);
    if (!store)
        return CliUsage;
    QString error;
    const std::vector<Row> rows = read(*store, error);
    if (!error.isEmpty()) {
        CliError(err, "cannot read records " + error.toStdString());
        return CliUsage;
    }
    if (format == RecordFormat::Json)
        out << json(rows).toStdString() << '\n';
    else if (format == RecordFormat::Csv)
        out << csv(rows).toStdString();
    else
        WriteTable(out, tableRows(rows));
    return CliOk;
}

// The actions, each in a file of its own.
int RecordsListAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err);
int RecordsShowAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err);
int RecordsExportAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err);
int RecordsChecksAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err);
int RecordsClaimsAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err);
int RecordsSyncAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err);
int RecordsStatsAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err);
int RecordsSetupAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err);

}  // namespace tamrisk
