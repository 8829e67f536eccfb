// tamrisk-cli audit: the audit trail of the records, listed and verified;
// here the dispatch.

#include "auditactions.h"

#include "clisession.h"

namespace tamrisk {

int AuditCommandLine(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err) {
    return RunAction("audit", {{"list", AuditListAction}, {"verify", AuditVerifyAction}}, rest, out, err);
}

}  // namespace tamrisk
