// Program entry: wires the real console, the working directory and the
// process's signals into a session.
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <system_error>

#include "console/menu.hpp"
#include "engine/worker_pool.hpp"

#ifndef DIFFUSIM_VERSION
#define DIFFUSIM_VERSION "unknown"
#endif

namespace {

constexpr const char* USAGE = "usage: diffusim [--help | --version]\n";

constexpr const char* HELP =
    "diffusim - transient one-dimensional diffusion of an alloying element B into a\n"
    "metallic matrix A, injected at one face (Fick's second law, explicit finite\n"
    "differences, D = A exp(B/RT), D dt/dx^2 fixed at 0.25).\n"
    "\n"
    "usage: diffusim [--help | --version]\n"
    "\n"
    "The program is interactive: it shows the default parameters and a menu, and\n"
    "asks its questions on standard input. It also reads scripted answers from a\n"
    "pipe, one number per token, for example\n"
    "\n"
    "    printf '3\\n3600\\n0\\n' | diffusim\n"
    "\n"
    "  1  enter parameters (0 keeps a value)\n"
    "  2  composition over time at a distance   -> Result_dx.txt\n"
    "  3  composition profile at a time         -> Result_dt.txt\n"
    "  4  every profile of a number of steps    -> Result.txt\n"
    "  0  exit\n"
    "\n"
    "Result files are plain text with CR LF line ends, written in the working\n"
    "directory and replaced only when a report completes. Ctrl-C during a report\n"
    "cancels that report. Long runs use every hardware thread; DIFFUSIM_THREADS\n"
    "in the environment caps the count (1 computes on one thread). Plot a result\n"
    "file with\n"
    "\n"
    "    diffusim-plot Result_dt.txt -o profile.png\n"
    "\n"
    "Options:\n"
    "  --help     show this text and exit\n"
    "  --version  show the version and exit\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) {
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
      std::cout << HELP;
      return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
      std::cout << "diffusim " DIFFUSIM_VERSION "\n";
      return 0;
    }
    std::cerr << "diffusim: unknown argument '" << argv[1] << "'\n" << USAGE;
    return 2;
  }

  // A closed pipe on standard output is noticed as a failed write and ends
  // the session, instead of killing the program mid-file.
  std::signal(SIGPIPE, SIG_IGN);
  std::ios::sync_with_stdio(false);

  diffusim::SessionOptions options;
  std::error_code ec;
  const std::filesystem::path cwd = std::filesystem::current_path(ec);
  options.outputDir = ec ? std::filesystem::path(".") : cwd;
  options.encoding = diffusim::koreanEncodingFor(std::getenv("LC_ALL"), std::getenv("LC_CTYPE"),
                                                 std::getenv("LANG"));
  options.lineFlush = ::isatty(STDOUT_FILENO) == 1;
  options.catchInterrupts = true;
  if (::isatty(STDERR_FILENO) == 1) options.progressOutput = &std::cerr;
  if (const char* threads = std::getenv("DIFFUSIM_THREADS"); threads != nullptr && *threads) {
    if (const std::optional<unsigned> count = diffusim::parseThreadCount(threads)) {
      options.threading.threads = *count;
    } else {
      std::cerr << "diffusim: DIFFUSIM_THREADS=" << threads << " is not a thread count 1.."
                << diffusim::MAX_THREADS << "; using every hardware thread\n";
    }
  }
  return diffusim::runMenu(std::cin, std::cout, options);
}
