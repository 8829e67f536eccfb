#pragma once
// The line's process as rules, free of any database: the names a run gives
// (product, operation, unit), a product's route and its text, whether a unit
// may enter an operation given the facts the line holds about it, and how
// many times in a row it failed one. The store fetches the facts; these
// functions decide, the same for every front end.

#include "record.h"

#include <QtGlobal>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tamrisk {

// The longest product, operation or unit name, in bytes.
inline constexpr std::size_t MaxProcessNameLength = 64;
// How many failures in a row of one operation put a unit on hold when the route does not say.
inline constexpr int DefaultRetestLimit = 3;

// Why `name` cannot name a `what` ("product", "operation", "unit"): empty,
// over MaxProcessNameLength, or holding a control character; empty when it can.
std::string NameProblem(std::string_view what, std::string_view name);

// One operation of a route and how many failures in a row of it put a unit on hold.
struct RouteStep {
    std::string operation;
    int retestLimit = DefaultRetestLimit;
    friend bool operator==(const RouteStep&, const RouteStep&) = default;
};

// A product's route: its operations in order.
struct Route {
    std::string product;
    std::vector<RouteStep> steps;
    friend bool operator==(const Route&, const Route&) = default;
};
// The names of a route's operations, in its order.
std::vector<std::string> OperationNames(const Route& route);

// The route written as words, "board burn-in:2 fiscal final": each an operation
// name, ":N" setting its limit (a whole number from 1). Empty with `error` for
// no operation, a bad name or limit, or an operation named twice.
std::optional<std::vector<RouteStep>> ParseRoute(const std::vector<std::string>& words, std::string& error);
// The route as ParseRoute reads it, a limit written only where it is not the default.
std::string RouteText(const std::vector<RouteStep>& steps);
// The operations of a route as a message names them: "board, burn-in, fiscal, final".
std::string RouteOperations(const std::vector<RouteStep>& steps);

// An ended run of a unit, as the entry and the count of failures read it.
struct UnitRun {
    std::string operation, product, station, recordId;
    qint64 startedMs = 0;
    RecordOutcome outcome = RecordOutcome::Pass;
};

// A hold of a unit not released yet.
struct UnitHold {
    std::string recordId, operation, heldBy, station, reason;
    qint64 heldMs = 0;
};

// A unit whose run goes on somewhere.
struct UnitInTest {
    std::string recordId, station, port, operation, product;
    qint64 enteredMs = 0;
};

// What the line holds about a unit when it asks to enter an operation.
struct EntryFacts {
    std::vector<RouteStep> route;  // the product's route; empty: it has none
    // The product the unit's first run named; empty for a unit never run with one.
    std::string firstProduct;
    // Of each operation of the route, the unit's last ended run there (none: never ended one).
    std::vector<UnitRun> lastRuns;
    std::vector<UnitHold> holds;           // not released
    std::optional<UnitInTest> inTest;      // a run of it going on, this one's or another's
};

// What a unit asks: to enter `operation` as `product` for the run of record `recordId`.
struct EntryRequest {
    std::string unit, operation, product;
    std::string recordId, station, port;
    qint64 enteredMs = 0;
    // The run is an engineering run: it enters, and is in test, as any run is,
    // but its end is none of the unit's passes or failures of the route (it
    // lets the unit into no later operation and puts it on no hold).
    bool engineering = false;
};

enum class EntryVerdict {
    Entered,     // the unit may run the operation
    NotChecked,  // no product or operation given, or the product has no route: runs unchecked
    Refused,     // not now: the reason says why
};

struct EntryDecision {
    EntryVerdict verdict = EntryVerdict::Entered;
    std::string reason;
};

// How a time of day is written in a message ("10:42").
using TimeText = std::function<std::string(qint64 ms)>;
// The time of `ms` on this computer's clock: "HH:MM", with the date before it when not today.
std::string LocalTimeText(qint64 ms);

// Whether `request` may enter, given `facts`: refused for a product other than
// the unit's first, an operation not on the route, an earlier operation never
// passed (its last ended run did not pass, or there is none), a hold, or a run
// of it going on under another record. A unit that passed this operation
// before may run it again.
EntryDecision DecideEntry(const EntryRequest& request, const EntryFacts& facts, const TimeText& time = LocalTimeText);

// How many runs of one operation, `runs` newest first, failed or ended in
// error in a row: counted back to the newest pass or to `releasedMs` (the
// unit's last release; 0: none), whichever comes first. Aborted runs neither
// count nor stop the count.
int FailuresInRow(const std::vector<UnitRun>& runs, qint64 releasedMs);

// Why a unit was held automatically: "failed burn-in 3 times in a row (limit 3)".
std::string AutomaticHoldReason(const std::string& operation, int failures, int limit);

}  // namespace tamrisk
