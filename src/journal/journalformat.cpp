#include "journalformat.h"

#include "duration.h"
#include "textcodec.h"
#include "transaction.h"

#include <cstdio>

namespace tamrisk {

const char* const JournalDigestMismatch = "Journal and calculated SHA-1 not equal!";

namespace {

template <class... Args>
std::string Format(const char* format, Args... args) {
    char text[256];
    std::snprintf(text, sizeof text, format, args...);
    return text;
}

// The fields of an answer after its two-character head.
struct Fields {
    std::string_view rest;
    // The next field up to a comma; empty optional when no comma follows.
    std::optional<std::string_view> NextBeforeComma() {
        const std::size_t comma = rest.find(',');
        if (comma == std::string_view::npos)
            return std::nullopt;
        const std::string_view field = rest.substr(0, comma);
        rest.remove_prefix(comma + 1);
        return field;
    }
    // The next field read as a decimal number (32-bit); `commaFollowed` tells
    // whether a comma ended it.
    unsigned long Number(bool& commaFollowed) {
        const auto field = NextBeforeComma();
        commaFollowed = field.has_value();
        return LeadingNumber(field ? *field : Next());
    }
    // The next field up to a comma or the end.
    std::string_view Next() {
        if (auto field = NextBeforeComma())
            return *field;
        const std::string_view field = rest;
        rest = {};
        return field;
    }
};

Fields FieldsOf(std::string_view answer) { return {answer.size() > 2 ? answer.substr(2) : std::string_view()}; }

std::uint64_t LeadingNumber64(std::string_view text) {
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            break;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return value;
}

// Reads "%u" (an optional sign and decimal digits, after blanks as scanf
// skips them) from the front of `text`; empty when no number is there.
std::optional<std::uint32_t> ScanUnsigned(std::string_view& text) {
    std::size_t at = 0;
    while (at < text.size() && (text[at] == ' ' || (text[at] >= '\t' && text[at] <= '\r')))
        ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-'))
        negative = text[at++] == '-';
    const std::size_t digits = at;
    std::uint32_t value = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9')
        value = value * 10 + static_cast<std::uint32_t>(text[at++] - '0');
    if (at == digits)
        return std::nullopt;
    text.remove_prefix(at);
    return negative ? 0u - value : value;
}

}  // namespace

std::string TrimQuery(std::string_view text) {
    const auto blank = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return std::string(text);
}

std::string QueryTooLong(std::string_view query, std::size_t prefixLength) {
    const std::size_t most = JournalMaxData - prefixLength;
    if (query.size() <= most)
        return {};
    return "Query too long (" + std::to_string(query.size()) + " characters, at most " + std::to_string(most) + ")";
}

std::string JournalFailureMessage(std::uint32_t statusFlags) {
    return (statusFlags & SyntaxErrorFlag) != 0 ? "Invalid input data" : "Cannot execute report";
}

JournalAnswerLine ParseReadAnswer(std::string_view answer) {
    JournalAnswerLine line;
    if (!answer.empty())
        line.kind = answer[0];
    if (answer.size() > 2)
        line.text = answer.substr(2);
    return line;
}

std::uint32_t LeadingNumber(std::string_view text) { return static_cast<std::uint32_t>(LeadingNumber64(text)); }

std::string DocumentCountText(std::uint32_t count) {
    return std::to_string(count) + (count == 1 ? " document" : " documents");
}

std::string DocumentsDoneText(std::uint32_t count, double seconds) {
    return FormatElapsed(DocumentCountText(count) + ", ", seconds);
}

std::string CheckTimeText(double seconds) {
    return Format("%5.3f ", seconds) + Utf8ToCp1251("секунди").value_or("");
}

std::vector<std::string> CheckAnswerLines(char first, std::string_view answer) {
    std::vector<std::string> lines;
    Fields fields = FieldsOf(answer);
    const char kind = answer.empty() ? '\0' : answer[0];
    bool more = false;
    // The empty line and the counts of a "Z" answer, each shown once its field
    // is there; true when a comma follows the byte count.
    const auto counts = [&] {
        lines.push_back("");
        lines.push_back(Format("Z-report journal document count:   %10lu", fields.Number(more)));
        if (!more)
            return false;
        lines.push_back(Format("Z-report journal byte count:       %10lu", fields.Number(more)));
        return more;
    };
    switch (first) {
    case 'R': {
        if (kind != 'P')
            break;
        lines.push_back(Format("Z-report document number: %lu", fields.Number(more)));
        if (!more)
            break;
        const auto when = fields.NextBeforeComma();
        if (!when)
            break;
        lines.push_back("Z-report data and time: " + std::string(*when));
        lines.push_back("Z-report SHA-1: " + std::string(fields.rest));
        break;
    }
    case 'Z': {
        if (kind == 'P') {
            lines.push_back("Journal SHA-1 correct");
            if (counts())
                lines.push_back("SHA-1: " + std::string(fields.rest));
        } else if (answer.size() == 1) {
            lines.push_back("No data for this Z-report");
        } else {
            lines.push_back(JournalDigestMismatch);
            if (!counts())
                break;
            const auto recorded = fields.NextBeforeComma();
            if (!recorded)
                break;
            lines.push_back("SHA-1 (Journal):    " + std::string(*recorded));
            lines.push_back("SHA-1 (Calculated): " + std::string(fields.rest));
        }
        break;
    }
    case 'X': lines.push_back(std::string(answer)); break;
    default: break;  // only the time is shown
    }
    return lines;
}

std::optional<std::vector<std::string>> InfoAnswerLines(std::string_view answer) {
    if (answer.empty() || answer[0] != 'P')
        return std::nullopt;
    Fields fields = FieldsOf(answer);
    const auto sizeField = fields.NextBeforeComma();
    if (!sizeField)
        return std::nullopt;
    const auto usedField = fields.NextBeforeComma();
    if (!usedField)
        return std::nullopt;
    const std::uint64_t size = LeadingNumber64(*sizeField);
    const std::uint64_t used = LeadingNumber64(*usedField);
    const std::uint64_t free = size - used;
    // An empty journal has no share to show: both percentages read 0.
    const double freePercent = size == 0 ? 0.0 : static_cast<double>(free) / static_cast<double>(size) * 100.0;
    const double usedPercent = size == 0 ? 0.0 : 100.0 - freePercent;

    // "%u,%u,%lu,%lu": the numbers up to the first that is missing; those show as 0.
    std::uint32_t numbers[4] = {0, 0, 0, 0};
    std::string_view rest = fields.rest;
    for (int k = 0; k < 4; ++k) {
        if (k > 0) {
            if (rest.empty() || rest.front() != ',')
                break;
            rest.remove_prefix(1);
        }
        const auto value = ScanUnsigned(rest);
        if (!value)
            break;
        numbers[k] = *value;
    }
    const auto u64 = [](std::uint64_t v) { return static_cast<unsigned long long>(v); };
    return std::vector<std::string>{
        Format("Journal size:   %11llu bytes", u64(size)),
        Format("Used:           %11llu bytes (%5.3f%%)", u64(used), usedPercent),
        Format("Free:           %11llu bytes (%5.3f%%)", u64(free), freePercent),
        "",
        Format("First Z-report:    %8u", numbers[0]),
        Format("Last Z-report:     %8u", numbers[1]),
        Format("First document:    %8u", numbers[2]),
        Format("Last document:     %8u", numbers[3]),
        Format("Documents:         %8u", numbers[3] - numbers[2] + 1u),
    };
}

}  // namespace tamrisk
