// tamrisk-cli operator disable ID: the person logs in no more; what they did
// stays in the records under their ID.

#include "operatoractions.h"

#include "cli.h"
#include "recordstore.h"

#include <ostream>

namespace tamrisk {

int OperatorDisableAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err) {
    ParsedArgs args;
    std::string id;
    RecordStore store;
    CliLogIn login;
    if (const int status = StartOnPerson(rest, "disable", {}, {}, args, id, store, login, err); status != CliOk)
        return status;
    if (const int status = KeepASupervisor(store, id, err); status != CliOk)
        return status;
    if (StoreResult<void> disabled = store.Operators().Disable(id); !disabled)
        return StoreFailed(err, "cannot change the operator:", disabled.error());
    out << id << " is disabled\n";
    return CliOk;
}

}  // namespace tamrisk
