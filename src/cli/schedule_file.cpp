#include "cli/schedule_file.hpp"

#include <toml++/toml.h>

#include <cerrno>
#include <cstring>
#include <initializer_list>
#include <string_view>

#include "cli/input_file.hpp"
#include "cli/quantity.hpp"
#include "format/number_format.hpp"

namespace diffusim {

namespace {

// One line naming the file, the line and the key.
struct ScheduleError {
  std::string message;
};

class Reader {
 public:
  explicit Reader(std::string path) : path_(std::move(path)) {}

  [[noreturn]] void fail(const toml::node& node, std::string_view key,
                         std::string_view what) const {
    throw ScheduleError{path_ + ":" + std::to_string(node.source().begin.line) + ": " +
                        std::string(key) + ": " + std::string(what)};
  }
  [[noreturn]] void failAt(const toml::source_region& where, std::string_view what) const {
    throw ScheduleError{path_ + ":" + std::to_string(where.begin.line) + ": " + std::string(what)};
  }

  // Every key of `table` must be one of `known`.
  void onlyKeys(const toml::table& table, std::string_view where,
                std::initializer_list<std::string_view> known) const {
    for (auto&& [name, node] : table) {
      bool ok = false;
      for (std::string_view k : known) ok = ok || name.str() == k;
      if (!ok) {
        std::string list;
        for (std::string_view k : known) list += (list.empty() ? "" : ", ") + std::string(k);
        fail(node, std::string(where) + std::string(name.str()),
             "unknown key (known: " + list + ")");
      }
    }
  }

  const toml::table& table(const toml::table& parent, std::string_view key,
                           const toml::source_region& where) const {
    const toml::node* node = parent.get(key);
    if (node == nullptr) failAt(where, "missing table [" + std::string(key) + "]");
    const toml::table* t = node->as_table();
    if (t == nullptr) fail(*node, key, "must be a table");
    return *t;
  }

  // A number, or a string with a unit of `q`.
  double quantity(const toml::table& t, std::string_view key, std::string_view shown, Quantity q,
                  const double* fallback = nullptr) const {
    const toml::node* node = t.get(key);
    if (node == nullptr) {
      if (fallback != nullptr) return *fallback;
      failAt(t.source(), "missing key " + std::string(shown));
    }
    double v = 0.0;
    if (const auto* i = node->as_integer()) {
      v = static_cast<double>(i->get());
    } else if (const auto* f = node->as_floating_point()) {
      v = f->get();
    } else if (const auto* s = node->as_string()) {
      if (!parseQuantity(s->get(), q, v))
        fail(*node, shown, "'" + s->get() + "' is not " + describeQuantity(q));
    } else {
      fail(*node, shown, "must be a number or a string with a unit");
    }
    if (!std::isfinite(v)) fail(*node, shown, "must be a finite number");
    return v;
  }

  ProcessSchedule read(const toml::table& root) const {
    ProcessSchedule s;
    onlyKeys(root, "", {"specimen", "diffusivity", "stage"});
    const toml::source_region top = root.source();

    const toml::table& specimen = table(root, "specimen", top);
    onlyKeys(specimen, "specimen.", {"length", "sections", "initial"});
    s.length = quantity(specimen, "length", "specimen.length", Quantity::Length);
    if (!(s.length > 0.0)) fail(*specimen.get("length"), "specimen.length", "must be above 0");
    const toml::node* sections = specimen.get("sections");
    if (sections == nullptr) failAt(specimen.source(), "missing key specimen.sections");
    const auto* count = sections->as_integer();
    if (count == nullptr) fail(*sections, "specimen.sections", "must be a whole number");
    if (count->get() < 1 || count->get() > 9999)
      fail(*sections, "specimen.sections", "must be from 1 to 9999");
    s.sections = static_cast<std::int32_t>(count->get());
    s.initial = quantity(specimen, "initial", "specimen.initial", Quantity::Composition);
    if (!(s.initial >= 0.0 && s.initial <= 1.0))
      fail(*specimen.get("initial"), "specimen.initial", "must be a fraction from 0 to 1");

    const toml::table& law = table(root, "diffusivity", top);
    onlyKeys(law, "diffusivity.", {"A", "B", "a", "b"});
    const double zero = 0.0;
    s.law.A = quantity(law, "A", "diffusivity.A", Quantity::Plain);
    if (!(s.law.A > 0.0)) fail(*law.get("A"), "diffusivity.A", "must be above 0");
    s.law.B = quantity(law, "B", "diffusivity.B", Quantity::Plain);
    s.law.a = quantity(law, "a", "diffusivity.a", Quantity::Plain, &zero);
    s.law.b = quantity(law, "b", "diffusivity.b", Quantity::Plain, &zero);

    const toml::node* stages = root.get("stage");
    if (stages == nullptr) failAt(top, "missing [[stage]]: the schedule needs at least one stage");
    const toml::array* list = stages->as_array();
    if (list == nullptr) fail(*stages, "stage", "must be an array of tables ([[stage]])");
    if (list->empty()) fail(*stages, "stage", "the stage list is empty");
    for (std::size_t i = 0; i < list->size(); ++i) {
      const toml::node& node = *list->get(i);
      const std::string name = "stage " + std::to_string(i + 1) + ".";
      const toml::table* st = node.as_table();
      if (st == nullptr) fail(node, "stage", "must be a table");
      onlyKeys(*st, name, {"duration", "temperature", "surface"});
      Stage stage;
      stage.duration = quantity(*st, "duration", name + "duration", Quantity::Time);
      if (!(stage.duration > 0.0)) fail(*st->get("duration"), name + "duration", "must be above 0");
      stage.temperature = quantity(*st, "temperature", name + "temperature", Quantity::Temperature);
      if (!(stage.temperature > 0.0))
        fail(*st->get("temperature"), name + "temperature", "must be above 0 K");
      stage.surface = surface(*st, name);
      s.stages.push_back(stage);
    }
    return s;
  }

