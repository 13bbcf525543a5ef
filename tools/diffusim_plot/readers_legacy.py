"""The files of diffusim's interactive menu: Result_dt.txt (one profile),
Result.txt (a profile per step) and Result_dx.txt (the history at one
distance). Their header gives the temperature and the time or distance;
their rows print distances and times rounded, so the spacing is fitted."""

import math
import mmap
import re
from array import array

import numpy as np

from .common import InputError, parse_number, warn
from .results import History, Profile, Profiles, thin_indices

T_LINE = re.compile(r"^T = (\S+)\(K\)\s*$")
AT_LINE = re.compile(r"^at ([tx]) = (\S+)\(([sm])\)\s*$")
_BANNER = re.compile(rb"-+time = ([^()\s]+)\(s\)-+")
_BANNER_KEY = b"-time = "


def fit_through_origin(index, values):
    """Slope of values against index by least squares through the origin.

    The printed distances are rounded to 1e-6 m, so on a grid of 4.77e-6 m
    they step unevenly (0.000005, 0.000010, 0.000014, ...). Fitting the whole
    column to distance = index * dx spreads those rounding errors over every
    row, which pins dx far better than any single row does (over 105 rows of
    4.77e-6 m: within 1e-5 of dx, where the last row alone is 2e-4 off), and
    the plot then uses index * dx instead of the rounded figures.
    """
    index = np.asarray(index, dtype=float)
    values = np.asarray(values, dtype=float)
    denom = float(index @ index)
    return float(index @ values) / denom if denom > 0 else 0.0


def parse_temperature(line):
    m = T_LINE.match(line)
    if not m:
        return None
    try:
        return float(m.group(1))
    except ValueError:
        return None


def _split_row(line):
    """The fields of a data row, and whether the row was written out in full.

    Every row diffusim writes ends with a tab; a row without one is the tail
    of a file whose writing was cut short.
    """
    complete = line.endswith("\t")
    return [f.strip() for f in line.split("\t") if f.strip()], complete


def read_head(f, count, limit=4096):
    """The first `count` lines, each read with a length limit (a damaged
    Result_dx.txt can hold millions of counters on one line)."""
    lines = []
    for _ in range(count):
        raw = f.readline(limit)
        if not raw:
            break
        lines.append(raw.rstrip("\r\n"))
    return lines


def _check_spacing(dx, rows, name):
    if not (dx > 0 and math.isfinite(dx)):
        raise InputError(f"{name}: the distance column does not grow with the row index "
                         f"({rows} rows), so the grid spacing cannot be recovered")


def _read_profile_rows(lines, locate, report_cut=True):
    """Rows 'i \\t distance \\t C \\t' numbered 0, 1, 2, ... Returns the
    distance and composition columns as numpy arrays. locate(k) names the
    k-th of the lines in messages; it is only called for one. A last row
    that was cut short is left out, with a warning if report_cut."""
    dist, comp = array("d"), array("d")
    last = len(lines) - 1
    while last >= 0 and not lines[last].strip():
        last -= 1
    tabbed = False
    for k, line in enumerate(lines):
        if not line.strip():
            continue
        fields, complete = _split_row(line)
        if k == last and not complete and (tabbed or len(fields) != 3):
            if report_cut:
                warn(f"{locate(k)}: incomplete last row ignored (was the file cut short?)")
            break
        tabbed = tabbed or complete
        if len(fields) != 3:
            raise InputError(f"{locate(k)}: expected 'index, distance, C(B)', "
                             f"got '{line.strip()[:60]}'")
        if fields[0] != f"{len(comp):03d}":
            raise InputError(f"{locate(k)}: row index {fields[0]} out of sequence")
        try:
            d, c = float(fields[1]), float(fields[2])
        except ValueError:
            raise InputError(f"{locate(k)}: '{fields[1]}' or '{fields[2]}' "
                             "is not a number") from None
        dist.append(d)
        comp.append(c)
    return np.frombuffer(dist, dtype=float), np.frombuffer(comp, dtype=float)


def load_profile(f, head, name):
    temperature = parse_temperature(head[0])
    m = AT_LINE.match(head[1])
    time = parse_number(m.group(2), "time", f"{name}: line 2")
    if len(head) < 5 or head[2].strip() or head[3].strip() or not head[4].startswith("cnt"):
        raise InputError(f"{name}: no column header 'cnt distance(m) C(B)' on line 5")
    dist, comp = _read_profile_rows(f.read().splitlines(), lambda k: f"{name}: line {k + 6}")
    if len(comp) < 2:
        raise InputError(f"{name}: the profile has {len(comp)} row(s); at least 2 are needed")
    dx = fit_through_origin(np.arange(len(dist)), dist)
    _check_spacing(dx, len(dist), name)
    return Profile(temperature, time, dx, comp)


