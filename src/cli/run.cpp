// tamrisk-cli run: a script file run as the station runs it, with retries,
// line ranges, write-back of advanced serial numbers and cancel by signal.

#include "cli.h"
#include "clisession.h"
#include "inputfile.h"
#include "scriptlist.h"
#include "savefile.h"
#include "scriptrunner.h"
#include "terminalsink.h"

#include <algorithm>
#include <optional>
#include <ostream>
#include <unistd.h>

namespace tamrisk {

namespace {

// Replaces `path` with `lines` in one step: the old file survives any failure.
bool SaveScriptFile(const std::string& path, const std::vector<std::string>& lines, std::string& error) {
    QString problem;
    if (SaveBytesToFile(QString::fromStdString(path), JoinScriptLines(lines), problem))
        return true;
    error = problem.toStdString();
    return false;
}

}  // namespace

int RunCommandLine(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err) {
    const ParsedArgs args = ParseArgs(rest, {"port", "speed", "color", "retry", "lines"}, {"write-back"});
    if (!args.error.empty())
        return UsageError(err, args.error);
    if (const std::string problem = CheckLinkOptions(args); !problem.empty())
        return UsageError(err, problem);
    if (args.positional.size() != 1)
        return UsageError(err, "run takes one SCRIPT");
    const std::string& path = args.positional[0];
    const auto retry = ParseWholeNumber(args.value("retry").value_or("0"), 0, 1000000);
    if (!retry)
        return UsageError(err, "--retry takes a number of Yes answers");
    std::optional<std::pair<long long, long long>> range;
    if (const auto text = args.value("lines")) {
        range = ParseLineRange(*text);
        if (!range)
            return UsageError(err, "--lines takes A-B, two line numbers from 1 with A <= B");
        if (args.flag("write-back"))
            return UsageError(err, "--lines runs a copy of the lines, which is never written back");
    }

    std::string readError;
    const auto bytes = ReadInputFile(path, readError);
    if (!bytes) {
        CliError(err, "cannot read " + path + ": " + readError);
        return CliUsage;
    }
    std::vector<std::string> lines = SplitScriptLines(*bytes);
    if (range) {
        if (static_cast<std::size_t>(range->first) > lines.size()) {
            CliError(err, path + " has only " + std::to_string(lines.size()) + " lines");
            return CliUsage;
        }
        const auto last = std::min<std::size_t>(static_cast<std::size_t>(range->second), lines.size());
        lines = std::vector<std::string>(lines.begin() + (range->first - 1), lines.begin() + static_cast<long>(last));
    }
    StringScriptList list(std::move(lines));

    CliSession session(out, err);
    if (!OpenLink(session, args, err))
        return CliUsage;
    Station& station = session.station;
    session.host.setWaitForEnter(::isatty(STDIN_FILENO));
    TerminalSink sink(out, WantColours(args.value("color").value_or("auto")), StdoutIsTerminal());
    ScriptRunner runner(station.transactor, session.host, sink, [&station] { return station.Connected; });
    ScriptRunHooks hooks;
    hooks.commandStarting = [&session, yes = static_cast<int>(*retry)] { session.host.setYesAnswers(yes); };
    runner.SetHooks(std::move(hooks));

    InstallCancelSignals();
    runner.ScriptRunning = true;
    const RunOutcome outcome = runner.RunScript(list);
    runner.ScriptRunning = false;
    station.Disconnect();
    sink.Flush();
    out.flush();

    bool saveFailed = false;
    if (args.flag("write-back") && list.Changed()) {
        std::string saveError;
        if (!SaveScriptFile(path, list.Lines(), saveError)) {
            CliError(err, "cannot save " + saveError);  // "<path>: <reason>"
            saveFailed = true;
        }
    }
    switch (outcome) {
    case RunOutcome::NotStarted:
    case RunOutcome::PortLost: return CliUsage;
    case RunOutcome::Cancelled: return CliCancelled;
    case RunOutcome::Completed: break;
    }
    return sink.SawRed() || saveFailed ? CliFailed : CliOk;
}

}  // namespace tamrisk
