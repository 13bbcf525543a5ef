"""What the drawings of every kind share: how numbers, times and swept
values read, the specimen and the conditions of the run for a title, the
compositions an overlay takes, and where a process cycle's stages lie in
time (stage_marks draws them)."""

import re

from .common import CYLINDER, HOURS_ABOVE_S
from .units import PROGRAM_UNITS, fmt  # noqa: F401 (fmt: every drawing takes it from here)


def time_label(t, digits=6):
    return f"{fmt(t / 3600.0, 4)} h" if t > HOURS_ABOVE_S else f"{fmt(t, digits)} s"


def duration_label(seconds):
    for unit, size in (("h", 3600.0), ("min", 60.0)):
        if seconds >= size:
            return f"{fmt(seconds / size, 4)} {unit}"
    return f"{fmt(seconds, 4)} s"


def swept_key(name):
    """The dotted key a swept column holds and what it measures: the
    command line names the column by the key with _ for . and its unit's
    suffix (stage1_temperature_K: stage1.temperature, a temperature)."""
    kind = "plain"
    for suffix, measure in (("_K", "temperature"), ("_s", "time"), ("_m", "length")):
        if name.endswith(suffix):
            name, kind = name[:-len(suffix)], measure
            break
    else:
        if re.search(r"(composition|potential|limit|initial)$", name):
            kind = "composition"
    head, _, rest = name.partition("_")
    for written, key in (("back_", "back."), ("temperature_from", "temperature.from"),
                         ("temperature_to", "temperature.to")):
        rest = rest.replace(written, key)
    return (f"{head}.{rest}" if rest else head), kind


def swept_value(kind, value, units=PROGRAM_UNITS):
    """A swept value as it reads in the drawing's units."""
    if kind == "temperature":
        return units.temperature(value)
    if kind == "time":
        return duration_label(value)
    if kind == "composition":
        return units.composition(value)
    if kind == "length":
        return f"{fmt(value * 1e3, 4)} mm"
    return fmt(value)


def swept_label(name, value, units=PROGRAM_UNITS):
    """'T = 1173 K', 'stage 2: 1 h' or 'stage1.temperature = 930 °C' for a
    swept column and its value."""
    m = re.match(r"^stage(\d+)_duration_s$", name)
    if m:
        return f"stage {m.group(1)}: {duration_label(value)}"
    if name == "temperature_K":
        return f"T = {units.temperature(value)}"
    key, kind = swept_key(name)
    return f"{key} = {swept_value(kind, value, units)}"


def length_unit(specimen, units=PROGRAM_UNITS):
    """The unit of the depth and radius of a profile, and how many of it
    make a metre: micrometres, or millimetres in steel and across a curved
    specimen of 1 mm radius or more."""
    curved = specimen.curved and specimen.radius >= 1e-3
    return ("mm", 1e3) if units.steel or curved else ("µm", 1e6)


def specimen_label(specimen, units=PROGRAM_UNITS):
    """'cylinder R = 10 mm', 'tube r = 4–10 mm', 'hollow sphere r = 4–10 mm';
    empty for a plate."""
    if not specimen.curved:
        return ""
    unit, per_m = length_unit(specimen, units)
    outer = fmt(specimen.radius * per_m, 4)
    if specimen.inner_radius is None:
        return f"{specimen.geometry} R = {outer} {unit}"
    hollow = "tube" if specimen.geometry == CYLINDER else f"hollow {specimen.geometry}"
    return f"{hollow} r = {fmt(specimen.inner_radius * per_m, 4)}–{outer} {unit}"


def conditions(result):
    """The specimen, where it is curved, and the temperature of the run (a
    ramp from one to the other) for a title, or the number of stages of a
    cycle."""
    stages, units = result.stages, result.units
    if len(stages) > 1:
        temperature = f"{len(stages)}-stage cycle"
    elif stages and stages[0].ramp:
        temperature = f"T = {units.ramp(*stages[0].ramp)}"
    elif result.temperature is None:
        temperature = "T not given"
    else:
        temperature = f"T = {units.temperature(result.temperature)}"
    shape = specimen_label(result.specimen, units)
    return f"{shape}, {temperature}" if shape else temperature


def chosen(overlay, option, given, default):
    """A composition for the overlay: the command line's first, then the
    file's own header, then the one read from the data."""
    value = getattr(overlay, option) if overlay else None
    value = given if value is None else value
    return default if value is None else value


def stage_of(stages, t):
    """The index of the stage that time t falls in; a time at a stage's end
    belongs to that stage."""
    for k, st in enumerate(stages):
        if t <= st.end * (1 + 1e-12):
            return k
    return len(stages) - 1


def stage_start(stages, k):
    """When stage k starts: its end less its duration, or where the file
    does not give that, the end of the stage before."""
    st = stages[k]
    if st.duration is not None:
        return st.end - st.duration
    return stages[k - 1].end if k else 0.0
