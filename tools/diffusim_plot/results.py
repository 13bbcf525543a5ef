"""What a file holds once read: one class per kind, whatever the format
(the menu's Result*.txt, or the CSV or JSON of a command)."""

import numpy as np

from .common import DEPTH, HISTORY, PLATE, PROFILE, PROFILES, TIME
from .units import PROGRAM_UNITS


class Specimen:
    """The shape of the specimen: a plate, or a cylinder or sphere of outer
    radius R, hollow down to an inner radius (a tube, a hollow sphere) or
    solid. Depth x runs inward from the outer surface, so r = R - x."""

    def __init__(self, geometry=PLATE, radius=None, inner_radius=None):
        self.geometry = geometry
        self.radius = radius                # m; None for a plate
        self.inner_radius = inner_radius    # m; None unless hollow

    @property
    def curved(self):
        return self.geometry != PLATE

    def radius_at(self, depth):
        return self.radius - depth


class _Result:
    # What the CSV and JSON files tell beyond the data: the compositions of
    # the run (None where the file does not say), depths that are given
    # exactly instead of printed rounded, the stages of a process cycle and
    # the shape of the specimen (the menu's files are all of plates).
    c0 = None
    cs = None
    x_given = False
    _depth = None
    stages = ()
    specimen = Specimen()
    uptake = None       # g of carbon taken up per m² of surface, where recorded
    # With nitrogen: its compositions (a profile's, a history's, the last of
    # a family of profiles) and its uptake.
    nitrogen = None
    nitrogen_uptake = None
    units = PROGRAM_UNITS   # carbon in steel speaks wt %, mm and °C


class Stage:
    """One stage of a process cycle, as the header of a command's file
    records it: its end is the time since the start of the run. A stage
    whose temperature is a linear ramp has ramp = (from, to), in K, and no
    single temperature; a surface fed a constant flux may have the
    composition it is held at once reached, its limit."""

    units = PROGRAM_UNITS   # the run's, set where the header names a steel

    def __init__(self, number, end, duration, temperature, surface, ramp=None, limit=None):
        self.number = number
        self.end = end
        self.duration = duration        # None where the file does not say
        self.temperature = temperature
        self.surface = surface          # composition, transfer, flux or sealed
        self.ramp = ramp
        self.limit = limit              # a composition, or None

    def moved_to(self, end, duration):
        """The same stage ending elsewhere, after another duration (a swept
        duration moves it)."""
        moved = Stage(self.number, end, duration, self.temperature, self.surface, self.ramp,
                      self.limit)
        moved.units = self.units
        return moved

    def describe(self):
        """What the stage does, without its number: 'flux → 1.25 %',
        'sealed, 1123.15→1203.15 K' ('sealed, 850→930 °C' in steel)."""
        text = self.surface
        if self.limit is not None:
            text += f" → {self.limit * 100:.4g} %"
        if self.ramp:
            text += f", {self.units.ramp(*self.ramp)}"
        return text

    def label(self):
        return f"stage {self.number}: {self.describe()}"


class DepthTable(_Result):
    """The table of diffusim depth: the case depth against time, one curve
    per combination of the swept values (a run without a sweep has one)."""

    kind = DEPTH

    def __init__(self, temperature, composition, swept, curves, hardness=None):
        self.temperature = temperature
        self.composition = composition
        self.hardness = hardness    # HV whose carbon the composition is, or None
        self.swept = swept          # the names of the swept columns, maybe none
        self.curves = curves        # (swept values, t, depth) per combination


class TimeTable(_Result):
    """The table of diffusim time: the time to reach a composition at a
    depth, against the one value that was swept."""

    kind = TIME

    def __init__(self, temperature, composition, depth, swept, values, times):
        self.temperature = temperature
        self.composition = composition
        self.depth = depth
        self.swept = swept          # the name of the swept column
        self.values = values
        self.times = times          # nan where the composition was not reached


class Profile(_Result):
    """One profile (Result_dt.txt): composition at index * dx at time t."""

    kind = PROFILE

    def __init__(self, temperature, time, dx, comp, depth=None, hv=None):
        self.temperature = temperature
        self.time = time
        self.dx = dx
        self.comp = comp            # numpy array, row i at depth i * dx
        self._depth = depth         # or the depths themselves, where given
        self.hv = hv                # the hardness of each row (HV), or None

    @property
    def depth(self):
        if self._depth is not None:
            return self._depth
        return np.arange(len(self.comp)) * self.dx


class Profiles(_Result):
    """The profiles of Result.txt that were kept for plotting."""

    kind = PROFILES
    block_name = "step"         # what one block is called in the title

    def __init__(self, temperature, dx, times, comps, block_count, first_block, depth=None,
                 hvs=None):
        self.temperature = temperature
        self.dx = dx
        self.times = times          # numpy array, one per kept block
        self.comps = comps          # 2-D numpy array, kept blocks x rows
        self.block_count = block_count
        self.first_block = first_block   # the first block in full, for C0
        self._depth = depth
        self.hvs = hvs              # the hardness, shaped like comps, or None

    @property
    def depth(self):
        if self._depth is not None:
            return self._depth
        return np.arange(self.comps.shape[1]) * self.dx


class History(_Result):
    """Result_dx.txt: composition at one grid point, step after step."""

    kind = HISTORY

    def __init__(self, temperature, distance, dt, times, comp):
        self.temperature = temperature
        self.distance = distance    # the distance asked for, as printed
        self.dt = dt
        self.times = times
        self.comp = comp


def thin_indices(count, max_curves):
    """At most max_curves indices out of range(count), evenly spread and
    always holding the first and the last."""
    if count <= max_curves:
        return list(range(count))
    picks = np.rint(np.linspace(0, count - 1, max_curves)).astype(int)
    return sorted(set(int(i) for i in picks))
