"""The Python module against the command line: the same numbers, bit for bit,
for every function; refusals as ScheduleError; schedules that pickle into
executors and a dask cluster; Ctrl-C as KeyboardInterrupt."""

import concurrent.futures
import csv
import io
import math
import os
import pickle
import signal
import subprocess
import sys
import threading

import numpy as np
import pytest

import diffusim

PROGRAM = os.environ["DIFFUSIM"]
CYCLE = subprocess.run([PROGRAM, "schedule"], capture_output=True, text=True,
                       check=True).stdout.replace("sections = 400", "sections = 120")
SHAFT = subprocess.run([PROGRAM, "schedule", "--example", "shaft"], capture_output=True,
                       text=True, check=True).stdout.replace("sections = 400", "sections = 80")


@pytest.fixture(scope="module")
def files(tmp_path_factory):
    d = tmp_path_factory.mktemp("schedules")
    (d / "cycle.toml").write_text(CYCLE)
    (d / "shaft.toml").write_text(SHAFT)
    return d


def command(*args):
    """The command line's CSV: header fields and the columns as floats."""
    out = subprocess.run([PROGRAM, *map(str, args)], capture_output=True, text=True, check=True)
    rows = [l for l in out.stdout.splitlines() if not l.startswith("#")]
    table = list(csv.reader(io.StringIO("\n".join(rows))))
    def number(text):
        try:
            return float(text)
        except ValueError:
            return math.nan  # a name (the fit's parameter column)
    return {name: np.array([number(r[k]) for r in table[1:]]) for k, name in enumerate(table[0])}


# Every function gives the command line's numbers for the same request.
@pytest.mark.parametrize("name", ["cycle.toml", "shaft.toml"])
@pytest.mark.parametrize("scheme", ["explicit", "implicit"])
def test_profiles_and_histories_are_the_command_lines_bits(files, name, scheme):
    path = files / name
    s = diffusim.load_schedule(path)
    p = diffusim.profile(s, scheme=scheme)
    cli = command("profile", "--schedule", path, "--scheme", scheme)
    assert np.array_equal(p.c, cli["c"]) and np.array_equal(p.x, cli["x_m"])
    if "r_m" in cli:
        assert np.array_equal(p.r, cli["r_m"])
    assert p.header["uptake_g_per_m2"] > 0
    many = diffusim.profiles(s, every=3600.0, scheme=scheme)
    cli = command("profiles", "--schedule", path, "--every", "1h", "--scheme", scheme)
    assert np.array_equal(many.c.ravel(), cli["c"])
    h = diffusim.history(s, depth=2e-4, every=1800.0, scheme=scheme)
    cli = command("history", "--schedule", path, "--depth", "0.2mm", "--every", "30min",
                  "--scheme", scheme)
    assert np.array_equal(h.t, cli["t_s"]) and np.array_equal(h.c, cli["c"])


@pytest.mark.parametrize("name", ["cycle.toml", "shaft.toml"])
def test_either_implicit_step_is_the_command_lines_bits(files, name):
    path = files / name
    s = diffusim.load_schedule(path)
    p = diffusim.profile(s, scheme="implicit", method="trbdf2")
    cli = command("profile", "--schedule", path, "--scheme", "implicit", "--method", "trbdf2")
    assert np.array_equal(p.c, cli["c"])
    assert p.header["method"] == "trbdf2"
    assert diffusim.profile(s, scheme="implicit").header["method"] == "esdirk"
    d = diffusim.depth(s, 0.0035, scheme="implicit", method="trbdf2")
    cli = command("depth", "--schedule", path, "--composition", "0.0035", "--scheme", "implicit",
                  "--method", "trbdf2")
    assert d == cli["depth_m"][-1]
    with pytest.raises(ValueError, match="not esdirk or trbdf2"):
        diffusim.profile(s, scheme="implicit", method="rk4")


