// The session fuzzer's checks without libFuzzer: every file named on the
// command line, or found in a directory named there, is run as one session.
// The test build replays fuzz/seeds this way, so the seeds run in every build.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i) {
    if (fs::is_directory(argv[i])) {
      for (const auto& entry : fs::directory_iterator(argv[i]))
        if (entry.is_regular_file()) inputs.push_back(entry.path());
    } else {
      inputs.emplace_back(argv[i]);
    }
  }
  // Absolute, since a target may change the working directory.
  for (fs::path& p : inputs) p = fs::absolute(p);
  std::sort(inputs.begin(), inputs.end());
  if (inputs.empty()) {
    std::fprintf(stderr, "usage: diffusim-fuzz-replay FILE_OR_DIR...: no inputs found\n");
    return 2;
  }
  for (const fs::path& path : inputs) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "cannot read %s\n", path.c_str());
      return 2;
    }
    const std::string bytes(std::istreambuf_iterator<char>(in), {});
    std::printf("%s\n", path.filename().c_str());
    std::fflush(stdout);  // a failing input is the last one named
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  }
  std::printf("%zu inputs replayed, every session property held\n", inputs.size());
  return 0;
}
