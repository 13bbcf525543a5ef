#include "cli/process_commands.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <thread>

#include "cli/command_support.hpp"
#include "engine/engine.hpp"
#include "engine/implicit.hpp"
#include "engine/plan.hpp"
#include "engine/process_plan.hpp"
#include "engine/worker_pool.hpp"
#include "format/number_format.hpp"

namespace diffusim {

namespace {

constexpr double NOT_FOUND = std::numeric_limits<double>::quiet_NaN();
// An open-ended run (the time to a composition without a schedule) stops
// after this many steps.
constexpr std::int64_t OPEN_ENDED_STEPS = 2'000'000'000;

std::string stageKey(std::size_t i, const char* what) {
  return "stage" + integer(static_cast<std::int64_t>(i + 1)) + "." + what;
}

// One combination of the swept values.
struct Combination {
  double temperature = NOT_FOUND;  // NaN: as the schedule has it
  std::vector<double> durations;   // one per swept stage
};

std::vector<Combination> combinations(const ProcessRequest& r) {
  std::vector<Combination> all{Combination{}};
  if (r.temperatures.size() > 1) {
    std::vector<Combination> next;
    for (double t : r.temperatures) {
      Combination c;
      c.temperature = t;
      next.push_back(c);
    }
    all = next;
  }
  for (const auto& [stage, values] : r.stageDurations) {
    if (values.size() < 2) continue;
    std::vector<Combination> next;
    for (const Combination& c : all) {
      for (double v : values) {
        Combination d = c;
        d.durations.push_back(v);
        next.push_back(d);
      }
    }
    all = next;
  }
  return all;
}

ProcessSchedule scheduleFor(const ProcessRequest& r, const Combination& c) {
  ProcessSchedule s = r.schedule;
  if (r.temperatures.size() == 1)
    for (Stage& st : s.stages) st.temperature = r.temperatures[0];
  if (!std::isnan(c.temperature))
    for (Stage& st : s.stages) st.temperature = c.temperature;
  std::size_t swept = 0;
  for (const auto& [stage, values] : r.stageDurations) {
    if (values.size() == 1) s.stages[stage].duration = values[0];
    if (values.size() > 1) s.stages[stage].duration = c.durations[swept++];
  }
  return s;
}

std::vector<std::string> sweptColumns(const ProcessRequest& r) {
  std::vector<std::string> names;
  if (r.temperatures.size() > 1) names.push_back("temperature_K");
  for (const auto& [stage, values] : r.stageDurations)
    if (values.size() > 1)
      names.push_back("stage" + integer(static_cast<std::int64_t>(stage + 1)) + "_duration_s");
  return names;
}

std::vector<double> sweptValues(const Combination& c) {
  std::vector<double> v;
  if (!std::isnan(c.temperature)) v.push_back(c.temperature);
  for (double d : c.durations) v.push_back(d);
  return v;
}

// The guard of a sweep's runs: Ctrl-C and the work budget, no progress line.
class QuietRun final : public RunObserver {
 public:
  QuietRun(const WorkBudget& budget, std::int32_t points, std::function<bool(const Level&)> handle)
      : handle_(std::move(handle)) {
    if (budget.pointUpdates != 0)
      budgetSteps_ = budget.pointUpdates / static_cast<std::uint64_t>(points) + 1;
  }
  bool onLevel(const Level& level) override {
    if (handle_(level)) return true;
    satisfied_ = true;
    return false;
  }
  bool proceed(std::uint64_t stepsDone) override {
    if (interruptFlag().load(std::memory_order_relaxed)) return stop(StopReason::Interrupted);
    if (budgetSteps_ != 0 && stepsDone >= budgetSteps_) return stop(StopReason::BudgetExhausted);
    return true;
  }
  bool satisfied() const { return satisfied_; }
  StopReason reason() const { return reason_; }

