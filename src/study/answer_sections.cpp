#include "study/answer_sections.hpp"

#include <cmath>
#include <limits>

#include "study/command_support.hpp"
#include "study/run_record.hpp"

namespace diffusim {

namespace {

constexpr double NONE = std::numeric_limits<double>::quiet_NaN();

// The composition a surface holds or tends to, where it has one.
double surfaceValue(const SurfaceCondition& c) {
  switch (c.kind) {
    case SurfaceKind::Fixed:
      return c.composition;
    case SurfaceKind::Transfer:
      return c.potential;
    case SurfaceKind::Flux:
      return c.limit;
    case SurfaceKind::Sealed:
      break;
  }
  return NONE;
}

std::vector<double> depths(const ProcessSchedule& s) {
  const double dx = s.length / static_cast<double>(s.sections);
  std::vector<double> x;
  for (std::int32_t k = 0; k <= s.sections; ++k) x.push_back(static_cast<double>(k) * dx);
  return x;
}

}  // namespace

Section scheduleSection(const ProcessSchedule& s) {
  Section out{"schedule", {number("length", s.length), number("initial", s.initial)}, {}};
  if (s.law.model != DiffusivityModel::Law)
    out.fields.push_back(word("model", modelName(s.law.model)));
  if (s.density != ProcessSchedule{}.density) out.fields.push_back(number("density", s.density));
  if (s.alloyFactor != 1.0) out.fields.push_back(number("alloy_factor", s.alloyFactor));
  std::vector<double> stage, duration, end, from, to, value;
  std::vector<std::string> surface;
  double t = 0.0;
  for (std::size_t i = 0; i < s.stages.size(); ++i) {
    const Stage& st = s.stages[i];
    t += st.duration;
    stage.push_back(static_cast<double>(i + 1));
    duration.push_back(st.duration);
    end.push_back(t);
    from.push_back(st.temperature);
    to.push_back(st.endTemperature());
    surface.emplace_back(surfaceKindWord(st.surface.kind));
    value.push_back(surfaceValue(st.surface));
  }
  out.add("stage", stage);
  out.add("duration_s", duration);
  out.add("end_s", end);
  out.add("temperature_from_K", from);
  out.add("temperature_to_K", to);
  out.addWords("surface", surface);
  out.add("value", value);
  return out;
}

Section profileSection(const ProcessSchedule& s, const std::vector<double>& level) {
  Section out{"profile", {}, {}};
  out.add("x_m", depths(s));
  out.add("c", level);
  return out;
}

Section fitDataSection(const FitData& data, const FittedProfiles& fitted) {
  Section out{"data", {}, {}};
  std::vector<double> residual;
  for (std::size_t i = 0; i < data.c.size(); ++i) residual.push_back(fitted.fitted[i] - data.c[i]);
  out.add("x_m", data.x);
  if (!data.t.empty()) out.add("t_s", data.t);
  out.add("c", data.c);
  out.add("fitted", fitted.fitted);
  out.add("residual", residual);
  return out;
}

Section fitCurveSection(const FittedProfiles& fitted) {
  const std::vector<double> x = depths(fitted.schedule);
  std::vector<double> t, xs, c;
  for (std::size_t k = 0; k < fitted.times.size(); ++k) {
    t.insert(t.end(), x.size(), fitted.times[k]);
    xs.insert(xs.end(), x.begin(), x.end());
    c.insert(c.end(), fitted.levels[k].begin(), fitted.levels[k].end());
  }
  Section out{"curve", {}, {}};
  out.add("t_s", t);
  out.add("x_m", xs);
  out.add("c", c);
  return out;
}

}  // namespace diffusim
