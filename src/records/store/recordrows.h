#pragma once
// How a record's parts map to the columns of the records' tables, for the
// pieces that write and read them: texts are never NULL (""), header strings
// are UTF-8, log text and serial numbers Windows-1251 decoded, step bytes bytes.

#include "record.h"

#include <QSqlQuery>
#include <QString>
#include <QVariant>
#include <QVariantList>

#include <optional>
#include <string>

namespace tamrisk {

// The header's columns, in the order ReadHeader reads them.
inline constexpr const char* HeaderColumns =
    "id, kind, station, operator_name, program_version, port, speed, started_ms, duration_ms, outcome, reason,"
    " unit, script, script_sha256, line_range, exit_code, operation, product, operator_id, computer_login,"
    " release_number, engineering";

QVariant Text(const QString& text);
QVariant Utf8(const std::string& text);
QVariant Cp1251(const std::string& bytes);
QVariant Bytes(const std::string& bytes);
std::string Utf8From(const QVariant& value);
std::string Cp1251From(const QVariant& value);
std::string BytesFrom(const QVariant& value);
QVariant OutcomeValue(const std::optional<RecordOutcome>& outcome);
// The outcome a column holds; none for NULL (in progress) and for a text that
// names no outcome.
std::optional<RecordOutcome> OutcomeFrom(const QVariant& value);
QVariant ExitValue(const std::optional<int>& exitCode);
// NULL for none, of the column's type.
QVariant NullableUtf8(const std::optional<std::string>& text);
QVariant NullableNumber(const std::optional<double>& number);

// A check's columns after record_id and seq, in the order ReadCheck reads them.
inline constexpr const char* CheckTableColumns =
    "name, line, field, op, expected, low, high, units, value, result, step, message";
// Binds a check's CheckTableColumns from `at` on.
void BindCheck(QSqlQuery& query, int at, const RecordCheck& check);
// The check of a row selected with CheckTableColumns from column `at` on.
RecordCheck ReadCheck(const QSqlQuery& query, int at);

// `count` (at least one) placeholders for an IN list: "?, ?, ?".
inline QString Placeholders(std::size_t count) {
    return QStringLiteral("?") + QStringLiteral(", ?").repeated(static_cast<qsizetype>(count) - 1);
}

// A listing's statement: its SELECT, then one "AND condition" with its value
// for each filter given.
struct Conditions {
    QString sql;
    QVariantList values;
    void Where(bool given, const char* condition, const QVariant& value) {
        if (!given)
            return;
        sql += QStringLiteral(" AND ") + QLatin1String(condition);
        values.push_back(value);
    }
};

// The header of a row selected with HeaderColumns first.
RecordHeader ReadHeader(const QSqlQuery& query);

}  // namespace tamrisk
