// The command line's flags, the parameter file and the schedule file turned
// into one validated request.
#pragma once

#include "study/request.hpp"

namespace diffusim {

class Arguments;
struct FlagTexts;

// The request the arguments make, or a UsageError naming the flag or limit.
Request buildRequest(const Arguments& args);

// --scheme, --tolerance and --estimate-error.
void readSchemeFlags(const Arguments& args, Request& r);
// --format: csv, json, or (with --legacy) the menu's result files;
// `tablesOnly` for design and fit, which write tables alone.
void readFormat(const FlagTexts& texts, Request& r, bool tablesOnly);
// design and fit: their flags and the schedule file.
void readInverse(const Arguments& args, Request& r);
// potential: the temperatures and the atmosphere.
void readPotential(const Arguments& args, Request& r);

}  // namespace diffusim
