"""Profiles: one (Result_dt.txt, diffusim profile) as C(B) against depth,
or a series (Result.txt, diffusim profiles) as a family of curves coloured
by time; either with the erfc solution laid over it, across a curved
specimen with the radius along the top, and where the file has the
hardness of each row, that on an axis of its own at the right."""

import math

import numpy as np

from .common import HOURS_ABOVE_S, STAGE_STYLES
from .labels import chosen, conditions, fmt, length_unit, stage_of, stage_start, time_label
from .overlays import check_overlay_reach, erfc_solution

HARDNESS_DASHES = (0, (8, 3))   # long dashes, unlike the overlay's and the stages' styles


def depth_limit(depth, comp, c0, cs, full):
    """Depth to show: the whole specimen, or when the profile has not
    spread through most of it, a margin beyond where it is flat."""
    length = float(depth[-1])
    if full or cs == c0 or not math.isfinite(cs - c0):
        return length
    changed = np.nonzero(np.abs(comp - c0) > 0.005 * abs(cs - c0))[0]
    reach = float(depth[changed[-1]]) if len(changed) else float(depth[1])
    limit = max(1.5 * reach, 5 * float(depth[1]))
    if limit > 0.7 * length:
        return length
    from matplotlib.ticker import MaxNLocator
    locator = MaxNLocator(nbins=7, steps=[1, 2, 2.5, 5, 10])
    ticks = [t for t in locator.tick_values(0.0, limit) if limit <= t <= length]
    return min(ticks) if ticks else limit     # end on a tick


def depth_axis(ax, specimen, xmax, units):
    """Depth from the surface along the bottom, 0 to xmax, and for a curved
    specimen the radius r = R - x along the top, in the same unit; returns
    how many of the unit make a metre."""
    unit, per_m = length_unit(specimen, units)
    ax.set_xlim(0, xmax * per_m)
    ax.set_xlabel(f"depth from the surface x ({unit})")
    if specimen.curved:
        outer = specimen.radius * per_m
        top = ax.secondary_xaxis("top", functions=(lambda x: outer - x, lambda r: outer - r))
        top.set_xlabel(f"radius r ({unit})")
    return per_m


def hardness_axis(ax, x, hv, colour, label):
    """The hardness against depth on a second axis at the right, dashed in
    the colour of its profile and drawn under it; returns its line, for a
    legend."""
    right = ax.twinx()
    right.set_ylabel("hardness (HV)")
    (line,) = right.plot(x, hv, color=colour, lw=1.4, ls=HARDNESS_DASHES, label=label)
    # The composition axis on top, so that its curves and legend cover the
    # hardness rather than the other way round.
    ax.set_zorder(right.get_zorder() + 1)
    ax.patch.set_visible(False)
    return line


def uptake_label(result):
    """', uptake 24.5 g/m²' where the file records it, for a title (with
    nitrogen, each species': ', uptake C 13.4, N 3.46 g/m²')."""
    if result.uptake is None:
        return ""
    if result.nitrogen_uptake is not None:
        return (f", uptake C {fmt(result.uptake, 3)}, N {fmt(result.nitrogen_uptake, 3)} "
                "g/m²")
    return f", uptake {fmt(result.uptake, 3)} g/m²"


def nitrogen_line(ax, x, result, colour, label):
    """Nitrogen's profile beside carbon's, dash-dotted; its handle for a legend."""
    (line,) = ax.plot(x, result.nitrogen * result.units.per_c, "-.", lw=1.5, color=colour,
                      label=label)
    return line


def draw_profile(result, fig, ax, overlay, full_depth, name):
    """One profile; returns the title it would have."""
    depth = result.depth
    c0 = chosen(overlay, "c0_option", result.c0, float(result.comp[-1]))
    cs = chosen(overlay, "cs_option", result.cs, float(result.comp[0]))
    xmax = depth_limit(depth, result.comp, c0, cs, full_depth)
    per_m = depth_axis(ax, result.specimen, xmax, result.units)
    per_c = result.units.per_c
    style = "-o" if np.count_nonzero(depth <= xmax) <= 60 else "-"   # marks while apart
    ax.plot(depth * per_m, result.comp * per_c, style, ms=3, lw=1.5, color="C0",
            label="diffusim" if overlay else ("carbon" if result.nitrogen is not None
                                              else result.units.c_name))
    if result.nitrogen is not None:
        nitrogen_line(ax, depth * per_m, result, "C2", "nitrogen")
    if overlay:
        note = "" if overlay.c0_option is not None or result.c0 is not None else (
            " (and C0, read from the deepest row, may be off: set it with --C0)")
        approx = check_overlay_reach(overlay, float(depth[-1]), result.time, name, note)
        xs = np.linspace(0.0, xmax, 400)
        ax.plot(xs * per_m, erfc_solution(xs, result.time, overlay.d, c0, cs) * per_c, "--",
                color="C3", lw=1.5, label=overlay.label(approx))
    if result.hv is not None:
        hv = hardness_axis(ax, depth * per_m, result.hv, "C0", "hardness (right axis)")
        ax.legend(handles=[*ax.get_lines(), hv], loc="best")
    elif overlay or result.nitrogen is not None:
        ax.legend(loc="best")
    return (f"Profile at t = {time_label(result.time)}, {conditions(result)}"
            f"{uptake_label(result)}")


