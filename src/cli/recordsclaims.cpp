// tamrisk-cli records claims: the serial numbers claimed, each with the station,
// unit and record that claimed it and when, newest first, as a table, CSV or
// JSON. With a line's database the whole line's claims are read.

#include "recordsactions.h"

#include "cli.h"
#include "clisession.h"
#include "outputformats.h"
#include "reports.h"
#include "terminalsink.h"
#include "textcodec.h"

#include <ostream>

namespace tamrisk {

int RecordsClaimsAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err) {
    const ParsedArgs args = ParseArgs(rest, {"records", "serial", "unit", "station", "limit", "format"}, {});
    if (!args.error.empty())
        return UsageError(err, args.error);
    if (!args.positional.empty())
        return UsageError(err, "records claims takes no argument besides its options");
    ClaimFilter filter;
    // Numbers are claimed as they are sent, in Windows-1251.
    const auto data = Utf8ToCp1251(args.value("serial").value_or(""));
    if (!data)
        return UsageError(err, "--serial takes text that Windows-1251 can write");
    filter.data = *data;
    filter.unit = args.value("unit").value_or("");
    filter.station = args.value("station").value_or("");
    const auto limit = ParseWholeNumber(args.value("limit").value_or("20"), 0, 1000000000);
    if (!limit)
        return UsageError(err, "--limit takes a number of claims (0: all)");
    filter.limit = static_cast<int>(*limit);
    const auto format = FormatNamed(args.value("format").value_or("table"), ListFormats);
    if (!format)
        return UsageError(err, "--format takes " + FormatChoices(ListFormats));

    return PrintRecordsListing<SerialClaimRow>(
        args, *format, out, err, [&filter](RecordStore& store) { return store.Claims(filter); },
        &ClaimsJson, &ClaimsCsv,
        [](const std::vector<SerialClaimRow>& claims) {
            std::vector<std::vector<std::string>> rows = {
                {"SPACE", "DATA", "STATION", "UNIT", "CLAIMED (UTC)", "RECORD"}};
            for (const SerialClaimRow& claim : claims) {
                rows.push_back({EscapeControls(Cp1251ToUtf8(claim.space)), EscapeControls(Cp1251ToUtf8(claim.data)),
                                EscapeControls(claim.station), EscapeControls(claim.unit), IsoUtcMs(claim.claimedMs),
                                claim.recordId.substr(0, 8)});
            }
            return rows;
        });
}

}  // namespace tamrisk
