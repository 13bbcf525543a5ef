// The columns of every table the program writes, named here only: a level's
// rows (profile, history, profiles), the queries and their sweeps, the
// spread of samples, design's recipe and fit's parameters. Files of measured
// profiles are read by the same names.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace diffusim {

namespace column {
inline constexpr std::string_view TIME = "t_s";
inline constexpr std::string_view X = "x_m";
inline constexpr std::string_view RADIUS = "r_m";
inline constexpr std::string_view COMPOSITION = "c";
inline constexpr std::string_view HARDNESS = "HV";
inline constexpr std::string_view DEPTH = "depth_m";
inline constexpr std::string_view TEMPERATURE = "temperature_K";
}  // namespace column

enum class LevelKind { Profile, History, Profiles };

// The columns of a kind's table, in order; a curved specimen's profiles add
// r_m, the radius, after x_m, and a hardness table HV after c. Several
// species have a composition column each, c_ and the species' name (c_C,
// c_N), in their order; one species has c.
struct LevelColumns {
  LevelKind kind = LevelKind::Profile;
  bool radius = false;
  bool hardness = false;
  std::vector<std::string> species;  // their names, when more than one
};
std::vector<std::string> levelColumns(const LevelColumns& columns);
inline std::vector<std::string> levelColumns(LevelKind kind) {
  LevelColumns columns;
  columns.kind = kind;
  return levelColumns(columns);
}

// A query's columns: the swept values first (a temperature when swept, then
// the swept keys' columns), then t_s, and the depth.
std::vector<std::string> queryColumns(bool temperature, const std::vector<std::string>& swept,
                                      bool depth);

// The spread of samples: a scalar answer's quantiles, or a profile's.
std::vector<std::string_view> spreadColumns(bool profile, bool time);

std::vector<std::string_view> designColumns();
std::vector<std::string_view> fitColumns();

}  // namespace diffusim
