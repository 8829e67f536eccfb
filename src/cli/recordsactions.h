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
// opened in `store`, with the records of ended programs marked aborted. CliOk,
// else after a message on `err` the exit status: CliUsage when records are off,
// the store's (StoreExitStatus) when they cannot be opened.
int OpenRecordsToRead(const ParsedArgs& args, std::unique_ptr<RecordStore>& store, std::ostream& err);

// The options of the filters that records list and export share (--unit,
// --serial, --outcome, --kind, --operation, --product, --since, --limit) and
// --records, with `more`.
std::set<std::string> RecordsFilterOptions(std::set<std::string> more);
// What records list and export check first, in this order: `args` parsed without
// error, no argument besides the options (`action` names the command in that
// message), then the filters into `filter`, --limit defaulting to `defaultLimit`
// (0: all). False after a usage message on `err`.
bool ParseRecordsQuery(const ParsedArgs& args, const std::string& action, int defaultLimit, RecordStore::Filter& filter,
                       std::ostream& err);
// The records file opened (as OpenRecordsToRead) and the headers that `filter`
// selects in `headers`. CliOk, else the exit status after a message on `err`.
int ListRecordsToRead(const ParsedArgs& args, const RecordStore::Filter& filter, std::unique_ptr<RecordStore>& store,
                      std::vector<RecordHeader>& headers, std::ostream& err);

// `rows` (the first the column names) with each column padded to its widest cell
// in characters, the last one not padded.
void WriteTable(std::ostream& out, const std::vector<std::vector<std::string>>& rows);

// Reads a listing with `read` from the records that `args` choose and prints
// it in `format`: JSON and CSV by their writers, a table from `tableRows` (the
// first row the column names). CliOk, or the exit status after a message on
// `err` when the records cannot be opened or read.
template <class Row, class Read, class TableRows>
int PrintRecordsListing(const ParsedArgs& args, RecordFormat format, std::ostream& out, std::ostream& err, Read read,
                        QByteArray (*json)(std::span<const Row>), QByteArray (*csv)(std::span<const Row>),
                        TableRows tableRows) {
    std::unique_ptr<RecordStore> store;
    if (const int status = OpenRecordsToRead(args, store, err); status != CliOk)
        return status;
    const StoreResult<std::vector<Row>> listed = read(*store);
    if (!listed)
        return StoreFailed(err, "cannot read records", listed.error());
    const std::vector<Row>& rows = *listed;
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
int RecordsCapabilityAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err);
int RecordsWipAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err);
int RecordsSetupAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err);

}  // namespace tamrisk
