#include "outputformats.h"

namespace tamrisk {

namespace {

constexpr RecordFormatInfo Formats[] = {
    {RecordFormat::Table, "table", "", ""},
    {RecordFormat::JUnit, "junit", "xml", "JUnit XML (*.xml)"},
    {RecordFormat::Json, "json", "json", "JSON (*.json)"},
    {RecordFormat::Csv, "csv", "csv", "CSV (*.csv)"},
};

}  // namespace

const RecordFormatInfo& FormatInfo(RecordFormat format) {
    for (const RecordFormatInfo& info : Formats) {
        if (info.format == format)
            return info;
    }
    return Formats[0];
}

std::optional<RecordFormat> FormatNamed(std::string_view name, std::span<const RecordFormat> offered) {
    for (const RecordFormat format : offered) {
        if (FormatInfo(format).name == name)
            return format;
    }
    return std::nullopt;
}

std::string FormatChoices(std::span<const RecordFormat> offered) {
    std::string text;
    for (std::size_t i = 0; i < offered.size(); ++i) {
        if (i > 0)
            text += i + 1 == offered.size() ? " or " : ", ";
        text += FormatInfo(offered[i]).name;
    }
    return text;
}

}  // namespace tamrisk
