#include "study/command_support.hpp"

#include <csignal>

#include "format/number_format.hpp"

namespace diffusim {

Field number(std::string key, double v) {
  return {std::move(key), shortest(v), true, v};
}
Field count(std::string key, std::int64_t v) {
  return {std::move(key), integer(v), true, static_cast<double>(v)};
}
Field word(std::string key, std::string v) {
  return {std::move(key), std::move(v), false};
}

std::string interruptedWords() {
  switch (terminationSignal().load()) {
    case SIGTERM:
      return "terminated (SIGTERM)";
    case SIGHUP:
      return "hung up (SIGHUP)";
    default:
      return "interrupted";
  }
}

int stopped(const RunGuard& run, Output& output, std::ostream& err) {
  const std::string kept = output.discard();
  switch (run.reason()) {
    case StopReason::Interrupted:
      err << "diffusim: " << interruptedWords() << kept << "\n";
      break;
    case StopReason::BudgetExhausted:
      err << "diffusim: stopped at the work limit" << kept << "\n";
      break;
    case StopReason::ConsoleFailed:
    case StopReason::None:
      err << "diffusim: writing the result failed" << kept << "\n";
      break;
  }
  return EXIT_FAILED;
}

int spoolFailed(Output* output, std::ostream& err) {
  err << "diffusim: the rows could not be kept in a temporary file (the temporary directory is "
         "full or not writable)"
      << (output != nullptr ? output->discard() : std::string()) << "\n";
  return EXIT_FAILED;
}

int finishOutput(Output& output, std::ostream& out, std::ostream& err) {
  // The program ends by a termination signal that came as the run finished:
  // the previous file stays.
  if (terminationSignal().load() != 0) {
    err << "diffusim: " << interruptedWords() << output.discard() << "\n";
    return EXIT_FAILED;
  }
  if (const auto problem = output.commit(out)) {
    err << "diffusim: " << *problem << "\n";
    return EXIT_FAILED;
  }
  return EXIT_DONE;
}

}  // namespace diffusim
