// tamrisk-cli journal check: the printer's stored data of a Z-report or its
// verification of the Z-report's journal, laid out as the journal window's Check does.

#include "journalcli.h"

#include "clilogin.h"

#include "cli.h"
#include "journalformat.h"

namespace tamrisk {

int JournalCheckAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err) {
    const ParsedArgs args = ParseArgs(rest, WithLogInOptions(WithRecordOptions({"port", "speed"})), {});
    if (!args.error.empty())
        return UsageError(err, args.error);
    if (const std::string problem = CheckLinkOptions(args); !problem.empty())
        return UsageError(err, problem);
    const auto query = JournalQuery(args, "check", 2, err);
    if (!query)
        return CliUsage;

    JournalCliRun run(out, err);
    if (const int status = run.Open(args, "journal-check"); status != CliOk)
        return status;
    const JournalResult result = run.journal.Check(*query, run.view);
    const int status = run.End(result);
    if (status == CliOk && result.digestsDiffer)
        return run.FinishRecord(CliDigestMismatch, result, JournalDigestMismatch);
    return run.FinishRecord(status, result);
}

}  // namespace tamrisk