def draw_profiles(result, fig, ax, overlay, full_depth, name):
    """A family of profiles coloured by time, each stage of a cycle in its
    own line style; returns the title it would have."""
    from matplotlib import colormaps
    from matplotlib.cm import ScalarMappable
    from matplotlib.colors import Normalize
    from matplotlib.lines import Line2D
    depth = result.depth
    times = result.times
    in_h = times[-1] > HOURS_ABOVE_S
    scale = 3600.0 if in_h else 1.0
    first = result.first_block
    c0 = chosen(overlay, "c0_option", result.c0, float(first[-1]))
    cs = chosen(overlay, "cs_option", result.cs, float(first[0]))
    xmax = depth_limit(depth, result.comps[-1], c0, cs, full_depth)
    per_m = depth_axis(ax, result.specimen, xmax, result.units)
    per_c = result.units.per_c
    cmap = colormaps["viridis"]
    norm = Normalize(vmin=times[0] / scale, vmax=times[-1] / scale)
    staged = len(result.stages) > 1
    for t, comp in zip(times, result.comps):
        style = STAGE_STYLES[stage_of(result.stages, t) % len(STAGE_STYLES)] if staged else "-"
        ax.plot(depth * per_m, comp * per_c, style, lw=1.4, color=cmap(norm(t / scale)))
    handles, where = [], {"loc": "best"}    # the legend's, drawn once the axes are made
    if staged:
        present = sorted({stage_of(result.stages, t) for t in times})
        handles = [Line2D([], [], color="0.3", lw=1.4, ls=STAGE_STYLES[k % len(STAGE_STYLES)],
                          label=result.stages[k].label()) for k in present]
        where = {"loc": "upper right", "fontsize": 9}
    if overlay:
        approx = check_overlay_reach(overlay, float(depth[-1]), float(times[-1]), name)
        xs = np.linspace(0.0, xmax, 300)
        for t in times:
            ax.plot(xs * per_m, erfc_solution(xs, t, overlay.d, c0, cs) * per_c, "--", lw=1.0,
                    color=cmap(norm(t / scale)), alpha=0.9)
        handles = [Line2D([], [], color="0.3", lw=1.4, label="diffusim"),
                   Line2D([], [], color="0.3", lw=1.0, ls="--", label=overlay.label(approx))]
    temp = conditions(result)
    shown = len(times)
    if shown == 1:      # a run of one step: nothing for a colour scale to tell
        _hardness_and_legend(ax, result, depth * per_m, "C0", handles, where)
        return f"Profile at t = {time_label(times[0])}, {temp} (1 step){uptake_label(result)}"
    # Beyond the hardness axis's labels, where there is one.
    bar = fig.colorbar(ScalarMappable(norm=norm, cmap=cmap), ax=ax,
                       pad=0.02 if result.hvs is None else 0.08)
    bar.set_label("time (h)" if in_h else "time (s)")
    for st in result.stages[:-1]:       # where one stage gives way to the next
        if times[0] < st.end < times[-1]:
            bar.ax.axhline(st.end / scale, color="white", lw=2)
            bar.ax.axhline(st.end / scale, color="black", lw=1, ls=(0, (2, 2)))
    for k, st in enumerate(result.stages):     # the time a temperature is ramped, hatched
        low, high = max(stage_start(result.stages, k), times[0]), min(st.end, times[-1])
        if st.ramp and low < high:
            bar.ax.axhspan(low / scale, high / scale, fill=False, hatch="//", ec="0.45", lw=0,
                           gid=f"stage{st.number}.ramp")
    _hardness_and_legend(ax, result, depth * per_m, cmap(norm(times[-1] / scale)), handles,
                         where)
    blocks = f"{result.block_count} {result.block_name}s"
    count = blocks if shown == result.block_count else f"{shown} of {blocks} shown"
    return (f"Profiles from t = {time_label(times[0], 4)} to "
            f"{time_label(times[-1], 4)}, {temp} ({count}){uptake_label(result)}")


def _hardness_and_legend(ax, result, x, colour, handles, where):
    """The hardness of the last profile alone (more would tangle with the
    family), then the legend, which names it."""
    if result.nitrogen is not None:
        label = f"nitrogen at t = {time_label(result.times[-1], 4)}"
        handles = [*handles, nitrogen_line(ax, x, result, "C2", label)]
    if result.hvs is not None:
        label = f"hardness at t = {time_label(result.times[-1], 4)} (right axis)"
        handles = [*handles, hardness_axis(ax, x, result.hvs[-1], colour, label)]
    if handles:
        ax.legend(handles=handles, **where)
