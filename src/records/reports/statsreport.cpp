// The line's numbers as JSON and CSV, for the CLI and the dashboard alike.

#include "reportfields.h"
#include "reports.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace tamrisk {

namespace {

QJsonObject OutcomesObject(const OutcomeCounts& c) {
    return {{"pass", c.pass}, {"fail", c.fail}, {"error", c.error}, {"aborted", c.aborted}, {"running", c.running}};
}

QJsonObject ScopeObject(const ScopeStats& s) {
    QJsonObject object{{"units", s.units},
                       {"runs", s.runs},
                       {"runs_without_unit", s.runsWithoutUnit},
                       {"outcomes", OutcomesObject(s.outcomes)},
                       {"first_runs", OutcomesObject(s.firstRuns)},
                       {"first_pass_yield", NumberOrNull(s.firstPassYield)},
                       {"final_yield", NumberOrNull(s.finalYield)},
                       {"retested_units", s.retestedUnits},
                       {"runs_per_unit", NumberOrNull(s.runsPerUnit)}};
    return object;
}

std::string FractionText(const std::optional<double>& fraction) {
    return fraction ? NumberText(*fraction) : std::string();
}

constexpr std::array<const char*, 20> StatsColumns = {
    "station",    "units",      "runs",        "runs_without_unit", "pass",          "fail",
    "error",      "aborted",    "running",     "first_runs",        "first_pass",    "first_fail",
    "first_error", "first_aborted", "first_pass_yield", "final_yield", "retested_units", "runs_per_unit",
    "last_record", "silent"};

std::array<std::string, StatsColumns.size()> StatsFields(const ScopeStats& s, bool isStation) {
    const OutcomeCounts& o = s.outcomes;
    const OutcomeCounts& f = s.firstRuns;
    const auto n = [](int number) { return std::to_string(number); };
    return {s.station,
            n(s.units),
            n(s.runs),
            n(s.runsWithoutUnit),
            n(o.pass),
            n(o.fail),
            n(o.error),
            n(o.aborted),
            n(o.running),
            n(f.pass + f.fail + f.error + f.aborted + f.running),
            n(f.pass),
            n(f.fail),
            n(f.error),
            n(f.aborted),
            FractionText(s.firstPassYield),
            FractionText(s.finalYield),
            n(s.retestedUnits),
            FractionText(s.runsPerUnit),
            s.lastRecordMs ? IsoUtcMs(*s.lastRecordMs) : std::string(),
            isStation ? (s.silent ? "yes" : "no") : std::string()};
}

}  // namespace

QByteArray StatsJson(const LineStats& stats) {
    QJsonObject object = ScopeObject(stats.line);
    object["since"] = FromUtf8(IsoUtcMs(stats.sinceMs));
    object["until"] = FromUtf8(IsoUtcMs(stats.untilMs));
    object["station"] = stats.station.empty() ? QJsonValue() : QJsonValue(FromUtf8(stats.station));
    QJsonArray stations;
    for (const ScopeStats& s : stats.stations) {
        QJsonObject station = ScopeObject(s);
        station["station"] = FromUtf8(s.station);
        station["last_record"] = s.lastRecordMs ? QJsonValue(FromUtf8(IsoUtcMs(*s.lastRecordMs))) : QJsonValue();
        station["usual_gap_s"] = s.usualGapMs ? QJsonValue(static_cast<double>(*s.usualGapMs) / 1000.0) : QJsonValue();
        station["silent"] = s.silent;
        stations.append(station);
    }
    object["stations"] = stations;
    QJsonArray pareto;
    for (const CauseCount& cause : stats.pareto)
        pareto.append(QJsonObject{{"cause", FromUtf8(cause.cause)}, {"count", cause.count}});
    object["pareto"] = pareto;
    QJsonArray perHour;
    for (const HourUnits& hour : stats.perHour)
        perHour.append(QJsonObject{
            {"hour", FromUtf8(IsoUtcMs(hour.hourMs))}, {"station", FromUtf8(hour.station)}, {"units", hour.units}});
    object["per_hour"] = perHour;
    object["operation"] = TextOrNull(stats.operation);
    object["product"] = TextOrNull(stats.product);
    QJsonArray operations;
    for (const OperationStats& o : stats.operations)
        operations.append(QJsonObject{{"product", TextOrNull(o.product)},
                                      {"operation", FromUtf8(o.operation)},
                                      {"units", o.units},
                                      {"runs", o.runs},
                                      {"first_runs", OutcomesObject(o.firstRuns)},
                                      {"first_pass_yield", NumberOrNull(o.firstPassYield)},
                                      {"final_yield", NumberOrNull(o.finalYield)}});
    object["operations"] = operations;
    QJsonArray products;
    for (const ProductStats& p : stats.products) {
        QJsonArray route;
        for (const std::string& operation : p.route)
            route.append(FromUtf8(operation));
        products.append(QJsonObject{{"product", FromUtf8(p.product)},
                                    {"route", route},
                                    {"rolled_throughput_yield", NumberOrNull(p.rolledThroughputYield)}});
    }
    object["products"] = products;
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

QByteArray StatsCsv(const LineStats& stats) {
    QByteArray out;
    AppendCsvRow(out, std::span<const char* const>(StatsColumns));
    const auto row = [&out](const ScopeStats& s, bool isStation) {
        const auto fields = StatsFields(s, isStation);
        AppendCsvRow(out, std::span<const std::string>(fields));
    };
    row(stats.line, false);
    for (const ScopeStats& s : stats.stations)
        row(s, true);
    return out;
}

}  // namespace tamrisk
