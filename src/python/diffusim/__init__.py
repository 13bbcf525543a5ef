"""diffusim from Python: transient diffusion of carbon (or any element B) into
steel by the program's own engine, with the same numbers, bit for bit, as the
command line for the same request.

Units are SI throughout: m, s, K, and compositions as mass fractions (0.008 for
0.8 %); strings with units are accepted where a schedule file takes them.

    import diffusim
    s = diffusim.load_schedule("cycle.toml")
    p = diffusim.profile(s)                 # p.x, p.c (numpy), p.header
    d = diffusim.depth(s, composition=0.0035)

Every run takes the command line's scheme="auto"|"explicit"|"implicit",
tolerance= and method="esdirk" (the fourth-order implicit step, the default) or
"trbdf2", as --scheme, --tolerance and --method. Times, depths, compositions
and temperatures are numbers in SI units or strings with a unit as the command
line takes them ("4h", "0.9mm", "0.35%", "930C"); a bad one raises
ScheduleError with the command line's message, naming the keyword. A schedule
may be given as a Schedule or as the name of its file.

Schedules pickle (as their TOML text), so any concurrent.futures executor or a
dask.distributed Client can run sweeps; see docs/examples/notebook.py.
"""

from dataclasses import dataclass, field
import math
import os
import warnings

import numpy as np

from . import _core

# The implicit scheme's tolerance unless one is given: the engine's own.
_DEFAULT_TOLERANCE = _core.DEFAULT_TOLERANCE

__all__ = [
    "__version__", "ScheduleError", "Schedule", "load_schedule", "parse_schedule",
    "profile", "profiles", "history", "depth", "time_to", "depth_spread", "design", "fit",
    "Result", "Design", "Fit", "sweep", "potential",
]

__version__ = "1.0.0"


class ScheduleError(ValueError):
    """A schedule or a request the program refuses; the message is the command
    line's."""


def _refused(call, *args):
    try:
        return call(*args)
    except _core._RequestError as e:
        raise ScheduleError(str(e)) from None


def _q(name, value, kind):
    """`value` in SI units: a number as it is, or a string with a unit as the
    command line takes it ("4h", "0.9mm", "0.35%", "930C"), refused with the
    command line's message naming the keyword."""
    if isinstance(value, str):
        return _refused(_core.quantity, name, value, kind)
    return float(value)


def _qs(name, values, kind):
    return [_q(name, v, kind) for v in values]


def _schedule(schedule):
    """A Schedule, or the path of a schedule file, which is loaded."""
    if isinstance(schedule, Schedule):
        return schedule
    if isinstance(schedule, (str, os.PathLike)):
        return load_schedule(schedule)
    raise ScheduleError(f"schedule: expected a Schedule (load_schedule, parse_schedule or "
                        f"Schedule.constant) or a file name, not {type(schedule).__name__}")


