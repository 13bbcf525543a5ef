#include "output/columns.hpp"

#include "format/number_format.hpp"

namespace diffusim {

std::vector<std::string> levelColumns(const LevelColumns& columns) {
  std::vector<std::string> names;
  if (columns.kind != LevelKind::Profile) names.emplace_back(column::TIME);
  if (columns.kind != LevelKind::History) names.emplace_back(column::X);
  if (columns.radius && columns.kind != LevelKind::History) names.emplace_back(column::RADIUS);
  if (columns.species.size() < 2) names.emplace_back(column::COMPOSITION);
  for (std::size_t s = 0; columns.species.size() > 1 && s < columns.species.size(); ++s)
    names.push_back(std::string(column::COMPOSITION) + "_" + columns.species[s]);
  if (columns.hardness && columns.kind != LevelKind::History) names.emplace_back(column::HARDNESS);
  return names;
}

std::vector<std::string> queryColumns(bool temperature, const std::vector<std::string>& swept,
                                      bool depth) {
  std::vector<std::string> names;
  if (temperature) names.emplace_back(column::TEMPERATURE);
  for (const std::string& name : swept) names.push_back(name);
  names.emplace_back(column::TIME);
  if (depth) names.emplace_back(column::DEPTH);
  return names;
}

std::vector<std::string_view> spreadColumns(bool profile, bool time) {
  if (profile) return {column::X, "c_p05", "c_p25", "c_p50", "c_p75", "c_p95"};
  return {"quantile", time ? "time_s" : column::DEPTH};
}

std::vector<std::string_view> designColumns() {
  return {"stage", "duration_s"};
}

std::vector<std::string_view> fitColumns() {
  return {"parameter", "value", "std_error", "ci95_low", "ci95_high"};
}

}  // namespace diffusim
