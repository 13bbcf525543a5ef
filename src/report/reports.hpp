// The three reports behind menu choices 2, 3 and 4. Each takes a copy of the
// record (already checked to describe a runnable grid), runs the engine from
// time 0 and writes its result file. None of them asks anything: the menu
// opens the file and asks for the number of steps first.
#pragma once

#include <cstdint>
#include <string_view>

#include "model/parameters.hpp"
#include "report/mirror.hpp"

namespace diffusim {

inline constexpr std::string_view HISTORY_FILE = "Result_dx.txt";
inline constexpr std::string_view PROFILE_FILE = "Result_dt.txt";
inline constexpr std::string_view ALL_PROFILES_FILE = "Result.txt";

// Choice 2: composition over `stepCount` steps at the first interior point
// at or beyond x, on the console and in `file` (opened as HISTORY_FILE).
ReportOutcome reportHistoryAtDistance(const ReportContext& ctx, const DiffusionParameters& p,
                                      double x, std::int32_t stepCount, ResultFile& file);

// Choice 3: the profile at whichever of the two last time levels lies nearer
// to t, on the console and in PROFILE_FILE.
ReportOutcome reportProfileAtTime(const ReportContext& ctx, const DiffusionParameters& p, double t);

// Choice 4: every profile of `stepCount` steps, to `file` (opened as
// ALL_PROFILES_FILE) only.
ReportOutcome reportAllProfiles(const ReportContext& ctx, const DiffusionParameters& p,
                                std::int32_t stepCount, ResultFile& file);

}  // namespace diffusim
