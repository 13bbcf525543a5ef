#!/usr/bin/python3
"""diffusim-plot on the answers beyond one run, from files the program wrote
(tests/plot/fixtures): the spread of samples, a fit and a design. What is
drawn is held against the file's own numbers, in the units of its run.

    /usr/bin/python3 -m pytest tests/plot/test_answers.py
"""

import json
import os
import sys

import matplotlib
import numpy as np
import pytest

matplotlib.use("Agg")
from matplotlib.figure import Figure  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
FIXTURES = os.path.join(ROOT, "tests", "plot", "fixtures")
sys.path.insert(0, os.path.join(ROOT, "tools"))
sys.dont_write_bytecode = True
import diffusim_plot as dp  # noqa: E402
from diffusim_plot.units import is_steel  # noqa: E402


def fixture(name):
    path = os.path.join(FIXTURES, name)
    with open(path, encoding="utf-8") as f:
        return path, json.load(f)


def drawn(name):
    """The file's JSON, the figure drawn from it and its titled axes."""
    path, obj = fixture(name)
    fig = Figure()
    ax = dp.draw(dp.load(path), fig)
    fig.canvas.draw()
    return obj, fig, ax


def by_gid(fig, gid):
    return [a for ax in fig.axes for a in (*ax.lines, *ax.collections, *ax.patches)
            if a.get_gid() == gid]


def band_edges(band, n):
    """The lower and upper edge of a fill_between band over n points: its
    outline runs from the start along the lower edge, then back along the
    upper."""
    path = band.get_paths()[0].vertices[:, 1]
    return path[1:n + 1], path[n + 2:2 * n + 2][::-1]


# Every picture of an answer: the units of its axes and the beginning of its
# title.
@pytest.mark.parametrize("name, c_axis, x_axis, title", [
    ("profile_spread.json", "C(B), fraction of B", "depth from the surface x (µm)",
     "Spread of the profile, each at its end, T = 1173 K, 40 samples"),
    ("depth_spread.json", "samples below (%)", "case depth (µm)",
     "Case depth to C = 0.004, mean 67.92 ± 1.3 µm, T = 1173 K, 60 samples"),
    ("fit_two_times.json", "carbon (wt %)", "depth from the surface x (mm)",
     "Fit (95 % intervals): stage1.beta = 1.688e-07 (1.52e-07–1.87e-07)"),
    ("design_ramp.json", "temperature (°C)", "time (s)",
     "Recipe: stage 1 44.72 min, for case depth 0.6 mm to 0.35 wt %"),
    ("potential_probe.json", "carbon potential (wt %)", "temperature T (°C)",
     "Carbon potential of CO 20 %, probe 1150 mV"),
])
def test_axes_speak_the_runs_units(name, c_axis, x_axis, title):
    _, fig, ax = drawn(name)
    assert ax.get_ylabel() == c_axis
    assert fig.axes[-1].get_xlabel() == x_axis or ax.get_xlabel() == x_axis
    assert ax.get_title().replace("\n", " ").startswith(title)


def test_a_profile_spread_draws_its_bands_and_median():
    obj, fig, ax = drawn("profile_spread.json")
    col = {k: np.array(v) for k, v in obj["columns"].items()}
    for low, high, gid in (("c_p05", "c_p95", "band 5-95"), ("c_p25", "c_p75", "band 25-75")):
        (band,) = by_gid(fig, gid)
        lower, upper = band_edges(band, len(col["x_m"]))
        np.testing.assert_array_equal(lower, col[low])
        np.testing.assert_array_equal(upper, col[high])
    (median,) = ax.get_lines()
    np.testing.assert_array_equal(median.get_ydata(), col["c_p50"])
    np.testing.assert_allclose(median.get_xdata(), col["x_m"] * 1e6)
    below = fig.axes[1].get_lines()[0]     # the spread about the median is 0 at the median
    assert not below.get_ydata().any()


def test_a_depth_spread_bands_its_quantiles_on_the_depth_axis():
    obj, fig, ax = drawn("depth_spread.json")
    q = dict(zip(obj["columns"]["quantile"], np.array(obj["columns"]["depth_m"]) * 1e6))
    for low, high in ((0.05, 0.95), (0.25, 0.75)):
        (span,) = by_gid(fig, f"band {round(low * 100)}-{round(high * 100)}")
        xs = span.get_xy()[:, 0]
        assert (xs.min(), xs.max()) == pytest.approx((q[low], q[high]), rel=1e-12)
    (cumulative,) = by_gid(fig, "cumulative")
    assert list(cumulative.get_ydata()) == pytest.approx([5, 25, 50, 75, 95])
    np.testing.assert_allclose(cumulative.get_xdata(), list(q.values()), rtol=1e-12)


