// The spread of an answer: schedules drawn from the normal laws of their
// uncertain values, and quantiles of what they give. Sample i's draws come
// from a generator seeded with the seed and i alone (GSL's mt19937 and
// gsl_ran_gaussian), so the same seed gives the same samples, bit for bit,
// on any number of threads and in any order.
//
// A draw whose schedule cannot run (a negative temperature or duration, or
// one that ends before the time asked) is invalid: the law is truncated
// there, so such draws are counted and left out. Every other sample has an
// answer, +infinity where it has none within the specimen (a profile above
// the composition through the whole specimen) or the search (a composition
// never reached), and the quantiles are of all of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "engine/forward.hpp"
#include "model/fault.hpp"
#include "model/process.hpp"

namespace diffusim {

// The schedule of sample i: each uncertain value v drawn as v + sd z (sd
// times v when relative), z standard normal, in the order of the table.
ProcessSchedule sampledSchedule(const ProcessSchedule& schedule, std::uint64_t seed,
                                std::uint64_t i);

// How a sample's run went.
enum class SampleRun {
  Ran,        // it has its level or answer
  Invalid,    // the drawn schedule cannot run, or ends before the time asked
  Fault,      // the drawn schedule's plan or run failed (the fault says why)
  StepLimit,  // the implicit step control could not settle
  WorkLimit,  // the shared work budget was spent
};

struct SampledLevel {
  SampleRun run = SampleRun::Ran;
  Fault fault;                // SampleRun::Fault
  std::vector<double> level;  // SampleRun::Ran
};

// Sample i's level at `time`, or at its own schedule's end when `time` is
// NaN.
SampledLevel sampledLevel(const ProcessSchedule& schedule, std::uint64_t seed, std::uint64_t i,
                          double time, const SchemeOptions& scheme, SharedBudget* budget = nullptr);

// The answers of a request's samples in order: a number (+infinity beyond
// the specimen or the search), NaN for an invalid draw.
inline constexpr double INVALID_SAMPLE = std::numeric_limits<double>::quiet_NaN();

// A request refuses when more than this share of its draws are invalid:
// the truncated law would no longer be the one asked for.
inline constexpr double MOST_INVALID_SHARE = 0.01;

// The spread of the answers: the valid ones ascending (+infinity last), the
// counts of those beyond and of the invalid draws, and the mean and the
// standard deviation (n - 1) of the valid answers, both +infinity when any
// of them is beyond.
struct Spread {
  std::size_t samples = 0, beyond = 0, invalid = 0;
  std::vector<double> sorted;
  double mean = 0.0, sd = 0.0;
  bool tooManyInvalid() const {
    return static_cast<double>(invalid) > MOST_INVALID_SHARE * static_cast<double>(samples);
  }
};
Spread spreadOf(const std::vector<double>& answers);

// The request's draws before any run: SamplesInvalid when more than 1 % of
// its n samples are invalid at `time` (NaN: at each one's own end).
Fault checkDraws(const ProcessSchedule& schedule, std::uint64_t seed, std::size_t n, double time);

// The q quantile of ascending values, linear between order statistics
// (h = (n - 1) q); +infinity where it falls among infinite values, NaN for
// none.
double quantileOf(const std::vector<double>& sorted, double q);

// The quantiles the spread commands report.
inline constexpr double SPREAD_QUANTILES[] = {0.05, 0.25, 0.5, 0.75, 0.95};

// The most values a profile's spread keeps (samples x points, 80 MB): its
// quantiles at each point are exact, so every sample's profile is held.
inline constexpr std::int64_t MAX_SAMPLE_VALUES = 10'000'000;

}  // namespace diffusim
