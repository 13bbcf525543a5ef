#!/usr/bin/python3
"""Tests of tools/diffusim-plot on files written by a real diffusim run, and
on the CSV and JSON of diffusim's commands, written here as they are laid out.

The command is run in this process (the launcher only hands its arguments to
diffusim_plot.cli.main and exits with what it returns): starting a Python
with matplotlib for each of some fifty plots cost more than everything else
here. LauncherTests runs the launcher itself, and checks that it says and
returns the same as the command run here.

    /usr/bin/python3 tests/plot/test_diffusim_plot.py --diffusim build/release/diffusim

DIFFUSIM in the environment names the executable too; without either the
release build in the source tree is used.
"""

import functools
import io
import json
import math
import os
import subprocess
import sys
import tempfile
import time
import traceback
import types
import unittest
import warnings
from contextlib import redirect_stderr, redirect_stdout
import xml.etree.ElementTree as ET

import matplotlib

matplotlib.use("Agg")
import matplotlib.image  # noqa: E402
import numpy as np  # noqa: E402
from matplotlib.figure import Figure  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
TOOL = os.path.join(ROOT, "tools", "diffusim-plot")
DIFFUSIM = None     # set by main()


def load_tool():
    """The tool as a module (it has no .py name to import it by)."""
    module = types.ModuleType("diffusim_plot")
    module.__file__ = TOOL
    with open(TOOL, encoding="utf-8") as f:
        exec(compile(f.read(), TOOL, "exec"), module.__dict__)
    return module


dp = load_tool()

# diffusim's defaults, and the grid it derives from them, in its own order of
# operations (Python floats are the same IEEE doubles).
A, B, R, T = 4.529e-07, -147723.0, 8.3144, 1173.0
C0, CS = 0.01, 0.05
D = math.exp((B / R) / T) * A
DX0 = 0.0005 / 100
DT0 = ((0.25 * DX0) * DX0) / D


def remainder_rule(target, current):
    if target > current:
        multiple = int(target / current) * current
        return target - multiple if multiple != target else current
    return target


def reported_point(x):
    """The grid point a history at x reports: the first i dx >= x."""
    dx = remainder_rule(x, DX0)
    return next(i * dx for i in range(1, 100000) if i * dx >= x)


class Runs:
    """Result files from one diffusim session each, made once for all tests."""

    sessions = {
        "profile": ("3\n3600\n0\n", "Result_dt.txt"),
        "profiles": ("4\n50\n0\n", "Result.txt"),
        "single": ("4\n1\n0\n", "Result.txt"),
        "history": ("2\n0.00002\n300\n0\n", "Result_dx.txt"),
        "offgrid": ("2\n0.0000125\n120\n0\n", "Result_dx.txt"),
        "first": ("2\n0.000005\n40\n0\n", "Result_dx.txt"),
        "beyond": ("2\n0.01\n3\n0\n", "Result_dx.txt"),
        "large": ("4\n10000\n0\n", "Result.txt"),
    }

    def __init__(self, base):
        self.base = base
        self.paths = {}
        for key, (answers, name) in self.sessions.items():
            work = os.path.join(base, key)
            os.mkdir(work)
            subprocess.run([DIFFUSIM], input=answers.encode(), cwd=work, check=True,
                           stdout=subprocess.DEVNULL, timeout=60)
            self.paths[key] = os.path.join(work, name)


RUNS = None
TMP = None


def setUpModule():
    global RUNS, TMP
    TMP = tempfile.TemporaryDirectory(prefix="diffusim-plot-test-")
    RUNS = Runs(TMP.name)


def tearDownModule():
    TMP.cleanup()


def launch_tool(*args, env_drop=()):
    """The launcher run as a program: its status, standard output and error."""
    env = dict(os.environ)
    env["MPLCONFIGDIR"] = os.path.join(TMP.name, "mplconfig")
    for key in env_drop:
        env.pop(key, None)
    return subprocess.run([TOOL, *args], capture_output=True, text=True, env=env, timeout=60)


def python_warning_filters():
    """The warnings a fresh interpreter shows: all, once a place, but these."""
    warnings.resetwarnings()
    warnings.simplefilter("default")
    for category in (DeprecationWarning, PendingDeprecationWarning, ImportWarning,
                     ResourceWarning):
        warnings.filterwarnings("ignore", category=category)


def run_tool(*args, env_drop=()):
    """The command run here as the launcher runs it, with what a process would
    have ended with: the status main returns or exits with, what it wrote, and
    an exception that escapes it as a traceback on standard error, status 1."""
    hidden = {key: os.environ.pop(key) for key in env_drop if key in os.environ}
    out, err = io.StringIO(), io.StringIO()
    try:
        with redirect_stdout(out), redirect_stderr(err), \
                warnings.catch_warnings(record=True) as caught:
            python_warning_filters()
            try:
                status = dp.main(list(args))
            except SystemExit as e:
                if e.code is None or isinstance(e.code, int):
                    status = e.code or 0
                else:
                    print(e.code, file=sys.stderr)
                    status = 1
            except Exception:
                traceback.print_exc()
                status = 1
    finally:
        os.environ.update(hidden)
    for w in caught:
        err.write(warnings.formatwarning(w.message, w.category, w.filename, w.lineno, w.line))
    return subprocess.CompletedProcess([TOOL, *args], status, out.getvalue(), err.getvalue())


