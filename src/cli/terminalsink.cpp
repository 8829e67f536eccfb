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

// Plain ASCII without line ends needs no conversion.
bool IsPlainAscii(std::string_view text) {
    for (unsigned char c : text)
        if (c >= 0x80 || c == '\r' || c == '\n')
            return false;
    return true;
}

}  // namespace

void TerminalSink::AppendResultLine(std::string_view text, ResultColour colour) {
    if (colour == ResultColour::Red)
        m_sawRed = true;
    text = text.substr(0, MaxResultLineText);
    const char* code = m_colours ? AnsiColour(colour) : "";
    if (IsPlainAscii(text)) {
        if (*code != '\0' && !text.empty())
            m_out << code << text << "\x1b[0m";
        else
            m_out << text;
        m_out << '\n';
        if (m_flushEachLine)
            m_out.flush();
        return;
    }
    const std::string line = Cp1251ToUtf8(text);
    // The view's line ends: every CR LF (and a lone CR) becomes one LF.
    std::string plain;
    plain.reserve(line.size() + 1);
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\r') {
            plain.push_back('\n');
            if (i + 1 < line.size() && line[i + 1] == '\n')
                ++i;
        } else {
            plain.push_back(line[i]);
        }
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
    if (m_flushEachLine)
        m_out.flush();
}

}  // namespace tamrisk