 private:
  bool stop(StopReason why) {
    reason_ = why;
    return false;
  }
  std::function<bool(const Level&)> handle_;
  std::uint64_t budgetSteps_ = 0;
  bool satisfied_ = false;
  StopReason reason_ = StopReason::None;
};

// One run; a sweep's runs each compute on one thread, the sweep on many.
RunEnd runPlan(const ProcessSchedule& s, const ProcessPlan& plan, RunObserver& observer,
               unsigned threads = 1) {
  Engine engine(s.sections + 1, FarFace::Mirror, Threading{threads});
  engine.start(s.initial, s.initial);
  return engine.run(plan.segments, observer);
}

bool runsImplicit(const ProcessRequest& r, const ProcessSchedule& s, const ProcessPlan& plan) {
  if (r.scheme != SchemeChoice::Auto) return r.scheme == SchemeChoice::Implicit;
  // An open-ended search has no end to cost; the explicit run stops when
  // the composition is reached.
  if (r.openEnded) return false;
  const SchemeCosts costs = estimateCosts(s, plan, r.tolerance);
  return costs.implicitNs < costs.explicitNs;
}

// How a run went: which scheme, and the implicit one's account of itself.
struct SchemeRun {
  bool implicit = false;
  ImplicitStats stats;
};

RunEnd runScheme(const ProcessRequest& r, const ProcessSchedule& s, const ProcessPlan& plan,
                 bool implicit, RunObserver& observer, SchemeRun& run, unsigned threads = 1) {
  run.implicit = implicit;
  if (!implicit) return runPlan(s, plan, observer, threads);
  ImplicitOptions options;
  options.tolerance = r.tolerance;
  return runImplicit(s, plan, options, observer, run.stats);
}

// The grid's error, estimated from the same run on half the sections (or,
// for an odd count, twice as many) at the points both grids share and the
// times the run hands on: for a second-order grid the run's error is the
// difference / 3 (half) or 4 / 3 of it (twice).
struct Reference {
  std::int32_t sections = 0;
  bool half = true;
  std::vector<double> times;
  std::vector<std::vector<double>> levels;  // at the shared points
  std::size_t next = 0;
  double estimate = 0.0;
  bool compared = false;

