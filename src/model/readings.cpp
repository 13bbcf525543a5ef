#include "model/readings.hpp"

#include <cmath>
#include <limits>

namespace diffusim {

double compositionAtDepth(const double* values, std::int32_t points, double dx, double x) {
  const double q = std::floor(x / dx);
  if (!(q < static_cast<double>(points - 1))) return values[points - 1];
  const auto i = static_cast<std::int32_t>(q < 0.0 ? 0.0 : q);
  const double w = (x - static_cast<double>(i) * dx) / dx;
  if (w == 0.0) return values[i];
  return (values[i + 1] - values[i]) * w + values[i];
}

double depthOf(const double* values, std::int32_t points, double dx, double composition) {
  for (std::int32_t i = 0; i + 1 < points; ++i) {
    if (values[i] > composition && values[i + 1] <= composition) {
      const double w = (values[i] - composition) / (values[i] - values[i + 1]);
      return (static_cast<double>(i) + w) * dx;
    }
  }
  if (values[points - 1] > composition) return std::numeric_limits<double>::quiet_NaN();
  return 0.0;
}

}  // namespace diffusim
