#include "memoryreadcli.h"

#include "cli.h"
#include "clilogin.h"
#include "clioperationrecord.h"
#include "clisession.h"
#include "memoryreader.h"
#include "resultlog.h"
#include "statusbits.h"
#include "terminalsink.h"
#include "textcodec.h"

#include <iostream>
#include <streambuf>
#include <unistd.h>

namespace tamrisk {

ParsedArgs ParseReadArgs(const std::vector<std::string>& args, std::set<std::string> withValue,
                         const std::set<std::string>& flags) {
    std::vector<std::string> expanded;
    expanded.reserve(args.size());
    bool optionsEnded = false;
    for (const std::string& arg : args) {
        optionsEnded = optionsEnded || arg == "--";
        expanded.push_back(!optionsEnded && arg == "-o" ? "--output" : arg);
    }
    withValue.insert("output");
    return ParseArgs(expanded, withValue, flags);
}

// Forwards to stderr, first ending a progress line drawn in place.
class ProgressLine::Breaker : public std::streambuf {
public:
    explicit Breaker(std::streambuf* target) : m_target(target) {}
    bool drawn = false;

protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof()))
            return traits_type::not_eof(c);
        Break();
        return m_target->sputc(traits_type::to_char_type(c));
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        Break();
        return m_target->sputn(s, n);
    }
    int sync() override { return m_target->pubsync(); }

private:
    void Break() {
        if (drawn) {
            drawn = false;
            m_target->sputc('\n');
        }
    }
    std::streambuf* m_target;
};

ProgressLine::ProgressLine(std::ostream& err, bool terminal)
    : m_err(err), m_terminal(terminal), m_breaker(std::make_unique<Breaker>(err.rdbuf())),
      m_messages(std::make_unique<std::ostream>(m_breaker.get())) {}

ProgressLine::~ProgressLine() = default;

std::ostream& ProgressLine::Messages() { return *m_messages; }

