// What a result says about the run that made it: the program, the command,
// the inputs and what the run derived, as plain fields every writer reads.
#pragma once

#include <string>
#include <vector>

namespace diffusim {

// One recorded value: a number (in shortest form, and the double itself),
// or a word.
struct Field {
  std::string key;
  std::string value;
  bool isNumber = true;
  double number = 0.0;  // a number's value
};

struct RunRecord {
  std::string program;  // "diffusim 1.0.0"
  std::string command;  // "profile", "history", "profiles"
  std::vector<Field> inputs;
  std::vector<Field> grid;
};

}  // namespace diffusim
