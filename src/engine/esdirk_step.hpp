// One step of the implicit scheme by a third-order, L-stable, stiffly
// accurate ESDIRK with four stages and an embedded second-order solution:
// the same semi-discrete system, faces and matrices as ImplicitStep. The
// diagonal coefficient is the same in every implicit stage, so a constant D
// factors I - gamma h J once a step; a D that follows C or T takes each
// stage's matrix at a predicted stage level and solves the stage again at
// the level found. The step returns the same quantities as ImplicitStep.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "engine/implicit_step.hpp"

namespace diffusim {

class EsdirkStep {
 public:
  explicit EsdirkStep(std::int32_t points);

  // As ImplicitStep::step.
  double step(const StageModel& m, const double* c, double t, double h, double* next,
              double* estimate, const double* e, double* carried);
  double curvature(const StageModel& m, const double* c, double t) {
    return base_.curvature(m, c, t);
  }
  void restart() { base_.restart(); }
  std::int64_t solves() const { return base_.solves(); }
  // The last step's third stage level, at stageShare() h into the step
  // (second order there, as every stage of the method).
  const double* stageValues() const { return stage_[2].data(); }
  static double stageShare();

 private:
  ImplicitStep base_;  // its matrix, operator and solves
  std::size_t size_;
  // Per stage: its level Z, h F(Z) and the carried error's h J e stage.
  std::array<std::vector<double>, 4> stage_, k_, ke_;
  std::vector<double> r_, re_, delta_, deltaE_;
};

}  // namespace diffusim
