#pragma once
// What the commands of the line's process share (tamrisk-cli route and unit):
// the records where routes, entries and holds are kept, opened to change them,
// and the sub-commands, each in a file of its own.

#include "cliargs.h"
#include "recordstore.h"

#include <functional>
#include <iosfwd>
#include <optional>
#include <memory>
#include <string>
#include <vector>

namespace tamrisk {

// Opens in `store` where `args` keep the line's process: the line's database
// of --records (or TAMRISK_RECORDS), else the records file. CliOk, else after a
// message on `err` the exit status: CliUsage for records off, the store's
// (StoreExitStatus) when they cannot be opened.
int OpenProcessRecords(const ParsedArgs& args, RecordStore& store, std::ostream& err);
// `value` of --`option` checked as a name of `what`; empty after a usage message on `err`.
std::optional<std::string> ProcessName(const ParsedArgs& args, const std::string& option, const std::string& what,
                                       std::ostream& err);

// Holds or releases the unit that `rest` names (UNIT --reason TEXT [--records
// LOC]) with `change`, which returns what to print; the change is kept as a
// record of `kind` (its id the change's record) and sent on like any record.
// CliOk, else after a message on `err` its exit status.
int ChangeUnit(const std::vector<std::string>& rest, const std::string& kind, std::ostream& out, std::ostream& err,
               const std::function<StoreResult<std::string>(RecordStore& store, const HoldChange& change)>& change);

int RouteSetAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err);
int RouteShowAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err);
int RouteDeleteAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err);
int UnitHoldAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err);
int UnitReleaseAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err);

}  // namespace tamrisk
