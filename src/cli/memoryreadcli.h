#pragma once
// What the reading sub-commands of tamrisk-cli share: their options ("-o FILE"
// beside the long ones), a progress line on stderr, and the code and fiscal
// memory reads, which differ only in the engine's configuration.

#include "cliargs.h"

#include <chrono>
#include <iosfwd>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace tamrisk {

struct MemoryReadConfig;

// ParseArgs with "-o FILE" taken as "--output FILE".
ParsedArgs ParseReadArgs(const std::vector<std::string>& args, std::set<std::string> withValue,
                         const std::set<std::string>& flags);

// stderr of a read. On a terminal the progress text is redrawn in place (at
// most every 50 ms, the last text always shown); elsewhere only the texts
// marked as milestones are written, a line each. Text written through
// Messages() always starts on a line of its own.
class ProgressLine {
public:
    ProgressLine(std::ostream& err, bool terminal);
    ~ProgressLine();

    std::ostream& Messages();
    void Show(const std::string& text, bool milestone);
    // Draws the last text if it is still pending and ends the line.
    void End();

private:
    class Breaker;

    std::ostream& m_err;
    bool m_terminal;
    std::unique_ptr<Breaker> m_breaker;
    std::unique_ptr<std::ostream> m_messages;
    std::string m_pending;
    std::chrono::steady_clock::time_point m_lastDraw{};
};

// stderr is a terminal and `err` writes to it.
bool StderrIsTerminal(const std::ostream& err);

// The code or fiscal memory read from the command line: `name` is the
// sub-command, `kind` its record's kind, `config` the engine's configuration.
int MemoryReadCommandLine(const char* name, const char* kind, const MemoryReadConfig& config,
                          const std::vector<std::string>& rest, std::ostream& out, std::ostream& err);

}  // namespace tamrisk