def test_queries_design_and_fit_are_the_command_lines_bits(files):
    path = files / "cycle.toml"
    s = diffusim.load_schedule(path)
    assert diffusim.depth(s, 0.0035) == command("depth", "--schedule", path, "--composition",
                                                "0.0035")["depth_m"][0]
    table = diffusim.depth(s, 0.0035, every=3600.0)
    assert np.array_equal(table.depth, command("depth", "--schedule", path, "--composition",
                                               "0.0035", "--every", "1h")["depth_m"])
    assert diffusim.time_to(s, 5e-4, 0.005) == command(
        "time", "--schedule", path, "--depth", "0.5mm", "--composition", "0.005")["t_s"][0]
    d = diffusim.design(s, [1], depth=1e-3, at=0.0035)
    cli = command("design", "--schedule", path, "--vary", "1", "--depth", "1mm", "--at",
                  "0.0035")
    assert d.durations == list(cli["duration_s"])
    p = diffusim.profile(s)
    data = files / "measured.csv"
    data.write_text("x_m,c\n" + "".join(f"{x!r},{c!r}\n" for x, c in
                                        zip(p.x[:60:4], p.c[:60:4] + 1e-6)))
    f = diffusim.fit(s, ["stage2.beta"], p.x[:60:4], p.c[:60:4] + 1e-6)
    cli = command("fit", "--schedule", path, "--data", data, "--fit", "stage2.beta")
    assert f.values[0] == cli["value"][0] and f.std_errors[0] == cli["std_error"][0]
    assert abs(f.values[0] - 1.5e-7) < 4 * f.std_errors[0] + 1e-9
    uncertain = diffusim.parse_schedule(CYCLE + "[uncertainty]\nstage1.temperature = { sd = 3 }\n")
    (files / "uncertain.toml").write_text(uncertain.text)
    depths, q = diffusim.depth_spread(uncertain, 0.0035, samples=40, seed=5, threads=2)
    cli = command("depth", "--schedule", files / "uncertain.toml", "--composition", "0.0035",
                  "--samples", "40", "--seed", "5")
    assert [q[p] for p in diffusim.QUANTILES] == list(cli["depth_m"])


HELD = """[specimen]
length = "2mm"
sections = 100
initial = 0.002

[diffusivity]
A = 4.529e-7
B = -147723

[[stage]]
duration = "4h"
temperature = 1223
surface = { composition = 0.01 }
"""


def header(*args):
    """The command line's CSV header fields, as text."""
    out = subprocess.run([PROGRAM, *map(str, args)], capture_output=True, text=True, check=True)
    return dict(l[2:].split(" = ", 1) for l in out.stdout.splitlines()
                if l.startswith("# ") and " = " in l)


# An uncertain duration: each sample is read at its own schedule's end, so
# the 5 % and 95 % quantiles are those of the schedules held 1.645 sd
# shorter and longer (to the sampling error of 400 draws, about 1 %).
def test_a_spread_reads_each_sample_at_its_own_end(files):
    path = files / "held.toml"
    path.write_text(HELD + "[uncertainty]\nstage1.duration = { sd = 3600 }\n")
    depths = command("depth", "--schedule", path, "--composition", "0.4%", "--samples", 400)
    profiles = command("profile", "--schedule", path, "--samples", 400)
    for k, z, column in ((0, -1.645, "c_p05"), (4, 1.645, "c_p95")):
        held = diffusim.parse_schedule(HELD.replace('"4h"', repr(14400 + z * 3600)))
        assert depths["depth_m"][k] == pytest.approx(diffusim.depth(held, 0.004), rel=0.03)
        assert profiles[column][4] == pytest.approx(diffusim.profile(held).c[4], rel=0.03)
    _, q = diffusim.depth_spread(diffusim.load_schedule(path), 0.004, samples=400)
    assert [q[p] for p in diffusim.QUANTILES] == list(depths["depth_m"])


