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

namespace {

// The length of the valid UTF-8 sequence at the start of `text` (lead bytes 0xC2
// to 0xF4, no overlong forms, no surrogates); 0 when there is none.
std::size_t Utf8SequenceLength(std::string_view text) {
    const auto at = [&text](std::size_t i) { return i < text.size() ? static_cast<unsigned char>(text[i]) : 0; };
    const unsigned char lead = at(0);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (at(1) < low || at(1) > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (at(i) < 0x80 || at(i) > 0xBF)
            return 0;
    return length;
}

}  // namespace

std::string EscapeControls(std::string_view text, bool keepLineFeeds) {
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    const auto escape = [&out](std::string_view bytes) {
        for (const char c : bytes) {
            const auto byte = static_cast<unsigned char>(c);
            out += "\\x";
            out.push_back(Digits[byte >> 4]);
            out.push_back(Digits[byte & 0x0F]);
        }
    };
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x80) {
            if ((byte < 0x20 || byte == 0x7F) && !(keepLineFeeds && byte == '\n'))
                escape(text.substr(i, 1));
            else
                out.push_back(text[i]);
            ++i;
            continue;
        }
        const std::size_t length = Utf8SequenceLength(text.substr(i));
        // A byte outside UTF-8 and a C1 control (U+0080..U+009F) can drive a
        // terminal as well as the C0 controls can.
        const bool c1 = length == 2 && byte == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0;
        if (length == 0 || c1)
            escape(text.substr(i, length == 0 ? 1 : length));
        else
            out.append(text.substr(i, length));
        i += length == 0 ? 1 : length;
    }
    return out;
}

std::string TerminalText(std::string_view cp1251, bool keepLineFeeds) {
    return EscapeControls(Cp1251ToUtf8(cp1251), keepLineFeeds);
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
        plain = TerminalText(text.substr(0, body)) + UnixLineEnds(text.substr(body));
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
