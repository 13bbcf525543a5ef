"""Sweeps of any schedule key from Python: every combination of the values
given, each case the schedule with those values set (Schedule.with_values),
run by the same question as on its own, gathered in a pandas DataFrame whose
columns the command line's --sweep names."""

import itertools

import numpy as np

from . import _core


# The command line's bound on a sweep's results.
_MOST_CASES = 10_000_000

_ANSWERS = {"depth": ["t_s", "depth_m"], "time": ["t_s"], "profile": ["x_m", "c"]}


def sweep(schedule, values, command="depth", **kwargs):
    """Runs `command` ("depth", "time" or "profile", with the keyword
    arguments that function takes: depth(composition=..., time=...),
    time_to(depth=..., composition=...), profile(time=...)) for every
    combination of `values` ({key: [value, ...]}, the last key varying
    fastest, as several --sweep flags do). Returns a DataFrame: a column per
    key in SI units (stage1.temperature as stage1_temperature_K), then t_s
    and depth_m, t_s, or x_m and c. Each row has the bits of the schedule
    edited to its values."""
    import pandas as pd

    from . import ScheduleError, _q, _refused, _schedule, depth, profile, time_to

    runs = {"depth": depth, "time": time_to, "profile": profile}
    if command not in runs:
        raise ScheduleError(f"command: '{command}' is not depth, time or profile")
    schedule = _schedule(schedule)
    keys = [str(k) for k in values]
    lists = [[v] if isinstance(v, str) or not np.iterable(v) else list(v) for v in values.values()]
    for key, given in zip(keys, lists):
        if not given:
            raise ScheduleError(f"values: {key}: no values to sweep")
    cases = 1
    for given in lists:
        cases *= len(given)
    if cases > _MOST_CASES:
        raise ScheduleError(f"values: the sweep asks for {cases} cases, more than {_MOST_CASES}")
    columns = [_refused(_core.key_column, schedule._core, k) for k in keys]
    rows = []
    answers = list(_ANSWERS[command])
    for combo in itertools.product(*lists):
        case = schedule.with_values(dict(zip(keys, combo)))
        set_ = case.values
        head = [set_[k] for k in keys]
        out = runs[command](case, **kwargs)
        if command == "time":
            rows.append(head + [out])
        elif command == "profile" and out.c_N is not None:
            # With nitrogen, a column per species as the command line writes.
            answers = ["x_m", "c_C", "c_N"]
            rows.extend(head + [x, c, n] for x, c, n in zip(out.x, out.c, out.c_N))
        elif command == "profile":
            rows.extend(head + [x, c] for x, c in zip(out.x, out.c))
        elif isinstance(out, float):
            when = kwargs.get("time")
            rows.append(head + [case.end if when is None else _q("time", when, "time"), out])
        else:
            rows.extend(head + [t, d] for t, d in zip(out.t, out.depth))
    return pd.DataFrame(rows, columns=columns + answers)

