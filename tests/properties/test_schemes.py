"""The two schemes against each other, and a run against the same run cut
differently: a stage split in two, a group written out."""

from dataclasses import replace

import numpy as np
from hypothesis import assume, event, given, note, strategies as st

import diffusim
from schedules import schedules

TOLERANCE = 1e-7


def profile(plan, scheme, tolerance=TOLERANCE):
    try:
        return diffusim.profile(plan.schedule(), scheme=scheme, tolerance=tolerance)
    except diffusim.ScheduleError:
        assume(False)


# Each scheme converges to the same solution at second order in dx (the
# explicit step scales with dx^2, so its time error does too), so by
# Richardson's rule a run on N sections is within (4/3) |C_N - C_2N| of it,
# and the implicit run within its tolerance more; a factor 2 covers the
# higher-order terms on coarse grids. Compared at the shared points.
@given(schedules(sections=(10, 40)))
def test_explicit_and_implicit_agree_within_the_grids_error(plan):
    fine = plan.with_sections(2 * plan.sections)
    explicit, implicit = profile(plan, "explicit"), profile(plan, "implicit")
    e_explicit = 4 / 3 * np.max(np.abs(explicit.c - profile(fine, "explicit").c[::2]))
    e_implicit = 4 / 3 * np.max(np.abs(implicit.c - profile(fine, "implicit").c[::2]))
    gap = np.max(np.abs(explicit.c - implicit.c))
    note(f"gap {gap:.3g}, error estimates {e_explicit:.3g} and {e_implicit:.3g}")
    assert gap <= 2 * (e_explicit + e_implicit) + 2 * TOLERANCE, (gap, e_explicit, e_implicit)


def halves(plan, k):
    """The plan written out, with its k-th stage run as two of half its
    duration (a ramp split at its middle temperature)."""
    stages = plan.stages()
    s = stages[k]
    half = s.duration / 2
    if s.temperature_to is None:
        first, second = replace(s, duration=half), replace(s, duration=half)
    else:
        middle = (s.temperature + s.temperature_to) / 2
        first = replace(s, duration=half, temperature_to=middle)
        second = replace(s, duration=half, temperature=middle)
    return plan.with_stages(stages[:k] + [first, second] + stages[k + 1:])


# A stage split in two halves runs as the whole stage. Explicit: the same
# steps give the same bits. A stage's step is its span over a whole number
# of steps no longer than the largest its composition range allows, so the
# halves take the same steps when that number is even, for a stage whose
# range does not depend on its own span (not a flux stage, not a ramp, whose
# temperatures the halves see at other instants). Implicit: each run is
# within the tolerance of the grid's solution, so the two within twice it.
@given(schedules(), st.data())
def test_a_stage_split_in_halves_runs_as_the_whole(plan, data):
    k = data.draw(st.integers(0, len(plan.stages()) - 1), label="stage")
    whole = profile(plan, "explicit")
    split = profile(halves(plan, k), "explicit")
    stage = plan.stages()[k]
    dt = float(whole.header[f"stage{k + 1}.dt"])
    steps = round(stage.duration / dt)
    if stage.surface.kind != "flux" and stage.temperature_to is None and steps % 2 == 0:
        event("explicit halves compared bit for bit")
        assert np.array_equal(whole.c, split.c)
    whole = profile(plan, "implicit")
    split = profile(halves(plan, k), "implicit")
    assert np.max(np.abs(whole.c - split.c)) <= 2 * TOLERANCE


# A group runs as its stages written out, bit for bit, in both schemes.
@given(schedules(groups=True, most_stages=3), st.sampled_from(["explicit", "implicit"]))
def test_a_group_runs_as_its_stages_written_out(plan, scheme):
    flat = plan.with_stages(plan.stages())
    assume(flat.items != plan.items)
    assert np.array_equal(profile(plan, scheme).c, profile(flat, scheme).c)
