"""A furnace atmosphere's carbon potential, as `diffusim potential` gives it."""
import math
import warnings

from . import _core
from . import ScheduleError, _q, _refused


def potential(temperature, co, *, co2=None, probe_mV=None, dew_point=None, h2=None,
              potential=None):
    """The carbon potential of an atmosphere at each temperature: a DataFrame
    with the command line's columns (temperature_K, potential, activity).
    The atmosphere is its CO fraction with one of co2 (a gas analysis),
    probe_mV (a zirconia probe against air) or dew_point with h2. With
    `potential` instead of a reading, the probe's mV for it (probe_mV column).
    Values are SI numbers or strings with units ("930C", "20%", "-5C")."""
    import pandas as pd
    temps = temperature if isinstance(temperature, (list, tuple)) else [temperature]
    temps = [_q("temperature", t, "temperature") for t in temps]
    none = math.nan
    gas_co = _q("co", co, "composition")
    if potential is not None:
        if any(v is not None for v in (co2, probe_mV, dew_point, h2)):
            raise ScheduleError("potential: gives the probe's mV for a potential; give it "
                                "without a reading")
        w = _q("potential", potential, "composition")
        rows = []
        for t in temps:
            activity, mv = _refused(_core.probe_mv, t, gas_co, w)
            rows.append((t, w, activity, mv))
        return pd.DataFrame(rows, columns=["temperature_K", "potential", "activity", "probe_mV"])
    args = (gas_co,
            none if co2 is None else _q("co2", co2, "composition"),
            none if h2 is None else _q("h2", h2, "composition"),
            none if probe_mV is None else float(probe_mV),
            none if dew_point is None else _q("dew_point", dew_point, "temperature"))
    rows = []
    for t in temps:
        w, activity, soot = _refused(_core.potential, t, *args)
        if soot:
            warnings.warn(soot, stacklevel=2)
        rows.append((t, w, activity))
    return pd.DataFrame(rows, columns=["temperature_K", "potential", "activity"])
