#include "journaltext.h"

#include <gtest/gtest.h>

namespace tamrisk {
namespace {

TEST(JournalText, LoadMakesEveryLineEndCrLfAndKeepsAnOpenLastLine) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"a\nb\n", "a\r\nb\r\n"},
        {"a\rb\r", "a\r\nb\r\n"},
        {"a\r\nb\r\n", "a\r\nb\r\n"},
        {"a\n\r\nb", "a\r\n\r\nb"},    // an empty line between, the last without an ending
        {"a\r\rb\n\n", "a\r\n\r\nb\r\n\r\n"},
        {"", ""},
    };
    for (const auto& [file, text] : cases) {
        const JournalText loaded = JournalText::FromFile(file);
        EXPECT_EQ(loaded.Bytes(), text) << file;
    }
    const JournalText open = JournalText::FromFile("one\r\ntwo");
    EXPECT_EQ(open.LineCount(), 2u);
    EXPECT_EQ(open.Line(1), "two");
    EXPECT_EQ(open.SaveBytes(), "one\r\ntwo\r\n");  // Save ends every line
}

TEST(JournalText, AppendedLinesEndInCrLf) {
    JournalText text = JournalText::FromFile("x");
    text.AppendLine("\xCA\xEB\xE5\xED");  // Windows-1251 kept as bytes
    text.AppendLine("");
    EXPECT_EQ(text.Bytes(), "x\r\n\xCA\xEB\xE5\xED\r\n\r\n");
    EXPECT_EQ(text.LineCount(), 3u);
    EXPECT_EQ(text.LineAt(3), 1u);
    EXPECT_EQ(text.LineAt(text.Bytes().size()), 2u);
}

TEST(JournalText, MouseSelectionWidensToWholeLines) {
    const JournalText text = JournalText::FromFile("abc\r\ndefg\r\nhi");
    struct Case {
        std::size_t start, end, newStart, newEnd;
    };
    const std::vector<Case> cases = {
        {6, 9, 5, 11},    // inside one line: the line and its CR LF
        {1, 7, 0, 11},    // from the middle of one line into the next: both whole
        {5, 6, 5, 11},    // the first character of a line
        {4, 5, 0, 5},     // only the LF: its line
        {12, 13, 11, 13}, // the last line without an ending reaches the end of the text
        {3, 3, 3, 3},     // empty: unchanged
    };
    for (const Case& c : cases) {
        const auto [start, end] = text.WidenSelection(c.start, c.end);
        EXPECT_EQ(start, c.newStart) << c.start << ".." << c.end;
        EXPECT_EQ(end, c.newEnd) << c.start << ".." << c.end;
    }
}

}  // namespace
}  // namespace tamrisk
