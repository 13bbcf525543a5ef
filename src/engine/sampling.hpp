// The spread of an answer: schedules drawn from the normal laws of their
// uncertain values, and quantiles of what they give. Sample i's draws come
// from a generator seeded with the seed and i alone (GSL's mt19937 and
// gsl_ran_gaussian), so the same seed gives the same samples, bit for bit,
// on any number of threads and in any order.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "engine/forward.hpp"
#include "model/process.hpp"

namespace diffusim {

// The schedule of sample i: each uncertain value v drawn as v + sd z (sd
// times v when relative), z standard normal, in the order of the table.
ProcessSchedule sampledSchedule(const ProcessSchedule& schedule, std::uint64_t seed,
                                std::uint64_t i);

// Sample i's level at `time` (or its own end, if earlier); nothing when its
// drawn schedule cannot run, its run fails or the budget is spent.
std::optional<std::vector<double>> sampledLevel(const ProcessSchedule& schedule, std::uint64_t seed,
                                                std::uint64_t i, double time,
                                                const SchemeOptions& scheme,
                                                SharedBudget* budget = nullptr);

// The q quantile of ascending values, linear between order statistics
// (h = (n - 1) q); NaN for none.
double quantileOf(const std::vector<double>& sorted, double q);

// The quantiles the spread commands report.
inline constexpr double SPREAD_QUANTILES[] = {0.05, 0.25, 0.5, 0.75, 0.95};

}  // namespace diffusim
