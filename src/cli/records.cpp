// tamrisk-cli records: the records that the printer commands and the station
// kept, listed and shown; here the dispatch and the opening of the file.

#include "recordsactions.h"

#include "cli.h"
#include "clioperationrecord.h"
#include "clisession.h"
#include "statsperiod.h"

#include <QString>

#include <optional>
#include <ostream>

namespace tamrisk {

namespace {

// The filters from `args`, --limit defaulting to `defaultLimit`. The usage
// problem, or empty.
std::string ParseRecordsFilter(const ParsedArgs& args, int defaultLimit, RecordStore::Filter& filter) {
    filter.unit = args.value("unit").value_or("");
    filter.serial = args.value("serial").value_or("");
    filter.kind = args.value("kind").value_or("");
    filter.operation = args.value("operation").value_or("");
    filter.product = args.value("product").value_or("");
    if (!filter.kind.empty() && !IsRecordKind(filter.kind))
        return "--kind takes run, entry, hold, release, command, code-memory, fiscal-memory, journal-binary, "
               "journal-read, journal-print, journal-check or journal-info";
    if (const auto text = args.value("outcome")) {
        filter.outcome = OutcomeFromText(*text);
        if (!filter.outcome)
            return "--outcome takes pass, fail, aborted or error";
    }
    if (const auto text = args.value("since")) {
        filter.sinceMs = ParseRecordsTime(*text, false);
        if (!filter.sinceMs)
            return "--since takes a date YYYY-MM-DD or a time YYYY-MM-DDTHH:MM:SS (UTC)";
    }
    const auto limit = ParseWholeNumber(args.value("limit").value_or(std::to_string(defaultLimit)), 0, 1000000000);
    if (!limit)
        return "--limit takes a number of records (0: all)";
    filter.limit = static_cast<int>(*limit);
    return {};
}

}  // namespace

std::set<std::string> RecordsFilterOptions(std::set<std::string> more) {
    more.insert({"records", "unit", "serial", "outcome", "kind", "since", "limit", "operation", "product"});
    return more;
}

bool ParseRecordsQuery(const ParsedArgs& args, const std::string& action, int defaultLimit,
                       RecordStore::Filter& filter, std::ostream& err) {
    std::string problem = args.error;
    if (problem.empty() && !args.positional.empty())
        problem = "records " + action + " takes no argument besides its options";
    if (problem.empty())
        problem = ParseRecordsFilter(args, defaultLimit, filter);
    if (problem.empty())
        return true;
    UsageError(err, problem);
    return false;
}

int RecordsCommandLine(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err) {
    if (rest.empty())
        return UsageError(err,
                          "records needs an action: list, show, export, checks, stats, capability, wip, sync, claims or "
                          "setup");
    const std::string& action = rest[0];
    const std::vector<std::string> args(rest.begin() + 1, rest.end());
    if (action == "list")
        return RecordsListAction(args, out, err);
    if (action == "show")
        return RecordsShowAction(args, out, err);
    if (action == "export")
        return RecordsExportAction(args, out, err);
    if (action == "checks")
        return RecordsChecksAction(args, out, err);
    if (action == "sync")
        return RecordsSyncAction(args, out, err);
    if (action == "claims")
        return RecordsClaimsAction(args, out, err);
    if (action == "stats")
        return RecordsStatsAction(args, out, err);
    if (action == "capability")
        return RecordsCapabilityAction(args, out, err);
    if (action == "wip")
        return RecordsWipAction(args, out, err);
    if (action == "setup")
        return RecordsSetupAction(args, out, err);
    return UsageError(err, "unknown records action " + action);
}

int OpenRecordsToRead(const ParsedArgs& args, std::unique_ptr<RecordStore>& store, std::ostream& err) {
    const QString location = RecordsLocation(args);
    if (location.isEmpty()) {
        CliError(err, "records are off");
        return CliUsage;
    }
    store = std::make_unique<RecordStore>();
    if (StoreResult<void> opened = store->OpenToRead(location, RecordStore::Reading::MarkAbandoned); !opened) {
        store.reset();
        return StoreFailed(err, "cannot open records", opened.error());
    }
    return CliOk;
}

int ListRecordsToRead(const ParsedArgs& args, const RecordStore::Filter& filter, std::unique_ptr<RecordStore>& store,
                      std::vector<RecordHeader>& headers, std::ostream& err) {
    if (const int status = OpenRecordsToRead(args, store, err); status != CliOk)
        return status;
    StoreResult<std::vector<RecordHeader>> listed = store->List(filter);
    if (!listed)
        return StoreFailed(err, "cannot read records", listed.error());
    headers = std::move(*listed);
    return CliOk;
}

}  // namespace tamrisk
