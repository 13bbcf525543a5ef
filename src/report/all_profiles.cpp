// Choice 4: every profile of a run of steps, written to the result file only.
#include <memory>
#include <string>
#include <vector>

#include "format/number_format.hpp"
#include "model/grid.hpp"
#include "report/reports.hpp"

namespace diffusim {

namespace {

// "\n정상적으로 출력되었습니다.\n" ("the output was written successfully").
constexpr std::string_view SUCCESS_UTF8 =
    "\n\xEC\xA0\x95\xEC\x83\x81\xEC\xA0\x81\xEC\x9C\xBC\xEB\xA1\x9C "
    "\xEC\xB6\x9C\xEB\xA0\xA5\xEB\x90\x98\xEC\x97\x88\xEC\x8A\xB5\xEB\x8B\x88\xEB\x8B\xA4.\n";
constexpr std::string_view SUCCESS_EUC_KR =
    "\n\xC1\xA4\xBB\xF3\xC0\xFB\xC0\xB8\xB7\xCE "
    "\xC3\xE2\xB7\xC2\xB5\xC7\xBE\xFA\xBD\xC0\xB4\xCF\xB4\xD9.\n";

}  // namespace

ReportOutcome reportAllProfiles(const ReportContext& ctx, DiffusionParameters p) {
  static constexpr std::string_view FILE_NAME = "Result.txt";
  Console& console = ctx.console;
  ResultFile file;
  if (!openResultFile(ctx, file, FILE_NAME)) return ReportOutcome::FileFailed;

  std::int32_t stepCount = 0;
  if (!console.promptInt("Input Number of Data to output : ", stepCount)) {
    file.close();
    return ReportOutcome::EndOfInput;
  }

  file.write("T = " + fixed(p.temperature) + "(K)\n\n");

  const std::int32_t n = p.gridPoints;
  auto grid = std::make_unique<ConcentrationGrid>();
  grid->resetGrid(n, p.initialComposition, p.injectionComposition);

  // Index and distance columns are the same in every block: format them once,
  // already with the file's "\r\n" line ends in mind.
  std::vector<std::string> rowPrefix(static_cast<std::size_t>(n));
  for (std::int32_t i = 0; i < n; ++i) {
    std::string& prefix = rowPrefix[static_cast<std::size_t>(i)];
    appendInt(prefix, i, 3);
    prefix += '\t';
    appendFixed(prefix, static_cast<double>(i) * p.dx, 6);
    prefix += '\t';
  }

  std::string block;
  std::int32_t step = 0;
  do {
    ++step;
    block.clear();
    // The banner shows the time of the step computed just below it.
    block += "\r\n-----------------------------time = ";
    appendFixed(block, static_cast<double>(step) * p.dt, 6);
    block += "(s)-----------------------------\r\n\r\ncnt\tdistance(m)\tC(B)\t\r\n";
    grid->advance(n, p.meshRatio);
    for (std::int32_t i = 0; i < n; ++i) {
      grid->prev[i] = grid->next[i];
      block += rowPrefix[static_cast<std::size_t>(i)];
      appendFixed(block, grid->prev[i], 6);
      block += "\t\r\n";
    }
    file.writeRaw(block);
  } while (step < stepCount && !file.failed());  // a full disk ends the run early

  const bool written = closeResultFile(ctx, file, FILE_NAME);
  if (written) {
    console.print(ctx.encoding == KoreanEncoding::EucKr ? SUCCESS_EUC_KR : SUCCESS_UTF8);
  }
  console.print(CLOSING_DASHES);
  return written ? ReportOutcome::Completed : ReportOutcome::FileFailed;
}

}  // namespace diffusim
