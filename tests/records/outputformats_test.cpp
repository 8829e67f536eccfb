// The formats records are written in: which names each front end takes and how
// its usage message lists them (the export's files and filters are tested
// through the records window), and the text a record's steps are stored in.

#include "record.h"
#include "outputformats.h"

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

namespace tamrisk {
namespace {

// A stored step chunk that is not one is refused whole, so that a damaged row
// is reported instead of read as steps with wrong fields.
TEST(StepChunks, AChunkThatIsNotOneIsRefused) {
    const std::string good = "3\t121\t0000,64\t00,00,00,00,00,3A\tAB\\tC\tanswered\t1\t10\t2\t1\t0\n";
    std::vector<RecordStep> read;
    ASSERT_TRUE(ReadStepChunk(good, read));
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0].answer, "AB\tC");
    EXPECT_EQ(read[0].line, 3);
    for (const char* bad : {
             "3\t121\t0000,64\t00,00,00,00,00,3A\tAB\tanswered\t1\t10\t2\t1\t0",       // no line end
             "3\t121\t0000,64\t00,00,00,00,00,3A\tAB\tanswered\t1\t10\t2\t1\n",        // a field missing
             "3\t121\t0000,64\t00,00,00,00,00,3A\tAB\tanswered\t1\t10\t2\t1\t0\t9\n",  // one too many
             "3\t121\t0000,64\t00,00,00,00,3A\tAB\tanswered\t1\t10\t2\t1\t0\n",        // five status bytes
             "3\t121\t0000,64\t\tAB\tsent\t1\t10\t2\t1\t0\n",                          // no such result
             "x\t121\t0000,64\t\tAB\tanswered\t1\t10\t2\t1\t0\n",                      // a line not a number
             "\t\t0000,64\t\tAB\tanswered\t1\t10\t2\t1\t0\n",                          // no command
         }) {
        SCOPED_TRACE(bad);
        std::vector<RecordStep> steps;
        EXPECT_FALSE(ReadStepChunk(bad, steps));
    }
}

}  // namespace
}  // namespace tamrisk
