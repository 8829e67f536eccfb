#pragma once
// How a record's parts map to the columns of the records' tables, for the
// pieces that write and read them: texts are never NULL (""), header strings
// are UTF-8, log text and serial numbers Windows-1251 decoded, step bytes bytes.

#include "record.h"

#include <QSqlQuery>
#include <QString>
#include <QVariant>

#include <optional>
#include <string>

namespace tamrisk {

// The header's columns, in the order ReadHeader reads them.
inline constexpr const char* HeaderColumns =
    "id, kind, station, operator_name, program_version, port, speed, started_ms, duration_ms, outcome, reason,"
    " unit, script, script_sha256, line_range, exit_code";

QVariant Text(const QString& text);
QVariant Utf8(const std::string& text);
QVariant Cp1251(const std::string& bytes);
QVariant Bytes(const std::string& bytes);
std::string Utf8From(const QVariant& value);
std::string Cp1251From(const QVariant& value);
std::string BytesFrom(const QVariant& value);
QVariant OutcomeValue(const std::optional<RecordOutcome>& outcome);
QVariant ExitValue(const std::optional<int>& exitCode);

// The header of a row selected with HeaderColumns first.
RecordHeader ReadHeader(const QSqlQuery& query);

}  // namespace tamrisk
