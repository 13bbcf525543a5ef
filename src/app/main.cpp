// Program entry: wires the real console, the environment, the working
// directory and the process's signals into the menu or the command line.
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "cli/command_line.hpp"
#include "console/menu.hpp"
#include "engine/worker_pool.hpp"
#include "format/number_parse.hpp"
#include "model/kernel_level.hpp"
#include "output/run_control.hpp"
#include "words/fault_words.hpp"

#ifndef DIFFUSIM_VERSION
#define DIFFUSIM_VERSION "unknown"
#endif

int main(int argc, char** argv) {
  // A closed pipe on standard output is noticed as a failed write and ends
  // the session or the command, instead of killing the program mid-file.
  std::signal(SIGPIPE, SIG_IGN);
  std::ios::sync_with_stdio(false);
  const bool stderrIsTerminal = ::isatty(STDERR_FILENO) == 1;

  // DIFFUSIM_KERNELS caps the step kernels; a value that names no level is
  // refused rather than run at a level the caller did not ask for.
  if (const std::optional<std::string>& bad = diffusim::kernelCap().invalid) {
    std::cerr << "diffusim: " << diffusim::kernelCapRefusal(*bad) << "\n";
    return 2;
  }

  // DIFFUSIM_THREADS caps the threads a long run uses (0: every hardware thread).
  unsigned threads = 0;
  if (const char* text = std::getenv("DIFFUSIM_THREADS"); text != nullptr && *text) {
    if (const std::optional<unsigned> count =
            diffusim::parseThreadCount(text, diffusim::MAX_THREADS)) {
      threads = *count;
    } else {
      std::cerr << "diffusim: DIFFUSIM_THREADS=" << text << " is not a thread count 1.."
                << diffusim::MAX_THREADS << "; using every hardware thread\n";
    }
  }

  if (argc > 1) {
    diffusim::RunOptions options;
    options.version = DIFFUSIM_VERSION;
    options.catchInterrupts = true;
    options.threads = threads;
    if (stderrIsTerminal) options.progressOutput = &std::cerr;
    const std::vector<std::string> args(argv + 1, argv + argc);
    diffusim::catchTermination(diffusim::TerminationMode::AfterTheRun);
    const int status = diffusim::runCommandLine(args, std::cout, std::cerr, options);
    std::cout.flush();
    diffusim::endIfTerminated();
    return status;
  }

  diffusim::SessionOptions options;
  std::error_code ec;
  const std::filesystem::path cwd = std::filesystem::current_path(ec);
  options.outputDir = ec ? std::filesystem::path(".") : cwd;
  options.encoding = diffusim::koreanEncodingFor(std::getenv("LC_ALL"), std::getenv("LC_CTYPE"),
                                                 std::getenv("LANG"));
  options.lineFlush = ::isatty(STDOUT_FILENO) == 1;
  options.catchInterrupts = true;
  if (stderrIsTerminal) options.progressOutput = &std::cerr;
  options.threading.threads = threads;
  diffusim::catchTermination(diffusim::TerminationMode::Immediately);
  return diffusim::runMenu(std::cin, std::cout, options);
}
