// The capability of numeric checks as JSON, for the CLI and the dashboard
// alike, and as CSV.

#include "reportfields.h"
#include "reports.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <array>
#include <string>

namespace tamrisk {

namespace {

QJsonObject FiguresObject(const CapabilityFigures& f) {
    QJsonArray breaks;
    for (const RuleBreak& b : f.breaks)
        breaks.append(QJsonObject{{"index", static_cast<qint64>(b.index)}, {"rule", static_cast<int>(b.rule)}});
    return {{"n", f.n},
            {"mean", NumberOrNull(f.mean)},
            {"standard_deviation", NumberOrNull(f.standardDeviation)},
            {"minimum", NumberOrNull(f.minimum)},
            {"maximum", NumberOrNull(f.maximum)},
            {"average_moving_range", NumberOrNull(f.averageMovingRange)},
            {"short_term_sigma", NumberOrNull(f.shortTermSigma)},
            {"cp", NumberOrNull(f.cp)},
            {"cpk", NumberOrNull(f.cpk)},
            {"cpk_low", NumberOrNull(f.cpkLow)},
            {"cpk_high", NumberOrNull(f.cpkHigh)},
            {"pp", NumberOrNull(f.pp)},
            {"ppk", NumberOrNull(f.ppk)},
            {"warning", f.tooFew ? QJsonValue(QLatin1String(TooFewValuesWarning)) : QJsonValue()},
            {"outside", f.outside},
            {"outside_share", NumberOrNull(f.outsideShare)},
            {"marginal", f.marginal ? QJsonValue(*f.marginal) : QJsonValue()},
            {"lower_control_limit", NumberOrNull(f.lowerControlLimit)},
            {"upper_control_limit", NumberOrNull(f.upperControlLimit)},
            {"rule_breaks", breaks}};
}

constexpr std::array<const char*, 20> FigureColumns = {
    "n",         "mean",         "standard_deviation", "minimum",      "maximum",
    "average_moving_range", "short_term_sigma", "cp", "cpk",           "cpk_low",
    "cpk_high",  "pp",           "ppk",                "outside",      "outside_share",
    "marginal",  "lower_control_limit", "upper_control_limit", "rule_breaks", "warning"};

std::array<std::string, FigureColumns.size()> FigureFields(const CapabilityFigures& f) {
    const auto number = [](const std::optional<double>& x) { return x ? NumberText(*x) : std::string(); };
    return {std::to_string(f.n),
            number(f.mean),
            number(f.standardDeviation),
            number(f.minimum),
            number(f.maximum),
            number(f.averageMovingRange),
            number(f.shortTermSigma),
            number(f.cp),
            number(f.cpk),
            number(f.cpkLow),
            number(f.cpkHigh),
            number(f.pp),
            number(f.ppk),
            std::to_string(f.outside),
            number(f.outsideShare),
            f.marginal ? std::to_string(*f.marginal) : std::string(),
            number(f.lowerControlLimit),
            number(f.upperControlLimit),
            std::to_string(f.breaks.size()),
            f.tooFew ? std::string(TooFewValuesWarning) : std::string()};
}

}  // namespace

QByteArray CapabilityJson(const CapabilityReport& report) {
    const CapabilityQuery& q = report.query;
    QJsonObject object{{"since", FromUtf8(IsoUtcMs(q.sinceMs))}, {"until", FromUtf8(IsoUtcMs(q.untilMs))},
                       {"name", TextOrNull(q.name)},      {"product", TextOrNull(q.product)},
                       {"operation", TextOrNull(q.operation)}, {"station", TextOrNull(q.station)}};
    QJsonArray checks;
    for (const CheckCapability& c : report.checks) {
        QJsonObject check{{"name", FromUtf8(c.name)},
                          {"units", TextOrNull(c.limits.units)},
                          {"lsl", NumberOrNull(c.limits.low)},
                          {"usl", NumberOrNull(c.limits.high)},
                          {"lsl_strict", c.limits.lowStrict},
                          {"usl_strict", c.limits.highStrict},
                          {"not_numbers", c.notNumbers},
                          {"all", FiguresObject(c.all)},
                          {"without_failed", FiguresObject(c.withoutFailed)}};
        if (q.values) {
            QJsonArray values;
            for (const MeasuredValue& v : c.values)
                values.append(QJsonObject{{"started", FromUtf8(IsoUtcMs(v.startedMs))},
                                          {"value", v.value},
                                          {"record", FromUtf8(v.recordId)},
                                          {"unit", TextOrNull(v.unit)},
                                          {"station", FromUtf8(v.station)},
                                          {"failed", v.runFailed}});
            check["values"] = values;
        }
        checks.append(check);
    }
    object["checks"] = checks;
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

QByteArray CapabilityCsv(const CapabilityReport& report) {
    const auto flag = [](bool on) { return std::string(on ? "true" : "false"); };
    std::vector<std::string> row = {"name", "units", "lsl", "usl", "lsl_strict", "usl_strict"};
    row.insert(row.end(), FigureColumns.begin(), FigureColumns.end());
    row.push_back("not_numbers");
    for (const char* column : FigureColumns)
        row.push_back(std::string("without_failed_") + column);
    QByteArray out;
    AppendCsvRow(out, std::span<const std::string>(row));
    for (const CheckCapability& c : report.checks) {
        const CapabilityLimits& l = c.limits;
        row = {c.name, l.units, l.low ? NumberText(*l.low) : std::string(), l.high ? NumberText(*l.high) : std::string(),
               flag(l.lowStrict), flag(l.highStrict)};
        const auto all = FigureFields(c.all);
        row.insert(row.end(), all.begin(), all.end());
        row.push_back(std::to_string(c.notNumbers));
        const auto withoutFailed = FigureFields(c.withoutFailed);
        row.insert(row.end(), withoutFailed.begin(), withoutFailed.end());
        AppendCsvRow(out, std::span<const std::string>(row));
    }
    return out;
}

}  // namespace tamrisk
