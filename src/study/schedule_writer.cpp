#include "study/schedule_writer.hpp"

#include <toml++/toml.h>

#include <sstream>

#include "format/number_parse.hpp"
#include "output/result_file.hpp"
#include "study/input_file.hpp"

namespace diffusim {

namespace {

// The table a dotted key lives in, and its last part; null when the
// template has no such place.
toml::table* placeOf(toml::table& root, const std::string& key, std::string& leaf,
                     std::string& problem) {
  const std::size_t dot = key.find('.');
  if (dot == std::string::npos) return nullptr;
  const std::string head = key.substr(0, dot);
  std::string rest = key.substr(dot + 1);
  if (head == "specimen" || head == "diffusivity" || head == "nitrogen") {
    leaf = rest;
    return root[head].as_table();
  }
  std::int64_t stage = 0;
  if (head.rfind("stage", 0) != 0 || !parseCount(head.substr(5), 1, 1000000, stage)) return nullptr;
  toml::array* stages = root["stage"].as_array();
  if (stages == nullptr || static_cast<std::size_t>(stage) > stages->size()) return nullptr;
  toml::table* st = stages->get(static_cast<std::size_t>(stage - 1))->as_table();
  if (st == nullptr) return nullptr;
  // A face's values are in its table (the surface's, or back.*), a ramp's
  // ends in the temperature's; duration and temperature are the stage's.
  const bool back = rest.rfind("back.", 0) == 0;
  if (back) rest = rest.substr(5);
  if (back || rest == "beta" || rest == "potential" || rest == "composition" || rest == "flux" ||
      rest == "limit") {
    toml::table* face = (*st)[back ? "back" : "surface"].as_table();
    if (face == nullptr) {
      problem = key + ": stage " + std::to_string(stage) + "'s " +
                (back ? "back face" : "surface") + " has no " + rest;
      return nullptr;
    }
    leaf = rest;
    return face;
  }
  // Nitrogen's surface is a table of its own.
  if (rest.rfind("nitrogen.", 0) == 0) {
    toml::table* face = (*st)["nitrogen"].as_table();
    if (face == nullptr) {
      problem = key + ": stage " + std::to_string(stage) + " has no nitrogen surface table";
      return nullptr;
    }
    leaf = rest.substr(9);
    return face;
  }
  // The surface's atmosphere is a table in the surface's.
  if (rest.rfind("atmosphere.", 0) == 0) {
    toml::table* face = (*st)["surface"].as_table();
    toml::table* gas = face != nullptr ? (*face)["atmosphere"].as_table() : nullptr;
    if (gas == nullptr) {
      problem = key + ": stage " + std::to_string(stage) + "'s surface has no atmosphere";
      return nullptr;
    }
    leaf = rest.substr(11);
    return gas;
  }
  if (rest == "temperature.from" || rest == "temperature.to") {
    leaf = rest.substr(12);
    return (*st)["temperature"].as_table();
  }
  leaf = rest;
  return st;
}

}  // namespace

bool writeScheduleWith(const std::string& templatePath, const std::vector<ScheduleValue>& values,
                       const std::string& target, std::string& problem) {
  std::string text;
  if (!readInputFile("--schedule", templatePath, text, problem)) return false;
  toml::table root;
  try {
    root = toml::parse(text, templatePath);
  } catch (const toml::parse_error& e) {
    problem = templatePath + ": " + std::string(e.description());
    return false;
  }
  if (const toml::array* stages = root["stage"].as_array()) {
    for (const toml::node& node : *stages) {
      const toml::table* st = node.as_table();
      if (st != nullptr && st->contains("repeat")) {
        problem =
            "--write-schedule: the template has repeated groups; write its stages out to "
            "have them written back";
        return false;
      }
    }
  }
  for (const auto& [key, value] : values) {
    std::string leaf;
    toml::table* place = placeOf(root, key, leaf, problem);
    if (place == nullptr) {
      if (problem.empty()) problem = "--write-schedule: the template has no place for " + key;
      return false;
    }
    if (key == "specimen.sections") {
      place->insert_or_assign(leaf, static_cast<std::int64_t>(value));  // a whole number
    } else {
      place->insert_or_assign(leaf, value);
    }
  }
  std::ostringstream os;
  os << "# Written by diffusim from " << templatePath << "\n" << root << "\n";
  ResultFile file;
  if (!file.open(target)) {
    problem = "cannot write '" + target + "': " + file.error();
    return false;
  }
  file.write(os.str());
  if (!file.commit()) {
    problem = "writing '" + target + "' failed: " + file.error();
    return false;
  }
  return true;
}

}  // namespace diffusim
