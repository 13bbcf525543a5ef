"""The analytic solution laid over a simulation: the erfc profile of a
semi-infinite solid held at Cs on its face, and what the command line asks
of it."""

import math

import numpy as np

from .common import (GAS_CONSTANT, HISTORY, MESH_RATIO, PRINT_HALF_STEP, PROFILE, PROFILES,
                     UsageError, warn)


def diffusivity(a, b, temperature):
    """D = A exp(B / (R T)), evaluated in the order diffusim uses so that the
    two agree to the last bit."""
    return math.exp((b / GAS_CONSTANT) / temperature) * a


def erfc_solution(x, t, d, c0, cs):
    """C(x, t) = C0 + (Cs - C0) erfc(x / (2 sqrt(D t))) for a semi-infinite
    solid held at Cs on its face; x and t broadcast against each other."""
    x = np.asarray(x, dtype=float)
    t = np.asarray(t, dtype=float)
    out = np.full(np.broadcast(x, t).shape, float(c0))
    arg_x, arg_t = np.broadcast_arrays(x, t)
    flat = out.reshape(-1)
    for k, (xv, tv) in enumerate(zip(arg_x.reshape(-1), arg_t.reshape(-1))):
        if tv > 0:
            flat[k] = c0 + (cs - c0) * math.erfc(xv / (2.0 * math.sqrt(d * tv)))
        elif xv <= 0:
            flat[k] = cs
    return out


def far_face_share(length, t, d):
    """erfc(L / (2 sqrt(D t))): the share of the injected change that the
    semi-infinite solution puts at the far face. Above 1 % the specimen is
    too short for it, and the finite one diverges visibly."""
    return math.erfc(length / (2.0 * math.sqrt(d * t))) if t > 0 else 0.0


def history_grid_point(hist, d, c0, cs):
    """The depth diffusim really reported in a history file, and the C0 used.

    diffusim writes the composition at the first interior grid point at or
    beyond the distance asked for, and the file only prints that distance
    rounded to 1e-6 m. The spacing follows from the time step (dt = dx^2 /
    (4 D)); the rounding can leave two or three grid points in doubt, and the
    one whose erfc curve matches the data best is taken.
    """
    dx = math.sqrt(4.0 * d * hist.dt)
    x = hist.distance
    lo = max(1, math.ceil((x - PRINT_HALF_STEP) / dx - 1e-9))
    hi = max(lo, math.ceil((x + PRINT_HALF_STEP) / dx + 1e-9))
    if hi - lo > 20:    # a grid far finer than the printed figure: take the nearest
        lo = hi = max(1, round(x / dx))
    step = max(1, len(hist.times) // 2000)
    t, c = hist.times[::step], hist.comp[::step]
    best = None
    for i in range(lo, hi + 1):
        if c0 is not None:
            c0_i = c0
        elif i >= 2:
            c0_i = float(hist.comp[0])     # untouched by the first step
        else:
            # The first interior point already moves in step 1:
            # C = C0 + r (Cs - C0) with r = D dt / dx^2 = 0.25.
            c0_i = (float(hist.comp[0]) - MESH_RATIO * cs) / (1.0 - MESH_RATIO)
        err = float(np.sum((erfc_solution(i * dx, t, d, c0_i, cs) - c) ** 2))
        if best is None or err < best[0]:
            best = (err, i * dx, c0_i)
    return best[1], best[2]


class Overlay:
    """The overlay to draw: D, and the C0 and Cs the command line gives
    (None where it leaves them to the file)."""

    def __init__(self, d, c0_option, cs_option):
        self.d = d
        self.c0_option = c0_option
        self.cs_option = cs_option

    def label(self, approximate):
        text = f"erfc solution, D = {self.d:.4g} m²/s"
        return text + "\n(only approximate here, see the warning)" if approximate else text


def check_overlay_reach(overlay, length, t, what, c0_note=""):
    """Warns, and says so, when the profile at t has reached far enough into
    a specimen of this length that the semi-infinite solution no longer
    holds."""
    share = far_face_share(length, t, overlay.d)
    if share > 0.01:
        warn(f"{what}: the diffusion length 2*sqrt(D*t) = "
             f"{2e6 * math.sqrt(overlay.d * t):.3g} um is not small against the specimen "
             f"(its last grid point lies {length * 1e6:.3g} um deep); the semi-infinite erfc "
             f"overlay is only approximate{c0_note}")
        return True
    return False


def overlay_from(args, result):
    """The overlay that the options --A, --B, --D, --C0 and --Cs ask for over
    this result, or None."""
    if args.d is not None and (args.a is not None or args.b is not None):
        raise UsageError("give either --D or --A with --B, not both")
    if (args.a is None) != (args.b is None):
        raise UsageError("--A and --B go together")
    if args.d is None and args.a is None:
        if args.c0 is not None or args.cs is not None:
            warn("--C0 and --Cs only shape the overlay, which needs --A/--B or --D")
        return None
    if result.kind not in (PROFILE, PROFILES, HISTORY):
        raise UsageError(f"the erfc overlay is drawn over profiles and histories, "
                         f"not over the table of diffusim {result.kind}")
    stages = result.stages
    if len(stages) > 1 or (stages and (stages[0].surface != "composition" or stages[0].ramp)):
        raise UsageError("the erfc overlay needs one temperature and the surface held at "
                         "one composition; this run " + (
                             f"is a cycle of {len(stages)} stages" if len(stages) > 1
                             else "has its temperature ramped" if stages[0].ramp
                             else f"has its surface {stages[0].surface}"))
    temperature = result.temperature
    if args.d is not None:
        d = args.d
    elif temperature is None:
        raise UsageError("the file does not give the temperature that D = A exp(B/RT) "
                         "needs; give --D instead")
    else:
        try:
            d = diffusivity(args.a, args.b, temperature)
        except (OverflowError, ZeroDivisionError):
            d = float("nan")
    if not (math.isfinite(d) and d > 0):
        raise UsageError(f"the diffusion coefficient D = {d:g} is not a finite positive number")
    if result.specimen.curved:
        warn(f"the erfc solution is that of a flat surface: across a {result.specimen.geometry} "
             f"of radius {result.specimen.radius:g} m it holds only while the profile "
             "is shallow against the radius")
    return Overlay(d, args.c0, args.cs)
