// tamrisk-cli journal print: the printer prints the documents a query
// selects, in its small or its normal font, as the journal window's Print asks.

#include "journalcli.h"

#include "clilogin.h"

#include "cli.h"

namespace tamrisk {

int JournalPrintAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err) {
    const ParsedArgs args = ParseArgs(rest, WithLogInOptions(WithRecordOptions({"port", "speed"})), {"large"});
    if (!args.error.empty())
        return UsageError(err, args.error);
    if (const std::string problem = CheckLinkOptions(args); !problem.empty())
        return UsageError(err, problem);
    const auto query = JournalQuery(args, "print", 3, err);
    if (!query)
        return CliUsage;

    JournalCliRun run(out, err);
    if (const int status = run.Open(args, "journal-print"); status != CliOk)
        return status;
    const JournalResult result = run.journal.Print(*query, !args.flag("large"), run.view);
    return run.FinishRecord(run.End(result), result);
}

}  // namespace tamrisk
