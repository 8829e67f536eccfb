#include "scriptparser.h"

#include "hexdigits.h"

#include <limits>

namespace tamrisk {
namespace {

// Reads a line the way the station's formatted-input patterns do ("%d", "%u",
// "%s" and literal characters), by hand so that no line, however long or odd,
// reaches the C library's scanner. Number overflow behaves as strtol/strtoul
// with a 32-bit long: "%d" clamps to the int32 range, "%u" saturates at
// 4294967295 whatever the sign, and a '-' on a "%u" number within range wraps
// modulo 2^32.
class LineScanner {
public:
    explicit LineScanner(std::string_view input) : m_input(input) {}

    // A literal pattern character: must be the very next input character.
    bool Literal(char c) {
        if (m_pos >= m_input.size() || m_input[m_pos] != c)
            return false;
        ++m_pos;
        return true;
    }

    bool Signed(std::int32_t& value) {
        bool negative = false;
        std::uint64_t magnitude = 0;
        if (!Number(negative, magnitude))
            return false;
        constexpr std::uint64_t maxPositive = std::numeric_limits<std::int32_t>::max();
        if (negative)
            value = magnitude > maxPositive + 1 ? std::numeric_limits<std::int32_t>::min()
                                                : static_cast<std::int32_t>(-static_cast<std::int64_t>(magnitude));
        else
            value = magnitude > maxPositive ? std::numeric_limits<std::int32_t>::max()
                                            : static_cast<std::int32_t>(magnitude);
        return true;
    }

    bool Unsigned(std::uint32_t& value) {
        bool negative = false;
        std::uint64_t magnitude = 0;
        if (!Number(negative, magnitude))
            return false;
        if (magnitude > std::numeric_limits<std::uint32_t>::max())
            value = std::numeric_limits<std::uint32_t>::max();
        else
            value = negative ? static_cast<std::uint32_t>(0u - static_cast<std::uint32_t>(magnitude))
                             : static_cast<std::uint32_t>(magnitude);
        return true;
    }

    bool Word(std::string& word) {
        SkipBlanks();
        const std::size_t begin = m_pos;
        while (m_pos < m_input.size() && !IsBlank(m_input[m_pos]))
            ++m_pos;
        if (m_pos == begin)
            return false;
        word.assign(m_input.substr(begin, m_pos - begin));
        return true;
    }

private:
    // The blanks of the "C" locale; bytes from 128 on are ordinary characters.
    static bool IsBlank(char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
    }

    void SkipBlanks() {
        while (m_pos < m_input.size() && IsBlank(m_input[m_pos]))
            ++m_pos;
    }

    // Blanks, an optional sign, then at least one digit. The magnitude stops
    // growing just above the uint32 range so that long digit runs cannot overflow.
    bool Number(bool& negative, std::uint64_t& magnitude) {
        SkipBlanks();
        std::size_t pos = m_pos;
        if (pos < m_input.size() && (m_input[pos] == '+' || m_input[pos] == '-')) {
            negative = m_input[pos] == '-';
            ++pos;
        }
        if (pos >= m_input.size() || !IsDecimalDigit(m_input[pos]))
            return false;
        constexpr std::uint64_t ceiling = std::uint64_t{std::numeric_limits<std::uint32_t>::max()} + 1;
        magnitude = 0;
        while (pos < m_input.size() && IsDecimalDigit(m_input[pos])) {
            if (magnitude < ceiling)
                magnitude = magnitude * 10 + static_cast<std::uint64_t>(m_input[pos] - '0');
            ++pos;
        }
        m_pos = pos;
        return true;
    }

    std::string_view m_input;
    std::size_t m_pos = 0;
};

std::string_view PrepareLine(std::string_view raw) {
    const std::size_t scan = raw.size() < PreparedScanLength ? raw.size() : PreparedScanLength;
    for (std::size_t i = 0; i < scan; ++i)
        if (static_cast<unsigned char>(raw[i]) < 32)
            return raw.substr(0, i);
    return raw;
}

std::string LineFeedsFromEscapes(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 'n') {
            out.push_back('\n');
            ++i;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

// The data part and the kind of a line that carries a command number.
void FinishCommand(ScriptLine& line, std::uint32_t command, ScriptLineKind inRange) {
    line.command = static_cast<std::int32_t>(command);
    const std::size_t comma = line.text.find(',');
    if (comma != std::string::npos) {
        line.dataOffset = comma + 1;
        line.data = line.text.substr(comma + 1);
    }
    line.kind = line.command >= MinScriptCommand && line.command <= MaxScriptCommand ? inRange
                                                                                    : ScriptLineKind::CommentLine;
}

}  // namespace

ScriptLine ParseScriptLine(std::string_view raw) {
    ScriptLine line;
    line.text = std::string(PrepareLine(raw));
    if (line.text.empty()) {
        line.kind = ScriptLineKind::EmptyLine;
        return line;
    }
    const std::string_view text = line.text;
    const std::string_view rest = text.substr(1);
    switch (text.front()) {
    case '@':
        line.kind = ScriptLineKind::DescriptionLine;
        line.description = rest;
        break;
    case '^':
        line.kind = ScriptLineKind::MessageLine;
        line.message = LineFeedsFromEscapes(rest);
        break;
    case '#':
        line.kind = ScriptLineKind::WaitLine;
        LineScanner(rest).Signed(line.waitMs);
        break;
    case '$':
        line.kind = ScriptLineKind::ClockLine;
        break;
    case '?':
        line.kind = ScriptLineKind::CheckLine;
        break;
    case '*': {
        line.kind = ScriptLineKind::RepeatLine;
        LineScanner scan(rest);
        line.repeatCountRead = scan.Signed(line.repeatCount);
        if (line.repeatCountRead && scan.Literal(','))
            scan.Word(line.label);
        break;
    }
    case ':':
        line.kind = ScriptLineKind::LabelLine;
        line.labelName = rest;
        break;
    case '+': {
        LineScanner scan(text);
        for (auto& step : line.steps)
            if (!scan.Literal('+') || !scan.Unsigned(step))
                break;
        const std::size_t semicolon = text.find(';');
        if (semicolon == std::string_view::npos) {
            line.kind = ScriptLineKind::CommentLine;
            break;
        }
        std::uint32_t command = 0;
        LineScanner(text.substr(semicolon + 1)).Unsigned(command);
        FinishCommand(line, command, ScriptLineKind::IncrementLine);
        break;
    }
    default: {
        std::uint32_t command = 0;
        LineScanner(text).Unsigned(command);
        FinishCommand(line, command, ScriptLineKind::CommandLine);
        break;
    }
    }
    return line;
}

}  // namespace tamrisk
