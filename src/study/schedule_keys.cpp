#include "study/schedule_keys.hpp"

#include "format/number_format.hpp"
#include "format/number_parse.hpp"
#include "study/request.hpp"

namespace diffusim {

bool parameterOf(const std::string& key, const ProcessSchedule& s, ScheduleParameter& out,
                 std::string& why) {
  using Kind = ScheduleParameter::Kind;
  const auto refuse = [&](const std::string& reason) {
    why = reason;
    return false;
  };
  const auto take = [&](Kind kind, std::size_t stage = 0) {
    out = {kind, stage};
    return true;
  };
  if (key == "diffusivity.A" || key == "diffusivity.B") {
    if (s.law.moleFraction()) return refuse("the slycke-ericsson model has no A or B");
    return take(key == "diffusivity.A" ? Kind::LawA : Kind::LawB);
  }
  if (key == "specimen.initial") return take(Kind::Initial);
  if (key == "specimen.alloy_factor") return take(Kind::AlloyFactor);
  if (key == "specimen.density") return take(Kind::Density);
  const std::size_t dot = key.find('.');
  std::int64_t stage = 0;
  if (key.rfind("stage", 0) != 0 || dot == std::string::npos ||
      !parseCount(key.substr(5, dot - 5), 1, 1000000, stage))
    return refuse(
        "unknown key (known: diffusivity.A, diffusivity.B, specimen.initial, specimen.density, "
        "specimen.alloy_factor, stageN.duration, stageN.temperature, stageN.composition, "
        "stageN.potential, stageN.beta)");
  if (static_cast<std::size_t>(stage) > s.stages.size())
    return refuse("the schedule has no stage " + integer(stage));
  const auto index = static_cast<std::size_t>(stage - 1);
  const Stage& st = s.stages[index];
  const std::string what = key.substr(dot + 1);
  if (what == "duration") return take(Kind::StageDuration, index);
  if (what == "temperature") {
    if (st.ramped()) return refuse("the stage is a ramp");
    return take(Kind::StageTemperature, index);
  }
  if (what == "composition") {
    if (st.surface.kind != SurfaceKind::Fixed) return refuse("the stage's surface is not held");
    return take(Kind::StageComposition, index);
  }
  if (what == "potential" || what == "beta") {
    if (st.surface.kind != SurfaceKind::Transfer)
      return refuse("the stage's surface is not a mass transfer");
    return take(what == "beta" ? Kind::StageBeta : Kind::StagePotential, index);
  }
  return refuse("unknown key");
}

bool fitParameterOf(const std::string& key, const ProcessSchedule& s, ScheduleParameter& out,
                    std::string& why) {
  if (!parameterOf(key, s, out, why)) return false;
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

}  // namespace diffusim
