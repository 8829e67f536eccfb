#include "journalformat.h"
#include "textcodec.h"

#include <gtest/gtest.h>

namespace tamrisk {
namespace {

using Lines = std::vector<std::string>;

TEST(JournalQuery, TrimsControlsAndBlanksAndKnowsItsLimit) {
    EXPECT_EQ(TrimQuery("\t Z5 \r\n"), "Z5");
    EXPECT_EQ(TrimQuery("  \x01 "), "");
    EXPECT_EQ(TrimQuery("D1 - 3"), "D1 - 3");
    EXPECT_EQ(QueryTooLong(std::string(217, 'A'), 2), "");
    EXPECT_EQ(QueryTooLong(std::string(217, 'A'), 3), "Query too long (217 characters, at most 216)");
}

TEST(JournalTexts, CountsAndTimes) {
    EXPECT_EQ(DocumentCountText(1), "1 document");
    EXPECT_EQ(DocumentCountText(0), "0 documents");
    EXPECT_EQ(DocumentCountText(21), "21 documents");
    EXPECT_EQ(DocumentsDoneText(3, 0.42), "3 documents, 0.42 seconds");
    EXPECT_EQ(DocumentsDoneText(1, 75.5), "1 document, 1:15.50");
    EXPECT_EQ(Cp1251ToUtf8(CheckTimeText(1.5)), "1.500 секунди");
    EXPECT_EQ(LeadingNumber("12x"), 12u);
    EXPECT_EQ(LeadingNumber("x12"), 0u);
    EXPECT_EQ(JournalFailureMessage(0x21), "Invalid input data");
    EXPECT_EQ(JournalFailureMessage(0x20000020), "Cannot execute report");
}

TEST(JournalTexts, ReadAnswers) {
    EXPECT_EQ(ParseReadAnswer("P,line text").text, "line text");
    EXPECT_EQ(ParseReadAnswer("*,").text, "");
    EXPECT_EQ(ParseReadAnswer("*,").kind, '*');
    EXPECT_EQ(ParseReadAnswer("F").kind, 'F');
    EXPECT_EQ(ParseReadAnswer("").text, "");  // shorter than its head: an empty line
}

TEST(CheckAnswer, LinesByQueryAndAnswer) {
    const std::string sha(40, 'A');
    struct Case {
        char first;
        std::string answer;
        Lines lines;
    };
    const std::vector<Case> cases = {
        {'R', "P,57,20-03-24 18:00:00," + sha,
         {"Z-report document number: 57", "Z-report data and time: 20-03-24 18:00:00", "Z-report SHA-1: " + sha}},
        {'R', "P,57,20-03-24", {"Z-report document number: 57"}},  // one comma: the number only
        {'R', "P,57", {"Z-report document number: 57"}},
        {'R', "E,57,a,b", {}},
        {'Z', "F", {"No data for this Z-report"}},
        {'Z', "P,12,3456," + sha,
         {"Journal SHA-1 correct", "", "Z-report journal document count:           12",
          "Z-report journal byte count:             3456", "SHA-1: " + sha}},
        {'Z', "P,12", {"Journal SHA-1 correct", "", "Z-report journal document count:           12"}},
        {'Z', "P,12,3456",
         {"Journal SHA-1 correct", "", "Z-report journal document count:           12",
          "Z-report journal byte count:             3456"}},
        {'Z', "E,12,3456,1111,2222",
         {"Journal and calculated SHA-1 not equal!", "", "Z-report journal document count:           12",
          "Z-report journal byte count:             3456", "SHA-1 (Journal):    1111", "SHA-1 (Calculated): 2222"}},
        {'Z', "E,12,3456,1111",
         {"Journal and calculated SHA-1 not equal!", "", "Z-report journal document count:           12",
          "Z-report journal byte count:             3456"}},
        {'Z', "E,4294967297", {"Journal and calculated SHA-1 not equal!", "",
                               "Z-report journal document count:            1"}},  // 32-bit
        {'X', "P,3,57,x,y", {"P,3,57,x,y"}},
        {'z', "P,12,3456," + sha, {}},  // lower case: only the time
    };
    for (const Case& c : cases)
        EXPECT_EQ(CheckAnswerLines(c.first, c.answer), c.lines) << c.first << ' ' << c.answer;
}

TEST(InfoAnswer, NineLinesWithPercentagesAndTheDocumentCount) {
    EXPECT_EQ(InfoAnswerLines("P,2097152,19456,3,8,1,120"),
              (Lines{"Journal size:       2097152 bytes", "Used:                 19456 bytes (0.928%)",
                     "Free:               2077696 bytes (99.072%)", "", "First Z-report:           3",
                     "Last Z-report:            8", "First document:           1", "Last document:          120",
                     "Documents:              120"}));
    struct Case {
        std::string answer;
        std::optional<std::string> documents;  // the last line, or no lines at all
    };
    const std::vector<Case> cases = {
        {"P,100,10,1,2,1,0", "Documents:                0"},
        {"P,100,10,1,2,5,4", "Documents:                0"},
        {"P,100,10,1,2,5,3", "Documents:         4294967295"},
        {"P,100,10,1,2", "Documents:                1"},  // missing numbers show as 0
        {"P,100,10,", "Documents:                1"},
        {"P,100,10", std::nullopt},  // no comma after field 2
        {"P,100", std::nullopt},
        {"E,100,10,1,2,3,4", std::nullopt},
    };
    for (const Case& c : cases) {
        const auto lines = InfoAnswerLines(c.answer);
        ASSERT_EQ(lines.has_value(), c.documents.has_value()) << c.answer;
        if (lines) {
            EXPECT_EQ(lines->back(), *c.documents) << c.answer;
        }
    }
    const auto empty = InfoAnswerLines("P,0,0,0,0,0,0");
    ASSERT_TRUE(empty);
    EXPECT_EQ((*empty)[1], "Used:                     0 bytes (0.000%)");
    EXPECT_EQ((*empty)[2], "Free:                     0 bytes (0.000%)");
}

}  // namespace
}  // namespace tamrisk
