// tamrisk-cli operator role ID ROLE: what a person may do from their next log-in on.

#include "operatoractions.h"

#include "cli.h"
#include "recordstore.h"

#include <ostream>

namespace tamrisk {

int OperatorRoleAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err) {
    ParsedArgs args;
    std::string id;
    std::optional<Role> role;
    RecordStore store;
    CliLogIn login;
    if (const int status = StartOnPerson(rest, "role", {}, "ROLE", args, id, store, login, err,
                                         [&] {
                                             role = ParseRole(args.positional[1]);
                                             return role ? std::string()
                                                         : "ROLE is operator, technician, engineer or supervisor";
                                         });
        status != CliOk)
        return status;
    if (*role != Role::Supervisor) {
        if (const int status = KeepASupervisor(store, id, err); status != CliOk)
            return status;
    }
    if (StoreResult<void> set = store.Operators().SetRole(id, *role); !set)
        return StoreFailed(err, "cannot change the operator:", set.error());
    out << id << ": " << RoleName(*role) << '\n';
    return CliOk;
}

}  // namespace tamrisk
