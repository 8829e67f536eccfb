// tamrisk-cli read-journal-bin: the raw electronic journal, 64 bytes a
// transaction from a start address, into a file that holds exactly the blocks
// read.

#include "cli.h"
#include "clilogin.h"
#include "clioperationrecord.h"
#include "clisession.h"
#include "journalbinary.h"
#include "memoryreadcli.h"
#include "terminalsink.h"
#include "textcodec.h"

#include <ostream>

namespace tamrisk {

int ReadJournalBinCommandLine(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err) {
    const ParsedArgs args = ParseReadArgs(rest, WithLogInOptions(WithRecordOptions({"port", "speed", "start"})), {});
    if (!args.error.empty())
        return UsageError(err, args.error);
    if (const std::string problem = CheckLinkOptions(args); !problem.empty())
        return UsageError(err, problem);
    if (!args.positional.empty())
        return UsageError(err, "read-journal-bin takes no argument besides its options");
    const auto start = ParseStartAddress(args.value("start").value_or(""));
    if (!start)
        return UsageError(err, "Invalid start address");
    const auto path = args.value("output");
    if (!path || path->empty())
        return UsageError(err, "read-journal-bin needs -o FILE");

    const CliLogIn login = LogIn(args, Privilege::ReadMemories, err);
    if (login.Refused())
        return login.status;

    ProgressLine progress(err, StderrIsTerminal(err));
    CliSession session(out, progress.Messages());
    CliRecord record(args, "journal-binary", session.host, progress.Messages());
    record.SignedBy(login);
    const bool opened = OpenLink(session, args, progress.Messages());
    record.SetPort(args, session);
    if (!opened)
        return record.Finish(RecordOutcome::Error, session.lastMessage, CliUsage);
    record.Start();
    Station& station = session.station;
    bool stopRequested = false;
    // A signal acts as Stop: the block in flight is written, no further one is asked for.
    session.onCancelSignal = [&stopRequested] { stopRequested = true; };
    InstallCancelSignals();

    JournalCopyOptions options;
    options.start = *start;
    // Overwritten without a question, so an old file never outlives a read that found nothing.
    options.keepExistingWhenEmpty = false;
    options.stopRequested = &stopRequested;
    long long blocks = 0;
    // Off a terminal: a line every 64 KiB.
    options.progress = [&progress, &blocks](const std::string& text) { progress.Show(text, ++blocks % 1024 == 0); };
    const JournalCopyResult result =
        CopyJournalToFile(station.transactor, session.host, QString::fromStdString(*path), options);
    progress.End();
    const bool portLost = !station.Connected;
    station.Disconnect();
    const std::string ending = DescribeJournalCopy(result);
    progress.Messages() << EscapeControls(ending) << std::endl;
    const bool written = result.end != JournalCopyEnd::OpenFailed && result.end != JournalCopyEnd::WriteFailed;
    if (written)
        record.ImageOfFile(*path);
    record.Keep().AppendResultLine(Utf8ToCp1251(ending).value_or(ending),
                                   result.end == JournalCopyEnd::EndOfData ? ResultColour::Black : ResultColour::Red);

    if (portLost)
        return record.Finish(RecordOutcome::Aborted, session.lastMessage, CliUsage);
    switch (result.end) {
    case JournalCopyEnd::EndOfData: return record.Finish(RecordOutcome::Pass, {}, CliOk);
    case JournalCopyEnd::Stopped: return record.Finish(RecordOutcome::Aborted, ending, CliCancelled);
    case JournalCopyEnd::OpenFailed: return record.Finish(RecordOutcome::Error, ending, CliFailed);
    default: return record.Finish(RecordOutcome::Fail, ending, CliFailed);
    }
}

}  // namespace tamrisk
