#include "serialnumbers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tamrisk {
namespace {

TEST(SerialNumberSpace, SteppingFieldsBecomeHashes) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"+1;91,DT000100", "91,DT######"},
        {"+1+0+2;91,A099,B5,C998", "91,A###,B5,C###"},
        {"+0;91,DT000100", "91,DT000100"},
        // A run of 17 digits: a field of 16, and the passed-over 17th keeps its digit.
        {"+1;48,00000000000000009", "48,################9"},
        {"+1+1;48,0000000000000000999", "48,################9##"},
        // A sixth field is not advanced, so it keeps its digits.
        {"+1+1+1+1+1;48,1.1.1.1.1.1", "48,#.#.#.#.#.1"},
        // The data as written: escapes stay as the operator wrote them.
        {"+1;91,A\\t07", "91,A\\t##"},
        {"+1;91", "91,"},
        // Text after a control character is not part of the line.
        {"+1;91,N5\tnote 77", "91,N#"},
    };
    for (const auto& [text, space] : cases) {
        const ScriptLine line = ParseScriptLine(text);
        ASSERT_EQ(line.kind, ScriptLineKind::IncrementLine) << text;
        EXPECT_EQ(SerialNumberSpace(line), space) << text;
    }
}

}  // namespace
}  // namespace tamrisk
