// A face of the specimen during a stage: the condition as a schedule gives
// it, and the same condition as both schemes step it. Every way a condition
// acts on the run (the explicit step's exchange, the implicit system's
// boundary row, the bound it sets on the compositions and the B it lets in)
// is read from FaceModel; only faceModel() looks at the kind.
#pragma once

#include <cmath>
#include <limits>

#include "model/carbon_equilibrium.hpp"

namespace diffusim {

// What the atmosphere does at a face during a stage (x = 0, the treated
// surface; or x = L, a plate's far face or a hollow specimen's inner one).
enum class SurfaceKind {
  Fixed,     // C(0, t) held at `composition`
  Transfer,  // flux into the specimen = beta (potential / alloy factor - C(0, t))
  Sealed,    // no flux
  Flux,      // a constant flux of B until C(0, t) reaches `limit`, then held there
};

struct SurfaceCondition {
  SurfaceKind kind = SurfaceKind::Fixed;
  double composition = 0.0;  // Fixed
  double potential = 0.0;    // Transfer: the atmosphere's carbon potential
  double beta = 0.0;         // Transfer: the mass-transfer coefficient, m/s
  double flux = 0.0;         // Flux: kg of B per m^2 and s
  double limit = std::numeric_limits<double>::quiet_NaN();  // Flux: NaN for none
  // Transfer: the furnace atmosphere the potential is derived from at the
  // stage's temperature (none: the potential as given).
  Atmosphere atmosphere{};
  bool limited() const { return kind == SurfaceKind::Flux && !std::isnan(limit); }
};

// A face as the schemes step it. Its node is held at `value`, or takes a
// source: the inflow of a fed face, else the exchange (value - C) times the
// transfer rate (none when sealed: beta 0).
struct FaceModel {
  bool held = false;
  bool open = false;   // anything but sealed
  double value = 0.0;  // held: C_s; an exchange: the equilibrium P
  double beta = 0.0;   // the exchange's mass-transfer coefficient, m/s
  bool fed = false;    // a flux: `flux` (composition times m/s) is the source
  double flux = 0.0;
  double limit = std::numeric_limits<double>::quiet_NaN();  // a fed face's (NaN: none)
  // The composition the face holds the profile to, or tends to (NaN: none,
  // for a sealed face or a flux without a limit).
  double bound = std::numeric_limits<double>::quiet_NaN();

  bool unlimitedFlux() const { return fed && std::isnan(limit); }

  // The explicit step's source at a node of composition c that is not held,
  // with the step's scaled transfer rate g and inflow.
  double source(double c, double g, double inflow) const { return fed ? inflow : (value - c) * g; }
  // The explicit step's latch: a fed face that has reached its limit stays
  // there (a level at the limit is the latch, so no state is kept).
  void latch(double prev, double& next) const {
    if (std::isnan(limit)) return;
    if (!(prev < limit) || next > limit) next = limit;
  }

  // The implicit system's source in the face's row for x (the step's own
  // source when `withSource`, none for a carried error), with the rate g and
  // the inflow scaled to the solve.
  double rowSource(double x, bool withSource, double g, double inflow) const {
    if (fed) return withSource ? inflow : 0.0;
    return ((withSource ? value : 0.0) - x) * g;
  }
  // What enters through a face not held over a solve, in the same terms.
  double entering(double x, double g, double inflow) const {
    return fed ? inflow : g * (value - x);
  }
  // The implicit run watches a fed face for its limit while it still feeds.
  bool watchesLimit() const { return flux > 0.0 && !std::isnan(limit) && !held; }
  // A fed face at its limit: held there from now on.
  void holdAtLimit() {
    held = true;
    value = limit;
    flux = 0.0;
  }
};

}  // namespace diffusim
