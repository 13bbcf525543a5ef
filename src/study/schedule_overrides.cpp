#include "study/schedule_overrides.hpp"

#include <algorithm>
#include <cstdint>

#include "format/number_format.hpp"
#include "format/number_parse.hpp"
#include "study/named_values.hpp"
#include "study/schedule_keys.hpp"

namespace diffusim {

namespace {

// The key and the text after its '='.
std::pair<std::string, std::string> splitItem(const std::string& name, const std::string& item,
                                              const char* form) {
  const std::size_t eq = item.find('=');
  if (eq == std::string::npos || eq == 0)
    throw UsageError(name + ": '" + item + "' is not " + form);
  return {item.substr(0, eq), item.substr(eq + 1)};
}

ScheduleParameter keyed(const std::string& name, const std::string& key, const ProcessSchedule& s) {
  ScheduleParameter p;
  std::string why;
  if (!parameterOf(key, s, p, why)) throw UsageError(name + ": " + key + ": " + why);
  return p;
}

// One value's text for `p`, in the units its key takes, checked.
double valueOf(const std::string& name, const std::string& key, const ScheduleParameter& p,
               const std::string& text) {
  double v = 0.0;
  if (p.kind == ScheduleParameter::Kind::Sections) {
    std::int64_t n = 0;
    if (!parseCount(text, 1, 9999, n))
      throw UsageError(name + ": " + key + ": '" + text +
                       "' is not a number of sections from 1 to 9999");
    return static_cast<double>(n);
  }
  const Quantity q = keyQuantity(p.kind);
  if (!parseQuantity(text, q, v))
    throw UsageError(name + ": " + key + ": '" + text + "' is not " + describeQuantity(q));
  if (const std::string why = valueProblem(p, v); !why.empty())
    throw UsageError(name + ": " + key + ": " + why);
  return v;
}

}  // namespace

Request::Setting settingOf(const std::string& name, const std::string& key, const std::string& text,
                           const ProcessSchedule& s) {
  const ScheduleParameter p = keyed(name, key, s);
  return {key, p, valueOf(name, key, p, text)};
}

Request::Setting settingOf(const std::string& name, const std::string& key, double value,
                           const ProcessSchedule& s) {
  const ScheduleParameter p = keyed(name, key, s);
  if (const std::string why = valueProblem(p, value); !why.empty())
    throw UsageError(name + ": " + key + ": " + why);
  return {key, p, value};
}

Request::Setting settingOf(const std::string& name, const std::string& item,
                           const ProcessSchedule& s) {
  const auto [key, text] = splitItem(name, item, "KEY=VALUE");
  return settingOf(name, key, text, s);
}

Request::KeyedAxis sweepOf(const std::string& name, const std::string& item,
                           const ProcessSchedule& s) {
  const auto [key, text] = splitItem(name, item, "KEY=VALUE,VALUE[,VALUE...]");
  Request::KeyedAxis a{key, {keyed(name, key, s), {}}};
  for (const std::string& one : splitList(text))
    a.axis.values.push_back(valueOf(name, key, a.axis.parameter, one));
  if (a.axis.values.size() < 2)
    throw UsageError(name + ": " + key + ": a sweep takes two values or more (one: --set)");
  if (a.axis.values.size() > 10000)
    throw UsageError(name + ": " + key + ": more than 10000 values");
  return a;
}

void applySettings(ProcessSchedule& s, const std::vector<Request::Setting>& settings,
                   const std::string& name) {
  for (const Request::Setting& set : settings) setParameter(s, set.parameter, set.value);
  if (const std::string why = scheduleProblem(s); !why.empty()) throw UsageError(name + ": " + why);
}

void refuseOverlaps(const Request& r) {
  const auto& set = r.settings;
  for (std::size_t j = 0; j < set.size(); ++j)
    for (std::size_t k = 0; k < j; ++k)
      if (set[k].key == set[j].key) throw UsageError("--set: " + set[j].key + " is given twice");
  for (std::size_t j = 0; j < r.sweeps.size(); ++j) {
    const std::string& key = r.sweeps[j].key;
    for (std::size_t k = 0; k < j; ++k)
      if (r.sweeps[k].key == key) throw UsageError("--sweep: " + key + " is given twice");
    for (const Request::Setting& one : set)
      if (one.key == key)
        throw UsageError("--set: " + key + " is also swept; give it once, set or swept");
  }
  for (const Request::Setting& one : set) {
    for (const std::size_t stage : r.varied)
      if (one.key == "stage" + integer(static_cast<std::int64_t>(stage + 1)) + ".duration")
        throw UsageError("--set: " + one.key + " is what design varies (--vary)");
    for (const std::string& key : r.fitKeys)
      if (one.key == key) throw UsageError("--set: " + key + " is what fit fits (--fit)");
  }
}

std::string sweepColumn(const Request::KeyedAxis& a) {
  std::string column = a.key;
  std::replace(column.begin(), column.end(), '.', '_');
  switch (keyQuantity(a.axis.parameter.kind)) {
    case Quantity::Time:
      return column + "_s";
    case Quantity::Temperature:
      return column + "_K";
    case Quantity::Length:
      return column + "_m";
    default:
      return column;
  }
}

}  // namespace diffusim
