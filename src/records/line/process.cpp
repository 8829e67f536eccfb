#include "process.h"

#include <QDateTime>

#include <algorithm>
#include <charconv>

namespace tamrisk {

namespace {

// "a" or "an" before `name` as it is read aloud: a product is usually letters
// spelt out (an FP-3, an MX-1) or a word (a Tiger, an Orion).
std::string Article(std::string_view name) {
    if (name.empty())
        return "a";
    const char first = name.front();
    const bool spelt = name.size() == 1 || !(name[1] >= 'a' && name[1] <= 'z');
    const std::string_view vowels = spelt ? "AEFHILMNORSXaefhilmnorsx" : "AEIOUaeiou";
    return vowels.find(first) != std::string_view::npos ? "an" : "a";
}

std::string EndedAs(RecordOutcome outcome) {
    switch (outcome) {
    case RecordOutcome::Pass: return "passed";
    case RecordOutcome::Fail: return "failed";
    case RecordOutcome::Aborted: return "was aborted";
    case RecordOutcome::Error: return "ended in error";
    }
    return "ended";
}

const UnitRun* LastRunOf(const EntryFacts& facts, const std::string& operation) {
    const auto found = std::find_if(facts.lastRuns.begin(), facts.lastRuns.end(),
                                    [&](const UnitRun& run) { return run.operation == operation; });
    return found == facts.lastRuns.end() ? nullptr : &*found;
}

}  // namespace

std::string NameProblem(std::string_view what, std::string_view name) {
    const std::string the = "the " + std::string(what) + " name";
    if (name.empty())
        return the + " is empty";
    if (name.size() > MaxProcessNameLength)
        return the + " is over " + std::to_string(MaxProcessNameLength) + " characters";
    if (std::any_of(name.begin(), name.end(), [](char c) {
            const auto byte = static_cast<unsigned char>(c);
            return byte < 0x20 || byte == 0x7f;
        }))
        return the + " holds a control character";
    return {};
}

std::optional<std::vector<RouteStep>> ParseRoute(const std::vector<std::string>& words, std::string& error) {
    if (words.empty()) {
        error = "a route names at least one operation";
        return std::nullopt;
    }
    std::vector<RouteStep> steps;
    for (const std::string& word : words) {
        RouteStep step;
        const std::size_t colon = word.rfind(':');
        step.operation = word.substr(0, colon);
        if (colon != std::string::npos) {
            const std::string_view limit = std::string_view(word).substr(colon + 1);
            const auto [end, failed] = std::from_chars(limit.data(), limit.data() + limit.size(), step.retestLimit);
            if (limit.empty() || failed != std::errc() || end != limit.data() + limit.size() || step.retestLimit < 1) {
                error = word + ": the limit after ':' is a whole number from 1";
                return std::nullopt;
            }
        }
        if (std::string problem = NameProblem("operation", step.operation); !problem.empty()) {
            error = word + ": " + problem;
            return std::nullopt;
        }
        if (std::any_of(steps.begin(), steps.end(), [&](const RouteStep& s) { return s.operation == step.operation; })) {
            error = step.operation + " is named twice";
            return std::nullopt;
        }
        steps.push_back(std::move(step));
    }
    return steps;
}

std::string RouteText(const std::vector<RouteStep>& steps) {
    std::string text;
    for (const RouteStep& step : steps) {
        if (!text.empty())
            text += ' ';
        text += step.operation;
        if (step.retestLimit != DefaultRetestLimit)
            text += ':' + std::to_string(step.retestLimit);
    }
    return text;
}

std::string RouteOperations(const std::vector<RouteStep>& steps) {
    std::string text;
    for (const RouteStep& step : steps)
        text += (text.empty() ? "" : ", ") + step.operation;
    return text;
}

std::string LocalTimeText(qint64 ms) {
    const QDateTime at = QDateTime::fromMSecsSinceEpoch(ms);
    const bool today = at.date() == QDate::currentDate();
    return at.toString(today ? QStringLiteral("HH:mm") : QStringLiteral("yyyy-MM-dd HH:mm")).toStdString();
}

EntryDecision DecideEntry(const EntryRequest& request, const EntryFacts& facts, const TimeText& time) {
    if (request.product.empty() || request.operation.empty() || facts.route.empty())
        return {EntryVerdict::NotChecked, {}};
    const std::string& unit = request.unit;
    const auto refuse = [](std::string reason) { return EntryDecision{EntryVerdict::Refused, std::move(reason)}; };
    if (!facts.firstProduct.empty() && facts.firstProduct != request.product)
        return refuse(unit + " is " + Article(facts.firstProduct) + " " + facts.firstProduct + ", not " +
                      Article(request.product) + " " + request.product);
    const auto here = std::find_if(facts.route.begin(), facts.route.end(),
                                   [&](const RouteStep& step) { return step.operation == request.operation; });
    if (here == facts.route.end())
        return refuse(request.operation + " is not on " + request.product + "'s route: " + RouteOperations(facts.route));
    for (auto step = facts.route.begin(); step != here; ++step) {
        const UnitRun* last = LastRunOf(facts, step->operation);
        if (last == nullptr)
            return refuse(unit + " has no " + step->operation + " run");
        if (last->outcome != RecordOutcome::Pass)
            return refuse(unit + " has not passed " + step->operation + ": its last " + step->operation + " run " +
                          EndedAs(last->outcome) + " at " + time(last->startedMs) + " on " + last->station);
    }
    if (!facts.holds.empty()) {
        const auto first = std::min_element(facts.holds.begin(), facts.holds.end(),
                                            [](const UnitHold& a, const UnitHold& b) { return a.heldMs < b.heldMs; });
        return refuse(unit + " is on hold since " + time(first->heldMs) + ": " + first->reason);
    }
    if (facts.inTest && facts.inTest->recordId != request.recordId) {
        const UnitInTest& other = *facts.inTest;
        const std::string where = other.station == request.station ? other.station + " " + other.port : other.station;
        return refuse(unit + " is in test at " + where + " since " + time(other.enteredMs));
    }
    return {EntryVerdict::Entered, {}};
}

int FailuresInRow(const std::vector<UnitRun>& runs, qint64 releasedMs) {
    int failures = 0;
    for (const UnitRun& run : runs) {
        if (run.outcome == RecordOutcome::Pass || (releasedMs > 0 && run.startedMs <= releasedMs))
            break;
        if (run.outcome == RecordOutcome::Fail || run.outcome == RecordOutcome::Error)
            ++failures;
    }
    return failures;
}

std::string AutomaticHoldReason(const std::string& operation, int failures, int limit) {
    return "failed " + operation + " " + std::to_string(failures) + (failures == 1 ? " time" : " times") +
           " in a row (limit " + std::to_string(limit) + ")";
}

std::vector<std::string> OperationNames(const Route& route) {
    std::vector<std::string> names;
    for (const RouteStep& step : route.steps)
        names.push_back(step.operation);
    return names;
}

}  // namespace tamrisk
