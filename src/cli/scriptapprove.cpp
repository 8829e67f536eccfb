// tamrisk-cli script approve RELEASE --operator ID: a supervisor other than
// the one who released it approves a release, which makes it the active
// release of its product and operation unless a newer one is approved.

#include "scriptactions.h"

#include "cli.h"
#include "clilogin.h"
#include "clisession.h"

#include <QDateTime>

#include <ostream>

namespace tamrisk {

int ScriptApproveAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err) {
    const ParsedArgs args = ParseArgs(rest, WithLogInOptions({"records"}), {});
    if (!args.error.empty())
        return UsageError(err, args.error);
    const auto id = ReleaseArgument(args, "approve", err);
    if (!id)
        return CliUsage;
    RecordStore store;
    std::string who;
    if (const int status = OpenAsPerson(args, store, Privilege::ApproveRelease, who, err); status != CliOk)
        return status;
    if (const StoreResult<void> approved = store.Releases().Approve(*id, who, QDateTime::currentMSecsSinceEpoch());
        !approved)
        return StoreFailed(err, "cannot approve:", approved.error());
    const StoreResult<ScriptRelease> release = store.Releases().Find(*id);
    if (!release)
        return StoreFailed(err, "cannot read release " + std::to_string(*id) + ":", release.error());
    out << "release " << *id << " approved by " << who << ": " << release->product << ' ' << release->operation
        << " number " << release->number
        << (release->active ? " is the active release\n" : ", a newer one is active\n");
    return CliOk;
}

}  // namespace tamrisk
