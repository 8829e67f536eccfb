// The JSON reports: record headers, whole records with their log, serial
// numbers, images, steps and checks, serial-number claims and listed checks.

#include "reportfields.h"
#include "reports.h"
#include "textcodec.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace tamrisk {

namespace {

QJsonObject HeaderObject(const RecordHeader& header) {
    QJsonObject object;
    object["id"] = FromUtf8(header.id);
    object["kind"] = FromUtf8(header.kind);
    object["station"] = FromUtf8(header.station);
    object["operator"] = FromUtf8(header.operatorName);
    object["version"] = FromUtf8(header.version);
    object["port"] = FromUtf8(header.port);
    object["speed"] = header.speed;
    object["started"] = FromUtf8(IsoUtcMs(header.startedMs));
    object["duration_s"] = static_cast<double>(header.durationMs) / 1000.0;
    object["outcome"] = TextOrNull(OutcomeOrEmpty(header).toStdString());
    object["reason"] = FromUtf8(header.reason);
    object["unit"] = FromUtf8(header.unit);
    object["script"] = FromUtf8(header.script);
    object["script_sha256"] = FromUtf8(header.scriptSha256);
    object["exit"] = header.exitCode ? QJsonValue(*header.exitCode) : QJsonValue();
    object["lines"] = TextOrNull(header.lineRange);
    object["operation"] = TextOrNull(header.operation);
    object["product"] = TextOrNull(header.product);
    const auto values = RunByValues(header);
    for (std::size_t i = 0; i < RunByFields.size(); ++i) {
        const std::string& value = values[i];
        QJsonValue field;
        switch (RunByFields[i].type) {
        case FieldType::Text: field = TextOrNull(value); break;
        case FieldType::Number: field = value.empty() ? QJsonValue() : QJsonValue(std::stoi(value)); break;
        case FieldType::Flag: field = value == "true"; break;
        }
        object[QLatin1String(RunByFields[i].name)] = field;
    }
    return object;
}

// A step; a phase of a bulk read also tells how many transactions it stands
// for and how many of them failed.
QJsonObject StepObject(const RecordStep& step, bool phase) {
    QJsonObject object{{"line", step.line ? QJsonValue(*step.line) : QJsonValue()},
                       {"command", step.command},
                       {"data", DecodeCp1251(step.data)},
                       {"status", step.status ? QJsonValue(FromUtf8(StatusText(*step.status))) : QJsonValue()},
                       {"answer", DecodeCp1251(step.answer)},
                       {"result", FromUtf8(std::string(StepResultText(step.result)))},
                       {"attempts", step.attempts},
                       {"t_ms", step.tMs},
                       {"duration_ms", step.durationMs}};
    if (phase) {
        object["transactions"] = step.transactions;
        object["failures"] = step.failures;
    }
    return object;
}



QJsonObject CheckObject(const RecordCheck& made) {
    const CheckOutcome& check = made.check;
    return {{"name", FromUtf8(check.name)},
            {"line", check.line},
            {"field", FromUtf8(check.field)},
            {"op", FromUtf8(std::string(CheckOperatorText(check.op)))},
            {"expected", TextOrNull(check.expected)},
            {"low", NumberOrNull(check.low)},
            {"high", NumberOrNull(check.high)},
            {"units", TextOrNull(check.units)},
            {"value", TextOrNull(check.value)},
            {"result", FromUtf8(std::string(CheckResultText(check.result)))},
            {"step", made.step ? QJsonValue(*made.step) : QJsonValue()}};
}

QJsonObject RecordObject(const Record& record) {
    QJsonObject object = HeaderObject(record.header);
    QJsonArray log;
    for (const RecordLogLine& line : record.log)
        log.append(QJsonObject{{"t_ms", line.tMs},
                               {"colour", FromUtf8(std::string(ColourText(line.colour)))},
                               {"text", LogText(line)}});
    object["log"] = log;
    QJsonArray serials;
    for (const RecordSerial& serial : record.serials)
        serials.append(QJsonObject{{"space", DecodeCp1251(serial.space)},
                                   {"data", DecodeCp1251(serial.data)},
                                   {"line", serial.line},
                                   {"result", FromUtf8(std::string(SerialResultText(serial.result)))}});
    object["serials"] = serials;
    QJsonArray images;
    for (const RecordImage& image : record.images)
        images.append(QJsonObject{{"kind", FromUtf8(image.kind)},
                                  {"length", image.length},
                                  {"sha256", FromUtf8(image.sha256)},
                                  {"file", FromUtf8(image.file)}});
    object["images"] = images;
    QJsonArray steps;
    const bool phases = IsBulkKind(record.header.kind);
    for (const RecordStep& step : record.steps)
        steps.append(StepObject(step, phases));
    object["steps"] = steps;
    // Only records that made checks list them: the others read as they always did.
    if (!record.checks.empty()) {
        QJsonArray checks;
        for (const RecordCheck& check : record.checks)
            checks.append(CheckObject(check));
        object["checks"] = checks;
    }
    return object;
}

template <typename Items, typename ToValue>
QByteArray JsonArray(const Items& items, ToValue toValue) {
    QJsonArray array;
    for (const auto& item : items)
        array.append(toValue(item));
    return QJsonDocument(array).toJson(QJsonDocument::Indented);
}

}  // namespace

