#include "engine/plan.hpp"

#include <cmath>

namespace diffusim {

namespace {

bool finitePositive(double v) {
  return std::isfinite(v) && v > 0.0;
}

double meshRatio(const ExactGrid& g, double dt) {
  return ((g.diffusivity * dt) / g.dx) / g.dx;
}

// The number of steps a stretch of `span` takes, before the 0.25 check.
double stepsFor(const ExactGrid& g, double span) {
  return std::ceil(span / g.dtMax);
}

}  // namespace

PlanCheck exactGridFor(const SimulationInputs& in, std::int32_t sections, ExactGrid& grid) {
  if (!sectionsInRange(sections))
    return {{FaultCode::SectionsOutOfRange, 0, static_cast<double>(sections)}};
  if (!finitePositive(in.temperature)) return {{FaultCode::TemperatureNotPositive}};
  if (!finitePositive(in.specimenLength)) return {{FaultCode::LengthNotPositive}};
  grid.points = sections + 1;
  grid.diffusivity = diffusivityOf(in);
  if (!finitePositive(grid.diffusivity))
    return {{FaultCode::DiffusivityNotFinite, 0, grid.diffusivity, in.temperature}};
  grid.dx = in.specimenLength / static_cast<double>(sections);
  grid.dtMax = ((SAFETY_FACTOR * grid.dx) * grid.dx) / grid.diffusivity;
  if (!finitePositive(grid.dtMax)) return {{FaultCode::TimeStepNotFinite, 0, grid.dtMax}};
  return {};
}

Segment stretchOver(const ExactGrid& grid, double span, std::int64_t stepsPerOutput) {
  const EqualSteps e =
      equalSteps(span, grid.dtMax, [&](double dt) { return meshRatio(grid, dt) > SAFETY_FACTOR; });
  return {e.steps, e.dt, meshRatio(grid, e.dt), stepsPerOutput < 0 ? 1 : stepsPerOutput};
}

PlanCheck planToTime(const ExactGrid& grid, double until, double every,
                     std::vector<Segment>& plan) {
  plan.clear();
  const auto tooMany = [](double steps) { return PlanCheck{{FaultCode::TooManySteps, 0, steps}}; };
  if (every <= 0.0) {
    const double k = stepsFor(grid, until);
    if (!(k < MAX_EXPLICIT_STEPS - 1.0)) return tooMany(k);
    plan.push_back(stretchOver(grid, until, every < 0.0 ? 1 : 0));
  } else {
    // Whole intervals of `every`, then what is left of `until`, if anything
    // beyond rounding.
    const double quotient = until / every;
    double whole = std::floor(quotient);
    if (quotient - whole > 1.0 - 1e-9) whole += 1.0;
    const double perInterval = stepsFor(grid, every);
    const double left = until - whole * every;
    const bool tail = left > 1e-9 * until;
    const double total = whole * perInterval + (tail ? stepsFor(grid, left) : 0.0);
    if (!(total < MAX_EXPLICIT_STEPS - 2.0)) return tooMany(total);
    if (whole >= 1.0) {
      Segment s = stretchOver(grid, every, 0);
      s.every = s.steps;
      s.steps *= static_cast<std::int64_t>(whole);
      plan.push_back(s);
    }
    if (tail || plan.empty()) {
      const double start = plan.empty() ? 0.0 : static_cast<double>(plan[0].steps) * plan[0].dt;
      plan.push_back(stretchOver(grid, until - start, 0));
    }
  }
  if (!(static_cast<double>(stepsOf(plan)) < MAX_EXPLICIT_STEPS))
    return tooMany(static_cast<double>(stepsOf(plan)));
  return {};
}

std::int64_t stepsOf(const std::vector<Segment>& plan) {
  std::int64_t n = 0;
  for (const Segment& s : plan) n += s.steps;
  return n;
}

}  // namespace diffusim
