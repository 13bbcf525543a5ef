"""The answers of the inverse questions. A fit: its data and the fitted
profiles over depth, the residuals in a panel below, and the values found
with their 95 % intervals in the title. A design: its recipe as a strip of
the stages' temperatures and surface compositions over time, and the
profile it reaches with its targets marked."""

import numpy as np

from .common import HOURS_ABOVE_S
from .draw_profiles import depth_axis, depth_limit
from .labels import duration_label, fmt, time_label

TARGET_COLOUR = "C3"
VARIED_COLOUR = "C2"


def parameter_text(key, value, low, high, units):
    """'stage1.potential = 0.915 (0.905–0.925) wt %': a fitted value and its
    95 % interval in the run's units."""
    kind = key.rsplit(".", 1)[-1]
    if kind in ("composition", "potential", "initial"):
        scale, unit = units.per_c, " wt %" if units.steel else ""
        a, b, c = value * scale, low * scale, high * scale
    elif kind == "temperature":
        a, b, c = units.degrees(value), units.degrees(low), units.degrees(high)
        unit = f" {units.t_unit}"
    elif kind == "duration":
        size, unit = (3600.0, " h") if value > HOURS_ABOVE_S else (1.0, " s")
        a, b, c = value / size, low / size, high / size
    else:
        a, b, c, unit = value, low, high, ""
    return f"{key} = {a:.4g} ({b:.3g}–{c:.3g}){unit}"


def _depth_axes(ax, result, depth, reach, comp):
    """Depth along the bottom to where the profile is flat, or beyond the
    deepest point that must show."""
    xmax = depth_limit(depth, comp, float(comp[-1]), float(comp[0]), False)
    xmax = min(max(xmax, 1.15 * reach), float(depth[-1]))
    return depth_axis(ax, result.specimen, xmax, result.units)


def draw_fit(result, fig):
    """Data, fitted profiles and residuals; returns the upper axes and the
    title."""
    fig.set_size_inches(8, 6.5)
    grid = fig.add_gridspec(2, 1, height_ratios=(3, 1))
    ax = fig.add_subplot(grid[0])
    below = fig.add_subplot(grid[1], sharex=ax)
    units, data = result.units, result.data
    per_c = units.per_c
    per_m = _depth_axes(below, result, result.curves[-1][1], float(np.max(data["x"])),
                        result.curves[-1][2])
    ax.tick_params(labelbottom=False)
    ax.set_xlabel("")
    several = len(result.curves) > 1
    for k, (t, x, c) in enumerate(result.curves):
        colour = f"C{k % 10}"
        at = data["t"] == t if data["t"] is not None else np.ones(len(data["x"]), bool)
        when = f", t = {time_label(t, 4)}" if several else ""
        ax.plot(x * per_m, c * per_c, color=colour, lw=1.5, label=f"fitted{when}")
        ax.plot(data["x"][at] * per_m, data["c"][at] * per_c, "o", color=colour, ms=5,
                mfc="white", label=f"measured{when}", gid="measured")
        below.plot(data["x"][at] * per_m, data["residual"][at] * per_c, "o", color=colour, ms=4,
                   gid="residual")
    below.axhline(0.0, color="0.3", lw=0.8)
    ax.set_ylabel(units.c_axis)
    below.set_ylabel(f"residual{' (wt %)' if units.steel else ''}", fontsize=9)
    ax.legend(loc="upper right", fontsize=9)
    below.grid(True, alpha=0.3)
    values = [parameter_text(k, v, lo, hi, units) + ("" if ok else " not determined")
              for k, v, lo, hi, ok in result.parameters]
    rms = f", rms residual {result.rms * per_c:.2g}" if result.rms is not None else ""
    return ax, f"Fit (95 % intervals): {', '.join(values)}{rms}"


