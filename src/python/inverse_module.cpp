// The inverse questions from Python: design, the spread of a case depth and
// fit, by the same engine calls as the command line.
#include <pybind11/stl.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/design.hpp"
#include "engine/fit.hpp"
#include "engine/sampling.hpp"
#include "model/readings.hpp"
#include "python/module_support.hpp"
#include "study/named_values.hpp"
#include "study/sample_run.hpp"
#include "study/schedule_keys.hpp"
#include "words/design_words.hpp"
#include "words/fault_words.hpp"
#include "words/fit_words.hpp"

namespace py = pybind11;

namespace diffusim {

void bindInverse(py::module_& m) {
  m.def("design",
        [](const PySchedule& ps, const std::vector<std::size_t>& varied, double surface,
           double depth, double at, double longest, const std::string& scheme, double tolerance) {
          const DesignTargets t = designTargets(surface, depth, at, longest);
          DesignResult d;
          const SchemeOptions o = schemeOf(scheme, tolerance);
          {
            py::gil_scoped_release release;
            d = designDurations(ps.schedule, varied, t, o);
          }
          py::dict out;
          out["met"] = d.status == DesignResult::Status::Met;
          out["status"] = static_cast<int>(d.status);
          out["durations"] = d.durations;
          out["surface"] = d.surfaceReached;
          out["depth"] = d.depthReached;
          out["runs"] = d.runs;
          out["limit"] = d.value;
          if (d.status != DesignResult::Status::Met)
            out["words"] = designMissText(d, t, varied, {"surface", "depth", "max_duration"});
          return out;
        });
  // The spread of a case depth: the command line's samples (sampledLevel at
  // the time or each sample's own end, depthOf, spreadOf), in order, on
  // `threads` threads: each sample's depth (+inf beyond the specimen, NaN
  // for an invalid draw) and the spread's quantiles, mean, sd and counts.
  m.def("sample_depths", [](const PySchedule& ps, double composition, double time, int samples,
                            std::uint64_t seed, unsigned threads) {
    if (ps.schedule.uncertainty.empty())
      throw UsageError("samples: the schedule has no [uncertainty] table to draw from");
    if (samples < 2 || samples > 100000)
      throw UsageError("samples: '" + std::to_string(samples) +
                       "' is not a number of samples from 2 to 100000");
    const ProcessSchedule& base = ps.schedule;
    const double end = scheduleEnd(base);
    if (!std::isnan(time)) requireWithinSchedule("time", time, end);
    Request r;
    r.command = "depth";
    r.schedule = base;
    r.composition = composition;
    if (!std::isnan(time)) r.times = {std::min(time, end)};
    r.samples = samples;
    r.seed = seed;
    r.threads = threads;
    refuseSamples(r, "samples");
    SampleAnswers sampled;
    {
      py::gil_scoped_release release;
      sampled = runSampleAnswers(r, WorkBudget{});
    }
    if (!sampled.ok()) {
      const std::string which = "sample " + std::to_string(sampled.failed + 1) + ": ";
      if (sampled.run == SampleRun::Fault)
        throw std::invalid_argument(which + faultText(sampled.fault));
      throw std::runtime_error(which + "the implicit run was stopped at its step limit");
    }
    const std::vector<double>& depths = sampled.answers;
    const Spread spread = spreadOf(depths);
    py::dict out;
    out["depths"] = owned(depths);
    std::vector<double> quantiles;
    for (const double q : SPREAD_QUANTILES) quantiles.push_back(quantileOf(spread.sorted, q));
    out["quantiles"] = quantiles;
    out["mean"] = spread.mean;
    out["sd"] = spread.sd;
    out["beyond"] = spread.beyond;
    out["invalid"] = spread.invalid;
    return out;
  });
  m.def("fit", [](const PySchedule& ps, const std::vector<std::string>& keys,
                  const std::vector<double>& x, const std::vector<double>& c,
                  const std::vector<double>& t, const std::string& scheme, double tolerance) {
    const std::vector<FitParameter> params = fitParametersOf(keys, ps.schedule, "keys");
    // No times: every point at the end of each trial schedule.
    if (x.size() != c.size() || (!t.empty() && x.size() != t.size()) || x.size() <= params.size())
      throw std::invalid_argument("data: x, c and t of one length, more points than parameters");
    FitResult f;
    const SchemeOptions o = schemeOf(scheme, tolerance);
    {
      py::gil_scoped_release release;
      f = fitSchedule(ps.schedule, params, FitData{x, c, t}, o);
    }
    py::dict out;
    out["converged"] = f.converged;
    out["values"] = f.values;
    out["std_errors"] = f.standardErrors;
    out["low"] = f.low;
    out["high"] = f.high;
    out["correlation"] = f.correlation;
    out["rms_residual"] = f.rmsResidual;
    out["t_quantile"] = f.tQuantile;
    out["iterations"] = f.iterations;
    std::vector<bool> determined;
    std::vector<std::string> warnings;
    for (std::size_t j = 0; j < params.size() && j < f.standings.size(); ++j) {
      determined.push_back(f.standings[j].determined());
      if (!determined.back()) warnings.push_back(undeterminedText(keys, params, f, j));
    }
    out["determined"] = determined;
    out["warnings"] = warnings;
    return out;
  });
}

}  // namespace diffusim
