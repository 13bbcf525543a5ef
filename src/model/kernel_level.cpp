#include "model/kernel_level.hpp"

#include <cstdlib>

namespace diffusim {

const char* kernelLevelName(KernelLevel level) {
  switch (level) {
    case KernelLevel::Avx512:
      return "avx512";
    case KernelLevel::Avx2:
      return "avx2";
    case KernelLevel::Baseline:
      break;
  }
  return "baseline";
}

std::optional<KernelLevel> parseKernelLevel(std::string_view text) {
  for (const KernelLevel level : {KernelLevel::Baseline, KernelLevel::Avx2, KernelLevel::Avx512})
    if (text == kernelLevelName(level)) return level;
  return std::nullopt;
}

KernelLevel kernelLevelOf(std::string_view kernelName) {
  if (kernelName.rfind("avx512", 0) == 0) return KernelLevel::Avx512;
  if (kernelName.rfind("avx2", 0) == 0) return KernelLevel::Avx2;
  return KernelLevel::Baseline;
}

bool processorHas(KernelLevel level) {
#if defined(__x86_64__) && defined(__GNUC__)
  __builtin_cpu_init();
  switch (level) {
    case KernelLevel::Avx512:
      return __builtin_cpu_supports("avx512f") != 0;
    case KernelLevel::Avx2:
      return __builtin_cpu_supports("avx2") != 0;
    case KernelLevel::Baseline:
      break;
  }
  return true;
#else
  return level == KernelLevel::Baseline;
#endif
}

namespace {

KernelCap readKernelCap() {
  KernelCap cap;
  const char* text = std::getenv("DIFFUSIM_KERNELS");
  if (text == nullptr || *text == '\0') return cap;
  if (const std::optional<KernelLevel> level = parseKernelLevel(text)) {
    cap.level = *level;
  } else {
    // Never a kernel the caller may have meant to exclude.
    cap.level = KernelLevel::Baseline;
    cap.invalid = text;
  }
  return cap;
}

}  // namespace

const KernelCap& kernelCap() {
  static const KernelCap cap = readKernelCap();
  return cap;
}

bool kernelLevelUsable(KernelLevel level) {
  return level <= kernelCap().level && processorHas(level);
}

}  // namespace diffusim
