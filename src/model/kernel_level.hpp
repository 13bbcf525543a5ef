// The instruction-set levels the step kernels come in, and the cap the
// DIFFUSIM_KERNELS environment variable puts on them. A kernel above the cap
// counts as unsupported, so every kernel table picks the best one at or below
// it: one processor can run each level in turn, and the levels can be
// compared with each other.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace diffusim {

enum class KernelLevel { Baseline, Avx2, Avx512 };

const char* kernelLevelName(KernelLevel level);
std::optional<KernelLevel> parseKernelLevel(std::string_view text);
// The level of a kernel table entry, by its name ("avx512_shift" is avx512).
KernelLevel kernelLevelOf(std::string_view kernelName);

// The processor running this program has the instructions of `level`.
bool processorHas(KernelLevel level);

// DIFFUSIM_KERNELS, read once (the first time any table or caller asks).
// Unset or empty: no cap. A value that names no level caps at the baseline
// and is kept in `invalid`, for the program's entry to refuse.
struct KernelCap {
  KernelLevel level = KernelLevel::Avx512;
  std::optional<std::string> invalid;
};
const KernelCap& kernelCap();

// A kernel of `level` may run: the processor has it and the cap allows it.
bool kernelLevelUsable(KernelLevel level);

}  // namespace diffusim