  SurfaceCondition surface(const toml::table& st, const std::string& name) const {
    const std::string key = name + "surface";
    const toml::node* node = st.get("surface");
    if (node == nullptr) failAt(st.source(), "missing key " + key);
    SurfaceCondition c;
    if (const auto* word = node->as_string()) {
      if (word->get() != "sealed")
        fail(*node, key,
             "a word must be \"sealed\"; otherwise { composition = C } or "
             "{ potential = P, beta = B }");
      c.kind = SurfaceKind::Sealed;
      return c;
    }
    const toml::table* t = node->as_table();
    if (t == nullptr)
      fail(*node, key, "must be { composition = C }, { potential = P, beta = B } or \"sealed\"");
    if (t->contains("composition")) {
      onlyKeys(*t, key + ".", {"composition"});
      c.kind = SurfaceKind::Fixed;
      c.composition = quantity(*t, "composition", key + ".composition", Quantity::Composition);
      if (!(c.composition >= 0.0 && c.composition <= 1.0))
        fail(*t->get("composition"), key + ".composition", "must be a fraction from 0 to 1");
      return c;
    }
    onlyKeys(*t, key + ".", {"potential", "beta"});
    c.kind = SurfaceKind::Transfer;
    c.potential = quantity(*t, "potential", key + ".potential", Quantity::Composition);
    if (!(c.potential >= 0.0 && c.potential <= 1.0))
      fail(*t->get("potential"), key + ".potential", "must be a fraction from 0 to 1");
    c.beta = quantity(*t, "beta", key + ".beta", Quantity::Plain);
    if (!(c.beta >= 0.0)) fail(*t->get("beta"), key + ".beta", "must be 0 or above");
    return c;
  }

 private:
  std::string path_;
};

}  // namespace

bool readScheduleFile(const std::string& path, ProcessSchedule& schedule, std::string& problem) {
  std::string text;
  if (!readInputFile("--schedule", path, text, problem)) return false;
  try {
    const toml::table root = toml::parse(text, path);
    schedule = Reader(path).read(root);
  } catch (const toml::parse_error& e) {
    problem =
        path + ":" + std::to_string(e.source().begin.line) + ": " + std::string(e.description());
    return false;
  } catch (const ScheduleError& e) {
    problem = e.message;
    return false;
  }
  return true;
}

std::string exampleScheduleFile() {
  return "# A diffusim process schedule: boost and diffuse at 1200 K on a 4 mm section.\n"
         "# Run it with  diffusim depth --schedule FILE --composition 0.0035 --every 30min\n"
         "# Numbers are SI (m, s, K, fraction of B); strings take units: \"4mm\", \"30min\",\n"
         "# \"4h\", \"0.35%\".\n"
         "\n"
         "[specimen]\n"
         "length = \"4mm\"                         # thickness; no flux through the far face\n"
         "sections = 400                         # grid sections; sections + 1 points\n"
         "initial = 0.002                        # fraction of B everywhere at t = 0\n"
         "\n"
         "[diffusivity]                          # D(C) = A exp(a C) exp((B + b C) / (R T))\n"
         "A = 4.7e-5                             # m^2/s\n"
         "B = -154808                            # J/mol; R = 8.3144 J/(mol K)\n"
         "a = -160                               # optional, default 0\n"
         "b = 2761400                            # optional, default 0 (J/mol per unit fraction)\n"
         "\n"
         "[[stage]]                              # boost: the surface held at a composition\n"
         "duration = \"4h\"\n"
         "temperature = 1200\n"
         "surface = { composition = 0.0115 }\n"
         "\n"
         "[[stage]]                              # diffuse: mass transfer from the atmosphere,\n"
         "duration = \"2h\"                        # flux in = beta (potential - C(0, t)), beta in "
         "m/s\n"
         "temperature = 1200\n"
         "surface = { potential = 0.008, beta = 1.5e-7 }\n"
         "\n"
         "[[stage]]                              # cool to hardening temperature, sealed: no flux\n"
         "duration = \"30min\"\n"
         "temperature = 1123\n"
         "surface = \"sealed\"\n";
}

}  // namespace diffusim
