#pragma once
// The journal answers' texts and the lines the window lays out of them: the
// query, the read answers, the document counts, the check and information
// layouts and the failure message.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tamrisk {

// The query box's text without the characters of code 0x20 and below at both ends.
std::string TrimQuery(std::string_view text);

// Most data one request carries, and the longest query after a prefix of
// `prefixLength` characters ("R," and "C," 2, "P,<" and "P,>" 3).
constexpr std::size_t JournalMaxData = 219;
// A message when `query` does not fit in one request after its prefix, or empty.
std::string QueryTooLong(std::string_view query, std::size_t prefixLength);

// The failure message after a refused request: "Invalid input data" when
// the answer's status carried Syntax error, else "Cannot execute report".
std::string JournalFailureMessage(std::uint32_t statusFlags);

// A read answer: its kind and the line it carries (from its third character).
struct JournalAnswerLine {
    char kind = '\0';  // '\0' for an empty answer
    std::string text;
};
JournalAnswerLine ParseReadAnswer(std::string_view answer);

// The decimal number at the very start of `text` (0 without digits), 32-bit.
std::uint32_t LeadingNumber(std::string_view text);

// "%lu document" for 1, "%lu documents" otherwise.
std::string DocumentCountText(std::uint32_t count);
// The same followed by ", " and the elapsed time, as the status panel shows it
// after a read or a print (without a line end).
std::string DocumentsDoneText(std::uint32_t count, double seconds);
// "%5.3lf секунди" in Windows-1251.
std::string CheckTimeText(double seconds);

// The lines a check answer adds to the view for a query beginning with `first`.
std::vector<std::string> CheckAnswerLines(char first, std::string_view answer);
// The verdict a "Z" check answer of another kind than "P" starts with.
extern const char* const JournalDigestMismatch;

// The nine lines of the journal information, or empty when the answer is
// not of kind "P" or lacks the comma after field 1 or field 2.
std::optional<std::vector<std::string>> InfoAnswerLines(std::string_view answer);

}  // namespace tamrisk
