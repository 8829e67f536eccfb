// tamrisk-cli journal: the journal window's operations from the command line,
// one action each; here the dispatch and what the actions share.

#include "journalcli.h"

#include "cli.h"
#include "clilogin.h"
#include "journalformat.h"
#include "terminalsink.h"
#include "textcodec.h"

#include <ostream>

namespace tamrisk {

int JournalCommandLine(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err) {
    return RunAction("journal",
                     {{"read", JournalReadAction},
                      {"print", JournalPrintAction},
                      {"check", JournalCheckAction},
                      {"info", JournalInfoAction},
                      {"sha1", JournalSha1Action}},
                     rest, out, err);
}

std::optional<std::string> JournalQuery(const ParsedArgs& args, const char* action, std::size_t prefixLength,
                                        std::ostream& err) {
    const std::string name = std::string("journal ") + action;
    if (args.positional.size() != 1) {
        UsageError(err, name + " takes one QUERY");
        return std::nullopt;
    }
    const auto encoded = Utf8ToCp1251(args.positional[0]);
    if (!encoded) {
        UsageError(err, "QUERY holds a character that Windows-1251 cannot carry");
        return std::nullopt;
    }
    std::string query = TrimQuery(*encoded);
    if (query.empty()) {
        UsageError(err, name + ": QUERY is blank");
        return std::nullopt;
    }
    if (const std::string problem = QueryTooLong(query, prefixLength); !problem.empty()) {
        UsageError(err, name + ": " + problem);
        return std::nullopt;
    }
    return query;
}

CliJournalView::CliJournalView(std::ostream& out, ProgressLine& progress)
    : m_out(out), m_progress(progress), m_escape(StdoutIsTerminal()) {}

void CliJournalView::AddLine(const std::string& line) {
    m_text.AppendLine(line);
    if (m_kept != nullptr)
        m_kept->AppendResultLine(line, ResultColour::Black);
    m_out << (m_escape ? TerminalText(line) : Cp1251ToUtf8(line)) << '\n';
}

void CliJournalView::SetStatus(const std::string& text) {
    m_status = text;
    // A read's running count, "1 document", "2 documents" and so on: progress.
    // Off a terminal a line for the first document and every hundredth.
    if (!text.empty() && text == DocumentCountText(m_counted + 1)) {
        ++m_counted;
        m_progress.Show(text, m_counted == 1 || m_counted % 100 == 0);
    }
}

void CliJournalView::Finish() {
    m_out.flush();
    if (!m_status.empty()) {
        m_progress.Show(TerminalText(m_status), true);
        if (m_kept != nullptr)
            m_kept->AppendResultLine(m_status, ResultColour::Black);
    }
    m_progress.End();
}

JournalCliRun::JournalCliRun(std::ostream& out, std::ostream& err)
    : progress(err, StderrIsTerminal(err)), cli(out, progress.Messages()), journal(cli.station.transactor, cli.host),
      view(out, progress) {}

int JournalCliRun::Open(const ParsedArgs& args, const char* kind) {
    const CliLogIn login = LogIn(args, Privilege::Journal, progress.Messages());
    if (login.Refused())
        return login.status;
    record = std::make_unique<CliRecord>(args, kind, cli.host, progress.Messages());
    record->SignedBy(login);
    const bool opened = OpenLink(cli, args, progress.Messages());
    record->SetPort(args, cli);
    if (!opened)
        return record->Finish(RecordOutcome::Error, cli.lastMessage, CliUsage);
    record->Start();
    view.KeepIn(record->Keep());
    return CliOk;
}

bool JournalCliRun::Close() {
    m_portLost = !cli.station.Connected;
    cli.station.Disconnect();
    return m_portLost;
}

int JournalCliRun::FinishRecord(int status, const JournalResult& result, std::string reason) {
    if (m_portLost)
        return record->Finish(RecordOutcome::Aborted, cli.lastMessage, status);
    if (status == CliOk)
        return record->Finish(RecordOutcome::Pass, {}, status);
    if (reason.empty())
        reason = view.Status().empty() ? cli.lastMessage : Cp1251ToUtf8(view.Status());
    const bool cancelled = result.outcome == JournalOutcome::Cancelled;
    return record->Finish(cancelled ? RecordOutcome::Aborted : RecordOutcome::Fail, std::move(reason), status);
}

int JournalCliRun::End(const JournalResult& result) {
    const bool portLost = Close();
    view.Finish();
    if (portLost)
        return CliUsage;
    return result.outcome == JournalOutcome::Done ? CliOk : CliFailed;
}

}  // namespace tamrisk
