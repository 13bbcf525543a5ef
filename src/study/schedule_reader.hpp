// Reading a schedule file: one reader of TOML values that names the file,
// the line and the key in every refusal. Parts of the schedule are read in
// their own files (the specimen and law here and in schedule_file.cpp, the
// stages in schedule_stages.cpp).
#pragma once

#include <toml++/toml.h>

#include <cmath>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

#include "model/process.hpp"
#include "study/quantity.hpp"

namespace diffusim::schedule {

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
    return quantity(*node, shown, q);
  }
  // The same for a value itself (an entry of a list), named at its own line.
  double quantity(const toml::node& node, std::string_view shown, Quantity q) const {
    double v = 0.0;
    if (const auto* i = node.as_integer()) {
      v = static_cast<double>(i->get());
    } else if (const auto* f = node.as_floating_point()) {
      v = f->get();
    } else if (const auto* s = node.as_string()) {
      if (!parseQuantity(s->get(), q, v))
        fail(node, shown, "'" + s->get() + "' is not " + describeQuantity(q));
    } else {
      fail(node, shown, "must be a number or a string with a unit");
    }
    if (!std::isfinite(v)) fail(node, shown, "must be a finite number");
    return v;
  }

  ProcessSchedule read(const toml::table& root) const;
  void readShape(const toml::table& specimen, ProcessSchedule& s) const;
  void readSteel(const toml::table& root, const toml::table& specimen, ProcessSchedule& s) const;
  void readSteelTable(const toml::table& root, ProcessSchedule& s) const;
  void readNitrogen(const toml::table& root, ProcessSchedule& s) const;
  // The stage list, repeated groups written out.
  void readStages(const toml::table& root, ProcessSchedule& s) const;
  void readTemperature(const toml::table& st, const std::string& name, Stage& stage) const;
  void readUncertainty(const toml::table& t, const std::string& prefix, ProcessSchedule& s) const;
  SurfaceCondition surface(const toml::table& st, const std::string& name, const char* face) const;
  Atmosphere atmosphere(const toml::node& node, const std::string& key) const;

 private:
  void readStage(const toml::table& st, const std::string& name, ProcessSchedule& s,
                 std::vector<Stage>& into) const;
  void readGroup(const toml::table& st, const std::string& name, int depth, ProcessSchedule& s,
                 std::vector<Stage>& into) const;
  std::string path_;
};

}  // namespace diffusim::schedule
