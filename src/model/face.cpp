#include "model/face.hpp"

#include "model/process.hpp"

namespace diffusim {

FaceModel faceModel(const ProcessSchedule& schedule, const SurfaceCondition& c) {
  FaceModel f;
  // A sealed face exchanges nothing: its value only keeps the exchange's
  // arithmetic what it always was.
  f.value = schedule.initial;
  f.open = c.kind != SurfaceKind::Sealed;
  switch (c.kind) {
    case SurfaceKind::Fixed:
      f.held = true;
      f.value = c.composition;
      f.bound = f.value;
      break;
    case SurfaceKind::Transfer:
      f.value = c.potential / schedule.alloyFactor;
      f.beta = c.beta;
      f.bound = f.value;
      break;
    case SurfaceKind::Flux:
      f.fed = true;
      f.flux = c.flux / schedule.density;
      f.limit = c.limit;
      f.value = c.limit;
      f.bound = c.limit;
      break;
    case SurfaceKind::Sealed:
      break;
  }
  return f;
}

double faceValue(const ProcessSchedule& schedule, const SurfaceCondition& c) {
  return faceModel(schedule, c).value;
}

}  // namespace diffusim
