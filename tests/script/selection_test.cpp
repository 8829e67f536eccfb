#include "selection.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tamrisk {
namespace {

TEST(ExtendSelectionToLines, CoversWholeLinesWithTheirLineBreaks) {
    // 0..3 "48,a", 4..5 CR LF, 6..9 "49,b", 10..11 CR LF, 12..15 "50,c" (no line break).
    const std::string text = "48,a\r\n49,b\r\n50,c";
    struct Case {
        std::size_t start, end;
        std::size_t wantStart, wantEnd;
    };
    const std::vector<Case> cases = {
        {2, 8, 0, 12},    // mid-line to mid-line: both lines whole
        {1, 2, 0, 6},
        {7, 14, 6, 16},   // the last line reaches the end of the text
        {13, 16, 12, 16},
        {0, 6, 0, 6},     // already whole lines
        {6, 12, 6, 12},
        {0, 16, 0, 16},
        {4, 5, 0, 6},     // only the CR
        {5, 6, 0, 6},     // only the LF: it belongs to the line before it
        {6, 11, 6, 12},   // ending on the CR takes the LF too
        {0, 1, 0, 6},
        {15, 16, 12, 16},
        {14, 100, 12, 16},  // an end past the text stops at the text's end
        {8, 2, 0, 12},      // given end first
    };
    for (const auto& c : cases) {
        const TextSelection got = ExtendSelectionToLines(text, {c.start, c.end});
        EXPECT_EQ(got.start, c.wantStart) << c.start << ".." << c.end;
        EXPECT_EQ(got.end, c.wantEnd) << c.start << ".." << c.end;
    }
}

TEST(ExtendSelectionToLines, EmptyAndDegenerateSelections) {
    struct Case {
        std::string text;
        std::size_t start, end;
        std::size_t wantStart, wantEnd;
    };
    const std::vector<Case> cases = {
        {"48,a\r\n49,b", 8, 8, 8, 8},  // nothing selected stays as it is
        {"48,a\r\n49,b", 100, 200, 10, 10},
        {"", 0, 0, 0, 0},
        {"", 0, 5, 0, 0},
        {"48\r\n", 1, 2, 0, 4},
        {"a\nb", 2, 3, 2, 3},          // a bare LF also ends a line
        {"a\nb\nc", 1, 3, 0, 4},
        {"\r\n\r\n", 2, 3, 2, 4},
    };
    for (const auto& c : cases) {
        const TextSelection got = ExtendSelectionToLines(c.text, {c.start, c.end});
        EXPECT_EQ(got.start, c.wantStart) << c.start << ".." << c.end;
        EXPECT_EQ(got.end, c.wantEnd) << c.start << ".." << c.end;
    }
}

}  // namespace
}  // namespace tamrisk
