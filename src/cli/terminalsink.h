#pragma once
// Result lines on a terminal or a pipe: one output line per result line, the
// results view's CR LF as LF, Windows-1251 text as UTF-8, colours as ANSI codes
// when wanted. Every line is written and flushed as it is logged, so a program
// reading the pipe follows a run live.

#include "linesink.h"

#include <iosfwd>

namespace tamrisk {

class TerminalSink : public BatchingSink {
public:
    // `escapeControls`: control characters (below 32, and 127) are written as
    // visible escapes such as \x1B, so that a printer's answer or a script's
    // data cannot drive the terminal. Line ends at the end of a text stay line ends.
    TerminalSink(std::ostream& out, bool colours, bool escapeControls = false)
        : m_out(out), m_colours(colours), m_escapeControls(escapeControls) {}
    ~TerminalSink() override { Flush(); }

    // True when any red line was appended.
    bool SawRed() const { return m_sawRed; }

protected:
    void BatchStarted() override { Flush(); }
    void WriteBatch(std::span<const ResultLine> lines) override;

private:
    void WriteLine(const ResultLine& line);

    std::ostream& m_out;
    bool m_colours;
    bool m_escapeControls;
    bool m_sawRed = false;
};

// The ANSI code of a colour ("" for black, which stays the terminal's own).
const char* AnsiColour(ResultColour colour);

// The one escaping path of everything that a printer, a script or a file name
// puts before a terminal, on stdout or stderr: UTF-8 `text` with every control
// character (below 32, 127 and the C1 controls U+0080..U+009F) and every byte
// that is not valid UTF-8 written as "\xHH"; line feeds stay when `keepLineFeeds`.
std::string EscapeControls(std::string_view text, bool keepLineFeeds = false);
// The station's Windows-1251 text (an answer, a script line) as UTF-8, escaped.
std::string TerminalText(std::string_view cp1251, bool keepLineFeeds = false);

}  // namespace tamrisk
