#pragma once
// What the report writers share: texts of a record's fields as every report
// writes them, and CSV rows quoted as RFC 4180 says. Pure functions.

#include "record.h"
#include "recordstore.h"

#include <QByteArray>
#include <QJsonValue>
#include <QString>

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace tamrisk {

// A UTF-8 text as a QString.
QString FromUtf8(const std::string& text);
// JSON's null for none, else the number or the text; an empty text is null
// too, where it is a plain string.
QJsonValue NumberOrNull(const std::optional<double>& number);
QJsonValue TextOrNull(const std::string& text);
QJsonValue TextOrNull(const std::optional<std::string>& text);
// A log line's text as the view shows it: decoded, without the line end that
// some lines carry to leave an empty line after them.
QString LogText(const RecordLogLine& line);
// Milliseconds as seconds with three decimals, "2.500" (FormatSeconds).
QString Seconds(qint64 ms);
// The outcome's text; empty while the record is in progress.
QString OutcomeOrEmpty(const RecordHeader& header);

// The header fields that say who made a record and what it ran, named as every
// report that writes headers names them, in this order after the older ones:
// the logged-in person's ID, the computer's login, the number of the release
// run and whether it was an engineering run. A text or a number is none when
// empty (null in JSON); a flag is "true" or "false".
enum class FieldType { Text, Number, Flag };
struct ReportField {
    const char* name;
    FieldType type;
};
inline constexpr const char* EngineeringField = "engineering";
constexpr std::array<ReportField, 4> RunByFields = {{{"operator_id", FieldType::Text},
                                                     {"computer_login", FieldType::Text},
                                                     {"release", FieldType::Number},
                                                     {EngineeringField, FieldType::Flag}}};
// Their values in that order (UTF-8).
std::array<std::string, RunByFields.size()> RunByValues(const RecordHeader& header);

// A record's kind as people read it in a list or a header: an engineering
// run's is "run (engineering)", the mark that it counts in no yield.
std::string KindShown(const std::string& kind, bool engineering);
// Who made a record as people read it: the name, then the ID of the person
// logged in and the computer's login where it is not the name: "Anna Petrova
// (A17), login anna" (UTF-8).
std::string OperatorShown(const RecordHeader& header);

// Appends `fields` as one CSV row: a field holding a comma, quote, CR or LF is
// quoted with its quotes doubled; the row ends in CR LF.
void AppendCsvRow(QByteArray& out, std::span<const std::string> fields);
void AppendCsvRow(QByteArray& out, std::span<const char* const> fields);

// The columns of a claim as the reports name them, and its fields in that order (UTF-8).
constexpr std::array<const char*, 6> ClaimColumns = {"space", "data", "station", "unit", "claimed", "record"};
std::array<std::string, ClaimColumns.size()> ClaimFields(const SerialClaimRow& claim);

// A number as reports write it: a whole number without a fraction or an
// exponent (2000000), any other the shortest text that reads back the same.
std::string NumberText(double number);

// The columns of a listed check as the reports name them, and its fields in
// that order (UTF-8; none empty for NULL).
constexpr std::array<const char*, 15> CheckReportColumns = {"record", "started", "unit",  "station",  "name",
                                                            "line",   "field",   "op",    "expected", "low",
                                                            "high",   "units",   "value", "result",   "step"};
std::array<std::string, CheckReportColumns.size()> CheckFields(const CheckRow& row);

// The columns of the work in progress as the reports name them, and a row's
// fields in that order.
constexpr std::array<const char*, 5> WipColumns = {"product", "operation", "waiting", "in_test", "on_hold"};
std::array<std::string, WipColumns.size()> WipFields(const WipCount& count);

}  // namespace tamrisk
