#include "engine/sampling.hpp"

#include <gsl/gsl_randist.h>
#include <gsl/gsl_rng.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <utility>

namespace diffusim {

namespace {

// SplitMix64: a seed and an index to one well-mixed 64-bit seed.
std::uint64_t mix(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

}  // namespace

ProcessSchedule sampledSchedule(const ProcessSchedule& s, std::uint64_t seed, std::uint64_t i) {
  ProcessSchedule drawn = s;
  const std::unique_ptr<gsl_rng, void (*)(gsl_rng*)> rng(gsl_rng_alloc(gsl_rng_mt19937),
                                                         gsl_rng_free);
  gsl_rng_set(rng.get(), static_cast<unsigned long>(mix(mix(seed) ^ i) & 0xFFFFFFFFull));
  for (const Uncertainty& u : s.uncertainty) {
    const double v = parameterValue(s, u.parameter);
    const double sd = u.relative ? u.sd * std::fabs(v) : u.sd;
    setParameter(drawn, u.parameter, v + gsl_ran_gaussian_ziggurat(rng.get(), sd));
  }
  return drawn;
}

SampledLevel sampledLevel(const ProcessSchedule& s, std::uint64_t seed, std::uint64_t i,
                          double time, const SchemeOptions& scheme, SharedBudget* budget) {
  SampledLevel out;
  const ProcessSchedule drawn = sampledSchedule(s, seed, i);
  const double end = scheduleEnd(drawn);
  if (!checkSchedule(drawn).ok() || time > end) {
    out.run = SampleRun::Invalid;
    return out;
  }
  ForwardRun run = forwardLevels(drawn, {std::isnan(time) ? end : time}, scheme, budget);
  if (!run.fault.ok()) {
    out.run = SampleRun::Fault;
    out.fault = run.fault;
  } else if (run.failed) {
    out.run =
        budget != nullptr && budget->exhausted() ? SampleRun::WorkLimit : SampleRun::StepLimit;
  } else {
    out.level = std::move(run.levels.back());
  }
  return out;
}

Fault checkDraws(const ProcessSchedule& s, std::uint64_t seed, std::size_t n, double time) {
  std::size_t invalid = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const ProcessSchedule drawn = sampledSchedule(s, seed, i);
    if (!checkSchedule(drawn).ok() || time > scheduleEnd(drawn)) ++invalid;
  }
  Fault f;
  if (static_cast<double>(invalid) > MOST_INVALID_SHARE * static_cast<double>(n)) {
    f.code = FaultCode::SamplesInvalid;
    f.value = static_cast<double>(invalid);
    f.high = static_cast<double>(n);
  }
  return f;
}

Spread spreadOf(const std::vector<double>& answers) {
  Spread sp;
  sp.samples = answers.size();
  for (const double a : answers) {
    if (std::isnan(a)) {
      ++sp.invalid;
    } else {
      if (std::isinf(a)) ++sp.beyond;
      sp.sorted.push_back(a);
    }
  }
  std::sort(sp.sorted.begin(), sp.sorted.end());
  const std::size_t n = sp.sorted.size();
  if (sp.beyond > 0) {
    // Without a bound on the answers beyond, their mean and spread have none.
    sp.mean = sp.sd = std::numeric_limits<double>::infinity();
  } else if (n > 1) {
    // Summed in ascending order: the same bits on any thread count.
    double sum = 0.0;
    for (const double a : sp.sorted) sum += a;
    sp.mean = sum / static_cast<double>(n);
    double squares = 0.0;
    for (const double a : sp.sorted) squares += (a - sp.mean) * (a - sp.mean);
    sp.sd = std::sqrt(squares / static_cast<double>(n - 1));
  } else {
    sp.mean = sp.sd = std::numeric_limits<double>::quiet_NaN();
  }
  return sp;
}

double quantileOf(const std::vector<double>& sorted, double q) {
  if (sorted.empty()) return std::numeric_limits<double>::quiet_NaN();
  const double h = static_cast<double>(sorted.size() - 1) * q;
  const auto lo = static_cast<std::size_t>(std::floor(h));
  const std::size_t hi = std::min(lo + 1, sorted.size() - 1);
  const double fraction = h - static_cast<double>(lo);
  // At an order statistic, or between equal ones (infinite ones too), it is
  // that value; between a finite one and +infinity, +infinity.
  if (fraction == 0.0 || sorted[hi] == sorted[lo]) return sorted[lo];
  if (std::isinf(sorted[hi])) return sorted[hi];
  return sorted[lo] + (sorted[hi] - sorted[lo]) * fraction;
}

}  // namespace diffusim
