#include "study/run_record.hpp"

#include <cmath>

#include "format/number_format.hpp"
#include "model/geometry.hpp"
#include "model/species.hpp"
#include "study/command_support.hpp"
#include "study/named_values.hpp"

namespace diffusim {

namespace {

// How a potential was derived: the atmosphere as measured
// (stageN.atmosphere_CO, ...), and on a ramp the potential at each end
// (stageN.potential_from, _to; stageN.potential is the highest on the way).
void addAtmosphere(RunRecord& rec, std::size_t i, const Atmosphere& gas, const Stage& st,
                   const std::string& prefix) {
  const auto value = [&](const char* what, double v) {
    if (!std::isnan(v)) rec.inputs.push_back(number(stageKey(i, (prefix + what).c_str()), v));
  };
  value("atmosphere_CO", gas.co);
  value("atmosphere_CO2", gas.co2);
  value("atmosphere_H2", gas.h2);
  value("atmosphere_probe_mV", gas.probeMillivolts);
  value("atmosphere_dew_point", gas.dewPoint);
  if (st.ramped()) {
    value("potential_from", atmospherePotential(gas, st.temperature));
    value("potential_to", atmospherePotential(gas, st.temperatureTo));
  }
}

// A stage's face: stageN.<face> = its kind, then its values under keys
// with `prefix` (stageN.composition, stageN.back_potential, ...).
void addFace(RunRecord& rec, std::size_t i, const Stage& st, const SurfaceCondition& c,
             const char* face, const std::string& prefix) {
  const auto value = [&](const char* what, double v) {
    rec.inputs.push_back(number(stageKey(i, (prefix + what).c_str()), v));
  };
  rec.inputs.push_back(word(stageKey(i, face), surfaceKindWord(c.kind)));
  switch (c.kind) {
    case SurfaceKind::Fixed:
      value("composition", c.composition);
      break;
    case SurfaceKind::Transfer:
      value("potential", c.potential);
      value("beta", c.beta);
      if (c.atmosphere.given()) addAtmosphere(rec, i, c.atmosphere, st, prefix);
      break;
    case SurfaceKind::Sealed:
      break;
    case SurfaceKind::Flux:
      value("flux", c.flux);
      if (c.limited()) value("limit", c.limit);
      break;
  }
}

void addStages(RunRecord& rec, const ProcessSchedule& s) {
  double end = 0.0;
  for (std::size_t i = 0; i < s.stages.size(); ++i) {
    const Stage& st = s.stages[i];
    end += st.duration;
    rec.inputs.push_back(number(stageKey(i, "duration"), st.duration));
    rec.inputs.push_back(number(stageKey(i, "end"), end));
    if (st.ramped()) {
      rec.inputs.push_back(number(stageKey(i, "temperature_from"), st.temperature));
      rec.inputs.push_back(number(stageKey(i, "temperature_to"), st.temperatureTo));
    } else {
      rec.inputs.push_back(number(stageKey(i, "temperature"), st.temperature));
    }
    addFace(rec, i, st, st.surface, "surface", "");
    // The face at x = L, when it is not sealed.
    if (st.back.kind != SurfaceKind::Sealed) addFace(rec, i, st, st.back, "back", "back_");
    if (s.nitrogen.given) addFace(rec, i, st, st.nitrogen, "nitrogen", "nitrogen_");
  }
}

// Nitrogen's law and initial composition (nitrogen.A, ...).
void addNitrogen(RunRecord& rec, const NitrogenSpecies& n) {
  if (n.law.model != DiffusivityModel::Law)
    rec.inputs.push_back(word("nitrogen.model", modelName(n.law.model)));
  rec.inputs.push_back(number("nitrogen.A", n.law.A));
  rec.inputs.push_back(number("nitrogen.B", n.law.B));
  rec.inputs.push_back(number("nitrogen.a", n.law.a));
  rec.inputs.push_back(number("nitrogen.b", n.law.b));
  rec.inputs.push_back(number("nitrogen.initial", n.initial));
}

}  // namespace

const char* surfaceKindWord(SurfaceKind kind) {
  switch (kind) {
    case SurfaceKind::Fixed:
      return "composition";
    case SurfaceKind::Transfer:
      return "transfer";
    case SurfaceKind::Sealed:
      return "sealed";
    case SurfaceKind::Flux:
      break;
  }
  return "flux";
}

std::string stageKey(std::size_t i, const char* what) {
  return "stage" + integer(static_cast<std::int64_t>(i + 1)) + "." + what;
}

std::string list(const std::vector<double>& v) {
  std::string text;
  for (double x : v) {
    if (!text.empty()) text += ',';
    appendShortest(text, x);
  }
  return text;
}

// Each grid point's radius (a curved specimen's r_m column).
std::vector<double> radiiOf(const ProcessSchedule& s) {
  std::vector<double> r;
  const std::int32_t n = s.sections + 1;
  const double dx = s.length / static_cast<double>(s.sections);
  for (std::int32_t i = 0; i < n; ++i) r.push_back(nodeRadius(s.geometry, dx, i, n));
  return r;
}

void addOverrides(RunRecord& rec, const Request& r) {
  for (const Request::Setting& set : r.settings)
    rec.inputs.push_back(number("set." + set.key, set.value));
  for (const Request::KeyedAxis& a : r.sweeps)
    rec.inputs.push_back(word("sweep." + a.key, list(a.axis.values)));
}

void addNitrogenPlan(RunRecord& rec, const std::vector<ProcessPiece>& firsts) {
  std::vector<Field> nitrogen;
  for (const ProcessPiece& p : firsts)
    nitrogen.push_back(number(stageKey(p.stage, "nitrogen_D_max"), p.plan.dMax));
  auto at = rec.grid.begin();
  for (auto f = rec.grid.begin(); f != rec.grid.end(); ++f)
    if (f->key.size() > 6 && f->key.compare(f->key.size() - 6, 6, ".D_max") == 0) at = f + 1;
  rec.grid.insert(at, nitrogen.begin(), nitrogen.end());
}

RunRecord recordHead(const Request& r, const RunOptions& options) {
  RunRecord rec;
  rec.program = "diffusim " + options.version;
  rec.command = r.command;
  return rec;
}

RunRecord recordOf(const Request& r, const RunOptions& options, const ProcessSchedule& s,
                   const ProcessPlan* plan, const SchemeSummary& scheme,
                   const GridErrorEstimate* reference, double uptake, double nitrogenUptake) {
  RunRecord rec = recordHead(r, options);
  rec.inputs.push_back(word("schedule", r.schedulePath.empty() ? "flags" : r.schedulePath));
  if (s.geometry.curved()) {
    rec.inputs.push_back(word("geometry", shapeName(s.geometry.shape)));
    rec.inputs.push_back(number("radius", s.geometry.radius));
    if (s.geometry.hollow()) rec.inputs.push_back(number("inner_radius", s.geometry.innerRadius));
  }
  rec.inputs.push_back(number("length", s.length));
  rec.inputs.push_back(count("sections", s.sections));
  rec.inputs.push_back(number("initial", s.initial));
  if (s.density != ProcessSchedule{}.density) rec.inputs.push_back(number("density", s.density));
  if (s.alloyFactor != 1.0) rec.inputs.push_back(number("alloy_factor", s.alloyFactor));
  if (!s.steel.grade.empty()) rec.inputs.push_back(word("steel.grade", s.steel.grade));
  for (std::size_t i = 0; i < STEEL_ELEMENTS.size(); ++i)
    if (!std::isnan(s.steel.elements[i]))
      rec.inputs.push_back(number(std::string("steel.") + STEEL_ELEMENTS[i], s.steel.elements[i]));
  if (s.law.model != DiffusivityModel::Law)
    rec.inputs.push_back(word("model", modelName(s.law.model)));
  if (!s.law.moleFraction()) {
    rec.inputs.push_back(number("A", s.law.A));
    rec.inputs.push_back(number("B", s.law.B));
    rec.inputs.push_back(number("a", s.law.a));
    rec.inputs.push_back(number("b", s.law.b));
  }
  if (!s.hardness.empty()) {
    rec.inputs.push_back(word("hardness.carbon", list(s.hardness.carbon)));
    rec.inputs.push_back(word("hardness.HV", list(s.hardness.hv)));
  }
  if (s.nitrogen.given) addNitrogen(rec, s.nitrogen);
  addStages(rec, s);
  if (r.temperatures.size() > 1)
    rec.inputs.push_back(word("sweep.temperature", list(r.temperatures)));
  addOverrides(rec, r);
  if (r.hardness > 0.0) rec.inputs.push_back(number("hardness", r.hardness));
  if (r.command == "depth" || r.command == "time") {
    if (s.nitrogen.given) rec.inputs.push_back(word("species", speciesSymbol(r.species)));
    rec.inputs.push_back(number("composition", r.composition));
  }
  if (r.command == "history" || r.command == "time") rec.inputs.push_back(number("depth", r.depth));
  if (r.times.size() == 1) rec.inputs.push_back(number("time", r.times[0]));
  if (r.times.size() > 1) rec.inputs.push_back(word("time", list(r.times)));
  if (r.until > 0.0) rec.inputs.push_back(number("until", r.until));
  if (r.everyGiven) rec.inputs.push_back(number("every", r.every));

  if (!std::isnan(uptake) && s.density == ProcessSchedule{}.density)
    rec.inputs.push_back(number("density", s.density));
  rec.grid.push_back(count("points", s.sections + 1));
  rec.grid.push_back(number("dx", s.length / static_cast<double>(s.sections)));
  if (plan != nullptr) {
    for (const ProcessPiece& p : plan->firsts) {
      if (!scheme.implicit()) rec.grid.push_back(number(stageKey(p.stage, "dt"), p.plan.dt));
      rec.grid.push_back(number(stageKey(p.stage, "D_max"), p.plan.dMax));
    }
    if (!scheme.implicit())
      rec.grid.push_back(count("steps", static_cast<std::int64_t>(plan->explicitSteps)));
  }
  // The far end: a zero-flux wall at L (the mirror node), or a solid
  // specimen's centre, which no flux crosses by symmetry.
  rec.grid.push_back(word("far_face", s.geometry.hasBackFace() ? "mirror" : "centre"));
  rec.grid.push_back(word("scheme", scheme.name));
  if (scheme.implicit()) {
    rec.grid.push_back(count("steps", scheme.implicitSteps));
    rec.grid.push_back(number("tolerance", r.scheme.tolerance));
    rec.grid.push_back(word("method", methodName(r.scheme.method)));
    rec.grid.push_back(number("error_estimate", scheme.errorEstimate));
    if (diffusivityVariesWidely(s)) rec.grid.push_back(word("error_estimate_reliable", "no"));
  }
  if (reference != nullptr && reference->compared()) {
    rec.grid.push_back(number("spatial_error_estimate", reference->estimate()));
    rec.grid.push_back(count("spatial_error_sections", reference->sections()));
    if (!reference->trusted()) rec.grid.push_back(word("spatial_error_estimate_reliable", "no"));
  }
  if (!std::isnan(uptake))
    rec.grid.push_back(number(s.nitrogen.given ? "uptake_C_g_per_m2" : "uptake_g_per_m2", uptake));
  if (!std::isnan(nitrogenUptake)) rec.grid.push_back(number("uptake_N_g_per_m2", nitrogenUptake));
  return rec;
}

}  // namespace diffusim
