// tamrisk-cli journal read: the journal lines a query selects, read one
// answer at a time as the journal window's Read does, to stdout and a file.

#include "journalcli.h"

#include "clilogin.h"

#include "cli.h"

#include <ostream>

namespace tamrisk {

int JournalReadAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err) {
    const ParsedArgs args = ParseReadArgs(rest, WithLogInOptions(WithRecordOptions({"port", "speed"})), {});
    if (!args.error.empty())
        return UsageError(err, args.error);
    if (const std::string problem = CheckLinkOptions(args); !problem.empty())
        return UsageError(err, problem);
    const auto path = args.value("output");
    if (path && path->empty())
        return UsageError(err, "-o needs a FILE");
    const auto query = JournalQuery(args, "read", 2, err);
    if (!query)
        return CliUsage;

    JournalCliRun run(out, err);
    if (const int status = run.Open(args, "journal-read"); status != CliOk)
        return status;
    // A signal acts as Cancel: the answer in flight is not added.
    run.cli.onCancelSignal = [&run] { run.journal.JournalCancelled = true; };
    InstallCancelSignals();
    const JournalResult result = run.journal.Read(*query, run.view);
    const bool portLost = run.Close();

    // Once the printer answered the first request the file holds what the view
    // holds, also when that is nothing, so an old file never outlives the read.
    const bool readBegan = result.outcome == JournalOutcome::Done || result.outcome == JournalOutcome::Cancelled ||
                           result.outcome == JournalOutcome::NextFailed;
    bool saved = true;
    if (path && readBegan)
        saved = SaveOutputFile(run.cli.host, *path, run.view.Text().SaveBytes());
    run.view.Finish();

    int status = CliFailed;
    if (portLost)
        status = CliUsage;
    else if (saved && result.outcome == JournalOutcome::Done)
        status = CliOk;
    else if (saved && result.outcome == JournalOutcome::Cancelled)
        status = CliCancelled;
    return run.FinishRecord(status, result, saved ? std::string() : run.cli.lastMessage);
}

}  // namespace tamrisk
