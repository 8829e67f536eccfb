// tamrisk-cli audit: the audit trail of the records, listed and verified;
// here the dispatch.

#include "auditactions.h"

#include "clisession.h"

namespace tamrisk {

int AuditCommandLine(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err) {
    if (rest.empty())
        return UsageError(err, "audit needs an action: list or verify");
    const std::string& action = rest[0];
    const std::vector<std::string> args(rest.begin() + 1, rest.end());
    if (action == "list")
        return AuditListAction(args, out, err);
    if (action == "verify")
        return AuditVerifyAction(args, out, err);
    return UsageError(err, "unknown audit action " + action);
}

}  // namespace tamrisk