# Samples whose profile stays above the composition through the specimen
# count as beyond it (inf), in the command line and in Python alike; draws
# that cannot run (a negative duration) are left out and counted, and more
# than 1 % of them refuse the request.
def test_samples_beyond_the_specimen_count_and_invalid_draws_are_left_out(files):
    cases = [  # schedule, samples, seed, beyond, invalid
        (HELD.replace('"2mm"', '"0.2mm"').replace("100", "40").replace('"4h"', '"8h"')
         + "[uncertainty]\nstage1.temperature = { sd = 25 }\n", 100, 3, 20, 0),
        (HELD.replace('"4h"', '"1h"') + "[uncertainty]\nstage1.duration = { sd = 1500 }\n",
         200, 2, 0, 1),
    ]
    for text, samples, seed, beyond, invalid in cases:
        path = files / "spread.toml"
        path.write_text(text)
        args = ("depth", "--schedule", path, "--composition", "0.4%", "--samples", samples,
                "--seed", seed)
        fields, table = header(*args), command(*args)
        depths, q = diffusim.depth_spread(diffusim.load_schedule(path), 0.004, samples=samples,
                                          seed=seed)
        assert int(fields["samples_beyond_specimen"]) == q["beyond"] == beyond
        assert int(fields["samples_invalid"]) == q["invalid"] == invalid
        assert np.count_nonzero(np.isinf(depths)) == beyond
        assert np.count_nonzero(np.isnan(depths)) == invalid
        assert [q[p] for p in diffusim.QUANTILES] == list(table["depth_m"])
        assert (q[0.95] == math.inf) == (beyond > 0) and math.isfinite(q[0.05])
        assert fields["mean"] == ("inf" if beyond else repr(q["mean"]))
    with pytest.raises(diffusim.ScheduleError, match="5 of 200 samples drew a schedule"):
        diffusim.depth_spread(diffusim.load_schedule(path), 0.004, samples=200, seed=9)


# A constant schedule without a duration lasts as the flags make it: until
# the time asked, and onward for time_to (the flags' open-ended search).
def test_a_constant_schedule_without_a_duration_lasts_as_the_flags_do():
    open_ended = diffusim.Schedule.constant(temperature=1200.0, sections=60)
    fixed = diffusim.Schedule.constant(duration=5400.0, temperature=1200.0, sections=60)
    assert np.array_equal(diffusim.profile(open_ended, time=5400.0).c, diffusim.profile(fixed).c)
    assert diffusim.depth(open_ended, 0.03, time=5400.0) == diffusim.depth(fixed, 0.03)
    assert diffusim.time_to(open_ended, 2e-5, 0.03) == command(
        "time", "--temperature", "1200", "--sections", "60", "--depth", "2e-5",
        "--composition", "0.03")["t_s"][0]
    assert pickle.loads(pickle.dumps(open_ended))._open == open_ended._open


# The inverse questions say what their answers are worth, as the command
# line does: data without times lie at each trial schedule's end, values the
# data cannot tell apart are not determined (and warned of), a design names
# its closest run and warns of a stage far longer than the template.
def test_fit_and_design_say_what_their_answers_are_worth(files):
    truth = diffusim.load_schedule(files / "cycle.toml")
    p = diffusim.profile(truth)
    x, c = p.x[:60:4], p.c[:60:4]
    start = diffusim.parse_schedule(truth.text.replace('duration = "2h"', 'duration = "100min"'))
    assert start.end == truth.end - 1200.0
    f = diffusim.fit(start, ["stage2.duration"], x, c)
    assert abs(f.values[0] - 7200.0) < 1e-3 and f.determined.tolist() == [True]
    data = files / "end.csv"
    data.write_text("x_m,c\n" + "".join(f"{a!r},{b!r}\n" for a, b in zip(x, c)))
    (files / "start.toml").write_text(start.text)
    cli = command("fit", "--schedule", files / "start.toml", "--data", data,
                  "--fit", "stage2.duration")
    assert f.values[0] == cli["value"][0] and list(f.ci95[0]) == [cli["ci95_low"][0],
                                                                  cli["ci95_high"][0]]
    with pytest.warns(UserWarning, match="diffusivity.A is not determined by the data"):
        g = diffusim.fit(truth, ["diffusivity.A", "diffusivity.B"], x, c + 1e-5 * np.sin(x * 1e4))
    assert g.converged and g.determined.tolist() == [False, False]
    assert g.values[0] > 0 and g.ci95[0][0] >= 0
    with pytest.warns(UserWarning, match="times the template's whole schedule"):
        d = diffusim.design(truth, [3], depth=9e-4, at=0.0035)
    assert d.durations[0] > 10 * truth.end
    with pytest.raises(diffusim.ScheduleError, match=r"closest of 9 runs \(durations 1\.76"):
        diffusim.design(truth, [3], depth=9e-4, at=0.0035, max_duration=172800.0)


