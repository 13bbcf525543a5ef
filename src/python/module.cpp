// diffusim's engine from Python: the schedule parsed once into the record the
// command line runs, and each question run by the same plan, scheme choice
// and engine calls as the command line, so the numbers are the same bits.
// The GIL is released while a run computes; Ctrl-C stops it between steps
// and raises KeyboardInterrupt. The Python package (diffusim/__init__.py)
// gives this its keyword arguments, result objects and docstrings.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/design.hpp"
#include "engine/fit.hpp"
#include "engine/forward.hpp"
#include "engine/queries.hpp"
#include "engine/sampling.hpp"
#include "engine/sweep.hpp"
#include "engine/worker_pool.hpp"
#include "format/number_format.hpp"
#include "model/kernel_level.hpp"
#include "model/readings.hpp"
#include "python/module_support.hpp"
#include "study/level_run.hpp"
#include "study/named_values.hpp"
#include "study/request_guards.hpp"
#include "study/run_record.hpp"
#include "study/schedule_file.hpp"
#include "study/schedule_keys.hpp"
#include "study/schedule_overrides.hpp"
#include "words/fault_words.hpp"
#include "words/fit_words.hpp"

namespace py = pybind11;

namespace diffusim {

SchemeOptions schemeOf(const std::string& scheme, double tolerance, const std::string& method) {
  SchemeOptions o;
  o.choice = schemeNamed("scheme", scheme);
  o.tolerance = toleranceValue("tolerance", tolerance);
  o.method = methodNamed("method", method);
  return o;
}

py::array_t<double> owned(const std::vector<double>& v) {
  py::array_t<double> a(static_cast<py::ssize_t>(v.size()));
  std::copy(v.begin(), v.end(), a.mutable_data());
  return a;
}

namespace {

// The command line's checks before a run: a refusal as the command line's
// words (ScheduleError), the warnings as their texts for Python to warn.
py::list guarded(const Request& r) {
  std::ostringstream lines;
  try {
    guardRequest(r, lines);
  } catch (const UsageError& e) {
    throw std::invalid_argument(e.what());
  }
  py::list warned;
  const std::string prefix = "diffusim " + r.command + ": warning: ";
  std::istringstream in(lines.str());
  for (std::string line; std::getline(in, line);)
    warned.append(line.rfind(prefix, 0) == 0 ? line.substr(prefix.size()) : line);
  return warned;
}

// A run that gave a value that is not finite: FloatingPointError, saying
// where, as the command line's one line does.
[[noreturn]] void raiseNonFinite(const Fault& f) {
  PyErr_SetString(PyExc_FloatingPointError, faultText(f).c_str());
  throw py::error_already_set();
}

PySchedule parse(const std::string& text, const std::string& name) {
  PySchedule s{text, name, {}, {}};
  std::string problem;
  if (!parseScheduleText(text, name, s.schedule, problem)) throw std::invalid_argument(problem);
  if (const Fault f = checkSchedule(s.schedule); !f.ok()) throw std::invalid_argument(faultText(f));
  return s;
}

// `ps` with `items` ((key, value) pairs: a string with a unit, or a number
// in SI units) set over it, each key's latest value kept; the command line's
// refusal of --set, naming `values`.
PySchedule withValues(const PySchedule& ps, const py::list& items) {
  PySchedule n = parse(ps.text, ps.name);
  n.settings = ps.settings;
  for (const py::handle item : items) {
    const auto pair = item.cast<py::tuple>();
    const auto key = pair[0].cast<std::string>();
    const Request::Setting set =
        py::isinstance<py::str>(pair[1])
            ? settingOf("values", key, pair[1].cast<std::string>(), n.schedule)
            : settingOf("values", key, pair[1].cast<double>(), n.schedule);
    const auto same = std::find_if(n.settings.begin(), n.settings.end(),
                                   [&](const Request::Setting& s) { return s.key == key; });
    if (same != n.settings.end()) {
      *same = set;
    } else {
      n.settings.push_back(set);
    }
  }
  applySettings(n.schedule, n.settings, "values");
  if (const Fault f = checkSchedule(n.schedule); !f.ok()) throw std::invalid_argument(faultText(f));
  return n;
}

// Levels as they come; between steps, now and then, the GIL is taken back
// to ask Python whether Ctrl-C was pressed.
class Levels final : public RunObserver {
 public:
  explicit Levels(std::int32_t points) : points_(points) {}
  bool onLevel(const Level& level) override {
    times.push_back(level.time);
    values.insert(values.end(), level.values, level.values + points_);
    if (level.species() > 1)
      nitrogen.insert(nitrogen.end(), level.field(1), level.field(1) + points_);
    return true;
  }
  bool proceed(std::uint64_t done) override {
    if (done - lastCheck_ < 4096) return true;
    lastCheck_ = done;
    py::gil_scoped_acquire gil;
    if (PyErr_CheckSignals() != 0) {
      interrupted = true;
      return false;
    }
    return true;
  }
  std::vector<double> times, values;
  std::vector<double> nitrogen;  // a schedule with nitrogen: its field, level by level
  bool interrupted = false;

