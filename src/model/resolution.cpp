#include "model/resolution.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

namespace diffusim {

Resolution gridResolution(const ProcessSchedule& s, double until) {
  const std::vector<CompositionRange> ranges = stageRanges(s);
  double sum = 0.0, start = 0.0;
  for (std::size_t k = 0; k < s.stages.size() && start < until; ++k) {
    const Stage& st = s.stages[k];
    const double span = std::min(st.duration, until - start);
    sum += diffusivitySpan(s.law, st, ranges[k]).most * span;
    start += st.duration;
  }
  Resolution r;
  r.length = std::sqrt(sum);
  r.dx = s.length / static_cast<double>(s.sections);
  r.cells = r.length / r.dx;
  return r;
}

double sectionsFor(double specimen, double length, double cells) {
  return std::ceil(cells * specimen / length);
}

}  // namespace diffusim