class ParsingTests(unittest.TestCase):
    def test_profile_file(self):
        p = dp.load(RUNS.paths["profile"])
        dx = math.sqrt((4.0 * D) * remainder_rule(3600.0, DT0))
        self.assertEqual(p.kind, dp.PROFILE)
        self.assertEqual(len(p.comp), int(0.0005 / dx) + 1)     # 105 rows
        self.assertEqual((p.temperature, p.time), (1173.0, 3610.961123))
        self.assertEqual((p.comp[0], p.comp[-1]), (CS, C0))
        self.assertAlmostEqual(dx, 4.768292e-06, delta=5e-13)
        # Six decimals of a metre leave dx about 1e-5 uncertain over 105
        # rows; the fit gets within that where a single row (the last one:
        # 2e-4 off, the first: 5 % off) does not.
        self.assertLess(abs(p.dx - dx) / dx, 3e-5)
        self.assertTrue(np.allclose(np.diff(p.depth), p.dx, rtol=1e-12, atol=0))

    def test_profiles_file_and_thinning(self):
        every = dp.load(RUNS.paths["profiles"], max_curves=100)
        self.assertEqual(every.kind, dp.PROFILES)
        self.assertEqual((every.block_count, every.comps.shape), (50, (50, 101)))
        self.assertLess(abs(every.dx - DX0) / DX0, 1e-9)
        self.assertTrue(np.allclose(every.times, np.arange(1, 51) * DT0, rtol=0, atol=6e-7))
        self.assertTrue(np.array_equal(every.first_block, every.comps[0]))
        self.assertEqual((every.comps[:, 0] == CS).all(), True)

        for k in (2, 5, 12):
            thin = dp.load(RUNS.paths["profiles"], max_curves=k)
            self.assertEqual(len(thin.times), k)
            self.assertEqual((thin.times[0], thin.times[-1]), (every.times[0], every.times[-1]))
            picked = [int(np.flatnonzero(every.times == t)[0]) for t in thin.times]
            self.assertTrue(np.array_equal(thin.comps, every.comps[picked]))

        for n, k in ((50, 12), (10000, 12), (13, 12), (7, 12), (1, 12), (100, 2)):
            idx = dp.thin_indices(n, k)
            self.assertEqual(len(idx), min(n, k), (n, k))
            self.assertEqual((idx[0], idx[-1]), (0, n - 1))
            self.assertEqual(idx, sorted(set(idx)))
            if n > k:     # evenly spread: no gap much wider than the mean
                self.assertLessEqual(max(np.diff(idx)), math.ceil((n - 1) / (k - 1)) + 1)

    def test_history_files(self):
        h = dp.load(RUNS.paths["history"])
        self.assertEqual(h.kind, dp.HISTORY)
        self.assertEqual((len(h.comp), h.distance, h.temperature), (300, 0.00002, 1173.0))
        self.assertLess(abs(h.dt - DT0) / DT0, 1e-9)
        self.assertEqual((h.comp[0], h.times[0]), (C0, 52.242461))
        self.assertTrue(np.all(np.diff(h.comp) >= 0))

        off = dp.load(RUNS.paths["offgrid"])
        self.assertEqual((len(off.comp), off.distance), (120, 0.000013))   # printed rounded

    def test_kind_from_content_with_either_line_end(self):
        d = os.path.join(TMP.name, "renamed")
        os.makedirs(d, exist_ok=True)
        for key in ("profile", "profiles", "history"):
            with open(RUNS.paths[key], "rb") as f:
                data = f.read()
            self.assertIn(b"\r\n", data)
            path = os.path.join(d, key + ".dat")
            with open(path, "wb") as f:
                f.write(data.replace(b"\r\n", b"\n"))
            crlf, lf = dp.load(RUNS.paths[key]), dp.load(path)
            self.assertEqual((lf.kind, lf.temperature), (crlf.kind, crlf.temperature))
            self.assertTrue(np.array_equal(lf.times if key != "profile" else lf.comp,
                                           crlf.times if key != "profile" else crlf.comp))

    def test_files_cut_short(self):
        # A full disk ends a run early: the last row or block is partial.
        d = os.path.join(TMP.name, "cut")
        os.makedirs(d, exist_ok=True)
        for key, keep, count in (("history", -9, 299), ("profiles", -200, 49)):
            with open(RUNS.paths[key], "rb") as f:
                data = f.read()
            path = os.path.join(d, os.path.basename(RUNS.paths[key]))
            with open(path, "wb") as f:
                f.write(data[:keep])
            with redirect_stderr(io.StringIO()) as err:
                r = dp.load(path, max_curves=100)
            self.assertIn("incomplete", err.getvalue())
            self.assertEqual(len(r.times), count, key)

    def test_large_file_is_read_quickly(self):
        start = time.perf_counter()
        big = dp.load(RUNS.paths["large"])
        elapsed = time.perf_counter() - start
        self.assertEqual((big.block_count, big.comps.shape), (10000, (12, 101)))
        self.assertAlmostEqual(big.times[-1], 10000 * DT0, delta=1e-5)
        self.assertLess(elapsed, 3.0, "10,000 steps x 101 rows should take well under a second")


class OverlayTests(unittest.TestCase):
    def test_erfc_follows_the_simulation(self):
        self.assertEqual(dp.diffusivity(A, B, T), D)
        p = dp.load(RUNS.paths["profile"])
        model = dp.erfc_solution(p.depth, p.time, D, C0, CS)
        self.assertLess(np.max(np.abs(model - p.comp)), 3e-4)
        wrong = dp.erfc_solution(p.depth, p.time, 1.1 * D, C0, CS)
        self.assertGreater(np.max(np.abs(wrong - p.comp)), 6e-4)
        self.assertEqual(dp.erfc_solution(0.0, 0.0, D, C0, CS), CS)
        self.assertEqual(dp.erfc_solution(1e-6, 0.0, D, C0, CS), C0)

    def test_far_face_share(self):
        self.assertLess(dp.far_face_share(0.0005, 3600.0, D), 0.01)
        self.assertGreater(dp.far_face_share(0.0005, 3600.0, 1e-10), 0.01)

    def test_history_depth_is_the_reported_grid_point(self):
        # The first interior point moves in step 1 already, so its C0 is
        # worked back from that step.
        for key, asked in (("history", 0.00002), ("offgrid", 0.0000125), ("first", 0.000005)):
            h = dp.load(RUNS.paths[key])
            x, c0 = dp.history_grid_point(h, D, None, CS)
            self.assertAlmostEqual(x, reported_point(asked), delta=1e-12, msg=key)
            self.assertAlmostEqual(c0, C0, delta=1e-12)
        self.assertAlmostEqual(reported_point(0.0000125), 15e-6, delta=1e-12)


class DrawingTests(unittest.TestCase):
    def draw(self, key, overlay=None, **kw):
        fig = Figure()
        ax = dp.draw(dp.load(RUNS.paths[key], kw.pop("max_curves", 12)), fig, overlay, **kw)
        return fig, ax

    def dashed(self, ax):
        return [ln for ln in ax.get_lines() if ln.get_linestyle() == "--"]

    def test_profile(self):
        p = dp.load(RUNS.paths["profile"])
        fig, ax = self.draw("profile", dp.Overlay(D, None, None))
        self.assertIn("T = 1173 K", ax.get_title())
        self.assertIn("t = 3610.96 s", ax.get_title())
        self.assertEqual(ax.get_xlabel(), "depth from the surface x (µm)")
        self.assertEqual(ax.child_axes, [], "a plate has no radius axis")
        data = ax.get_lines()[0]
        self.assertTrue(np.allclose(data.get_xdata(), np.arange(105) * p.dx * 1e6, atol=1e-9))
        self.assertEqual(len(self.dashed(ax)), 1)
        left, right = ax.get_xlim()
        self.assertTrue(0 == left and 80 < right < 200, "the flat part is cut off")
        _, ax = self.draw("profile", full_depth=True, title="Mine")
        self.assertAlmostEqual(ax.get_xlim()[1], 104 * p.dx * 1e6, places=6)
        self.assertEqual((ax.get_title(), len(self.dashed(ax))), ("Mine", 0))

    def test_profiles(self):
        fig, ax = self.draw("profiles", dp.Overlay(D, None, None), max_curves=5)
        self.assertEqual(len(ax.get_lines()), 10)
        self.assertEqual(len(self.dashed(ax)), 5)
        self.assertEqual(fig.axes[1].get_ylabel(), "time (s)")
        self.assertIn("5 of 50 steps", ax.get_title())
        fig, ax = self.draw("single")
        self.assertEqual((len(ax.get_lines()), len(fig.axes)), (1, 1))   # no colour bar
        self.assertIn("(1 step)", ax.get_title())

    def test_history_in_hours(self):
        h = dp.load(RUNS.paths["history"])
        _, ax = self.draw("history", dp.Overlay(D, None, CS))
        self.assertEqual(ax.get_xlabel(), "time (h)")     # 15,673 s
        self.assertAlmostEqual(ax.get_lines()[0].get_xdata()[-1], h.times[-1] / 3600)
        self.assertIn("x = 20 µm", ax.get_title())
        self.assertEqual(len(self.dashed(ax)), 1)
        _, ax = self.draw("offgrid", dp.Overlay(D, None, CS))
        self.assertEqual(ax.get_xlabel(), "time (s)")
        self.assertIn("grid point x = 15 µm", ax.get_legend().get_texts()[1].get_text())


