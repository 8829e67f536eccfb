#include "scriptparser.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace tamrisk {
namespace {

using Kind = ScriptLineKind;

struct CommandCase {
    std::string raw;
    Kind kind;
    int command;
    std::string data;
    std::optional<std::size_t> dataOffset;
};

TEST(ParseScriptLine, CommandNumberDataAndRange) {
    const std::vector<CommandCase> cases = {
        {"48", Kind::CommandLine, 48, "", std::nullopt},
        {"48,", Kind::CommandLine, 48, "", 3},
        {"48,a,b", Kind::CommandLine, 48, "a,b", 3},
        {"48abc,x", Kind::CommandLine, 48, "x", 6},
        {"  48,x", Kind::CommandLine, 48, "x", 5},
        {"048,x", Kind::CommandLine, 48, "x", 4},
        {"32,x", Kind::CommandLine, 32, "x", 3},
        {"255,x", Kind::CommandLine, 255, "x", 4},
        {"31,x", Kind::CommentLine, 31, "x", 3},
        {"256,x", Kind::CommentLine, 256, "x", 4},
        {"-5,x", Kind::CommentLine, -5, "x", 3},
        {"-48", Kind::CommentLine, -48, "", std::nullopt},
        {"- 48", Kind::CommentLine, 0, "", std::nullopt},
        {"x48,y", Kind::CommentLine, 0, "y", 4},
        {",48", Kind::CommentLine, 0, "48", 1},
        {"   ", Kind::CommentLine, 0, "", std::nullopt},
        {" #100", Kind::CommentLine, 0, "", std::nullopt},
        {" @name", Kind::CommentLine, 0, "", std::nullopt},
        // A '?' first makes a check, whatever follows; only first does it.
        {"?1 = P", Kind::CheckLine, 0, "", std::nullopt},
        {"?48,x", Kind::CheckLine, 0, "", std::nullopt},
        {" ?1 = P", Kind::CommentLine, 0, "", std::nullopt},
        // Numbers far beyond 32 bits saturate and never wrap back into range.
        {"4294967344,x", Kind::CommentLine, -1, "x", 11},
        {"99999999999999999999999999999999,x", Kind::CommentLine, -1, "x", 33},
        // A '-' wraps modulo 2^32, so these come back into range.
        {"-4294967248,x", Kind::CommandLine, 48, "x", 12},
        {"48,A\\tB\\nC", Kind::CommandLine, 48, "A\\tB\\nC", 3},
        {"48,\xC0\xDF\xFF", Kind::CommandLine, 48, "\xC0\xDF\xFF", 3},
    };
    for (const auto& c : cases) {
        const ScriptLine line = ParseScriptLine(c.raw);
        EXPECT_EQ(line.kind, c.kind) << c.raw;
        EXPECT_EQ(line.command, c.command) << c.raw;
        EXPECT_EQ(line.data, c.data) << c.raw;
        EXPECT_EQ(line.dataOffset, c.dataOffset) << c.raw;
        EXPECT_EQ(line.text, c.raw) << c.raw;
    }
}

TEST(ParseScriptLine, ControlCharactersCutOnlyInTheFirst255) {
    struct Case {
        std::string raw;
        std::string text;
        Kind kind;
    };
    const std::string filler(250, 'a');
    const std::vector<Case> cases = {
        {"\t48,x", "", Kind::EmptyLine},
        {"", "", Kind::EmptyLine},
        {"48,abc\tmore", "48,abc", Kind::CommandLine},
        {"48,abc\rmore", "48,abc", Kind::CommandLine},
        {"?1 = a\tb", "?1 = a", Kind::CheckLine},
        {std::string("48,a\0b", 6), "48,a", Kind::CommandLine},
        {"48,ab\x1F" "c", "48,ab", Kind::CommandLine},
        // 0x7F and bytes from 128 on are ordinary characters.
        {"48,ab\x7F\x80\xC0\xFF", "48,ab\x7F\x80\xC0\xFF", Kind::CommandLine},
        // Position 254 is the last one looked at, 255 the first one not.
        {"48," + filler + "b\t", "48," + filler + "b", Kind::CommandLine},
        {"48," + filler + "bc\tmore", "48," + filler + "bc\tmore", Kind::CommandLine},
    };
    for (const auto& c : cases) {
        const ScriptLine line = ParseScriptLine(c.raw);
        EXPECT_EQ(line.text, c.text) << c.raw;
        EXPECT_EQ(line.kind, c.kind) << c.raw;
        if (line.dataOffset) {
            EXPECT_EQ(line.text.substr(*line.dataOffset), line.data) << c.raw;
        }
    }

    const std::string longLine = "48," + std::string(597, 'z');
    const ScriptLine line = ParseScriptLine(longLine);
    EXPECT_EQ(line.text.size(), 600u);
    EXPECT_EQ(line.data.size(), 597u);
}

TEST(ParseScriptLine, IncrementLines) {
    struct Case {
        std::string raw;
        Kind kind;
        std::array<std::uint32_t, MaxIncrementSteps> steps;
        int command;
        std::string data;
        std::optional<std::size_t> dataOffset;
    };
    const std::vector<Case> cases = {
        {"+1;91,DT000100", Kind::IncrementLine, {1, 0, 0, 0, 0}, 91, "DT000100", 6},
        {"+1+2;48", Kind::IncrementLine, {1, 2, 0, 0, 0}, 48, "", std::nullopt},
        {"+1+2+3+4+5+6;48,1", Kind::IncrementLine, {1, 2, 3, 4, 5}, 48, "1", 16},
        {"+0+5;72,A12B0099", Kind::IncrementLine, {0, 5, 0, 0, 0}, 72, "A12B0099", 8},
        // The first comma of the line wins, even before the ';'.
        {"+1,5;91,X", Kind::IncrementLine, {1, 0, 0, 0, 0}, 91, "5;91,X", 3},
        // Steps stop at the first character that does not fit the pattern.
        {"+1 +2;48", Kind::IncrementLine, {1, 0, 0, 0, 0}, 48, "", std::nullopt},
        {"+ 7+ 8;48", Kind::IncrementLine, {7, 8, 0, 0, 0}, 48, "", std::nullopt},
        {"++3;48", Kind::IncrementLine, {3, 0, 0, 0, 0}, 48, "", std::nullopt},
        {"+-1;48", Kind::IncrementLine, {4294967295u, 0, 0, 0, 0}, 48, "", std::nullopt},
        {"+99999999999;48", Kind::IncrementLine, {4294967295u, 0, 0, 0, 0}, 48, "", std::nullopt},
        {"+x+1;48", Kind::IncrementLine, {0, 0, 0, 0, 0}, 48, "", std::nullopt},
        {"+;48,1", Kind::IncrementLine, {0, 0, 0, 0, 0}, 48, "1", 5},
        {"+1; 48", Kind::IncrementLine, {1, 0, 0, 0, 0}, 48, "", std::nullopt},
        {"+1;+48", Kind::IncrementLine, {1, 0, 0, 0, 0}, 48, "", std::nullopt},
        {"+5", Kind::CommentLine, {5, 0, 0, 0, 0}, 0, "", std::nullopt},
        {"+1", Kind::CommentLine, {1, 0, 0, 0, 0}, 0, "", std::nullopt},
        {"+1,48", Kind::CommentLine, {1, 0, 0, 0, 0}, 0, "", std::nullopt},
        {"+1;", Kind::CommentLine, {1, 0, 0, 0, 0}, 0, "", std::nullopt},
        {"+1;x48,1", Kind::CommentLine, {1, 0, 0, 0, 0}, 0, "1", 7},
        {"+1;31,1", Kind::CommentLine, {1, 0, 0, 0, 0}, 31, "1", 6},
        {"+1;256,1", Kind::CommentLine, {1, 0, 0, 0, 0}, 256, "1", 7},
        {"+1;255,1", Kind::IncrementLine, {1, 0, 0, 0, 0}, 255, "1", 7},
        // Only the first ';' counts.
        {"+1;x;48", Kind::CommentLine, {1, 0, 0, 0, 0}, 0, "", std::nullopt},
    };
    for (const auto& c : cases) {
        const ScriptLine line = ParseScriptLine(c.raw);
        EXPECT_EQ(line.kind, c.kind) << c.raw;
        EXPECT_EQ(line.steps, c.steps) << c.raw;
        EXPECT_EQ(line.command, c.command) << c.raw;
        EXPECT_EQ(line.data, c.data) << c.raw;
        EXPECT_EQ(line.dataOffset, c.dataOffset) << c.raw;
    }
}

TEST(ParseScriptLine, WaitCounts) {
    const std::vector<std::pair<std::string, std::int32_t>> cases = {
        {"#1500", 1500},
        {"#2000", 2000},
        {"#700000", 700000},
        {"#", 0},
        {"#x", 0},
        {"# 250 ms", 250},
        {"#+7", 7},
        {"#-7", -7},
        {"#12abc", 12},
        {"#99999999999", 2147483647},
        {"#-99999999999", -2147483647 - 1},
        {"#2147483647", 2147483647},
        {"#-2147483648", -2147483647 - 1},
    };
    for (const auto& [raw, ms] : cases) {
        const ScriptLine line = ParseScriptLine(raw);
        EXPECT_EQ(line.kind, Kind::WaitLine) << raw;
        EXPECT_EQ(line.waitMs, ms) << raw;
    }
}

TEST(ParseScriptLine, RepeatCountAndLabel) {
    struct Case {
        std::string raw;
        bool countRead;
        std::int32_t count;
        std::string label;
    };
    const std::vector<Case> cases = {
        {"*3,Loop", true, 3, "Loop"},
        {"*3, Loop", true, 3, "Loop"},
        {"*3 ,Loop", true, 3, ""},
        {"*3,My Loop", true, 3, "My"},
        {"*3,Loop ", true, 3, "Loop"},
        {"*3,", true, 3, ""},
        {"*3,   ", true, 3, ""},
        {"*3", true, 3, ""},
        {"* 3,L", true, 3, "L"},
        {"*0,L", true, 0, "L"},
        {"*10001,L", true, 10001, "L"},
        {"*-2,L", true, -2, "L"},
        {"*3,0123456789abcdefg", true, 3, "0123456789abcdefg"},
        {"*3,\xCF\xF0\xE8", true, 3, "\xCF\xF0\xE8"},
        {"*", false, 0, ""},
        {"*x", false, 0, ""},
        {"*,L", false, 0, ""},
        {"*-,L", false, 0, ""},
    };
    for (const auto& c : cases) {
        const ScriptLine line = ParseScriptLine(c.raw);
        EXPECT_EQ(line.kind, Kind::RepeatLine) << c.raw;
        EXPECT_EQ(line.repeatCountRead, c.countRead) << c.raw;
        EXPECT_EQ(line.repeatCount, c.count) << c.raw;
        EXPECT_EQ(line.label, c.label) << c.raw;
    }
}

TEST(ParseScriptLine, TextLinesKeepTheRestAsWritten) {
    const ScriptLine description = ParseScriptLine("@Serial numbers, \xD2\xE5\xF1\xF2");
    EXPECT_EQ(description.kind, Kind::DescriptionLine);
    EXPECT_EQ(description.description, "Serial numbers, \xD2\xE5\xF1\xF2");

    const ScriptLine label = ParseScriptLine(":Loop end ");
    EXPECT_EQ(label.kind, Kind::LabelLine);
    EXPECT_EQ(label.labelName, "Loop end ");

    const ScriptLine clock = ParseScriptLine("$anything, 48");
    EXPECT_EQ(clock.kind, Kind::ClockLine);
    EXPECT_EQ(clock.command, 0);
    EXPECT_FALSE(clock.dataOffset);

    const std::vector<std::pair<std::string, std::string>> messages = {
        {"^Line one\\nLine two", "Line one\nLine two"},
        {"^A\\tB", "A\\tB"},
        {"^\\n\\n", "\n\n"},
        {"^\\\\n", "\\\n"},
        {"^end\\", "end\\"},
        {"^\\N", "\\N"},
        {"^", ""},
    };
    for (const auto& [raw, message] : messages) {
        const ScriptLine line = ParseScriptLine(raw);
        EXPECT_EQ(line.kind, Kind::MessageLine) << raw;
        EXPECT_EQ(line.message, message) << raw;
        EXPECT_EQ(line.text, raw) << raw;
    }
}

}  // namespace
}  // namespace tamrisk