FLUX_PULSES = """
[specimen]
length = "1mm"
sections = 50
initial = 0.002
[diffusivity]
model = "tibbetts"
[[stage]]
repeat = 10
stages = [ { duration = "30min", temperature = 1273, surface = { flux = 1e-5 } } ]
"""


def test_flux_pulses_without_a_limit_give_finite_bits_of_the_command_line(tmp_path):
    # Each pulse starts where the one before left the surface: the step is
    # sized for the bound of what it can reach, in Python as on the command line.
    path = tmp_path / "pulses.toml"
    path.write_text(FLUX_PULSES)
    p = diffusim.profile(diffusim.load_schedule(path))
    assert np.all(np.isfinite(p.c)) and p.c[0] > 0.02
    assert np.array_equal(p.c, command("profile", "--schedule", path)["c"])
    h = diffusim.history(diffusim.load_schedule(path), depth=1e-4, every=600.0)
    assert np.all(np.isfinite(h.c))


def test_refusals_raise_schedule_error_with_the_command_lines_words(files):
    with pytest.raises(diffusim.ScheduleError, match="missing key specimen.sections"):
        diffusim.parse_schedule("[specimen]\nlength = 0.001\n")
    s = diffusim.load_schedule(files / "cycle.toml")
    with pytest.raises(diffusim.ScheduleError,
                       match="^time: 1e[+]09 s is after the end of the schedule, 23400 s$"):
        diffusim.profile(s, time=1e9)
    with pytest.raises(ValueError, match="not explicit, implicit or auto"):
        diffusim.profile(s, scheme="fast")
    with pytest.raises(diffusim.ScheduleError, match="^surface: 0.5 is above the highest"):
        diffusim.design(s, [1], surface=0.5)
    # A key fitted twice has no one value: refused, as --fit refuses it.
    p = diffusim.profile(s)
    with pytest.raises(diffusim.ScheduleError, match="keys: diffusivity.A is given twice"):
        diffusim.fit(s, ["diffusivity.A", "diffusivity.A"], p.x[::4], p.c[::4])
    # A plan the study layer refuses: the command line's line, without its
    # program and command.
    refused = subprocess.run([PROGRAM, "profiles", "--schedule", str(files / "cycle.toml"),
                              "--every", "1e-4"], capture_output=True, text=True)
    assert refused.returncode == 2
    words = refused.stderr.splitlines()[0].removeprefix("diffusim profiles: ")
    with pytest.raises(diffusim.ScheduleError) as raised:
        diffusim.profiles(s, every=1e-4)
    assert str(raised.value) == words


# Strings with units as the command line takes them: the same bits as the
# numbers in SI units, whichever function takes them.
UNIT_CALLS = [
    (diffusim.profile, {"time": "4h"}, {"time": 14400.0}),
    (diffusim.profiles, {"every": "2h", "until": "6h"}, {"every": 7200.0, "until": 21600.0}),
    (diffusim.history, {"depth": "0.2mm", "every": "30min"}, {"depth": 2e-4, "every": 1800.0}),
    (diffusim.depth, {"composition": "0.35%", "time": ["2h", "4h"]},
     {"composition": 0.0035, "time": [7200.0, 14400.0]}),
    (diffusim.time_to, {"depth": "0.5mm", "composition": "0.4%"},
     {"depth": 5e-4, "composition": 0.004}),
]


def same_bits(a, b):
    if isinstance(a, float):
        return a == b or (math.isnan(a) and math.isnan(b))
    return all(np.array_equal(getattr(a, n), getattr(b, n), equal_nan=True)
               for n in ("t", "c", "depth") if getattr(a, n, None) is not None)


@pytest.mark.parametrize("call, with_units, in_si", UNIT_CALLS)
def test_strings_with_units_give_the_bits_of_si_numbers(files, call, with_units, in_si):
    s = diffusim.load_schedule(files / "cycle.toml")
    b = call(s, **in_si)
    assert same_bits(call(s, **with_units), b)
    # A schedule file's name stands for the schedule.
    assert same_bits(call(files / "cycle.toml", **in_si), b)
    quick = diffusim.Schedule.constant(duration="2h", temperature="900C", length="0.5mm",
                                       c0="0.2%", cs="1%")
    same = diffusim.Schedule.constant(duration=7200.0, temperature=1173.15, length=5e-4,
                                      c0=0.002, cs=0.01)
    assert quick.text == same.text