class CommandLineTests(unittest.TestCase):
    def assert_one_line_error(self, proc, status, *words):
        self.assertEqual(proc.returncode, status, proc.stderr)
        self.assertEqual(len(proc.stderr.strip().splitlines()), 1, proc.stderr)
        self.assertNotIn("Traceback", proc.stderr)
        for w in words:
            self.assertIn(w, proc.stderr)

    def assert_image(self, path, fmt):
        with open(path, "rb") as f:
            head = f.read(8)
        if fmt == "png":
            self.assertEqual(head, b"\x89PNG\r\n\x1a\n")
            self.assertGreater(os.path.getsize(path), 10000)
            pixels = matplotlib.image.imread(path)[..., :3]
            self.assertGreater(np.mean(pixels.min(axis=2) < 0.9), 0.01, "almost blank")
            # The colours counted as one number each (Agg writes 8 bits a
            # channel): a plain sort, where unique rows of three sort slowly.
            rgb = np.round(pixels.reshape(-1, 3) * 255).astype(np.uint32)
            self.assertGreater(len(np.unique((rgb[:, 0] << 16) | (rgb[:, 1] << 8) | rgb[:, 2])),
                               50)
        else:
            root = ET.parse(path).getroot()
            self.assertEqual(root.tag, "{http://www.w3.org/2000/svg}svg")
            self.assertGreater(sum(1 for e in root.iter() if e.tag.endswith("path")), 20)

    def test_every_kind_renders(self):
        overlay = ["--A", "4.529e-07", "--B", "-147723"]
        for key in ("profile", "profiles", "history"):
            for fmt, extra in (("png", []), ("svg", overlay + ["--Cs", "0.05"])):
                out = os.path.join(TMP.name, f"{key}-{len(extra)}.{fmt}")
                proc = run_tool(RUNS.paths[key], "-o", out, *extra)
                self.assertEqual((proc.returncode, proc.stderr), (0, ""), (key, fmt, extra))
                self.assert_image(out, fmt)
        # Result_dx.txt has no Cs of its own: said once, then drawn anyway.
        out = os.path.join(TMP.name, "history-cs.png")
        proc = run_tool(RUNS.paths["history"], "-o", out, *overlay)
        self.assertEqual(proc.returncode, 0)
        self.assertIn("Cs = 0.05", proc.stderr)
        # A profile that reaches the far face: the overlay is marked approximate.
        proc = run_tool(RUNS.paths["profile"], "-o", out, "--D", "1e-10")
        self.assertEqual(proc.returncode, 0)
        self.assertIn("only approximate", proc.stderr)

    def test_bad_input_files(self):
        d = os.path.join(TMP.name, "bad")
        os.makedirs(d, exist_ok=True)
        files = {
            "empty.txt": b"",
            "text.txt": b"hello world\nthis is not a result file\n",
            "binary.bin": bytes(range(256)) * 8,
            "header-only.txt": b"T = 1173.000000(K) \r\nat t = 1.0(s)\r\n",
            "bad-row.txt": b"T = 1173.000000(K) \r\nat t = 1.0(s)\r\n\r\n\r\n"
                           b"cnt \tdistance(m) \tC(B) \t\r\n000 \t0.0 \tx \t\r\n001 \t1 \t2 \t\r\n",
            "skipped-row.txt": b"T = 1173.000000(K) \r\nat t = 1.0(s)\r\n\r\n\r\n"
                               b"cnt \tdistance(m) \tC(B) \t\r\n000 \t0.0 \t0.05 \t\r\n"
                               b"002 \t0.00001 \t0.01 \t\r\n",
            "short-row.txt": b"T = 1173.000000(K) \r\nat x = 0.000020(m)\r\n\r\n\r\n"
                             b"cnt \ttime(s) \tC(B) \t\r\n001 \t52.242461 \t\r\n",
        }
        for name, content in files.items():
            path = os.path.join(d, name)
            with open(path, "wb") as f:
                f.write(content)
            self.assert_one_line_error(run_tool(path, "-o", os.path.join(d, "x.png")), 1, name)
        for path in (d, os.path.join(d, "missing.txt"), RUNS.paths["beyond"]):
            self.assert_one_line_error(run_tool(path, "-o", os.path.join(d, "x.png")), 1, path)
        self.assertFalse(os.path.exists(os.path.join(d, "x.png")))

    def test_command_line_errors(self):
        src = RUNS.paths["profile"]
        out = os.path.join(TMP.name, "out")
        self.assert_one_line_error(run_tool(src, "-o", out + ".pdf"), 2, ".png or .svg")
        self.assert_one_line_error(run_tool(src, "-o", out + ".png", "--A", "1e-7"), 2, "--B")
        self.assert_one_line_error(run_tool(src, "-o", out + ".png", "--max-curves", "1"), 2)
        self.assert_one_line_error(run_tool(src, "--bogus"), 2)
        self.assert_one_line_error(run_tool(src, env_drop=("DISPLAY", "WAYLAND_DISPLAY")),
                                   2, "display")
        proc = run_tool(src, "-o", os.path.join(TMP.name, "no", "such", "dir.png"))
        self.assert_one_line_error(proc, 1, "dir.png")
        proc = run_tool("--help")
        self.assertEqual(proc.returncode, 0)
        for word in ("Result_dx.txt", "Result_dt.txt", "--max-curves", "erfc", "hours", "-o"):
            self.assertIn(word, proc.stdout)


