#include "capability.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <tuple>

namespace tamrisk {

namespace {

// Cp or Pp: the limits' width over six sigmas, with both limits and a spread.
std::optional<double> Potential(const CapabilityLimits& limits, std::optional<double> sigma) {
    if (!limits.low || !limits.high || !sigma || *sigma <= 0)
        return std::nullopt;
    return (*limits.high - *limits.low) / (6 * *sigma);
}

// Cpk or Ppk: the nearer limit's distance from the mean over three sigmas.
std::optional<double> Centred(const CapabilityLimits& limits, double mean, std::optional<double> sigma) {
    if (!sigma || *sigma <= 0 || (!limits.low && !limits.high))
        return std::nullopt;
    double nearest = limits.high ? *limits.high - mean : mean - *limits.low;
    if (limits.low && limits.high)
        nearest = std::min(*limits.high - mean, mean - *limits.low);
    return nearest / (3 * *sigma);
}

// Rule 2: the ninth and every further value of a run on one side of the mean.
void MarkRunsOnOneSide(const std::vector<double>& values, double mean, std::vector<RuleBreak>& breaks) {
    constexpr int RunLength = 9;
    int side = 0;
    int run = 0;
    for (std::size_t i = 0; i < values.size(); ++i) {
        const int here = values[i] > mean ? 1 : values[i] < mean ? -1 : 0;
        run = here != 0 && here == side ? run + 1 : (here != 0 ? 1 : 0);
        side = here;
        if (run >= RunLength)
            breaks.push_back({i, ChartRule::NineOnOneSide});
    }
}

}  // namespace

bool OutsideLimits(double value, const CapabilityLimits& limits) {
    if (limits.low && (value < *limits.low || (limits.lowStrict && value == *limits.low)))
        return true;
    return limits.high && (value > *limits.high || (limits.highStrict && value == *limits.high));
}

CapabilityFigures ComputeCapability(const std::vector<double>& values, const CapabilityLimits& limits) {
    CapabilityFigures f;
    f.n = static_cast<int>(values.size());
    f.tooFew = f.n < CapabilityMinimumValues;
    if (values.empty())
        return f;
    double sum = 0;
    for (const double v : values)
        sum += v;
    const double mean = sum / f.n;
    f.mean = mean;
    const auto [low, high] = std::minmax_element(values.begin(), values.end());
    f.minimum = *low;
    f.maximum = *high;
    for (const double v : values)
        f.outside += OutsideLimits(v, limits) ? 1 : 0;
    f.outsideShare = static_cast<double>(f.outside) / f.n;
    if (limits.low && limits.high) {
        const double band = (*limits.high - *limits.low) / 10;
        int marginal = 0;
        for (const double v : values)
            if (!OutsideLimits(v, limits) && (v - *limits.low <= band || *limits.high - v <= band))
                ++marginal;
        f.marginal = marginal;
    }
    if (f.n < 2)
        return f;

    double squares = 0;
    double ranges = 0;
    for (std::size_t i = 0; i < values.size(); ++i) {
        squares += (values[i] - mean) * (values[i] - mean);
        if (i > 0)
            ranges += std::abs(values[i] - values[i - 1]);
    }
    f.standardDeviation = std::sqrt(squares / (f.n - 1));
    f.averageMovingRange = ranges / (f.n - 1);
    const double sigma = *f.averageMovingRange / MovingRangeD2;
    f.shortTermSigma = sigma;
    f.cp = Potential(limits, sigma);
    f.cpk = Centred(limits, mean, sigma);
    f.pp = Potential(limits, f.standardDeviation);
    f.ppk = Centred(limits, mean, f.standardDeviation);
    if (f.cpk) {
        const double half = 1.96 * std::sqrt(1.0 / (9.0 * f.n) + *f.cpk * *f.cpk / (2.0 * (f.n - 1)));
        f.cpkLow = *f.cpk - half;
        f.cpkHigh = *f.cpk + half;
    }
    f.lowerControlLimit = mean - 3 * sigma;
    f.upperControlLimit = mean + 3 * sigma;
    for (std::size_t i = 0; i < values.size(); ++i)
        if (values[i] > *f.upperControlLimit || values[i] < *f.lowerControlLimit)
            f.breaks.push_back({i, ChartRule::BeyondControlLimit});
    MarkRunsOnOneSide(values, mean, f.breaks);
    std::stable_sort(f.breaks.begin(), f.breaks.end(),
                     [](const RuleBreak& a, const RuleBreak& b) { return a.index < b.index; });
    return f;
}

std::vector<CheckCapability> ComputeCapabilities(std::vector<MeasuredCheck> checks, bool keepValues) {
    auto key = [](const MeasuredCheck& c) {
        return std::tuple(c.name, c.limits.low.has_value(), c.limits.low.value_or(0), c.limits.lowStrict,
                          c.limits.high.has_value(), c.limits.high.value_or(0), c.limits.highStrict, c.limits.units);
    };
    std::stable_sort(checks.begin(), checks.end(), [&](const MeasuredCheck& a, const MeasuredCheck& b) {
        const auto ka = key(a);
        const auto kb = key(b);
        if (ka != kb)
            return ka < kb;
        return std::tie(a.run.startedMs, a.run.recordId, a.seq) < std::tie(b.run.startedMs, b.run.recordId, b.seq);
    });
    std::vector<CheckCapability> out;
    for (std::size_t begin = 0; begin < checks.size();) {
        std::size_t end = begin;
        while (end < checks.size() && key(checks[end]) == key(checks[begin]))
            ++end;
        CheckCapability group;
        group.name = checks[begin].name;
        group.limits = checks[begin].limits;
        std::vector<double> all;
        std::vector<double> withoutFailed;
        for (std::size_t i = begin; i < end; ++i) {
            const MeasuredCheck& c = checks[i];
            if (!c.value || !std::isfinite(*c.value)) {
                ++group.notNumbers;
                continue;
            }
            all.push_back(*c.value);
            if (!c.run.runFailed)
                withoutFailed.push_back(*c.value);
            if (keepValues) {
                group.values.push_back(c.run);
                group.values.back().value = *c.value;
            }
        }
        group.all = ComputeCapability(all, group.limits);
        group.withoutFailed = ComputeCapability(withoutFailed, group.limits);
        out.push_back(std::move(group));
        begin = end;
    }
    // Worst first: the lowest Cpk, groups without one last; the order above otherwise.
    std::stable_sort(out.begin(), out.end(), [](const CheckCapability& a, const CheckCapability& b) {
        if (a.all.cpk.has_value() != b.all.cpk.has_value())
            return a.all.cpk.has_value();
        return a.all.cpk && *a.all.cpk < *b.all.cpk;
    });
    return out;
}

}  // namespace tamrisk
