#include "study/schedule_file.hpp"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <tuple>
#include <vector>

#include "format/number_format.hpp"
#include "model/geometry.hpp"
#include "model/parameters.hpp"
#include "study/input_file.hpp"
#include "study/schedule_keys.hpp"
#include "study/schedule_reader.hpp"
#include "study/species_checks.hpp"

namespace diffusim {

namespace schedule {

ProcessSchedule Reader::read(const toml::table& root) const {
  ProcessSchedule s;
  onlyKeys(root, "",
           {"specimen", "steel", "diffusivity", "nitrogen", "stage", "hardness", "uncertainty"});
  const toml::source_region top = root.source();

  const toml::table& specimen = table(root, "specimen", top);
  onlyKeys(specimen, "specimen.",
           {"geometry", "length", "radius", "inner_radius", "sections", "initial", "density",
            "alloy_factor"});
  readShape(specimen, s);
  const toml::node* sections = specimen.get("sections");
  if (sections == nullptr) failAt(specimen.source(), "missing key specimen.sections");
  const auto* count = sections->as_integer();
  if (count == nullptr) fail(*sections, "specimen.sections", "must be a whole number");
  if (!sectionsInRange(count->get()))
    fail(*sections, "specimen.sections", "must be from 1 to 9999");
  s.sections = static_cast<std::int32_t>(count->get());
  readSteelTable(root, s);
  // The steel's carbon is the initial composition unless one is given.
  const double carbon = s.steel.carbon();
  s.initial = quantity(specimen, "initial", "specimen.initial", Quantity::Composition,
                       std::isnan(carbon) ? nullptr : &carbon);
  if (!(s.initial >= 0.0 && s.initial <= 1.0))
    fail(*specimen.get("initial"), "specimen.initial", "must be a fraction from 0 to 1");
  readSteel(root, specimen, s);
  readNitrogen(root, s);
  readStages(root, s);
  if (const std::string why = nitrogenProblem(s); !why.empty()) failAt(top, why);
  if (const toml::node* node = root.get("uncertainty")) {
    const toml::table* t = node->as_table();
    if (t == nullptr) fail(*node, "uncertainty", "must be a table");
    readUncertainty(*t, "", s);
  }
  return s;
}

// [steel]: grade = "16MnCr5" (its nominal analysis) and/or the elements
// C, Si, Mn, Cr, Ni, Mo as fractions or percentages, over the grade's.
void Reader::readSteelTable(const toml::table& root, ProcessSchedule& s) const {
  const toml::node* node = root.get("steel");
  if (node == nullptr) return;
  const toml::table* t = node->as_table();
  if (t == nullptr) fail(*node, "steel", "must be a table");
  onlyKeys(*t, "steel.", {"grade", "C", "Si", "Mn", "Cr", "Ni", "Mo"});
  if (const toml::node* grade = t->get("grade")) {
    const auto* word = grade->as_string();
    const SteelGrade* known = word != nullptr ? findSteelGrade(word->get()) : nullptr;
    if (known == nullptr)
      fail(*grade, "steel.grade",
           (word != nullptr ? "unknown grade '" + word->get() + "'"
                            : std::string("must be a word")) +
               " (known: " + steelGradeNames() + ")");
    s.steel = nominalComposition(*known);
  }
  for (std::size_t i = 0; i < STEEL_ELEMENTS.size(); ++i) {
    const char* element = STEEL_ELEMENTS[i];
    const std::string shown = std::string("steel.") + element;
    if (t->contains(element)) {
      const double v = quantity(*t, element, shown, Quantity::Composition);
      // A steel's carbon is at most 2.1 %, a case-hardening steel's other
      // elements at most 10 %: a plain 0.8 meant as a percentage is caught.
      const double most = i == 0 ? AUSTENITE_MOST_CARBON : 0.1;
      if (!(v >= 0.0 && v <= most))
        fail(*t->get(element), shown,
             "must be from 0 to " + shortest(most * 100.0) + "% (" + shortest(most) +
                 "); a composition is a fraction" +
                 (v > most && v < 100.0 ? ": did you mean \"" + shortest(v) + "%\"?" : ""));
      s.steel.elements[i] = v;
    }
  }
}

// [nitrogen]: nitrogen's law, model = "bohnekamp" or A and B (and a, b as
// carbon's law takes them), each over the model's; and its initial
// composition (0 unless given).
void Reader::readNitrogen(const toml::table& root, ProcessSchedule& s) const {
  const toml::node* node = root.get("nitrogen");
  if (node == nullptr) return;
  const toml::table* t = node->as_table();
  if (t == nullptr) fail(*node, "nitrogen", "must be a table");
  onlyKeys(*t, "nitrogen.", {"model", "A", "B", "a", "b", "initial"});
  NitrogenSpecies& n = s.nitrogen;
  n.given = true;
  bool model = false;
  if (const toml::node* m = t->get("model")) {
    const auto* word = m->as_string();
    if (word == nullptr || word->get() != "bohnekamp")
      fail(*m, "nitrogen.model",
           (word != nullptr ? "unknown model '" + word->get() + "'"
                            : std::string("must be a word")) +
               " (known: bohnekamp; none for A, B, a, b as given)");
    model = true;
  }
  const DiffusivityLaw defaults = model ? bohnekampLaw() : DiffusivityLaw{};
  const double zero = 0.0;
  n.law.model = model ? DiffusivityModel::Bohnekamp : DiffusivityModel::Law;
  n.law.A = quantity(*t, "A", "nitrogen.A", Quantity::Plain, model ? &defaults.A : nullptr);
  if (!(n.law.A > 0.0)) fail(*t->get("A"), "nitrogen.A", "must be above 0");
  n.law.B = quantity(*t, "B", "nitrogen.B", Quantity::Plain, model ? &defaults.B : nullptr);
  n.law.a = quantity(*t, "a", "nitrogen.a", Quantity::Plain, &zero);
  n.law.b = quantity(*t, "b", "nitrogen.b", Quantity::Plain, &zero);
  n.initial = quantity(*t, "initial", "nitrogen.initial", Quantity::Composition, &zero);
  if (!(n.initial >= 0.0 && n.initial <= 1.0))
    fail(*t->get("initial"), "nitrogen.initial", "must be a fraction from 0 to 1");
}

// [uncertainty]: a table of dotted keys, each { sd = S } or { relative = R }.
void Reader::readUncertainty(const toml::table& t, const std::string& prefix,
                             ProcessSchedule& s) const {
  for (auto&& [name, node] : t) {
    const std::string key = prefix + std::string(name.str());
    const std::string shown = "uncertainty." + key;
    const toml::table* leaf = node.as_table();
    if (leaf == nullptr) fail(node, shown, "must be { sd = S } or { relative = R }");
    if (!leaf->contains("sd") && !leaf->contains("relative")) {
      readUncertainty(*leaf, key + ".", s);
      continue;
    }
    onlyKeys(*leaf, shown + ".", {"sd", "relative"});
    if (leaf->contains("sd") && leaf->contains("relative"))
      fail(node, shown, "give sd or relative, not both");
    Uncertainty u;
    u.key = key;
    u.relative = leaf->contains("relative");
    std::string why;
    if (!parameterOf(key, s, u.parameter, why)) fail(node, shown, why);
    if (u.parameter.kind == ScheduleParameter::Kind::Sections)
      fail(node, shown, "a whole number is not spread");
    // An sd is in the key's own units; a relative spread is a plain number.
    const char* which = u.relative ? "relative" : "sd";
    u.sd = quantity(*leaf, which, shown + "." + which,
                    u.relative ? Quantity::Plain : spreadQuantity(u.parameter.kind));
    if (!(u.sd >= 0.0)) fail(*leaf->get(which), shown + "." + which, "must be 0 or above");
    for (const Uncertainty& other : s.uncertainty)
      if (other.key == key) fail(node, shown, "is given twice");
    s.uncertainty.push_back(u);
  }
}

// The steel: its density and alloy factor, the diffusivity's model or law,
// and the hardness table.
void Reader::readSteel(const toml::table& root, const toml::table& specimen,
                       ProcessSchedule& s) const {
  for (const auto& [key, shown, target] :
       {std::tuple{"density", "specimen.density", &s.density},
        std::tuple{"alloy_factor", "specimen.alloy_factor", &s.alloyFactor}}) {
    *target = quantity(specimen, key, shown, Quantity::Plain, target);
    if (!(*target > 0.0)) fail(*specimen.get(key), shown, "must be above 0");
  }

  const toml::table& law = table(root, "diffusivity", root.source());
  onlyKeys(law, "diffusivity.", {"model", "A", "B", "a", "b"});
  std::string model = "law";
  if (const toml::node* node = law.get("model")) {
    const auto* word = node->as_string();
    model = word != nullptr ? word->get() : std::string();
    if (model != "tibbetts" && model != "slycke-ericsson")
      fail(*node, "diffusivity.model",
           (word != nullptr ? "unknown model '" + model + "'" : std::string("must be a word")) +
               " (known: tibbetts, slycke-ericsson; none for A, B, a, b as given)");
  }
  if (model == "slycke-ericsson") {
    for (const char* key : {"A", "B", "a", "b"})
      if (const toml::node* node = law.get(key))
        fail(*node, std::string("diffusivity.") + key,
             "the slycke-ericsson model has its own constants");
    s.law.model = DiffusivityModel::SlyckeEricsson;
  } else {
    const bool tibbetts = model == "tibbetts";
    const DiffusivityLaw defaults = tibbetts ? tibbettsLaw() : DiffusivityLaw{};
    const double zero = 0.0;
    s.law.model = tibbetts ? DiffusivityModel::Tibbetts : DiffusivityModel::Law;
    s.law.A =
        quantity(law, "A", "diffusivity.A", Quantity::Plain, tibbetts ? &defaults.A : nullptr);
    if (!(s.law.A > 0.0)) fail(*law.get("A"), "diffusivity.A", "must be above 0");
    s.law.B =
        quantity(law, "B", "diffusivity.B", Quantity::Plain, tibbetts ? &defaults.B : nullptr);
    s.law.a = quantity(law, "a", "diffusivity.a", Quantity::Plain, tibbetts ? &defaults.a : &zero);
    s.law.b = quantity(law, "b", "diffusivity.b", Quantity::Plain, tibbetts ? &defaults.b : &zero);
  }

  const toml::node* hardness = root.get("hardness");
  if (hardness == nullptr) return;
  const toml::table* h = hardness->as_table();
  if (h == nullptr) fail(*hardness, "hardness", "must be a table");
  onlyKeys(*h, "hardness.", {"carbon", "HV"});
  const auto list = [&](const char* key, Quantity q) {
    const toml::node* node = h->get(key);
    const std::string shown = std::string("hardness.") + key;
    if (node == nullptr) failAt(h->source(), "missing key " + shown);
    const toml::array* values = node->as_array();
    if (values == nullptr) fail(*node, shown, "must be a list of numbers");
    if (values->size() < 2 || values->size() > 1000)
      fail(*node, shown, "must hold 2 to 1000 values");
    std::vector<double> out;
    for (std::size_t j = 0; j < values->size(); ++j)
      out.push_back(quantity(*values->get(j), shown + "[" + std::to_string(j + 1) + "]", q));
    return std::pair{node, out};
  };
  const auto [carbonNode, carbon] = list("carbon", Quantity::Composition);
  const auto [hvNode, hv] = list("HV", Quantity::Plain);
  if (carbon.size() != hv.size())
    fail(*hvNode, "hardness.HV",
         "has " + std::to_string(hv.size()) + " values, hardness.carbon " +
             std::to_string(carbon.size()));
  s.hardness = {carbon, hv};
  // The model's rules, worded at the list that breaks them.
  switch (s.hardness.check().problem) {
    case HardnessTable::Problem::None:
    case HardnessTable::Problem::Lengths:  // read above, each list's own
      break;
    case HardnessTable::Problem::CarbonRange:
      fail(*carbonNode, "hardness.carbon", "must be fractions from 0 to 1");
    case HardnessTable::Problem::CarbonOrder:
      fail(*carbonNode, "hardness.carbon", "must increase from one value to the next");
    case HardnessTable::Problem::HardnessOrder:
      fail(*hvNode, "hardness.HV", "must not decrease as carbon increases");
    case HardnessTable::Problem::HardnessNegative:
      fail(*hvNode, "hardness.HV", "must be 0 or above");
  }
}

// The shape and its dimensions: a plate's length, a curved specimen's radii.
void Reader::readShape(const toml::table& specimen, ProcessSchedule& s) const {
  Geometry& g = s.geometry;
  if (const toml::node* node = specimen.get("geometry")) {
    const auto* word = node->as_string();
    const std::string name = word != nullptr ? word->get() : std::string();
    if (name == "cylinder") {
      g.shape = Shape::Cylinder;
    } else if (name == "sphere") {
      g.shape = Shape::Sphere;
    } else if (name != "plate") {
      fail(*node, "specimen.geometry",
           (word != nullptr ? "unknown geometry '" + name + "'" : std::string("must be a word")) +
               " (known: plate, cylinder, sphere)");
    }
  }
  if (!g.curved()) {
    for (const char* key : {"radius", "inner_radius"})
      if (const toml::node* node = specimen.get(key))
        fail(*node, std::string("specimen.") + key,
             "a plate has no radius; give specimen.length, or geometry = \"cylinder\" or "
             "\"sphere\"");
    s.length = quantity(specimen, "length", "specimen.length", Quantity::Length);
    if (!(s.length > 0.0)) fail(*specimen.get("length"), "specimen.length", "must be above 0");
    return;
  }
  const std::string shape = shapeName(g.shape);
  if (const toml::node* node = specimen.get("length"))
    fail(*node, "specimen.length",
         "a " + shape + " is sized by specimen.radius (and inner_radius), not length");
  if (specimen.get("radius") == nullptr)
    failAt(specimen.source(), "missing key specimen.radius: a " + shape + " needs its radius");
  g.radius = quantity(specimen, "radius", "specimen.radius", Quantity::Length);
  if (!(g.radius > 0.0)) fail(*specimen.get("radius"), "specimen.radius", "must be above 0");
  const double zero = 0.0;
  g.innerRadius =
      quantity(specimen, "inner_radius", "specimen.inner_radius", Quantity::Length, &zero);
  if (!(g.innerRadius >= 0.0 && g.innerRadius < g.radius))
    fail(*specimen.get("inner_radius"), "specimen.inner_radius",
         "must be from 0 to below specimen.radius (" + shortest(g.radius) + " m)");
  s.length = g.radius - g.innerRadius;
}

}  // namespace schedule

bool parseScheduleText(const std::string& text, const std::string& name, ProcessSchedule& schedule,
                       std::string& problem) {
  try {
    const toml::table root = toml::parse(text, name);
    schedule = schedule::Reader(name).read(root);
  } catch (const toml::parse_error& e) {
    problem =
        name + ":" + std::to_string(e.source().begin.line) + ": " + std::string(e.description());
    return false;
  } catch (const schedule::ScheduleError& e) {
    problem = e.message;
    return false;
  }
  return true;
}

bool readScheduleFile(const std::string& path, ProcessSchedule& schedule, std::string& problem) {
  std::string text;
  if (!readInputFile("--schedule", path, text, problem)) return false;
  return parseScheduleText(text, path, schedule, problem);
}

}  // namespace diffusim
