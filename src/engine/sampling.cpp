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

std::optional<std::vector<double>> sampledLevel(const ProcessSchedule& s, std::uint64_t seed,
                                                std::uint64_t i, double time,
                                                const SchemeOptions& scheme, SharedBudget* budget) {
  const ProcessSchedule drawn = sampledSchedule(s, seed, i);
  if (!checkSchedule(drawn).ok()) return std::nullopt;
  ForwardRun run = forwardLevels(drawn, {std::min(time, scheduleEnd(drawn))}, scheme, budget);
  if (!run.fault.ok() || run.failed) return std::nullopt;
  return std::move(run.levels.back());
}

double quantileOf(const std::vector<double>& sorted, double q) {
  if (sorted.empty()) return std::numeric_limits<double>::quiet_NaN();
  const double h = static_cast<double>(sorted.size() - 1) * q;
  const auto lo = static_cast<std::size_t>(std::floor(h));
  const std::size_t hi = std::min(lo + 1, sorted.size() - 1);
  return sorted[lo] + (sorted[hi] - sorted[lo]) * (h - static_cast<double>(lo));
}

}  // namespace diffusim
