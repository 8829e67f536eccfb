// tamrisk-cli operator pin ID: a person's new PIN, asked twice on the
// terminal (or read from --new-pin-file); it also ends a lock.

#include "operatoractions.h"

#include "cli.h"
#include "recordstore.h"

#include <ostream>

namespace tamrisk {

int OperatorPinAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err) {
    ParsedArgs args;
    std::string id;
    RecordStore store;
    CliLogIn login;
    if (const int status = StartOnPerson(rest, "pin", {"new-pin-file"}, {}, args, id, store, login, err);
        status != CliOk)
        return status;
    // Asked for someone who is there: the PIN is not typed twice in vain.
    if (StoreResult<Operator> found = store.Operators().Find(id); !found)
        return StoreFailed(err, "cannot change the operator:", found.error());
    PinText pin;
    std::string hash;
    if (const int status = ReadNewPin(args, id, pin, err); status != CliOk)
        return status;
    if (const int status = HashNewPin(pin, hash, err); status != CliOk)
        return status;
    pin.Wipe();
    if (StoreResult<void> set = store.Operators().SetPin(id, hash); !set)
        return StoreFailed(err, "cannot change the operator:", set.error());
    out << id << " has a new PIN\n";
    return CliOk;
}

}  // namespace tamrisk
