// A process cycle: a specimen, a composition-dependent diffusivity and a
// sequence of stages, each with its temperature and its surface condition,
// and the rules that turn a stage into steps. Pure computation.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "model/face.hpp"
#include "model/fault.hpp"
#include "model/geometry.hpp"
#include "model/schedule_parameter.hpp"
#include "model/steel_grades.hpp"

namespace diffusim {

struct Stage {
  double duration = 0.0;     // s
  double temperature = 0.0;  // K; a ramp's at the stage's start
  SurfaceCondition surface;
  SurfaceCondition back{SurfaceKind::Sealed};  // the face at x = L
  // Nitrogen's treated surface, when the schedule has nitrogen (its face at
  // x = L is sealed).
  SurfaceCondition nitrogen{SurfaceKind::Sealed};
  // A linear ramp's temperature at the stage's end (K); NaN: isothermal.
  double temperatureTo = std::numeric_limits<double>::quiet_NaN();
  bool ramped() const { return !std::isnan(temperatureTo); }
  double endTemperature() const { return ramped() ? temperatureTo : temperature; }
  bool hasAtmosphere() const { return surface.atmosphere.given() || back.atmosphere.given(); }
};

// A stage's potentials derived again from its faces' atmospheres at its
// temperature (NaN outside the atmosphere model's range).
void deriveAtmospherePotentials(Stage& stage);

// A stage's temperature over the run: from `from` at `start` to `to` at
// start + duration, linearly (from = to: isothermal).
struct StageHeating {
  double from = 0.0, to = 0.0, start = 0.0, duration = 0.0;
  double at(double time) const { return from + (to - from) * ((time - start) / duration); }
};

// Which law D follows: A exp(a C) exp((B + b C) / (R T)) with its
// constants as given (Law) or Tibbetts's constants by default, or Slycke and
// Ericsson's for carbon in austenite,
//   D = 4.84e-5 exp(-38 x) / (1 - 5 x) exp(-(155000 - 570000 x) / (R T)) m^2/s,
// x the mole fraction of carbon, x = w / (w + (1 - w) M_C / M_Fe) for the
// mass fraction w the program works in.
// Nitrogen's law (Bohnekamp) is D = 0.20 exp(-36.0 kcal/mol / RT) cm^2/s in
// austenite, measured from 500 to 1150 C: K. Bohnekamp, Archiv fuer das
// Eisenhuettenwesen 38 (1967) 229-232.
enum class DiffusivityModel { Law, Tibbetts, SlyckeEricsson, Bohnekamp };
const char* modelName(DiffusivityModel model);

// M_C / M_Fe, 12.011 / 55.845.
inline constexpr double CARBON_TO_IRON = 12.011 / 55.845;
inline double moleFraction(double w) {
  return w / (w + (1.0 - w) * CARBON_TO_IRON);
}

struct DiffusivityLaw {
  double A = 4.529e-07;
  double B = -147723.0;
  double a = 0.0;
  double b = 0.0;
  DiffusivityModel model = DiffusivityModel::Law;
  bool moleFraction() const { return model == DiffusivityModel::SlyckeEricsson; }
  bool constant() const { return !moleFraction() && a == 0.0 && b == 0.0; }
};
// Tibbetts's law for carbon in austenite, in the program's units: D = 0.47
// exp(-1.6 C%) exp(-(37000 - 6600 C%) / RT) cm^2/s with cal/mol.
DiffusivityLaw tibbettsLaw();
// Bohnekamp's law for nitrogen in austenite: A = 2.0e-5 m^2/s, B = -36000 x
// 4.184 J/mol; and the temperatures it was measured over (K).
DiffusivityLaw bohnekampLaw();
inline constexpr double BOHNEKAMP_COLDEST = 773.15;
inline constexpr double BOHNEKAMP_HOTTEST = 1423.15;

// A second species diffusing with carbon (nitrogen): its law and initial
// composition; each stage gives its surface (Stage::nitrogen). Not given:
// the schedule is carbon's alone.
struct NitrogenSpecies {
  bool given = false;
  DiffusivityLaw law = bohnekampLaw();
  double initial = 0.0;
};

// Vickers hardness against the composition, linear between points: carbon
// increasing, HV not decreasing.
struct HardnessTable {
  std::vector<double> carbon, hv;
  bool empty() const { return carbon.empty(); }
  // The first rule the table breaks (None: sound), at entry `at`: lists of
  // equal lengths, 2 to 1000 entries; carbon fractions from 0 to 1 rising
  // from one entry to the next; HV 0 or above, not falling as carbon rises.
  enum class Problem { None, Lengths, CarbonRange, CarbonOrder, HardnessOrder, HardnessNegative };
  struct Check {
    Problem problem = Problem::None;
    std::size_t at = 0;
  };
  Check check() const;
  double hardnessAt(double c) const;
  // The lowest composition whose hardness reaches hv; NaN outside the table.
  double compositionFor(double hv) const;
};

// A value the schedule is not sure of: normally distributed about its
// value with the standard deviation `sd` (in its units), or `sd` times the
// value when relative.
struct Uncertainty {
  ScheduleParameter parameter;
  std::string key;  // as written: stage1.temperature
  double sd = 0.0;
  bool relative = false;
};

struct ProcessSchedule {
  Geometry geometry;
  double density = 7870.0;   // kg/m^3
  double alloyFactor = 1.0;  // the surface's equilibrium is potential / alloyFactor
  HardnessTable hardness;    // none: no HV column
  SteelComposition steel;    // [steel]: the grade and its analysis (none: not given)
  std::vector<Uncertainty> uncertainty;
  double length = 0.0005;  // m: the depth from x = 0 to x = L (a curved specimen's R - R_inner)
  std::int32_t sections = 100;
  double initial = 0.01;  // composition everywhere at t = 0
  DiffusivityLaw law;
  std::vector<Stage> stages;
  NitrogenSpecies nitrogen;
};

// The range every composition stays in: spanned by the initial composition
// and the stages' values at both faces (a held composition, a potential).
struct CompositionRange {
  double low = 0.0;
  double high = 0.0;
};
CompositionRange compositionRange(const ProcessSchedule& schedule);

// Each stage's range: the schedule's, widened where a flux without a limit
// could carry the surface above it. The profile's maximum is bounded stage by
// stage: a stage starts at most at the bound the one before it ended at, and
// ends at most there, at a value its faces hold, or (an unlimited flux) there
// plus the stage's whole inflow gathered in the surface cell, which is what a
// step with non-negative weights allows. Without an unlimited flux every
// stage's range is the schedule's. A bound that is not finite stays so, for
// checkSchedule to refuse.
std::vector<CompositionRange> stageRanges(const ProcessSchedule& schedule);

// D(C) at one temperature as base exp(k C): base = exp((B / R) / T) A, the
// program's constant-D expression, and k = a + (b / R) / T.
// For a law in the mole fraction: D = base exp(k x) / (1 - 5 x).
struct StageDiffusivity {
  double base = 0.0;
  double k = 0.0;
  bool moleFraction = false;
  double at(double c) const;  // by std::exp
};
StageDiffusivity stageDiffusivity(const DiffusivityLaw& law, double temperature);

// D's least and most over a composition range, at one temperature or over
// a stage (both ends of a ramp).
struct DiffusivitySpan {
  double least = 0.0;
  double most = 0.0;
};
DiffusivitySpan diffusivitySpan(const DiffusivityLaw& law, double temperature,
                                CompositionRange range);
DiffusivitySpan diffusivitySpan(const DiffusivityLaw& law, const Stage& stage,
                                CompositionRange range);

// exp(k c) for c in a known range, computed the same way in every lane of
// every kernel: exp(k c) = exp(k mid) exp(u)^(2^s) with u = (k (c - mid)) 2^-s
// reduced to |u| <= 1/32 and exp(u) by its Taylor polynomial to u^7 (error
// below 1e-17 relative before the squarings, which multiply it by 2^s).
// A law in the mole fraction takes u = (k (x - mid)) 2^-s with x the mole
// fraction and mid the range's middle in x, and divides exp(u)^(2^s) by 1 - 5 x.
struct ExpRule {
  bool moleFraction = false;
  double k = 0.0;
  double mid = 0.0;    // the range's middle
  double scale = 1.0;  // 2^-s
  std::int32_t squarings = 0;
  double factor = 1.0;  // base exp(k mid): D = factor exp(u)^(2^s)
};
ExpRule expRuleFor(const StageDiffusivity& d, CompositionRange range);

// exp(u) for |u| <= 1/32 by its Taylor polynomial to u^7, in Horner's order.
inline double expPolynomial(double u) {
  return ((((((u * (1.0 / 5040.0) + 1.0 / 720.0) * u + 1.0 / 120.0) * u + 1.0 / 24.0) * u +
            1.0 / 6.0) *
               u +
           0.5) *
              u +
          1.0) *
             u +
         1.0;
}

// A stage as both schemes read it: its two faces, how D follows C and T,
// and D's extremes over its compositions and temperatures.
struct StageConditions {
  FaceModel surface{true};  // x = 0
  FaceModel back;           // x = L (sealed unless given)
  bool variable = false;    // D depends on C
  bool ramped = false;      // D follows T(t): heating
  DiffusivityLaw law;
  CompositionRange range;
  StageHeating heating;
  DiffusivitySpan diffusivity;
  // A ramp's faces whose potential follows its temperature: their
  // atmospheres (none: the face's value holds) and the alloy factor.
  Atmosphere surfaceGas{}, backGas{};
  double alloyFactor = 1.0;
};
// The value (potential / alloy factor) a face's atmosphere gives at `time`
// of the stage's heating.
double gasValue(const StageConditions& stage, const Atmosphere& gas, double time);
StageConditions stageConditions(const ProcessSchedule& schedule, const Stage& stage,
                                CompositionRange range, double stageStart);

// A face's condition as the schemes step it (face.hpp).
FaceModel faceModel(const ProcessSchedule& schedule, const SurfaceCondition& condition);

// How one step of a stage updates the grid. For a constant D the interior is
// the program's step with r = D dt / dx^2; otherwise the conservative form
//   C_i' = (f_{i+1/2} - f_{i-1/2}) h + C_i,  f_{i+1/2} = (E_i + E_{i+1}) (C_{i+1} - C_i),
// with D_i = factor E_i, E_i = exp(u_i)^(2^s), h = ((factor dt) / dx) / dx / 2, so
// that the face diffusivity is the mean of its two nodes'. The far face is a
// zero-flux wall at L (mirror node); the surface node, unless held, takes
//   C_0' = ((C_1 - C_0) (2 r) + (P - C_0) g) + C_0   (constant D)
//   C_0' = ((f_{1/2} (2 h)) + (P - C_0) g) + C_0     (variable D)
// with g = ((2 beta) dt) / dx, P the potential (g = 0 when sealed), the
// source (P - C_0) g being the inflow for a fed face (FaceModel::source).
// A curved specimen or a condition at x = L runs the weighted form of the
// same update (geometry.hpp): with a_j the face areas and 1 / V_i the cells'
// inverse volumes,
//   F_j = a_j (C_{j+1} - C_j)                       (constant D)
//   F_j = a_j (E_j + E_{j+1}) (C_{j+1} - C_j)       (variable D)
//   C_i' = ((F_i - F_{i-1}) / V_i) s + C_i,  s = r or h,
// the exchange at a face unless held, ((F s + (P - C) g / 2 a) / V) + C, with
// the face's area a (1 at x = 0). A ramp stage remakes the rule for every
// step with D at the step's middle time.
struct StepRule {
  bool variable = false;                 // D depends on C
  double meshRatio = 0.0;                // constant D: r = D dt / dx^2
  ExpRule exp;                           // variable D
  double halfRatio = 0.0;                // variable D: h
  double transfer = 0.0;                 // g at x = 0
  double inflow = 0.0;                   // a fed surface: ((2 F) dt) / dx with F = flux / density
  double backTransfer = 0.0;             // g at x = L
  const CellWeights* weights = nullptr;  // the weighted form (null: the plate's)
  StageConditions stage;                 // the faces, and a ramp's D (see rampRule)
  double dx = 0.0, dt = 0.0;
};
// The rule of a ramp stage for the step whose middle is at `time`: D at
// T(time), everything else as planned.
StepRule rampRule(const StepRule& planned, double time);

// A stage as steps: k = ceil(duration / dtMax) steps of dt = duration / k,
// dtMax half the longest step that keeps every weight of the update
// non-negative at the largest D the range allows (and the surface's
// transfer rate): for a held surface dtMax = ((0.25 dx) dx) / Dmax, as for
// a constant D. A count of 2^31 or more (or none: dtMax 0) is not turned
// into an integer: `steps` is then 0, `dt` NaN, and only `explicitSteps`
// (+inf for none) says how many the explicit scheme would need.
struct StagePlan {
  std::int64_t steps = 0;
  double explicitSteps = 0.0;
  double dt = 0.0;
  double dtMax = 0.0;
  double dMax = 0.0;
  StepRule rule;
};
// `weights` are the schedule's (cellWeights), needed by a curved specimen
// or an exchange at x = L; a ramp takes the larger D of its two ends for the
// limit and needs the stage's start time. An `imposedStep` (not NaN) takes
// the place of dtMax in the count, as it is: steps that several species
// share.
StagePlan planStage(const ProcessSchedule& schedule, const Stage& stage, double span,
                    CompositionRange range, const CellWeights* weights = nullptr,
                    double stageStart = 0.0,
                    double imposedStep = std::numeric_limits<double>::quiet_NaN());

// A face's value as the scheme uses it: a held composition, or a transfer
// potential divided by the steel's alloy factor.
double faceValue(const ProcessSchedule& schedule, const SurfaceCondition& c);

// B taken up per unit of treated (outer) area, g/m^2: density times the
// growth of sum V_i (C_i - C0) dx over the initial composition.
double uptakeGramsPerSquareMetre(const ProcessSchedule& schedule, const CellWeights& weights,
                                 const double* c);

// The schedule's end, the sum of its durations.
double scheduleEnd(const ProcessSchedule& schedule);

// Why a schedule cannot run; None when it can.
Fault checkSchedule(const ProcessSchedule& schedule);

}  // namespace diffusim
