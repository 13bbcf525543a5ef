"""What the physics allows any run: compositions within the bounds the
conditions impose, and a content that changes by exactly what crossed the
faces."""

import math
from dataclasses import replace

import numpy as np
from hypothesis import assume, given, strategies as st

import diffusim
from schedules import Group, schedules

SCHEMES = st.sampled_from(["explicit", "implicit", "auto"])


def levels(plan, scheme, tolerance=1e-7):
    """Every level a run hands on at eight equal times through the schedule."""
    s = plan.schedule()
    try:
        return diffusim.profiles(s, every=plan.end() / 8, scheme=scheme, tolerance=tolerance)
    except diffusim.ScheduleError:
        assume(False)  # a plan the program refuses up front (the grid, the law's range)


# Every level stays finite and within [lowest, highest] of what the initial
# profile and the faces impose. The explicit scheme's weights are all
# non-negative, so it keeps the bounds to rounding; the implicit one to its
# time-stepping tolerance.
@given(schedules(), SCHEMES)
def test_compositions_are_finite_and_within_the_imposed_bounds(plan, scheme):
    run = levels(plan, scheme)
    c = np.asarray(run.c)
    assert np.all(np.isfinite(c)), "a level with a value that is not finite"
    low, high = plan.imposed()
    allowance = 1e-12 + (1e-7 if run.header["scheme"] == "implicit" else 0.0)
    assert c.min() >= low - allowance, (c.min(), low)
    assert c.max() <= high + allowance, (c.max(), high)


# Pulses of a flux without a limit strong enough to carry the surface far
# above the initial composition, each pulse starting where the one before
# left it, over the laws whose D depends on C: the run the program picks (or
# the implicit one) is finite and never below the initial composition, or
# refused in one line. (A forced explicit run is left out: its step is sized
# for what such a flux can reach, and may be very short.)
@given(schedules(surfaces=("flux", "sealed"), laws_=("tibbetts", "slycke-ericsson", "D(C)"),
                 strong_flux=True, most_stages=2, groups=False),
       st.integers(2, 10), st.sampled_from(["auto", "implicit"]))
def test_flux_pulses_without_a_limit_give_finite_compositions(plan, pulses, scheme):
    plan = replace(plan, items=(Group(pulses, plan.items),))
    run = levels(plan, scheme)
    c = np.asarray(run.c)
    assert np.all(np.isfinite(c)), "a level with a value that is not finite"
    low, _ = plan.imposed()
    allowance = 1e-12 + (1e-7 if run.header["scheme"] == "implicit" else 0.0)
    assert c.min() >= low - allowance, (c.min(), low)


# With only flux and sealed faces, the uptake (g per m^2 of treated surface)
# is the flux times the duration, summed over the flux stages, for a stage
# whose surface stays below its limit. A stage that reaches its limit holds
# the surface there, so it takes in less; one that starts above its limit
# (after a flux without one) is held at it from the start and gives carbon
# back, so it sets no lower bound. The surface is read at every step to
# tell which stages reached their limits. Isothermal stages only: a surface
# held at its limit while a ramp raises D takes in what diffusion draws, which
# may pass the flux supplied (the held limit does not cap the uptake at the
# supply), so no upper bound holds there.
@given(schedules(surfaces=("flux", "limited flux", "sealed"), backs=("sealed", None),
                 ramps=False), SCHEMES)
def test_the_uptake_is_what_entered_through_the_surface(plan, scheme):
    s = plan.schedule()
    try:
        end = diffusim.profile(s, scheme=scheme)
        surface = diffusim.history(s, depth=0.0, scheme=scheme)
    except diffusim.ScheduleError:
        assume(False)
    uptake = float(end.header["uptake_g_per_m2"])
    exact = limited = 0.0
    bounded_below = True
    start = 0.0
    for stage in plan.stages():
        face = stage.surface
        stop = start + stage.duration
        if face.kind == "flux":
            inflow = face.flux * stage.duration * 1000.0
            during = surface.c[(surface.t > start) & (surface.t <= stop)]
            before = surface.c[surface.t <= start]
            at_start = before[-1] if before.size else plan.initial
            if face.limit is not None and during.size and \
                    during.max() >= face.limit * (1 - 1e-12):
                limited += inflow
                bounded_below = bounded_below and at_start < face.limit
            else:
                exact += inflow
        start = stop
    allowance = 1e-9 * (exact + limited) + 1e-12
    if bounded_below:
        assert uptake >= exact - allowance, (uptake, exact)
    assert uptake <= exact + limited + allowance, (uptake, exact, limited)
    if limited == 0.0:
        assert math.isclose(uptake, exact, rel_tol=1e-9, abs_tol=1e-12), (uptake, exact)
