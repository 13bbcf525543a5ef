// The command line's own words for help: the top-level help, the footer of
// every command's help, and the pointer to it after a refusal.
#pragma once

#include <string_view>

namespace diffusim {

extern const char* const UNITS_FOOTER;
inline constexpr std::string_view TRY_HELP = "Try 'diffusim --help'.\n";

}  // namespace diffusim
