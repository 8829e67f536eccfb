// tamrisk-cli operator: the people who use the line's stations, added,
// listed, changed and disabled by a supervisor; here the dispatch and what the
// actions share.

#include "operatoractions.h"

#include "cli.h"
#include "clisession.h"
#include "pin.h"
#include "processactions.h"
#include "recordstore.h"

#include <ostream>

namespace tamrisk {

int OpenPeople(const ParsedArgs& args, RecordStore& store, CliLogIn& login, std::ostream& err) {
    if (const int status = OpenProcessRecords(args, store, err); status != CliOk)
        return status;
    login = LogInAt(store, args, Privilege::ManageOperators, err);
    return login.status;
}

int StartOnPerson(const std::vector<std::string>& rest, const std::string& action,
                  const std::set<std::string>& withValue, const std::string& after, ParsedArgs& args, std::string& id,
                  RecordStore& store, CliLogIn& login, std::ostream& err, const std::function<std::string()>& check) {
    std::set<std::string> options = WithLogInOptions(withValue);
    options.insert("records");
    args = ParseArgs(rest, options, {});
    if (!args.error.empty())
        return UsageError(err, args.error);
    if (args.positional.size() != (after.empty() ? 1u : 2u))
        return UsageError(err, "operator " + action + " takes ID" + (after.empty() ? "" : " and " + after));
    id = args.positional[0];
    if (!OperatorIdWellFormed(id))
        return UsageError(err,
                          "not an operator ID (1 to 64 characters, no control characters, no blank at either end): " +
                              id);
    if (const std::string problem = check ? check() : std::string(); !problem.empty())
        return UsageError(err, problem);
    return OpenPeople(args, store, login, err);
}

int ReadNewPin(const ParsedArgs& args, const std::string& id, PinText& pin, std::ostream& err) {
    // A file or a terminal refused is a usage error here: nobody's log-in was refused.
    const auto asked = [](int status) { return status == CliLogInRefused ? CliUsage : status; };
    if (const int status = ReadPin(args, "new-pin-file", "New PIN for " + id + ": ", pin, err); status != CliOk)
        return asked(status);
    if (!args.value("new-pin-file")) {
        PinText again;
        if (const int status = ReadPin(args, "new-pin-file", "The new PIN again: ", again, err); status != CliOk)
            return asked(status);
        if (again.Text() != pin.Text()) {
            CliError(err, "PINs differ");
            return CliUsage;
        }
    }
    if (!PinWellFormed(pin.Text())) {
        CliError(err, "a PIN has 4 to 32 characters");
        return CliUsage;
    }
    return CliOk;
}

int KeepASupervisor(RecordStore& store, const std::string& id, std::ostream& err) {
    const StoreResult<std::vector<Operator>> people = store.Operators().List();
    if (!people)
        return StoreFailed(err, "cannot read the operators:", people.error());
    for (const Operator& person : *people) {
        if (person.id != id && person.role == Role::Supervisor && !person.disabled)
            return CliOk;
    }
    CliError(err, id + " is the last supervisor who may log in: make another one first");
    return CliNotPermitted;
}

int HashNewPin(const PinText& pin, std::string& hash, std::ostream& err) {
    hash = HashPin(pin.Text());
    if (!hash.empty())
        return CliOk;
    CliError(err, "cannot make the PIN's hash (libsodium could not start or had no memory for it)");
    return CliFailed;
}

int OperatorCommandLine(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err) {
    return RunAction("operator",
                     {{"add", OperatorAddAction},
                      {"list", OperatorListAction},
                      {"role", OperatorRoleAction},
                      {"disable", OperatorDisableAction},
                      {"pin", OperatorPinAction}},
                     rest, out, err);
}

}  // namespace tamrisk