 private:
  std::int32_t points_;
  std::uint64_t lastCheck_ = 0;
};

RunOptions optionsOf(const std::string& version) {
  RunOptions o;
  o.version = version;
  return o;
}

// A run's record, made (and turned into a dict) only when Python asks for
// it: the request, the schedule, what recordOf reads of the plan (the first
// piece of each stage, the explicit steps) and of the run.
struct PyRecord {
  Request request;
  ProcessSchedule schedule;
  bool hasPlan = false;
  ProcessPlan plan;
  SchemeSummary summary;
  double uptake = std::numeric_limits<double>::quiet_NaN();
  std::string version;
  double nitrogenUptake = std::numeric_limits<double>::quiet_NaN();
  std::vector<ProcessPiece> nitrogenFirsts;  // with nitrogen: its plan's
  RunRecord make() const {
    RunRecord rec = recordOf(request, optionsOf(version), schedule, hasPlan ? &plan : nullptr,
                             summary, nullptr, uptake, nitrogenUptake);
    if (!nitrogenFirsts.empty()) addNitrogenPlan(rec, nitrogenFirsts);
    return rec;
  }
};

py::dict headerOf(const RunRecord& rec) {
  py::dict h;
  for (const auto* part : {&rec.inputs, &rec.grid})
    for (const Field& f : *part)
      h[py::str(f.key)] =
          f.isNumber ? py::object(py::float_(f.number)) : py::object(py::str(f.value));
  return h;
}

// profile, history and profiles: the command line's plan and scheme.
py::dict runLevels(const PySchedule& ps, const std::string& command, double until, double every,
                   double depth, const std::string& scheme, double tolerance,
                   const std::string& method, unsigned threads, const std::string& version) {
  const ProcessSchedule& s = ps.schedule;
  Request r;
  r.command = command;
  r.schedulePath = ps.name;
  r.settings = ps.settings;
  r.scheme = schemeOf(scheme, tolerance, method);
  r.threads = threads;
  const double end = scheduleEnd(s);
  if (std::isnan(until)) until = end;
  requireWithinSchedule(command == "profile" ? "time" : "until", until, end);
  until = std::min(until, end);
  if (command == "profile") r.times = {until};
  if (command != "profile") r.until = until;
  if (every > 0.0) {
    r.every = every;
    r.everyGiven = true;
  }
  if (command == "history" && !(depth >= 0.0 && depth <= s.length))
    throw UsageError("depth: " + shortest(depth) + " m lies outside the specimen [0, " +
                     shortest(s.length) + "] m");
  r.depth = depth;
  r.schedule = s;
  const py::list warned = guarded(r);
  LevelRun planned(std::move(r));
  const Request& asked = planned.request();
  const std::int32_t n = planned.points();
  Levels levels(n);
  SchemeRun run, nitrogenRun;
  RunEnd ended = RunEnd::Completed;
  {
    py::gil_scoped_release release;
    ended = planned.run(levels, run, &nitrogenRun);
  }
  if (levels.interrupted) throw py::error_already_set();
  if (ended == RunEnd::NonFinite) raiseNonFinite(LevelRun::nonFinite(run));
  if (run.stats.exhausted || nitrogenRun.stats.exhausted)
    throw std::runtime_error("the implicit run was stopped at its step limit");
  const bool both = planned.twoSpecies();
  SchemeSummary summary;
  summary.add(run);
  if (both) summary.add(nitrogenRun);
  double uptake = std::numeric_limits<double>::quiet_NaN(), nitrogenUptake = uptake;
  if (command != "history") {
    uptake = uptakeGramsPerSquareMetre(s, *planned.plan().weights,
                                       levels.values.data() + levels.values.size() - n);
    if (both)
      nitrogenUptake =
          uptakeGramsPerSquareMetre(planned.nitrogenPlan().schedule, *planned.plan().weights,
                                    levels.nitrogen.data() + levels.nitrogen.size() - n);
  }
  py::dict out;
  out["warnings"] = warned;
  PyRecord record{asked, s, true, {}, summary, uptake, version, nitrogenUptake, {}};
  record.plan.firsts = planned.plan().firsts;
  if (both) record.nitrogenFirsts = planned.nitrogenPlan().firsts;
  record.plan.explicitSteps = planned.plan().explicitSteps;
  out["header"] = std::move(record);
  out["t"] = owned(levels.times);
  if (command == "history") {
    const double dx = s.length / static_cast<double>(s.sections);
    std::vector<double> c;
    for (std::size_t k = 0; k < levels.times.size(); ++k)
      c.push_back(
          compositionAtDepth(levels.values.data() + k * static_cast<std::size_t>(n), n, dx, depth));
    out["c"] = owned(c);
    if (both) {
      std::vector<double> cn;
      for (std::size_t k = 0; k < levels.times.size(); ++k)
        cn.push_back(compositionAtDepth(levels.nitrogen.data() + k * static_cast<std::size_t>(n), n,
                                        dx, depth));
      out["c_N"] = owned(cn);
    }
    return out;
  }
  // A profile's one level as a 1-D array, several as rows of a 2-D one.
  const auto rows = static_cast<py::ssize_t>(levels.times.size());
  const bool one = command == "profile";
  py::array_t<double> c = one ? py::array_t<double>(static_cast<py::ssize_t>(n))
                              : py::array_t<double>({rows, static_cast<py::ssize_t>(n)});
  std::copy(levels.values.end() - (one ? n : rows * n), levels.values.end(), c.mutable_data());
  out["c"] = c;
  if (both) {
    py::array_t<double> cn = one ? py::array_t<double>(static_cast<py::ssize_t>(n))
                                 : py::array_t<double>({rows, static_cast<py::ssize_t>(n)});
    std::copy(levels.nitrogen.end() - (one ? n : rows * n), levels.nitrogen.end(),
              cn.mutable_data());
    out["c_N"] = cn;
  }
  if (!s.hardness.empty()) {
    py::array_t<double> hv(
        {static_cast<py::ssize_t>(levels.times.size()), static_cast<py::ssize_t>(n)});
    std::transform(levels.values.begin(), levels.values.end(), hv.mutable_data(),
                   [&](double v) { return s.hardness.hardnessAt(v); });
    out["HV"] = hv;
  }
  std::vector<double> x;
  const double dx = s.length / static_cast<double>(s.sections);
  for (std::int32_t i = 0; i < n; ++i) x.push_back(static_cast<double>(i) * dx);
  out["x"] = owned(x);
  if (s.geometry.curved()) out["r"] = owned(radiiOf(s));
  return out;
}

// depth and time_to: the command line's query.
py::dict runQueryOf(const PySchedule& ps, bool depthQuery, double composition, double depth,
                    const std::vector<double>& times, double every, bool openEnded,
                    const std::string& scheme, double tolerance, const std::string& method,
                    const std::string& version, const std::string& species) {
  requireFraction("composition", composition);
  const std::optional<Species> which = speciesOf(species);
  if (!which) throw UsageError("species: '" + species + "' is not C or N");
  if (*which == Species::Nitrogen && !ps.schedule.nitrogen.given)
    throw UsageError("species: the schedule has no nitrogen (no [nitrogen] table)");
  if (!depthQuery && !(depth >= 0.0 && depth <= ps.schedule.length))
    throw UsageError("depth: " + shortest(depth) + " m lies outside the specimen [0, " +
                     shortest(ps.schedule.length) + "] m");
  for (const double t : times) requireWithinSchedule("time", t, scheduleEnd(ps.schedule));
  Request asked;
  asked.command = depthQuery ? "depth" : "time";
  asked.schedulePath = ps.name;
  asked.schedule = ps.schedule;
  asked.settings = ps.settings;
  asked.composition = composition;
  asked.species = *which;
  asked.depth = depth;
  asked.times = times;
  asked.openEnded = openEnded;
  if (every > 0.0) {
    asked.every = every;
    asked.everyGiven = true;
  }
  asked.scheme = schemeOf(scheme, tolerance, method);
  const Query q = queryOf(asked);
  const py::list warned = guarded(asked);
  std::vector<double> t, value;
  QueryOutcome o;
  {
    py::gil_scoped_release release;
    o = runQuery(q, ps.schedule, WorkBudget{}, [&](std::span<const double> row) {
      t.push_back(row[0]);
      if (row.size() > 1) value.push_back(row[1]);
    });
  }
  if (o.failure == QueryOutcome::Failure::NonFinite) raiseNonFinite(o.fault);
  if (depthQuery && o.failure == QueryOutcome::Failure::None && !(o.highest >= composition))
    throw std::invalid_argument(unreachedWords(asked, o.highest));
  if (!o.fault.ok()) throw std::invalid_argument(faultText(o.fault));
  if (o.failure != QueryOutcome::Failure::None) throw std::runtime_error("the run failed");
  SchemeSummary summary;
  summary.add(o.scheme);
  py::dict out;
  asked.schedule = {};  // the record's schedule is its own field
  const double none = std::numeric_limits<double>::quiet_NaN();
  out["header"] = PyRecord{asked, ps.schedule, false, {}, summary, none, version, none, {}};
  out["t"] = owned(t);
  if (depthQuery) out["depth"] = owned(value);
  out["warnings"] = warned;
  return out;
}

}  // namespace
}  // namespace diffusim

