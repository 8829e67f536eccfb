#pragma once
// What the values of a numeric check say about the process that made them,
// defined here once: their spread against the check's limits (Cp, Cpk, Pp,
// Ppk, with a 95 % interval for Cpk), the share outside the limits and in the
// marginal band beside them, and the individuals chart's control limits with
// the values that break its first two rules. Every front end shows these
// figures; none works them out again.
//
// A numeric check is one with <, <=, >, >= or in: its limits are the lower
// (LSL) and upper (USL) limits of the product, one of them absent for a
// one-sided check. Its values are taken in time order (their runs' starts).
//
// - mean and standard deviation (overall, n - 1) of the values;
// - short-term sigma: the average moving range (the mean of |x[i] - x[i-1]|)
//   over d2 = 1.128;
// - Cp = (USL - LSL) / 6 sigma_short, only with both limits;
//   Cpk = min(USL - mean, mean - LSL) / 3 sigma_short, over the sides with a
//   limit; Pp and Ppk the same with the overall standard deviation;
// - the 95 % interval of Cpk (Bissell):
//   Cpk -/+ 1.96 sqrt(1 / (9 n) + Cpk^2 / (2 (n - 1)));
// - outside: values the check refuses (beyond a limit, or on a strict one);
//   marginal: values inside the limits within a tenth of the limits' width
//   (USL - LSL) of either (only with both limits);
// - the individuals chart: centre line the mean, control limits
//   mean -/+ 3 sigma_short; rule 1 marks a value beyond a control limit,
//   rule 2 the ninth and every further value of a run of nine or more in a
//   row on one side of the mean (a value equal to the mean ends a run).
//
// A figure that cannot be worked out (one value; a sigma of 0; a side
// without a limit) is absent, never a number made up.

#include <QtGlobal>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace tamrisk {

// The limits of a numeric check as its line gave them.
struct CapabilityLimits {
    std::optional<double> low, high;         // LSL, USL; one absent for a one-sided check
    bool lowStrict = false, highStrict = false;  // > or < : the limit itself is refused
    std::string units;                       // the word after the number; empty for none
    friend bool operator==(const CapabilityLimits&, const CapabilityLimits&) = default;
};

// A value a check found, with the run that made it.
struct MeasuredValue {
    double value = 0;
    std::string recordId, unit, station;  // UTF-8
    qint64 startedMs = 0;                 // the run's start, UTC ms
    bool runFailed = false;               // the run ended fail or error
    friend bool operator==(const MeasuredValue&, const MeasuredValue&) = default;
};

// Which rule of the individuals chart a value breaks.
enum class ChartRule {
    BeyondControlLimit = 1,  // one value beyond a control limit
    NineOnOneSide = 2,       // nine or more in a row on one side of the mean
};

struct RuleBreak {
    std::size_t index = 0;  // the value's place in time order
    ChartRule rule = ChartRule::BeyondControlLimit;
    friend bool operator==(const RuleBreak&, const RuleBreak&) = default;
};

// Below this many values a Cpk is shown with a warning.
inline constexpr int CapabilityMinimumValues = 30;
inline constexpr char TooFewValuesWarning[] = "too few values to judge capability";
// The unbiasing constant of the moving range of two values.
inline constexpr double MovingRangeD2 = 1.128;

struct CapabilityFigures {
    int n = 0;
    std::optional<double> mean, standardDeviation, minimum, maximum;
    std::optional<double> averageMovingRange, shortTermSigma;
    std::optional<double> cp, cpk, pp, ppk;
    std::optional<double> cpkLow, cpkHigh;  // its 95 % interval
    bool tooFew = true;                     // n < CapabilityMinimumValues
    int outside = 0;                        // values the check refuses
    std::optional<double> outsideShare;     // outside / n; none without a value
    std::optional<int> marginal;            // none for a one-sided check
    std::optional<double> lowerControlLimit, upperControlLimit;
    std::vector<RuleBreak> breaks;          // in time order; a value breaking both rules is listed twice
    friend bool operator==(const CapabilityFigures&, const CapabilityFigures&) = default;
};

// The figures of `values` (in time order) against `limits`.
CapabilityFigures ComputeCapability(const std::vector<double>& values, const CapabilityLimits& limits);

// True when the check refuses `value`: beyond a limit, or on a strict one.
bool OutsideLimits(double value, const CapabilityLimits& limits);

// A numeric check's values over a period with one set of limits (a check
// whose limits changed within the period has one of these per set).
struct CheckCapability {
    std::string name;  // UTF-8, as the script wrote it
    CapabilityLimits limits;
    CapabilityFigures all;            // every value
    CapabilityFigures withoutFailed;  // without the values of runs that ended fail or error
    int notNumbers = 0;               // values found that are no number (or none found): left out
    std::vector<MeasuredValue> values;  // every value in time order (only where asked for)
    friend bool operator==(const CheckCapability&, const CheckCapability&) = default;
};

// Which checks' capability is asked for: the runs started in the period (not
// engineering runs), each given field matched exactly; empty: any.
struct CapabilityQuery {
    qint64 sinceMs = 0, untilMs = 0;  // started at or after, before; UTC ms
    std::string name{}, product{}, operation{}, station{};  // UTF-8
    bool values = false;  // keep each group's values
};

// The figures asked for, with what was asked.
struct CapabilityReport {
    CapabilityQuery query;
    std::vector<CheckCapability> checks;  // worst Cpk first
};

// One value of a numeric check as the records hold it, in any order.
struct MeasuredCheck {
    std::string name;
    CapabilityLimits limits;
    std::optional<double> value;  // none: no number was found
    MeasuredValue run;            // run.value unused here
    int seq = 0;                  // the check's place in its record
};

// Groups `checks` by name and set of limits and works out each group's
// figures, worst Cpk first (a group without a Cpk last), then by name and
// limits. With `keepValues` each group keeps its values in time order.
std::vector<CheckCapability> ComputeCapabilities(std::vector<MeasuredCheck> checks, bool keepValues = false);

}  // namespace tamrisk
