// The grade library against the ranges its sources give.
#include "model/steel_grades.hpp"

#include <gtest/gtest.h>

namespace diffusim {
namespace {

TEST(SteelGrades, NominalIsTheMiddleOfEachPublishedRange) {
  struct Case {
    const char* name;
    std::array<double, 6> nominal;  // wt %, -1: not in the analysis
  };
  // The middles of the ranges as the sources print them.
  for (const Case& c : {Case{"16MnCr5", {0.165, 0.20, 1.15, 0.95, -1, -1}},
                        Case{"20mncr5", {0.195, 0.20, 1.25, 1.15, -1, -1}},
                        Case{"20NiCrMo2-2", {0.20, 0.20, 0.80, 0.525, 0.55, 0.20}},
                        Case{"SAE 8620", {0.205, 0.25, 0.80, 0.50, 0.55, 0.20}},
                        Case{"AISI 9310", {0.105, 0.225, 0.55, 1.20, 3.25, 0.115}},
                        Case{"4320", {0.195, 0.225, 0.55, 0.50, 1.825, 0.25}},
                        Case{"1018", {0.175, -1, 0.75, -1, -1, -1}}}) {
    SCOPED_TRACE(c.name);
    const SteelGrade* g = findSteelGrade(c.name);
    ASSERT_NE(g, nullptr);
    const SteelComposition s = nominalComposition(*g);
    for (std::size_t i = 0; i < 6; ++i) {
      if (c.nominal[i] < 0.0) {
        EXPECT_TRUE(std::isnan(s.elements[i])) << STEEL_ELEMENTS[i];
      } else {
        EXPECT_NEAR(s.elements[i], c.nominal[i] / 100.0, 1e-12) << STEEL_ELEMENTS[i];
      }
    }
  }
  EXPECT_EQ(findSteelGrade("42CrMo4"), nullptr);
  EXPECT_EQ(steelGradeNames(), "16MnCr5, 20MnCr5, 20NiCrMo2-2, 8620, 9310, 4320, 1018");
}

}  // namespace
}  // namespace diffusim