def test_a_bad_value_says_what_the_command_line_says_naming_the_keyword(files):
    s = diffusim.load_schedule(files / "cycle.toml")
    path = str(files / "cycle.toml")
    for args, flag, keyword, call in [
            (["profile", "--time", "4hours"], "--time", "time",
             lambda: diffusim.profile(s, time="4hours")),
            (["history", "--depth", "2 mm", "--every", "1h"], "--depth", "depth",
             lambda: diffusim.history(s, depth="2 mm", every=3600.0)),
            (["depth", "--schedule", path, "--composition", "0.35 %"], "--composition",
             "composition", lambda: diffusim.depth(s, composition="0.35 %")),
            (["design", "--schedule", path, "--vary", "1", "--depth", "1mm", "--at", "0.35%",
              "--max-duration", "soon"], "--max-duration", "max_duration",
             lambda: diffusim.design(s, [1], depth=1e-3, at=0.0035, max_duration="soon"))]:
        line = subprocess.run([PROGRAM, *args], capture_output=True, text=True).stderr
        words = line.splitlines()[0].split(f"{flag}: ", 1)[1]
        with pytest.raises(diffusim.ScheduleError) as raised:
            call()
        assert str(raised.value) == f"{keyword}: {words}"
    with pytest.raises(diffusim.ScheduleError, match=r"vary: the schedule has no stage 0 \(it has 3\)"):
        diffusim.design(s, [0], surface=0.0075)
    with pytest.raises(diffusim.ScheduleError, match="expected a Schedule .* not int"):
        diffusim.profile(3)


def test_an_unknown_kernel_level_fails_the_import():
    env = dict(os.environ, DIFFUSIM_KERNELS="avx3")
    r = subprocess.run([sys.executable, "-c", "import diffusim"], env=env, capture_output=True,
                       text=True)
    assert r.returncode == 1
    assert r.stderr.splitlines()[-1] == (
        "ImportError: DIFFUSIM_KERNELS=avx3 is not a kernel level (baseline, avx2 or avx512)")


def run_case(args):
    schedule, temperature = args
    text = schedule.text.replace("temperature = 1200", f"temperature = {temperature}")
    return temperature, diffusim.depth(diffusim.parse_schedule(text), 0.0035)


# Schedules pickle: threads (the GIL released), processes and a dask
# cluster give the very numbers of a loop.
def test_sweeps_on_executors_and_a_dask_cluster(files):
    s = diffusim.load_schedule(files / "cycle.toml")
    assert pickle.loads(pickle.dumps(s)).text == s.text
    cases = [(s, t) for t in (1150, 1175, 1200, 1225)]
    expected = [run_case(c) for c in cases]
    with concurrent.futures.ThreadPoolExecutor(4) as pool:
        assert list(pool.map(run_case, cases)) == expected
    with concurrent.futures.ProcessPoolExecutor(2) as pool:
        assert list(pool.map(run_case, cases)) == expected
    distributed = pytest.importorskip("distributed")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, \
            distributed.Client(cluster) as client:
        assert client.gather(client.map(run_case, cases)) == expected


def test_ctrl_c_stops_a_long_run_promptly():
    s = diffusim.Schedule.constant(duration=1e7, sections=2000)  # about 30 s explicit
    timer = threading.Timer(0.2, lambda: os.kill(os.getpid(), signal.SIGINT))
    timer.start()
    with pytest.raises(KeyboardInterrupt):
        diffusim.profile(s, scheme="explicit", threads=1)
    timer.join()


# with_values gives the bits of the schedule edited at those keys, in every
# question and through a pickle; sweep gives the command line's --sweep rows.
EDITS = [  # (key, value given, written in the file, edited there)
    ("stage1.temperature", "1250K", "temperature = 1200\n", 'temperature = "1250K"\n'),
    ("stage2.potential", "0.9%", "potential = 0.008", 'potential = "0.9%"'),
    ("diffusivity.a", -100, "a = -160", "a = -100"),
    ("specimen.sections", 90, "sections = 120", "sections = 90"),
]


