#pragma once
// tamrisk-cli: the station's headless front end. Needs a QCoreApplication.

#include "storeerror.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace tamrisk {

// Exit codes.
constexpr int CliOk = 0;                 // done, nothing failed
constexpr int CliFailed = 1;             // a transaction or line failed; the database refused a statement
constexpr int CliUsage = 2;              // usage error, unreadable input, port not opened
// 3: journal check's digest mismatch (CliDigestMismatch, journalcli.h).
constexpr int CliRecordNotFound = 4;     // no record has the ID given
constexpr int CliRecordsUnavailable = 5; // the records cannot be opened or read: out of reach, busy, not there
constexpr int CliRecordsRefused = 6;     // not a records database, a newer one, or a login without its rights
constexpr int CliRefused = 7;            // run: the unit may not enter the operation (the reason on stderr)
constexpr int CliNotPermitted = 8;       // the logged-in person's role may not do this (the role that may on stderr)
constexpr int CliLogInRefused = 9;       // no log-in: unknown ID, wrong PIN, locked or disabled
constexpr int CliNoRelease = 10;         // run: no active release, or a release whose text no longer matches its SHA-256
constexpr int CliCancelled = 130;

// The exit status of a failed operation of the records store, by its kind.
int StoreExitStatus(const StoreError& error);
// Tells `error` on `err` after `doing` ("cannot read records") and returns its exit status.
int StoreFailed(std::ostream& err, const std::string& doing, const StoreError& error);

// Runs `args` (without the program name); result lines go to `out`, messages to `err`.
int CliMain(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace tamrisk
