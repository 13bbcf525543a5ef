// One step of the implicit scheme: TR-BDF2 on the explicit scheme's
// semi-discrete system (the same nodes, conservative face fluxes with the
// mean of the two nodes' D, the same surface node and mirror wall at x = L).
//
// With gamma = 2 - sqrt(2) a step of h is a trapezoidal stage to t + gamma h
// and a BDF2 stage from t and t + gamma h to t + h; both solve with the one
// matrix I - (gamma / 2) h J, so a constant D factors it once a step. The
// method is second order and L-stable: the modes a step cannot follow are
// damped (by at most 0.21 a step whatever their rate), not left to ring as
// Crank-Nicolson leaves them, which is what lets a step after the transient
// be long. The step also gives an estimate of its local error (Hosea and
// Shampine's, filtered through the same matrix) and carries an earlier error
// through the step's own linear propagator.
#pragma once

#include <cstdint>
#include <limits>
#include <vector>

#include "model/process.hpp"

namespace diffusim {

// One stage as the step sees it.
struct StageModel {
  // The faces (a fed surface that reaches its limit is held there by the
  // run), how D follows C and T, and its extremes.
  StageConditions stage;
  double diffusivity = 0.0;  // constant D
  ExpRule exp;               // D(C)
  double dx = 0.0;
  const CellWeights* weights = nullptr;  // the specimen's (never null in a run)
  // D changes within a step (with C or with t): the predictor-corrector path.
  bool changing() const { return stage.variable || stage.ramped; }
  // The rate (1/s) of the stage's slowest decaying mode for the smallest D
  // of the run's compositions; 0 when the content cannot change (sealed).
  double slowRate = 0.0;
  double gridTime = 0.0;  // dx^2 / D for the smallest D, s
};
StageModel stageModel(const ProcessSchedule& schedule, const Stage& stage, CompositionRange range,
                      double dx, const CellWeights* weights, double stageStart);

class ImplicitStep {
 public:
  // The step control's (see implicit.cpp): local errors of order 3, a PI
  // controller, a stage's first step grown at most as any other.
  // The share of the tolerance the step control aims the estimate at:
  // TR-BDF2's carried estimate has been 0.58 to 1.01 times the error.
  static constexpr double GLOBAL_SHARE = 0.5;
  static constexpr double CONTROL_ORDER = 3.0;
  static constexpr bool PI_CONTROL = true;
  static constexpr double FIRST_GROWTH = 4.0;

  explicit ImplicitStep(std::int32_t points);

  // From `c` at time t over h: `next`, the local error `estimate`, and
  // `carried`, the error `e` carried through the step (no source). Returns
  // the B that entered through both faces over the step per unit outer
  // area, composition times metres.
  double step(const StageModel& m, const double* c, double t, double h, double* next,
              double* estimate, const double* e, double* carried);

  // dt^2 |C''| / 2 for dt = 1 s, at most over the nodes: the local error a
  // first-order step would make, from C'' = J (J C + S) with J at c, t.
  double curvature(const StageModel& m, const double* c, double t);

  // A new stage: the next step has no earlier step's matrix to start from.
  void restart() { previousMatrix_ = false; }

  std::int64_t solves() const { return solves_; }
  // The last step's trapezoidal level, at gamma h into the step.
  const double* stageValues() const { return gamma_.data(); }
  static double stageShare();

 private:
  // The higher-order step solves its stages with the same matrices.
  friend class EsdirkStep;
  // The face ratios q_j = a_j D_{j+1/2} gamma h / dx^2, g = beta gamma h / dx
  // at either face, and the factors of I - (1/2) L for them.
  struct Matrix {
    std::vector<double> q, cp, pivot, lower;
    std::vector<double> upper;  // the two-ended elimination's
    double g = 0.0, gBack = 0.0;
    double inflow = 0.0;  // F gamma h / dx
    // A ramp's atmosphere's values at the matrix's time (NaN: the face's).
    double value = std::numeric_limits<double>::quiet_NaN();
    double valueBack = std::numeric_limits<double>::quiet_NaN();
  };
  void ratios(const StageModel& m, Matrix& a, const double* at, double span, double time);
  // Factors a and solves r and s with it (when not null).
  void factor(const StageModel& m, Matrix& a, double* r = nullptr, double* s = nullptr);
  template <int Sides>
  void factorWith(const StageModel& m, Matrix& a, double* r, double* s);
  void solve(const StageModel& m, const Matrix& a, double* r, double* s = nullptr);
  // The same matrix eliminated from both ends (twisted_solve.cpp): the
  // same solution to rounding, in half the time.
  void factorTwisted(const StageModel& m, Matrix& a);
  void solveTwisted(const StageModel& m, const Matrix& a, double* r, double* s = nullptr);
  template <int Sides>
  void solveTwistedWith(const StageModel& m, const Matrix& a, double* r, double* s);
  void applyL(const StageModel& m, const Matrix& a, const double* x, bool source,
              double* out) const;
  double faceFlux(const StageModel& m, const Matrix& a, const double* x) const;

  std::int32_t n_;
  std::size_t size_;
  Matrix first_, second_;
  std::vector<double> d_, mid_, gamma_, delta1_, delta2_, fn_, fg_, carry1_, work_;
  std::int64_t solves_ = 0;
  bool previousMatrix_ = false;
  bool scaledRatios_ = false;  // ratios by one factor ((span / 2) / dx^2)  // second_ holds a
                               // factored BDF2 matrix of this stage
};

}  // namespace diffusim
