#pragma once
// The actions of tamrisk-cli audit, each in a file of its own.

#include <QtGlobal>

#include <iosfwd>
#include <string>
#include <vector>

namespace tamrisk {

// An entry's time as the audit commands show it: "2026-12-10 08:01:02" (UTC).
std::string AuditTime(qint64 atMs);

int AuditListAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err);
int AuditVerifyAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err);

}  // namespace tamrisk
