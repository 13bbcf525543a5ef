"""The tables of a process cycle: the case depth against time (diffusim
depth), and the time to reach a composition against a swept value
(diffusim time)."""

import re

import numpy as np

from .common import HOURS_ABOVE_S
from .labels import conditions, fmt, swept_key, swept_label
from .stage_marks import mark_stages


def draw_depth(result, fig, ax, overlay, full_depth, name):
    """Case depth against time, a curve per combination of swept values,
    with the stage boundaries: lines where every curve shares them,
    diamonds on each curve where a swept duration moves them."""
    t_last = max(float(t[-1]) for _, t, _ in result.curves)
    in_h = t_last > HOURS_ABOVE_S
    scale = 3600.0 if in_h else 1.0
    deepest = max((float(np.nanmax(d)) for _, _, d in result.curves if np.isfinite(d).any()),
                  default=0.0)
    units = result.units
    unit, per_m = ("mm", 1e3) if deepest >= 1e-3 or units.steel else ("µm", 1e6)
    ends = result.stage_ends
    shared = all(e == ends[0] for e in ends)
    handles = None
    for k, (values, t, depth) in enumerate(result.curves):
        label = ", ".join(swept_label(n, v, units) for n, v in zip(result.swept, values))
        if not np.isfinite(depth).any():
            label += " (never reached)"
        style = "-o" if len(t) <= 60 else "-"
        (line,) = ax.plot(t / scale, depth * per_m, style, ms=3, lw=1.5,
                          color=f"C{k % 10}", label=label or None)
        if not shared:
            inner = [e for e in ends[k][:-1] if e < t[-1]]
            finite = np.isfinite(depth)
            if inner and finite.any():
                ax.plot(np.array(inner) / scale,
                        np.interp(inner, t[finite], depth[finite]) * per_m, "D",
                        ms=6, mfc="white", color=line.get_color(), gid="stage-ends")
    if shared:
        starts = [0.0, *ends[0][:-1]]
        stages = [st.moved_to(e, e - s) for st, e, s in zip(result.stages, ends[0], starts)]
        mark_stages(ax, stages, scale, t_last)
    else:
        from matplotlib.lines import Line2D
        handles, _ = ax.get_legend_handles_labels()
        handles.append(Line2D([], [], ls="none", marker="D", ms=6, mfc="white", color="0.3",
                              label="end of a stage"))
    ax.set_xlim(0, t_last / scale)
    ax.set_ylim(bottom=0)
    ax.set_xlabel("time (h)" if in_h else "time (s)")
    ax.set_ylabel(f"case depth ({unit})")
    if result.swept:
        ax.legend(handles=handles, loc="lower right", fontsize=9)
    carbon = (f"C = {units.composition(result.composition)}"
              if result.composition is not None else "")
    if result.hardness is not None:     # depth --hardness: the carbon of that HV
        what = f"Effective case depth to {fmt(result.hardness)} HV" + (
            f" ({carbon})" if carbon else "")
    else:
        what = f"Case depth to {carbon}" if carbon else "Case depth"
    swept_t = "temperature_K" in result.swept
    return what + ("" if swept_t else f", {conditions(result)}")


def draw_time(result, fig, ax, overlay, full_depth, name):
    """The time to reach the composition at the depth, against the swept
    value. Neither table takes an overlay."""
    swept, values, times = result.swept, result.values, result.times
    longest = float(np.nanmax(times)) if np.isfinite(times).any() else 0.0
    in_h = longest > HOURS_ABOVE_S
    scale = 3600.0 if in_h else 1.0
    m = re.match(r"^stage(\d+)_duration_s$", swept)
    if m:
        x_h = float(np.max(values)) > HOURS_ABOVE_S
        x_scale = 3600.0 if x_h else 1.0
        ax.set_xlabel(f"duration of stage {m.group(1)} ({'h' if x_h else 's'})")
    else:
        x_scale = 1.0
        key, kind = swept_key(swept)
        units = result.units
        if kind == "temperature":
            values = units.degrees(values)
        elif kind == "composition":
            values = values * units.per_c
        elif kind == "length":
            values = values * 1e3
        unit = {"temperature": units.t_unit, "length": "mm",
                "composition": "wt %" if units.steel else "fraction"}.get(kind)
        what = "temperature T" if swept == "temperature_K" else key
        ax.set_xlabel(f"{what} ({unit})" if unit else what)
    ax.plot(values / x_scale, times / scale, "-o", ms=4, lw=1.5, color="C0")
    ax.set_ylabel("time t (h)" if in_h else "time t (s)")
    ax.set_ylim(bottom=0)
    what = (f"C = {result.units.composition(result.composition)}"
            if result.composition is not None else "C")
    at = f" at x = {fmt(result.depth * 1e3, 4)} mm" if result.depth is not None else ""
    return f"Time to reach {what}{at}"
