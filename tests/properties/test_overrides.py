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
