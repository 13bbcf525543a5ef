// The furnace's atmosphere from Python: its potential and activity at a
// temperature, and the probe's mV for a potential, checked as the potential
// command checks them.
#include <string>

#include "model/carbon_equilibrium.hpp"
#include "python/module_support.hpp"
#include "study/request.hpp"
#include "words/atmosphere_words.hpp"

namespace py = pybind11;

namespace diffusim {

void bindFurnace(py::module_& m) {
  // An atmosphere's potential and activity at a temperature, checked as the
  // potential command checks it; and the probe's mV for a potential.
  m.def("potential", [](double t, double co, double co2, double h2, double mv, double dew) {
    Atmosphere gas;
    gas.co = co;
    gas.co2 = co2;
    gas.h2 = h2;
    gas.probeMillivolts = mv;
    gas.dewPoint = dew;
    if (!atmosphereTemperatureInRange(t))
      throw UsageError("temperature: " +
                       atmosphereProblemText(AtmosphereProblem::TemperatureRange, false));
    if (const AtmosphereProblem p = atmosphereProblem(gas); p != AtmosphereProblem::None)
      throw UsageError(atmosphereProblemText(p, false));
    const double activity = atmosphereActivity(gas, t);
    return py::make_tuple(austeniteCarbon(activity, t), activity,
                          activity >= 1.0 ? sootWarning(t, activity) : std::string());
  });
  m.def("probe_mv", [](double t, double co, double w) {
    if (!atmosphereTemperatureInRange(t))
      throw UsageError("temperature: " +
                       atmosphereProblemText(AtmosphereProblem::TemperatureRange, false));
    if (!(co > 0.0 && co <= 1.0) || !(w > 0.0 && w < 0.05))
      throw UsageError(
          "CO must be a fraction above 0, at most 1, and the potential above 0 and "
          "below 5%");
    return py::make_tuple(austeniteActivity(w, t), probeMillivoltsFor(w, co, t));
  });
}

}  // namespace diffusim
