// Program entry: wires the real console and the working directory into a session.
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <system_error>

#include "console/menu.hpp"

int main() {
  std::ios::sync_with_stdio(false);
  diffusim::SessionOptions options;
  std::error_code ec;
  const std::filesystem::path cwd = std::filesystem::current_path(ec);
  options.outputDir = ec ? std::filesystem::path(".") : cwd;
  options.encoding = diffusim::koreanEncodingFor(std::getenv("LC_ALL"), std::getenv("LC_CTYPE"),
                                                 std::getenv("LANG"));
  diffusim::runMenu(std::cin, std::cout, options);
  return 0;
}
