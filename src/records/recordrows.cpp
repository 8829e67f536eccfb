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

QVariant ExitValue(const std::optional<int>& exitCode) {
    return exitCode ? QVariant(*exitCode) : QVariant(QMetaType::fromType<int>());
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
    if (!query.value(9).isNull())
        header.outcome = OutcomeFromText(Utf8From(query.value(9)));
    header.reason = Utf8From(query.value(10));
    header.unit = Utf8From(query.value(11));
    header.script = Utf8From(query.value(12));
    header.scriptSha256 = Utf8From(query.value(13));
    header.lineRange = Utf8From(query.value(14));
    if (!query.value(15).isNull())
        header.exitCode = query.value(15).toInt();
    return header;
}

}  // namespace tamrisk
