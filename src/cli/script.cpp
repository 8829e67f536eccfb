// tamrisk-cli script: scripts released for a product and an operation,
// approved by a second person, listed, shown and revoked where every station
// sees them; here the dispatch and what the actions share.

#include "scriptactions.h"

#include "cli.h"
#include "clilogin.h"
#include "clisession.h"
#include "processactions.h"

#include <limits>
#include <ostream>

namespace tamrisk {

int OpenAsPerson(const ParsedArgs& args, RecordStore& store, Privilege privilege, std::string& who, std::ostream& err) {
    if (const int status = OpenProcessRecords(args, store, err); status != CliOk)
        return status;
    const CliLogIn login = LogInAt(store, args, privilege, err);
    if (login.Refused())
        return login.status;
    who = login.Who();
    return CliOk;
}

std::optional<qint64> ReleaseArgument(const ParsedArgs& args, const std::string& action, std::ostream& err) {
    const auto id = args.positional.size() == 1
                        ? ParseWholeNumber(args.positional[0], 1, std::numeric_limits<qint64>::max())
                        : std::nullopt;
    if (!id)
        UsageError(err, "script " + action + " takes one RELEASE, a release's id");
    return id;
}

int ScriptCommandLine(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err) {
    return RunAction("script",
                     {{"release", ScriptReleaseAction},
                      {"approve", ScriptApproveAction},
                      {"revoke", ScriptRevokeAction},
                      {"list", ScriptListAction},
                      {"show", ScriptShowAction}},
                     rest, out, err);
}

}  // namespace tamrisk
