#include "linestats.h"

#include <algorithm>
#include <map>
#include <set>
#include <tuple>

namespace tamrisk {

namespace {

constexpr qint64 HourMs = 3600 * 1000;
// A station is silent when its newest record is older than three of its usual
// gaps, and never before this: a line that pauses for a few minutes is not stopped.
constexpr qint64 SilentAtLeastMs = 10 * 60 * 1000;

void Count(OutcomeCounts& counts, const std::optional<RecordOutcome>& outcome) {
    if (!outcome) {
        ++counts.running;
        return;
    }
    switch (*outcome) {
    case RecordOutcome::Pass: ++counts.pass; break;
    case RecordOutcome::Fail: ++counts.fail; break;
    case RecordOutcome::Error: ++counts.error; break;
    case RecordOutcome::Aborted: ++counts.aborted; break;
    }
}

bool FailedOrErred(const StatsRun& run) {
    return run.outcome == RecordOutcome::Fail || run.outcome == RecordOutcome::Error;
}

std::optional<double> Fraction(int part, int whole) {
    if (whole == 0)
        return std::nullopt;
    return static_cast<double>(part) / whole;
}

// The numbers of `runs` (in start order), `first` telling each unit's first-ever
// run among all the period's runs (absent: the unit was tested before).
ScopeStats Scope(const std::string& station, const std::vector<const StatsRun*>& runs,
                 const std::map<std::string, const StatsRun*>& first) {
    ScopeStats scope;
    scope.station = station;
    struct Unit {
        int runs = 0;
        const StatsRun* lastEnded = nullptr;
    };
    std::map<std::string, Unit> units;
    int runsWithUnit = 0;
    for (const StatsRun* run : runs) {
        ++scope.runs;
        Count(scope.outcomes, run->outcome);
        if (run->unit.empty()) {
            ++scope.runsWithoutUnit;
            continue;
        }
        ++runsWithUnit;
        Unit& unit = units[run->unit];
        ++unit.runs;
        if (run->outcome)
            unit.lastEnded = run;
        if (const auto found = first.find(run->unit); found != first.end() && found->second == run)
            Count(scope.firstRuns, run->outcome);
    }
    scope.units = static_cast<int>(units.size());
    int ended = 0, passed = 0;
    for (const auto& [name, unit] : units) {
        if (unit.runs > 1)
            ++scope.retestedUnits;
        if (unit.lastEnded != nullptr) {
            ++ended;
            passed += unit.lastEnded->outcome == RecordOutcome::Pass ? 1 : 0;
        }
    }
    const OutcomeCounts& f = scope.firstRuns;
    scope.firstPassYield = Fraction(f.pass, f.pass + f.fail + f.error + f.aborted);
    scope.finalYield = Fraction(passed, ended);
    if (scope.units > 0)
        scope.runsPerUnit = static_cast<double>(runsWithUnit) / scope.units;
    return scope;
}

// The median time between the starts of `runs` (in start order); none for fewer than two.
std::optional<qint64> UsualGap(const std::vector<const StatsRun*>& runs) {
    if (runs.size() < 2)
        return std::nullopt;
    std::vector<qint64> gaps;
    for (std::size_t i = 1; i < runs.size(); ++i)
        gaps.push_back(runs[i]->startedMs - runs[i - 1]->startedMs);
    std::nth_element(gaps.begin(), gaps.begin() + gaps.size() / 2, gaps.end());
    return gaps[gaps.size() / 2];
}

bool InScope(const StatsRun& run, const StatsQuery& query) {
    return (query.station.empty() || run.station == query.station) &&
           (query.operation.empty() || run.operation == query.operation) &&
           (query.product.empty() || run.product == query.product);
}

// The place of `operation` in `route` for ordering: its index, or past the end.
std::size_t RoutePlace(const Route* route, const std::string& operation) {
    if (route == nullptr)
        return 0;
    const auto at = std::find_if(route->steps.begin(), route->steps.end(),
                                 [&](const RouteStep& step) { return step.operation == operation; });
    return static_cast<std::size_t>(at - route->steps.begin());
}

// Each operation's numbers over the runs in scope (in start order) that name
// one; a unit's first run of an operation is its first of all the period's runs
// unless it ran the operation before.
std::vector<OperationStats> Operations(const std::vector<StatsRun>& runs, const std::vector<const StatsRun*>& inScope,
                                       const std::vector<Route>& routes) {
    std::map<std::pair<std::string, std::string>, const StatsRun*> first;  // (unit, operation)
    for (const StatsRun& run : runs) {
        if (!run.unit.empty() && !run.operation.empty() && !run.operationTestedBefore)
            first.emplace(std::pair(run.unit, run.operation), &run);
    }
    struct Operation {
        OperationStats stats;
        std::map<std::string, const StatsRun*> lastEnded;  // by unit; null while none ended
    };
    std::map<std::pair<std::string, std::string>, Operation> operations;  // (product, operation)
    for (const StatsRun* run : inScope) {
        if (run->operation.empty())
            continue;
        Operation& operation = operations[{run->product, run->operation}];
        ++operation.stats.runs;
        if (run->unit.empty())
            continue;
        const StatsRun*& last = operation.lastEnded[run->unit];
        if (run->outcome)
            last = run;
        if (const auto found = first.find({run->unit, run->operation}); found != first.end() && found->second == run)
            Count(operation.stats.firstRuns, run->outcome);
    }
    std::vector<OperationStats> result;
    for (auto& [key, operation] : operations) {
        OperationStats& stats = operation.stats;
        stats.product = key.first;
        stats.operation = key.second;
        stats.units = static_cast<int>(operation.lastEnded.size());
        int ended = 0, passed = 0;
        for (const auto& [unit, last] : operation.lastEnded) {
            if (last != nullptr) {
                ++ended;
                passed += last->outcome == RecordOutcome::Pass ? 1 : 0;
            }
        }
        const OutcomeCounts& f = stats.firstRuns;
        stats.firstPassYield = Fraction(f.pass, f.pass + f.fail + f.error + f.aborted);
        stats.finalYield = Fraction(passed, ended);
        result.push_back(std::move(stats));
    }
    const auto routeOf = [&routes](const std::string& product) -> const Route* {
        const auto found =
            std::find_if(routes.begin(), routes.end(), [&](const Route& r) { return r.product == product; });
        return found == routes.end() ? nullptr : &*found;
    };
    std::stable_sort(result.begin(), result.end(), [&](const OperationStats& a, const OperationStats& b) {
        if (a.product != b.product)
            return a.product < b.product;
        const Route* route = routeOf(a.product);
        return RoutePlace(route, a.operation) < RoutePlace(route, b.operation);
    });
    return result;
}

// The products of `routes` with their rolled throughput yields from `operations`.
std::vector<ProductStats> Products(const std::vector<OperationStats>& operations,
                                   const std::vector<Route>& routes, const std::string& onlyProduct) {
    std::vector<ProductStats> products;
    for (const Route& route : routes) {
        if (!onlyProduct.empty() && route.product != onlyProduct)
            continue;
        ProductStats product{route.product, OperationNames(route), 1.0};
        for (const std::string& name : product.route) {
            const auto found = std::find_if(operations.begin(), operations.end(), [&](const OperationStats& o) {
                return o.product == route.product && o.operation == name;
            });
            if (found == operations.end() || !found->firstPassYield) {
                product.rolledThroughputYield.reset();
                break;
            }
            *product.rolledThroughputYield *= *found->firstPassYield;
        }
        if (route.steps.empty())
            product.rolledThroughputYield.reset();
        products.push_back(std::move(product));
    }
    std::sort(products.begin(), products.end(),
              [](const ProductStats& a, const ProductStats& b) { return a.product < b.product; });
    return products;
}

}  // namespace

LineStats ComputeLineStats(std::vector<StatsRun> runs, const std::vector<StationLast>& last, const StatsQuery& query,
                           const std::vector<Route>& routes) {
    std::erase_if(runs, [](const StatsRun& run) { return run.engineering; });
    const std::string& station = query.station;
    const qint64 sinceMs = query.sinceMs, untilMs = query.untilMs;
    std::sort(runs.begin(), runs.end(), [](const StatsRun& a, const StatsRun& b) {
        return std::tie(a.startedMs, a.id) < std::tie(b.startedMs, b.id);
    });
    // Each unit's first-ever run, over every station: its first in the period
    // unless it was tested before.
    std::map<std::string, const StatsRun*> first;
    for (const StatsRun& run : runs) {
        if (!run.unit.empty() && !run.testedBefore)
            first.emplace(run.unit, &run);
    }
    std::vector<const StatsRun*> inScope;
    std::map<std::string, std::vector<const StatsRun*>> byStation;
    for (const StatsRun& run : runs) {
        if (!InScope(run, query))
            continue;
        inScope.push_back(&run);
        byStation[run.station].push_back(&run);
    }

    LineStats stats;
    stats.sinceMs = sinceMs;
    stats.untilMs = untilMs;
    stats.station = station;
    stats.line = Scope(station, inScope, first);
    for (const auto& [name, stationRuns] : byStation) {
        ScopeStats scope = Scope(name, stationRuns, first);
        const auto newest = std::find_if(last.begin(), last.end(), [&](const StationLast& l) { return l.station == name; });
        scope.lastRecordMs = newest != last.end() ? newest->lastMs : stationRuns.back()->startedMs;
        scope.usualGapMs = UsualGap(stationRuns);
        scope.silent = scope.usualGapMs &&
                       untilMs - *scope.lastRecordMs > std::max(3 * *scope.usualGapMs, SilentAtLeastMs);
        stats.stations.push_back(std::move(scope));
    }

    std::map<std::string, int> causes;
    std::map<std::pair<qint64, std::string>, std::set<std::string>> hours;
    for (const StatsRun* run : inScope) {
        if (FailedOrErred(*run))
            ++causes[run->cause];
        if (!run->unit.empty())
            hours[{run->startedMs - run->startedMs % HourMs, run->station}].insert(run->unit);
    }
    for (const auto& [cause, count] : causes)
        stats.pareto.push_back({cause, count});
    std::stable_sort(stats.pareto.begin(), stats.pareto.end(),
                     [](const CauseCount& a, const CauseCount& b) { return a.count > b.count; });
    if (stats.pareto.size() > ParetoLength)
        stats.pareto.resize(ParetoLength);
    for (const auto& [hour, units] : hours)
        stats.perHour.push_back({hour.first, hour.second, static_cast<int>(units.size())});
    stats.operation = query.operation;
    stats.product = query.product;
    stats.operations = Operations(runs, inScope, routes);
    stats.products = Products(stats.operations, routes, query.product);
    return stats;
}

}  // namespace tamrisk
