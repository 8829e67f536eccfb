// tamrisk-cli script revoke RELEASE --reason TEXT --operator ID: a supervisor
// revokes a release, which is never active again; the newest approved release
// before it becomes the active one.

#include "scriptactions.h"

#include "cli.h"
#include "clilogin.h"
#include "clisession.h"

#include <QDateTime>

#include <ostream>

namespace tamrisk {

int ScriptRevokeAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err) {
    const ParsedArgs args = ParseArgs(rest, WithLogInOptions({"records", "reason"}), {});
    if (!args.error.empty())
        return UsageError(err, args.error);
    const auto id = ReleaseArgument(args, "revoke", err);
    if (!id)
        return CliUsage;
    const std::string reason = args.value("reason").value_or("");
    if (reason.find_first_not_of(" \t") == std::string::npos)
        return UsageError(err, "script revoke needs --reason TEXT");
    RecordStore store;
    std::string who;
    if (const int status = OpenAsPerson(args, store, Privilege::ApproveRelease, who, err); status != CliOk)
        return status;
    if (const StoreResult<void> revoked =
            store.Releases().Revoke(*id, who, reason, QDateTime::currentMSecsSinceEpoch());
        !revoked)
        return StoreFailed(err, "cannot revoke:", revoked.error());
    out << "release " << *id << " revoked by " << who << '\n';
    return CliOk;
}

}  // namespace tamrisk
