#include "recordrows.h"

#include "textcodec.h"

namespace tamrisk {

QVariant Text(const QString& text) {
    return text.isNull() ? QVariant(QStringLiteral("")) : QVariant(text);
}

QVariant Utf8(const std::string& text) {
    return Text(QString::fromStdString(text));
}

QVariant Cp1251(const std::string& bytes) {
    return Text(DecodeCp1251(bytes));
}

QVariant Bytes(const std::string& bytes) {
    return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

std::string Utf8From(const QVariant& value) {
    return value.toString().toStdString();
}

std::string Cp1251From(const QVariant& value) {
    const QString text = value.toString();
    if (auto bytes = EncodeCp1251(text))
        return *std::move(bytes);
    return text.toStdString();
}

std::string BytesFrom(const QVariant& value) {
    return value.toByteArray().toStdString();
}

QVariant OutcomeValue(const std::optional<RecordOutcome>& outcome) {
    return outcome ? QVariant(QString::fromLatin1(OutcomeText(*outcome))) : QVariant(QMetaType::fromType<QString>());
}

std::optional<RecordOutcome> OutcomeFrom(const QVariant& value) {
    return value.isNull() ? std::nullopt : OutcomeFromText(Utf8From(value));
}

QVariant ExitValue(const std::optional<int>& exitCode) {
    return exitCode ? QVariant(*exitCode) : QVariant(QMetaType::fromType<int>());
}

QVariant NullableUtf8(const std::optional<std::string>& text) {
    return text ? Utf8(*text) : QVariant(QMetaType::fromType<QString>());
}

QVariant NullableNumber(const std::optional<double>& number) {
    return number ? QVariant(*number) : QVariant(QMetaType::fromType<double>());
}

void BindCheck(QSqlQuery& query, int at, const RecordCheck& made) {
    const CheckOutcome& check = made.check;
    for (const QVariant& value :
         {Utf8(check.name), QVariant(check.line), Utf8(check.field), Utf8(std::string(CheckOperatorText(check.op))),
          NullableUtf8(check.expected), NullableNumber(check.low), NullableNumber(check.high), Utf8(check.units),
          NullableUtf8(check.value), QVariant(QString::fromLatin1(CheckResultText(check.result))), ExitValue(made.step),
          Utf8(check.message)})
        query.bindValue(at++, value);
}

RecordCheck ReadCheck(const QSqlQuery& query, int at) {
    const auto value = [&](int i) { return query.value(at + i); };
    const auto text = [&](int i) { return value(i).isNull() ? std::nullopt : std::optional(Utf8From(value(i))); };
    const auto number = [&](int i) { return value(i).isNull() ? std::nullopt : std::optional(value(i).toDouble()); };
    RecordCheck made;
    CheckOutcome& check = made.check;
    check.name = Utf8From(value(0));
    check.line = value(1).toInt();
    check.field = Utf8From(value(2));
    check.op = CheckOperatorFromText(Utf8From(value(3)));
    check.expected = text(4);
    check.low = number(5);
    check.high = number(6);
    check.units = Utf8From(value(7));
    check.value = text(8);
    check.result = CheckResultFromText(Utf8From(value(9))).value_or(CheckResult::Error);
    if (!value(10).isNull())
        made.step = value(10).toInt();
    check.message = Utf8From(value(11));
    return made;
}

RecordHeader ReadHeader(const QSqlQuery& query) {
    RecordHeader header;
    header.id = Utf8From(query.value(0));
    header.kind = Utf8From(query.value(1));
    header.station = Utf8From(query.value(2));
    header.operatorName = Utf8From(query.value(3));
    header.version = Utf8From(query.value(4));
    header.port = Utf8From(query.value(5));
    header.speed = query.value(6).toInt();
    header.startedMs = query.value(7).toLongLong();
    header.durationMs = query.value(8).toLongLong();
    header.outcome = OutcomeFrom(query.value(9));
    header.reason = Utf8From(query.value(10));
    header.unit = Utf8From(query.value(11));
    header.script = Utf8From(query.value(12));
    header.scriptSha256 = Utf8From(query.value(13));
    header.lineRange = Utf8From(query.value(14));
    if (!query.value(15).isNull())
        header.exitCode = query.value(15).toInt();
    header.operation = Utf8From(query.value(16));
    header.product = Utf8From(query.value(17));
    header.operatorId = Utf8From(query.value(18));
    header.computerLogin = Utf8From(query.value(19));
    if (!query.value(20).isNull())
        header.releaseNumber = query.value(20).toInt();
    header.engineering = query.value(21).toBool();
    return header;
}

}  // namespace tamrisk
