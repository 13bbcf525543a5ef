#include "output/level_rows.hpp"

#include "format/number_format.hpp"
#include "model/readings.hpp"

namespace diffusim {

void LevelRows::showRadii(const std::vector<double>& radii) {
  if (kind_ == LevelKind::History) return;
  rText_.clear();
  for (double r : radii) rText_.push_back(shortest(r));
}

LevelRows::LevelRows(TableWriter& table, LevelKind kind, std::int32_t points, double dx,
                     double depth)
    : table_(table), kind_(kind), points_(points), dx_(dx), depth_(depth) {
  if (kind_ == LevelKind::History) return;
  for (std::int32_t i = 0; i < points_; ++i)
    xText_.push_back(shortest(static_cast<double>(i) * dx_));
}

LevelRows LevelRows::historyAtPoint(TableWriter& table, std::int32_t points, double dx,
                                    std::int32_t point) {
  LevelRows rows(table, LevelKind::History, points, dx);
  rows.point_ = point;
  return rows;
}

void LevelRows::write(double time, const double* values) {
  const double* const one[] = {values};
  write(time, one);
}

void LevelRows::write(double time, std::span<const double* const> fields) {
  if (kind_ == LevelKind::History) {
    table_.cell(time);
    for (const double* values : fields)
      table_.cell(point_ >= 0 ? values[point_] : compositionAtDepth(values, points_, dx_, depth_));
    return;
  }
  const std::string t = kind_ == LevelKind::Profiles ? shortest(time) : std::string();
  for (std::int32_t i = 0; i < points_; ++i) {
    if (kind_ == LevelKind::Profiles) table_.cellText(t);
    table_.cellText(xText_[static_cast<std::size_t>(i)]);
    if (!rText_.empty()) table_.cellText(rText_[static_cast<std::size_t>(i)]);
    for (const double* values : fields) table_.cell(values[i]);
    if (hardness_ != nullptr) table_.cell(hardness_->hardnessAt(fields[0][i]));
  }
}

}  // namespace diffusim
