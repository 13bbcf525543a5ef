"""The commands against each other: the command line against Python, depth
against time."""

import numpy as np
from hypothesis import assume, given, note, strategies as st

import diffusim
from schedules import data_lines, run, schedules, table

SCHEMES = st.sampled_from(["explicit", "implicit", "auto"])


def written(plan, tmp_path_factory, name="drawn.toml"):
    path = tmp_path_factory.mktemp("plan") / name
    path.write_text(plan.text())
    return path


def refused(out):
    """A request the program turns down before running (exit 2)."""
    return out.returncode == 2


# The same request gives the same bits from the command line and from
# Python, in every command and scheme.
@given(schedules(), SCHEMES, st.sampled_from(["profile", "profiles", "history", "depth", "time"]),
       st.data())
def test_the_command_line_and_python_give_the_same_bits(tmp_path_factory, plan, scheme,
                                                         command, data):
    s = plan.schedule()
    path = written(plan, tmp_path_factory)
    every = plan.end() / 4
    depth = data.draw(st.floats(0.0, 0.5)) * (plan.size - plan.inner)
    c = data.draw(st.floats(0.001, 0.012))
    flags = ["--scheme", scheme]
    calls = {
        "profile": (lambda: diffusim.profile(s, scheme=scheme), [], ["x_m", "c"], ["x", "c"]),
        "profiles": (lambda: diffusim.profiles(s, every, scheme=scheme), ["--every", every],
                     ["c"], ["c"]),
        "history": (lambda: diffusim.history(s, depth, every, scheme=scheme),
                    ["--depth", depth, "--every", every], ["t_s", "c"], ["t", "c"]),
        "depth": (lambda: diffusim.depth(s, c, every=every, scheme=scheme),
                  ["--composition", c, "--every", every], ["t_s", "depth_m"], ["t", "depth"]),
        "time": (lambda: diffusim.time_to(s, depth, c, scheme=scheme),
                 ["--depth", depth, "--composition", c], ["t_s"], None),
    }
    call, args, columns, fields = calls[command]
    out = run(command, "--schedule", path, *flags,
              *(repr(a) if isinstance(a, float) else a for a in args), check=False)
    try:
        answer = call()
    except diffusim.ScheduleError:
        assert out.returncode != 0, "Python refused what the command line ran"
        return
    if command == "time" and np.isnan(answer):
        assert out.returncode == 1  # not reached: one line, exit 1
        return
    assert out.returncode == 0, out.stderr
    _, cli = table(out.stdout)
    if fields is None:
        assert cli["t_s"] == [answer]
        return
    for column, name in zip(columns, fields):
        mine = np.ravel(getattr(answer, name))
        assert np.array_equal(mine, cli[column], equal_nan=True), column


# Depth and time invert each other where the composition at every depth
# rises with time (one held composition throughout). The case depth d at t,
# asked back as the time C(d) reaches the composition, gives t to what the
# two runs' levels allow: each run is within the tolerance of the grid's
# solution, so their compositions at d differ by at most twice it, which is
# (2 tol) / (dC/dt) in time, the rate at d taken from the profiles an hour's
# hundredth either side; twice that for the interpolation inside the step.
@given(schedules(held=True, surfaces=("held",), laws_=("constant", "tibbetts",
                                                        "slycke-ericsson")),
       st.floats(0.2, 0.9), st.floats(0.2, 0.8))
def test_depth_and_time_invert_each_other(plan, fraction, level):
    s = plan.schedule()
    tol = 1e-7
    held = plan.stages()[0].surface.composition
    c = plan.initial + level * (held - plan.initial)
    t = round(fraction * plan.end())
    try:
        d = diffusim.depth(s, c, time=t, scheme="implicit", tolerance=tol)
    except diffusim.ScheduleError:
        assume(False)
    dx = (plan.size - plan.inner) / plan.sections
    assume(np.isfinite(d) and d > dx)  # beyond the first cell, inside the specimen
    back = diffusim.time_to(s, d, c, scheme="implicit", tolerance=tol)
    h = 36.0
    before = diffusim.profile(s, t - h, scheme="implicit", tolerance=tol)
    after = diffusim.profile(s, t + h, scheme="implicit", tolerance=tol) \
        if t + h <= plan.end() else diffusim.profile(s, t, scheme="implicit", tolerance=tol)
    rate = (np.interp(d, after.x, after.c) - np.interp(d, before.x, before.c)) / \
        (after.t[-1] - before.t[-1])
    assume(rate > 0)
    note(f"t {t}, depth {d}, back {back}, rate {rate:.3g}")
    assert abs(back - t) <= 2 * (2 * tol) / rate + 1e-9 * t, (back, t)
