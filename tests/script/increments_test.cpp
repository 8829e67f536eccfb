#include "increments.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tamrisk {
namespace {

TEST(WriteBackDigitFields, ParsedLinesAfterOneGoodAnswer) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"+1;91,DT000100", "+1;91,DT000101"},
        {"+0+5;72,A12B0099", "+0+5;72,A12B0104"},
        {"+1;91,X99", "+1;91,X00"},
        {"+1+1;48,7,09", "+1+1;48,8,10"},
        // Digits before the data's comma are not part of any field.
        {"+1;91,5", "+1;91,6"},
        {"+1,5;91,X", "+1,6;91,X"},
        // A field whose step is 0 still takes its place in the count.
        {"+0+0+1;48,1a2b3", "+0+0+1;48,1a2b4"},
        // Only five fields are advanced.
        {"+1+1+1+1+1;48,1.1.1.1.1.1", "+1+1+1+1+1;48,2.2.2.2.2.1"},
        // The 16-digit limit: a longer run splits into 16 digits, one passed
        // over, and a further field.
        {"+1;48,9999999999999999", "+1;48,0000000000000000"},
        {"+1+1;48,0000000000000000999", "+1+1;48,0000000000000001900"},
        {"+1+1;48,00000000000000009", "+1+1;48,00000000000000019"},
        // The character ending a field is passed over: a digit after it starts the next.
        {"+1+1;48,5x6", "+1+1;48,6x7"},
        // Steps of full 32-bit size, carry lost beyond the field's width.
        {"+4294967295;48,0000000000000000", "+4294967295;48,0000004294967295"},
        {"+4294967295;48,0000000001", "+4294967295;48,4294967296"},
        {"+4294967295;48,999", "+4294967295;48,294"},
        {"+1000;48,5", "+1000;48,5"},
        {"+1;48,", "+1;48,"},
        {"+1+2;48", "+1+2;48"},
        {"+1;48,abc", "+1;48,abc"},
        {"+1;91,\xC4\xD2" "12", "+1;91,\xC4\xD2" "13"},
    };
    for (const auto& [before, after] : cases) {
        const ScriptLine line = ParseScriptLine(before);
        ASSERT_EQ(line.kind, ScriptLineKind::IncrementLine) << before;
        EXPECT_EQ(WriteBackDigitFields(line, line.text), after) << before;
    }
}

TEST(FindDigitFields, PositionsCountInTheLine) {
    const ScriptLine line = ParseScriptLine("+1+0+3+0+9;72,A12B0099,00000000000000001234567,8,9");
    const std::vector<IncrementField> fields = FindDigitFields(line);
    ASSERT_EQ(fields.size(), 5u);
    const std::vector<std::pair<std::size_t, std::string>> expected = {
        {15, "12"}, {18, "0099"}, {23, "0000000000000000"}, {40, "234567"}, {47, "8"},
    };
    for (std::size_t k = 0; k < expected.size(); ++k) {
        EXPECT_EQ(fields[k].position, expected[k].first) << k;
        EXPECT_EQ(fields[k].digits, expected[k].second) << k;
        EXPECT_EQ(line.text.substr(fields[k].position, fields[k].digits.size()), fields[k].digits) << k;
    }
    EXPECT_EQ(fields[0].step, 1u);
    EXPECT_EQ(fields[1].step, 0u);
    EXPECT_EQ(fields[2].step, 3u);
    EXPECT_EQ(fields[3].step, 0u);
    EXPECT_EQ(fields[4].step, 9u);

    EXPECT_TRUE(FindDigitFields(ParseScriptLine("+1+2;48")).empty());
    EXPECT_TRUE(FindDigitFields(ParseScriptLine("+1;48,no digits")).empty());
}

TEST(WriteBackDigitFields, OnlyTheFieldDigitsOfTheStoredLineChange) {
    struct Case {
        std::string stored;
        std::string written;
    };
    const std::vector<Case> cases = {
        {"+1;91,DT000100", "+1;91,DT000101"},
        {"+1;91,DT000100\tnote 77", "+1;91,DT000101\tnote 77"},
        {"+1+1;48,1\t2", "+1+1;48,2\t2"},
        {"+1;48,1\r\n", "+1;48,2\r\n"},
    };
    for (const auto& c : cases) {
        const ScriptLine line = ParseScriptLine(c.stored);
        EXPECT_EQ(WriteBackDigitFields(line, c.stored), c.written) << c.stored;
    }

    // A stored line changed since it was parsed keeps what is no longer a digit,
    // and one cut short is written only as far as it goes.
    const ScriptLine line = ParseScriptLine("+1;91,DT0999");
    EXPECT_EQ(WriteBackDigitFields(line, "+1;91,DT0x99"), "+1;91,DT1x00");
    EXPECT_EQ(WriteBackDigitFields(line, "+1;91"), "+1;91");
}

}  // namespace
}  // namespace tamrisk
