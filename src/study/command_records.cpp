// The records of the commands that are not a schedule's levels or queries:
// the flags' one stage, design, fit and the spread of samples.
#include "engine/plan.hpp"
#include "format/number_format.hpp"
#include "study/command_support.hpp"
#include "study/run_record.hpp"

namespace diffusim {

std::string stageList(const std::vector<std::size_t>& varied) {
  std::string text;
  for (const std::size_t k : varied) {
    if (!text.empty()) text += ',';
    text += integer(static_cast<std::int64_t>(k + 1));
  }
  return text;
}

RunRecord flagsRecord(const Request& r, const RunOptions& options) {
  const SimulationInputs in = flagInputs(r.schedule);
  const bool legacy = r.path == Request::Path::Legacy;
  RunRecord rec = recordHead(r, options);
  rec.inputs = {number("temperature", in.temperature),
                number("length", in.specimenLength),
                count("sections", r.schedule.sections),
                number("A", in.preFactorA),
                number("B", in.exponentB),
                number("c0", in.initialComposition),
                number("cs", in.injectionComposition)};
  if (r.command == "profile") rec.inputs.push_back(number("time", r.times.front()));
  if (r.command == "history") rec.inputs.push_back(number("depth", r.depth));
  if (!legacy && r.command != "profile") {
    rec.inputs.push_back(number("until", r.until));
    if (r.everyGiven) rec.inputs.push_back(number("every", r.every));
  }
  if (legacy) rec.inputs.push_back(word("rules", "legacy"));
  return rec;
}

void addFlagsGrid(RunRecord& rec, std::int32_t points, double d, double dx,
                  const std::vector<Segment>& plan, FarFace farFace) {
  rec.grid = {count("points", points),
              number("D", d),
              number("dx", dx),
              number("dt", plan.front().dt),
              count("steps", stepsOf(plan)),
              number("r", plan.front().meshRatio)};
  if (plan.size() > 1) {
    rec.grid.push_back(number("dt_last", plan.back().dt));
    rec.grid.push_back(number("r_last", plan.back().meshRatio));
  }
  rec.grid.push_back(word("far_face", farFace == FarFace::Mirror ? "mirror" : "copy"));
  rec.grid.push_back(word("scheme", "explicit"));
}

RunRecord designRecord(const Request& r, const RunOptions& options, const DesignResult& d) {
  RunRecord rec = recordHead(r, options);
  rec.inputs.push_back(word("schedule", r.schedulePath));
  addOverrides(rec, r);
  rec.inputs.push_back(word("vary", stageList(r.varied)));
  if (r.surfaceTarget) rec.inputs.push_back(number("target.surface", r.surfaceComposition));
  if (r.depthTarget) {
    rec.inputs.push_back(number("target.depth", r.depthTargetValue));
    rec.inputs.push_back(number("target.at", r.depthAt));
  }
  if (r.maxDuration > 0.0) rec.inputs.push_back(number("max_duration", r.maxDuration));
  if (!r.writeSchedule.empty()) rec.inputs.push_back(word("write_schedule", r.writeSchedule));
  rec.grid.push_back(number("reached.surface", d.surfaceReached));
  if (r.depthTarget) rec.grid.push_back(number("reached.depth", d.depthReached));
  rec.grid.push_back(count("forward_runs", d.runs));
  rec.grid.push_back(number("tolerance", r.scheme.tolerance));
  return rec;
}

RunRecord fitRecord(const Request& r, const RunOptions& options, const FitResult& fit,
                    std::size_t points) {
  RunRecord rec = recordHead(r, options);
  rec.inputs.push_back(word("schedule", r.schedulePath));
  addOverrides(rec, r);
  rec.inputs.push_back(word("data", r.dataPath));
  std::string keys;
  for (const std::string& k : r.fitKeys) {
    if (!keys.empty()) keys += ',';
    keys += k;
  }
  rec.inputs.push_back(word("fit", keys));
  rec.grid.push_back(word("converged", "yes"));
  for (std::size_t j = 0; j < r.fitKeys.size(); ++j)
    rec.grid.push_back(
        word("determined." + r.fitKeys[j], fit.standings[j].determined() ? "yes" : "no"));
  rec.grid.push_back(count("points", static_cast<std::int64_t>(points)));
  rec.grid.push_back(number("rms_residual", fit.rmsResidual));
  rec.grid.push_back(word("correlation", list(fit.correlation)));
  rec.grid.push_back(count("iterations", fit.iterations));
  rec.grid.push_back(count("forward_runs", fit.runs));
  rec.grid.push_back(word("solver", "gsl multifit_nlinear trust-region lm"));
  return rec;
}

RunRecord spreadRecord(const Request& r, const RunOptions& options, const ProcessSchedule& base,
                       const Spread& spread, bool profile) {
  // Each sample takes the scheme the options pick for it.
  SchemeSummary scheme;
  scheme.name = r.scheme.choice == SchemeChoice::Implicit   ? "implicit"
                : r.scheme.choice == SchemeChoice::Explicit ? "explicit"
                                                            : "auto";
  RunRecord rec = recordOf(r, options, base, nullptr, scheme);
  rec.inputs.push_back(count("samples", r.samples));
  rec.inputs.push_back(count("seed", static_cast<std::int64_t>(r.seed)));
  for (const Uncertainty& u : base.uncertainty)
    rec.inputs.push_back(number("uncertainty." + u.key + (u.relative ? ".relative" : ".sd"), u.sd));
  if (!profile) {
    rec.grid.push_back(
        count(r.command == "time" ? "samples_not_reached" : "samples_beyond_specimen",
              static_cast<std::int64_t>(spread.beyond)));
  }
  rec.grid.push_back(count("samples_invalid", static_cast<std::int64_t>(spread.invalid)));
  if (!profile) {
    rec.grid.push_back(number("mean", spread.mean));
    rec.grid.push_back(number("sd", spread.sd));
  }
  return rec;
}

}  // namespace diffusim