@pytest.mark.parametrize("key, value, written, edited", EDITS)
def test_with_values_is_the_edited_schedule_in_every_question(key, value, written, edited):
    set_ = pickle.loads(pickle.dumps(diffusim.parse_schedule(CYCLE).with_values({key: value})))
    text = CYCLE.replace(written, edited, 1)
    assert text != CYCLE
    direct = diffusim.parse_schedule(text)
    a, b = diffusim.profile(set_), diffusim.profile(direct)
    assert np.array_equal(a.c, b.c) and a.header[f"set.{key}"] == set_.values[key]
    assert diffusim.depth(set_, 0.0035) == diffusim.depth(direct, 0.0035)
    assert diffusim.time_to(set_, 3e-4, 0.004) == diffusim.time_to(direct, 3e-4, 0.004)
    assert diffusim.design(set_, [3], surface=0.0075).durations == \
        diffusim.design(direct, [3], surface=0.0075).durations


def test_sweep_is_the_command_lines_sweep_and_each_case_on_its_own(files):
    path = files / "cycle.toml"
    values = {"stage1.temperature": ["1190K", "1210K"], "stage2.potential": [0.007, 0.009]}
    table = diffusim.sweep(path, values, composition="0.35%")
    cli = command("depth", "--schedule", path, "--composition", "0.35%", "--sweep",
                  "stage1.temperature=1190K,1210K", "--sweep", "stage2.potential=0.007,0.009")
    assert list(table.columns) == list(cli)
    for column in cli:
        assert np.array_equal(table[column].to_numpy(), cli[column]), column
    one = diffusim.load_schedule(path).with_values({"stage1.temperature": 1210.0,
                                                    "stage2.potential": 0.007})
    assert table["depth_m"][2] == diffusim.depth(one, 0.0035)
    times = diffusim.sweep(path, {"stage2.duration": ["1h", "3h"]}, command="time",
                           depth="0.3mm", composition=0.004)
    assert list(times.columns) == ["stage2_duration_s", "t_s"] and len(times) == 2


def test_values_refused_as_the_command_line_refuses_them_naming_values():
    s = diffusim.parse_schedule(CYCLE)
    for values, message in [
        ({"stage2.potential": 8}, "values: stage2.potential: must be a fraction from 0 to 1"),
        ({"stage9.duration": "1h"}, "values: stage9.duration: the schedule has no stage 9"),
        ({"stage1.temperature": "hot"}, "values: stage1.temperature: 'hot' is not a temperature"),
        ({"stage1.beta": 1e-7}, "values: stage1.beta: the stage's surface is not a mass transfer"),
        ({"specimen.sections": 2.5}, "values: specimen.sections: must be from 1 to 9999"),
    ]:
        with pytest.raises(diffusim.ScheduleError, match="^" + message.replace("(", r"\(")):
            s.with_values(values)
    timed = s.with_values({"stage3.duration": "1h"})
    with pytest.raises(diffusim.ScheduleError, match="^vary: stage3.duration is set"):
        diffusim.design(timed, [3], surface=0.0075)
    with pytest.raises(diffusim.ScheduleError, match="^command: 'profiles' is not"):
        diffusim.sweep(s, {"stage1.duration": [3600]}, command="profiles")
    with pytest.raises(diffusim.ScheduleError, match="^values: the sweep asks for 100000000 cases"):
        diffusim.sweep(s, {"stage1.duration": range(1, 10001), "stage2.duration": range(1, 10001)})


