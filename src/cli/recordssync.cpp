// tamrisk-cli records sync: sends the records that wait in this computer's local
// file for the line's database now (those the line refused before once more),
// and says how many went, how many wait and which the line refused.

#include "recordsactions.h"

#include "cli.h"
#include "clioperationrecord.h"
#include "clisession.h"
#include "recordforwarder.h"

#include <QDeadlineTimer>

#include <ostream>

namespace tamrisk {

int RecordsSyncAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err) {
    const ParsedArgs args = ParseArgs(rest, {"records"}, {});
    if (!args.error.empty())
        return UsageError(err, args.error);
    if (!args.positional.empty())
        return UsageError(err, "records sync takes no argument besides --records");
    const QString line = RecordsLocation(args);
    if (!RecordStore::IsLineLocation(line))
        return UsageError(err, "records sync sends records to a line's database: --records postgresql://USER@HOST[:PORT]/DB"
                               " (or TAMRISK_RECORDS)");
    // Sends everything: a line that cannot be reached fails within its connection time-out.
    const RecordForwarder::SyncResult result =
        RecordForwarder::SendWaiting(LocalRecordsLocation(), line, QDeadlineTimer(QDeadlineTimer::Forever));
    out << result.sent << (result.sent == 1 ? " record" : " records") << " sent to the line\n";
    TellRecordsSetAside(err, result.setAside);
    if (result.waiting == 0)
        return result.setAside.empty() ? CliOk : CliFailed;
    if (result.waiting < 0)
        return StoreFailed(err, "cannot read the records waiting:", result.unread);
    TellRecordsWaiting(err, result.waiting, result.problem);
    return CliFailed;
}

}  // namespace tamrisk
