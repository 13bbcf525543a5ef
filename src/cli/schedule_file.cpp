#include "cli/schedule_file.hpp"

#include <toml++/toml.h>

#include <cerrno>
#include <cstring>
#include <initializer_list>
#include <string_view>

#include "cli/input_file.hpp"
#include "cli/quantity.hpp"
#include "format/number_format.hpp"
#include "model/geometry.hpp"

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
    onlyKeys(specimen, "specimen.",
             {"geometry", "length", "radius", "inner_radius", "sections", "initial"});
    readShape(specimen, s);
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
      onlyKeys(*st, name, {"duration", "temperature", "surface", "back"});
      Stage stage;
      stage.duration = quantity(*st, "duration", name + "duration", Quantity::Time);
      if (!(stage.duration > 0.0)) fail(*st->get("duration"), name + "duration", "must be above 0");
      readTemperature(*st, name, stage);
      stage.surface = surface(*st, name, "surface");
      if (const toml::node* back = st->get("back")) {
        if (!s.geometry.hasBackFace())
          fail(*back, name + "back",
               std::string("a solid ") + shapeName(s.geometry.shape) +
                   " has no back face (its centre); give specimen.inner_radius for a hollow one");
        stage.back = surface(*st, name, "back");
      }
      s.stages.push_back(stage);
    }
    return s;
  }

  // The shape and its dimensions: a plate's length, a curved specimen's radii.
  void readShape(const toml::table& specimen, ProcessSchedule& s) const {
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

  // A temperature, or a ramp { from = T, to = T } over the stage.
  void readTemperature(const toml::table& st, const std::string& name, Stage& stage) const {
    const std::string key = name + "temperature";
    const auto above = [&](const toml::table& t, std::string_view k, const std::string& shown) {
      const double v = quantity(t, k, shown, Quantity::Temperature);
      if (!(v > 0.0)) fail(*t.get(k), shown, "must be above 0 K");
      return v;
    };
    const toml::node* node = st.get("temperature");
    const toml::table* ramp = node != nullptr ? node->as_table() : nullptr;
    if (ramp == nullptr) {
      stage.temperature = above(st, "temperature", key);
      return;
    }
    onlyKeys(*ramp, key + ".", {"from", "to"});
    for (const char* end : {"from", "to"})
      if (ramp->get(end) == nullptr)
        fail(*node, key,
             std::string("a ramp needs both ends: { from = T, to = T } (") + end + " is missing)");
    stage.temperature = above(*ramp, "from", key + ".from");
    stage.temperatureTo = above(*ramp, "to", key + ".to");
  }

  SurfaceCondition surface(const toml::table& st, const std::string& name, const char* face) const {
    const std::string key = name + face;
    const toml::node* node = st.get(face);
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

std::string exampleShaftFile() {
  return "# A diffusim process schedule: a carburised shaft of 20 mm diameter.\n"
         "# Run it with  diffusim depth --schedule FILE --composition 0.35% --every 1h\n"
         "# Depth is measured inward from the surface; the profile adds r_m, the radius.\n"
         "\n"
         "[specimen]\n"
         "geometry = \"cylinder\"                    # plate, cylinder or sphere\n"
         "radius = \"10mm\"                          # the outer radius; no flux through the axis\n"
         "# inner_radius = \"4mm\"                   # a tube: the bore is a second face (back)\n"
         "sections = 400                           # grid sections over the radius\n"
         "initial = 0.002                          # fraction of carbon at t = 0 (0.2 %)\n"
         "\n"
         "[diffusivity]                            # D(C) = A exp(a C) exp((B + b C) / (R T))\n"
         "A = 4.7e-5                               # m^2/s\n"
         "B = -154808                              # J/mol\n"
         "a = -160\n"
         "b = 2761400\n"
         "\n"
         "[[stage]]                                # heat up in the carburising atmosphere\n"
         "duration = \"40min\"\n"
         "temperature = { from = \"850C\", to = \"930C\" }   # a linear ramp over the stage\n"
         "surface = { potential = \"1.1%\", beta = 1.5e-7 }\n"
         "\n"
         "[[stage]]                                # boost at 930 C\n"
         "duration = \"3h\"\n"
         "temperature = \"930C\"\n"
         "surface = { potential = \"1.1%\", beta = 1.5e-7 }\n"
         "\n"
         "[[stage]]                                # diffuse at a lower potential\n"
         "duration = \"90min\"\n"
         "temperature = \"930C\"\n"
         "surface = { potential = \"0.8%\", beta = 1.5e-7 }\n"
         "\n"
         "[[stage]]                                # cool to the hardening temperature, sealed\n"
         "duration = \"30min\"\n"
         "temperature = { from = \"930C\", to = \"850C\" }\n"
         "surface = \"sealed\"\n";
}

}  // namespace diffusim
