#include "study/schedule_keys.hpp"

#include <cmath>
#include <cstdint>

#include "format/number_format.hpp"
#include "format/number_parse.hpp"
#include "model/geometry.hpp"
#include "study/request.hpp"
#include "study/species_checks.hpp"
#include "words/atmosphere_words.hpp"

namespace diffusim {

namespace {

using Kind = ScheduleParameter::Kind;

constexpr const char* KNOWN_KEYS =
    "unknown key (known: specimen.length, specimen.radius, specimen.inner_radius, "
    "specimen.sections, specimen.initial, specimen.density, specimen.alloy_factor, "
    "diffusivity.A, diffusivity.B, diffusivity.a, diffusivity.b, stageN.duration, "
    "stageN.temperature, stageN.temperature.from, stageN.temperature.to, stageN.composition, "
    "stageN.potential, stageN.beta, stageN.flux, stageN.limit, stageN.atmosphere.CO, "
    "stageN.atmosphere.CO2, stageN.atmosphere.H2, stageN.atmosphere.probe_mV, "
    "stageN.atmosphere.dew_point, stageN.back.composition, stageN.back.potential, "
    "stageN.back.beta, nitrogen.A, nitrogen.B, nitrogen.a, nitrogen.b, nitrogen.initial, "
    "stageN.nitrogen.composition, stageN.nitrogen.potential, stageN.nitrogen.beta)";

constexpr const char* NO_NITROGEN = "the schedule has no nitrogen (no [nitrogen] table)";

// A stage's nitrogen surface's key (composition, potential, beta).
bool nitrogenKey(const std::string& what, const SurfaceCondition& c, Kind& kind, std::string& why) {
  if (what == "composition") {
    kind = Kind::NitrogenComposition;
    if (c.kind == SurfaceKind::Fixed) return true;
    why = "the stage's nitrogen surface is not held";
  } else if (what == "potential" || what == "beta") {
    kind = what == "beta" ? Kind::NitrogenBeta : Kind::NitrogenPotential;
    if (c.kind == SurfaceKind::Transfer) return true;
    why = "the stage's nitrogen surface is not a mass transfer";
  } else {
    why =
        "unknown key (known for a stage's nitrogen: nitrogen.composition, nitrogen.potential, "
        "nitrogen.beta)";
  }
  return false;
}

// A face's key (composition, potential, beta; the treated one's flux and
// limit) for the face's condition; false with the reason.
bool faceKey(const std::string& what, const SurfaceCondition& c, bool back, Kind& kind,
             std::string& why) {
  const char* face = back ? "the stage's back face" : "the stage's surface";
  if (what == "composition") {
    kind = back ? Kind::BackComposition : Kind::StageComposition;
    if (c.kind == SurfaceKind::Fixed) return true;
    why = std::string(face) + " is not held";
  } else if (what == "potential" || what == "beta") {
    kind = what == "beta" ? (back ? Kind::BackBeta : Kind::StageBeta)
                          : (back ? Kind::BackPotential : Kind::StagePotential);
    if (c.kind == SurfaceKind::Transfer && (what == "beta" || !c.atmosphere.given())) return true;
    why = c.kind == SurfaceKind::Transfer
              ? std::string(face) + ": its potential is derived from its atmosphere"
              : std::string(face) + " is not a mass transfer";
  } else if (!back && what.rfind("atmosphere.", 0) == 0) {
    const std::string part = what.substr(11);
    const Atmosphere& gas = c.atmosphere;
    const struct {
      const char* name;
      Kind kind;
      double value;
    } parts[] = {{"CO", Kind::AtmosphereCO, gas.co},
                 {"CO2", Kind::AtmosphereCO2, gas.co2},
                 {"H2", Kind::AtmosphereH2, gas.h2},
                 {"probe_mV", Kind::AtmosphereProbe, gas.probeMillivolts},
                 {"dew_point", Kind::AtmosphereDewPoint, gas.dewPoint}};
    for (const auto& p : parts) {
      if (part != p.name) continue;
      kind = p.kind;
      if (!std::isnan(p.value)) return true;
      why = gas.given() ? "the stage's atmosphere has no " + part
                        : std::string("the stage's surface is not an atmosphere");
      return false;
    }
    why =
        "unknown key (known for an atmosphere: atmosphere.CO, atmosphere.CO2, atmosphere.H2, "
        "atmosphere.probe_mV, atmosphere.dew_point)";
  } else if (!back && (what == "flux" || what == "limit")) {
    kind = what == "flux" ? Kind::StageFlux : Kind::StageLimit;
    if (c.kind == SurfaceKind::Flux) return true;
    why = "the stage's surface is not a flux";
  } else {
    why =
        "unknown key (known for a stage: duration, temperature, temperature.from, "
        "temperature.to, composition, potential, beta, flux, limit, atmosphere.CO, "
        "atmosphere.CO2, atmosphere.H2, atmosphere.probe_mV, atmosphere.dew_point, "
        "back.composition, back.potential, back.beta)";
  }
  return false;
}

}  // namespace

bool parameterOf(const std::string& key, const ProcessSchedule& s, ScheduleParameter& out,
                 std::string& why) {
  const auto refuse = [&](const std::string& reason) {
    why = reason;
    return false;
  };
  const auto take = [&](Kind kind, std::size_t stage = 0) {
    out = {kind, stage};
    return true;
  };
  const bool curved = s.geometry.curved();
  const std::string shape = curved ? shapeName(s.geometry.shape) : "plate";
  if (key == "diffusivity.A" || key == "diffusivity.B" || key == "diffusivity.a" ||
      key == "diffusivity.b") {
    if (s.law.moleFraction()) return refuse("the slycke-ericsson model has no A, B, a or b");
    const char c = key.back();
    return take(c == 'A'   ? Kind::LawA
                : c == 'B' ? Kind::LawB
                : c == 'a' ? Kind::LawSmallA
                           : Kind::LawSmallB);
  }
  if (key.rfind("nitrogen.", 0) == 0) {
    if (!s.nitrogen.given) return refuse(NO_NITROGEN);
    const std::string what = key.substr(9);
    if (what == "initial") return take(Kind::NitrogenInitial);
    if (what == "A") return take(Kind::NitrogenA);
    if (what == "B") return take(Kind::NitrogenB);
    if (what == "a") return take(Kind::NitrogenSmallA);
    if (what == "b") return take(Kind::NitrogenSmallB);
    return refuse(
        "unknown key (known for nitrogen: nitrogen.A, nitrogen.B, nitrogen.a, "
        "nitrogen.b, nitrogen.initial)");
  }
  if (key == "specimen.initial") return take(Kind::Initial);
  if (key == "specimen.alloy_factor") return take(Kind::AlloyFactor);
  if (key == "specimen.density") return take(Kind::Density);
  if (key == "specimen.sections") return take(Kind::Sections);
  if (key == "specimen.length") {
    if (curved) return refuse("a " + shape + " is sized by specimen.radius, not length");
    return take(Kind::Length);
  }
  if (key == "specimen.radius" || key == "specimen.inner_radius") {
    if (!curved) return refuse("a plate has no radius");
    return take(key == "specimen.radius" ? Kind::Radius : Kind::InnerRadius);
  }
  const std::size_t dot = key.find('.');
  std::int64_t stage = 0;
  // A stage's number as written plainly (stage1, not stage01 or stage+1), so
  // that one value has one key.
  if (key.rfind("stage", 0) != 0 || dot == std::string::npos ||
      !parseCount(key.substr(5, dot - 5), 1, 1000000, stage) ||
      key.substr(5, dot - 5) != integer(stage))
    return refuse(KNOWN_KEYS);
  if (static_cast<std::size_t>(stage) > s.stages.size())
    return refuse("the schedule has no stage " + integer(stage));
  const auto index = static_cast<std::size_t>(stage - 1);
  const Stage& st = s.stages[index];
  const std::string what = key.substr(dot + 1);
  if (what == "duration") return take(Kind::StageDuration, index);
  if (what == "temperature") {
    if (st.ramped())
      return refuse("the stage is a ramp; its ends are stage" + integer(stage) +
                    ".temperature.from and .to");
    return take(Kind::StageTemperature, index);
  }
  if (what == "temperature.from" || what == "temperature.to") {
    if (!st.ramped())
      return refuse("the stage is not a ramp; give stage" + integer(stage) + ".temperature");
    return take(what == "temperature.to" ? Kind::StageTemperatureTo : Kind::StageTemperature,
                index);
  }
  Kind kind = Kind::StageComposition;
  if (what.rfind("nitrogen.", 0) == 0) {
    if (!s.nitrogen.given) return refuse(NO_NITROGEN);
    if (!nitrogenKey(what.substr(9), st.nitrogen, kind, why)) return false;
    return take(kind, index);
  }
  const bool back = what.rfind("back.", 0) == 0;
  if (back && !s.geometry.hasBackFace()) return refuse("the specimen has no back face");
  if (!faceKey(back ? what.substr(5) : what, back ? st.back : st.surface, back, kind, why))
    return false;
  return take(kind, index);
}

bool fitParameterOf(const std::string& key, const ProcessSchedule& s, ScheduleParameter& out,
                    std::string& why) {
  if (!parameterOf(key, s, out, why)) return false;
  if (out.kind == Kind::Sections) {
    why = "a whole number: set it (--set) or sweep it, not fit it";
    return false;
  }
  // Nitrogen's values do not move carbon's profile, which a fit compares.
  if (out.kind >= Kind::NitrogenA && out.kind <= Kind::NitrogenBeta) {
    why = "a fit compares carbon's profile, which nitrogen's values do not move";
    return false;
  }
  if (parameterRange(out.kind) == ParameterRange::Positive && !(parameterValue(s, out) > 0.0)) {
    why = "the schedule's value is " + shortest(parameterValue(s, out)) +
          "; a positive quantity is fitted in its logarithm, from a start above 0";
    return false;
  }
  return true;
}

std::vector<ScheduleParameter> fitParametersOf(const std::vector<std::string>& keys,
                                               const ProcessSchedule& s, const std::string& name) {
  std::vector<ScheduleParameter> parameters;
  for (std::size_t j = 0; j < keys.size(); ++j) {
    ScheduleParameter p;
    std::string why;
    if (!fitParameterOf(keys[j], s, p, why)) throw UsageError(name + ": " + keys[j] + ": " + why);
    parameters.push_back(p);
    for (std::size_t k = 0; k < j; ++k)
      if (keys[k] == keys[j]) throw UsageError(name + ": " + keys[j] + " is given twice");
  }
  return parameters;
}

Quantity keyQuantity(Kind kind) {
  // Every fraction is a composition.
  if (parameterRange(kind) == ParameterRange::Fraction) return Quantity::Composition;
  switch (kind) {
    case Kind::StageDuration:
      return Quantity::Time;
    case Kind::StageTemperature:
    case Kind::StageTemperatureTo:
    case Kind::AtmosphereDewPoint:
      return Quantity::Temperature;
    case Kind::Length:
    case Kind::Radius:
    case Kind::InnerRadius:
      return Quantity::Length;
    default:
      return Quantity::Plain;
  }
}

Quantity spreadQuantity(Kind kind) {
  const Quantity q = keyQuantity(kind);
  return q == Quantity::Temperature ? Quantity::TemperatureDifference : q;
}

std::string valueProblem(const ScheduleParameter& p, double v) {
  if (!std::isfinite(v)) return "must be a finite number";
  switch (p.kind) {
    case Kind::Sections:
      return v >= 1.0 && v <= 9999.0 && v == std::floor(v) ? "" : "must be from 1 to 9999";
    case Kind::StageTemperature:
    case Kind::StageTemperatureTo:
      return v > 0.0 ? "" : "must be above 0 K";
    case Kind::StageBeta:
    case Kind::BackBeta:
    case Kind::NitrogenBeta:
      return v >= 0.0 ? "" : "must be 0 or above";
    case Kind::StageFlux:
      return v >= 0.0 ? "" : "must be 0 or above (kg/(m^2 s))";
    case Kind::StageLimit:
      return v > 0.0 && v <= 1.0 ? "" : "must be a fraction above 0, at most 1";
    case Kind::InnerRadius:
      return v >= 0.0 ? "" : "must be 0 or above";
    default:
      break;
  }
  switch (parameterRange(p.kind)) {
    case ParameterRange::Fraction:
      return v >= 0.0 && v <= 1.0 ? "" : "must be a fraction from 0 to 1";
    case ParameterRange::Positive:
      return v > 0.0 ? "" : "must be above 0";
    default:
      return "";
  }
}

std::string scheduleProblem(const ProcessSchedule& s) {
  const Geometry& g = s.geometry;
  if (g.curved() && !(g.innerRadius < g.radius))
    return "specimen.inner_radius: must be from 0 to below specimen.radius (" + shortest(g.radius) +
           " m)";
  for (std::size_t i = 0; i < s.stages.size(); ++i)
    if (const AtmosphereProblem p = atmosphereProblem(s.stages[i].surface.atmosphere);
        s.stages[i].surface.atmosphere.given() && p != AtmosphereProblem::None)
      return "stage" + integer(static_cast<std::int64_t>(i + 1)) +
             ".atmosphere: " + atmosphereProblemText(p, false);
  for (std::size_t i = 0; i < s.stages.size(); ++i)
    for (const SurfaceCondition* c : {&s.stages[i].surface, &s.stages[i].back})
      if (c->atmosphere.given() && std::isnan(c->potential) &&
          atmosphereTemperatureInRange(s.stages[i].temperature) &&
          atmosphereTemperatureInRange(s.stages[i].endTemperature()))
        return "stage" + integer(static_cast<std::int64_t>(i + 1)) +
               ".atmosphere: " + pastAustenite(s.stages[i], c->atmosphere);
  for (std::size_t i = 0; i < s.stages.size(); ++i)
    if (s.stages[i].hasAtmosphere() &&
        (!atmosphereTemperatureInRange(s.stages[i].temperature) ||
         !atmosphereTemperatureInRange(s.stages[i].endTemperature())))
      return "stage" + integer(static_cast<std::int64_t>(i + 1)) +
             ".temperature: " + atmosphereProblemText(AtmosphereProblem::TemperatureRange, false);
  for (std::size_t i = 0; i < s.stages.size(); ++i)
    if (s.stages[i].surface.limited() && !(s.stages[i].surface.limit > s.initial))
      return "stage" + integer(static_cast<std::int64_t>(i + 1)) +
             ".limit: must be above the initial composition (" + shortest(s.initial) + ")";
  return nitrogenProblem(s);
}

}  // namespace diffusim
