#include "report/mirror.hpp"

#include <string>

namespace diffusim {

bool openResultFile(const ReportContext& ctx, ResultFile& file, std::string_view name) {
  if (file.open(ctx.outputDir / name)) return true;
  ctx.console.print("Cannot create result file \"" + std::string(name) + "\": " + file.error() +
                    "\n");
  return false;
}

bool closeResultFile(const ReportContext& ctx, ResultFile& file, std::string_view name) {
  if (file.close()) return true;
  ctx.console.print("Error writing result file \"" + std::string(name) + "\": " + file.error() +
                    "; the file is incomplete.\n");
  return false;
}

}  // namespace diffusim
