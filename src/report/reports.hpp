// The three reports behind menu choices 2, 3 and 4. Each takes a copy of the
// record (already checked to describe a runnable grid), owns its grid and its
// result file for the duration of the call, and starts again from time 0.
#pragma once

#include "model/parameters.hpp"
#include "report/mirror.hpp"

namespace diffusim {

// Choice 2: composition over time at the first interior point at or beyond x,
// on the console and in "Result_dx.txt".
ReportOutcome reportHistoryAtDistance(const ReportContext& ctx, DiffusionParameters p, double x);

// Choice 3: the profile at whichever of the two last time levels lies nearer
// to t, on the console and in "Result_dt.txt".
ReportOutcome reportProfileAtTime(const ReportContext& ctx, DiffusionParameters p, double t);

// Choice 4: every profile of a run of steps, to "Result.txt" only.
ReportOutcome reportAllProfiles(const ReportContext& ctx, DiffusionParameters p);

}  // namespace diffusim
