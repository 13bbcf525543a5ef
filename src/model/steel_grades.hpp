// Case-hardening steels by grade: each element's range as the standard
// gives it, and the nominal composition, the middle of each range (a
// maximum alone: the middle of 0 to it). Pure data.
#pragma once

#include <array>
#include <cmath>
#include <limits>
#include <string>
#include <string_view>

namespace diffusim {

// The elements a steel's composition names, in this order.
inline constexpr std::array<const char*, 6> STEEL_ELEMENTS = {"C", "Si", "Mn", "Cr", "Ni", "Mo"};

// A steel: its grade (empty: a composition alone) and its elements as mass
// fractions (NaN: not given).
struct SteelComposition {
  static constexpr double none = std::numeric_limits<double>::quiet_NaN();
  std::string grade;
  std::array<double, STEEL_ELEMENTS.size()> elements{none, none, none, none, none, none};
  bool given() const {
    if (!grade.empty()) return true;
    for (double e : elements)
      if (!std::isnan(e)) return true;
    return false;
  }
  double carbon() const { return elements[0]; }
};

// A grade of the library (steel_grades.cpp cites where each range is from).
struct SteelGrade {
  const char* name;
  const char* standard;
  // Each element's least and most in wt %; least 0 with a most: a maximum
  // alone; both NaN: not in the standard's analysis.
  std::array<double, STEEL_ELEMENTS.size()> least, most;
};

// The grade by name (case and an "SAE "/"AISI " prefix ignored), or null.
const SteelGrade* findSteelGrade(std::string_view name);
// The known grades' names, comma-separated, for a refusal.
std::string steelGradeNames();
// The grade's nominal composition.
SteelComposition nominalComposition(const SteelGrade& grade);

}  // namespace diffusim
