"""The spread of samples (--samples): a profile's median with its 25–75 %
and 5–95 % bands over depth, and a case depth's or a time's quantiles as
the same bands on its own axis, with the share of samples below each."""

import numpy as np

from .common import HOURS_ABOVE_S
from .draw_profiles import depth_axis, depth_limit
from .labels import conditions, time_label

OUTER, INNER = "5–95 %", "25–75 %"
BAND_COLOUR = "C0"


def _drawn(result):
    """', 200 samples, uncertain stage1.temperature' for a title."""
    what = f", {result.samples} samples"
    return what + (f", uncertain {', '.join(result.uncertain)}" if result.uncertain else "")


def draw_profile_spread(result, fig):
    """The median profile between its quartiles and its 5 % and 95 %
    profiles; returns the axes and the title."""
    fig.set_size_inches(8, 6.5)
    grid = fig.add_gridspec(2, 1, height_ratios=(3, 1.3))
    ax = fig.add_subplot(grid[0])
    below = fig.add_subplot(grid[1], sharex=ax)
    units, bands = result.units, result.bands
    depth = result.depth
    xmax = depth_limit(depth, bands[0.95], float(bands[0.5][-1]), float(bands[0.95][0]), False)
    x = depth * depth_axis(below, result.specimen, xmax, units)
    ax.tick_params(labelbottom=False)
    c = {q: b * units.per_c for q, b in bands.items()}
    # Above, the bands as they lie; below, about the median, where a narrow
    # spread shows as well as a wide one.
    for axes, less, name in ((ax, 0.0, "band"), (below, c[0.5], "about the median")):
        axes.fill_between(x, c[0.05] - less, c[0.95] - less, color=BAND_COLOUR, alpha=0.18,
                          lw=0, label=OUTER, gid=f"{name} 5-95")
        axes.fill_between(x, c[0.25] - less, c[0.75] - less, color=BAND_COLOUR, alpha=0.4,
                          lw=0, label=INNER, gid=f"{name} 25-75")
        axes.plot(x, c[0.5] - less, color=BAND_COLOUR, lw=1.6, label="median")
    ax.set_ylabel(units.c_axis)
    below.set_ylabel("less the median", fontsize=9)
    below.grid(True, alpha=0.3)
    ax.legend(loc="upper right")
    when = f"t = {time_label(result.time)}" if result.time is not None else "each at its end"
    return ax, f"Spread of the profile, {when}, {conditions(result)}{_drawn(result)}"


def draw_spread(result, fig):
    """The quantiles of a case depth or a time as bands on its axis (5–95 %
    light, 25–75 % dark, the median a line), with the share of samples
    below each quantile as points above them: a cumulative curve. Samples
    beyond the specimen (or the search) are named in the title."""
    ax = fig.add_subplot(1, 1, 1)
    units = result.units
    q, v = result.quantiles, result.values
    finite = np.isfinite(v)
    if not finite.any():
        raise_beyond = "beyond the specimen" if result.what == "depth" else "not reached"
        ax.text(0.5, 0.5, f"every quantile {raise_beyond}", ha="center", transform=ax.transAxes)
    if result.what == "depth":
        deepest = float(np.max(v[finite])) if finite.any() else 0.0
        unit, scale = ("mm", 1e-3) if units.steel or deepest >= 1e-3 else ("µm", 1e-6)
        ax.set_xlabel(f"case depth ({unit})")
        what = "Case depth"
    else:
        longest = float(np.max(v[finite])) if finite.any() else 0.0
        unit, scale = ("h", 3600.0) if longest > HOURS_ABOVE_S else ("s", 1.0)
        ax.set_xlabel(f"time ({unit})")
        what = "Time"
    at = {float(a): b / scale for a, b in zip(q, v)}
    for low, high, alpha, label in ((0.05, 0.95, 0.18, OUTER), (0.25, 0.75, 0.4, INNER)):
        if low in at and high in at and np.isfinite([at[low], at[high]]).all():
            ax.axvspan(at[low], at[high], color=BAND_COLOUR, alpha=alpha, lw=0, label=label,
                       gid=f"band {round(low * 100)}-{round(high * 100)}")
    if np.isfinite(at.get(0.5, np.inf)):
        ax.axvline(at[0.5], color=BAND_COLOUR, lw=1.6, label="median")
    ax.plot(v[finite] / scale, q[finite] * 100, "o-", color="0.25", ms=5, lw=1,
            label="share of samples below", gid="cumulative")
    ax.set_ylim(0, 100)
    ax.set_ylabel("samples below (%)")
    ax.legend(loc="lower right", fontsize=9)
    carbon = (f" to C = {units.composition(result.composition)}"
              if result.composition is not None else "")
    beyond = int(np.count_nonzero(~finite))
    tail = f", {beyond} of the quantiles beyond" if beyond else ""
    spread = ""
    if result.mean is not None and np.isfinite(result.mean):
        spread = (f", mean {result.mean / scale:.4g} ± {result.sd / scale:.2g} {unit}"
                  if result.sd is not None else "")
    return ax, f"{what}{carbon}{spread}, {conditions(result)}{_drawn(result)}{tail}"
