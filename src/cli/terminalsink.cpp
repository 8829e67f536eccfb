#include "terminalsink.h"

#include "textcodec.h"

#include <ostream>

namespace tamrisk {

const char* AnsiColour(ResultColour colour) {
    switch (colour) {
    case ResultColour::Blue: return "\x1b[34m";
    case ResultColour::Green: return "\x1b[32m";
    case ResultColour::Red: return "\x1b[31m";
    case ResultColour::Gray: return "\x1b[90m";
    case ResultColour::Purple: return "\x1b[35m";
    case ResultColour::Black: return "";
    }
    return "";
}

std::string EscapeControls(std::string_view text) {
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            out += "\\x";
            out.push_back(Digits[byte >> 4]);
            out.push_back(Digits[byte & 0x0F]);
        } else {
            out.push_back(c);
        }
    }
    return out;
}

namespace {

// Plain ASCII without control characters needs no conversion.
bool IsPlainAscii(std::string_view text) {
    for (unsigned char c : text)
        if (c >= 0x80 || c < 0x20 || c == 0x7F)
            return false;
    return true;
}

// The view's line ends: every CR LF (and a lone CR) becomes one LF.
std::string UnixLineEnds(std::string_view text) {
    std::string plain;
    plain.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            plain.push_back('\n');
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else {
            plain.push_back(text[i]);
        }
    }
    return plain;
}

}  // namespace

void TerminalSink::WriteBatch(std::span<const ResultLine> lines) {
    for (const ResultLine& line : lines)
        WriteLine(line);
    m_out.flush();
}

void TerminalSink::WriteLine(const ResultLine& line) {
    if (line.colour == ResultColour::Red)
        m_sawRed = true;
    std::string_view text = line.text;
    const char* code = m_colours ? AnsiColour(line.colour) : "";
    if (IsPlainAscii(text)) {
        if (*code != '\0' && !text.empty())
            m_out << code << text << "\x1b[0m";
        else
            m_out << text;
        m_out << '\n';
        return;
    }
    std::string plain;
    if (m_escapeControls) {
        // Line ends that close the text (a duration's own CR LF) stay line
        // breaks; every other control character is shown, never obeyed.
        std::size_t body = text.size();
        while (body > 0 && (text[body - 1] == '\r' || text[body - 1] == '\n'))
            --body;
        plain = EscapeControls(Cp1251ToUtf8(text.substr(0, body))) + UnixLineEnds(text.substr(body));
    } else {
        plain = UnixLineEnds(Cp1251ToUtf8(text));
    }
    if (*code != '\0') {
        // Colour each output line on its own so a pager keeps it.
        std::size_t start = 0;
        while (start <= plain.size()) {
            const std::size_t end = plain.find('\n', start);
            const std::string part = plain.substr(start, end == std::string::npos ? std::string::npos : end - start);
            if (!part.empty())
                m_out << code << part << "\x1b[0m";
            if (end == std::string::npos)
                break;
            m_out << '\n';
            start = end + 1;
        }
    } else {
        m_out << plain;
    }
    m_out << '\n';
}

}  // namespace tamrisk
