"""The CSV and JSON that diffusim's commands (profile, profiles, history,
depth, time) write: '# key = value' settings or an object's inputs and
grid (what they tell is read by readers_header), then the columns."""

import json
import math
import re
from array import array

import numpy as np

from .common import (DEPTH, HISTORY, PROFILE, PROFILES, TIME, InputError, check_rising,
                     parse_number, warn)
from .readers_header import setting
from .readers_header import specimen as read_specimen
from .readers_header import stages as read_stages
from .results import DepthTable, History, Profile, Profiles, TimeTable, thin_indices
from .units import units_of

# The columns each command writes, in order; a curved specimen's profiles
# have r_m after x_m, those of a schedule with a hardness table HV after c,
# and any other columns after these are not drawn.
COLUMNS = {
    PROFILE: ("x_m", "c"),
    HISTORY: ("t_s", "c"),
    PROFILES: ("t_s", "x_m", "c"),
}
RADIUS = "r_m"
HARDNESS = "HV"
# With nitrogen, carbon's composition is c_C (read as c) and nitrogen's c_N.
CARBON, NITROGEN = "c_C", "c_N"
CSV_BANNER = re.compile(r"^# diffusim(\s|$)")
_CSV_SETTING = re.compile(r"^#\s*([A-Za-z_][A-Za-z0-9_.]*)\s*=\s*(.*?)\s*$")


def _core(header):
    """The header without the r_m that follows x_m in the profiles of a
    curved specimen."""
    k = header.index("x_m") + 1 if "x_m" in header else 0
    return header[:k] + header[k + 1:] if k and header[k:k + 1] == (RADIUS,) else header


def _with_radius(columns, present):
    """A command's columns, with r_m after x_m where the file has it."""
    k = columns.index("x_m") + 1 if "x_m" in columns else 0
    return columns[:k] + (RADIUS,) + columns[k:] if k and present else columns


def _table_kind(header, command):
    """The kind of table that the column names (and the command, where the
    file names it) make, or None. The tables of depth and time may start
    with a column per swept value (temperature_K, stage2_duration_s, ...);
    the others may have more columns after their own."""
    core = _core(header)
    kind = next((kd for kd, cols in COLUMNS.items() if core[:len(cols)] == cols), None)
    if kind is not None and command in (None, kind):
        return kind
    swept = header[:-2] if header[-2:] == ("t_s", "depth_m") else (
        header[:-1] if header[-1:] == ("t_s",) and command in (None, TIME) else None)
    if swept is None or "" in swept or len(set(header)) != len(header) or (
            {"t_s", "x_m", "c", "depth_m"} & set(swept)):
        return kind
    return DEPTH if header[-1] == "depth_m" else TIME


def _finite_but(data, nan_column):
    """Whether every value is finite, but for nan allowed in one column."""
    if nan_column is None:
        return bool(np.isfinite(data).all())
    rest = np.delete(data, nan_column, axis=1)
    col = data[:, nan_column]
    return bool(np.isfinite(rest).all() and (np.isfinite(col) | np.isnan(col)).all())


