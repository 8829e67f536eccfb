#pragma once
// The formats records are written in, in one table: the name --format takes, the
// suffix of a file of it and the filter a save dialog offers it by. Each front end
// offers its own choice of them, in its own order.

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tamrisk {

enum class RecordFormat { Table, JUnit, Json, Csv };

struct RecordFormatInfo {
    RecordFormat format;
    std::string_view name;    // as --format takes it
    std::string_view suffix;  // of a file of it, without the dot; empty: not written to files
    std::string_view filter;  // a save dialog's name filter; empty: not written to files
};

// What records list and records claims print, in the order their usage names them.
inline constexpr RecordFormat ListFormats[] = {RecordFormat::Table, RecordFormat::Csv, RecordFormat::Json};
// What an export writes (the CLI's and the records window's), in the same order.
inline constexpr RecordFormat ExportFormats[] = {RecordFormat::JUnit, RecordFormat::Json, RecordFormat::Csv};

// The table's row of `format`.
const RecordFormatInfo& FormatInfo(RecordFormat format);
// The format among `offered` named `name`; none when no offered one is.
std::optional<RecordFormat> FormatNamed(std::string_view name, std::span<const RecordFormat> offered);
// The names of `offered` as a usage message lists them: "table, csv or json".
std::string FormatChoices(std::span<const RecordFormat> offered);

}  // namespace tamrisk