class Schedule:
    """A process cycle: the specimen, the diffusivity and the stages, as a
    schedule file describes them (see `diffusim schedule`). Build one with
    load_schedule, parse_schedule or Schedule.constant. Picklable."""

    def __init__(self, text, name="<schedule>"):
        self._core = _refused(_core._Schedule, text, name)

    @property
    def text(self):
        """The TOML text of the schedule."""
        return self._core.text

    @property
    def end(self):
        """The schedule's end, the sum of its durations, s."""
        return self._core.end

    @property
    def values(self):
        """The values set over the text's by with_values: {key: value in SI
        units}, in the order set."""
        return dict(self._core.values)

    def with_values(self, values):
        """A copy with values set by their dotted keys, as the command line's
        --set KEY=VALUE sets them: {"stage1.temperature": "950C",
        "stage2.potential": "0.8%", "specimen.sections": 400}. Any scalar key
        of a schedule (specimen.*, diffusivity.*, stageN.duration,
        stageN.temperature (a ramp's stageN.temperature.from and .to),
        stageN.composition, .potential, .beta, .flux, .limit and
        stageN.back.*); a string takes a unit, a number is in SI units. The
        runs give the bits of the schedule edited to those values; their
        header records each as set.KEY. A key set again takes its new value.
        A key the schedule lacks or a value out of range raises
        ScheduleError with the command line's message."""
        items = [(str(k), v if isinstance(v, str) else float(v)) for k, v in dict(values).items()]
        out = Schedule.__new__(Schedule)
        out._core = _refused(self._core.with_values, items)
        out._open = getattr(self, "_open", None)
        return out

    def __reduce__(self):
        if getattr(self, "_open", None) is not None:
            return (_open_constant, (self._open, self.values))
        return (_with_values, (self._core.text, self._core.name, self.values))

    def __repr__(self):
        return f"Schedule({self._core.name!r}, {self._core.stages} stage(s), end {self.end} s)"

    @classmethod
    def constant(cls, *, duration=None, temperature=1173.0, length=0.0005, sections=100,
                 A=None, B=None, c0=0.01, cs=0.05, geometry="plate",
                 radius=None, inner_radius=None, model=None, alloy_factor=None, density=None):
        """One stage with the surface held at `cs` at `temperature` (K): the
        quick-run parameters of the command line (D = A exp(B / RT), m^2/s
        and J/mol). Times, lengths, compositions and temperatures may be
        strings with a unit, as on the command line ("4h", "0.5mm", "1%",
        "900C"). A cylinder or sphere takes `radius` (and `inner_radius`,
        m) instead of `length`. Without a `duration` (s) the stage lasts as
        the command line's flags make it: until the time a question asks
        (time_to searches onward from its start). Carbon in steel, as the
        command line's --model, --alloy-factor and --density: `model`
        "tibbetts" (D(C); A and B, when given, over its constants) or
        "slycke-ericsson" (no A or B); with an `alloy_factor` `cs` is the
        atmosphere's carbon potential and the surface is held at cs /
        alloy_factor; `density` (kg/m^3) for the uptake."""
        params = dict(temperature=temperature, length=length, sections=sections, A=A, B=B,
                      c0=c0, cs=cs, geometry=geometry, radius=radius, inner_radius=inner_radius,
                      model=model, alloy_factor=alloy_factor, density=density)
        if geometry == "plate":
            shape = f"length = {_q('length', length, 'length')!r}\n"
        else:
            shape = f"geometry = {geometry!r}\nradius = {_q('radius', radius, 'length')!r}\n"
            if inner_radius is not None:
                shape += f"inner_radius = {_q('inner_radius', inner_radius, 'length')!r}\n"
        span = 1.0 if duration is None else _q("duration", duration, "time")
        if model not in (None, "tibbetts", "slycke-ericsson"):
            raise ScheduleError(f"model: '{model}' is not tibbetts or slycke-ericsson")
        if model == "slycke-ericsson" and (A is not None or B is not None):
            raise ScheduleError(f"{'A' if A is not None else 'B'}: the slycke-ericsson model "
                                "has its own constants")
        law = "" if model is None else f'model = "{model}"\n'
        if model is None or A is not None:
            law += f"A = {4.529e-7 if A is None else _q('A', A, 'plain')!r}\n"
        if model is None or B is not None:
            law += f"B = {-147723.0 if B is None else _q('B', B, 'plain')!r}\n"
        steel = ""
        held = _q("cs", cs, "composition")
        if alloy_factor is not None:
            alloy_factor = _q("alloy_factor", alloy_factor, "plain")
            if not alloy_factor > 0.0:
                raise ScheduleError("alloy_factor: the alloy factor must be above 0")
            steel += f"alloy_factor = {alloy_factor!r}\n"
            held /= alloy_factor
        if density is not None:
            steel += f"density = {_q('density', density, 'plain')!r}\n"
        text = (f"[specimen]\n{shape}sections = {int(sections)}\n"
                f"initial = {_q('c0', c0, 'composition')!r}\n{steel}"
                f"[diffusivity]\n{law}"
                f"[[stage]]\nduration = {span!r}\n"
                f"temperature = {_q('temperature', temperature, 'temperature')!r}\n"
                f"surface = {{ composition = {held!r} }}\n")
        s = cls(text, "constant")
        s._open = None if duration is not None else params
        return s

    def _lasting(self, end):
        """An open constant schedule made to last until `end`; else itself."""
        if getattr(self, "_open", None) is None or end is None:
            return self
        lasting = Schedule.constant(duration=float(end), **self._open)
        return lasting.with_values(self.values) if self.values else lasting


