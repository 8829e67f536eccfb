#pragma once
// The line's numbers over a period, defined here once: units tested, runs and
// their outcomes, first-pass and final yield, retests, failures by cause (a
// Pareto), units per hour and each station's last record. They are worked out
// from the runs a period holds (RecordQueries::Stats reads them), so that every
// front end shows the same numbers.
//
// Per operation of a product the same first-pass and final yields are worked
// out over that operation's runs (a unit's first run of the operation judged
// over the whole line), and per product with a route its rolled throughput
// yield: the product of its route's operations' first-pass yields.
//
// Only run records count. A run without a unit counts as a run (and in its
// outcomes and causes), never as a unit. A run still in progress counts as a
// run ("running") but yields nothing until it ends: a unit under test is not
// yet shown good or bad.
//
// An engineering run (an engineer's run of a script other than the active
// release) counts nowhere: not as a run, a unit, a first run or a last one, in
// no yield, cause or hour, as if it had not been made. A unit whose only
// earlier runs were engineering runs is tested first in the period.

#include "process.h"
#include "record.h"

#include <QtGlobal>

#include <optional>
#include <utility>
#include <string>
#include <vector>

namespace tamrisk {

// The runs of one outcome each; `running` those without one yet.
struct OutcomeCounts {
    int pass = 0, fail = 0, error = 0, aborted = 0, running = 0;
    friend bool operator==(const OutcomeCounts&, const OutcomeCounts&) = default;
};

// The numbers of the whole line, or of one station.
struct ScopeStats {
    std::string station;  // UTF-8; empty for the whole line
    int units = 0;        // distinct units with a run in the period
    int runs = 0;         // every run in the period, with a unit or not
    int runsWithoutUnit = 0;
    OutcomeCounts outcomes;
    // The units whose first-ever run (on any station) is in the period, and on
    // this station for a station, by that run's outcome.
    OutcomeCounts firstRuns;
    // firstRuns.pass over the ended first runs; none without one.
    std::optional<double> firstPassYield;
    // The units whose last ended run in the period (on this station, for a
    // station) passed, over the units with an ended run; none without one.
    std::optional<double> finalYield;
    int retestedUnits = 0;  // units with more than one run in the period
    // Runs with a unit over units; none without a unit.
    std::optional<double> runsPerUnit;
    // A station's newest record of any kind in the period, UTC ms (none for the
    // line): an engineering run too, for a station at work is not silent.
    std::optional<qint64> lastRecordMs;
    // A station's usual time between runs (the median between its runs' starts
    // in the period), and whether it has now been silent for more than three
    // times that (and at least 10 minutes) before the period's end.
    std::optional<qint64> usualGapMs;
    bool silent = false;
};

// A cause of failed runs and how many runs it failed.
struct CauseCount {
    std::string cause;  // UTF-8
    int count = 0;
    friend bool operator==(const CauseCount&, const CauseCount&) = default;
};

// The distinct units with a run started in the hour at `hourMs` (UTC ms, a whole hour) on `station`.
struct HourUnits {
    qint64 hourMs = 0;
    std::string station;
    int units = 0;
    friend bool operator==(const HourUnits&, const HourUnits&) = default;
};

// The numbers of one operation of one product (product empty: runs that named
// an operation but no product).
struct OperationStats {
    std::string product, operation;  // UTF-8
    int units = 0;                   // distinct units with a run of it in the period
    int runs = 0;
    // The units whose first-ever run of this operation is in the period, by its outcome.
    OutcomeCounts firstRuns;
    std::optional<double> firstPassYield, finalYield;  // as ScopeStats's, over this operation's runs
};

// A product with a route and the product of its operations' first-pass yields;
// none while an operation of it has none in the period.
struct ProductStats {
    std::string product;                  // UTF-8
    std::vector<std::string> route;       // its operations in order
    std::optional<double> rolledThroughputYield;
};

// The period, station, operation and product that the line's numbers are
// worked out for.
struct StatsQuery {
    qint64 sinceMs = 0, untilMs = 0;  // started at or after, before; UTC ms
    std::string station{};            // UTF-8, exact; empty: the whole line
    std::string operation{}, product{};  // UTF-8, exact; empty: any
};

struct LineStats {
    qint64 sinceMs = 0, untilMs = 0;  // the period: started at or after, before; UTC ms
    std::string station;              // the one station asked for; empty: the whole line
    ScopeStats line;                  // the line's (or that one station's) numbers
    std::vector<ScopeStats> stations; // by station name
    std::vector<CauseCount> pareto;   // most frequent first, then by cause; the first ParetoLength
    std::vector<HourUnits> perHour;   // by hour, then by station
    std::string operation, product;   // the ones asked for; empty: any
    std::vector<OperationStats> operations;  // by product, then in route order (else by name)
    std::vector<ProductStats> products;      // the products with a route, by name
};

// What the line's numbers are made from: a run's header, and for a failed or
// errored one the cause of its failure.
struct StatsRun {
    std::string id, station, unit;  // UTF-8; unit empty for none
    std::string operation, product;  // UTF-8; empty for none
    qint64 startedMs = 0;
    std::optional<RecordOutcome> outcome;  // none while running
    std::string cause;                     // of a fail or error run: FailureCause::Name
    // This unit has a run started before the period (on any station): none of its runs here is its first.
    bool testedBefore = false;
    // This unit has a run of this operation started before the period.
    bool operationTestedBefore = false;
    // An engineering run: left out of every number (its cause need not be told).
    bool engineering = false;
};

// The Pareto keeps this many causes.
inline constexpr std::size_t ParetoLength = 10;

// A station's newest record of any kind in the period.
struct StationLast {
    std::string station;
    qint64 lastMs = 0;
};

// The numbers of `runs` (the runs of the period, of every station, engineering
// runs left out) over the period of `query`; with a station, operation or product given, of the runs
// that name it only, a unit's first-ever run still judged over every run.
// `routes` (any order) give the products' rolled throughput yields and the
// order of their operations. testedBefore and operationTestedBefore are told
// by the runs before the period that are not engineering runs.
LineStats ComputeLineStats(std::vector<StatsRun> runs, const std::vector<StationLast>& last, const StatsQuery& query,
                           const std::vector<Route>& routes = {});

}  // namespace tamrisk