def read_csv(text, name):
    """The command, the '# key = value' settings and the data of a CSV file,
    the data as a 2-D array, one column per header field."""
    lines = text.split("\n")
    meta = {}
    k = 1
    while k < len(lines) and (lines[k].startswith("#") or not lines[k].strip()):
        m = _CSV_SETTING.match(lines[k])
        if m:
            meta[m.group(1)] = m.group(2)
        k += 1
    if k == len(lines):
        raise InputError(f"{name}: no column header after the '#' lines")
    header = tuple("c" if h.strip() == CARBON else h.strip() for h in lines[k].split(","))
    command = meta.get("command")
    kind = _table_kind(header, command)
    if kind is None:
        raise InputError(f"{name}: line {k + 1}: expected the column header 'x_m,c', "
                         f"'t_s,c', 't_s,x_m,c' (x_m maybe followed by r_m), 't_s,depth_m' "
                         f"or 't_s', "
                         f"got '{lines[k].strip()[:60]}'")
    if command is not None and command != kind:
        raise InputError(f"{name}: line {k + 1}: the columns {','.join(header)} "
                         f"do not belong to the command '{command}'")
    # A depth or a time that does not exist is written nan.
    nan_column = len(header) - 1 if kind in (DEPTH, TIME) else None

    rows = [(n + 1, line) for n, line in enumerate(lines[k + 1:], k + 1) if line.strip()]
    if rows and not text.endswith("\n"):
        # Every line diffusim writes ends in LF: without one the last row
        # may have lost digits.
        warn(f"{name}: line {rows[-1][0]}: incomplete last row ignored "
             "(was the file cut short?)")
        rows.pop()
    width = len(header)
    data = None
    if rows:    # all at once in C; row by row only to find a fault
        fields = ",".join(line for _, line in rows).split(",")
        if len(fields) == width * len(rows):
            try:
                data = np.array(fields, dtype=float).reshape(len(rows), width)
            except ValueError:
                pass
    if data is None or not _finite_but(data, nan_column):
        values = array("d")
        for n, line in rows:
            parts = line.split(",")
            if len(parts) != width:
                raise InputError(f"{name}: line {n}: expected {width} fields "
                                 f"({','.join(header)}), got '{line.strip()[:60]}'")
            for col, part in enumerate(parts):
                if not part.strip():
                    raise InputError(f"{name}: line {n}: an empty field in '{line.strip()[:60]}'")
                value = parse_number(part.strip(), "value", f"{name}: line {n}")
                if not math.isfinite(value) and not (col == nan_column and math.isnan(value)):
                    raise InputError(f"{name}: line {n}: '{part.strip()}' "
                                     "is not a finite number")
                values.append(value)
        data = np.frombuffer(values, dtype=float).reshape(len(rows), width)
    return kind, header, meta, data, lambda i: f"{name}: line {rows[i][0]}"


def read_json(text, name):
    """The same as read_csv, from the JSON object."""
    try:
        obj = json.loads(text)
    except json.JSONDecodeError as e:
        raise InputError(f"{name}: line {e.lineno}: not valid JSON ({e.msg})") from None
    except RecursionError:
        raise InputError(f"{name}: not valid JSON (nested too deep)") from None
    if not isinstance(obj, dict) or obj.get("program") != "diffusim":
        raise InputError(f"{name}: a JSON file, but not one of diffusim's "
                         "(no \"program\": \"diffusim\")")
    command = obj.get("command")
    if command not in (*COLUMNS, DEPTH, TIME):
        raise InputError(f"{name}: unknown command '{command}' (expected profile, "
                         "history, profiles, depth or time)")
    meta = {}
    for part in ("inputs", "grid"):
        section = obj.get(part, {})
        if not isinstance(section, dict):
            raise InputError(f"{name}: \"{part}\" is not an object")
        meta.update(section)
    columns = obj.get("columns")
    if not isinstance(columns, dict):
        raise InputError(f"{name}: no \"columns\" object")
    if CARBON in columns:
        columns = {("c" if k == CARBON else k): v for k, v in columns.items()}
    if command in COLUMNS:
        kind, header = command, _with_radius(COLUMNS[command], RADIUS in columns)
        if NITROGEN in columns:
            header += (NITROGEN,)
        if command != HISTORY and HARDNESS in columns:
            header += (HARDNESS,)
    else:
        header = tuple(columns)
        kind = _table_kind(header, command) if header else None
        if kind != command:
            raise InputError(f"{name}: the columns {','.join(header)} do not belong "
                             f"to the command '{command}'")
    # A depth or a time that does not exist is written null.
    nan_column = len(header) - 1 if kind in (DEPTH, TIME) else None
    data = []
    for n, col in enumerate(header):
        values = columns.get(col)
        if not isinstance(values, list):
            raise InputError(f"{name}: the column \"{col}\" is missing or not a list")
        null = n == nan_column
        if not all((isinstance(v, (int, float)) and not isinstance(v, bool))
                   or (null and v is None) for v in values):
            raise InputError(f"{name}: the column \"{col}\" holds something "
                             "that is not a number")
        values = np.array(values, dtype=float)      # null becomes nan
        if not _finite_but(values[:, None], 0 if null else None):
            raise InputError(f"{name}: the column \"{col}\" holds something "
                             "that is not a finite number")
        if data and len(values) != len(data[0]):
            raise InputError(f"{name}: the column \"{col}\" has {len(values)} values, "
                             f"\"{header[0]}\" has {len(data[0])}")
        data.append(values)
    return kind, header, meta, np.column_stack(data), lambda i: f"{name}: row {i + 1}"


