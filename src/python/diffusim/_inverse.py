"""The inverse questions from Python: the durations that reach a target
(design) and the schedule values that fit measured compositions (fit), each
the command line's own search, run by the engine."""

from dataclasses import dataclass
import math
import warnings

import numpy as np

from . import _core
from . import Schedule, ScheduleError, _DEFAULT_TOLERANCE, _q, _qs, _refused, _schedule


@dataclass
class Design:
    """A designed recipe: the durations (s) of the varied stages, the values
    the recipe reaches, and the forward runs it took."""
    met: bool
    durations: list
    surface: float
    depth: float
    runs: int
    schedule: Schedule = None


def design(schedule, vary, *, surface=None, depth=None, at=None, max_duration=None,
           scheme="auto", tolerance=_DEFAULT_TOLERANCE):
    """The durations of the stages `vary` (numbers from 1) that bring the end
    of the schedule to `surface` (composition) and/or a case depth `depth` (m)
    to composition `at`, each searched from 1 s to `max_duration` (s; default
    a thousand days). Raises ScheduleError when no durations reach them (the
    message gives the closest run); a stage more than ten times as long as the
    whole template gives a UserWarning, as the command line warns."""
    schedule = _schedule(schedule)
    count = schedule._core.stages
    for k in vary:
        if not (isinstance(k, (int, np.integer)) and 1 <= k <= count):
            raise ScheduleError(f"vary: the schedule has no stage {k!r} (it has {count})")
    for k in vary:
        if f"stage{k}.duration" in schedule.values:
            raise ScheduleError(f"vary: stage{k}.duration is set by with_values; design chooses it")
    stages = [int(k) - 1 for k in vary]
    if max_duration is not None:
        max_duration = _q("max_duration", max_duration, "time")
        if not max_duration >= 1.0:
            raise ScheduleError(f"max_duration: {max_duration:g} s is shorter than the search's "
                                "shortest duration, 1 s")
    out = _refused(_core.design, schedule._core, stages,
                   math.nan if surface is None else _q("surface", surface, "composition"),
                   math.nan if depth is None else _q("depth", depth, "length"),
                   0.0 if at is None else _q("at", at, "composition"),
                   0.0 if max_duration is None else max_duration, scheme, float(tolerance))
    if not out["met"]:
        raise ScheduleError(out["words"])
    whole = schedule.end
    for k, duration in zip(vary, out["durations"]):
        if duration > 10.0 * whole:
            warnings.warn(f"stage {k} lasts {duration:g} s, {duration / whole:g} times the "
                          f"template's whole schedule ({whole:g} s); check the targets, or "
                          "cap the search with max_duration", stacklevel=2)
    return Design(True, list(out["durations"]), out["surface"], out["depth"], out["runs"])


@dataclass
class Fit:
    """Fitted values, their standard errors (from the Jacobian at the optimum,
    s^2 (J^T J)^-1) and 95 % intervals; the correlation matrix. Positive
    quantities are fitted in their logarithm: their intervals are
    value * exp(+-t se / value). `determined` says per key whether the data
    pin the value down (its interval inside its physical range, no
    correlation above 0.99 in magnitude); `converged` alone does not."""
    keys: list
    values: np.ndarray
    std_errors: np.ndarray
    ci95: np.ndarray
    correlation: np.ndarray
    rms_residual: float
    converged: bool = True
    determined: np.ndarray = None


def fit(schedule, keys, x, c, t=None, *, scheme="auto", tolerance=_DEFAULT_TOLERANCE):
    """Schedule values named by dotted `keys` (stage1.beta, diffusivity.A, ...)
    that fit compositions `c` measured at depths `x` (m) and times `t` (s;
    default the schedule's end, that of each trial schedule when a duration
    is fitted), by GSL's trust-region Levenberg-Marquardt. Each value the
    data do not determine gives a UserWarning with the command line's words."""
    schedule = _schedule(schedule)
    x = _qs("x", x, "length")
    c = _qs("c", c, "composition")
    t = [] if t is None else _qs("t", t, "time")
    for key in keys:
        if key in schedule.values:
            raise ScheduleError(f"keys: {key} is set by with_values; fit finds it")
    out = _refused(_core.fit, schedule._core, list(keys), x, c, t, scheme, float(tolerance))
    if not out["converged"]:
        raise ScheduleError(f"the fit did not converge after {out['iterations']} iterations")
    for text in out["warnings"]:
        warnings.warn(text, stacklevel=2)
    values = np.array(out["values"])
    se = np.array(out["std_errors"])
    p = len(values)
    return Fit(list(keys), values, se, np.stack([out["low"], out["high"]], axis=1),
               np.array(out["correlation"]).reshape(p, p), out["rms_residual"], True,
               np.array(out["determined"], dtype=bool))
