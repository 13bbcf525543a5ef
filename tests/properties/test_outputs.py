"""What the binary alone does: the result written with -o, a refused or
failed request leaving the file as it was, and the spread of a profile
whose uncertain values have no spread."""

from hypothesis import assume, given, settings, strategies as st

from schedules import run, schedules, table

COMMANDS = st.sampled_from([
    ("profile", []),
    ("profiles", ["--every", "1800"]),
    ("depth", ["--composition", "0.004"]),
])


# `-o FILE` holds exactly what standard output would; a request that does not
# succeed (refused, or failed while running) leaves an existing file as it was.
@settings(max_examples=40)
@given(plan=schedules(most_stages=3), command=COMMANDS)
def test_the_output_file_is_standard_output_or_left_alone(tmp_path_factory, plan, command):
    folder = tmp_path_factory.mktemp("out")
    (folder / "s.toml").write_text(plan.text())
    name, args = command
    shown = run(name, "--schedule", folder / "s.toml", *args, "--quiet", check=False)
    target = folder / "out.csv"
    target.write_text("kept\n")
    written = run(name, "--schedule", folder / "s.toml", *args, "--quiet", "-o", target,
                  check=False)
    assert written.returncode == shown.returncode, written.stderr
    if shown.returncode == 0:
        assert written.stdout == ""
        assert target.read_text() == shown.stdout
    else:
        assert target.read_text() == "kept\n"
        assert len(written.stderr.splitlines()) <= 2, written.stderr  # the line and the hint
    assert sorted(p.name for p in folder.iterdir()) == ["out.csv", "s.toml"]


# Uncertain values drawn with no spread: every quantile of the profile is the
# nominal profile, bit for bit.
@settings(max_examples=25)
@given(plan=schedules(most_stages=2, groups=False), key=st.sampled_from(
    ["stage1.duration", "stage1.temperature", "specimen.initial"]))
def test_a_spread_without_spread_is_the_nominal_profile(tmp_path_factory, plan, key):
    folder = tmp_path_factory.mktemp("spread")
    (folder / "s.toml").write_text(plan.text() + f"\n[uncertainty]\n{key} = {{ sd = 0 }}\n")
    nominal = run("profile", "--schedule", folder / "s.toml", "--quiet", check=False)
    assume(nominal.returncode == 0)
    spread = run("profile", "--schedule", folder / "s.toml", "--samples", "3", "--quiet")
    _, c = table(nominal.stdout)
    _, q = table(spread.stdout)
    for column in ("c_p05", "c_p25", "c_p50", "c_p75", "c_p95"):
        assert q[column] == c["c"], column
