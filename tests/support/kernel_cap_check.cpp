// The test binaries refuse an unknown DIFFUSIM_KERNELS at start, as the
// program does: a misspelt level would otherwise run every kernel test at the
// baseline alone and report it as the level asked for.
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "model/kernel_level.hpp"
#include "words/fault_words.hpp"

namespace {

const bool kernelCapChecked = [] {
  if (const std::optional<std::string>& bad = diffusim::kernelCap().invalid) {
    std::fprintf(stderr, "%s\n", diffusim::kernelCapRefusal(*bad).c_str());
    std::exit(2);
  }
  return true;
}();

}  // namespace
