#include "model/steel_grades.hpp"

#include <cctype>

namespace diffusim {

namespace {

constexpr double N = std::numeric_limits<double>::quiet_NaN();

// Ranges as published, wt %:
// - 16MnCr5 (1.7131), 20MnCr5 (1.7147), 20NiCrMo2-2 (1.6523): EN 10084
//   (16MnCr5: aloro.net/grades/de/gr-17131, akrostal.pl; 20MnCr5: Lucefin's
//   technical card, EN 10084:2008; 20NiCrMo2-2: otaialloysteel.com and
//   Lucefin's card, prEN 10084:2006).
// - 8620: ASTM A29 (otaialloysteel.com, round-steel.com); 9310: AISI 9310,
//   UNS G93100 (azom.com article 6703); 4320: SAE J404, UNS G43200
//   (searchsteel.info); 1018: SAE/AISI (steel0.com, bestarpipe.com).
constexpr SteelGrade GRADES[] = {
    //  name, standard, least {C, Si, Mn, Cr, Ni, Mo}, most {...}
    {"16MnCr5", "EN 10084", {0.14, 0.0, 1.00, 0.80, N, N}, {0.19, 0.40, 1.30, 1.10, N, N}},
    {"20MnCr5", "EN 10084", {0.17, 0.0, 1.10, 1.00, N, N}, {0.22, 0.40, 1.40, 1.30, N, N}},
    {"20NiCrMo2-2",
     "EN 10084",
     {0.17, 0.0, 0.65, 0.35, 0.40, 0.15},
     {0.23, 0.40, 0.95, 0.70, 0.70, 0.25}},
    {"8620",
     "ASTM A29",
     {0.18, 0.15, 0.70, 0.40, 0.40, 0.15},
     {0.23, 0.35, 0.90, 0.60, 0.70, 0.25}},
    {"9310",
     "AISI (UNS G93100)",
     {0.08, 0.15, 0.45, 1.00, 3.00, 0.08},
     {0.13, 0.30, 0.65, 1.40, 3.50, 0.15}},
    {"4320",
     "SAE J404 (UNS G43200)",
     {0.17, 0.15, 0.45, 0.40, 1.65, 0.20},
     {0.22, 0.30, 0.65, 0.60, 2.00, 0.30}},
    {"1018", "SAE/AISI", {0.15, N, 0.60, N, N, N}, {0.20, N, 0.90, N, N, N}},
};

std::string folded(std::string_view name) {
  std::string out;
  for (char c : name) out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const char* prefix : {"sae ", "aisi ", "sae", "aisi"})
    if (out.rfind(prefix, 0) == 0) return out.substr(std::string_view(prefix).size());
  return out;
}

}  // namespace

const SteelGrade* findSteelGrade(std::string_view name) {
  const std::string wanted = folded(name);
  for (const SteelGrade& g : GRADES)
    if (folded(g.name) == wanted) return &g;
  return nullptr;
}

std::string steelGradeNames() {
  std::string names;
  for (const SteelGrade& g : GRADES) {
    if (!names.empty()) names += ", ";
    names += g.name;
  }
  return names;
}

SteelComposition nominalComposition(const SteelGrade& grade) {
  SteelComposition s;
  s.grade = grade.name;
  for (std::size_t i = 0; i < STEEL_ELEMENTS.size(); ++i)
    if (!std::isnan(grade.most[i]))  // to 1e-6 wt %, so that 0.95 % reads 0.0095
      s.elements[i] = std::round((grade.least[i] + grade.most[i]) * 5e5) / 1e8;
  return s;
}

}  // namespace diffusim
