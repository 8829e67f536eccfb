// The capability of numeric checks as JSON, for the CLI and the dashboard
// alike, and as CSV.

#include "reportfields.h"
#include "reports.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <string>
#include <vector>

namespace tamrisk {

namespace {

QJsonValue Optional(const std::optional<int>& number) { return number ? QJsonValue(*number) : QJsonValue(); }

// The figures of a set of values, named as JSON and CSV name them, in the CSV's
// column order: the one list both formats are written from.
struct Figure {
    const char* name;
    QJsonValue (*value)(const CapabilityFigures&);
};
constexpr Figure Figures[] = {
    {"n", [](const CapabilityFigures& f) { return QJsonValue(f.n); }},
    {"mean", [](const CapabilityFigures& f) { return NumberOrNull(f.mean); }},
    {"standard_deviation", [](const CapabilityFigures& f) { return NumberOrNull(f.standardDeviation); }},
    {"minimum", [](const CapabilityFigures& f) { return NumberOrNull(f.minimum); }},
    {"maximum", [](const CapabilityFigures& f) { return NumberOrNull(f.maximum); }},
    {"average_moving_range", [](const CapabilityFigures& f) { return NumberOrNull(f.averageMovingRange); }},
    {"short_term_sigma", [](const CapabilityFigures& f) { return NumberOrNull(f.shortTermSigma); }},
    {"cp", [](const CapabilityFigures& f) { return NumberOrNull(f.cp); }},
    {"cpk", [](const CapabilityFigures& f) { return NumberOrNull(f.cpk); }},
    {"cpk_low", [](const CapabilityFigures& f) { return NumberOrNull(f.cpkLow); }},
    {"cpk_high", [](const CapabilityFigures& f) { return NumberOrNull(f.cpkHigh); }},
    {"pp", [](const CapabilityFigures& f) { return NumberOrNull(f.pp); }},
    {"ppk", [](const CapabilityFigures& f) { return NumberOrNull(f.ppk); }},
    {"outside", [](const CapabilityFigures& f) { return QJsonValue(f.outside); }},
    {"outside_share", [](const CapabilityFigures& f) { return NumberOrNull(f.outsideShare); }},
    {"marginal", [](const CapabilityFigures& f) { return Optional(f.marginal); }},
    {"lower_control_limit", [](const CapabilityFigures& f) { return NumberOrNull(f.lowerControlLimit); }},
    {"upper_control_limit", [](const CapabilityFigures& f) { return NumberOrNull(f.upperControlLimit); }},
    // JSON lists the breaks, CSV counts them.
    {"rule_breaks",
     [](const CapabilityFigures& f) {
         QJsonArray breaks;
         for (const RuleBreak& b : f.breaks)
             breaks.append(
                 QJsonObject{{"index", static_cast<qint64>(b.index)}, {"rule", static_cast<int>(b.rule)}});
         return QJsonValue(breaks);
     }},
    {"warning",
     [](const CapabilityFigures& f) {
         return f.tooFew ? QJsonValue(QLatin1String(TooFewValuesWarning)) : QJsonValue();
     }},
};

QJsonObject FiguresObject(const CapabilityFigures& f) {
    QJsonObject object;
    for (const Figure& figure : Figures)
        object[QLatin1String(figure.name)] = figure.value(f);
    return object;
}

// A figure as a CSV field: empty for none, a list by its length.
std::string CsvField(const QJsonValue& value) {
    if (value.isArray())
        return std::to_string(value.toArray().size());
    if (value.isString())
        return value.toString().toStdString();
    return value.isDouble() ? NumberText(value.toDouble()) : std::string();
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
    for (const Figure& figure : Figures)
        row.push_back(figure.name);
    row.push_back("not_numbers");
    for (const Figure& figure : Figures)
        row.push_back(std::string("without_failed_") + figure.name);
    QByteArray out;
    AppendCsvRow(out, std::span<const std::string>(row));
    for (const CheckCapability& c : report.checks) {
        const CapabilityLimits& l = c.limits;
        row = {c.name, l.units, l.low ? NumberText(*l.low) : std::string(), l.high ? NumberText(*l.high) : std::string(),
               flag(l.lowStrict), flag(l.highStrict)};
        for (const Figure& figure : Figures)
            row.push_back(CsvField(figure.value(c.all)));
        row.push_back(std::to_string(c.notNumbers));
        for (const Figure& figure : Figures)
            row.push_back(CsvField(figure.value(c.withoutFailed)));
        AppendCsvRow(out, std::span<const std::string>(row));
    }
    return out;
}

}  // namespace tamrisk
