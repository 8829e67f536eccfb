// The formats records are written in: which names each front end takes and how
// its usage message lists them (the export's files and filters are tested
// through the records window).

#include "recordformats.h"

#include <gtest/gtest.h>

namespace tamrisk {
namespace {

TEST(RecordFormats, EachFrontEndTakesItsOwnNamesAndListsThemInItsOrder) {
    const struct {
        std::span<const RecordFormat> offered;
        const char* name;
        std::optional<RecordFormat> taken;
    } cases[] = {
        {ListFormats, "table", RecordFormat::Table}, {ListFormats, "csv", RecordFormat::Csv},
        {ListFormats, "json", RecordFormat::Json},   {ListFormats, "junit", std::nullopt},
        {ExportFormats, "junit", RecordFormat::JUnit}, {ExportFormats, "table", std::nullopt},
        {ExportFormats, "JSON", std::nullopt},       {ExportFormats, "", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatNamed(c.name, c.offered), c.taken) << c.name;
    EXPECT_EQ(FormatChoices(ListFormats), "table, csv or json");
    EXPECT_EQ(FormatChoices(ExportFormats), "junit, json or csv");
}

}  // namespace
}  // namespace tamrisk
