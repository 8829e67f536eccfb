// tamrisk-cli records capability: what the values of the numeric checks of a
// period's runs say about the process, a row a check and set of limits, worst
// Cpk first, as a table, CSV or JSON (with each check's values in JSON).

#include "recordsactions.h"

#include "capability.h"
#include "cli.h"
#include "clisession.h"
#include "linestats.h"
#include "outputformats.h"
#include "reportfields.h"
#include "reports.h"
#include "statsperiod.h"
#include "terminalsink.h"

#include <QDateTime>

#include <cmath>
#include <cstdio>
#include <ostream>

namespace tamrisk {

namespace {

// A figure for a person: about five significant digits, no exponent, no
// trailing zeros; "-" for none.
std::string Rounded(const std::optional<double>& number) {
    if (!number)
        return "-";
    const double magnitude = std::fabs(*number);
    const int decimals = magnitude < 1e-12 ? 0 : std::clamp(4 - static_cast<int>(std::floor(std::log10(magnitude))), 0, 6);
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", decimals, *number);
    std::string shown = text;
    if (shown.find('.') != std::string::npos) {
        shown.erase(shown.find_last_not_of('0') + 1);
        if (shown.back() == '.')
            shown.pop_back();
    }
    return shown == "-0" ? "0" : shown;
}

std::string TwoDecimals(double number) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", number);
    return text;
}

// The limits as the check line gives them: "0..2000000", "< 20", ">= 1".
std::string LimitsShown(const CapabilityLimits& l) {
    if (l.low && l.high)
        return NumberText(*l.low) + ".." + NumberText(*l.high);
    if (l.low)
        return (l.lowStrict ? "> " : ">= ") + NumberText(*l.low);
    if (l.high)
        return (l.highStrict ? "< " : "<= ") + NumberText(*l.high);
    return "-";
}

// Cpk with its 95 % interval: "1.35 (0.37..2.34)".
std::string CpkShown(const CapabilityFigures& f) {
    if (!f.cpk)
        return "-";
    std::string shown = TwoDecimals(*f.cpk);
    if (f.cpkLow && f.cpkHigh)
        shown += " (" + TwoDecimals(*f.cpkLow) + ".." + TwoDecimals(*f.cpkHigh) + ")";
    return shown;
}

void WriteCapabilityTable(std::ostream& out, const CapabilityReport& report) {
    const CapabilityQuery& q = report.query;
    out << "Period (UTC): " << IsoUtcMs(q.sinceMs) << " to " << IsoUtcMs(q.untilMs) << '\n';
    const std::pair<const char*, const std::string&> asked[] = {
        {"Check", q.name}, {"Station", q.station}, {"Product", q.product}, {"Operation", q.operation}};
    for (const auto& [label, value] : asked)
        if (!value.empty())
            out << label << ": " << EscapeControls(value) << '\n';
    if (report.checks.empty()) {
        out << "No numeric check in the period.\n";
        return;
    }
    std::vector<std::vector<std::string>> rows = {{"CHECK", "UNITS", "LIMITS", "N", "MEAN", "SIGMA", "CPK (95%)",
                                                   "PPK", "OUTSIDE", "MARGINAL", "BREAKS", "NOTE"}};
    for (const CheckCapability& c : report.checks) {
        const CapabilityFigures& f = c.all;
        std::string note = f.tooFew ? TooFewValuesWarning : "";
        if (c.notNumbers > 0)
            note += (note.empty() ? "" : "; ") + std::to_string(c.notNumbers) + " not a number";
        rows.push_back({EscapeControls(c.name), c.limits.units.empty() ? "-" : EscapeControls(c.limits.units),
                        LimitsShown(c.limits), std::to_string(f.n), Rounded(f.mean), Rounded(f.standardDeviation),
                        CpkShown(f), f.ppk ? TwoDecimals(*f.ppk) : "-", std::to_string(f.outside),
                        f.marginal ? std::to_string(*f.marginal) : "-", std::to_string(f.breaks.size()), note});
    }
    out << '\n';
    WriteTable(out, rows);
}

}  // namespace

int RecordsCapabilityAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err) {
    const ParsedArgs args =
        ParseArgs(rest, {"records", "name", "since", "until", "station", "operation", "product", "format"}, {"values"});
    if (!args.error.empty())
        return UsageError(err, args.error);
    if (!args.positional.empty())
        return UsageError(err, "records capability takes no argument besides its options");
    StatsQuery period;
    const std::string problem = ParseStatsQuery(
        [&args](const char* name) { return args.value(name); }, QDateTime::currentMSecsSinceEpoch(), period, "--");
    if (!problem.empty())
        return UsageError(err, problem);
    const auto format = FormatNamed(args.value("format").value_or("table"), ListFormats);
    if (!format)
        return UsageError(err, "--format takes " + FormatChoices(ListFormats));
    CapabilityQuery query{period.sinceMs, period.untilMs, args.value("name").value_or(""), period.product,
                          period.operation, period.station};
    query.values = args.flags.count("values") > 0;
    if (query.values && format != RecordFormat::Json)
        return UsageError(err, "--values needs --format json");

    std::unique_ptr<RecordStore> store;
    if (const int status = OpenRecordsToRead(args, store, err); status != CliOk)
        return status;
    const StoreResult<CapabilityReport> read = store->Capability(query);
    if (!read)
        return StoreFailed(err, "cannot read records", read.error());
    if (format == RecordFormat::Json)
        out << CapabilityJson(*read).toStdString();
    else if (format == RecordFormat::Csv)
        out << CapabilityCsv(*read).toStdString();
    else
        WriteCapabilityTable(out, *read);
    return CliOk;
}

}  // namespace tamrisk
