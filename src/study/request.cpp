#include "study/request.hpp"

#include <algorithm>

namespace diffusim {

SimulationInputs flagInputs(const ProcessSchedule& s) {
  SimulationInputs in;
  in.temperature = s.stages.front().temperature;
  in.specimenLength = s.length;
  in.preFactorA = s.law.A;
  in.exponentB = s.law.B;
  in.initialComposition = s.initial;
  in.injectionComposition = s.stages.front().surface.composition;
  return in;
}

double askedEnd(const Request& r, const ProcessSchedule& s) {
  const double end = scheduleEnd(s);
  if (r.command == "profile") return r.times.empty() ? end : r.times.front();
  if (r.command == "history" || r.command == "profiles") return r.until > 0.0 ? r.until : end;
  if (r.command == "depth" && !r.times.empty())
    return *std::max_element(r.times.begin(), r.times.end());
  return end;
}

double levelInterval(const Request& r) {
  if (r.command == "profile") return 0.0;
  return r.everyGiven ? r.every : -1.0;
}

LevelKind levelKind(const Request& r) {
  return r.command == "profile"   ? LevelKind::Profile
         : r.command == "history" ? LevelKind::History
                                  : LevelKind::Profiles;
}

SweepAxes sweepAxes(const Request& r) {
  SweepAxes axes{r.temperatures, {}};
  for (const Request::KeyedAxis& a : r.sweeps) axes.values.push_back(a.axis);
  return axes;
}

Query queryOf(const Request& r) {
  Query q;
  q.kind = r.command == "depth" ? Query::Kind::Depth : Query::Kind::Time;
  q.composition = r.composition;
  q.species = r.species;
  q.depth = r.depth;
  q.times = r.times;
  q.every = r.everyGiven ? r.every : 0.0;
  q.openEnded = r.openEnded;
  q.scheme = r.scheme;
  q.estimateError = r.estimateError;
  return q;
}

}  // namespace diffusim
