"""Carbon and nitrogen together: neither species' law reads the other's
composition, so a two-species run is each species' own run (to the bit in
the implicit scheme, each species under its own step control), and each
species keeps to the bounds its own faces impose."""

import numpy as np
from hypothesis import assume, given, strategies as st

import diffusim
from schedules import schedules, with_nitrogen

# Carbon's surfaces that stay within what nitrogen and carbon together may
# reach (2.1 %): no flux without a limit.
CARBON_SURFACES = ("held", "transfer", "atmosphere", "limited flux", "sealed")


def drawn(plan):
    try:
        return plan.schedule()
    except diffusim.ScheduleError:
        assume(False)


def run(plan, scheme, **kw):
    try:
        return diffusim.profiles(drawn(plan), every=plan.end() / 4, scheme=scheme, **kw)
    except diffusim.ScheduleError:
        assume(False)


@given(st.data(), schedules(surfaces=CARBON_SURFACES, most_stages=3))
def test_each_species_is_the_run_of_its_own_schedule(data, carbon):
    plan = data.draw(with_nitrogen(carbon))
    both = run(plan, "implicit")
    alone_c = run(plan.carbon_alone(), "implicit")
    alone_n = run(plan.nitrogen_alone(), "implicit")
    assert np.array_equal(both.c, alone_c.c)
    assert np.array_equal(both.c_N, alone_n.c)
    assert both.header["uptake_N_g_per_m2"] == alone_n.header["uptake_g_per_m2"]


@given(st.data(), schedules(surfaces=CARBON_SURFACES, most_stages=3),
       st.sampled_from(["explicit", "implicit"]))
def test_each_species_keeps_to_its_own_bounds(data, carbon, scheme):
    plan = data.draw(with_nitrogen(carbon))
    both = run(plan, scheme)
    allowance = 1e-12 + (1e-7 if scheme == "implicit" else 0.0)
    for values, bounds in ((both.c, plan.imposed()),
                           (both.c_N, plan.nitrogen_alone().imposed())):
        values = np.asarray(values)
        assert np.all(np.isfinite(values))
        assert bounds[0] - allowance <= values.min(), (values.min(), bounds)
        assert values.max() <= bounds[1] + allowance, (values.max(), bounds)
