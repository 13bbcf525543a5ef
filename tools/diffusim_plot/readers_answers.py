"""The CSV and JSON of the answers beyond one run: the spread of samples
(quantile,depth_m or quantile,time_s; x_m,c_p05,c_p25,c_p50,c_p75,c_p95),
and the JSON of fit and design, whose sections (schedule, data, curve,
profile) hold what is drawn. Their CSV holds only the table: a fit or a
design is drawn from its JSON."""

import json
import math
import re

import numpy as np

from .answers import BANDS, DesignAnswer, FitAnswer, PotentialTable, ProfileSpread, Spread
from .common import InputError, check_rising, parse_number
from .readers_header import setting
from .readers_header import specimen as read_specimen
from .readers_header import stages as read_stages
from .results import Stage
from .units import units_of

_CSV_SETTING = re.compile(r"^#\s*([A-Za-z_][A-Za-z0-9_.]*)\s*=\s*(.*?)\s*$")
BAND_COLUMNS = tuple(f"c_p{round(q * 100):02d}" for q in BANDS)
_INVERSE = ("fit", "design")


def _is_answer(command, columns):
    return command in _INVERSE or command == "potential" or columns[:1] == ("quantile",) or (
        columns[:2] == ("x_m", "c_p05"))


def read_answer(text, name, is_json):
    """The answer a file holds, or None for a file of one run."""
    if is_json:
        try:
            obj = json.loads(text)
        except (json.JSONDecodeError, RecursionError):
            return None     # the reader of one run's files says what is wrong
        if not isinstance(obj, dict) or not isinstance(obj.get("columns"), dict):
            return None
        command, columns = obj.get("command"), tuple(obj["columns"])
        if not _is_answer(command, columns):
            return None
        meta = {}
        for part in ("inputs", "grid"):
            if isinstance(obj.get(part), dict):
                meta.update(obj[part])
        return _answer(command, meta, {k: _numbers(v, k, name) if k != "parameter" else v
                                       for k, v in obj["columns"].items()}, obj, name)
    lines = text.split("\n")
    meta, k = {}, 1
    while k < len(lines) and (lines[k].startswith("#") or not lines[k].strip()):
        m = _CSV_SETTING.match(lines[k])
        if m:
            meta[m.group(1)] = m.group(2)
        k += 1
    command = meta.get("command")
    header = tuple(h.strip() for h in lines[k].split(",")) if k < len(lines) else ()
    if not _is_answer(command, header):
        return None
    if command in _INVERSE:
        raise InputError(f"{name}: the CSV of diffusim {command} holds only its table; "
                         f"draw its JSON (diffusim {command} ... --format json)")
    rows = [line.split(",") for line in lines[k + 1:] if line.strip()]
    if any(len(r) != len(header) for r in rows):
        raise InputError(f"{name}: a row has not the {len(header)} fields of the header")
    values = np.array([[parse_number(v.strip(), "value", name) for v in r] for r in rows],
                      dtype=float).reshape(len(rows), len(header))
    return _answer(command, meta, {h: values[:, j] for j, h in enumerate(header)}, {}, name)


def _numbers(values, key, name):
    if not isinstance(values, list) or not all(
            v is None or (isinstance(v, (int, float)) and not isinstance(v, bool))
            for v in values):
        raise InputError(f"{name}: \"{key}\" is not a list of numbers")
    return np.array([math.inf if v is None else v for v in values], dtype=float)


def _section(obj, key, name):
    section = obj.get(key)
    if not isinstance(section, dict):
        raise InputError(f"{name}: no \"{key}\" object (written by diffusim 1.0.0 and later "
                         "with --format json)")
    return section


def _answer(command, meta, columns, obj, name):
    if command == "potential":
        check_rising(_column(columns, "temperature_K", name), "the temperature",
                     lambda k: f"{name}: row {k + 1}")
        return PotentialTable(columns["temperature_K"], _column(columns, "potential", name),
                              _column(columns, "activity", name), columns.get("probe_mV"),
                              {k[len("atmosphere."):]: setting(meta, k, name)
                               for k in meta if k.startswith("atmosphere.")})
    if command in _INVERSE:
        schedule = _section(obj, "schedule", name)
        meta.update({k: v for k, v in schedule.items() if not isinstance(v, list)})
        result = (_fit if command == "fit" else _design)(meta, columns, obj, name)
        result.stages = _schedule_stages(schedule, name)
    else:
        result = _spread(command, meta, columns, name)
        result.stages = read_stages(meta, name)
        result.uncertain = sorted(m.group(1) for m in map(
            re.compile(r"^uncertainty\.(.+)\.(sd|relative)$").match, meta) if m)
        temps = {st.temperature for st in result.stages}
        result.temperature = (setting(meta, "temperature", name, required=False)
                              or (temps.pop() if len(temps) == 1 else None))
    result.units = units_of(meta)
    for st in result.stages:
        st.units = result.units
    result.specimen = read_specimen(meta, None, None, name, None)
    result.c0 = setting(meta, "initial", name, required=False)
    return result


