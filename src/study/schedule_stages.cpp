#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "format/number_format.hpp"
#include "model/geometry.hpp"
#include "study/schedule_reader.hpp"
#include "words/atmosphere_words.hpp"

namespace diffusim::schedule {

namespace {
// Groups nest this deep at most, and a schedule writes out at most this
// many stages.
constexpr int MOST_GROUP_DEPTH = 4;
constexpr std::size_t MOST_STAGES = 10000;
}  // namespace

void Reader::readStages(const toml::table& root, ProcessSchedule& s) const {
  const toml::node* stages = root.get("stage");
  if (stages == nullptr)
    failAt(root.source(), "missing [[stage]]: the schedule needs at least one stage");
  const toml::array* list = stages->as_array();
  if (list == nullptr) fail(*stages, "stage", "must be an array of tables ([[stage]])");
  if (list->empty()) fail(*stages, "stage", "the stage list is empty");
  for (std::size_t i = 0; i < list->size(); ++i) {
    const toml::node& node = *list->get(i);
    const std::string name = "stage " + std::to_string(i + 1) + ".";
    const toml::table* st = node.as_table();
    if (st == nullptr) fail(node, "stage", "must be a table");
    if (st->contains("repeat") || st->contains("stages")) {
      readGroup(*st, name, 1, s, s.stages);
    } else {
      readStage(*st, name, s, s.stages);
    }
  }
}

void Reader::readStage(const toml::table& st, const std::string& name, ProcessSchedule& s,
                       std::vector<Stage>& into) const {
  onlyKeys(st, name, {"duration", "temperature", "surface", "back", "nitrogen"});
  Stage stage;
  stage.duration = quantity(st, "duration", name + "duration", Quantity::Time);
  if (!(stage.duration > 0.0)) fail(*st.get("duration"), name + "duration", "must be above 0");
  readTemperature(st, name, stage);
  stage.surface = surface(st, name, "surface");
  const auto atmosphereAt = [&](const char* face) {
    const std::string key = name + face + ".atmosphere";
    if (!atmosphereTemperatureInRange(stage.temperature) ||
        !atmosphereTemperatureInRange(stage.endTemperature()))
      fail(*st.get("temperature"), key,
           atmosphereProblemText(AtmosphereProblem::TemperatureRange, false));
  };
  if (stage.surface.atmosphere.given()) atmosphereAt("surface");
  if (stage.surface.limited() && !(stage.surface.limit > s.initial))
    fail(*st.get("surface"), name + "surface.limit",
         "must be above the initial composition (" + shortest(s.initial) + ")");
  if (const toml::node* back = st.get("back")) {
    if (!s.geometry.hasBackFace())
      fail(*back, name + "back",
           std::string("a solid ") + shapeName(s.geometry.shape) +
               " has no back face (its centre); give specimen.inner_radius for a hollow one");
    stage.back = surface(st, name, "back");
    if (stage.back.atmosphere.given()) atmosphereAt("back");
  }
  if (const toml::node* nitrogen = st.get("nitrogen")) {
    if (!s.nitrogen.given)
      fail(*nitrogen, name + "nitrogen", "the schedule has no [nitrogen] table (nitrogen's law)");
    stage.nitrogen = surface(st, name, "nitrogen");
    if (stage.nitrogen.kind == SurfaceKind::Flux || stage.nitrogen.atmosphere.given())
      fail(*nitrogen, name + "nitrogen",
           "nitrogen's surface is { composition = C }, { potential = P, beta = B } or "
           "\"sealed\" (no flux, no atmosphere)");
  }
  deriveAtmospherePotentials(stage);
  for (const char* face : {"surface", "back"}) {
    const SurfaceCondition& c = std::string_view(face) == "surface" ? stage.surface : stage.back;
    if (c.atmosphere.given() && std::isnan(c.potential))
      fail(*st.get(face), name + face + ".atmosphere", pastAustenite(stage, c.atmosphere));
  }
  if (into.size() >= MOST_STAGES)
    fail(st, name + "duration", "the schedule writes out more than 10000 stages");
  into.push_back(stage);
}

// { repeat = N, stages = [ ... ] }: the stages N times over, written out as
// if given one by one; a group's stage may itself be a group.
void Reader::readGroup(const toml::table& st, const std::string& name, int depth,
                       ProcessSchedule& s, std::vector<Stage>& into) const {
  onlyKeys(st, name, {"repeat", "stages"});
  if (depth > MOST_GROUP_DEPTH) fail(st, name + "stages", "groups nest at most 4 deep");
  const toml::node* repeat = st.get("repeat");
  if (repeat == nullptr) failAt(st.source(), "missing key " + name + "repeat");
  const auto* times = repeat->as_integer();
  if (times == nullptr || times->get() < 1 || times->get() > 10000)
    fail(*repeat, name + "repeat", "must be a whole number from 1 to 10000");
  const toml::node* node = st.get("stages");
  if (node == nullptr) failAt(st.source(), "missing key " + name + "stages");
  const toml::array* list = node->as_array();
  if (list == nullptr || list->empty())
    fail(*node, name + "stages", "must be a list of at least one stage ({ duration = ... })");
  std::vector<Stage> group;
  for (std::size_t j = 0; j < list->size(); ++j) {
    const toml::node& item = *list->get(j);
    const std::string inner = name + "stages[" + std::to_string(j + 1) + "].";
    const toml::table* t = item.as_table();
    if (t == nullptr) fail(item, name + "stages", "must hold tables ({ duration = ... })");
    if (t->contains("repeat") || t->contains("stages")) {
      readGroup(*t, inner, depth + 1, s, group);
    } else {
      readStage(*t, inner, s, group);
    }
  }
  for (std::int64_t k = 0; k < times->get(); ++k) {
    if (into.size() + group.size() > MOST_STAGES)
      fail(*repeat, name + "repeat", "the schedule writes out more than 10000 stages");
    into.insert(into.end(), group.begin(), group.end());
  }
}

// A temperature, or a ramp { from = T, to = T } over the stage.
void Reader::readTemperature(const toml::table& st, const std::string& name, Stage& stage) const {
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

// { CO = "20%", CO2 = "0.25%" }, { CO = ..., probe_mV = 1150 } or
// { CO = ..., H2 = ..., dew_point = "-5C" }.
Atmosphere Reader::atmosphere(const toml::node& node, const std::string& key) const {
  const toml::table* t = node.as_table();
  if (t == nullptr)
    fail(node, key,
         "must be a table: { CO = F, CO2 = F }, { CO = F, probe_mV = MV } or "
         "{ CO = F, H2 = F, dew_point = T }");
  onlyKeys(*t, key + ".", {"CO", "CO2", "H2", "probe_mV", "dew_point"});
  Atmosphere gas;
  const auto read = [&](const char* k, Quantity q, double& into) {
    if (t->contains(k)) into = quantity(*t, k, key + "." + k, q);
  };
  read("CO", Quantity::Composition, gas.co);
  read("CO2", Quantity::Composition, gas.co2);
  read("H2", Quantity::Composition, gas.h2);
  read("probe_mV", Quantity::Plain, gas.probeMillivolts);
  read("dew_point", Quantity::Temperature, gas.dewPoint);
  if (const AtmosphereProblem p = atmosphereProblem(gas); p != AtmosphereProblem::None)
    fail(node, key, atmosphereProblemText(p, false));
  return gas;
}

SurfaceCondition Reader::surface(const toml::table& st, const std::string& name,
                                 const char* face) const {
  const std::string key = name + face;
  const toml::node* node = st.get(face);
  if (node == nullptr) failAt(st.source(), "missing key " + key);
  SurfaceCondition c;
  if (const auto* word = node->as_string()) {
    if (word->get() != "sealed")
      fail(*node, key,
           "a word must be \"sealed\"; otherwise { composition = C }, "
           "{ potential = P, beta = B } or { flux = F, limit = C }");
    c.kind = SurfaceKind::Sealed;
    return c;
  }
  const toml::table* t = node->as_table();
  if (t == nullptr)
    fail(*node, key,
         "must be { composition = C }, { potential = P, beta = B }, { flux = F, limit = C } or "
         "\"sealed\"");
  if (t->contains("flux")) {
    if (std::string_view(face) == "back")
      fail(*node, key, "a flux is for the treated surface, not the back face");
    onlyKeys(*t, key + ".", {"flux", "limit"});
    c.kind = SurfaceKind::Flux;
    c.flux = quantity(*t, "flux", key + ".flux", Quantity::Plain);
    if (!(c.flux >= 0.0)) fail(*t->get("flux"), key + ".flux", "must be 0 or above (kg/(m^2 s))");
    if (t->contains("limit")) {
      c.limit = quantity(*t, "limit", key + ".limit", Quantity::Composition);
      if (!(c.limit > 0.0 && c.limit <= 1.0))
        fail(*t->get("limit"), key + ".limit", "must be a fraction above 0, at most 1");
    }
    return c;
  }
  if (t->contains("composition")) {
    onlyKeys(*t, key + ".", {"composition"});
    c.kind = SurfaceKind::Fixed;
    c.composition = quantity(*t, "composition", key + ".composition", Quantity::Composition);
    if (!(c.composition >= 0.0 && c.composition <= 1.0))
      fail(*t->get("composition"), key + ".composition", "must be a fraction from 0 to 1");
    return c;
  }
  c.kind = SurfaceKind::Transfer;
  if (const toml::node* gas = t->get("atmosphere")) {
    onlyKeys(*t, key + ".", {"atmosphere", "beta"});
    c.atmosphere = atmosphere(*gas, key + ".atmosphere");
    c.beta = quantity(*t, "beta", key + ".beta", Quantity::Plain);
    if (!(c.beta >= 0.0)) fail(*t->get("beta"), key + ".beta", "must be 0 or above");
    return c;
  }
  onlyKeys(*t, key + ".", {"potential", "beta"});
  c.potential = quantity(*t, "potential", key + ".potential", Quantity::Composition);
  if (!(c.potential >= 0.0 && c.potential <= 1.0))
    fail(*t->get("potential"), key + ".potential", "must be a fraction from 0 to 1");
  c.beta = quantity(*t, "beta", key + ".beta", Quantity::Plain);
  if (!(c.beta >= 0.0)) fail(*t->get("beta"), key + ".beta", "must be 0 or above");
  return c;
}

}  // namespace diffusim::schedule
