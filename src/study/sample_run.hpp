// The samples of a request (--samples, Python's sample_depths), for every
// front end: each sample's answer from its own drawn schedule on the worker
// threads, in order, and the first sample whose valid draw could not run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "engine/run_limits.hpp"
#include "engine/sampling.hpp"
#include "study/request.hpp"

namespace diffusim {

struct SampleAnswers {
  // Each sample's depth or time (+infinity beyond the specimen or the
  // search), INVALID_SAMPLE for an invalid draw; a profile's request: 0,
  // and its profile, a row of the grid's points per sample, in `profiles`.
  std::vector<double> answers;
  std::vector<double> profiles;
  // The first sample whose valid draw could not run (its index, how its
  // run ended and the fault); samples when every one ran.
  std::size_t failed = 0;
  SampleRun run = SampleRun::Ran;
  Fault fault;
  bool ok() const { return failed == answers.size(); }
};

// Refuses (UsageError), before any run, a request whose draws are more than
// 1 % invalid, or a profile's spread that would hold too many values;
// `name` names the count (--samples, samples).
void refuseSamples(const Request& request, const std::string& name);

// Runs the request's samples (profile, depth or time) under `budget`, which
// the samples share, on the request's threads (0: every hardware thread).
SampleAnswers runSampleAnswers(const Request& request, const WorkBudget& budget);

}  // namespace diffusim
