// The menu's three result files, byte for byte: CR LF line ends, columns
// separated by tabs, every row ending in a tab, numbers with six decimals.
#pragma once

#include <cstdint>
#include <string>

#include "output/profile_rows.hpp"
#include "output/sink.hpp"

namespace diffusim {

// Result_dt.txt: the profile reported at time t.
void writeLegacyProfile(ByteSink& sink, double temperature, double time, const double* values,
                        std::int32_t points, double dx);

// Result_dx.txt: the composition at one grid point, a row per step.
class LegacyHistoryText {
 public:
  // `point` is the grid point reported, 0 when none is (the rows then hold
  // their counter only).
  LegacyHistoryText(ByteSink& sink, double temperature, double depth, std::int32_t point);
  void row(std::int64_t step, double time, const double* values);

 private:
  ByteSink& sink_;
  std::int32_t point_;
  std::string line_;
};

// Result.txt: every profile of a run, each under a banner with its time.
class LegacyAllProfilesText {
 public:
  LegacyAllProfilesText(ByteSink& sink, double temperature, std::int32_t points, double dx);
  // A repeated level reuses the rows formatted for the one before it.
  void block(double time, const double* values, bool repeated);

 private:
  ByteSink& sink_;
  ProfileRowWriter rowWriter_;
  std::string banner_;
  std::string rows_;
};

}  // namespace diffusim
