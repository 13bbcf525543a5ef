#include "cli/schedule_flags.hpp"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "cli/arguments.hpp"
#include "format/number_format.hpp"
#include "format/number_parse.hpp"
#include "study/named_values.hpp"
#include "study/schedule_overrides.hpp"

namespace diffusim {

// --geometry, --radius and --inner-radius over the flags' plate.
void readGeometry(const Arguments& args, ProcessSchedule& s) {
  const FlagTexts& t = args.texts;
  Geometry& g = s.geometry;
  if (t.geometry == "cylinder") {
    g.shape = Shape::Cylinder;
  } else if (t.geometry == "sphere") {
    g.shape = Shape::Sphere;
  } else if (!t.geometry.empty() && t.geometry != "plate") {
    throw UsageError("--geometry: '" + t.geometry + "' is not plate, cylinder or sphere");
  }
  if (!g.curved()) {
    for (const char* flag : {"--radius", "--inner-radius"})
      if (args.given(flag))
        throw UsageError(
            std::string(flag) +
            ": a plate has no radius; give --geometry cylinder or sphere, or --length");
    return;
  }
  if (args.given("--length"))
    throw UsageError("--length: a " + t.geometry + " is sized by --radius, not --length");
  if (!args.given("--radius"))
    throw UsageError("--radius is required with --geometry " + t.geometry);
  g.radius = quantityFlag("--radius", t.radius, Quantity::Length);
  requirePositive("--radius", g.radius, "radius");
  if (args.given("--inner-radius")) {
    g.innerRadius = quantityFlag("--inner-radius", t.innerRadius, Quantity::Length);
    if (!(g.innerRadius >= 0.0 && g.innerRadius < g.radius))
      throw UsageError("--inner-radius: " + shortest(g.innerRadius) +
                       " m must be from 0 to below the radius, " + shortest(g.radius) + " m");
  }
  s.length = g.radius - g.innerRadius;
}

// --model, --alloy-factor and --density over the flags' one stage: carbon in
// steel. A model's law takes --A and --B over its own constants as a
// schedule's [diffusivity] does (Tibbetts's), or has none to take
// (Slycke and Ericsson's). With an alloy factor --cs is the atmosphere's
// carbon potential, and the surface is held at what it gives the steel,
// cs / alloy factor (the limit of a fast transfer).
void readSteelFlags(const Arguments& args, ProcessSchedule& s) {
  const FlagTexts& t = args.texts;
  if (args.given("--model")) {
    if (t.model == "slycke-ericsson") {
      for (const char* flag : {"--A", "--B"})
        if (args.given(flag))
          throw UsageError(std::string(flag) + ": the slycke-ericsson model has its own constants");
      s.law = DiffusivityLaw{};
      s.law.model = DiffusivityModel::SlyckeEricsson;
    } else if (t.model == "tibbetts") {
      const DiffusivityLaw given = s.law;
      s.law = tibbettsLaw();
      if (args.given("--A")) s.law.A = given.A;
      if (args.given("--B")) s.law.B = given.B;
    } else {
      throw UsageError("--model: '" + t.model + "' is not tibbetts or slycke-ericsson");
    }
  }
  if (args.given("--steel")) {
    const SteelGrade* grade = findSteelGrade(t.steel);
    if (grade == nullptr)
      throw UsageError("--steel: unknown grade '" + t.steel + "' (known: " + steelGradeNames() +
                       ")");
    s.steel = nominalComposition(*grade);
  }
  if (args.given("--density")) {
    s.density = quantityFlag("--density", t.density, Quantity::Plain);
    requirePositive("--density", s.density, "density");
  }
  if (args.given("--alloy-factor")) {
    s.alloyFactor = quantityFlag("--alloy-factor", t.alloyFactor, Quantity::Plain);
    requirePositive("--alloy-factor", s.alloyFactor, "alloy factor");
    s.stages.front().surface.composition /= s.alloyFactor;
  }
}

// --stage-duration, --set and --sweep over the schedule read: one value of
// --stage-duration edits it as --set does, a list sweeps it as --sweep does.
void readOverrides(const Arguments& args, Request& r, bool query) {
  const FlagTexts& t = args.texts;
  for (const std::string& item : t.stageDurations) {
    const std::size_t eq = item.find('=');
    std::int64_t index = 0;
    if (eq == std::string::npos || !parseCount(item.substr(0, eq), 1, 1000000, index))
      throw UsageError("--stage-duration: '" + item + "' is not N=DURATION[,DURATION...]");
    if (t.schedule.empty() || static_cast<std::size_t>(index) > r.schedule.stages.size())
      throw UsageError("--stage-duration: the schedule has no stage " + integer(index));
    const auto stage = static_cast<std::size_t>(index - 1);
    const std::string key = "stage" + integer(index) + ".duration";
    const auto named = [&](const auto& list) {
      return std::any_of(list.begin(), list.end(), [&](const auto& d) { return d.key == key; });
    };
    if (named(r.settings) || named(r.sweeps))
      throw UsageError("--stage-duration: stage " + integer(index) +
                       " is given twice; give its values once, as a list");
    std::vector<double> values =
        quantityList("--stage-duration", item.substr(eq + 1), Quantity::Time, "duration");
    const ScheduleParameter p{ScheduleParameter::Kind::StageDuration, stage};
    if (values.size() == 1) {
      r.settings.push_back({key, p, values.front()});
      continue;
    }
    if (!query)
      throw UsageError("--stage-duration: lists (sweeps) are for the depth and time commands");
    r.sweeps.push_back({key, {p, std::move(values)}});
  }
  for (const std::string& item : t.sets) r.settings.push_back(settingOf("--set", item, r.schedule));
  for (const std::string& item : t.sweeps) {
    if (!query) throw UsageError("--sweep: sweeps are for the depth and time commands");
    r.sweeps.push_back(sweepOf("--sweep", item, r.schedule));
  }
  refuseOverlaps(r);
  applySettings(r.schedule, r.settings, "--set");
}

}  // namespace diffusim