def _open_constant(params, values=None):
    s = Schedule.constant(**params)
    return s.with_values(values) if values else s


def _with_values(text, name, values):
    s = Schedule(text, name)
    return s.with_values(values) if values else s


def load_schedule(path):
    """The schedule in the TOML file at `path`."""
    with open(path, encoding="utf-8") as f:
        return Schedule(f.read(), str(path))


def parse_schedule(text, name="<schedule>"):
    """The schedule in TOML `text`; `name` stands for the file in messages."""
    return Schedule(text, name)


@dataclass
class Result:
    """A run's numbers as float64 arrays it owns: t (s); x (m, depth from the
    surface), r (m, radius; curved specimens) and c (fractions) for profiles;
    with a schedule's [nitrogen], c is carbon's and c_N nitrogen's; depth (m)
    for case depths; HV for a schedule with a hardness table; and `header`,
    the fields the CSV header records (made when first read)."""
    record: object
    t: np.ndarray
    c: np.ndarray = None
    c_N: np.ndarray = None
    x: np.ndarray = None
    r: np.ndarray = None
    depth: np.ndarray = None
    HV: np.ndarray = None
    _header: dict = field(default=None, repr=False)

    @property
    def header(self):
        if self._header is None:
            self._header = self.record if isinstance(self.record, dict) else self.record.dict()
        return self._header

    def __getstate__(self):
        state = dict(self.__dict__)
        state["record"] = self.header
        state["_header"] = None
        return state


def _options(scheme, tolerance, threads):
    return scheme, float(tolerance), 0 if threads is None else int(threads)


# The implicit scheme's step: "trbdf2" (the default) or "esdirk" (third order).
_DEFAULT_METHOD = "esdirk"


def _warned(out):
    """The command line's warnings (a grid too coarse, units that look
    mistaken) as Python warnings; the result as it is."""
    for text in out.get("warnings", ()):
        warnings.warn(text, stacklevel=3)
    return out


def profile(schedule, time=None, *, scheme="auto", tolerance=_DEFAULT_TOLERANCE, threads=None,
            method=_DEFAULT_METHOD):
    """C(x) at `time` s (default: the schedule's end): a Result with x, c
    (and r for a curved specimen)."""
    s, tol, th = _options(scheme, tolerance, threads)
    time = None if time is None else _q("time", time, "time")
    schedule = _schedule(schedule)._lasting(time)
    until = math.nan if time is None else time
    out = _warned(_refused(_core.run_levels, schedule._core, "profile", until, 0.0, 0.0, s, tol, method,
                   th, __version__))
    hv = out.get("HV")
    return Result(record=out["header"], t=out["t"], c=out["c"], c_N=out.get("c_N"), x=out["x"],
                  r=out.get("r"), HV=None if hv is None else hv[-1].copy())


def profiles(schedule, every, until=None, *, scheme="auto", tolerance=_DEFAULT_TOLERANCE, threads=None,
            method=_DEFAULT_METHOD):
    """Every profile at every, 2 every, ..., until (default the end): a Result
    whose c is a 2-D array, one row per time in t."""
    s, tol, th = _options(scheme, tolerance, threads)
    until = None if until is None else _q("until", until, "time")
    schedule = _schedule(schedule)._lasting(until)
    end = math.nan if until is None else until
    out = _warned(_refused(_core.run_levels, schedule._core, "profiles", end, _q("every", every, "time"),
                   0.0, s, tol,
                   method, th, __version__))
    return Result(record=out["header"], t=out["t"], c=out["c"], c_N=out.get("c_N"), x=out["x"],
                  r=out.get("r"), HV=out.get("HV"))


