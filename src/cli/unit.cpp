// tamrisk-cli unit: a unit's holds and releases; here the dispatch (a
// sub-command a line) and what they share.

#include "processactions.h"
#include "unitactions.h"

#include "cli.h"
#include "clilogin.h"
#include "clioperationrecord.h"
#include "clisession.h"

#include <QDateTime>

#include <ostream>

namespace tamrisk {

int ChangeUnit(const std::vector<std::string>& rest, const std::string& kind, std::ostream& out, std::ostream& err,
               const std::function<StoreResult<std::string>(RecordStore& store, const HoldChange& change)>& change) {
    const ParsedArgs args = ParseArgs(rest, WithLogInOptions({"records", "reason"}), {});
    if (!args.error.empty())
        return UsageError(err, args.error);
    if (args.positional.size() != 1)
        return UsageError(err, "unit " + kind + " takes one UNIT");
    const std::string& unit = args.positional[0];
    if (const std::string problem = NameProblem("unit", unit); !problem.empty())
        return UsageError(err, problem);
    const std::string reason = args.value("reason").value_or("");
    if (reason.empty())
        return UsageError(err, "unit " + kind + " needs --reason TEXT");
    RecordStore store;
    if (const int status = OpenProcessRecords(args, store, err); status != CliOk)
        return status;
    const CliLogIn login = LogInAt(store, args, Privilege::HoldUnits, err);
    if (login.Refused())
        return login.status;
    CliSession session(out, err);
    CliRecord record(args, kind, session.host, err);
    record.SignedBy(login);
    RecordHeader& header = record.Header();
    header.unit = unit;
    const StoreResult<std::string> done =
        change(store, {unit, header.id, login.Who(), header.station, reason, QDateTime::currentMSecsSinceEpoch()});
    if (!done)
        return StoreFailed(err, "cannot " + kind + " " + unit, done.error());
    out << *done << '\n';
    return record.Finish(RecordOutcome::Pass, reason, CliOk);
}

int UnitCommandLine(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err) {
    return RunAction("unit", {{"history", UnitHistoryAction}, {"hold", UnitHoldAction}, {"release", UnitReleaseAction}},
                     rest, out, err);
}

}  // namespace tamrisk
