#include "study/named_values.hpp"

#include "format/number_format.hpp"
#include "study/request.hpp"

namespace diffusim {

double quantityFlag(const std::string& flag, const std::string& text, Quantity q) {
  double v = 0.0;
  if (!parseQuantity(text, q, v))
    throw UsageError(flag + ": '" + text + "' is not " + describeQuantity(q));
  return v;
}

void requirePositive(const std::string& flag, double v, std::string_view what) {
  // A temperature may be written in degrees: its limit is absolute zero.
  const char* zero = what == "temperature" ? "0 K" : "0";
  if (!(v > 0.0)) throw UsageError(flag + ": the " + std::string(what) + " must be above " + zero);
}

void requireFraction(const std::string& flag, double v) {
  if (!(v >= 0.0 && v <= 1.0))
    throw UsageError(flag + ": a composition is a fraction from 0 to 1 (got " + shortest(v) +
                     "; write 5% for five percent)");
}

void requireWithinSchedule(const std::string& flag, double t, double end) {
  requirePositive(flag, t, "time");
  if (t > end * (1.0 + 1e-12))
    throw UsageError(flag + ": " + shortest(t) + " s is after the end of the schedule, " +
                     shortest(end) + " s");
}

std::vector<std::string> splitList(const std::string& text) {
  std::vector<std::string> items;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = text.find(',', start);
    items.push_back(text.substr(start, comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return items;
}

std::vector<double> quantityList(const std::string& flag, const std::string& text, Quantity q,
                                 std::string_view what) {
  std::vector<double> values;
  for (const std::string& item : splitList(text)) {
    const double v = quantityFlag(flag, item, q);
    requirePositive(flag, v, what);
    values.push_back(v);
  }
  if (values.size() > 10000) throw UsageError(flag + ": more than 10000 values");
  return values;
}

SchemeChoice schemeNamed(const std::string& name, const std::string& text) {
  if (text == "auto") return SchemeChoice::Auto;
  if (text == "explicit") return SchemeChoice::Explicit;
  if (text == "implicit") return SchemeChoice::Implicit;
  throw UsageError(name + ": '" + text + "' is not explicit, implicit or auto");
}

ImplicitMethod methodNamed(const std::string& name, const std::string& text) {
  if (text == "trbdf2") return ImplicitMethod::TrBdf2;
  if (text == "esdirk") return ImplicitMethod::Esdirk;
  throw UsageError(name + ": '" + text + "' is not esdirk or trbdf2");
}

const char* methodName(ImplicitMethod method) {
  return method == ImplicitMethod::Esdirk ? "esdirk" : "trbdf2";
}

double toleranceValue(const std::string& name, double v) {
  if (!(v >= SMALLEST_TOLERANCE && v <= LARGEST_TOLERANCE))
    throw UsageError(name + ": the composition error must be from " + shortest(SMALLEST_TOLERANCE) +
                     " to " + shortest(LARGEST_TOLERANCE) + " (got " + shortest(v) + ")");
  return v;
}

}  // namespace diffusim