def test_a_fit_draws_its_data_curves_and_residuals_in_wt_percent():
    obj, fig, ax = drawn("fit_two_times.json")
    data = {k: np.array(v) for k, v in obj["data"].items()}
    measured, residual = by_gid(fig, "measured"), by_gid(fig, "residual")
    assert len(measured) == len(residual) == len(set(data["t_s"])) == 2
    assert sum(len(m.get_ydata()) for m in measured) == len(data["c"])
    np.testing.assert_allclose(np.concatenate([m.get_ydata() for m in measured]),
                               data["c"] * 100)
    np.testing.assert_allclose(np.concatenate([r.get_ydata() for r in residual]),
                               data["residual"] * 100)
    np.testing.assert_allclose(data["fitted"] - data["c"], data["residual"], atol=1e-15)
    fitted = [ln for ln in ax.get_lines() if ln.get_label().startswith("fitted")]
    assert [ln.get_label() for ln in fitted] == ["fitted, t = 3600 s", "fitted, t = 3 h"]
    # Each curve passes through its fitted values at the data's depths.
    for ln, t in zip(fitted, sorted(set(data["t_s"]))):
        at = data["t_s"] == t
        np.testing.assert_allclose(np.interp(data["x_m"][at] * 1e3, ln.get_xdata(),
                                             ln.get_ydata()), data["fitted"][at] * 100,
                                   rtol=1e-9)


def test_a_design_draws_its_recipe_and_its_targets():
    obj, fig, ax = drawn("design_ramp.json")
    (ramp,) = by_gid(fig, "stage2.temperature")
    assert list(ramp.get_ydata()) == pytest.approx([930, 850])
    assert by_gid(fig, "stage2.surface") == []          # sealed: no surface value
    (held,) = by_gid(fig, "stage1.surface")
    assert list(held.get_ydata()) == pytest.approx([1.1, 1.1])
    assert len(by_gid(fig, "stage1.varied")) == 1 and by_gid(fig, "stage2.varied") == []
    (target,) = by_gid(fig, "depth target")
    assert (target.get_xdata()[0], target.get_ydata()[0]) == pytest.approx((0.6, 0.35))
    assert by_gid(fig, "surface target") == []
    reached = fig.axes[1].get_lines()[0]
    np.testing.assert_allclose(reached.get_ydata(), np.array(obj["profile"]["c"]) * 100)


# A header of carbon in steel: a steel's model, or a steel's own values.
@pytest.mark.parametrize("meta, steel", [
    ({"model": "tibbetts"}, True), ({"model": "slycke-ericsson"}, True),
    ({"density": 7850}, True), ({"hardness.carbon": "0.002,0.008"}, True),
    ({"alloy_factor": 1.1}, True), ({"A": 4.529e-07}, False), ({}, False),
])
def test_steel_is_named_by_its_model_or_its_own_values(meta, steel):
    assert is_steel(meta) is steel


def test_what_cannot_be_drawn_is_refused_in_one_line(tmp_path, capsys):
    csv = tmp_path / "fit.csv"
    csv.write_text("# diffusim 1.0.0\n# command = fit\nparameter,value,std_error,ci95_low,"
                   "ci95_high\nstage1.beta,1e-7,1e-9,0.9e-7,1.1e-7\n")
    assert dp.main([str(csv), "-o", str(tmp_path / "a.png")]) == 1
    assert "draw its JSON" in capsys.readouterr().err
    path, _ = fixture("fit_two_times.json")
    assert dp.main([path, "--D", "1e-11", "-o", str(tmp_path / "b.png")]) == 2
    assert "erfc overlay" in capsys.readouterr().err
    broken = tmp_path / "design.json"
    obj = fixture("design_ramp.json")[1]
    del obj["profile"]
    broken.write_text(json.dumps(obj))
    assert dp.main([str(broken), "-o", str(tmp_path / "c.png")]) == 1
    assert "no \"profile\" object" in capsys.readouterr().err


# A column --sweep names (the key with _ for . and its unit's suffix) reads
# as its key and value in the drawing's units.
@pytest.mark.parametrize("column, value, steel, label", [
    ("stage1_temperature_K", 1203.15, True, "stage1.temperature = 930 °C"),
    ("stage1_temperature_K", 1203.15, False, "stage1.temperature = 1203.15 K"),
    ("stage2_temperature_from_K", 1123.15, True, "stage2.temperature.from = 850 °C"),
    ("stage2_potential", 0.008, True, "stage2.potential = 0.8 wt %"),
    ("stage3_back_composition", 0.002, False, "stage3.back.composition = 0.002"),
    ("specimen_inner_radius_m", 0.004, True, "specimen.inner_radius = 4 mm"),
    ("specimen_alloy_factor", 1.1, True, "specimen.alloy_factor = 1.1"),
    ("stage2_duration_s", 5400.0, True, "stage 2: 1.5 h"),
    ("temperature_K", 1173.0, False, "T = 1173 K"),
])
def test_a_swept_column_reads_as_its_key(column, value, steel, label):
    from diffusim_plot.labels import swept_label
    from diffusim_plot.units import PROGRAM_UNITS, STEEL_UNITS
    assert swept_label(column, value, STEEL_UNITS if steel else PROGRAM_UNITS) == label


def test_a_potential_table_draws_each_temperature_and_marks_soot():
    obj, fig, ax = drawn("potential_probe.json")
    col = {k: np.array(v) for k, v in obj["columns"].items()}
    line = ax.get_lines()[0]
    np.testing.assert_allclose(line.get_xdata(), col["temperature_K"] - 273.15, rtol=1e-12)
    np.testing.assert_allclose(line.get_ydata(), col["potential"] * 100.0, rtol=1e-12)
    soot = ax.get_lines()[1]     # the temperatures whose activity reaches one
    np.testing.assert_allclose(soot.get_xdata(),
                               col["temperature_K"][col["activity"] >= 1.0] - 273.15)
    assert len(soot.get_xdata()) == 1