class LauncherTests(unittest.TestCase):
    """tools/diffusim-plot started as a program, end to end."""

    def test_the_launcher_runs_the_command(self):
        d = os.path.join(TMP.name, "launcher")
        os.makedirs(d, exist_ok=True)
        requests = (
            ([RUNS.paths["profile"], "-o", "profile.png"], 0),
            ([RUNS.paths["profile"], "-o", "profile.svg", "--D", "1e-10"], 0),
            ([RUNS.paths["beyond"], "-o", "beyond.png"], 1),
            ([RUNS.paths["profile"], "--bogus"], 2),
            ([RUNS.paths["profile"]], 2),       # no display
            (["--version"], 0),
        )

        def outputs_named(who, args):      # each run writes an image of its own
            return [os.path.join(d, f"{who}-{a}") if a.endswith((".png", ".svg")) else a
                    for a in args]
        no_display = ("DISPLAY", "WAYLAND_DISPLAY")
        for args, status in requests:
            launched = launch_tool(*outputs_named("launched", args), env_drop=no_display)
            here = run_tool(*outputs_named("here", args), env_drop=no_display)
            self.assertEqual(launched.returncode, status, (args, launched.stderr))
            self.assertNotIn("Traceback", launched.stderr)
            self.assertEqual((here.returncode, here.stdout, here.stderr.replace("here-", "")),
                             (launched.returncode, launched.stdout,
                              launched.stderr.replace("launched-", "")), args)
            if status != 0:
                self.assertEqual(len(launched.stderr.strip().splitlines()), 1, launched.stderr)
        self.assertEqual(launched.stdout, "diffusim-plot 1.0.0\n")
        for fmt in ("png", "svg"):
            for who in ("launched", "here"):
                CommandLineTests.assert_image(self, os.path.join(d, f"{who}-profile.{fmt}"), fmt)
        self.assertFalse(os.path.exists(os.path.join(d, "launched-beyond.png")))


# ---------------------------------------------------------------------------
# The CSV and JSON written by diffusim's commands (profile, history, profiles)
# ---------------------------------------------------------------------------

REQUESTS = {"profile": {"time": 3600.0},
            "history": {"depth": 2e-05, "until": 3600.0, "every": 300.0},
            "profiles": {"until": 3600.0, "every": 120.0}}
X_CLI = np.arange(101) * 5e-06
T_HIST, T_PROFILES = 300.0 * np.arange(1, 13), 120.0 * np.arange(1, 31)


def cli_columns(command, c0=C0, cs=CS):
    """Columns from the erfc solution, standing in for the simulation."""
    t, x = {"profile": (3600.0, X_CLI), "history": (T_HIST, 2e-05),
            "profiles": (np.repeat(T_PROFILES, 101), np.tile(X_CLI, 30))}[command]
    cols = {"t_s": t, "x_m": x} if command == "profiles" else (
        {"x_m": x} if command == "profile" else {"t_s": t})
    cols["c"] = dp.erfc_solution(x, t, D, c0, cs)
    return {k: [float(v) for v in vs] for k, vs in cols.items()}


def shortest(v):
    """A number as diffusim prints it: the shortest form that reads back."""
    if isinstance(v, str):
        return v
    return str(int(v)) if float(v).is_integer() and abs(v) < 1e15 else repr(float(v))


def command_output(command, fmt, c0=C0, cs=CS, columns=None, length=0.0005):
    """The text diffusim writes for a command, in csv or json."""
    columns = columns or cli_columns(command, c0, cs)
    inputs = {"temperature": T, "length": length, "sections": 100, "A": A, "B": B,
              "c0": c0, "cs": cs, **REQUESTS[command]}
    grid = {"points": 101, "D": D, "dx": 5e-06, "dt": 52.17391304347826, "steps": 69,
            "r": 0.2497, "far_face": "mirror"}
    if fmt == "json":
        return json.dumps({"program": "diffusim", "version": "1.0.0", "command": command,
                           "inputs": inputs, "grid": grid, "columns": columns})
    lines = ["# diffusim 1.0.0", f"# command = {command}"]
    lines += [f"# {k} = {shortest(v)}" for k, v in {**inputs, **grid}.items()]
    lines.append(",".join(columns))
    lines += [",".join(shortest(v) for v in row) for row in zip(*columns.values())]
    return "\n".join(lines) + "\n"


