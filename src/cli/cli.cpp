#include "cli.h"

#include "clisession.h"
#include "programversion.h"

#include <ostream>

namespace tamrisk {

int StoreExitStatus(const StoreError& error) {
    switch (error.kind) {
    case StoreError::Kind::None: return CliOk;
    case StoreError::Kind::NotFound: return CliRecordNotFound;
    case StoreError::Kind::NotOpen:
    case StoreError::Kind::ConnectionLost:
    case StoreError::Kind::Busy: return CliRecordsUnavailable;
    case StoreError::Kind::SchemaRefused: return CliRecordsRefused;
    case StoreError::Kind::StatementFailed: return CliFailed;
    }
    return CliFailed;
}

int StoreFailed(std::ostream& err, const std::string& doing, const StoreError& error) {
    CliError(err, doing + " " + error.Text().toStdString());
    return StoreExitStatus(error);
}

int CliMain(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.empty())
        return UsageError(err, "no command given");
    const std::string& command = args[0];
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (command == "-h" || command == "--help" || command == "help") {
        out << CliUsageText;
        return CliOk;
    }
    if (command == "--version") {
        out << "tamrisk-cli " << ProgramVersionText << '\n';
        return CliOk;
    }
    if (command == "ports")
        return PortsCommand(rest, out, err);
    if (command == "exec")
        return ExecCommandLine(rest, out, err);
    if (command == "run")
        return RunCommandLine(rest, out, err);
    if (command == "read-code")
        return ReadCodeCommandLine(rest, out, err);
    if (command == "read-fiscal")
        return ReadFiscalCommandLine(rest, out, err);
    if (command == "read-journal-bin")
        return ReadJournalBinCommandLine(rest, out, err);
    if (command == "journal")
        return JournalCommandLine(rest, out, err);
    if (command == "records")
        return RecordsCommandLine(rest, out, err);
    if (command == "route")
        return RouteCommandLine(rest, out, err);
    if (command == "unit")
        return UnitCommandLine(rest, out, err);
    if (command == "script")
        return ScriptCommandLine(rest, out, err);
    if (command == "dashboard")
        return DashboardCommandLine(rest, out, err);
    return UsageError(err, "unknown command " + command);
}

}  // namespace tamrisk