def from_table(kind, header, meta, data, locate, name, max_curves):
    """A result from the columns of a CSV or JSON file."""
    stages = read_stages(meta, name)
    temperature = setting(meta, "temperature", name, required=not stages)
    if temperature is None:     # a cycle: its temperature, if it only has one
        temps = {st.temperature for st in stages}
        temperature = temps.pop() if len(temps) == 1 else None
    dx = setting(meta, "dx", name, required=False)
    # The first of a name wins: a column of the kind before any extra one.
    column = {h: data[:, k] for k, h in reversed(list(enumerate(header)))}
    if kind == PROFILE:
        x, c = column["x_m"], column["c"]
        if len(c) < 2:
            raise InputError(f"{name}: the profile has {len(c)} row(s); at least 2 are needed")
        check_rising(x, "the depth", locate)
        # A cycle's profile without --time is its end: the last stage's.
        time = setting(meta, "time", name, required=not stages)
        if time is None:
            time = stages[-1].end
        result = Profile(temperature, time,
                         dx if dx is not None else float(x[1] - x[0]), c, depth=x,
                         hv=column.get(HARDNESS))
        result.nitrogen = column.get(NITROGEN)
    elif kind == HISTORY:
        t, c = column["t_s"], column["c"]
        if len(c) == 0:
            raise InputError(f"{name}: the file holds no times")
        check_rising(t, "the time", locate)
        result = History(temperature, setting(meta, "depth", name),
                         setting(meta, "dt", name, required=False), t, c)
        result.nitrogen = column.get(NITROGEN)
    elif kind == PROFILES:
        result = _profiles_from_table(column["t_s"], column["x_m"], column["c"],
                                      column.get(HARDNESS), locate, name, temperature, dx,
                                      max_curves)
        if NITROGEN in column:      # the last profile's nitrogen
            rows = len(result.depth)
            result.nitrogen = column[NITROGEN][-rows:]
    elif kind == DEPTH:
        result = _depth_from_table(header[:-2], meta, data, locate, name, temperature)
    else:
        result = _time_from_table(header[:-1], meta, data, name, temperature)
    result.units = units_of(meta)
    for st in stages:
        st.units = result.units
    result.stages = stages
    across = kind in (PROFILE, PROFILES)     # the depths and radii of a profile
    result.specimen = read_specimen(meta, column.get("x_m") if across else None,
                                    column.get(RADIUS) if across else None, name, locate)
    if kind == DEPTH:
        result.stage_ends = [_curve_stage_ends(stages, result.swept, values, name)
                             for values, _, _ in result.curves]
    result.c0 = setting(meta, "c0", name, required=False)
    result.uptake = setting(meta, "uptake_g_per_m2", name, required=False)
    if result.uptake is None:   # with nitrogen, carbon's
        result.uptake = setting(meta, "uptake_C_g_per_m2", name, required=False)
    result.nitrogen_uptake = setting(meta, "uptake_N_g_per_m2", name, required=False)
    result.cs = setting(meta, "cs", name, required=False)
    if result.c0 is None:
        result.c0 = setting(meta, "initial", name, required=False)
    if result.cs is None and len(stages) == 1 and stages[0].surface == "composition":
        result.cs = setting(meta, "stage1.composition", name, required=False)
    result.x_given = True
    return result


