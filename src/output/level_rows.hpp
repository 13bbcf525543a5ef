// The rows a level of a run makes in a table, for every command that writes
// levels: a profile (x, C per grid point), a history (t and C at one depth)
// or profiles (t, x, C per grid point), under the names of output/columns.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "model/process.hpp"
#include "output/columns.hpp"
#include "output/table_writer.hpp"

namespace diffusim {

class LevelRows {
 public:
  // N points at x = i dx; `depth` is the history's depth, read between
  // grid points.
  LevelRows(TableWriter& table, LevelKind kind, std::int32_t points, double dx, double depth = 0.0);
  // A history read at one grid point (the menu's rules).
  static LevelRows historyAtPoint(TableWriter& table, std::int32_t points, double dx,
                                  std::int32_t point);

  // Profiles of a curved specimen: each point's radius in an r_m column.
  void showRadii(const std::vector<double>& radii);

  // Profiles: each point's hardness by the table in an HV column.
  void showHardness(const HardnessTable* table) { hardness_ = table; }

  // The rows of the level at `time`.
  void write(double time, const double* values);
  // The same with every species' field, each in its own column (one
  // species: as above).
  void write(double time, std::span<const double* const> fields);

 private:
  TableWriter& table_;
  LevelKind kind_;
  std::int32_t points_;
  double dx_, depth_;
  std::int32_t point_ = -1;         // a history at this grid point rather than at depth_
  std::vector<std::string> xText_;  // each x in shortest form, made once
  std::vector<std::string> rText_;  // each r, when shown
  const HardnessTable* hardness_ = nullptr;
};

}  // namespace diffusim
