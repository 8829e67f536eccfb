// tamrisk-cli operator add ID --name TEXT --role ROLE: a person who may log in
// at the line's stations, their PIN asked twice and kept only as its hash.
// While the records hold nobody the first person, a supervisor, is added
// without a log-in; after that only a supervisor adds people.

#include "operatoractions.h"

#include "cli.h"
#include "clisession.h"
#include "recordstore.h"

#include <QDateTime>

#include <algorithm>
#include <ostream>

namespace tamrisk {

int OperatorAddAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err) {
    ParsedArgs args;
    Operator person;
    std::optional<Role> role;
    RecordStore store;
    CliLogIn login;
    const auto check = [&]() -> std::string {
        person.name = args.value("name").value_or("");
        if (person.name.empty() || std::any_of(person.name.begin(), person.name.end(), [](char c) {
                return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
            }))
            return "operator add needs --name TEXT, without control characters";
        role = ParseRole(args.value("role").value_or(""));
        return role ? std::string() : "--role takes operator, technician, engineer or supervisor";
    };
    if (const int status =
            StartOnPerson(rest, "add", {"name", "role", "new-pin-file"}, {}, args, person.id, store, login, err, check);
        status != CliOk)
        return status;
    person.role = *role;
    // Nobody logged in: the records hold nobody yet, and someone must manage them.
    if (!login.person && person.role != Role::Supervisor) {
        CliError(err, "the first operator must be a supervisor");
        return CliUsage;
    }
    PinText pin;
    if (const int status = ReadNewPin(args, person.id, pin, err); status != CliOk)
        return status;
    if (const int status = HashNewPin(pin, person.pinHash, err); status != CliOk)
        return status;
    pin.Wipe();
    person.addedMs = QDateTime::currentMSecsSinceEpoch();
    if (StoreResult<void> added = store.Operators().Add(person); !added)
        return StoreFailed(err, "cannot add the operator:", added.error());
    out << person.id << " added: " << person.name << ", " << RoleName(person.role) << '\n';
    return CliOk;
}

}  // namespace tamrisk
