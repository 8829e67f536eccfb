#include "dataescapes.h"
#include "duration.h"
#include "resultlog.h"
#include "transaction.h"

#include <gtest/gtest.h>

namespace tamrisk {
namespace {

TEST(FormatElapsed, SecondsBelowAMinuteAndMinutesFromOneOn) {
    const std::vector<std::pair<double, std::string>> cases = {
        {0, "T 0.00 seconds"},  {0.25, "T 0.25 seconds"}, {5, "T 5.00 seconds"},
        {59.999, "T 60.00 seconds"}, {60, "T 1:0.00"},     {75.3, "T 1:15.30"},
        {75.5, "T 1:15.50"},    {125.3, "T 2:5.30"},      {3725, "T 62:5.00"},
    };
    for (const auto& [seconds, text] : cases)
        EXPECT_EQ(FormatElapsed("T ", seconds), text) << seconds;
    EXPECT_EQ(FormatElapsed("", 5), "5.00 seconds");
    // The results log puts its own line end after a duration: an empty line follows it.
    EXPECT_EQ(ElapsedResultLine("Script execution time ", 75.3), "Script execution time 1:15.30\r\n");
}

// The records' durations: seconds with as many decimals as the view shows, no
// minutes however long, rounded as the texts always were.
TEST(FormatSeconds, DecimalsAsAskedWithoutMinutes) {
    const struct {
        long long ms;
        int decimals;
        const char* text;
    } cases[] = {
        {0, 2, "0.00"},      {1250, 2, "1.25"},       {1250, 3, "1.250"}, {999, 3, "0.999"},
        {1255, 2, "1.25"},   {1256, 2, "1.26"},       {75300, 2, "75.30"}, {3725000, 3, "3725.000"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatSeconds(std::chrono::milliseconds(c.ms), c.decimals), c.text) << c.ms << " " << c.decimals;
}

TEST(TransactionLines, RequestAndAnswerLayouts) {
    EXPECT_EQ(FormatRequestLine(48, "A\\tB"), "-> 48,\"A\\tB\"");
    EXPECT_EQ(FormatRequestLine(255, ""), "-> 255,\"\"");
    TransactionState state;
    state.StatusBytes = {0xA0, 0x80, 0x80, 0x80, 0x80, 0x80};
    state.SynCount = 2;
    state.AnswerData = "P";
    EXPECT_EQ(FormatAnswerLine(state), "<- [A0,80,80,80,80,80](0,2),\"P\"");
    state = {};
    state.FailedAttempts = 2;
    EXPECT_EQ(FormatAnswerLine(state), "<- [00,00,00,00,00,00](2,0),\"\"");
}

TEST(TransactionLines, StatusBytesReadBackFromAnAnswerLine) {
    const StatusBytesArray before = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
    const struct {
        const char* line;
        bool answer;
        StatusBytesArray status;
    } cases[] = {
        {"<- [21,02,00,00,00,00](0,0),\"\"", true, {0x21, 0x02, 0, 0, 0, 0}},
        {"<- [a0,Ff,80,80,80,80](1,3),\"P\"", true, {0xA0, 0xFF, 0x80, 0x80, 0x80, 0x80}},
        // A byte without a digit keeps its value; one digit reads alone.
        {"<- [21,x2,7 ,,,,00,0", true, {0x21, 0x22, 0x07, 0x44, 0x00, 0x00}},
        {"<- [21,02", true, {0x21, 0x02, 0x33, 0x44, 0x55, 0x66}},
        {"<- [", true, before},
        {"-> 48,\"<- [21,02,00,00,00,00]\"", false, before},
        {" <- [21,02,00,00,00,00](0,0)", false, before},
        {"!!<- [21", false, before},
        {"", false, before},
    };
    for (const auto& c : cases) {
        StatusBytesArray status = before;
        EXPECT_EQ(ReadAnswerLineStatus(c.line, status), c.answer) << c.line;
        EXPECT_EQ(status, c.status) << c.line;
    }
    // What FormatAnswerLine writes reads back whole.
    TransactionState state;
    state.StatusBytes = {0x80, 0xC4, 0x8A, 0x80, 0xA0, 0xBF};
    StatusBytesArray status = before;
    EXPECT_TRUE(ReadAnswerLineStatus(FormatAnswerLine(state), status));
    EXPECT_EQ(status, state.StatusBytes);
}

TEST(TransactionLines, AnswerIsRedForPrinterErrorsAndLinkFailures) {
    const std::vector<std::pair<std::uint32_t, ResultColour>> cases = {
        {0, ResultColour::Green},
        {0x400000, ResultColour::Green},     // printer fiscalized
        {0x1 | 0x2 | 0x20, ResultColour::Green},  // failure bits without the common error
        {CommonErrorFlag, ResultColour::Red},
        {CommonFiscalErrorFlag, ResultColour::Green},
        {PortNotOpen, ResultColour::Red},
        {NoAnswer, ResultColour::Red},
        {BadProtocol, ResultColour::Red},
    };
    for (const auto& [flags, colour] : cases)
        EXPECT_EQ(AnswerLineColour(flags), colour) << std::hex << flags;
}

TEST(DataEscapes, TabAndLineFeedOnly) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"A\\tB\\nC", "A\tB\nC"},
        {"\\\\n", "\\\n"},
        {"\\x\\", "\\x\\"},
        {"\\T\\N", "\\T\\N"},
        {"", ""},
        {"\\t\\t", "\t\t"},
    };
    for (const auto& [written, sent] : cases)
        EXPECT_EQ(TranslateDataEscapes(written), sent) << written;
}

TEST(Colours, RgbOfEveryColour) {
    const std::vector<std::pair<ResultColour, std::array<int, 3>>> cases = {
        {ResultColour::Black, {0, 0, 0}},       {ResultColour::Blue, {0, 0, 255}},
        {ResultColour::Green, {0, 128, 0}},     {ResultColour::Red, {255, 0, 0}},
        {ResultColour::Gray, {128, 128, 128}},  {ResultColour::Purple, {128, 0, 128}},
    };
    for (const auto& [colour, rgb] : cases) {
        const Rgb c = ColourRgb(colour);
        EXPECT_EQ((std::array<int, 3>{c.red, c.green, c.blue}), rgb);
    }
}

}  // namespace
}  // namespace tamrisk
