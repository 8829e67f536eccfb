#pragma once
// What the actions of tamrisk-cli script share (releasing, approving,
// revoking, listing and showing released scripts): the records where every
// station sees the releases, the person logged in for a change, a release
// named by its id, and the actions themselves, each in a file of its own.

#include "cliargs.h"
#include "privileges.h"
#include "recordstore.h"

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace tamrisk {

// Opens where `args` keep releases (OpenProcessRecords) and logs the person of
// --operator in there for `privilege` (LogInAt: nobody where the records hold
// no operators); the connection's changes are then theirs. CliOk with `who`
// (the person's ID, else the computer's login), else after a message on `err`
// the exit status: the store's, CliLogInRefused, CliNotPermitted.
int OpenAsPerson(const ParsedArgs& args, RecordStore& store, Privilege privilege, std::string& who, std::ostream& err);
// The release id that `args` give as their one argument; none after a usage message on `err`.
std::optional<qint64> ReleaseArgument(const ParsedArgs& args, const std::string& action, std::ostream& err);

int ScriptReleaseAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err);
int ScriptApproveAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err);
int ScriptRevokeAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err);
int ScriptListAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err);
int ScriptShowAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err);

}  // namespace tamrisk