def write_file(name, text):
    path = os.path.join(TMP.name, "cli", name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-8", newline="") as f:
        f.write(text)
    return path


class CommandOutputTests(unittest.TestCase):
    def test_each_kind_is_read_and_drawn_as_written(self):
        for command in REQUESTS:
            cols = cli_columns(command)
            for fmt in ("csv", "json"):
                path = write_file(f"{command}.{fmt}", command_output(command, fmt))
                result = dp.load(path)
                self.assertEqual((result.kind, result.temperature, result.c0, result.cs),
                                 (command, T, C0, CS), path)
                ax = dp.draw(result, Figure())
                lines = ax.get_lines()
                if command == "history":
                    self.assertEqual(list(lines[0].get_xdata()), cols["t_s"])
                    self.assertIn("x = 20 µm", ax.get_title())
                    expected = [cols["c"]]
                else:   # the profiles are thinned from 30 to 12
                    picks = [0] if command == "profile" else dp.thin_indices(30, 12)
                    for line in lines:
                        self.assertTrue(np.allclose(line.get_xdata(), X_CLI * 1e6, rtol=1e-12))
                    expected = [cols["c"][101 * k:101 * (k + 1)] for k in picks]
                self.assertEqual([list(line.get_ydata()) for line in lines], expected, path)
                out = os.path.join(TMP.name, "cli", f"{command}-{fmt}.png")
                proc = run_tool(path, "-o", out)
                self.assertEqual((proc.returncode, proc.stderr), (0, ""), path)
                CommandLineTests.assert_image(self, out, "png")
        self.assertIn("12 of 30 profiles shown", ax.get_title())

    def test_overlay_takes_the_compositions_of_the_header(self):
        # Compositions unlike the program's defaults, on a specimen short
        # enough that its deepest row is no longer C0.
        c0, cs = 0.02, 0.08
        for command in ("profile", "history"):
            path = write_file(f"own-{command}.csv",
                              command_output(command, "csv", c0, cs, length=0.0001))
            with redirect_stderr(io.StringIO()) as err:
                ax = dp.draw(dp.load(path), Figure(), dp.Overlay(D, None, None), name=path)
            self.assertNotIn("Cs = 0.05", err.getvalue())
            (dashed,) = [ln for ln in ax.get_lines() if ln.get_linestyle() == "--"]
            if command == "profile":
                expected = dp.erfc_solution(dashed.get_xdata() * 1e-6, 3600.0, D, c0, cs)
            else:
                expected = dp.erfc_solution(2e-05, dashed.get_xdata(), D, c0, cs)
            self.assertTrue(np.allclose(dashed.get_ydata(), expected, rtol=0, atol=1e-12),
                            command)

    def test_flat_curves_have_plain_tick_labels(self):
        from matplotlib.backends.backend_agg import FigureCanvasAgg
        for command in REQUESTS:
            cols = cli_columns(command)
            cols["c"] = [0.0100001 + 2e-10 * k for k in range(len(cols["c"]))]
            path = write_file(f"flat-{command}.csv",
                              command_output(command, "csv", columns=cols))
            fig = Figure()
            FigureCanvasAgg(fig)
            ax = dp.draw(dp.load(path), fig)
            fig.canvas.draw()
            self.assertEqual(ax.yaxis.get_offset_text().get_text(), "", command)
            ticks = [(t.get_loc(), t.label1.get_text()) for t in ax.yaxis.get_major_ticks()
                     if ax.get_ylim()[0] <= t.get_loc() <= ax.get_ylim()[1]]
            self.assertGreater(len(ticks), 2)
            for loc, label in ticks:     # each label is the whole value
                self.assertAlmostEqual(float(label), loc, delta=1e-12, msg=(command, label))

    def test_damaged_files(self):
        good = command_output("profiles", "csv")
        lines = good.splitlines(keepends=True)
        cases = {
            "bad-number.csv": command_output("profile", "csv").replace("\n5e-06,", "\n5e-06,x"),
            "short-row.csv": command_output("history", "csv").replace(",0.0", ",\n0.0", 1),
            "no-header.csv": "# diffusim 1.0.0\n# command = profile\n",
            "odd-header.csv": "# diffusim 1.0.0\n# temperature = 1173\nx,c\n0,0.05\n",
            "wrong-command.csv": good.replace("command = profiles", "command = history"),
            "moved-depth.csv": good.replace("\n120,0.0005,", "\n120,0.00051,"),
            "no-time.csv": command_output("profile", "csv").replace("# time = 3600\n", ""),
            "broken.json": command_output("history", "json")[:-20],
            "foreign.json": '{"program": "other", "command": "profile"}',
            "text-values.json": command_output("profile", "json").replace("0.05,", '"a",'),
        }
        for name, text in cases.items():
            proc = run_tool(write_file(name, text), "-o", os.path.join(TMP.name, "x.png"))
            CommandLineTests.assert_one_line_error(self, proc, 1, name)
        # Cut short: the last profile, and the last row with no LF, are left out.
        path = write_file("cut.csv", "".join(lines[:-40]) + lines[-40][:-4])
        with redirect_stderr(io.StringIO()) as err:
            cut = dp.load(path, max_curves=100)
        self.assertIn("left out", err.getvalue())
        self.assertEqual((cut.block_count, cut.times[-1]), (29, 29 * 120.0))

    def test_version_and_short_help(self):
        proc = run_tool("--version")
        self.assertEqual((proc.returncode, proc.stdout), (0, "diffusim-plot 1.0.0\n"))
        proc = run_tool("-h")
        self.assertEqual(proc.returncode, 0)
        for word in ("--version", "x_m,c", "t_s,x_m,c", "JSON"):
            self.assertIn(word, proc.stdout)


# ---------------------------------------------------------------------------
# Process cycles: the schedule's stages, and the depth and time tables
# ---------------------------------------------------------------------------

# A cycle whose depth to C = 0.005 passes the far end of a 1 mm specimen
# (the whole of it above 0.005) at 8.5 h: the later rows are nan.
GAP_SCHEDULE = """\
[specimen]
length = "1mm"
sections = 100
initial = 0.002
[diffusivity]
A = 4.7e-5
B = -154808
[[stage]]
duration = "8h"
temperature = 1200
surface = { composition = 0.0115 }
[[stage]]
duration = "4h"
temperature = 1200
surface = { potential = 0.0, beta = 1e-5 }
"""
FLAT = ["--length", "4mm", "--sections", "400", "--c0", "0.2%", "--cs", "1.15%"]


def diffusim_output(directory, name, *args):
    """The file diffusim writes to its standard output, run with args."""
    path = os.path.join(directory, name)
    with open(path, "w") as out:
        subprocess.run([DIFFUSIM, *args], stdout=out, stderr=subprocess.DEVNULL,
                       check=True, timeout=60)
    return path


class ProcessCycleTests(unittest.TestCase):
    """Files of the example cycle: boost to 4 h, diffuse to 6 h, sealed to 6.5 h."""

    @classmethod
    def setUpClass(cls):
        cls.dir = os.path.join(TMP.name, "cycle")
        os.makedirs(cls.dir)
        cls.schedule = cls.make("schedule.toml", "schedule")
        with open(os.path.join(cls.dir, "gap.toml"), "w") as f:
            f.write(GAP_SCHEDULE)
        cyc = ["--schedule", cls.schedule]
        depth = cyc + ["--composition", "0.0035"]
        cls.files = {
            "depth": cls.make("depth.csv", "depth", *depth, "--every", "30min"),
            "depth.json": cls.make("depth.json", "depth", *depth, "--every", "30min",
                                  "--format", "json"),
            "history": cls.make("history.csv", "history", *cyc, "--depth", "0.5mm",
                               "--every", "30min"),
            "history5h": cls.make("history5h.csv", "history", *cyc, "--depth", "0.5mm",
                                 "--until", "5h", "--every", "30min"),
            "profiles": cls.make("profiles.csv", "profiles", *cyc, "--every", "1h"),
            "by_T": cls.make("by_T.csv", "depth", "--composition", "0.0035", "--time",
                            "1h,2h,3h", "--temperature", "1173,1273", *FLAT),
            "by_stage": cls.make("by_stage.csv", "depth", *depth, "--every", "1h",
                                "--stage-duration", "1=2h,4h", "--stage-duration", "2=1h,2h"),
            "gap": cls.make("gap.csv", "depth", "--schedule", os.path.join(cls.dir, "gap.toml"),
                           "--composition", "0.005", "--every", "30min"),
            "gap.json": cls.make("gap.json", "depth", "--schedule",
                                os.path.join(cls.dir, "gap.toml"), "--composition", "0.005",
                                "--every", "30min", "--format", "json"),
            "time_T": cls.make("time_T.csv", "time", "--depth", "0.5mm", "--composition",
                              "0.35%", "--temperature", "1173,1223,1273", *FLAT),
            "time": cls.make("time.csv", "time", "--depth", "0.5mm", "--composition",
                            "0.35%", *FLAT),
            "time_2": cls.make("time_2.csv", "time", *cyc, "--depth", "0.5mm",
                              "--composition", "0.35%", "--stage-duration", "1=1h,2h",
                              "--stage-duration", "2=1h,2h"),
        }

    @classmethod
    def make(cls, name, *args):
        return diffusim_output(cls.dir, name, *args)

    def table(self, key):
        """The file's columns as diffusim wrote them, read here without the tool."""
        with open(self.files[key]) as f:
            lines = [ln for ln in f.read().splitlines() if not ln.startswith("#")]
        header = lines[0].split(",")
        rows = np.array([[float(v) for v in ln.split(",")] for ln in lines[1:]])
        return {h: rows[:, k] for k, h in enumerate(header)}

    def draw(self, key, **kw):
        fig = Figure()
        return fig, dp.draw(dp.load(self.files[key], **kw), fig)

    def boundaries(self, ax):
        return {ln.get_gid(): ln.get_xdata()[0] for ln in ax.get_lines()
                if (ln.get_gid() or "").endswith(".end")}

    def test_kinds_and_stages_from_the_header(self):
        kinds = {"depth": dp.DEPTH, "depth.json": dp.DEPTH, "history": dp.HISTORY,
                 "profiles": dp.PROFILES, "time_T": dp.TIME}
        for key, kind in kinds.items():
            result = dp.load(self.files[key])
            self.assertEqual(result.kind, kind, key)
            if key == "time_T":  # one open-ended stage: it ends where the search did
                self.assertEqual([s.surface for s in result.stages], ["composition"], key)
                self.assertGreater(result.stages[0].end, 0.0, key)
                continue
            self.assertEqual([(s.end, s.surface) for s in result.stages],
                             [(14400.0, "composition"), (21600.0, "transfer"),
                              (23400.0, "sealed")], key)
        history = dp.load(self.files["history"])
        self.assertEqual((history.temperature, history.c0), (None, 0.002))   # 1200 K, 1123 K
        # A time table with no swept value, or two, has nothing to plot.
        for key in ("time", "time_2"):
            proc = run_tool(self.files[key], "-o", os.path.join(self.dir, "x.png"))
            CommandLineTests.assert_one_line_error(self, proc, 1, "nothing to plot")
        # The erfc overlay has no meaning for a cycle of several stages.
        proc = run_tool(self.files["history"], "-o", os.path.join(self.dir, "x.png"),
                        "--D", "1e-11")
        CommandLineTests.assert_one_line_error(self, proc, 2, "3 stages")

    def test_stage_boundaries_at_the_stage_ends(self):
        for key in ("history", "depth"):
            _, ax = self.draw(key)
            self.assertEqual(ax.get_xlabel(), "time (h)")
            self.assertEqual(self.boundaries(ax), {"stage1.end": 4.0, "stage2.end": 6.0}, key)
            labels = [t.get_text().strip() for t in ax.texts]
            self.assertEqual(labels, ["stage 1: composition", "stage 2: transfer",
                                      "stage 3: sealed"], key)
        _, ax = self.draw("history5h")      # stops in stage 2: its end is not drawn
        self.assertEqual(self.boundaries(ax), {"stage1.end": 4.0})
        # Profiles: each curve in the line style of its stage.
        fig, ax = self.draw("profiles", max_curves=100)
        styles = [ln.get_linestyle() for ln in ax.get_lines()]
        self.assertEqual(styles, ["-"] * 4 + ["--"] * 2 + ["-."], styles)   # 1 h .. 6 h, 6.5 h
        self.assertEqual([t.get_text() for t in ax.get_legend().get_texts()],
                         ["stage 1: composition", "stage 2: transfer", "stage 3: sealed"])
        bar_marks = sorted({ln.get_ydata()[0] for ln in fig.axes[1].get_lines()})
        self.assertEqual(bar_marks, [4.0, 6.0])

    def test_depth_curves_are_the_files_data(self):
        cols = self.table("depth")
        for key in ("depth", "depth.json"):
            _, ax = self.draw(key)
            (line,) = [ln for ln in ax.get_lines() if ln.get_gid() is None]
            self.assertEqual(list(line.get_xdata()), list(cols["t_s"] / 3600))
            self.assertEqual(list(line.get_ydata()), list(cols["depth_m"] * 1e3))
            self.assertEqual(ax.get_ylabel(), "case depth (mm)")
            self.assertIsNone(ax.get_legend())
        out = os.path.join(self.dir, "depth.png")
        proc = run_tool(self.files["depth"], "-o", out)
        self.assertEqual((proc.returncode, proc.stderr), (0, ""))
        CommandLineTests.assert_image(self, out, "png")

    def test_a_curve_per_combination_of_swept_values(self):
        cols = self.table("by_T")
        _, ax = self.draw("by_T")
        self.assertEqual([t.get_text() for t in ax.get_legend().get_texts()],
                         ["T = 1173 K", "T = 1273 K"])
        self.assertEqual(ax.get_ylabel(), "case depth (µm)")
        for line, temperature in zip(ax.get_lines(), (1173, 1273)):
            rows = cols["temperature_K"] == temperature
            self.assertEqual(list(line.get_xdata()), list(cols["t_s"][rows] / 3600))
            self.assertEqual(list(line.get_ydata()), list(cols["depth_m"][rows] * 1e6))
        # Swept stage durations move the stage ends: a diamond on each curve
        # at its own ends that lie before its last time, no shared lines.
        _, ax = self.draw("by_stage")
        curves = [ln for ln in ax.get_lines() if ln.get_gid() is None]
        marks = [ln for ln in ax.get_lines() if ln.get_gid() == "stage-ends"]
        self.assertEqual(len(curves), 4)
        self.assertEqual(self.boundaries(ax), {})
        self.assertEqual([list(m.get_xdata()) for m in marks],
                         [[2.0, 3.0], [2.0, 4.0], [4.0, 5.0], [4.0, 6.0]])
        self.assertEqual(ax.get_legend().get_texts()[1].get_text(),
                         "stage 1: 2 h, stage 2: 2 h")

    def test_depths_that_do_not_exist_are_gaps(self):
        cols = self.table("gap")
        missing = np.isnan(cols["depth_m"])
        self.assertTrue(missing.any() and not missing.all(), "the run no longer has a gap")
        for key in ("gap", "gap.json"):
            _, ax = self.draw(key)
            y = ax.get_lines()[0].get_ydata()
            self.assertEqual(list(np.isnan(y)), list(missing), key)
            self.assertEqual(list(y[~missing]), list(cols["depth_m"][~missing] * 1e6), key)
            self.assertEqual(ax.get_xlim()[1], 12.0)    # the axis runs on past the gap

    def test_time_against_the_swept_value(self):
        cols = self.table("time_T")
        _, ax = self.draw("time_T")
        (line,) = ax.get_lines()
        self.assertEqual(list(line.get_xdata()), [1173.0, 1223.0, 1273.0])
        self.assertEqual(list(line.get_ydata()), list(cols["t_s"] / 3600))
        self.assertEqual((ax.get_xlabel(), ax.get_ylabel()), ("temperature T (K)", "time t (h)"))


# ---------------------------------------------------------------------------
# A low-pressure cycle: twelve flux pulses (26 stages), a hardness table with
# an HV column and depth --hardness, the uptake in the profiles' header
# ---------------------------------------------------------------------------

# Stage surfaces in a row, and the repeated runs found in them: (first stage
# index, stages in the pattern, repeats).
RUNS_OF_STAGES = (
    (["composition", "flux", "sealed", "flux", "sealed", "flux", "sealed", "sealed"],
     [(1, 2, 3)]),
    (["sealed", "flux", "sealed", "flux", "sealed", "flux", "sealed", "sealed"],
     [(0, 2, 3), (6, 1, 2)]),     # the first run found from the left wins
    (["composition", "transfer", "sealed"], []),
    (["sealed", "sealed", "sealed", "flux"], [(0, 1, 3)]),
    (["flux", "sealed", "flux", "transfer", "flux", "transfer"], [(2, 2, 2)]),
    (["a", "b", "c", "a", "b", "c", "a", "b"], [(0, 3, 2)]),
)


class LowPressureCycleTests(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = os.path.join(TMP.name, "low-pressure")
        os.makedirs(cls.dir)
        make = functools.partial(diffusim_output, cls.dir)
        lpc = ["--schedule", make("lpc.toml", "schedule", "--example", "low-pressure")]
        hardness = lpc + ["--hardness", "550", "--every", "2min"]
        cls.files = {
            "depth": make("depth.csv", "depth", *hardness),
            "depth.json": make("depth.json", "depth", *hardness, "--format", "json"),
            "depth-c": make("depth-c.csv", "depth", *lpc, "--composition", "0.35%",
                            "--every", "2min"),
            "profile": make("profile.csv", "profile", *lpc),
            "profile.json": make("profile.json", "profile", *lpc, "--format", "json"),
            "profiles": make("profiles.csv", "profiles", *lpc, "--every", "1h"),
            "surface": make("surface.csv", "history", *lpc, "--depth", "0", "--every", "30s"),
            "plain": make("plain.csv", "profile", "--time", "1h"),
        }

    def header(self, key):
        with open(self.files[key]) as f:
            return dict(line[2:].strip().split(" = ", 1) for line in f
                        if line.startswith("# ") and " = " in line)

    def draw(self, key, size=(8, 5)):
        from matplotlib.backends.backend_agg import FigureCanvasAgg
        fig = Figure(figsize=size, dpi=100)
        FigureCanvasAgg(fig)
        ax = dp.draw(dp.load(self.files[key]), fig)
        fig.canvas.draw()
        return fig, ax

    def test_titles_and_flux_stages(self):
        for key, title in (
                ("depth", "Effective case depth to 550 HV (C = 0.3 wt %), 26-stage cycle"),
                ("depth.json", "Effective case depth to 550 HV (C = 0.3 wt %), 26-stage cycle"),
                ("depth-c", "Case depth to C = 0.35 wt %, 26-stage cycle")):
            self.assertEqual(self.draw(key)[1].get_title(), title, key)
        stages = dp.load(self.files["profile"]).stages
        self.assertEqual([(st.surface, st.limit) for st in stages[:3]],
                         [("sealed", None), ("flux", 0.0125), ("sealed", None)])
        self.assertEqual(stages[1].label(), "stage 2: flux → 1.25 %")
        for surfaces, runs in RUNS_OF_STAGES:
            cycle = [dp.Stage(k + 1, k + 1.0, 1.0, 1200.0, s) for k, s in enumerate(surfaces)]
            self.assertEqual(dp.repeated_runs(cycle), runs, surfaces)
        self.assertEqual(dp.run_label(stages, 1, 2, 12),
                         "stages 2–25: 12 pulses: flux → 1.25 % / sealed")

    def test_hardness_on_a_second_axis_only_with_the_column(self):
        def hardness_axes(fig):
            return [a for a in fig.axes if a.get_ylabel() == "hardness (HV)"]
        for key in ("profile", "profile.json", "profiles"):
            fig, ax = self.draw(key)
            (right,) = hardness_axes(fig)
            (line,) = right.get_lines()
            hv = ProcessCycleTests.table(self, key.replace(".json", ""))["HV"]
            # A profiles file: the last profile's alone, named so in the legend.
            self.assertEqual(list(line.get_ydata()), list(hv[-len(line.get_ydata()):]), key)
            self.assertEqual(line.get_color(), ax.get_lines()[-1].get_color(), key)
            self.assertEqual(line.get_linestyle(), "--", key)
            named = [t.get_text() for t in ax.get_legend().get_texts()]
            self.assertIn("hardness at t = 4.1 h (right axis)" if key == "profiles"
                          else "hardness (right axis)", named, key)
            uptake = float(self.header(key.replace(".json", ""))["uptake_g_per_m2"])
            self.assertIn(f", uptake {uptake:.3g} g/m²", ax.get_title(), key)
        for key in ("surface", "plain"):
            fig, ax = self.draw(key)
            self.assertEqual(hardness_axes(fig), [], key)
        self.assertIn("uptake", ax.get_title())       # a plain run takes up carbon too
        self.assertNotIn("uptake", DrawingTests.draw(self, "profile")[1].get_title())

    def test_stage_labels_never_overlap(self):
        def shown(ax):      # from left to right
            return sorted((t for t in ax.texts if t.get_visible()),
                          key=lambda t: t.get_position()[0])

        def assert_apart(ax, what):
            boxes = sorted((t.get_bbox_patch().get_window_extent() for t in shown(ax)),
                           key=lambda b: b.x0)
            for a, b in zip(boxes, boxes[1:]):
                self.assertLessEqual(a.x1, b.x0, what)
        run = "stages 2–25: 12 pulses: flux → 1.25 % / sealed"
        for key in ("surface", "depth"):
            for size in ((8, 5), (6.4, 4.8), (4, 3)):
                _, ax = self.draw(key, size)
                assert_apart(ax, (key, size))
                self.assertEqual(len(ProcessCycleTests.boundaries(self, ax)), 25, key)
                self.assertEqual([t.get_text().strip() for t in shown(ax)],
                                 ["stage 1: sealed, 850→930 °C", run,
                                  "stage 26: sealed"], (key, size))
        # Zoomed in on the first pulses, they have room to be named one by one.
        ax.set_xlim(0.45, 0.8)
        ax.figure.canvas.draw()
        assert_apart(ax, "zoomed")
        self.assertEqual([t.get_text().strip() for t in shown(ax)][:3],
                         ["stage 1: sealed, 850→930 °C", "stage 2: flux → 1.25 %",
                          "stage 3: sealed"])
        self.assertNotIn(run, [t.get_text().strip() for t in shown(ax)])


# ---------------------------------------------------------------------------
# Cylinders, spheres and temperature ramps, in files laid out by hand
# (tests/plot/fixtures) with the header keys and the r_m column they carry
# ---------------------------------------------------------------------------

FIXTURES = os.path.join(ROOT, "tests", "plot", "fixtures")

# file: kind, (geometry, radius, inner radius), ramps (stage, from, to), title
SHAPES_AND_RAMPS = {
    "cylinder_profile.csv": (dp.PROFILE, ("cylinder", 0.01, None), [],
                             "Profile at t = 10 h, cylinder R = 10 mm, T = 1203.15 K"),
    "tube_profiles.json": (dp.PROFILES, ("cylinder", 0.01, 0.004), [(1, 1123.15, 1203.15)],
                           "tube r = 4–10 mm, T = 1123.15→1203.15 K (4 profiles)"),
    "ramp_history.csv": (dp.HISTORY, ("plate", None, None),
                         [(1, 1123.15, 1203.15), (3, 1203.15, 1123.15)],
                         "History at x = 500 µm, 3-stage cycle"),
}


def fixture_text(name):
    with open(os.path.join(FIXTURES, name), encoding="utf-8") as f:
        return f.read()


class CurvedSpecimenAndRampTests(unittest.TestCase):
    def draw(self, name):
        from matplotlib.backends.backend_agg import FigureCanvasAgg
        fig = Figure()
        FigureCanvasAgg(fig)
        ax = dp.draw(dp.load(os.path.join(FIXTURES, name)), fig)
        fig.canvas.draw()
        return fig, ax

    def test_shapes_and_ramps_from_the_header(self):
        for name, (kind, shape, ramps, title) in SHAPES_AND_RAMPS.items():
            result = dp.load(os.path.join(FIXTURES, name))
            sp = result.specimen
            self.assertEqual((result.kind, (sp.geometry, sp.radius, sp.inner_radius)),
                             (kind, shape), name)
            self.assertEqual([(st.number, *st.ramp) for st in result.stages if st.ramp],
                             ramps, name)
            # (in two lines where it is too wide for the figure)
            self.assertIn(title, self.draw(name)[1].get_title().replace(",\n", ", "))
            proc = run_tool(os.path.join(FIXTURES, name), "-o", os.path.join(TMP.name, "f.png"))
            self.assertEqual((proc.returncode, proc.stderr), (0, ""), name)
        # Without a radius in the header, r_m gives it.
        path = write_file("no-radius.csv", fixture_text("cylinder_profile.csv")
                          .replace("# radius = 0.01\n", ""))
        self.assertEqual(dp.load(path).specimen.radius, 0.01)
        # A header at odds with itself, or with the columns, is refused.
        profile, history = fixture_text("cylinder_profile.csv"), fixture_text("ramp_history.csv")
        for name, text, words in (
                ("stray-r.csv", profile.replace("\n0.0004,0.0096", "\n0.0004,0.0097"), "line 19"),
                ("plate-with-r.csv", profile.replace("# geometry = cylinder\n", ""), "r_m"),
                ("cone.csv", profile.replace("= cylinder", "= cone"), "cone"),
                ("half-ramp.csv", history.replace("# stage1.temperature_to = 1203.15\n", ""),
                 "stage1.temperature_to")):
            proc = run_tool(write_file(name, text), "-o", os.path.join(TMP.name, "x.png"))
            CommandLineTests.assert_one_line_error(self, proc, 1, name, words)
        proc = run_tool(os.path.join(FIXTURES, "tube_profiles.json"), "--D", "1e-11",
                        "-o", os.path.join(TMP.name, "x.png"))
        CommandLineTests.assert_one_line_error(self, proc, 2, "ramped")

    def test_curved_profiles_have_the_radius_along_the_top(self):
        for name in ("cylinder_profile.csv", "tube_profiles.json"):
            _, ax = self.draw(name)
            (top,) = ax.child_axes
            self.assertEqual((ax.get_xlabel(), top.get_xlabel()),
                             ("depth from the surface x (mm)", "radius r (mm)"), name)
            shown = [t for t in top.xaxis.get_major_ticks() if t.label2.get_visible()
                     and min(top.get_xlim()) <= t.get_loc() <= max(top.get_xlim())]
            self.assertGreater(len(shown), 3, name)
            for tick in shown:      # each label is R less the depth below it
                x = ax.transData.inverted().transform(top.transData.transform((tick.get_loc(), 0)))
                self.assertAlmostEqual(float(tick.label2.get_text()), 10 - x[0], places=9,
                                       msg=name)

    def test_ramps_are_shaded_and_labelled(self):
        def spans(ax, along):
            """The ramps shaded, from and to, along the x (0) or y (1) axis."""
            return {p.get_gid(): tuple(np.round(np.sort(ax.transData.inverted().transform(
                p.get_verts())[:, along])[[0, -1]], 9))
                for p in ax.patches if (p.get_gid() or "").endswith(".ramp")}
        _, ax = self.draw("ramp_history.csv")
        self.assertEqual(spans(ax, 0), {"stage1.ramp": (0.0, 1.0), "stage3.ramp": (4.0, 6.0)})
        self.assertEqual(ProcessCycleTests.boundaries(self, ax),
                         {"stage1.end": 1.0, "stage2.end": 4.0})
        self.assertEqual([t.get_text().strip() for t in ax.texts],
                         ["stage 1: composition, 1123.15→1203.15 K", "stage 2: composition",
                          "stage 3: transfer, 1203.15→1123.15 K"])
        # A run of the ramp alone is marked too, though it has no stage end to show.
        lines = fixture_text("ramp_history.csv").splitlines(keepends=True)
        alone = [ln for ln in lines[:-10] if not ln.startswith(("# stage2", "# stage3"))]
        ax = dp.draw(dp.load(write_file("ramp-alone.csv", "".join(alone))), Figure())
        self.assertEqual(spans(ax, 0), {"stage1.ramp": (0.0, 3600.0)})
        fig, _ = self.draw("tube_profiles.json")     # hatched on the colour bar
        self.assertEqual(spans(fig.axes[1], 1), {"stage1.ramp": (1800.0, 7200.0)})



class NitrogenTests(unittest.TestCase):
    """A run of carbon and nitrogen (c_C, c_N): each species drawn from its
    own column, in wt %, with each species' uptake in the title."""

    def test_both_species_are_drawn_from_their_columns(self):
        for name, kind, last in (("carbonitriding_profile.csv", dp.PROFILE, None),
                                 ("carbonitriding_history.json", dp.HISTORY, None),
                                 ("carbonitriding_profiles.csv", dp.PROFILES, 61)):
            result = dp.load(os.path.join(FIXTURES, name))
            self.assertEqual(result.kind, kind, name)
            text = fixture_text(name)
            if name.endswith(".json"):
                columns = json.loads(text)["columns"]
                carbon, nitrogen = np.array(columns["c_C"]), np.array(columns["c_N"])
            else:
                rows = [ln.split(",") for ln in text.splitlines() if ln and ln[0].isdigit()]
                carbon = np.array([float(r[-2]) for r in rows])
                nitrogen = np.array([float(r[-1]) for r in rows])
            if last:    # a family: carbon's curves, nitrogen's last profile
                carbon, nitrogen = carbon[-last:], nitrogen[-last:]
            ax = dp.draw(result, Figure())
            lines = {ln.get_label(): ln.get_ydata() for ln in ax.get_lines()}
            drawn_n = next(v for k, v in lines.items() if k.startswith("nitrogen"))
            np.testing.assert_allclose(drawn_n, nitrogen * 100, rtol=1e-12, err_msg=name)
            if kind == dp.PROFILE:
                np.testing.assert_allclose(lines["carbon"], carbon * 100, rtol=1e-12)
                self.assertIn("uptake C ", ax.get_title())
                self.assertIn(", N ", ax.get_title())
            self.assertEqual(ax.get_ylabel(), "carbon, nitrogen (wt %)", name)
            proc = run_tool(os.path.join(FIXTURES, name), "-o", os.path.join(TMP.name, "n.png"))
            self.assertEqual((proc.returncode, proc.stderr), (0, ""), name)

def main():
    global DIFFUSIM
    argv = sys.argv[:]
    if "--diffusim" in argv:
        i = argv.index("--diffusim")
        DIFFUSIM = argv[i + 1]
        del argv[i:i + 2]
    else:
        DIFFUSIM = os.environ.get("DIFFUSIM") or os.path.join(ROOT, "build", "release", "diffusim")
    DIFFUSIM = os.path.abspath(DIFFUSIM)
    if not os.access(DIFFUSIM, os.X_OK):
        sys.exit(f"diffusim executable not found at {DIFFUSIM}: pass --diffusim PATH "
                 "or set DIFFUSIM")
    unittest.main(argv=argv)


if __name__ == "__main__":
    main()
