// The runs of one stage from the parameter flags on the grid as entered:
// exactly at the times asked (explicit, the stable step shortened so that
// every time lands on a level), or by the menu's rules (--legacy: the
// remainder rule, the nearer level, the far face copying its neighbour).
#pragma once

#include <ostream>

#include "study/request.hpp"
#include "study/run_options.hpp"

namespace diffusim {

int runExact(const Request& request, const RunOptions& options, std::ostream& out,
             std::ostream& err);
int runLegacy(const Request& request, const RunOptions& options, std::ostream& out,
              std::ostream& err);

}  // namespace diffusim
