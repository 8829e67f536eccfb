#pragma once
// What the actions of tamrisk-cli journal share: the query taken from the
// command line, the view and status panel as lines on stdout and stderr, and
// one journal session over the opened link.

#include "clioperationrecord.h"
#include "clisession.h"
#include "journalops.h"
#include "journaltext.h"
#include "memoryreadcli.h"

#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tamrisk {

// journal check: the printer found the journal and its recorded digest not equal.
constexpr int CliDigestMismatch = 3;

// The one QUERY of `args` in Windows-1251, trimmed as the query box is; empty
// after a usage error was written (blank, too long for a request after a
// prefix of `prefixLength` characters, or not Windows-1251).
std::optional<std::string> JournalQuery(const ParsedArgs& args, const char* action, std::size_t prefixLength,
                                        std::ostream& err);

// The journal view and its status panel on the console: every line added goes
// to stdout at once (UTF-8; control characters escaped on a terminal) and is
// kept as the view holds it; the read's running count is progress on stderr,
// and Finish writes the panel's last text as the last line of stderr.
class CliJournalView : public JournalObserver {
public:
    CliJournalView(std::ostream& out, ProgressLine& progress);

    void ClearView() override { m_text.Clear(); }
    void AddLine(const std::string& line) override;
    void SetStatus(const std::string& text) override;

    const JournalText& Text() const { return m_text; }
    const std::string& Status() const { return m_status; }
    // Every line added, and the last status text, are kept in `kept` too.
    void KeepIn(ResultSink& kept) { m_kept = &kept; }
    // Flushes stdout and ends stderr with the status text (nothing when it is empty).
    void Finish();

private:
    ResultSink* m_kept = nullptr;
    std::ostream& m_out;
    ProgressLine& m_progress;
    bool m_escape;
    JournalText m_text;
    std::string m_status;
    std::uint32_t m_counted = 0;
};

// One journal action over the printer: the console host, the link, the
// session and the view.
struct JournalCliRun {
    JournalCliRun(std::ostream& out, std::ostream& err);

    // Logs the person of the options in (LogIn, for the journal), opens the
    // link from the options and starts the record of `kind`. CliOk, else after
    // the message the exit status: the log-in's refusal (no record kept), or
    // CliUsage with the record finished as an error when the link cannot be opened.
    int Open(const ParsedArgs& args, const char* kind);
    // Closes the link; true when the port had been lost on the way.
    bool Close();
    // Closes the link and finishes the output; the exit status of `result`:
    // CliUsage for a lost port, CliOk when it ran to its end, else CliFailed.
    int End(const JournalResult& result);
    // Finishes the record of an action that ended with `result` and exit
    // `status`: pass for CliOk, aborted for a lost port or a cancel, else fail
    // with `reason` (by default the status text or the last message). Returns `status`.
    int FinishRecord(int status, const JournalResult& result, std::string reason = {});

    ProgressLine progress;
    CliSession cli;
    JournalSession journal;
    CliJournalView view;
    std::unique_ptr<CliRecord> record;

private:
    bool m_portLost = false;
};

// The actions, each in a file of its own.
int JournalReadAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err);
int JournalPrintAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err);
int JournalCheckAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err);
int JournalInfoAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err);
int JournalSha1Action(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err);

}  // namespace tamrisk
