// A fit's parameters that the data do not pin down, in words: one clause
// per parameter, for the command line's warnings and the Python module's.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "engine/fit.hpp"

namespace diffusim {

// "stage1.beta is not determined by the data: ..." for parameter j of
// `fit`, whose keys are `keys`; empty when it is determined.
std::string undeterminedText(const std::vector<std::string>& keys,
                             const std::vector<FitParameter>& parameters, const FitResult& fit,
                             std::size_t j);

}  // namespace diffusim
