#pragma once
// The work in progress of the line, defined here once: for each product with a
// route and each operation of it, how many units wait for it, are in test at
// it and are on hold at it. Worked out from facts the records hold
// (RecordQueries::Wip reads them), so that every front end shows the same.
//
// A unit's product is the one its first run named. A unit waits for the first
// operation of its product's route whose last ended run did not pass (none
// there, or it failed, erred or was aborted): the operation the entry check
// would let it into next. So a unit that failed its first operation waits for
// it again, and one that passed every operation waits for none. A unit in test
// or on hold waits for nothing: it counts where it is tested or held instead.
// A hold of an operation not on the route counts at the operation the unit
// waits for (at the route's last when it waits for none). An engineering run
// counts as none of the unit's runs: it neither names the unit's product nor
// passes or fails an operation.

#include "linestats.h"
#include "record.h"

#include <string>
#include <vector>

namespace tamrisk {

// An ended run of a unit.
struct WipRun {
    std::string unit, product, operation;  // UTF-8
    RecordOutcome outcome = RecordOutcome::Pass;
    bool engineering = false;
};

// A unit in test or on hold at an operation; product empty where not known.
struct WipPlace {
    std::string unit, product, operation;  // UTF-8
};

struct WipFacts {
    std::vector<Route> routes;      // any order
    std::vector<WipRun> runs;              // the ended runs, oldest first
    std::vector<WipPlace> inTest, onHold;  // onHold: the unreleased holds
};

// One operation of a product's route and its units.
struct WipCount {
    std::string product, operation;
    int waiting = 0, inTest = 0, onHold = 0;
    friend bool operator==(const WipCount&, const WipCount&) = default;
};

// A row for each operation of each route, by product name, then in route order.
std::vector<WipCount> ComputeWip(const WipFacts& facts);

}  // namespace tamrisk