PYBIND11_MODULE(_core, m) {
  using namespace diffusim;
  // An unknown DIFFUSIM_KERNELS fails the import, as it fails the program.
  if (const std::optional<std::string>& bad = kernelCap().invalid)
    throw std::runtime_error(kernelCapRefusal(*bad));
  m.doc() = "diffusim's engine (use the diffusim package)";
  static py::exception<std::invalid_argument>& requestError =
      py::register_exception<std::invalid_argument>(m, "_RequestError", PyExc_ValueError);
  // A request the study layer refuses is refused as any other.
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const UsageError& e) {
      PyErr_SetString(requestError.ptr(), e.what());
    }
  });
  py::class_<PyRecord>(m, "_Record").def("dict", [](const PyRecord& r) {
    return headerOf(r.make());
  });
  py::class_<PySchedule>(m, "_Schedule")
      .def(py::init(&parse), py::arg("text"), py::arg("name"))
      .def_readonly("text", &PySchedule::text)
      .def_readonly("name", &PySchedule::name)
      .def_property_readonly("end", [](const PySchedule& s) { return scheduleEnd(s.schedule); })
      .def_property_readonly("stages", [](const PySchedule& s) { return s.schedule.stages.size(); })
      .def("with_values", &withValues, py::arg("items"))
      .def_property_readonly("values",
                             [](const PySchedule& s) {
                               py::list out;
                               for (const Request::Setting& set : s.settings)
                                 out.append(py::make_tuple(set.key, set.value));
                               return out;
                             })
      .def(py::pickle(
          [](const PySchedule& s) {
            py::list values;
            for (const Request::Setting& set : s.settings)
              values.append(py::make_tuple(set.key, set.value));
            return py::make_tuple(s.text, s.name, values);
          },
          [](const py::tuple& t) {
            const PySchedule base = parse(t[0].cast<std::string>(), t[1].cast<std::string>());
            return t.size() > 2 ? withValues(base, t[2].cast<py::list>()) : base;
          }));
  m.attr("DEFAULT_TOLERANCE") = DEFAULT_TOLERANCE;
  m.def("run_levels", &runLevels);
  // For the bench: seconds per run of a profile's plan on the engine alone,
  // without the binding's conversions (the baseline of its overhead).
  m.def("_engine_seconds", [](const PySchedule& ps, double until, int repetitions) {
    const SchemeOptions options;
    const auto start = std::chrono::steady_clock::now();
    for (int k = 0; k < repetitions; ++k) {
      ProcessPlan plan;
      planProcess(ps.schedule, until, 0.0, plan);
      const SchemePick pick = pickScheme(options, plan);
      Levels levels(ps.schedule.sections + 1);
      SchemeRun run;
      runScheme(options, plan, pick.implicit, levels, run, 1);
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() /
           repetitions;
  });
  m.def("run_query", &runQueryOf);
  // The column a swept key fills, as the command line names it.
  m.def("key_column", [](const PySchedule& ps, const std::string& key) {
    ScheduleParameter p;
    std::string why;
    if (!parameterOf(key, ps.schedule, p, why)) throw UsageError("values: " + key + ": " + why);
    return sweepColumn({key, {p, {}}});
  });
  // A value given as a string with a unit, read as the command line reads
  // it and refused with its message, the keyword named where it names a
  // flag.
  m.def("quantity", [](const std::string& name, const std::string& text, const std::string& kind) {
    const Quantity q = kind == "time"          ? Quantity::Time
                       : kind == "length"      ? Quantity::Length
                       : kind == "composition" ? Quantity::Composition
                       : kind == "temperature" ? Quantity::Temperature
                                               : Quantity::Plain;
    return quantityFlag(name, text, q);
  });
  bindFurnace(m);
  bindInverse(m);
}