def load_history(f, head, name):
    temperature = parse_temperature(head[0])
    m = AT_LINE.match(head[1])
    distance = parse_number(m.group(2), "distance", f"{name}: line 2")
    if len(head) < 5 or head[2].strip() or head[3].strip() or not head[4].startswith("cnt"):
        raise InputError(f"{name}: no column header 'cnt time(s) C(B)' on line 5")
    times, comp = array("d"), array("d")
    n = 5
    cut = None          # a row cut short: only the last row may be
    last_open = False   # the last row read has no closing tab
    any_closed = False
    for raw in iter(lambda: f.readline(4096), ""):
        n += 1
        line = raw.rstrip("\r\n")
        if not line.strip():
            continue
        if cut is not None:
            raise InputError(f"{name}: line {cut}: damaged row")
        fields, complete = _split_row(line)
        if not comp and len(fields) >= 2 and all(x.isdigit() for x in fields):
            # Counters only: diffusim had no interior grid point at or
            # beyond the distance, so it wrote the step numbers and nothing else.
            raise InputError(f"{name}: no compositions in the file: x = {distance:g} m lies "
                             "beyond the last interior grid point of the specimen")
        if len(fields) != 3:
            if not complete:
                cut = n
                continue
            raise InputError(f"{name}: line {n}: expected 'step, time, C(B)', "
                             f"got '{line.strip()[:60]}'")
        if fields[0] != f"{len(comp) + 1:03d}":
            raise InputError(f"{name}: line {n}: step number {fields[0]} out of sequence")
        try:
            t, c = float(fields[1]), float(fields[2])
        except ValueError:
            raise InputError(f"{name}: line {n}: '{fields[1]}' or '{fields[2]}' "
                             "is not a number") from None
        times.append(t)
        comp.append(c)
        last_open, any_closed = not complete, any_closed or complete
        last_row = n
    if cut is None and last_open and any_closed:
        times.pop()     # its last figure may have lost digits
        comp.pop()
        cut = last_row
    if cut is not None:
        warn(f"{name}: line {cut}: incomplete last row ignored (was the file cut short?)")
    if len(comp) == 0:
        raise InputError(f"{name}: the file holds no steps")
    times = np.frombuffer(times, dtype=float)
    comp = np.frombuffer(comp, dtype=float)
    dt = fit_through_origin(np.arange(1, len(times) + 1), times)
    return History(temperature, distance, dt, times, comp)


def _parse_block(buf, start, end, name, rows_expected):
    """One block of Result.txt between byte offsets start and end: its time
    and its distance and composition columns, the columns None when the
    block has not rows_expected rows."""
    lines = bytes(buf[start:end]).decode("latin-1").splitlines()

    def locate(k):
        # Line numbers are only counted for a message: a scan of the file
        # up to the block is not worth doing for every block drawn.
        line_no = bytes(buf[:start]).count(b"\n") + 1 + k
        return f"{name}: line {line_no}"

    m = _BANNER.search(lines[0].encode("latin-1"))
    if not m:
        raise InputError(f"{locate(0)}: damaged time banner")
    time = parse_number(m.group(1).decode("latin-1"), "time", locate(0))
    skip = 1
    while skip < len(lines) and not lines[skip].strip():
        skip += 1
    if skip == len(lines) or not lines[skip].startswith("cnt"):
        raise InputError(f"{locate(0)}: no column header after the time banner")
    dist, comp = _read_profile_rows(lines[skip + 1:], lambda k: locate(skip + 1 + k),
                                    report_cut=rows_expected is None)
    if rows_expected is not None and len(comp) != rows_expected:
        return time, None, None
    return time, dist, comp


def load_profiles(path, f, name, max_curves):
    f.close()
    with open(path, "rb") as fb:
        try:
            buf = mmap.mmap(fb.fileno(), 0, access=mmap.ACCESS_READ)
        except (ValueError, OSError):
            buf = fb.read()          # not a file that can be mapped
    try:
        return _scan_profiles(buf, name, max_curves)
    finally:
        if isinstance(buf, mmap.mmap):
            buf.close()


def _scan_profiles(buf, name, max_curves):
    temperature = parse_temperature(bytes(buf[:256]).splitlines()[0].decode("latin-1"))
    # The whole file is only searched for the time banners (in C, by find),
    # then the blocks that will be drawn are parsed. A file of 10,000 steps
    # never turns into a million Python strings.
    starts = []
    pos = buf.find(_BANNER_KEY)
    while pos >= 0:
        line_start = buf.rfind(b"\n", 0, pos) + 1
        starts.append(line_start)
        nl = buf.find(b"\n", pos)
        if nl < 0:
            break
        pos = buf.find(_BANNER_KEY, nl)
    if not starts:
        raise InputError(f"{name}: no '---time = ...(s)---' block found")
    ends = starts[1:] + [len(buf)]

    t0, dist0, comp0 = _parse_block(buf, starts[0], ends[0], name, None)
    rows = len(comp0)
    if rows < 2:
        raise InputError(f"{name}: the first block has {rows} row(s); at least 2 are needed")
    count = len(starts)
    if count > 1:
        try:
            _, _, last = _parse_block(buf, starts[-1], ends[-1], name, rows)
        except InputError:
            last = None     # cut inside its banner or header
        if last is None:
            warn(f"{name}: the last block is incomplete and is left out (was the file cut short?)")
            count -= 1
    dx = fit_through_origin(np.arange(rows), dist0)
    _check_spacing(dx, rows, name)

    picks = thin_indices(count, max_curves)
    times = np.empty(len(picks))
    comps = np.empty((len(picks), rows))
    for k, b in enumerate(picks):
        if b == 0:
            t, comp = t0, comp0
        else:
            t, _, comp = _parse_block(buf, starts[b], ends[b], name, rows)
            if comp is None:
                raise InputError(f"{name}: block {b + 1} (t = {t:g} s) does not have "
                                 f"{rows} rows like the first")
        times[k] = t
        comps[k] = comp
    return Profiles(temperature, dx, times, comps, count, comp0)
