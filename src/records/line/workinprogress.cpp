#include "workinprogress.h"

#include <algorithm>
#include <map>
#include <set>

namespace tamrisk {

namespace {

struct Unit {
    std::string product;
    std::map<std::string, RecordOutcome> last;  // by operation: its last ended run's outcome
};

// The operation of `route` the unit waits for: the first whose last ended run
// did not pass; empty when it passed them all.
std::string NextOperation(const Route& route, const Unit& unit) {
    for (const RouteStep& step : route.steps) {
        const std::string& operation = step.operation;
        const auto last = unit.last.find(operation);
        if (last == unit.last.end() || last->second != RecordOutcome::Pass)
            return operation;
    }
    return {};
}

}  // namespace

std::vector<WipCount> ComputeWip(const WipFacts& facts) {
    std::vector<const Route*> routes;
    for (const Route& route : facts.routes)
        routes.push_back(&route);
    std::sort(routes.begin(), routes.end(),
              [](const Route* a, const Route* b) { return a->product < b->product; });
    std::vector<WipCount> counts;
    for (const Route* route : routes) {
        for (const RouteStep& step : route->steps)
            counts.push_back({route->product, step.operation});
    }
    const auto routeOf = [&routes](const std::string& product) -> const Route* {
        const auto found = std::find_if(routes.begin(), routes.end(),
                                        [&](const Route* r) { return r->product == product; });
        return found == routes.end() ? nullptr : *found;
    };
    const auto count = [&counts](const std::string& product, const std::string& operation) -> WipCount* {
        const auto found = std::find_if(counts.begin(), counts.end(), [&](const WipCount& c) {
            return c.product == product && c.operation == operation;
        });
        return found == counts.end() ? nullptr : &*found;
    };

    std::map<std::string, Unit> units;
    for (const WipRun& run : facts.runs) {
        if (run.engineering)
            continue;
        Unit& unit = units[run.unit];
        if (unit.product.empty())
            unit.product = run.product;
        if (!run.operation.empty())
            unit.last[run.operation] = run.outcome;
    }
    std::set<std::string> placed;  // in test or on hold: waiting for nothing
    for (const WipPlace& place : facts.inTest) {
        placed.insert(place.unit);
        const auto unit = units.find(place.unit);
        const std::string& product = place.product.empty() && unit != units.end() ? unit->second.product : place.product;
        if (WipCount* at = count(product, place.operation))
            ++at->inTest;
    }
    for (const WipPlace& place : facts.onHold) {
        placed.insert(place.unit);
        const auto unit = units.find(place.unit);
        const std::string& product = unit != units.end() && !unit->second.product.empty() ? unit->second.product
                                                                                           : place.product;
        const Route* route = routeOf(product);
        if (route == nullptr || route->steps.empty())
            continue;
        WipCount* at = count(product, place.operation);
        if (at == nullptr) {
            const std::string next = unit != units.end() ? NextOperation(*route, unit->second)
                                                         : route->steps.front().operation;
            at = count(product, next.empty() ? route->steps.back().operation : next);
        }
        ++at->onHold;
    }
    for (const auto& [name, unit] : units) {
        const Route* route = routeOf(unit.product);
        if (route == nullptr || placed.count(name) > 0)
            continue;
        if (WipCount* at = count(unit.product, NextOperation(*route, unit)))
            ++at->waiting;
    }
    return counts;
}

}  // namespace tamrisk