void ProgressLine::Show(const std::string& text, bool milestone) {
    if (!m_terminal) {
        if (milestone)
            m_err << text << std::endl;
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (m_breaker->drawn && now - m_lastDraw < std::chrono::milliseconds(50)) {
        m_pending = text;
        return;
    }
    m_lastDraw = now;
    m_pending.clear();
    m_err << '\r' << text << "\x1b[K" << std::flush;
    m_breaker->drawn = true;
}

void ProgressLine::End() {
    if (m_terminal && !m_pending.empty()) {
        m_err << '\r' << m_pending << "\x1b[K";
        m_breaker->drawn = true;
        m_pending.clear();
    }
    if (m_breaker->drawn) {
        m_breaker->drawn = false;
        m_err << std::endl;
    }
}

bool StderrIsTerminal(const std::ostream& err) {
    return err.rdbuf() == std::cerr.rdbuf() && ::isatty(STDERR_FILENO) != 0;
}

namespace {

// What the status dialog would show checked: the set status bits and link conditions.
std::string StatusCaptions(const TransactionState& line) {
    std::string text;
    const auto add = [&text](const char* caption) { text += (text.empty() ? "" : ", ") + std::string(caption); };
    for (const StatusBit& bit : StatusBitTable()) {
        if (bit.caption != nullptr && (line.StatusBytes[static_cast<std::size_t>(bit.byte)] >> bit.bit & 1) != 0)
            add(bit.caption);
    }
    for (const LinkConditionBox& link : LinkConditionTable()) {
        if ((line.StatusFlags & link.flag) != 0)
            add(link.caption);
    }
    return text.empty() ? "no status bit set" : text;
}

class CliReadObserver : public MemoryReadObserver {
public:
    // `kept` keeps a failed block's answer in the operation's record; the hex
    // lines are not kept.
    CliReadObserver(std::ostream* dump, ProgressLine& progress, const TransactionState& line, ResultSink& kept)
        : m_dump(dump), m_progress(progress), m_line(line), m_kept(kept), m_escapeDump(StdoutIsTerminal()) {}

    void BlockFailed() override {
        if (m_dump)
            m_dump->flush();
        const std::string answer = FormatAnswerLine(m_line);
        const std::string status = "Status: " + StatusCaptions(m_line);
        m_progress.Messages() << TerminalText(answer) << '\n' << status << std::endl;
        m_kept.AppendResultLine(answer, ResultColour::Red);
        m_kept.AppendResultLine(status, ResultColour::Black);
    }
    void HexLine(const std::string& line) override {
        if (m_dump)
            *m_dump << (m_escapeDump ? TerminalText(line) : Cp1251ToUtf8(line)) << '\n';
    }
    void Progress(int value) override {
        if (value == m_value)
            return;
        m_value = value;
        constexpr int Width = 40;
        const int percent = value * 100 / 255;
        const int filled = value * Width / 255;
        const std::string text = "[" + std::string(static_cast<std::size_t>(filled), '#') +
                                 std::string(static_cast<std::size_t>(Width - filled), '-') + "] " +
                                 std::to_string(percent) + "%";
        // The window's bar, 0 to 255. Off a terminal: a line at each quarter.
        const bool milestone = percent / 25 > m_quarter;
        m_quarter = percent / 25;
        m_progress.Show(text, milestone);
    }

private:
    std::ostream* m_dump;
    ProgressLine& m_progress;
    const TransactionState& m_line;
    ResultSink& m_kept;
    bool m_escapeDump;
    int m_value = -1;
    int m_quarter = 0;
};

}  // namespace

int MemoryReadCommandLine(const char* name, const char* kind, const MemoryReadConfig& config,
                          const std::vector<std::string>& rest, std::ostream& out, std::ostream& err) {
    const ParsedArgs args = ParseReadArgs(rest, WithLogInOptions(WithRecordOptions({"port", "speed"})), {"dump"});
    if (!args.error.empty())
        return UsageError(err, args.error);
    if (const std::string problem = CheckLinkOptions(args); !problem.empty())
        return UsageError(err, problem);
    if (!args.positional.empty())
        return UsageError(err, std::string(name) + " takes no argument besides its options");
    const auto path = args.value("output");
    if (!path || path->empty())
        return UsageError(err, std::string(name) + " needs -o FILE");

    const CliLogIn login = LogIn(args, Privilege::ReadMemories, err);
    if (login.Refused())
        return login.status;

    ProgressLine progress(err, StderrIsTerminal(err));
    CliSession session(out, progress.Messages());
    CliRecord record(args, kind, session.host, progress.Messages());
    record.SignedBy(login);
    // A read takes up to a minute: a FILE that cannot be written is refused before it.
    if (std::string error; !OutputFileWritable(*path, error)) {
        CliError(progress.Messages(), "cannot write " + error);
        return record.Finish(RecordOutcome::Error, "cannot write " + error, CliUsage);
    }
    const bool opened = OpenLink(session, args, progress.Messages());
    record.SetPort(args, session);
    if (!opened)
        return record.Finish(RecordOutcome::Error, session.lastMessage, CliUsage);
    record.Start();
    ResultSink& kept = record.Keep();
    Station& station = session.station;
    // 256 KiB: not for the stack.
    const auto reader = std::make_unique<MemoryReaderState>();
    // A signal acts as Cancel: the block in flight completes and no tail read follows.
    session.onCancelSignal = [&reader] { reader->ReadCancelled = true; };
    InstallCancelSignals();

    CliReadObserver observer(args.flag("dump") ? &out : nullptr, progress, station.state, kept);
    const MemoryReadResult result = ReadMemory(station.transactor, session.host, config, *reader, observer);
    out.flush();
    progress.End();
    const bool portLost = !station.Connected;
    station.Disconnect();

    bool saved = true;
    if (result.end != MemoryReadEnd::Refused) {
        saved = SaveOutputFile(session.host, *path, reader->Image.View());
        if (saved)
            record.Image(reader->Image.View(), *path);
    }
    const std::string ending = DescribeMemoryRead(result, reader->Image.length);
    progress.Messages() << ending << std::endl;
    const bool complete = result.end == MemoryReadEnd::Complete;
    kept.AppendResultLine(ending, complete && saved ? ResultColour::Black : ResultColour::Red);

    if (portLost)
        return record.Finish(RecordOutcome::Aborted, session.lastMessage, CliUsage);
    if (!saved)
        return record.Finish(RecordOutcome::Fail, session.lastMessage, CliFailed);
    if (complete)
        return record.Finish(RecordOutcome::Pass, {}, CliOk);
    if (result.end == MemoryReadEnd::Cancelled)
        return record.Finish(RecordOutcome::Aborted, ending, CliCancelled);
    return record.Finish(RecordOutcome::Fail, ending, CliFailed);
}

}  // namespace tamrisk
