#pragma once
// A small line made by hand, every number of which is known: two stations,
// seven units and a run without one between 10:00 and 14:00 UTC on 2026-12-07,
// with a unit tested the day before, runs failed by a check (one with a check
// not read after its failed one), by a red step and with an error, a run still
// going, a record that is not a run and runs just outside the period. The numbers it must give are in linestats_test.cpp.

#include "record.h"
#include "recordtesting.h"

#include <QtGlobal>

#include <optional>
#include <string>
#include <vector>

namespace tamrisk::testing {

// The period of the hand-made line: [10:00, 14:00) UTC, 2026-12-07.
inline constexpr qint64 LineSinceMs = 1'796'637'600'000;
inline constexpr qint64 LineUntilMs = LineSinceMs + 4 * 3'600'000;

inline std::vector<Record> HandMadeLine() {
    struct Made {
        int minutes;  // from 10:00
        const char* station;
        const char* kind;
        const char* unit;
        std::optional<RecordOutcome> outcome;
        const char* reason = "";
        std::vector<RecordCheck> checks = {};
        std::vector<RecordStep> steps = {};
    };
    const auto check = [](const char* name, CheckResult result) {
        return NumericCheck(name, result, "2097000", 0);
    };
    const auto step = [](int line, int command, StepResult result) {
        RecordStep s;
        s.line = line;
        s.command = command;
        s.result = result;
        s.attempts = 1;
        return s;
    };
    using O = RecordOutcome;
    const std::vector<Made> made = {
        {-24 * 60, "st-1", "run", "U1", O::Fail, "a red line"},
        {-30, "st-1", "command", "U3", O::Pass},  // not a run: U3's first run is still today's
        {0, "st-1", "run", "U1", O::Pass},
        {10, "st-1", "run", "U2", O::Fail, "voltage: expected 3 in 0..2000000, got 2097000",
         {check("firmware", CheckResult::Pass), check("voltage", CheckResult::Fail),
          check("size", CheckResult::Error)}},
        {20, "st-1", "run", "U3", O::Pass, "", {check("voltage", CheckResult::Pass)}},
        {30, "st-2", "run", "U4", O::Error, "the printer did not answer",
         {}, {step(3, 74, StepResult::Answered)}},
        {40, "st-2", "run", "U2", O::Pass},
        {75, "st-2", "run", "U5", O::Aborted, "cancelled"},
        {90, "st-2", "run", "U5", O::Fail, "a red line",
         {check("firmware", CheckResult::Pass)},
         {step(3, 74, StepResult::Answered), step(7, 91, StepResult::Refused), step(8, 92, StepResult::NoAnswer)}},
        {100, "st-1", "run", "U6", O::Fail, "voltage: expected 3 in 0..2000000, got 2097000",
         {check("voltage", CheckResult::Fail)}},
        {110, "st-2", "run", "", O::Pass},
        {125, "st-1", "run", "U7", std::nullopt},
        {210, "st-2", "command", "", O::Pass},
        {240, "st-1", "run", "U8", O::Fail, "after the period"},
    };
    std::vector<Record> line;
    int n = 0;
    for (const Made& m : made) {
        Record record;
        record.header = TestHeader(NumberedId(++n), m.kind, LineSinceMs + qint64{m.minutes} * 60'000);
        record.header.station = m.station;
        record.header.unit = m.unit;
        record.header.outcome = m.outcome;
        record.header.reason = m.reason;
        record.checks = m.checks;
        record.steps = m.steps;
        line.push_back(std::move(record));
    }
    return line;
}

}  // namespace tamrisk::testing
