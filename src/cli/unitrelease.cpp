// tamrisk-cli unit release UNIT --reason TEXT: releases the unit's holds and
// frees it from a run left going; its failures in a row count from naught.

#include "processactions.h"

namespace tamrisk {

int UnitReleaseAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err) {
    return ChangeUnit(rest, "release", out, err,
                      [](RecordStore& store, const HoldChange& change) -> StoreResult<std::string> {
                          const StoreResult<Released> released = store.Holds().Release(change);
                          if (!released)
                              return released.error();
                          std::string said = change.unit + " released";
                          if (released->holds > 0)
                              said += " from " + std::to_string(released->holds) +
                                      (released->holds == 1 ? " hold" : " holds");
                          if (released->freed)
                              said += released->holds > 0 ? " and freed from test" : " from test";
                          return said;
                      });
}

}  // namespace tamrisk
