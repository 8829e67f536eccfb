// tamrisk-cli records checks: the checks of answers that runs made, each with
// the record, unit and station that made it, newest record first, as a table,
// CSV or JSON. With a line's database the whole line's checks are read.

#include "recordsactions.h"

#include "cli.h"
#include "clisession.h"
#include "outputformats.h"
#include "reportfields.h"
#include "reports.h"
#include "statsperiod.h"
#include "terminalsink.h"

#include <ostream>

namespace tamrisk {

namespace {

// What a check expected as the table shows it; "-" for a check whose line
// could not be read that far.
std::string ExpectedText(const CheckOutcome& check) {
    const std::string text = CheckExpectation(check);
    return text.empty() ? "-" : text;
}

}  // namespace

int RecordsChecksAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err) {
    const ParsedArgs args =
        ParseArgs(rest,
                  {"records", "name", "unit", "station", "operation", "product", "result", "since", "until", "limit",
                   "format"},
                  {});
    if (!args.error.empty())
        return UsageError(err, args.error);
    if (!args.positional.empty())
        return UsageError(err, "records checks takes no argument besides its options");
    CheckFilter filter;
    filter.name = args.value("name").value_or("");
    filter.unit = args.value("unit").value_or("");
    filter.station = args.value("station").value_or("");
    filter.operation = args.value("operation").value_or("");
    filter.product = args.value("product").value_or("");
    if (const auto text = args.value("result")) {
        filter.result = CheckResultFromText(*text);
        if (!filter.result)
            return UsageError(err, "--result takes pass, fail or error");
    }
    for (const auto& [option, dayEnd, bound] :
         {std::tuple("since", false, &filter.sinceMs), std::tuple("until", true, &filter.untilMs)}) {
        if (const auto text = args.value(option)) {
            *bound = ParseRecordsTime(*text, dayEnd);
            if (!*bound)
                return UsageError(err, "--" + std::string(option) +
                                           " takes a date YYYY-MM-DD or a time YYYY-MM-DDTHH:MM:SS (UTC)");
        }
    }
    const auto limit = ParseWholeNumber(args.value("limit").value_or("20"), 0, 1000000000);
    if (!limit)
        return UsageError(err, "--limit takes a number of checks (0: all)");
    filter.limit = static_cast<int>(*limit);
    const auto format = FormatNamed(args.value("format").value_or("table"), ListFormats);
    if (!format)
        return UsageError(err, "--format takes " + FormatChoices(ListFormats));

    return PrintRecordsListing<CheckRow>(
        args, *format, out, err, [&filter](RecordStore& store) { return store.Checks(filter); },
        &ChecksJson, &ChecksCsv,
        [](const std::vector<CheckRow>& checks) {
            std::vector<std::vector<std::string>> rows = {
                {"RECORD", "STARTED (UTC)", "UNIT", "STATION", "CHECK", "EXPECTED", "VALUE", "RESULT"}};
            for (const CheckRow& row : checks) {
                const CheckOutcome& check = row.made.check;
                rows.push_back({row.recordId.substr(0, 8), IsoUtcMs(row.startedMs), EscapeControls(row.unit),
                                EscapeControls(row.station), EscapeControls(check.name),
                                EscapeControls(ExpectedText(check)),
                                check.value ? EscapeControls(CheckFoundValue(check)) : "-",
                                std::string(CheckResultText(check.result))});
            }
            return rows;
        });
}

}  // namespace tamrisk
