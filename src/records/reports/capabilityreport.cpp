// The capability of numeric checks as JSON, for the CLI and the dashboard alike.

#include "reportfields.h"
#include "reports.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

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

}  // namespace tamrisk
