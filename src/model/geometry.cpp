#include "model/geometry.hpp"

#include <algorithm>
#include <cstddef>

namespace diffusim {

namespace {

std::size_t idx(std::int32_t i) {
  return static_cast<std::size_t>(i);
}

// The mean of s^m over [lo, hi] in the shape's measure, times hi - lo in
// units of dx: the cell's volume relative to the outer area, from factored
// forms that lose nothing to the difference of two large powers.
double shellVolume(int m, double width, double hi, double lo) {
  if (m == 0) return width;
  if (m == 1) return width * ((hi + lo) * 0.5);
  return width * (((hi * hi + hi * lo) + lo * lo) / 3.0);
}

}  // namespace

const char* shapeName(Shape shape) {
  switch (shape) {
    case Shape::Cylinder:
      return "cylinder";
    case Shape::Sphere:
      return "sphere";
    case Shape::Plate:
      break;
  }
  return "plate";
}

CellWeights cellWeights(const Geometry& g, double length, std::int32_t sections) {
  CellWeights w;
  const std::int32_t n = sections + 1;
  w.area.assign(idx(sections), 1.0);
  w.volume.assign(idx(n), 1.0);
  w.volume.front() = 0.5;
  w.volume.back() = 0.5;
  if (g.curved()) {
    const int m = g.exponent();
    const double dx = length / static_cast<double>(sections);
    const double inner = g.innerRadius / g.radius;
    // s = r / R at the faces; the cells' outer and inner ends.
    std::vector<double> s(idx(sections));
    for (std::int32_t j = 0; j < sections; ++j) {
      s[idx(j)] = std::max(inner, (g.radius - (static_cast<double>(j) + 0.5) * dx) / g.radius);
      w.area[idx(j)] = m == 1 ? s[idx(j)] : s[idx(j)] * s[idx(j)];
    }
    for (std::int32_t i = 0; i < n; ++i) {
      const double hi = i == 0 ? 1.0 : s[idx(i - 1)];
      const double lo = i == n - 1 ? inner : s[idx(i)];
      const double width = i == 0 || i == n - 1 ? 0.5 : 1.0;
      w.volume[idx(i)] = shellVolume(m, width, hi, lo);
    }
    w.backArea = m == 1 ? inner : inner * inner;
  }
  w.inverse.resize(idx(n));
  w.toNext.resize(idx(n));
  w.toPrevious.resize(idx(n));
  w.stiffness = 0.0;
  for (std::int32_t i = 0; i < n; ++i) {
    w.inverse[idx(i)] = 1.0 / w.volume[idx(i)];
    const double left = i > 0 ? w.area[idx(i - 1)] : 0.0;
    const double right = i < n - 1 ? w.area[idx(i)] : 0.0;
    w.toNext[idx(i)] = right * w.inverse[idx(i)];
    w.toPrevious[idx(i)] = left * w.inverse[idx(i)];
    w.stiffness = std::max(w.stiffness, w.toNext[idx(i)] + w.toPrevious[idx(i)]);
  }
  return w;
}

double nodeRadius(const Geometry& g, double dx, std::int32_t i, std::int32_t points) {
  if (i == points - 1) return g.innerRadius;
  return g.radius - static_cast<double>(i) * dx;
}

double cellContent(const CellWeights& w, const double* c, std::int32_t points, double dx,
                   bool surfaceHeld, bool backHeld) {
  double sum = 0.0;
  for (std::int32_t i = surfaceHeld ? 1 : 0; i < points - (backHeld ? 1 : 0); ++i)
    sum += w.volume[idx(i)] * c[i];
  return sum * dx;
}

}  // namespace diffusim