def _column(columns, key, name):
    if key not in columns:
        raise InputError(f"{name}: no column \"{key}\"")
    return columns[key]


def _spread(command, meta, columns, name):
    samples = setting(meta, "samples", name)
    if "x_m" in columns:
        depth = _column(columns, "x_m", name)
        check_rising(depth, "the depth", lambda k: f"{name}: row {k + 1}")
        bands = {q: _column(columns, c, name) for q, c in zip(BANDS, BAND_COLUMNS)}
        if not all(np.isfinite(b).all() for b in bands.values()):
            raise InputError(f"{name}: a band of the profile is not finite")
        return ProfileSpread(depth, bands, setting(meta, "time", name, required=False),
                             int(samples))
    what = "time" if "time_s" in columns else "depth"
    values = _column(columns, "time_s" if what == "time" else "depth_m", name)
    return Spread(what, _column(columns, "quantile", name), values, int(samples),
                  setting(meta, "composition", name, required=False),
                  setting(meta, "mean", name, required=False),
                  setting(meta, "sd", name, required=False))


def _fit(meta, columns, obj, name):
    keys = columns.get("parameter")
    if not isinstance(keys, list) or not all(isinstance(k, str) for k in keys):
        raise InputError(f"{name}: the column \"parameter\" is not a list of keys")
    parameters = [(k, float(_column(columns, "value", name)[j]),
                   float(_column(columns, "ci95_low", name)[j]),
                   float(_column(columns, "ci95_high", name)[j]),
                   meta.get(f"determined.{k}", "yes") == "yes") for j, k in enumerate(keys)]
    data = {k: _numbers(v, k, name) for k, v in _section(obj, "data", name).items()}
    for key in ("x_m", "c", "fitted", "residual"):
        _column(data, key, name)
    curve = {k: _numbers(v, k, name) for k, v in _section(obj, "curve", name).items()}
    t, x, c = (_column(curve, k, name) for k in ("t_s", "x_m", "c"))
    starts = np.flatnonzero(np.r_[True, t[1:] != t[:-1]])
    ends = np.r_[starts[1:], len(t)]
    curves = [(float(t[a]), x[a:b], c[a:b]) for a, b in zip(starts, ends)]
    return FitAnswer(parameters, {"x": data["x_m"], "t": data.get("t_s"), "c": data["c"],
                                  "fitted": data["fitted"], "residual": data["residual"]},
                     curves, setting(meta, "rms_residual", name, required=False))


def _design(meta, columns, obj, name):
    profile = {k: _numbers(v, k, name) for k, v in _section(obj, "profile", name).items()}
    durations = list(zip((int(s) for s in _column(columns, "stage", name)),
                         (float(d) for d in _column(columns, "duration_s", name))))
    targets = {k: setting(meta, f"target.{k}", name, required=False)
               for k in ("surface", "depth", "at")}
    reached = {k: setting(meta, f"reached.{k}", name, required=False)
               for k in ("surface", "depth")}
    return DesignAnswer(durations, _column(profile, "x_m", name), _column(profile, "c", name),
                        targets, reached)


def _schedule_stages(schedule, name):
    """The stages of a "schedule" section: arrays stage, duration_s, end_s,
    temperature_from_K, temperature_to_K, surface and value."""
    arrays = {}
    for key in ("stage", "duration_s", "end_s", "temperature_from_K", "temperature_to_K",
                "value"):
        arrays[key] = _numbers(schedule.get(key), f"schedule.{key}", name)
    surfaces = schedule.get("surface")
    if not isinstance(surfaces, list) or len(surfaces) != len(arrays["stage"]):
        raise InputError(f"{name}: \"schedule.surface\" is not a word per stage")
    found = []
    for k, surface in enumerate(surfaces):
        low, high = float(arrays["temperature_from_K"][k]), float(arrays["temperature_to_K"][k])
        value = float(arrays["value"][k])
        st = Stage(int(arrays["stage"][k]), float(arrays["end_s"][k]),
                   float(arrays["duration_s"][k]), low if low == high else None, surface,
                   None if low == high else (low, high),
                   value if surface == "flux" and math.isfinite(value) else None)
        st.value = value if math.isfinite(value) else None
        found.append(st)
    return found
