"""A furnace atmosphere's carbon potential against the temperature (or the
probe's mV for a potential asked), in the heat treater's units: wt % and
degrees C, the temperatures where the atmosphere lays down soot marked."""

import numpy as np

from .labels import fmt
from .units import CELSIUS_ZERO

# How each part of the atmosphere reads in a title.
_PARTS = (("CO", "CO {} %", 100.0), ("CO2", "CO2 {} %", 100.0), ("H2", "H2 {} %", 100.0),
          ("probe_mV", "probe {} mV", 1.0), ("dew_point", "dew point {} °C", None))


def _gas(atmosphere):
    words = []
    for key, form, scale in _PARTS:
        if key in atmosphere:
            v = atmosphere[key]
            words.append(form.format(fmt(v * scale if scale else v - CELSIUS_ZERO, 4)))
    return ", ".join(words)


def draw_potential(result, fig):
    """The potential (or the probe's mV) at each temperature; returns the
    axes and the title."""
    ax = fig.add_subplot(1, 1, 1)
    t = result.temperatures - CELSIUS_ZERO
    ax.set_xlabel("temperature T (°C)")
    if result.probe_mv is not None:
        ax.plot(t, result.probe_mv, "-o", ms=4, lw=1.5, color="C0")
        ax.set_ylabel("probe E (mV, air reference)")
        what = f"{fmt(float(result.potential[0]) * 100.0, 4)} wt % C"
        return ax, f"Probe reading for a potential of {what}, {_gas(result.atmosphere)}"
    ax.plot(t, result.potential * 100.0, "-o", ms=4, lw=1.5, color="C0", label="potential")
    soot = result.activity >= 1.0
    if np.any(soot):
        ax.plot(t[soot], result.potential[soot] * 100.0, "o", ms=7, mfc="none", color="C3",
                label="soot (carbon activity ≥ 1)")
        ax.legend(fontsize=9)
    ax.set_ylabel("carbon potential (wt %)")
    return ax, f"Carbon potential of {_gas(result.atmosphere)}"