def test_set_in_design_and_fit_is_the_edited_schedule(files):
    path, edited = files / "cycle.toml", files / "edited.toml"
    edited.write_text(CYCLE.replace("potential = 0.008", "potential = 0.009"))
    p = diffusim.profile(diffusim.load_schedule(edited))
    data = files / "measured_edited.csv"
    data.write_text("x_m,c\n" + "".join(f"{x!r},{c + 1e-6!r}\n"
                                        for x, c in zip(p.x[:60:4], p.c[:60:4])))
    for args in (["design", "--vary", "1", "--depth", "1mm", "--at", "0.0035"],
                 ["fit", "--data", data, "--fit", "stage2.beta"]):
        written = files / f"written_{args[0]}.toml"
        set_ = command(*args, "--schedule", path, "--set", "stage2.potential=0.9%",
                       "--set", "specimen.sections=100", "--write-schedule", written)
        direct = command(*args, "--schedule", edited, "--set", "specimen.sections=100")
        assert all(np.array_equal(set_[k], direct[k], equal_nan=True) for k in direct), args[0]
        # The schedule written holds the values set as well as those found.
        found = command("profile", "--schedule", written)["c"]
        value = direct["duration_s" if args[0] == "design" else "value"][0]
        key = "stage1.duration" if args[0] == "design" else "stage2.beta"
        assert np.array_equal(found, command("profile", "--schedule", edited, "--set",
                                             "specimen.sections=100", "--set",
                                             f"{key}={value!r}")["c"]), args[0]


# A quick run in steel: Schedule.constant's model, alloy factor and density
# are the command line's --model, --alloy-factor and --density, bit for bit.
@pytest.mark.parametrize("steel, flags", [
    (dict(model="tibbetts"), ["--model", "tibbetts"]),
    (dict(model="tibbetts", A=2e-5), ["--model", "tibbetts", "--A", "2e-5"]),
    (dict(model="slycke-ericsson", alloy_factor=1.1, density=7800.0),
     ["--model", "slycke-ericsson", "--alloy-factor", "1.1", "--density", "7800"]),
])
def test_a_quick_run_in_steel_is_the_command_lines(steel, flags):
    quick = dict(temperature="930C", length="2mm", sections=80, c0="0.2%", cs="0.9%")
    p = diffusim.profile(diffusim.Schedule.constant(**quick, **steel), "2h")
    cli = command("profile", "--time", "2h", "--temperature", "930C", "--length", "2mm",
                  "--sections", "80", "--c0", "0.2%", "--cs", "0.9%", *flags)
    assert np.array_equal(p.c, cli["c"])
    uptake = header("profile", "--time", "2h", "--temperature", "930C", "--length", "2mm",
                    "--sections", "80", "--c0", "0.2%", "--cs", "0.9%", *flags)["uptake_g_per_m2"]
    assert float(p.header["uptake_g_per_m2"]) == float(uptake)


# The same mistake gets the command line's words, the keyword named where the
# command line names its flag.
MISTAKES = [
    (lambda s: diffusim.profile(s, time="9h"), ["profile", "--time", "9h"]),
    (lambda s: diffusim.profiles(s, every="1h", until="9h"),
     ["profiles", "--every", "1h", "--until", "9h"]),
    (lambda s: diffusim.depth(s, "0.35%", time=["1h", "9h"]),
     ["depth", "--composition", "0.35%", "--time", "1h,9h"]),
    (lambda s: diffusim.depth(s, 5), ["depth", "--composition", "5"]),
    (lambda s: diffusim.history(s, "9mm"), ["history", "--depth", "9mm"]),
    (lambda s: diffusim.time_to(s, "9mm", "0.35%"),
     ["time", "--depth", "9mm", "--composition", "0.35%"]),
    (lambda s: diffusim.design(s, [1], surface="5%"), ["design", "--vary", "1", "--surface", "5%"]),
    (lambda s: diffusim.design(s, [3], depth="3mm", at="0.35%", max_duration="2h"),
     ["design", "--vary", "3", "--depth", "3mm", "--at", "0.35%", "--max-duration", "2h"]),
]


@pytest.mark.parametrize("call, args", MISTAKES)
def test_a_mistake_says_what_the_command_line_says(files, call, args):
    path = files / "cycle.toml"
    cli = subprocess.run([PROGRAM, *args, "--schedule", str(path)], capture_output=True,
                         text=True)
    assert cli.returncode in (1, 2), cli.stdout
    words = cli.stderr.splitlines()[0].removeprefix(f"diffusim {args[0]}: ")
    words = words.removesuffix("; nothing written").replace("--max-duration", "max_duration")
    for flag in ("--time", "--until", "--composition", "--depth", "--surface"):
        words = words.replace(flag + ":", flag[2:] + ":")
    with pytest.raises(diffusim.ScheduleError) as raised:
        call(diffusim.load_schedule(path))
    assert str(raised.value) == words