  void compare(const Level& level) {
    if (next >= times.size() || level.time != times[next]) return;
    const std::vector<double>& other = levels[next++];
    double most = 0.0;
    for (std::size_t j = 0; j < other.size(); ++j)
      most = std::max(most, std::fabs(level.values[half ? 2 * j : j] - other[j]));
    estimate = std::max(estimate, half ? most / 3.0 : most * (4.0 / 3.0));
    compared = true;
  }
};

StopReason runReference(const ProcessRequest& r, const ProcessSchedule& s,
                        const std::vector<double>& times, bool implicit, const WorkBudget& budget,
                        Reference& ref) {
  ProcessSchedule other = s;
  ref.half = s.sections % 2 == 0;
  other.sections = ref.half ? s.sections / 2 : s.sections * 2;
  if (other.sections > MAX_GRID_POINTS - 1)
    throw UsageError(
        "--estimate-error: an odd number of sections is compared with twice as many, " +
        integer(other.sections) + ", above 9999; use an even number");
  ref.sections = other.sections;
  ref.times = times;
  ProcessPlan plan;
  if (const std::string problem = planProcessAt(other, times, plan); !problem.empty())
    throw UsageError("--estimate-error: " + problem);
  const std::int32_t n = other.sections + 1;
  QuietRun guard(budget, n, [&](const Level& level) {
    std::vector<double> shared;
    for (std::int32_t i = 0; i < n; i += ref.half ? 1 : 2) shared.push_back(level.values[i]);
    ref.levels.push_back(std::move(shared));
    return true;
  });
  SchemeRun run;
  if (runScheme(r, other, plan, implicit, guard, run) == RunEnd::Stopped) return guard.reason();
  return StopReason::None;
}

// What one combination yields: rows of results, or why it has none.
struct Outcome {
  std::vector<std::vector<double>> rows;
  std::string failure;  // the time query: the composition was not reached
  StopReason stopped = StopReason::None;
  SchemeRun scheme;
  Reference reference;
};

// The times a depth query reports, ascending and distinct.
std::vector<double> sortedTimes(std::vector<double> t) {
  std::sort(t.begin(), t.end());
  t.erase(std::unique(t.begin(), t.end()), t.end());
  return t;
}

Outcome depthQuery(const ProcessRequest& r, const ProcessSchedule& s, const WorkBudget& budget) {
  Outcome o;
  ProcessPlan plan;
  const double end =
      r.times.empty() ? scheduleEnd(s) : *std::max_element(r.times.begin(), r.times.end());
  const std::string problem =
      r.everyGiven
          ? planProcess(s, end, r.every, plan)
          : planProcessAt(s, r.times.empty() ? std::vector<double>{end} : sortedTimes(r.times),
                          plan);
  if (!problem.empty()) throw UsageError(problem);
  const std::int32_t n = s.sections + 1;
  const bool implicit = runsImplicit(r, s, plan);
  if (r.estimateError) {
    o.stopped = runReference(r, s, plan.outputs, implicit, budget, o.reference);
    if (o.stopped != StopReason::None) return o;
  }
  std::vector<std::pair<double, double>> found;  // (the level's time, depth)
  QuietRun run(budget, n, [&](const Level& level) {
    found.emplace_back(level.time, depthOf(level.values, n, plan.dx, r.composition));
    if (r.estimateError) o.reference.compare(level);
    return true;
  });
  if (runScheme(r, s, plan, implicit, run, o.scheme) == RunEnd::Stopped) {
    o.stopped = run.reason();
    return o;
  }
  if (r.everyGiven || r.times.empty()) {
    for (const auto& [t, d] : found) o.rows.push_back({t, d});
  } else {
    // In the order asked, each from the level at its time.
    const std::vector<double> sorted = sortedTimes(r.times);
    for (double t : r.times) {
      const auto at = std::lower_bound(sorted.begin(), sorted.end(), t) - sorted.begin();
      o.rows.push_back(
          {found[static_cast<std::size_t>(at)].first, found[static_cast<std::size_t>(at)].second});
    }
  }
  return o;
}

Outcome timeQuery(const ProcessRequest& r, const ProcessSchedule& s, const WorkBudget& budget) {
  Outcome o;
  ProcessPlan plan;
  const bool openEnded = r.schedulePath.empty();
  double until = scheduleEnd(s);
  ProcessSchedule run = s;
  if (openEnded) {
    // One stage run until the composition is reached or the step limit is.
    const StagePlan one = planStage(s, s.stages[0], 1.0, compositionRange(s));
    run.stages[0].duration = one.dtMax * static_cast<double>(OPEN_ENDED_STEPS);
    until = run.stages[0].duration;
  }
  if (const std::string problem = planProcess(run, until, -1.0, plan); !problem.empty())
    throw UsageError(problem);
  const std::int32_t n = s.sections + 1;
  const double target = r.composition;
  const bool rising = target > s.initial;
  const auto reached = [&](double c) { return rising ? c >= target : c <= target; };
  if (reached(s.initial)) {
    o.rows.push_back({0.0});
    return o;
  }
  double prevT = 0.0, prevC = s.initial, lastC = s.initial, lastT = 0.0;
  double when = NOT_FOUND;
  bool still = false;
  QuietRun guard(budget, n, [&](const Level& level) {
    const double c = compositionAtDepth(level.values, n, plan.dx, r.depth);
    lastC = c;
    lastT = level.time;
    if (reached(c)) {
      when =
          c == prevC ? level.time : prevT + (target - prevC) / (c - prevC) * (level.time - prevT);
      return false;
    }
    if (level.repeated) {
      still = true;  // the profile no longer changes: the composition is never reached
      return false;
    }
    prevT = level.time;
    prevC = c;
    return true;
  });
  if (runScheme(r, run, plan, runsImplicit(r, run, plan), guard, o.scheme) == RunEnd::Stopped &&
      !guard.satisfied()) {
    o.stopped = guard.reason();
    return o;
  }
  if (!std::isnan(when)) {
    o.rows.push_back({when});
    return o;
  }
  const std::string at =
      "C(" + shortest(r.depth) + " m) = " + shortest(lastC) + " at t = " + shortest(lastT) + " s";
  if (still) {
    o.failure =
        "the profile stopped changing with " + at + "; " + shortest(target) + " is never reached";
  } else if (openEnded && o.scheme.implicit) {
    o.failure = at + ", where the search ends; " + shortest(target) + " was not reached";
  } else if (openEnded) {
    o.failure = at + ", after " + integer(OPEN_ENDED_STEPS) + " steps; " + shortest(target) +
                " was not reached";
  } else {
    o.failure = at + ", the end of the schedule; " + shortest(target) + " was not reached";
  }
  o.rows.push_back({NOT_FOUND});
  return o;
}

// Which scheme ran, over every run a result comes from.
struct SchemeSummary {
  std::string name = "explicit";  // explicit, implicit, or mixed (a sweep)
  std::int64_t implicitSteps = 0;
  double errorEstimate = 0.0;
  bool implicit() const { return name != "explicit"; }
};

SchemeSummary summarize(const std::vector<const SchemeRun*>& runs) {
  SchemeSummary sum;
  std::size_t implicitRuns = 0;
  for (const SchemeRun* run : runs) {
    if (!run->implicit) continue;
    ++implicitRuns;
    sum.implicitSteps += run->stats.steps;
    sum.errorEstimate = std::max(sum.errorEstimate, run->stats.errorEstimate);
  }
  if (implicitRuns > 0) sum.name = implicitRuns == runs.size() ? "implicit" : "mixed";
  return sum;
}

RunRecord recordOf(const ProcessRequest& r, const CommandLineOptions& options,
                   const ProcessSchedule& s, const ProcessPlan* plan,
                   const SchemeSummary& scheme = {}, const Reference* reference = nullptr) {
  RunRecord rec;
  rec.program = "diffusim " + options.version;
  rec.command = r.command;
  rec.inputs.push_back(word("schedule", r.schedulePath.empty() ? "flags" : r.schedulePath));
  rec.inputs.push_back(number("length", s.length));
  rec.inputs.push_back(count("sections", s.sections));
  rec.inputs.push_back(number("initial", s.initial));
  rec.inputs.push_back(number("A", s.law.A));
  rec.inputs.push_back(number("B", s.law.B));
  rec.inputs.push_back(number("a", s.law.a));
  rec.inputs.push_back(number("b", s.law.b));
  double end = 0.0;
  for (std::size_t i = 0; i < s.stages.size(); ++i) {
    const Stage& st = s.stages[i];
    end += st.duration;
    rec.inputs.push_back(number(stageKey(i, "duration"), st.duration));
    rec.inputs.push_back(number(stageKey(i, "end"), end));
    rec.inputs.push_back(number(stageKey(i, "temperature"), st.temperature));
    switch (st.surface.kind) {
      case SurfaceKind::Fixed:
        rec.inputs.push_back(word(stageKey(i, "surface"), "composition"));
        rec.inputs.push_back(number(stageKey(i, "composition"), st.surface.composition));
        break;
      case SurfaceKind::Transfer:
        rec.inputs.push_back(word(stageKey(i, "surface"), "transfer"));
        rec.inputs.push_back(number(stageKey(i, "potential"), st.surface.potential));
        rec.inputs.push_back(number(stageKey(i, "beta"), st.surface.beta));
        break;
      case SurfaceKind::Sealed:
        rec.inputs.push_back(word(stageKey(i, "surface"), "sealed"));
        break;
    }
  }
  const auto list = [](const std::vector<double>& v) {
    std::string text;
    for (double x : v) {
      if (!text.empty()) text += ',';
      appendShortest(text, x);
    }
    return text;
  };
  if (r.temperatures.size() > 1)
    rec.inputs.push_back(word("sweep.temperature", list(r.temperatures)));
  for (const auto& [stage, values] : r.stageDurations)
    if (values.size() > 1)
      rec.inputs.push_back(word("sweep." + stageKey(stage, "duration"), list(values)));
  if (r.command == "depth" || r.command == "time")
    rec.inputs.push_back(number("composition", r.composition));
  if (r.command == "history" || r.command == "time") rec.inputs.push_back(number("depth", r.depth));
  if (r.times.size() == 1) rec.inputs.push_back(number("time", r.times[0]));
  if (r.times.size() > 1) rec.inputs.push_back(word("time", list(r.times)));
  if (r.until > 0.0) rec.inputs.push_back(number("until", r.until));
  if (r.everyGiven) rec.inputs.push_back(number("every", r.every));

  rec.grid.push_back(count("points", s.sections + 1));
  rec.grid.push_back(number("dx", s.length / static_cast<double>(s.sections)));
  if (plan != nullptr && scheme.implicit()) {
    std::size_t shown = s.stages.size();
    for (const ProcessPiece& p : plan->pieces) {
      if (p.stage == shown) continue;
      shown = p.stage;
      rec.grid.push_back(number(stageKey(p.stage, "D_max"), p.plan.dMax));
    }
  } else if (plan != nullptr) {
    std::int64_t steps = 0;
    std::size_t shown = s.stages.size();
    for (const ProcessPiece& p : plan->pieces) {
      steps += p.plan.steps;
      if (p.stage == shown) continue;
      shown = p.stage;
      rec.grid.push_back(number(stageKey(p.stage, "dt"), p.plan.dt));
      rec.grid.push_back(number(stageKey(p.stage, "D_max"), p.plan.dMax));
    }
    rec.grid.push_back(count("steps", steps));
  }
  rec.grid.push_back(word("far_face", "mirror"));
  rec.grid.push_back(word("scheme", scheme.name));
  if (scheme.implicit()) {
    rec.grid.push_back(count("steps", scheme.implicitSteps));
    rec.grid.push_back(number("tolerance", r.tolerance));
    rec.grid.push_back(number("error_estimate", scheme.errorEstimate));
  }
  if (reference != nullptr && reference->compared) {
    rec.grid.push_back(number("spatial_error_estimate", reference->estimate));
    rec.grid.push_back(count("spatial_error_sections", reference->sections));
  }
  return rec;
}

// A scalar query, over every combination of the swept values, in parallel.
int runQuery(const ProcessRequest& r, const CommandLineOptions& options, std::ostream& out,
             std::ostream& err) {
  const std::vector<Combination> combos = combinations(r);
  std::vector<ProcessSchedule> schedules;
  for (const Combination& c : combos) {
    schedules.push_back(scheduleFor(r, c));
    if (const std::string problem = checkSchedule(schedules.back()); !problem.empty())
      throw UsageError(problem);
    if (r.command == "depth" && !r.times.empty() &&
        *std::max_element(r.times.begin(), r.times.end()) >
            scheduleEnd(schedules.back()) * (1.0 + 1e-12))
      throw UsageError("--time: " + shortest(*std::max_element(r.times.begin(), r.times.end())) +
                       " s is after the end of the schedule, " +
                       shortest(scheduleEnd(schedules.back())) + " s");
  }
  std::vector<Outcome> outcomes(combos.size());
  std::atomic<std::size_t> nextCombo{0};
  std::exception_ptr thrown;
  std::mutex thrownLock;
  const auto work = [&] {
    for (std::size_t i = nextCombo++; i < combos.size(); i = nextCombo++) {
      try {
        outcomes[i] = r.command == "depth" ? depthQuery(r, schedules[i], options.budget)
                                           : timeQuery(r, schedules[i], options.budget);
      } catch (...) {
        const std::lock_guard<std::mutex> lock(thrownLock);
        if (!thrown) thrown = std::current_exception();
      }
    }
  };
  unsigned threads = r.threads != 0 ? r.threads : hardwareThreads();
  threads = static_cast<unsigned>(std::min<std::size_t>(threads, combos.size()));
  {
    InterruptScope interrupts(options.catchInterrupts);
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < threads; ++t) pool.emplace_back(work);
    work();
    for (std::thread& t : pool) t.join();
  }
  if (thrown) std::rethrow_exception(thrown);

