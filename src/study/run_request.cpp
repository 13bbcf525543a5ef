#include "study/run_request.hpp"

#include <memory>
#include <optional>
#include <sstream>

#include "study/exact_runs.hpp"
#include "study/inverse_commands.hpp"
#include "study/level_run.hpp"
#include "study/potential_command.hpp"
#include "study/process_commands.hpp"
#include "study/request_guards.hpp"

namespace diffusim {

namespace {

// The flags' one stage on the exact path, or as a schedule when its plan
// runs implicitly or the grid's error is estimated: the choice made on the
// plan the run then uses.
std::optional<LevelRun> scheduledRun(const Request& request, bool& scheduled) {
  scheduled = false;
  if (request.path != Request::Path::Exact || request.scheduled == nullptr) return std::nullopt;
  const Request& p = *request.scheduled;
  if (p.scheme.choice != SchemeChoice::Auto) {
    scheduled = true;  // named: no plan needed to choose
    return std::nullopt;
  }
  std::optional<LevelRun> run = LevelRun::tryPlan(p);
  if (run && (run->implicit() || p.estimateError)) {
    run->fixChoice();
    scheduled = true;
    return run;
  }
  scheduled = p.estimateError;  // refused in words where it runs
  return std::nullopt;
}

}  // namespace

int runRequest(Request request, const RunOptions& options, std::ostream& out, std::ostream& err) {
  if (request.threads == 0) request.threads = options.threads;
  if (request.command == "potential") return runPotential(request, options, out, err);
  if (request.command == "design") return runDesign(request, options, out, err);
  if (request.command == "fit") return runFit(request, options, out, err);
  if (request.scheduled != nullptr && request.scheduled->threads == 0) {
    auto p = std::make_shared<Request>(*request.scheduled);
    p->threads = options.threads;
    request.scheduled = std::move(p);
  }
  bool scheduled = false;
  std::optional<LevelRun> planned = scheduledRun(request, scheduled);
  if (scheduled) {
    Request process = planned ? planned->request() : *request.scheduled;
    if (!planned && process.scheme.choice == SchemeChoice::Auto)
      process.scheme.choice = SchemeChoice::Explicit;
    request = std::move(process);
  }
  // Warnings wait for the run: a request refused later says only why.
  std::ostringstream warnings;
  guardRequest(request, warnings);
  const auto warned = [&](int status) {
    err << warnings.str();
    return status;
  };
  try {
    switch (request.path) {
      case Request::Path::Legacy:
        return runLegacy(request, options, out, err);
      case Request::Path::Exact:
        return warned(runExact(request, options, out, err));
      case Request::Path::Process:
        break;
    }
    if (planned) return warned(runLevels(std::move(*planned), options, out, err));
    return warned(runProcessCommand(request, options, out, err));
  } catch (const RunFailure&) {
    err << warnings.str();
    throw;
  }
}

}  // namespace diffusim
