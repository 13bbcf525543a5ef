"""A stage-duration override against the schedule edited to that duration,
in every command that takes one."""

from dataclasses import replace

import pytest
from hypothesis import assume, given, strategies as st

from schedules import data_lines, run, schedules


def written(plan, tmp_path_factory, name):
    path = tmp_path_factory.mktemp("plan") / name
    path.write_text(plan.text())
    return path


def edited(plan, stage, duration):
    stages = plan.stages()
    stages[stage] = replace(stages[stage], duration=duration)
    return plan.with_stages(stages)


# `--stage-duration N=VALUE` gives what the schedule edited to that duration
# gives, byte for byte but the schedule's file name, in every command.
@pytest.mark.parametrize("command, args", [
    ("profile", []),
    ("history", ["--depth", "0.00001", "--every", "600"]),
    ("profiles", ["--every", "600"]),
    ("depth", ["--composition", "0.004"]),
    ("time", ["--depth", "0.00001", "--composition", "0.004"]),
])
@given(plan=schedules(most_stages=3), data=st.data())
def test_a_stage_duration_override_is_the_edited_schedule(tmp_path_factory, command, args, plan,
                                                          data):
    plan.schedule()
    k = data.draw(st.integers(0, len(plan.stages()) - 1), label="stage")
    duration = float(data.draw(st.integers(1, 240))) * 60.0
    original = written(plan, tmp_path_factory, "a.toml")
    edit = written(edited(plan, k, duration), tmp_path_factory, "a.toml")
    overridden = run(command, "--schedule", original, "--stage-duration", f"{k + 1}={duration!r}",
                     *args, check=False)
    direct = run(command, "--schedule", edit, *args, check=False)
    assume(direct.returncode != 2)  # refused before running
    assert overridden.returncode == direct.returncode, overridden.stderr
    assert data_lines(overridden.stdout) == data_lines(direct.stdout)


def keys_of(plan):
    """Every key --set can take for `plan`, with the plan's value and how to
    write the plan with another value there: (key, value, edit)."""
    keys = [("specimen.initial", plan.initial, lambda v: replace(plan, initial=v)),
            ("specimen.sections", plan.sections, lambda v: replace(plan, sections=int(v)))]
    curved = plan.shape not in ("plate", "two-faced plate")
    keys.append(("specimen.radius" if curved else "specimen.length", plan.size,
                 lambda v: replace(plan, size=v)))
    if plan.inner > 0:
        keys.append(("specimen.inner_radius", plan.inner, lambda v: replace(plan, inner=v)))
    keys.append(("specimen.alloy_factor", plan.alloy_factor or 1.0,
                 lambda v: replace(plan, alloy_factor=v)))
    keys.append(("specimen.density", plan.density or 7870.0, lambda v: replace(plan, density=v)))
    if plan.law.get("model") != "slycke-ericsson":
        for k in ("A", "B", "a", "b"):
            if k in plan.law:
                keys.append((f"diffusivity.{k}", plan.law[k],
                             lambda v, k=k: replace(plan, law={**plan.law, k: v})))
    stages = plan.stages()
    for i, s in enumerate(stages):
        def edit(v, i=i, **change):
            edited = list(stages)
            edited[i] = replace(stages[i], **{k: (v if c is None else c(v))
                                              for k, c in change.items()})
            return plan.with_stages(edited)

        def face(v, i=i, side="surface", what="composition"):
            edited = list(stages)
            edited[i] = replace(stages[i], **{side: replace(getattr(stages[i], side),
                                                            **{what: v})})
            return plan.with_stages(edited)

        n = f"stage{i + 1}."
        keys.append((n + "duration", s.duration, lambda v, e=edit: e(v, duration=None)))
        if s.temperature_to is None:
            keys.append((n + "temperature", s.temperature, lambda v, e=edit: e(v, temperature=None)))
        else:
            keys.append((n + "temperature.from", s.temperature,
                         lambda v, e=edit: e(v, temperature=None)))
            keys.append((n + "temperature.to", s.temperature_to,
                         lambda v, e=edit: e(v, temperature_to=None)))
        for side, prefix in (("surface", n), ("back", n + "back.")):
            f = getattr(s, side)
            if f is None:
                continue
            names = {"held": ("composition",), "transfer": ("potential", "beta"),
                     "atmosphere": ("beta",),
                     "flux": ("flux", "limit") if side == "surface" else ()}.get(f.kind, ())
            for what in names:
                if getattr(f, what) is not None:
                    keys.append((prefix + what, getattr(f, what),
                                 lambda v, fc=face, side=side, what=what: fc(v, side=side,
                                                                             what=what)))
            if f.kind == "atmosphere" and side == "surface":
                for key, what in (("atmosphere.CO", "co"), ("atmosphere.CO2", "co2"),
                                  ("atmosphere.probe_mV", "probe")):
                    if getattr(f, what) is not None:
                        keys.append((prefix + key, getattr(f, what),
                                     lambda v, fc=face, what=what: fc(v, what=what)))
    return keys