QByteArray HeadersJson(std::span<const RecordHeader> headers) { return JsonArray(headers, HeaderObject); }

QByteArray RecordJson(const Record& record) {
    return QJsonDocument(RecordObject(record)).toJson(QJsonDocument::Indented);
}

QByteArray RecordsJson(std::span<const Record> records) { return JsonArray(records, RecordObject); }

QByteArray ChecksJson(std::span<const CheckRow> checks) {
    return JsonArray(checks, [](const CheckRow& row) {
        QJsonObject object = CheckObject(row.made);
        object["record"] = FromUtf8(row.recordId);
        object["unit"] = FromUtf8(row.unit);
        object["station"] = FromUtf8(row.station);
        object["started"] = FromUtf8(IsoUtcMs(row.startedMs));
        return object;
    });
}

QByteArray ClaimsJson(std::span<const SerialClaimRow> claims) {
    return JsonArray(claims, [](const SerialClaimRow& claim) {
        QJsonObject object;
        const auto fields = ClaimFields(claim);
        for (std::size_t i = 0; i < fields.size(); ++i)
            object[QLatin1String(ClaimColumns[i])] = FromUtf8(fields[i]);
        return object;
    });
}

QByteArray OperatorsJson(std::span<const Operator> people) {
    return JsonArray(people, [](const Operator& person) {
        return QJsonObject{{"id", FromUtf8(person.id)},
                           {"name", FromUtf8(person.name)},
                           {"role", FromUtf8(std::string(RoleName(person.role)))},
                           {"disabled", person.disabled},
                           {"failed_pins", person.failedPins},
                           {"locked_until", person.lockedUntilMs > 0
                                                ? QJsonValue(FromUtf8(IsoUtcMs(person.lockedUntilMs)))
                                                : QJsonValue()},
                           {"added", FromUtf8(IsoUtcMs(person.addedMs))}};
    });
}

QByteArray RoutesJson(std::span<const Route> routes) {
    return JsonArray(routes, [](const Route& route) {
        QJsonArray operations;
        for (const RouteStep& step : route.steps)
            operations.append(QJsonObject{{"operation", FromUtf8(step.operation)}, {"retest_limit", step.retestLimit}});
        return QJsonObject{{"product", FromUtf8(route.product)}, {"operations", operations}};
    });
}

}  // namespace tamrisk

namespace tamrisk {

QByteArray UnitHistoryJson(std::span<const UnitEvent> events) {
    return JsonArray(events, [](const UnitEvent& e) {
        return QJsonObject{{"record", FromUtf8(e.recordId)},
                           {"kind", FromUtf8(e.kind)},
                           {"started", FromUtf8(IsoUtcMs(e.startedMs))},
                           {"operation", TextOrNull(e.operation)},
                           {"product", TextOrNull(e.product)},
                           {"station", FromUtf8(e.station)},
                           {"operator", FromUtf8(e.operatorName)},
                           {"outcome",
                            e.outcome ? QJsonValue(QString::fromLatin1(OutcomeText(*e.outcome))) : QJsonValue()},
                           {"cause", TextOrNull(e.cause)},
                           {QLatin1String(EngineeringField), e.engineering}};
    });
}

QByteArray WipJson(std::span<const WipCount> counts) {
    return JsonArray(counts, [](const WipCount& c) {
        return QJsonObject{{"product", FromUtf8(c.product)},
                           {"operation", FromUtf8(c.operation)},
                           {"waiting", c.waiting},
                           {"in_test", c.inTest},
                           {"on_hold", c.onHold}};
    });
}

QByteArray ReleasesJson(std::span<const ScriptRelease> releases) {
    const auto time = [](const std::optional<qint64>& ms) {
        return ms ? QJsonValue(FromUtf8(IsoUtcMs(*ms))) : QJsonValue();
    };
    const auto text = [](const std::optional<std::string>& t) { return t ? QJsonValue(FromUtf8(*t)) : QJsonValue(); };
    return JsonArray(releases, [&](const ScriptRelease& r) {
        return QJsonObject{{"id", r.id},
                           {"product", FromUtf8(r.product)},
                           {"operation", FromUtf8(r.operation)},
                           {"number", r.number},
                           {"script_name", FromUtf8(r.scriptName)},
                           {"script_sha256", FromUtf8(r.scriptSha256)},
                           {"vars_name", TextOrNull(r.varsName)},
                           {"vars_sha256", TextOrNull(r.varsSha256)},
                           {"released_by", FromUtf8(r.releasedBy)},
                           {"released", FromUtf8(IsoUtcMs(r.releasedMs))},
                           {"station", FromUtf8(r.station)},
                           {"approved_by", text(r.approvedBy)},
                           {"approved", time(r.approvedMs)},
                           {"revoked_by", text(r.revokedBy)},
                           {"revoked", time(r.revokedMs)},
                           {"revoke_reason", text(r.revokeReason)},
                           {"active", r.active}};
    });
}

}  // namespace tamrisk
