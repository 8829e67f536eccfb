// tamrisk-cli exec: one command logged as the Execute Command dialog logs it.

#include "cli.h"
#include "clilogin.h"
#include "clioperationrecord.h"
#include "clisession.h"
#include "resultlog.h"
#include "terminalsink.h"
#include "textcodec.h"

#include <ostream>

namespace tamrisk {

int ExecCommandLine(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err) {
    const ParsedArgs args = ParseArgs(rest, WithLogInOptions(WithRecordOptions({"port", "speed", "color"})), {});
    if (!args.error.empty())
        return UsageError(err, args.error);
    if (const std::string problem = CheckLinkOptions(args); !problem.empty())
        return UsageError(err, problem);
    if (args.positional.empty() || args.positional.size() > 2)
        return UsageError(err, "exec takes COMMAND and an optional DATA");
    // Blanks before the number are allowed, as in a script line and the dialog.
    const std::string& commandText = args.positional[0];
    const std::size_t digits = commandText.find_first_not_of(" \t");
    const auto command =
        ParseWholeNumber(digits == std::string::npos ? std::string() : commandText.substr(digits), 32, 255);
    if (!command)
        return UsageError(err, "COMMAND must be a number from 32 to 255");
    const auto data = Utf8ToCp1251(args.positional.size() > 1 ? args.positional[1] : std::string());
    if (!data)
        return UsageError(err, "DATA holds a character that Windows-1251 cannot carry");

    const CliLogIn login = LogIn(args, Privilege::ExecuteCommand, err);
    if (login.Refused())
        return login.status;

    CliSession session(out, err);
    CliRecord record(args, "command", session.host, err);
    record.SignedBy(login);
    const bool opened = OpenLink(session, args, err);
    record.SetPort(args, session);
    if (!opened)
        return record.Finish(RecordOutcome::Error, session.lastMessage, CliUsage);
    record.Start();
    TerminalSink terminal(out, WantColours(args.value("color").value_or("auto")), StdoutIsTerminal());
    ResultSink& sink = record.Tee(terminal);
    LogCommand(session.station.transactor, session.host, sink, static_cast<int>(*command), *data);
    sink.Flush();
    const bool stillConnected = session.station.Connected;
    session.station.Disconnect();
    Verdict verdict = CommandVerdict(stillConnected, session.station.state.StatusFlags, record.Operation(),
                                     session.lastMessage, session.lastMessage);
    const int status = !stillConnected                                ? CliUsage
                       : verdict.outcome == RecordOutcome::Pass ? CliOk
                                                                : CliFailed;
    return record.Finish(verdict.outcome, std::move(verdict.reason), status);
}

}  // namespace tamrisk
