#pragma once
// What the actions of tamrisk-cli records share: the records file opened for
// reading, and the actions themselves.

#include "cliargs.h"
#include "recordstore.h"

#include <iosfwd>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace tamrisk {

// The records file that `args` choose (--records, TAMRISK_RECORDS, the user's),
// opened, with the records of ended programs marked aborted. Null, after a
// message on `err`, when records are off or the file cannot be opened.
std::unique_ptr<RecordStore> OpenRecordsToRead(const ParsedArgs& args, std::ostream& err);

// The options of the filters that records list and export share (--unit,
// --serial, --outcome, --kind, --since, --limit) and --records, with `more`.
std::set<std::string> RecordsFilterOptions(std::set<std::string> more);
// Those filters from `args`, --limit defaulting to `defaultLimit` (0: all). The
// usage problem, or empty.
std::string ParseRecordsFilter(const ParsedArgs& args, int defaultLimit, RecordStore::Filter& filter);

// The actions, each in a file of its own.
int RecordsListAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err);
int RecordsShowAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err);
int RecordsExportAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err);

}  // namespace tamrisk
