// tamrisk-cli records stats: the line's numbers over a period (by default
// today, local time), for the line and for each station, with the first
// causes of failure and the units of each hour, as a table, CSV or JSON.

#include "recordsactions.h"

#include "cli.h"
#include "clisession.h"
#include "outputformats.h"
#include "reportfields.h"
#include "reports.h"
#include "statsperiod.h"
#include "terminalsink.h"

#include <QDateTime>

#include <cstdio>
#include <ostream>

namespace tamrisk {

namespace {

std::string Percent(const std::optional<double>& fraction) {
    if (!fraction)
        return "-";
    char text[16];
    std::snprintf(text, sizeof text, "%.1f%%", *fraction * 100.0);
    return text;
}

std::string Decimal(const std::optional<double>& number) {
    if (!number)
        return "-";
    char text[16];
    std::snprintf(text, sizeof text, "%.2f", *number);
    return text;
}

std::string Outcomes(const OutcomeCounts& c) {
    std::string text = "pass " + std::to_string(c.pass) + ", fail " + std::to_string(c.fail) + ", error " +
                       std::to_string(c.error) + ", aborted " + std::to_string(c.aborted);
    if (c.running > 0)
        text += ", running " + std::to_string(c.running);
    return text;
}

void WriteStatsTable(std::ostream& out, const LineStats& stats) {
    const ScopeStats& line = stats.line;
    const OutcomeCounts& first = line.firstRuns;
    out << "Period (UTC): " << IsoUtcMs(stats.sinceMs) << " to " << IsoUtcMs(stats.untilMs) << '\n';
    if (!stats.station.empty())
        out << "Station: " << EscapeControls(stats.station) << '\n';
    if (!stats.product.empty())
        out << "Product: " << EscapeControls(stats.product) << '\n';
    if (!stats.operation.empty())
        out << "Operation: " << EscapeControls(stats.operation) << '\n';
    out << "Units tested: " << line.units << '\n'
        << "Runs: " << line.runs << " (" << Outcomes(line.outcomes) << ")\n";
    if (line.runsWithoutUnit > 0)
        out << "Runs without a unit: " << line.runsWithoutUnit << '\n';
    out << "First-pass yield: " << Percent(line.firstPassYield) << " (first runs: " << Outcomes(first) << ")\n"
        << "Final yield: " << Percent(line.finalYield) << '\n'
        << "Retested units: " << line.retestedUnits << ", runs per unit " << Decimal(line.runsPerUnit) << '\n';
    if (!stats.stations.empty()) {
        std::vector<std::vector<std::string>> rows = {{"STATION", "UNITS", "RUNS", "PASS", "FAIL", "ERROR", "ABORTED",
                                                       "FIRST-PASS", "FINAL", "RETESTED", "LAST RECORD (UTC)"}};
        for (const ScopeStats& s : stats.stations) {
            rows.push_back({EscapeControls(s.station), std::to_string(s.units), std::to_string(s.runs),
                            std::to_string(s.outcomes.pass), std::to_string(s.outcomes.fail),
                            std::to_string(s.outcomes.error), std::to_string(s.outcomes.aborted),
                            Percent(s.firstPassYield), Percent(s.finalYield), std::to_string(s.retestedUnits),
                            (s.lastRecordMs ? IsoUtcMs(*s.lastRecordMs) : "-") + (s.silent ? " (silent)" : "")});
        }
        out << '\n';
        WriteTable(out, rows);
    }
    if (!stats.operations.empty()) {
        std::vector<std::vector<std::string>> rows = {
            {"PRODUCT", "OPERATION", "UNITS", "RUNS", "FIRST-PASS", "FINAL"}};
        for (const OperationStats& o : stats.operations) {
            rows.push_back({o.product.empty() ? "-" : EscapeControls(o.product), EscapeControls(o.operation),
                            std::to_string(o.units), std::to_string(o.runs), Percent(o.firstPassYield),
                            Percent(o.finalYield)});
        }
        out << '\n';
        WriteTable(out, rows);
    }
    if (!stats.products.empty()) {
        std::vector<std::vector<std::string>> rows = {{"PRODUCT", "ROLLED THROUGHPUT", "ROUTE"}};
        for (const ProductStats& p : stats.products) {
            std::string route;
            for (const std::string& operation : p.route)
                route += (route.empty() ? "" : ", ") + EscapeControls(operation);
            rows.push_back({EscapeControls(p.product), Percent(p.rolledThroughputYield), route});
        }
        out << '\n';
        WriteTable(out, rows);
    }
    if (!stats.pareto.empty()) {
        std::vector<std::vector<std::string>> rows = {{"FAILED RUNS", "CAUSE"}};
        for (const CauseCount& cause : stats.pareto)
            rows.push_back({std::to_string(cause.count), EscapeControls(cause.cause)});
        out << '\n';
        WriteTable(out, rows);
    }
    if (!stats.perHour.empty()) {
        std::vector<std::vector<std::string>> rows = {{"HOUR (UTC)", "STATION", "UNITS"}};
        for (const HourUnits& hour : stats.perHour)
            rows.push_back({IsoUtcMs(hour.hourMs), EscapeControls(hour.station), std::to_string(hour.units)});
        out << '\n';
        WriteTable(out, rows);
    }
}

}  // namespace

int RecordsStatsAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err) {
    const ParsedArgs args = ParseArgs(rest, {"records", "since", "until", "station", "operation", "product", "format"}, {});
    if (!args.error.empty())
        return UsageError(err, args.error);
    if (!args.positional.empty())
        return UsageError(err, "records stats takes no argument besides its options");
    StatsQuery query;
    const std::string problem = ParseStatsQuery(
        [&args](const char* name) { return args.value(name); }, QDateTime::currentMSecsSinceEpoch(), query, "--");
    if (!problem.empty())
        return UsageError(err, problem);
    const auto format = FormatNamed(args.value("format").value_or("table"), ListFormats);
    if (!format)
        return UsageError(err, "--format takes " + FormatChoices(ListFormats));

    std::unique_ptr<RecordStore> store;
    if (const int status = OpenRecordsToRead(args, store, err); status != CliOk)
        return status;
    const StoreResult<LineStats> read = store->Stats(query);
    if (!read)
        return StoreFailed(err, "cannot read records", read.error());
    const LineStats& stats = *read;
    if (format == RecordFormat::Json)
        out << StatsJson(stats).toStdString();
    else if (format == RecordFormat::Csv)
        out << StatsCsv(stats).toStdString();
    else
        WriteStatsTable(out, stats);
    return CliOk;
}

}  // namespace tamrisk