  Output output(r.output, out);
  for (const Outcome& o : outcomes) {
    if (o.stopped != StopReason::None) {
      err << "diffusim: "
          << (o.stopped == StopReason::Interrupted ? "interrupted" : "stopped at the work limit")
          << output.discard() << "\n";
      return EXIT_FAILED;
    }
  }
  if (combos.size() == 1 && !outcomes[0].failure.empty()) {
    output.discard();
    err << "diffusim time: " << outcomes[0].failure << "\n";
    return EXIT_FAILED;
  }
  ProcessPlan plan;
  const bool single = combos.size() == 1;
  if (single && r.command == "depth") {
    const double end = r.times.empty() ? scheduleEnd(schedules[0])
                                       : *std::max_element(r.times.begin(), r.times.end());
    planProcess(schedules[0], end, r.everyGiven ? r.every : 0.0, plan);
  }
  std::vector<const SchemeRun*> runs;
  for (const Outcome& o : outcomes) runs.push_back(&o.scheme);
  const RunRecord rec =
      recordOf(r, options, schedules[0], single && r.command == "depth" ? &plan : nullptr,
               summarize(runs), single ? &outcomes[0].reference : nullptr);
  std::vector<std::string> names = sweptColumns(r);
  names.push_back("t_s");
  if (r.command == "depth") names.push_back("depth_m");
  std::vector<std::string_view> views(names.begin(), names.end());
  TableWriter table(output.sink(), r.format, rec, views);
  for (std::size_t i = 0; i < combos.size(); ++i) {
    for (const std::vector<double>& row : outcomes[i].rows) {
      for (double v : sweptValues(combos[i])) table.cell(v);
      for (double v : row) table.cell(v);
    }
  }
  table.finish();
  for (std::size_t i = 0; i < combos.size(); ++i)
    if (!outcomes[i].failure.empty())
      err << "diffusim time: row " << i + 1 << ": " << outcomes[i].failure << "\n";
  return finishOutput(output, out, err);
}

// profile, history and profiles of a schedule: one run, its levels as tables.
int runLevels(const ProcessRequest& r, const CommandLineOptions& options, std::ostream& out,
              std::ostream& err) {
  const ProcessSchedule& s = r.schedule;
  if (const std::string problem = checkSchedule(s); !problem.empty()) throw UsageError(problem);
  const double end = scheduleEnd(s);
  double until = r.command == "profile" ? (r.times.empty() ? end : r.times[0])
                                        : (r.until > 0.0 ? r.until : end);
  if (until > end * (1.0 + 1e-12))
    throw UsageError(std::string(r.command == "profile" ? "--time" : "--until") + ": " +
                     shortest(until) + " s is after the end of the schedule, " + shortest(end) +
                     " s");
  until = std::min(until, end);
  const double every = r.command == "profile" ? 0.0 : (r.everyGiven ? r.every : -1.0);
  ProcessPlan plan;
  if (const std::string problem = planProcess(s, until, every, plan); !problem.empty())
    throw UsageError(problem);
  const std::int32_t n = s.sections + 1;
  const bool implicit = runsImplicit(r, s, plan);
  Reference reference;
  if (r.estimateError) {
    const std::vector<double> times = every >= 0.0 ? plan.outputs : std::vector<double>{until};
    const StopReason why = runReference(r, s, times, implicit, options.budget, reference);
    if (why != StopReason::None) {
      err << "diffusim: "
          << (why == StopReason::Interrupted ? "interrupted" : "stopped at the work limit") << "\n";
      return EXIT_FAILED;
    }
  }
  // The cells of the table in order. An implicit run and an estimate of the
  // grid's error are recorded in the header, so their rows wait for the run.
  const bool waits = implicit || r.estimateError;
  std::vector<double> cells;
  std::vector<double> xs;
  for (std::int32_t i = 0; i < n; ++i) xs.push_back(static_cast<double>(i) * plan.dx);
  const std::vector<std::string_view> columns =
      r.command == "profile"   ? std::vector<std::string_view>{"x_m", "c"}
      : r.command == "history" ? std::vector<std::string_view>{"t_s", "c"}
                               : std::vector<std::string_view>{"t_s", "x_m", "c"};

  Output output(r.output, out);
  ByteSink& sink = output.sink();
  std::unique_ptr<TableWriter> table;
  std::vector<std::string> xText;
  if (!waits) {
    table = std::make_unique<TableWriter>(sink, r.format, recordOf(r, options, s, &plan), columns);
    for (std::int32_t i = 0; i < n; ++i) xText.push_back(shortest(xs[static_cast<std::size_t>(i)]));
  }
  std::int64_t steps = 0;
  for (const Segment& seg : plan.segments) steps += seg.steps;
  const std::uint64_t expected =
      implicit ? static_cast<std::uint64_t>(estimateCosts(s, plan, r.tolerance).implicitSteps * 4.0)
               : static_cast<std::uint64_t>(steps);
  CommandRun run(options, sink, n, expected, [&](const Level& level) {
    if (r.estimateError) reference.compare(level);
    if (waits) {
      for (std::int32_t i = 0; i < (r.command == "history" ? 1 : n); ++i) {
        if (r.command == "profiles") cells.push_back(level.time);
        if (r.command == "history") {
          cells.push_back(level.time);
          cells.push_back(compositionAtDepth(level.values, n, plan.dx, r.depth));
        } else {
          cells.push_back(xs[static_cast<std::size_t>(i)]);
          cells.push_back(level.values[i]);
        }
      }
    } else if (r.command == "profile") {
      for (std::int32_t i = 0; i < n; ++i) {
        table->cellText(xText[static_cast<std::size_t>(i)]);
        table->cell(level.values[i]);
      }
    } else if (r.command == "history") {
      table->cell(level.time);
      table->cell(compositionAtDepth(level.values, n, plan.dx, r.depth));
    } else {
      const std::string t = shortest(level.time);
      for (std::int32_t i = 0; i < n; ++i) {
        table->cellText(t);
        table->cellText(xText[static_cast<std::size_t>(i)]);
        table->cell(level.values[i]);
      }
    }
    return true;
  });
  SchemeRun scheme;
  const RunEnd ended = runScheme(r, s, plan, implicit, run, scheme, r.threads);
  run.finish();
  if (ended == RunEnd::Stopped && !sink.failed()) return stopped(run, output, err);
  if (waits) {
    table = std::make_unique<TableWriter>(
        sink, r.format, recordOf(r, options, s, &plan, summarize({&scheme}), &reference), columns);
    for (double v : cells) table->cell(v);
  }
  table->finish();
  return finishOutput(output, out, err);
}

}  // namespace

bool implicitPreferred(const ProcessRequest& r) {
  if (r.scheme != SchemeChoice::Auto) return r.scheme == SchemeChoice::Implicit;
  if (!checkSchedule(r.schedule).empty()) return false;
  const double end = scheduleEnd(r.schedule);
  const double until = r.command == "profile" ? (r.times.empty() ? end : r.times[0])
                                              : (r.until > 0.0 ? r.until : end);
  const double every = r.command == "profile" ? 0.0 : (r.everyGiven ? r.every : -1.0);
  ProcessPlan plan;
  if (!planProcess(r.schedule, std::min(until, end), every, plan).empty()) return false;
  return runsImplicit(r, r.schedule, plan);
}

int runProcessCommand(const ProcessRequest& request, const CommandLineOptions& options,
                      std::ostream& out, std::ostream& err) {
  if (request.command == "depth" || request.command == "time")
    return runQuery(request, options, out, err);
  return runLevels(request, options, out, err);
}

}  // namespace diffusim
