#pragma once
// Result lines on a terminal or a pipe: one output line per result line, the
// results view's CR LF as LF, Windows-1251 text as UTF-8, colours as ANSI codes
// when wanted.

#include "resultlog.h"

#include <iosfwd>

namespace tamrisk {

class TerminalSink : public ResultSink {
public:
    // `flushEachLine`: hand every line to `out` at once (for a terminal that
    // watches the run); otherwise lines are flushed when messages are shown
    // and at the end.
    TerminalSink(std::ostream& out, bool colours, bool flushEachLine = true)
        : m_out(out), m_colours(colours), m_flushEachLine(flushEachLine) {}

    void AppendResultLine(std::string_view text, ResultColour colour) override;

    // True when any red line was appended.
    bool SawRed() const { return m_sawRed; }

private:
    std::ostream& m_out;
    bool m_colours;
    bool m_flushEachLine;
    bool m_sawRed = false;
};

// The ANSI code of a colour ("" for black, which stays the terminal's own).
const char* AnsiColour(ResultColour colour);

}  // namespace tamrisk
