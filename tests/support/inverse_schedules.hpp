// The schedules and the scheme the tests of the inverse questions share.
#pragma once

#include "engine/scheme.hpp"
#include "model/process.hpp"

namespace diffusim::testing {

// The inverse questions' runs: the scheme auto picks, the implicit one to
// 1e-8.
inline const SchemeOptions INVERSE_SCHEME{SchemeChoice::Auto, 1e-8};

// Boost and diffuse on 200 sections of a 3 mm plate under Tibbetts's law:
// a held stage, then a mass-transfer one.
inline ProcessSchedule boostAndDiffuse() {
  ProcessSchedule s;
  s.length = 0.003;
  s.sections = 200;
  s.initial = 0.002;
  s.law = tibbettsLaw();
  s.stages.push_back({7200.0, 1203.15, {SurfaceKind::Fixed, 0.011, 0.0, 0.0}});
  s.stages.push_back({3600.0, 1203.15, {SurfaceKind::Transfer, 0.0, 0.007, 2e-7}});
  return s;
}

}  // namespace diffusim::testing
