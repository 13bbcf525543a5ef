#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "engine/fit.hpp"
#include "format/number_format.hpp"
#include "format/number_parse.hpp"
#include "output/columns.hpp"
#include "study/answer_sections.hpp"
#include "study/command_support.hpp"
#include "study/input_file.hpp"
#include "study/inverse_commands.hpp"
#include "study/named_values.hpp"
#include "study/request_guards.hpp"
#include "study/run_record.hpp"
#include "study/schedule_keys.hpp"
#include "study/schedule_writer.hpp"
#include "words/fault_words.hpp"
#include "words/fit_words.hpp"

namespace diffusim {

namespace {

// The measured profiles: a CSV with columns x_m and c, and t_s (else the
// schedule's end: each trial schedule's own, FitData without times); '#'
// lines are comments.
FitData readData(const std::string& path, const ProcessSchedule& s) {
  std::string text, problem;
  if (!readInputFile("--data", path, text, problem)) throw UsageError(problem);
  FitData d;
  std::istringstream lines(text);
  std::string line;
  int xColumn = -1, cColumn = -1, tColumn = -1, columns = 0, number = 0;
  const double end = scheduleEnd(s);
  double previous = 0.0;  // the time of the row before
  while (std::getline(lines, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    const std::vector<std::string> cells = splitList(line);
    const std::string where = path + ":" + std::to_string(number) + ": ";
    if (columns == 0) {
      columns = static_cast<int>(cells.size());
      for (int k = 0; k < columns; ++k) {
        const std::string& name = cells[static_cast<std::size_t>(k)];
        if (name == column::X) xColumn = k;
        if (name == column::COMPOSITION) cColumn = k;
        if (name == column::TIME) tColumn = k;
      }
      if (xColumn < 0 || cColumn < 0)
        throw UsageError(where + "the header row needs the columns x_m and c (and t_s)");
      continue;
    }
    if (static_cast<int>(cells.size()) != columns)
      throw UsageError(where + "a row has " + std::to_string(cells.size()) + " cells, not " +
                       std::to_string(columns));
    const auto cell = [&](int k) {
      double v = 0.0;
      if (!parseReal(cells[static_cast<std::size_t>(k)], v) || !std::isfinite(v))
        throw UsageError(where + "'" + cells[static_cast<std::size_t>(k)] +
                         "' is not a finite number");
      return v;
    };
    const double x = cell(xColumn), c = cell(cColumn), t = tColumn >= 0 ? cell(tColumn) : end;
    if (!(x >= 0.0 && x <= s.length))
      throw UsageError(where + "the depth " + shortest(x) + " m lies outside the specimen [0, " +
                       shortest(s.length) + "] m");
    if (!(c >= 0.0 && c <= 1.0)) throw UsageError(where + "c is a fraction from 0 to 1");
    if (!(t > 0.0 && t <= end * (1.0 + 1e-12)))
      throw UsageError(where + "the time " + shortest(t) + " s is outside the schedule (0, " +
                       shortest(end) + "] s");
    const bool first = d.x.empty();
    if (!first && t < previous)
      throw UsageError(where + "the times must not decrease (the rows of a time together)");
    if (!first && t == previous && !(x > d.x.back()))
      throw UsageError(where + "the depths of a time must increase (no depth twice)");
    previous = t;
    d.x.push_back(x);
    d.c.push_back(c);
    if (tColumn >= 0) d.t.push_back(std::min(t, end));
  }
  return d;
}

}  // namespace

int runFit(const Request& r, const RunOptions& options, std::ostream& out, std::ostream& err) {
  const std::vector<FitParameter> parameters = fitParametersOf(r.fitKeys, r.schedule, "--fit");
  const FitData data = readData(r.dataPath, r.schedule);
  if (data.c.size() <= parameters.size())
    throw UsageError("--data: " + std::to_string(data.c.size()) + " points for " +
                     std::to_string(parameters.size()) +
                     " parameters; a fit needs more points than parameters");
  SharedBudget budget(options.budget.pointUpdates);
  const FitResult fit = fitSchedule(r.schedule, parameters, data, r.scheme, &budget);
  if (!fit.fault.ok()) throw UsageError(faultText(fit.fault));
  if (!fit.converged && budget.exhausted()) {
    err << "diffusim fit: stopped at the work limit after " << fit.runs
        << " runs; nothing written\n";
    return EXIT_FAILED;
  }
  if (!fit.converged) {
    err << "diffusim fit: the fit did not converge after " << fit.iterations
        << " iterations (rms residual " << shortest(fit.rmsResidual)
        << "); try other starting values; nothing written\n";
    return EXIT_FAILED;
  }
  if (!r.writeSchedule.empty()) {
    std::vector<ScheduleValue> values;
    // The values set over the template's, then what was found.
    for (const Request::Setting& set : r.settings) values.emplace_back(set.key, set.value);
    for (std::size_t j = 0; j < parameters.size(); ++j)
      values.emplace_back(r.fitKeys[j], fit.values[j]);
    std::string problem;
    if (!writeScheduleWith(r.schedulePath, values, r.writeSchedule, problem)) {
      err << "diffusim fit: " << problem << "\n";
      return EXIT_FAILED;
    }
  }
  // Converged is the solver's word; whether the data pin each value down is
  // said beside it in the record, and warned of.
  for (std::size_t j = 0; j < parameters.size(); ++j)
    if (!fit.standings[j].determined())
      warn(r, err, undeterminedText(r.fitKeys, parameters, fit, j));
  // JSON shows the fit beside the data: the fitted schedule run once more.
  FittedProfiles fitted;
  if (r.format == TableFormat::Json) {
    fitted = fittedProfiles(r.schedule, parameters, fit, data, r.scheme, &budget);
    if (!fitted.fault.ok() || fitted.failed) {
      err << "diffusim fit: the fitted schedule could not be run again for its profiles ("
          << (budget.exhausted() ? std::string("the work limit") : faultText(fitted.fault))
          << "); nothing written\n";
      return EXIT_FAILED;
    }
  }
  const RunRecord rec = fitRecord(r, options, fit, data.c.size());
  Output output(r.output, out);
  TableWriter table(output.sink(), r.format, rec, fitColumns());
  if (r.format == TableFormat::Json) {
    table.section(scheduleSection(fitted.schedule));
    table.section(fitDataSection(data, fitted));
    table.section(fitCurveSection(fitted));
  }
  for (std::size_t j = 0; j < parameters.size(); ++j) {
    table.cellWord(r.fitKeys[j]);
    table.cell(fit.values[j]);
    table.cell(fit.standardErrors[j]);
    table.cell(fit.low[j]);
    table.cell(fit.high[j]);
  }
  if (!table.finish()) {
    err << "diffusim fit: the result could not be written\n";
    return EXIT_FAILED;
  }
  return finishOutput(output, out, err);
}

}  // namespace diffusim
