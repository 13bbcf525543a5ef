"""Reading any file diffusim writes, told apart by its content."""

import os

from .common import DEFAULT_MAX_CURVES, InputError
from .readers_legacy import (AT_LINE, load_history, load_profile, load_profiles,
                             parse_temperature, read_head)
from .readers_answers import read_answer
from .readers_table import CSV_BANNER, from_table, read_csv, read_json


def load(path, max_curves=DEFAULT_MAX_CURVES):
    """Read any of the three result files, or the CSV or JSON of a command,
    recognised by its content."""
    name = path
    if os.path.isdir(path):
        raise InputError(f"{name}: is a directory, not a result file")
    try:
        f = open(path, "r", encoding="latin-1", newline=None)
    except OSError as e:
        raise InputError(f"{name}: cannot read: {e.strerror or e}") from None
    try:
        try:
            head = read_head(f, 5)
        except OSError as e:
            raise InputError(f"{name}: cannot read: {e.strerror or e}") from None
        if not head:
            raise InputError(f"{name}: the file is empty")
        first = next((line for line in head if line.strip()), "")
        reader = (read_csv if CSV_BANNER.match(first)
                  else read_json if first.lstrip().startswith("{") else None)
        if reader is not None:
            f.seek(0)
            text = f.read()
            answer = read_answer(text, name, reader is read_json)
            if answer is not None:
                return answer
            return from_table(*reader(text, name), name, max_curves)
        foreign = (f"{name}: not a diffusim result file (expected the content of "
                   "Result.txt, Result_dt.txt or Result_dx.txt, or diffusim's CSV or JSON)")
        if parse_temperature(head[0]) is None or len(head) < 2:
            raise InputError(foreign)
        at = AT_LINE.match(head[1])
        if at and at.group(1) == "t":
            return load_profile(f, head, name)
        if at and at.group(1) == "x":
            return load_history(f, head, name)
        if not head[1].strip() and any("time = " in line for line in head[2:]):
            return load_profiles(path, f, name, max_curves)
        raise InputError(foreign)
    except OSError as e:
        raise InputError(f"{name}: cannot read: {e.strerror or e}") from None
    finally:
        f.close()
