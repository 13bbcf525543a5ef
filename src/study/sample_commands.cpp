// The spread of an answer (--samples): N forward runs of the schedule with
// its uncertain values drawn, on the worker threads, and the quantiles of
// the case depth, the time to a composition or the profile. Each sample is
// read at its own schedule's end (or at --time); invalid draws are counted
// and left out, and a sample beyond the specimen or the search is +infinity.
#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "engine/sampling.hpp"
#include "format/number_format.hpp"
#include "output/columns.hpp"
#include "study/command_support.hpp"
#include "study/process_commands.hpp"
#include "study/run_record.hpp"
#include "study/sample_run.hpp"
#include "words/fault_words.hpp"

namespace diffusim {

namespace {

// The one line for a sample whose valid draw could not be run.
int sampleFailed(const Request& r, const SampleAnswers& slot, std::ostream& err) {
  const std::size_t i = slot.failed;
  const std::string which =
      "diffusim " + r.command + ": sample " + integer(static_cast<std::int64_t>(i + 1)) + ": ";
  switch (slot.run) {
    case SampleRun::Fault:
      err << which << faultText(slot.fault) << "\n";
      break;
    case SampleRun::StepLimit:
      err << which
          << "the implicit run was stopped at its step limit without reaching the end; the "
             "diffusivity or the transfer coefficient is out of any useful range\n";
      break;
    case SampleRun::WorkLimit:
    case SampleRun::Ran:
    case SampleRun::Invalid:
      err << "diffusim: stopped at the work limit\n";
      break;
  }
  return EXIT_FAILED;
}

}  // namespace

int runSamples(const Request& r, const RunOptions& options, std::ostream& out, std::ostream& err) {
  const ProcessSchedule& base = r.schedule;
  if (const Fault f = checkSchedule(base); !f.ok()) throw UsageError(faultText(f));
  const auto n = static_cast<std::size_t>(r.samples);
  const std::int32_t points = base.sections + 1;
  const double dx = base.length / static_cast<double>(base.sections);
  const bool profile = r.command == "profile";
  refuseSamples(r, "--samples");
  const SampleAnswers sampled = runSampleAnswers(r, options.budget);
  if (!sampled.ok()) return sampleFailed(r, sampled, err);
  const std::vector<double>& answers = sampled.answers;
  const std::vector<double>& profiles = sampled.profiles;

  const Spread spread = spreadOf(answers);
  const RunRecord rec = spreadRecord(r, options, base, spread, profile);
  Output output(r.output, out);
  if (!profile) {
    TableWriter table(output.sink(), r.format, rec, spreadColumns(false, r.command == "time"));
    for (const double q : SPREAD_QUANTILES) {
      table.cell(q);
      table.cell(quantileOf(spread.sorted, q));
    }
    if (!table.finish()) return EXIT_FAILED;
    return finishOutput(output, out, err);
  }
  // The profile: at each point the median, the quartiles and the 5 % and
  // 95 % quantiles of the valid samples.
  TableWriter table(output.sink(), r.format, rec, spreadColumns(true, false));
  std::vector<double> column;
  column.reserve(n);
  for (std::int32_t k = 0; k < points; ++k) {
    column.clear();
    for (std::size_t i = 0; i < n; ++i)
      if (!std::isnan(answers[i]))
        column.push_back(
            profiles[i * static_cast<std::size_t>(points) + static_cast<std::size_t>(k)]);
    std::sort(column.begin(), column.end());
    table.cell(static_cast<double>(k) * dx);
    for (const double q : SPREAD_QUANTILES) table.cell(quantileOf(column, q));
  }
  if (!table.finish()) return EXIT_FAILED;
  return finishOutput(output, out, err);
}

}  // namespace diffusim
