#include "engine/queries.hpp"

#include <algorithm>
#include <boost/math/tools/toms748_solve.hpp>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "engine/plan.hpp"
#include "engine/species.hpp"

namespace diffusim {

namespace {

constexpr double NOT_FOUND = std::numeric_limits<double>::quiet_NaN();

using RowFn = std::function<void(std::span<const double>)>;

bool ready(QueryOutcome& o, const ProcessPlan& plan, const SchemePick& pick) {
  o.fault = schemeLimit(plan, pick);
  if (o.fault.ok()) return true;
  o.failure = QueryOutcome::Failure::Limit;
  return false;
}

// A run that gave a value that is not finite: no answer, and where.
void nonFinite(QueryOutcome& o) {
  o.failure = QueryOutcome::Failure::NonFinite;
  o.fault = {FaultCode::NonFiniteLevel, o.scheme.stats.failedStage, o.scheme.stats.failedTime};
}

void depthQuery(const Query& q, const ProcessSchedule& s, const std::vector<double>& imposed,
                const WorkBudget& budget, const RowFn& row, QueryOutcome& o) {
  ProcessPlan plan;
  const double end =
      q.times.empty() ? scheduleEnd(s) : *std::max_element(q.times.begin(), q.times.end());
  // A time after the schedule's end has no level to read (within the
  // rounding of a sum of durations).
  if (end > scheduleEnd(s) * (1.0 + 1e-12)) {
    o.fault = {FaultCode::TimeAfterEnd, 0, end};
    o.fault.high = scheduleEnd(s);
    o.failure = QueryOutcome::Failure::Plan;
    return;
  }
  const std::vector<double> sorted = sortedTimes(q.times);
  o.fault = q.every > 0.0 ? planProcess(s, end, q.every, plan, imposed)
                          : planProcessAt(s, q.times.empty() ? std::vector<double>{end} : sorted,
                                          plan, imposed);
  if (!o.fault.ok()) {
    o.failure = QueryOutcome::Failure::Plan;
    return;
  }
  const std::int32_t n = s.sections + 1;
  const SchemePick pick = pickScheme(q.scheme, plan);
  const bool implicit = pick.implicit;
  if (!ready(o, plan, pick)) return;
  if (q.estimateError) {
    const auto fault = o.reference.prepare(q.scheme, plan, implicit, budget, *q.store);
    if (fault == GridErrorEstimate::Failure::Stopped) {
      o.stopped = o.reference.stopReason();
      if (o.stopped == StopReason::None) o.failure = QueryOutcome::Failure::Exhausted;
      return;
    }
    if (fault == GridErrorEstimate::Failure::Lost) {
      o.failure = QueryOutcome::Failure::Lost;
      return;
    }
    if (fault != GridErrorEstimate::Failure::None) {
      o.failure = QueryOutcome::Failure::Estimate;
      return;
    }
  }
  // Listed times are answered in the order asked, each from the level at
  // its time: kept until the run ends (at most one per time listed).
  const bool listed = q.every <= 0.0 && !q.times.empty();
  std::vector<double> found;
  LimitGuard guard(budget, n, [&](const Level& level) {
    const double d = depthOf(level.values, n, plan.dx, q.composition);
    o.highest = std::max(o.highest, *std::max_element(level.values, level.values + n));
    o.beyondSpecimen = o.beyondSpecimen || std::isnan(d);
    if (q.estimateError) o.reference.compare(level);
    if (listed) {
      found.push_back(d);
    } else {
      const double cells[] = {level.time, d};
      row(cells);
      ++o.rows;
    }
    return true;
  });
  const RunEnd ended = runScheme(q.scheme, plan, implicit, guard, o.scheme);
  if (ended == RunEnd::NonFinite) return nonFinite(o);
  if (ended == RunEnd::Stopped) {
    if (o.scheme.stats.exhausted) o.failure = QueryOutcome::Failure::Exhausted;
    o.stopped = guard.reason();
    return;
  }
  if (!listed) return;
  for (double t : q.times) {
    const auto at = static_cast<std::size_t>(std::lower_bound(sorted.begin(), sorted.end(), t) -
                                             sorted.begin());
    const double cells[] = {sorted[at], found[at]};
    row(cells);
    ++o.rows;
  }
}

// The composition at the depth just after a held surface is set to `held`,
// from a level whose point 1 holds `next`: only a depth short of the first
// grid point feels the jump.
double afterJump(double depth, double dx, double held, double next, double before) {
  if (!(depth < dx)) return before;
  const double w = depth / dx;
  return w == 0.0 ? held : (next - held) * w + held;
}

// When the composition passes `target` between a and b (a short of it, b
// at or beyond it): on the parabola through a, the implicit step's inner
// level m and b, which follows the step to its own order, or on the line
// from a to b when there is no inner level (m.c NaN) or the parabola has no
// crossing inside the step.
struct TimedValue {
  double t, c;
};

// When the composition passes `target` inside a step from a to b, on the
// cubic through both ends' values and slopes (h dC/dt, sa and sb): the
// first root in the step, between the cubic's turning points.
double hermiteCrossing(double target, TimedValue a, double sa, TimedValue b, double sb) {
  // p(s) - target = r0 + r1 s + r2 s^2 + r3 s^3 on s = (t - a.t) / (b.t - a.t).
  const double d = b.c - a.c;
  const double r0 = a.c - target, r1 = sa;
  const double r2 = (3.0 * d - 2.0 * sa) - sb;
  const double r3 = (sa + sb) - 2.0 * d;
  const auto p = [&](double x) { return ((r3 * x + r2) * x + r1) * x + r0; };
  // The turning points in (0, 1), where 3 r3 s^2 + 2 r2 s + r1 = 0.
  std::vector<double> ends = {0.0};
  const double qa = 3.0 * r3, qb = 2.0 * r2, disc = qb * qb - 4.0 * qa * r1;
  if (qa != 0.0 && disc > 0.0) {
    const double root = std::sqrt(disc);
    const double qv = -0.5 * (qb + (qb < 0.0 ? -root : root));
    for (const double x : {qv / qa, qv != 0.0 ? r1 / qv : 0.0})
      if (x > 0.0 && x < 1.0) ends.push_back(x);
  } else if (qa == 0.0 && qb != 0.0 && -r1 / qb > 0.0 && -r1 / qb < 1.0) {
    ends.push_back(-r1 / qb);
  }
  std::sort(ends.begin(), ends.end());
  ends.push_back(1.0);
  const bool rising = d > 0.0;
  for (std::size_t k = 0; k + 1 < ends.size(); ++k) {
    const double lo = ends[k], hi = ends[k + 1];
    const double plo = p(lo), phi = p(hi);
    if (rising ? phi < 0.0 : phi > 0.0) continue;
    if (plo == 0.0) return a.t + lo * (b.t - a.t);
    if (rising ? plo > 0.0 : plo < 0.0) continue;
    std::uintmax_t most = 100;
    const auto [x0, x1] = boost::math::tools::toms748_solve(
        p, lo, hi, plo, phi, boost::math::tools::eps_tolerance<double>(), most);
    return a.t + (0.5 * (x0 + x1)) * (b.t - a.t);
  }
  return NOT_FOUND;
}
double crossingTime(double target, TimedValue a, TimedValue m, TimedValue b) {
  if (b.c == a.c) return b.t;
  const double span = b.t - a.t;
  const double r = target - a.c, total = b.c - a.c;
  const double linear = r / total;
  if (std::isnan(m.c)) return a.t + linear * span;
  // p(s) = a.c + A s + B s^2 on s = (t - a.t) / span, through s = g and 1.
  const double g = (m.t - a.t) / span;
  const double bq = ((m.c - a.c) - g * total) / (g * (g - 1.0));
  const double aq = total - bq;
  const double disc = aq * aq + 4.0 * bq * r;
  double s = linear;
  if (bq != 0.0 && disc >= 0.0) {
    // The two roots without cancellation: q / B and -r / q.
    const double root = std::sqrt(disc);
    const double qv = -0.5 * (aq + (aq < 0.0 ? -root : root));
    const double roots[] = {qv / bq, qv != 0.0 ? -r / qv : linear};
    // The first time it is reached: the smaller root inside the step.
    double first = NOT_FOUND;
    for (double x : roots)
      if (x >= 0.0 && x <= 1.0 && (std::isnan(first) || x < first)) first = x;
    if (!std::isnan(first)) s = first;
  }
  return a.t + s * span;
}

void timeQuery(const Query& q, const ProcessSchedule& s, const std::vector<double>& imposed,
               const WorkBudget& budget, const RowFn& row, QueryOutcome& o) {
  ProcessPlan plan;
  ProcessSchedule run = s;
  double until = scheduleEnd(s);
  if (q.openEnded) {
    // One stage run until the composition is reached or the step limit is.
    const CellWeights weights = cellWeights(s.geometry, s.length, s.sections);
    const StagePlan one = planStage(s, s.stages[0], 1.0, stageRanges(s)[0], &weights);
    run.stages[0].duration = one.dtMax * static_cast<double>(OPEN_ENDED_STEPS);
    until = run.stages[0].duration;
  }
  o.fault = planProcess(run, until, -1.0, plan, imposed);
  if (!o.fault.ok()) {
    o.failure = QueryOutcome::Failure::Plan;
    return;
  }
  const SchemePick pick = pickScheme(q.scheme, plan, q.openEnded);
  const bool implicit = pick.implicit;
  if (!q.openEnded && !ready(o, plan, pick)) return;
  const std::int32_t n = s.sections + 1;
  const double target = q.composition;
  const bool rising = target > s.initial;
  const auto reached = [&](double c) { return rising ? c >= target : c <= target; };
  o.lastComposition = s.initial;
  if (reached(s.initial)) {
    const double cells[] = {0.0};
    row(cells);
    o.rows = 1;
    return;
  }
  // Where held stages begin: the surface jumps there, between two levels.
  std::vector<std::pair<double, double>> jumps;  // (time, held composition)
  double start = 0.0;
  for (const Stage& st : run.stages) {
    if (const FaceModel face = faceModel(run, st.surface); face.held)
      jumps.emplace_back(start, face.value);
    start += st.duration;
  }
  std::size_t jump = 0;
  double prevT = 0.0, prevC = s.initial, prevNext = s.initial;
  double when = NOT_FOUND;
  bool still = false;
  LimitGuard guard(budget, n, [&](const Level& level) {
    while (jump < jumps.size() && jumps[jump].first < level.time) {
      const auto [at, held] = jumps[jump++];
      const double c = afterJump(q.depth, plan.dx, held, prevNext, prevC);
      if (reached(c)) {
        when = at;
        return false;
      }
      prevT = at;
      prevC = c;
    }
    const double c = compositionAtDepth(level.values, n, plan.dx, q.depth);
    o.lastComposition = c;
    o.lastTime = level.time;
    if (reached(c) && level.endSlope != nullptr && level.stepStart == prevT) {
      when = hermiteCrossing(
          target, {prevT, prevC}, compositionAtDepth(level.startSlope, n, plan.dx, q.depth),
          {level.time, c}, compositionAtDepth(level.endSlope, n, plan.dx, q.depth));
      if (!std::isnan(when)) return false;
    }
    if (reached(c)) {
      const bool inner =
          level.stageValues != nullptr && level.stageTime > prevT && level.stageTime < level.time;
      const double mid =
          inner ? compositionAtDepth(level.stageValues, n, plan.dx, q.depth) : NOT_FOUND;
      when = crossingTime(target, {prevT, prevC}, {level.stageTime, mid}, {level.time, c});
      return false;
    }
    if (level.repeated) {
      still = true;  // the profile no longer changes: the composition is never reached
      return false;
    }
    prevT = level.time;
    prevC = c;
    prevNext = n > 1 ? level.values[1] : level.values[0];
    return true;
  });
  const RunEnd ended = runScheme(q.scheme, plan, implicit, guard, o.scheme);
  if (ended == RunEnd::NonFinite) return nonFinite(o);
  if (ended == RunEnd::Stopped && !guard.satisfied()) {
    if (o.scheme.stats.exhausted) o.failure = QueryOutcome::Failure::Exhausted;
    o.stopped = guard.reason();
    return;
  }
  o.rows = 1;
  if (!std::isnan(when)) {
    o.lastTime = std::max(o.lastTime, when);
    const double cells[] = {when};
    row(cells);
    return;
  }
  o.miss = still                              ? Miss::Steady
           : q.openEnded && o.scheme.implicit ? Miss::SearchEnd
           : q.openEnded                      ? Miss::StepLimit
                                              : Miss::ScheduleEnd;
  const double cells[] = {NOT_FOUND};
  row(cells);
}

}  // namespace

std::vector<double> sortedTimes(std::vector<double> t) {
  std::sort(t.begin(), t.end());
  t.erase(std::unique(t.begin(), t.end()), t.end());
  return t;
}

QueryOutcome runQuery(const Query& query, const ProcessSchedule& schedule, const WorkBudget& budget,
                      const RowFn& row) {
  QueryOutcome o;
  // A species of several: its own schedule, at the explicit steps the
  // run of every species takes.
  const SpeciesRun one = speciesRun(schedule, query.species);
  if (query.kind == Query::Kind::Depth) {
    depthQuery(query, one.schedule, one.steps, budget, row, o);
  } else {
    timeQuery(query, one.schedule, one.steps, budget, row, o);
  }
  return o;
}

}  // namespace diffusim
