// libFuzzer target: one whole console session per input. The input bytes are
// the session's standard input, the console is a string, and the result files
// go to a scratch directory of this process that is emptied after every run.
// Every report runs under a small work budget so that each input stays fast.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>

#include "console/input.hpp"
#include "console/menu.hpp"

namespace {

namespace fs = std::filesystem;

// Per report: about a millisecond of stepping, and result files small enough
// to write and delete on every run.
constexpr diffusim::WorkBudget BUDGET{200'000, 256 * 1024};

[[noreturn]] void fail(const char* what, std::string_view detail = {}) {
  std::fprintf(stderr, "session property broken: %s %.*s\n", what, static_cast<int>(detail.size()),
               detail.data());
  std::abort();
}

// A directory of this process, on a RAM disk when there is one: completed
// reports sync their files, which should not cost a disk flush per input.
class Scratch {
 public:
  Scratch() {
    std::error_code ec;
    fs::path base = "/dev/shm";
    if (!fs::is_directory(base, ec) || ::access(base.c_str(), W_OK) != 0)
      base = fs::temp_directory_path();
    path_ = base / ("diffusim-fuzz-" + std::to_string(::getpid()));
    fs::remove_all(path_, ec);
    fs::create_directories(path_);
  }
  ~Scratch() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;

  const fs::path& path() const { return path_; }

  // Checks what a session left behind, then removes it all.
  void checkAndEmpty() const {
    for (const fs::directory_entry& entry : fs::directory_iterator(path_)) {
      const std::string name = entry.path().filename().string();
      // Stopped and failed reports discard their temporary files.
      if (name.starts_with(".")) fail("temporary file left behind:", name);
      // The step loops of choices 2 and 4 stop before a file outgrows its budget.
      if ((name == "Result.txt" || name == "Result_dx.txt") && entry.file_size() > BUDGET.fileBytes)
        fail("result file over its budget:", name);
    }
    for (const fs::directory_entry& entry : fs::directory_iterator(path_)) fs::remove(entry.path());
  }

 private:
  fs::path path_;
};

std::string bannerText() {
  std::istringstream in;
  std::ostringstream out;
  diffusim::Console console(in, out);
  diffusim::printBanner(console);
  return out.str();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const Scratch scratch;
  static const std::string banner = bannerText();

  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  std::ostringstream out;
  diffusim::SessionOptions options;
  options.outputDir = scratch.path();
  options.budget = BUDGET;
  const int status = diffusim::runMenu(in, out, options);

  const std::string console = out.str();
  if (status != 0) fail("non-zero status, though a string console cannot fail");
  if (!console.starts_with(banner)) fail("the console does not start with the banner");
  // A session only ends waiting at a prompt: the end of input or the answer 0.
  if (!console.ends_with(" : ")) fail("the session ended away from a prompt");
  scratch.checkAndEmpty();
  return 0;
}
