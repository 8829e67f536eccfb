#include "cli.h"

#include "clisession.h"
#include "programversion.h"

#include <ostream>

namespace tamrisk {

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
    if (command == "dashboard")
        return DashboardCommandLine(rest, out, err);
    return UsageError(err, "unknown command " + command);
}

}  // namespace tamrisk