def history(schedule, depth, every=None, until=None, *, scheme="auto", tolerance=_DEFAULT_TOLERANCE,
            threads=None, method=_DEFAULT_METHOD):
    """C at `depth` m at every, 2 every, ..., until (every None: every step)."""
    s, tol, th = _options(scheme, tolerance, threads)
    until = None if until is None else _q("until", until, "time")
    schedule = _schedule(schedule)._lasting(until)
    end = math.nan if until is None else until
    out = _warned(_refused(_core.run_levels, schedule._core, "history", end,
                   0.0 if every is None else _q("every", every, "time"), _q("depth", depth, "length"),
                   s, tol, method, th,
                   __version__))
    return Result(record=out["header"], t=out["t"], c=out["c"], c_N=out.get("c_N"))


def depth(schedule, composition, time=None, *, every=None, scheme="auto", tolerance=_DEFAULT_TOLERANCE,
          method=_DEFAULT_METHOD, species="C"):
    """The case depth, m: where the profile falls to `composition` (of
    `species`, "C" or "N"). A float for one time (default the end; NaN when
    the profile stays above it); with a list of times or `every`, a Result
    with arrays t and depth."""
    times = [] if time is None else ([_q("time", time, "time")] if np.isscalar(time) else
                                     _qs("time", time, "time"))
    schedule = _schedule(schedule)._lasting(max(times) if times else None)
    out = _warned(_refused(_core.run_query, schedule._core, True,
                   _q("composition", composition, "composition"), 0.0, times,
                   0.0 if every is None else _q("every", every, "time"), False, scheme, float(tolerance),
                   method, __version__, species))
    if every is None and (time is None or np.isscalar(time)):
        return float(out["depth"][0])
    return Result(record=out["header"], t=out["t"], depth=out["depth"])


def time_to(schedule, depth, composition, *, scheme="auto", tolerance=_DEFAULT_TOLERANCE,
            method=_DEFAULT_METHOD, species="C"):
    """The first time, s, at which the composition (of `species`, "C" or "N")
    at `depth` m reaches `composition` (NaN when the schedule ends first)."""
    schedule = _schedule(schedule)
    open_ended = getattr(schedule, "_open", None) is not None
    out = _warned(_refused(_core.run_query, schedule._core, False,
                   _q("composition", composition, "composition"), _q("depth", depth, "length"), [],
                   0.0, open_ended, scheme, float(tolerance), method,
                   __version__, species))
    return float(out["t"][0])


QUANTILES = (0.05, 0.25, 0.5, 0.75, 0.95)


def depth_spread(schedule, composition, time=None, *, samples=400, seed=1, threads=None):
    """The case depth's spread over the schedule's [uncertainty]: `samples`
    draws (the command line's `depth --samples N --seed S`, the same numbers
    on any thread count), each read at `time` or at its own schedule's end.
    Returns (depths, quantiles): every sample's depth (inf where its profile
    stays above the composition through the specimen, NaN for an invalid
    draw: a schedule that cannot run or ends before `time`) and a dict of
    the 0.05 ... 0.95 quantiles of the valid samples, linear between order
    statistics (inf where one falls among those beyond), with "mean" and
    "sd" (inf when any sample is beyond), "beyond" and "invalid" (counts).
    More than 1 % invalid draws raise ScheduleError."""
    out = _refused(_core.sample_depths, _schedule(schedule)._core,
                   _q("composition", composition, "composition"),
                   math.nan if time is None else _q("time", time, "time"), int(samples), int(seed),
                   0 if threads is None else int(threads))
    q = dict(zip(QUANTILES, out["quantiles"]))
    q["mean"], q["sd"] = out["mean"], out["sd"]
    q["beyond"], q["invalid"] = out["beyond"], out["invalid"]
    return out["depths"], q


from ._sweep import sweep  # noqa: E402  (it runs the functions above)
from ._furnace import potential  # noqa: E402
from ._inverse import Design, Fit, design, fit  # noqa: E402
