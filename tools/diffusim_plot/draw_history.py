"""A history (Result_dx.txt, diffusim history): C(B) against time at one
depth, with the ends of a cycle's stages, its temperature ramps and the
erfc solution at that depth laid over it."""

import numpy as np

from .common import HOURS_ABOVE_S, PRINT_HALF_STEP, PROGRAM_DEFAULT_CS, warn
from .labels import chosen, conditions, fmt, length_unit
from .overlays import erfc_solution, history_grid_point
from .stage_marks import mark_stages


def draw_history(result, fig, ax, overlay, full_depth, name):
    """The history; returns the title it would have."""
    times, comp = result.times, result.comp
    in_h = times[-1] > HOURS_ABOVE_S
    scale = 3600.0 if in_h else 1.0
    step = max(1, len(times) // 5000)      # more points than pixels add nothing
    tt, cc = times[::step], comp[::step]
    if tt[-1] != times[-1]:
        tt, cc = np.append(tt, times[-1]), np.append(cc, comp[-1])
    style = "-o" if len(tt) <= 60 else "-"
    per_c = result.units.per_c
    both = result.nitrogen is not None
    ax.plot(tt / scale, cc * per_c, style, ms=3, lw=1.5, color="C0",
            label="carbon" if both and not overlay else "diffusim")
    if both:
        nn = result.nitrogen[::step]
        if len(nn) < len(tt):
            nn = np.append(nn, result.nitrogen[-1])
        ax.plot(tt / scale, nn * per_c, "-.", lw=1.5, color="C2", label="nitrogen")
    if overlay:
        cs = chosen(overlay, "cs_option", result.cs, None)
        if cs is None:
            cs = PROGRAM_DEFAULT_CS
            warn(f"{name}: the file does not record the injection composition; "
                 f"the overlay takes diffusim's default Cs = {cs:g} (set it with --Cs)")
        if result.x_given:      # the depth the file gives, its C0 or the first value
            xg = result.distance
            c0 = chosen(overlay, "c0_option", result.c0, float(comp[0]))
        else:
            xg, c0 = history_grid_point(result, overlay.d, overlay.c0_option, cs)
        ts = np.linspace(0.0, float(times[-1]), 600)
        # A history does not tell the specimen's depth. A profile that
        # has reached the far face shows instead as the simulation
        # drifting off the erfc curve late in the run (early on the
        # grid's own coarseness dominates, so that part is not judged).
        late = tt >= 0.5 * tt[-1]
        drift = float(np.max(np.abs(
            erfc_solution(xg, tt[late], overlay.d, c0, cs) - cc[late])))
        approx = cs != c0 and drift > 0.01 * abs(cs - c0)
        if approx:
            warn(f"{name}: late in the run the simulation departs from the semi-infinite "
                 f"erfc solution by up to {100 * drift / abs(cs - c0):.3g} % of Cs - C0; "
                 "the specimen is probably too short for it (or C0, Cs or D differ from "
                 "the run's), so the overlay is only approximate")
        label = overlay.label(approx)
        if abs(xg - result.distance) > PRINT_HALF_STEP * 1.001:
            label += f"\nat the grid point x = {xg * 1e6:.4g} µm"
        ax.plot(ts / scale, erfc_solution(xg, ts, overlay.d, c0, cs) * per_c, "--",
                color="C3", lw=1.5, label=label)
    ax.set_xlim(0, times[-1] / scale)
    ax.set_xlabel("time (h)" if in_h else "time (s)")
    mark_stages(ax, result.stages, scale, times[-1])
    if overlay or both:
        ax.legend(loc="best")
    at = (f"x = {fmt(result.distance * 1e3, 4)} mm" if result.units.steel
          else f"x = {fmt(result.distance * 1e6, 4)} µm")
    if result.specimen.curved:      # and the radius there, in the unit of the specimen's
        unit, per_m = length_unit(result.specimen, result.units)
        at += f" (r = {fmt(result.specimen.radius_at(result.distance) * per_m, 4)} {unit})"
    return f"History at {at}, {conditions(result)}"
