// tamrisk-cli journal info: the journal's size, its use and the ranges of
// Z-reports and documents it holds, the nine lines of the journal window's Info.

#include "journalcli.h"

#include "clilogin.h"

#include "cli.h"

namespace tamrisk {

int JournalInfoAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err) {
    const ParsedArgs args = ParseArgs(rest, WithLogInOptions(WithRecordOptions({"port", "speed"})), {});
    if (!args.error.empty())
        return UsageError(err, args.error);
    if (const std::string problem = CheckLinkOptions(args); !problem.empty())
        return UsageError(err, problem);
    if (!args.positional.empty())
        return UsageError(err, "journal info takes no argument besides its options");

    JournalCliRun run(out, err);
    if (const int status = run.Open(args, "journal-info"); status != CliOk)
        return status;
    const JournalResult result = run.journal.Info(run.view);
    return run.FinishRecord(run.End(result), result);
}

}  // namespace tamrisk
