// One step of the implicit scheme by a fourth-order, L-stable, stiffly
// accurate ESDIRK with six stages: the same semi-discrete system, faces and
// matrices as ImplicitStep. The diagonal coefficient is the same in every
// implicit stage, so a constant D factors I - gamma h J once a step; a D
// that follows C solves each stage with D at a level near the stage's own,
// again until that level settles; a ramp's D is taken at the stage's time.
// The step returns the same quantities as ImplicitStep, and an estimate of
// its own local error (not an embedded lower-order solution's).
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "engine/implicit_step.hpp"

namespace diffusim {

class EsdirkStep {
 public:
  static constexpr int STAGES = 6;
  // The step control's exponent (see implicit.cpp).
  // The share of the tolerance the step control aims the estimate at, as
  // TR-BDF2's (its carried estimate has been 0.72 to 1.07 times the error;
  // 0.7 took 8 % fewer steps but let a flux held at its limit pass the
  // tolerance by 2 %).
  static constexpr double GLOBAL_SHARE = 0.5;
  static constexpr double CONTROL_ORDER = 3.0;
  // The step control follows the error itself, not its history, and may
  // lengthen a stage's first step this many times over.
  static constexpr bool PI_CONTROL = false;
  static constexpr double FIRST_GROWTH = 30.0;

  explicit EsdirkStep(std::int32_t points);

  // A D(C) stage's level is solved again until the level it would still
  // move by is at most this.
  void settleWithin(double change) { settle_ = change; }

  // As ImplicitStep::step.
  double step(const StageModel& m, const double* c, double t, double h, double* next,
              double* estimate, const double* e, double* carried);
  double curvature(const StageModel& m, const double* c, double t) {
    return base_.curvature(m, c, t);
  }
  void restart() {
    base_.restart();
    previousStep_ = 0.0;
  }
  std::int64_t solves() const { return base_.solves(); }
  // The last step's second stage level, at stageShare() h into the step.
  const double* stageValues() const { return stage_[1].data(); }
  static double stageShare();
  // h dC/dt at the last step's start and end: K_1 and, stiffly accurate,
  // K_6.
  const double* startSlope() const { return k_[0].data(); }
  const double* endSlope() const { return k_[STAGES - 1].data(); }

 private:
  // Stage s from its right-hand sides r_, re_: Z in stage_[s], its solves
  // in delta_, deltaE_.
  void solveStage(const StageModel& m, std::size_t s, const double* c, const double* e, double time,
                  double span);
  void pass(const StageModel& m, std::size_t s, const double* c, const double* e, double time,
            double span, const double* at);
  void settle(const StageModel& m, std::size_t s, const double* c, const double* e, double time,
              double span);
  void predict(const StageModel& m, std::size_t s, const double* c);

  ImplicitStep base_;  // its matrix, operator and solves
  std::size_t size_;
  double settle_ = 0.0;
  double previousStep_ = 0.0;  // the last step's length in this stage; 0 at its start
  // Per stage: its level Z, h F(Z) and the carried error's h J e stage.
  std::array<std::vector<double>, STAGES> stage_, k_, ke_;
  std::vector<double> r_, re_, delta_, deltaE_, level_;
};

}  // namespace diffusim