def _curve_stage_ends(stages, swept, values, name):
    """The stage ends of one curve of a depth table: the header's, unless a
    stage's duration was swept, which moves the ends from that stage on."""
    durations = [st.duration for st in stages]
    moved = False
    for column, value in zip(swept, values):
        m = re.match(r"^stage(\d+)_duration_s$", column)
        if m and 1 <= int(m.group(1)) <= len(durations):
            durations[int(m.group(1)) - 1] = value
            moved = True
    if not moved:
        return [st.end for st in stages]
    if any(d is None for d in durations):
        raise InputError(f"{name}: the header does not give the duration of every stage, "
                         "so the stage ends of a sweep of durations cannot be placed")
    return [float(e) for e in np.cumsum(durations)]


def _depth_from_table(swept, meta, data, locate, name, temperature):
    """The rows of each combination of swept values follow one another, in
    time order."""
    width = data.shape[1]
    if len(data) == 0:
        raise InputError(f"{name}: the file holds no depths")
    keys = data[:, :width - 2]
    starts = np.flatnonzero(np.r_[True, np.any(keys[1:] != keys[:-1], axis=1)])
    ends = np.r_[starts[1:], len(data)]
    curves = []
    for a, b in zip(starts, ends):
        t = data[a:b, width - 2]
        check_rising(t, "the time", lambda k, a=a: locate(int(a) + k))
        curves.append((tuple(float(v) for v in keys[a]), t, data[a:b, width - 1]))
    if len({c[0] for c in curves}) != len(curves):
        raise InputError(f"{name}: the rows of one combination of {', '.join(swept)} "
                         "do not follow one another")
    return DepthTable(temperature, setting(meta, "composition", name, required=False),
                      list(swept), curves, setting(meta, "hardness", name, required=False))


def _time_from_table(swept, meta, data, name, temperature):
    if len(swept) != 1:
        what = ("no value was swept" if not swept else
                f"{len(swept)} values were swept ({', '.join(swept)})")
        raise InputError(f"{name}: nothing to plot: {what}; a time table is plotted "
                         "against one swept value")
    if len(data) == 0:
        raise InputError(f"{name}: the file holds no times")
    return TimeTable(temperature, setting(meta, "composition", name, required=False),
                     setting(meta, "depth", name, required=False), swept[0],
                     data[:, 0], data[:, 1])


def _profiles_from_table(t, x, c, hv, locate, name, temperature, dx, max_curves):
    """The long format: rows grouped by time, each group the same depths,
    with the hardness of each row where hv is a column."""
    if len(c) == 0:
        raise InputError(f"{name}: the file holds no profiles")
    starts = np.flatnonzero(np.r_[True, t[1:] != t[:-1]])
    check_rising(t[starts], "the time", lambda k: locate(int(starts[k])))
    rows = int(starts[1]) if len(starts) > 1 else len(c)
    if rows < 2:
        raise InputError(f"{name}: the first profile has {rows} row(s); at least 2 are needed")
    count = len(starts)
    if len(c) != count * rows:
        if len(c) - int(starts[-1]) < rows and np.all(np.diff(starts) == rows):
            warn(f"{name}: the last profile (t = {t[-1]:g} s) has fewer rows than the "
                 "others and is left out (was the file cut short?)")
            count -= 1
        else:
            k = next((k for k in range(1, count) if starts[k] - starts[k - 1] != rows), count)
            raise InputError(f"{locate(int(starts[k - 1]))}: the profile at "
                             f"t = {t[starts[k - 1]]:g} s does not have {rows} rows "
                             "like the first")
    depth = x[:rows]
    check_rising(depth, "the depth", locate)
    grid = x[:count * rows].reshape(count, rows)
    differ = np.flatnonzero(np.any(grid != depth, axis=1))
    if len(differ):
        k = int(differ[0])
        raise InputError(f"{locate(k * rows)}: the depths of the profile at "
                         f"t = {t[k * rows]:g} s are not those of the first")
    comps = c[:count * rows].reshape(count, rows)
    picks = thin_indices(count, max_curves)
    hvs = None if hv is None else hv[:count * rows].reshape(count, rows)[picks]
    result = Profiles(temperature, dx if dx is not None else float(depth[1] - depth[0]),
                      t[starts[picks]], comps[picks], count, comps[0], depth=depth, hvs=hvs)
    result.block_name = "profile"
    return result
