#pragma once
// What the actions of tamrisk-cli operator share: the line's people opened
// where every station sees them, a supervisor logged in to change them (or,
// while the records hold nobody, the first supervisor added without), a new
// PIN asked twice on the terminal or read from --new-pin-file, and the
// actions, each in a file of its own.

#include "cliargs.h"
#include "clilogin.h"

#include <functional>
#include <iosfwd>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tamrisk {

class RecordStore;

// Opens in `store` the people of the records that `args` choose (at the line's
// location, as OpenProcessRecords does) and logs the supervisor of `args` in
// (LogInAt, ManageOperators) into `login`. CliOk, else after a message on `err`
// the exit status.
int OpenPeople(const ParsedArgs& args, RecordStore& store, CliLogIn& login, std::ostream& err);

// Starts `action` on one person: parses `rest` into `args` (--records, the
// log-in's options and `withValue`), takes the person's ID (well formed) into
// `id`, followed by one more argument named `after` when it is not empty,
// asks `check` for a usage problem (empty: none), then opens the people and
// logs the supervisor in (OpenPeople). CliOk, else the exit status after a
// message on `err`.
int StartOnPerson(const std::vector<std::string>& rest, const std::string& action,
                  const std::set<std::string>& withValue, const std::string& after, ParsedArgs& args, std::string& id,
                  RecordStore& store, CliLogIn& login, std::ostream& err,
                  const std::function<std::string()>& check = {});

// The new PIN of `id` into `pin`: the first line of --new-pin-file (owner's
// only, as --pin-file), else typed twice on the terminal with its echo off.
// CliOk, else after a message on `err` CliUsage (PINs differ, not 4 to 32
// characters, a file refused, no terminal) or CliCancelled.
int ReadNewPin(const ParsedArgs& args, const std::string& id, PinText& pin, std::ostream& err);

// Refuses (CliNotPermitted, after a message on `err`) a change that would
// leave the records without a supervisor who may log in: `id` demoted or
// disabled while nobody else is an enabled supervisor. CliOk otherwise.
int KeepASupervisor(RecordStore& store, const std::string& id, std::ostream& err);

// The hash of the new `pin` into `hash`; CliFailed after a message when it cannot be made.
int HashNewPin(const PinText& pin, std::string& hash, std::ostream& err);

int OperatorAddAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err);
int OperatorListAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err);
int OperatorRoleAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err);
int OperatorDisableAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err);
int OperatorPinAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err);

}  // namespace tamrisk