# `--set KEY=VALUE` gives what the schedule edited at that key gives, byte for
# byte but the schedule's file name and the header's record of the value, for
# any key the schedule has.
@pytest.mark.parametrize("command, args", [
    ("profile", []),
    ("depth", ["--composition", "0.004"]),
])
@given(plan=schedules(most_stages=3), data=st.data())
def test_a_set_key_is_the_edited_schedule(tmp_path_factory, command, args, plan, data):
    plan.schedule()
    key, value, edit = data.draw(st.sampled_from(keys_of(plan)), label="key")
    if key == "specimen.sections":
        new = data.draw(st.integers(10, 60), label="sections")
    else:
        spread = 0.05 if "temperature" in key else 0.3
        new = float(value) * data.draw(st.floats(1.0 - spread, 1.0 + spread), label="factor")
    edited = edit(new)
    original = written(plan, tmp_path_factory, "a.toml")
    direct = run(command, "--schedule", written(edited, tmp_path_factory, "a.toml"), *args,
                 check=False)
    assume(direct.returncode != 2)  # the edit itself is refused
    overridden = run(command, "--schedule", original, "--set", f"{key}={new!r}", *args,
                     check=False)
    assert overridden.returncode == direct.returncode, overridden.stderr
    assert data_lines(overridden.stdout) == data_lines(direct.stdout)
    assert overridden.returncode != 0 or f"# set.{key} = " in overridden.stdout


# Each case of `--sweep` gives the rows of its own edited schedule, bit for bit.
@given(plan=schedules(most_stages=2, groups=False), data=st.data())
def test_a_swept_key_gives_each_edited_schedule(tmp_path_factory, plan, data):
    plan.schedule()
    key, value, edit = data.draw(
        st.sampled_from([k for k in keys_of(plan) if k[0] != "specimen.sections"]), label="key")
    factors = data.draw(st.lists(st.floats(0.7, 1.3), min_size=2, max_size=3, unique=True),
                        label="factors")
    if "temperature" in key:
        factors = [1.0 + (f - 1.0) / 6.0 for f in factors]
    values = [float(value) * f for f in factors]
    assume(len(set(values)) == len(values))
    args = ["--composition", "0.004"]
    swept = run("depth", "--schedule", written(plan, tmp_path_factory, "a.toml"), "--sweep",
                f"{key}={','.join(repr(v) for v in values)}", "-q", *args, check=False)
    directs = [run("depth", "--schedule", written(edit(v), tmp_path_factory, "a.toml"), "-q",
                   *args, check=False) for v in values]
    assume(all(d.returncode == 0 for d in directs))
    assert swept.returncode == 0, swept.stderr
    rows = [l.split(",", 1) for l in swept.stdout.splitlines() if not l.startswith("#")][1:]
    expected = []
    for v, d in zip(values, directs):
        for line in [l for l in d.stdout.splitlines() if not l.startswith("#")][1:]:
            expected.append((v, line))
    assert [(float(v), rest) for v, rest in rows] == expected
