// The one place that turns the fault codes of the model and the engine into
// words: why a grid, a request or a schedule cannot run, naming the limit.
#pragma once

#include <string>
#include <string_view>

#include "model/fault.hpp"
#include "model/parameters.hpp"

namespace diffusim {

// "the grid would need 22856610 grid points; the maximum is 10000", with
// `what` naming the request ("distance", "time", "grid").
std::string gridFaultReason(const Fault& check, std::string_view what);

// The same for the command line: a value that is not a finite number is
// said in words, never printed as inf or nan. (The menu keeps its own
// sentences, gridFaultReason's, byte for byte.)
std::string gridFaultWords(const Fault& check, std::string_view what);

// The sentence for a fault of the exact-time grid, a plan or a schedule.
std::string faultText(const Fault& fault);

// "DIFFUSIM_KERNELS=avx3 is not a kernel level (baseline, avx2 or avx512)":
// every entry that steps (the program, the Python module, the test
// binaries) refuses such a value at its start.
std::string kernelCapRefusal(std::string_view value);

}  // namespace diffusim
