// tamrisk-cli unit hold UNIT --reason TEXT: the unit enters no operation until
// it is released.

#include "processactions.h"

namespace tamrisk {

int UnitHoldAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err) {
    return ChangeUnit(rest, "hold", out, err, [](RecordStore& store, const HoldChange& change) -> StoreResult<std::string> {
        if (StoreResult<void> held = store.Holds().Hold(change); !held)
            return held.error();
        return change.unit + " is on hold: " + change.reason;
    });
}

}  // namespace tamrisk