# The furnace's atmosphere: the potential command's bits, and an atmosphere
# schedule whose keys move as the command line's do.
@pytest.mark.parametrize("reading, flags", [
    ({"probe_mV": 1150}, ["--probe-mV", "1150"]),
    ({"co2": "0.25%"}, ["--co2", "0.25%"]),
    ({"dew_point": "-5C", "h2": "40%"}, ["--dew-point", "-5C", "--h2", "40%"]),
    ({"potential": "0.9%"}, ["--potential", "0.9%"]),
])
def test_potential_is_the_command_lines_bits(reading, flags):
    got = diffusim.potential(["900C", "930C", "960C"], "20%", **reading)
    want = command("potential", "--temperature", "900C,930C,960C", "--co", "20%", *flags)
    assert list(got.columns) == list(want)
    for name in want:
        assert np.array_equal(got[name].to_numpy(), want[name])
    with pytest.raises(diffusim.ScheduleError, match="from 0 to 1400 mV"):
        diffusim.potential("930C", "20%", probe_mV=1500)


def test_an_atmosphere_schedule_moves_as_the_command_line(tmp_path):
    text = CYCLE.replace('surface = { potential = 0.008, beta = 1.5e-7 }',
                         'surface = { atmosphere = { CO = "20%", probe_mV = 1150 }, beta = 1.5e-7 }')
    assert text != CYCLE
    (tmp_path / "probe.toml").write_text(text)
    s = diffusim.load_schedule(str(tmp_path / "probe.toml"))
    moved = s.with_values({"stage2.atmosphere.probe_mV": 1170})
    want = command("depth", "--schedule", tmp_path / "probe.toml", "--composition", "0.35%",
                   "--set", "stage2.atmosphere.probe_mV=1170")
    assert np.array_equal(np.array([diffusim.depth(moved, "0.35%")]), want["depth_m"])
    with pytest.raises(diffusim.ScheduleError, match="has no CO2"):
        s.with_values({"stage2.atmosphere.CO2": "1%"})


CARBONITRIDING = subprocess.run([PROGRAM, "schedule", "--example", "carbonitriding"],
                                capture_output=True, text=True,
                                check=True).stdout.replace("sections = 300", "sections = 90")


# Carbon and nitrogen: a result per species, each the command line's column;
# the species asked by name; without nitrogen no c_N and no species N.
@pytest.mark.parametrize("scheme", ["explicit", "implicit"])
def test_each_species_is_the_command_lines_column(files, scheme):
    path = files / "carbonitriding.toml"
    path.write_text(CARBONITRIDING)
    s = diffusim.load_schedule(path)
    p = diffusim.profile(s, scheme=scheme)
    cli = command("profile", "--schedule", path, "--scheme", scheme)
    assert np.array_equal(p.c, cli["c_C"]) and np.array_equal(p.c_N, cli["c_N"])
    assert p.header["uptake_N_g_per_m2"] > 0 and "uptake_g_per_m2" not in p.header
    h = diffusim.history(s, depth=1e-4, every=1800.0, scheme=scheme)
    cli = command("history", "--schedule", path, "--depth", "0.1mm", "--every", "30min",
                  "--scheme", scheme)
    assert np.array_equal(h.c, cli["c_C"]) and np.array_equal(h.c_N, cli["c_N"])
    d = diffusim.depth(s, "0.1%", every="1h", scheme=scheme, species="N")
    cli = command("depth", "--schedule", path, "--composition", "0.1%", "--every", "1h",
                  "--scheme", scheme, "--species", "N")
    assert np.array_equal(d.depth, cli["depth_m"])
    assert diffusim.profile(files / "cycle.toml").c_N is None
    with pytest.raises(diffusim.ScheduleError, match="the schedule has no nitrogen"):
        diffusim.depth(files / "cycle.toml", "0.35%", species="N")
    with pytest.raises(diffusim.ScheduleError, match="is not C or N"):
        diffusim.depth(s, "0.1%", species="nitrogen")
