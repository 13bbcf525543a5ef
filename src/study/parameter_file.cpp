#include "study/parameter_file.hpp"

#include <toml++/toml.h>

#include <cerrno>
#include <cstring>

#include "format/number_format.hpp"
#include "study/input_file.hpp"

namespace diffusim {

namespace {

std::string lineOf(const std::string& path, const toml::source_region& where) {
  return path + ":" + std::to_string(where.begin.line);
}

}  // namespace

bool readParameterFile(const std::string& path, ParameterValues& values, std::string& problem) {
  std::string text;
  if (!readInputFile("--params", path, text, problem)) return false;
  toml::table table;
  try {
    table = toml::parse(text, path);
  } catch (const toml::parse_error& e) {
    problem = lineOf(path, e.source()) + ": " + std::string(e.description());
    return false;
  }
  struct Key {
    const char* name;
    std::optional<ParameterEntry>* slot;
    bool whole;  // an integer, not a quantity
  };
  const Key keys[] = {{"temperature", &values.temperature, false},
                      {"length", &values.length, false},
                      {"sections", &values.sections, true},
                      {"A", &values.a, false},
                      {"B", &values.b, false},
                      {"c0", &values.c0, false},
                      {"cs", &values.cs, false}};
  for (auto&& [name, node] : table) {
    const Key* key = nullptr;
    for (const Key& k : keys)
      if (name.str() == k.name) key = &k;
    const std::string where = lineOf(path, node.source()) + ": " + std::string(name.str());
    if (key == nullptr) {
      problem =
          where + ": unknown key (the keys are temperature, length, sections, A, B, c0 and cs)";
      return false;
    }
    ParameterEntry entry{{}, where};
    if (const auto* i = node.as_integer()) {
      entry.text = integer(i->get());
    } else if (const auto* f = node.as_floating_point(); f != nullptr && !key->whole) {
      entry.text = shortest(f->get());
    } else if (const auto* s = node.as_string(); s != nullptr && !key->whole) {
      entry.text = s->get();
    } else {
      problem =
          where + (key->whole ? ": must be a whole number"
                              : ": must be a number, or a string with a unit such as \"0.5mm\"");
      return false;
    }
    *key->slot = entry;
  }
  return true;
}

std::string defaultParameterFile() {
  return "# diffusim parameters, here the defaults. Use a copy with\n"
         "#     diffusim profile --params FILE --time 1h\n"
         "# Flags given on the command line override the file. Numbers are SI (K, m,\n"
         "# fraction of B); lengths and compositions may also be strings with a unit,\n"
         "# such as \"0.5mm\", \"500um\" or \"0.8%\".\n"
         "\n"
         "temperature = 1173.0    # T, K\n"
         "length = 0.0005         # specimen length L, m (\"0.5mm\")\n"
         "sections = 100          # grid sections, 1 to 9999; the grid has sections + 1 points\n"
         "A = 4.529e-7            # D = A exp(B / (R T)), m^2/s; R = 8.3144 J/(mol K)\n"
         "B = -147723.0           # J/mol\n"
         "c0 = 0.01               # composition of B everywhere at t = 0 (\"1%\")\n"
         "cs = 0.05               # composition held at the injection face x = 0 (\"5%\")\n";
}

}  // namespace diffusim
