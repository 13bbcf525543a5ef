// Why design found no recipe, in one line, with the names the asker gave
// the targets (--surface on the command line, surface in Python).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "engine/design.hpp"

namespace diffusim {

struct DesignNames {
  std::string surface = "--surface", depth = "--depth", longest = "--max-duration";
};

std::string designMissText(const DesignResult& d, const DesignTargets& t,
                           const std::vector<std::size_t>& varied, const DesignNames& names = {});

}  // namespace diffusim
