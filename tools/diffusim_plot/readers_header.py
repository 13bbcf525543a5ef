"""What the header of a command's CSV or JSON tells beyond the data: its
settings as numbers, the stages of a process cycle (each held at one
temperature or ramped linearly between two, a flux surface maybe up to a
limit) and the shape of the specimen."""

import math
import re

import numpy as np

from .common import CYLINDER, PLATE, SPHERE, InputError, check_rising, parse_number
from .results import Specimen, Stage

# How far r_m may stray from R - x, as a share of R (rounding, no more).
_RADIUS_TOLERANCE = 1e-9


def setting(meta, key, name, required=True):
    """A number from the file's inputs or grid; None if absent and not
    required."""
    value = meta.get(key)
    if value is None:
        if required:
            raise InputError(f"{name}: the file does not give '{key}'")
        return None
    if isinstance(value, bool) or not isinstance(value, (int, float, str)):
        raise InputError(f"{name}: {key} '{value}' is not a number")
    number = parse_number(str(value), key, name)
    if not math.isfinite(number):
        raise InputError(f"{name}: {key} '{value}' is not a finite number")
    return number


# Any stageN.something names stage N: end, duration, surface, temperature
# or temperature_from and _to, flux and limit, the back face's condition, ...
_STAGE_KEY = re.compile(r"^stage(\d+)\.[A-Za-z_]+$")


def _temperature(meta, key, name):
    """A stage's temperature, and its ramp (from, to) or None."""
    ends = [setting(meta, key + f"temperature_{end}", name, required=False)
            for end in ("from", "to")]
    if ends == [None, None]:
        return setting(meta, key + "temperature", name, required=False), None
    if None in ends:
        raise InputError(f"{name}: {key}temperature_from and {key}temperature_to "
                         "go together")
    if ends[0] == ends[1]:      # a ramp that goes nowhere holds one temperature
        return ends[0], None
    return None, tuple(ends)


def stages(meta, name):
    """The stages of the process cycle that the header records, in order;
    none for a file of a run without one."""
    numbers = sorted({int(m.group(1)) for m in map(_STAGE_KEY.match, meta) if m})
    if numbers != list(range(1, len(numbers) + 1)):
        raise InputError(f"{name}: the stages are numbered {numbers}, not 1 to {len(numbers)}")
    found = []
    for n in numbers:
        key = f"stage{n}."
        surface = meta.get(key + "surface")
        temperature, ramp = _temperature(meta, key, name)
        found.append(Stage(n, setting(meta, key + "end", name),
                           setting(meta, key + "duration", name, required=False),
                           temperature,
                           surface if isinstance(surface, str) and surface else "?", ramp,
                           setting(meta, key + "limit", name, required=False)))
    check_rising(np.array([st.end for st in found]), "the end of the stages",
                 lambda k: f"{name}: stage{k + 1}.end")
    return found


def specimen(meta, x, r, name, locate):
    """The specimen the header describes. x and r are the depth and radius
    columns of a profile, where the file has them (r is None without an r_m
    column); a curved specimen's radius comes from the header, or failing
    that from x + r."""
    geometry = meta.get("geometry", PLATE)
    if geometry not in (PLATE, CYLINDER, SPHERE):
        raise InputError(f"{name}: the geometry '{geometry}' is none of "
                         f"{PLATE}, {CYLINDER} and {SPHERE}")
    if geometry == PLATE:
        if r is not None:
            raise InputError(f"{name}: a column r_m, but the specimen is a plate")
        return Specimen()
    radius = setting(meta, "radius", name, required=r is None)
    if radius is None:
        radius = float(x[0] + r[0])
    inner = setting(meta, "inner_radius", name, required=False)
    if not radius > 0:
        raise InputError(f"{name}: the radius {radius:g} m is not above 0")
    if inner is not None and not 0 <= inner < radius:
        raise InputError(f"{name}: the inner radius {inner:g} m is not between 0 "
                         f"and the radius {radius:g} m")
    if r is not None:
        off = np.flatnonzero(np.abs(radius - x - r) > _RADIUS_TOLERANCE * radius)
        if len(off):
            k = int(off[0])
            raise InputError(f"{locate(k)}: r_m = {r[k]:g} is not the radius {radius:g} "
                             f"less the depth {x[k]:g}")
    return Specimen(geometry, radius, inner if inner else None)
