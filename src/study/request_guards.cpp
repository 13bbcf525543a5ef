#include "study/request_guards.hpp"

#include <algorithm>
#include <cmath>
#include <set>

#include "engine/process_plan.hpp"
#include "engine/sweep.hpp"
#include "format/number_format.hpp"
#include "model/parameters.hpp"
#include "model/resolution.hpp"
#include "model/species.hpp"
#include "words/atmosphere_words.hpp"

namespace diffusim {

namespace {

// A length in millimetres to three significant digits ("0.0126 mm").
std::string millimetres(double m) {
  const double mm = m * 1000.0;
  const int digits = mm > 0.0 && std::isfinite(mm)
                         ? std::clamp(2 - static_cast<int>(std::floor(std::log10(mm))), 0, 12)
                         : 3;
  return fixed(mm, digits) + " mm";
}

std::string cellCount(double cells) {
  return cells >= 0.01 ? fixed(cells, 2) : general(cells);
}

// "--sections N" or the schedule's "sections = N", for `cells` cells over `length`.
std::string sectionsAdvice(const Request& r, const ProcessSchedule& s, double length,
                           double cells) {
  const double n = sectionsFor(s.length, length, cells);
  if (!(n <= static_cast<double>(MAX_GRID_POINTS - 1)))
    return "no grid of up to " + integer(MAX_GRID_POINTS - 1) + " sections resolves it over " +
           shortest(s.length) + " m: is the length in the unit meant (4mm, not 4)?";
  const std::string count = fixed(n, 0);
  return r.schedulePath.empty() ? "give --sections " + count + " or more"
                                : "set sections = " + count + " or more in [specimen]";
}

void checkResolution(const Request& r, const ProcessSchedule& s, std::ostream& err) {
  if (!r.openEnded) {
    const Resolution res = gridResolution(s, askedEnd(r, s));
    const std::string what = "the run's diffusion length sqrt(D t) = " + millimetres(res.length) +
                             " spans " + cellCount(res.cells) +
                             " cells of dx = " + millimetres(res.dx);
    if (res.cells < UNRESOLVED_CELLS)
      throw UsageError(what + ": too coarse for any answer; " +
                       sectionsAdvice(r, s, res.length, RESOLVED_CELLS));
    if (res.cells < RESOLVED_CELLS)
      warn(r, err,
           what + ", too few to trust the answer; " +
               sectionsAdvice(r, s, res.length, RESOLVED_CELLS));
  }
  const bool atDepth = r.command == "history" || r.command == "time";
  const double dx = s.length / static_cast<double>(s.sections);
  if (atDepth && r.depth > 0.0 && r.depth < UNRESOLVED_CELLS * dx)
    throw UsageError("--depth: " + millimetres(r.depth) + " lies inside the first cell, dx = " +
                     millimetres(dx) + "; " + sectionsAdvice(r, s, r.depth, RESOLVED_CELLS));
}

// Units that are probably wrong: a steel's temperature in kelvin that reads
// as degrees Celsius, a specimen measured in metres where millimetres were meant.
void checkUnits(const Request& r, const ProcessSchedule& s, std::ostream& err) {
  if (s.law.model != DiffusivityModel::Law) {
    std::set<double> low;
    for (const Stage& st : s.stages)
      for (const double t : {st.temperature, st.ramped() ? st.temperatureTo : st.temperature})
        if (t < STEEL_LOWEST_KELVIN) low.insert(t);
    for (const double t : low)
      warn(r, err,
           shortest(t) + " K = " + shortest(t - 273.15) +
               " \xC2\xB0"
               "C, below austenite for a steel's diffusivity: did you mean " +
               shortest(t) + "C?");
  }
  // An atmosphere at or above graphite saturation lays down soot: said
  // once a face, at the end of a ramp where its activity is the higher.
  for (const Stage& st : s.stages)
    for (const SurfaceCondition* face : {&st.surface, &st.back}) {
      if (!face->atmosphere.given() || !atmosphereTemperatureInRange(st.temperature) ||
          !atmosphereTemperatureInRange(st.endTemperature()))
        continue;
      double t = st.temperature, activity = atmosphereActivity(face->atmosphere, t);
      if (const double end = atmosphereActivity(face->atmosphere, st.endTemperature());
          end > activity) {
        t = st.endTemperature();
        activity = end;
      }
      if (activity >= 1.0) warn(r, err, sootWarning(t, activity));
    }
  const double size = s.geometry.curved() ? s.geometry.radius : s.length;
  if (size > LARGEST_LIKELY_SPECIMEN)
    warn(r, err,
         std::string(s.geometry.curved() ? "the radius" : "the specimen's length") + " is " +
             shortest(size) + " m: did you mean " + shortest(size) + "mm?");
}

}  // namespace

std::string unreachedWords(const Request& r, double highest) {
  const bool percent = r.hardness == 0.0 && r.composition >= 0.1 && r.composition / 100.0 < highest;
  return (r.hardness > 0.0 ? "--hardness: " + shortest(r.hardness) + " HV is"
                           : "--composition: " + shortest(r.composition) + " is") +
         " above every composition the run reaches (" + shortest(highest) + " at most)" +
         (percent ? "; a composition is a fraction: did you mean " + shortest(r.composition) + "%?"
                  : std::string());
}

void warn(const Request& r, std::ostream& err, const std::string& text) {
  if (!r.quiet) err << "diffusim " << r.command << ": warning: " << text << "\n";
}

void guardRequest(const Request& r, std::ostream& err) {
  if (r.path == Request::Path::Legacy) return;
  checkUnits(r, r.schedule, err);
  ProcessSchedule base = r.schedule;
  // The flags' one stage lasts as long as the run.
  if (r.schedulePath.empty() && !r.openEnded)
    base.stages.front().duration = std::max(base.stages.front().duration, askedEnd(r, base));
  const Sweep sweep(base, sweepAxes(r));
  if (!(sweep.cases() <= static_cast<double>(MAX_PLAN_LEVELS))) return;  // refused later
  // The case the grid resolves least decides, and with nitrogen the species
  // answered (depth, time) or the one resolved less (the rows of both).
  const bool query = r.command == "depth" || r.command == "time";
  std::vector<Species> species = {query ? r.species : Species::Carbon};
  if (!query && base.nitrogen.given) species.push_back(Species::Nitrogen);
  ProcessSchedule worst;
  double fewest = HUGE_VAL;
  for (std::size_t i = 0; i < static_cast<std::size_t>(sweep.cases()); ++i) {
    for (const Species one : species) {
      const ProcessSchedule s =
          base.nitrogen.given ? speciesSchedule(sweep.schedule(i), one) : sweep.schedule(i);
      if (!checkSchedule(s).ok()) return;  // refused, in words, where it runs
      const double cells = gridResolution(s, askedEnd(r, s)).cells;
      if (cells < fewest) {
        fewest = cells;
        worst = s;
      }
    }
  }
  checkResolution(r, worst, err);
}

}  // namespace diffusim
