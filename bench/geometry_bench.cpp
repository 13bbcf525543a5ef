// A curved specimen's step beside a plate's of the same grid: the explicit
// step (the weighted form beside the plate's constant-r stencil) and the
// implicit one (the same solver with the cells' weights).
#include <memory>
#include <vector>

#include "bench_support.hpp"
#include "engine/implicit_step.hpp"
#include "model/geometry.hpp"
#include "model/grid.hpp"

namespace diffusim::bench {
namespace {

constexpr std::int32_t POINTS = 1001;

ProcessSchedule shaped(Shape shape) {
  ProcessSchedule s = heldSpecimen(POINTS - 1, 3600.0);
  if (shape != Shape::Plate) s.geometry = {shape, s.length, 0.0};
  return s;
}

void explicitStep(benchmark::State& state, Shape shape) {
  const ProcessSchedule s = shaped(shape);
  const CellWeights w = cellWeights(s.geometry, s.length, s.sections);
  const StagePlan plan = planStage(s, s.stages[0], 3600.0, compositionRange(s), &w);
  auto grid = std::make_unique<ConcentrationGrid>(POINTS, FarFace::Mirror);
  grid->resetGrid(s.initial, s.stages[0].surface.composition);
  for (auto _ : state) {
    // The plate's held constant-D stage is the plain constant-r step.
    if (shape == Shape::Plate) {
      grid->advance(plan.rule.meshRatio);
    } else {
      grid->advance(plan.rule);
    }
    grid->commit();
    benchmark::ClobberMemory();
  }
  setStepCounters(state, POINTS);
}

void implicitStep(benchmark::State& state, Shape shape) {
  const ProcessSchedule s = shaped(shape);
  const CellWeights w = cellWeights(s.geometry, s.length, s.sections);
  const double dx = s.length / s.sections;
  const StageModel m = stageModel(s, s.stages[0], compositionRange(s), dx, &w, 0.0);
  ImplicitStep stepper(POINTS);
  const auto n = static_cast<std::size_t>(POINTS);
  std::vector<double> c(n, s.initial), next(n), est(n), e(n, 0.0), carried(n);
  c[0] = s.stages[0].surface.composition;
  for (auto _ : state) {
    stepper.step(m, c.data(), 0.0, 10.0, next.data(), est.data(), e.data(), carried.data());
    benchmark::DoNotOptimize(next.data());
    benchmark::ClobberMemory();
  }
  setStepCounters(state, POINTS);
}

}  // namespace

void registerGeometryBenchmarks(std::vector<Comparison>& comparisons) {
  benchmark::RegisterBenchmark("BM_step_explicit_cylinder/1001", explicitStep, Shape::Cylinder);
  benchmark::RegisterBenchmark("BM_step_explicit_sphere/1001", explicitStep, Shape::Sphere);
  benchmark::RegisterBenchmark("BM_step_explicit_plate/1001", explicitStep, Shape::Plate);
  benchmark::RegisterBenchmark("BM_step_implicit_cylinder/1001", implicitStep, Shape::Cylinder);
  benchmark::RegisterBenchmark("BM_step_implicit_plate/1001", implicitStep, Shape::Plate);
  // A curved step costs at most 1.5 times the plate's.
  comparisons.push_back(
      {"BM_step_explicit_cylinder/1001", "BM_step_explicit_plate/1001", 1.0 / 1.5});
  comparisons.push_back(
      {"BM_step_implicit_cylinder/1001", "BM_step_implicit_plate/1001", 1.0 / 1.5});
}

}  // namespace diffusim::bench
