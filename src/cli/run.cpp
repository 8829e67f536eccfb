// tamrisk-cli run: a script file run as the station runs it, with retries,
// line ranges, write-back of advanced serial numbers, serial numbers claimed in
// the records so that none is given twice (claims out of reach waited for at
// most --claim-wait seconds), and cancel by signal. Where the records hold
// people, the person logs in: a run without a script file runs the active
// release of its product and operation, a file is an engineering run.

#include "cli.h"
#include "clilogin.h"
#include "clioperationrecord.h"
#include "clisession.h"
#include "inputfile.h"
#include "reports.h"
#include "runentry.h"
#include "runports.h"
#include "runrelease.h"
#include "savefile.h"
#include "scriptdigest.h"
#include "scriptlist.h"
#include "scriptrunner.h"
#include "serialnumbers.h"
#include "terminalsink.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <span>
#include <ostream>
#include <unistd.h>

namespace tamrisk {

namespace {

// The exit status of a run that ended so, with that outcome.
int RunExitStatus(RunOutcome ended, RecordOutcome outcome) {
    switch (ended) {
    case RunOutcome::NotStarted:
    case RunOutcome::PortLost:
    case RunOutcome::SerialUnavailable: return CliUsage;
    case RunOutcome::Cancelled: return CliCancelled;
    case RunOutcome::StoppedAtFailure:
    case RunOutcome::Completed: break;
    }
    if (outcome == RecordOutcome::Error)
        return CliUsage;
    return outcome == RecordOutcome::Pass ? CliOk : CliFailed;
}

// The variables the run's checks may name: the --vars file's (a release's
// own variables file, `released`, instead), then every --set over them, and
// the unit under test as {unit} when --unit gives one. False with the reason
// when the file cannot be read or a line is not NAME=VALUE.
bool RunVariables(const ParsedArgs& args, const std::optional<std::string>& released, CheckVariables& variables,
                  std::string& error) {
    if (released) {
        if (!ReadCheckVariables(*released, variables, error))
            return false;
    } else if (const auto path = args.value("vars")) {
        std::string readError;
        const auto bytes = ReadInputFile(*path, readError);
        if (!bytes) {
            error = "cannot read " + *path + ": " + readError;
            return false;
        }
        if (!ReadCheckVariables(*bytes, variables, readError)) {
            error = *path + ": " + readError;
            return false;
        }
    }
    if (const auto sets = args.repeated.find("set"); sets != args.repeated.end()) {
        for (const std::string& assignment : sets->second) {
            std::string name, value;
            if (!ParseCheckAssignment(assignment, name, value)) {
                error = "--set takes NAME=VALUE, NAME a letter and then letters, digits, _ or -";
                return false;
            }
            variables[name] = value;
        }
    }
    if (const auto unit = args.value("unit"); unit && !unit->empty())
        variables["unit"] = *unit;
    return true;
}

// Replaces `path` with `lines` in one step: the old file survives any failure.
bool SaveScriptFile(const std::string& path, const std::vector<std::string>& lines, std::string& error) {
    QString problem;
    if (SaveBytesToFile(QString::fromStdString(path), JoinScriptLines(lines), problem))
        return true;
    error = problem.toStdString();
    return false;
}

// The report files that --junit and --json ask for: (path, format) pairs.
std::vector<std::pair<std::string, std::string>> RunReports(const ParsedArgs& args) {
    std::vector<std::pair<std::string, std::string>> reports;
    for (const char* format : {"junit", "json"}) {
        if (const auto path = args.value(format))
            reports.emplace_back(*path, format);
    }
    return reports;
}

// Writes each report of the run, each file in one step. False, with the first
// failure's "<path>: <reason>" in `problem`, when one could not be written; the
// operator is told of every one.
bool WriteRunReports(const std::vector<std::pair<std::string, std::string>>& reports, const Record& record,
                     Host& host, std::string& problem) {
    bool written = true;
    for (const auto& [path, format] : reports) {
        const QByteArray bytes = format == "junit" ? RecordsJUnit(std::span(&record, 1)) : RecordJson(record);
        std::string failure;
        if (!SaveOutputFile(host, path, bytes.toStdString(), &failure) && written) {
            written = false;
            problem = failure;
        }
    }
    return written;
}

}  // namespace

int RunCommandLine(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err) {
    const ParsedArgs args =
        ParseArgs(rest,
                  WithLogInOptions(WithRecordOptions({"port", "speed", "color", "retry", "lines", "junit", "json",
                                                      "claim-wait", "set", "vars", "operation", "product"})),
                  {"write-back", "unique-serials", "stop-on-fail"});
    if (!args.error.empty())
        return UsageError(err, args.error);
    if (const std::string problem = CheckLinkOptions(args); !problem.empty())
        return UsageError(err, problem);
    if (args.positional.size() > 1)
        return UsageError(err, "run takes one SCRIPT");
    if (RunsRelease(args)) {
        if (!args.value("product") || !args.value("operation"))
            return UsageError(err, "run takes one SCRIPT");
        if (args.value("vars") || args.repeated.count("set") || args.value("lines") || args.flag("write-back"))
            return UsageError(err,
                              "a release runs whole, with the variables file released with it: no --vars,"
                              " --set, --lines or --write-back");
    }
    const auto retry = ParseWholeNumber(args.value("retry").value_or("0"), 0, 1000000);
    if (!retry)
        return UsageError(err, "--retry takes a number of Yes answers");
    const auto claimWait = ParseWholeNumber(args.value("claim-wait").value_or(std::to_string(DefaultClaimWait.count())),
                                            0, MaxClaimWait.count());
    if (!claimWait)
        return UsageError(err, "--claim-wait takes a number of seconds, 0 to 86400");
    std::optional<std::pair<long long, long long>> range;
    if (const auto text = args.value("lines")) {
        range = ParseLineRange(*text);
        if (!range)
            return UsageError(err, "--lines takes A-B, two line numbers from 1 with A <= B");
        if (args.flag("write-back"))
            return UsageError(err, "--lines runs a copy of the lines, which is never written back");
    }

    const bool uniqueSerials = args.flag("unique-serials");
    if (uniqueSerials && RecordsLocation(args).isEmpty())
        return UsageError(err, "--unique-serials claims every number in the records, which are off");
    // Every run of several ports checks the same; the usage errors are told once, here.
    const auto ports = args.repeated.find("port");
    const bool severalPorts = ports != args.repeated.end() && ports->second.size() > 1;
    if (severalPorts && RunsRelease(args))
        return UsageError(err, "a run of several ports takes one SCRIPT");
    if (const std::string problem = RunEntryProblem(args, !severalPorts); !problem.empty())
        return UsageError(err, problem);
    const auto reports = RunReports(args);
    for (const auto& report : reports) {
        if (report.first.empty())
            return UsageError(err, "--" + report.second + " takes a FILE");
    }

    const CliLogIn login = LogIn(args, Privilege::RunReleasedScript, err);
    if (login.Refused())
        return login.status;
    if (severalPorts) {
        // Each port's run is a program of its own that logs in again, with no
        // terminal to ask on; asked here first, a wrong PIN counts once.
        if (login.person && !args.value("pin-file")) {
            CliError(err, "with several ports each port's run logs in on its own: give --pin-file FILE");
            return CliLogInRefused;
        }
        return RunOnPorts(args, out, err);
    }
    if (RunsRelease(args) && !login.person)
        return UsageError(err, "run takes one SCRIPT");
    RunSource source;
    if (const int status = TakeRunSource(args, login.person, source, err); status != CliOk)
        return status;
    CheckVariables variables;
    if (std::string problem; !RunVariables(args, source.vars, variables, problem))
        return UsageError(err, problem);

    CliSession session(out, err);
    CliRecord record(args, "run", session.host, err);
    record.SignedBy(login);
    if (!reports.empty())
        record.KeepWhole();
    RunEntry entry(args, record, session, err, std::chrono::seconds(*claimWait));
    // The reports are written from the record as it ends, before it is finished, so
    // that a report that cannot be written is in the record's outcome and exit
    // status as in the program's: a run that passed fails with exit status 1; one
    // that already failed, was cancelled or could not start keeps its own.
    const auto finish = [&](RecordOutcome outcome, std::string reason, int exitCode) {
        std::string problem;
        if (!reports.empty() && !WriteRunReports(reports, record.Ending(outcome, reason, exitCode), session.host,
                                                 problem) &&
            exitCode == CliOk) {
            outcome = RecordOutcome::Fail;
            reason = "cannot write " + problem;
            exitCode = CliFailed;
        }
        record.Finish(outcome, std::move(reason), exitCode);
        // Given back with any outcome, once the run's record is kept.
        entry.Leave(outcome);
        return exitCode;
    };
    // A run may take long: a report file that cannot be written is refused before it.
    for (const auto& report : reports) {
        if (std::string error; !OutputFileWritable(report.first, error)) {
            CliError(err, "cannot write " + error);
            return record.Finish(RecordOutcome::Error, "cannot write " + error, CliUsage);
        }
    }
    RecordHeader& header = record.Header();
    header.script = source.name;
    header.releaseNumber = source.releaseNumber;
    header.engineering = source.engineering;
    const std::string& path = source.path;
    std::string readError;
    const auto bytes = source.releaseNumber ? std::optional(source.script) : ReadInputFile(path, readError);
    if (!bytes) {
        CliError(err, "cannot read " + path + ": " + readError);
        return finish(RecordOutcome::Error, "cannot read " + path + ": " + readError, CliUsage);
    }
    std::vector<std::string> lines = SplitScriptLines(*bytes);
    header.scriptSha256 = ScriptSha256(lines);
    if (range) {
        if (static_cast<std::size_t>(range->first) > lines.size()) {
            const std::string problem = path + " has only " + std::to_string(lines.size()) + " lines";
            CliError(err, problem);
            return finish(RecordOutcome::Error, problem, CliUsage);
        }
        const auto last = std::min<std::size_t>(static_cast<std::size_t>(range->second), lines.size());
        header.lineRange = std::to_string(range->first) + "-" + std::to_string(last);
        lines = std::vector<std::string>(lines.begin() + (range->first - 1), lines.begin() + static_cast<long>(last));
    }
    StringScriptList list(std::move(lines));

    // Nothing goes to the printer before the unit may enter.
    InstallCancelSignals();
    if (const std::optional<int> refused = entry.Enter())
        return *refused;
    const bool opened = OpenLink(session, args, err);
    record.SetPort(args, session);
    if (!opened)
        return finish(RecordOutcome::Error, session.lastMessage, CliUsage);
    record.Start();
    Station& station = session.station;
    session.host.setWaitForEnter(::isatty(STDIN_FILENO));
    TerminalSink terminal(out, WantColours(args.value("color").value_or("auto")), StdoutIsTerminal());
    ResultSink& sink = record.Tee(terminal);
    ScriptRunner runner(station.transactor, session.host, sink, [&station] { return station.Connected; });
    ScriptRunHooks hooks;
    hooks.commandStarting = [&session, yes = static_cast<int>(*retry)] { session.host.setYesAnswers(yes); };
    runner.SetHooks(std::move(hooks));
    record.SetUniqueSerials(uniqueSerials);
    runner.SetClaimWait(std::chrono::seconds(*claimWait));
    runner.SetCheckVariables(std::move(variables));
    runner.SetStopOnFail(args.flag("stop-on-fail"));
    runner.SetRunObserver(&record.Observer());
    if (range)
        runner.SetFirstLineNumber(static_cast<int>(range->first));

    runner.ScriptRunning = true;
    const RunOutcome outcome = runner.RunScript(list);
    runner.ScriptRunning = false;
    station.Disconnect();
    sink.Flush();
    out.flush();

    std::string saveError;
    if (args.flag("write-back") && list.Changed() && !SaveScriptFile(path, list.Lines(), saveError)) {
        saveError = "cannot save " + saveError;  // "<path>: <reason>"
        CliError(err, saveError);
    }
    // A release's numbers go on from where this run left them at the station's next run.
    if (source.releaseNumber && list.Changed() && saveError.empty()) {
        saveError = KeepRunProgress(args, source, JoinScriptLines(list.Lines()));
        if (!saveError.empty())
            CliError(err, saveError);
    }
    Verdict verdict = RunVerdict(outcome, record.Operation(), session.lastMessage);
    if (verdict.outcome == RecordOutcome::Pass && !saveError.empty())
        verdict = {RecordOutcome::Fail, saveError};
    return finish(verdict.outcome, std::move(verdict.reason), RunExitStatus(outcome, verdict.outcome));
}

}  // namespace tamrisk