def _strip(ax, result):
    """Each stage's temperature over time (a ramp as a slope), the surface's
    composition or potential on the right, the varied stages shaded."""
    units = result.units
    in_h = result.stages[-1].end > HOURS_ABOVE_S
    scale = 3600.0 if in_h else 1.0
    right = ax.twinx()
    varied = {n for n, _ in result.durations}
    for st in result.stages:
        start = st.end - st.duration
        low, high = st.ramp if st.ramp else (st.temperature, st.temperature)
        ax.plot(np.array([start, st.end]) / scale, units.degrees(np.array([low, high])),
                color="C3", lw=2, gid=f"stage{st.number}.temperature")
        if st.value is not None:
            right.plot(np.array([start, st.end]) / scale, [st.value * units.per_c] * 2,
                       color="C0", lw=2, ls="--", gid=f"stage{st.number}.surface")
        if st.number in varied:
            ax.axvspan(start / scale, st.end / scale, color=VARIED_COLOUR, alpha=0.15, lw=0,
                       gid=f"stage{st.number}.varied")
        if st is not result.stages[-1]:
            ax.axvline(st.end / scale, color="0.3", lw=0.8, ls=":")
        # A stage too narrow for its name across has it upright.
        narrow = st.duration < 0.15 * result.stages[-1].end
        ax.text((start + st.end) / 2 / scale, 0.05,
                f"{st.number}: {st.surface}" + ("" if narrow else "\n")
                + f" {duration_label(st.duration)}", transform=ax.get_xaxis_transform(),
                ha="center", va="bottom", fontsize=7 if narrow else 8,
                rotation=90 if narrow else 0, gid=f"stage{st.number}.label")
    ax.set_xlim(0, result.stages[-1].end / scale)
    ax.set_xlabel("time (h)" if in_h else "time (s)")
    ax.set_ylabel(f"temperature ({units.t_unit})", color="C3")
    span = [units.degrees(t) for st in result.stages
            for t in (st.ramp if st.ramp else (st.temperature,))]
    ax.set_ylim(min(span) - 40, max(span) + 15)
    right.set_ylabel(f"surface {units.c_axis}" if units.steel else "surface C(B)",
                     color="C0", fontsize=9)
    values = [st.value * units.per_c for st in result.stages if st.value is not None]
    right.set_ylim(0, 1.25 * max(values, default=units.per_c * 0.01))
    ax.grid(True, alpha=0.3)


def draw_design(result, fig):
    """The recipe's strip above the profile it reaches with its targets;
    returns the upper axes and the title."""
    fig.set_size_inches(8, 7)
    grid = fig.add_gridspec(2, 1, height_ratios=(2, 3))
    ax, below = fig.add_subplot(grid[0]), fig.add_subplot(grid[1])
    units, targets = result.units, result.targets
    _strip(ax, result)
    per_c = units.per_c
    reach = targets["depth"] or 0.0
    per_m = _depth_axes(below, result, result.depth, reach, result.comp)
    below.plot(result.depth * per_m, result.comp * per_c, color="C0", lw=1.6,
               label="profile reached")
    wanted = []
    if targets["surface"] is not None:
        below.plot([0.0], [targets["surface"] * per_c], "D", color=TARGET_COLOUR, ms=8,
                   clip_on=False, zorder=5, gid="surface target",
                   label=f"surface target {units.composition(targets['surface'])}")
        wanted.append(f"surface {units.composition(targets['surface'])}")
    if targets["depth"] is not None:
        x, c = targets["depth"] * per_m, targets["at"] * per_c
        below.plot([x], [c], "X", color=TARGET_COLOUR, ms=9, zorder=5, gid="depth target",
                   label=f"case depth target {_length(targets['depth'], units)} "
                         f"at {units.composition(targets['at'])}")
        below.axhline(c, color=TARGET_COLOUR, lw=0.8, ls=":")
        below.axvline(x, color=TARGET_COLOUR, lw=0.8, ls=":")
        wanted.append(f"case depth {_length(targets['depth'], units)} "
                      f"to {units.composition(targets['at'])}")
    below.set_ylabel(units.c_axis)
    below.legend(loc="upper right", fontsize=9)
    below.grid(True, alpha=0.3)
    recipe = ", ".join(f"stage {n} {duration_label(d)}" for n, d in result.durations)
    return ax, f"Recipe: {recipe}, for {' and '.join(wanted)}"


def _length(metres, units):
    return (f"{fmt(metres * 1e3, 4)} mm" if units.steel or metres >= 1e-3
            else f"{fmt(metres * 1e6, 4)} µm")
