"""What every part of diffusim-plot shares: its name, the constants of
diffusim it relies on, the kinds of file, and the two ways of failing."""

import sys

import numpy as np

PROG = "diffusim-plot"
VERSION = "1.0.0"
GAS_CONSTANT = 8.3144          # R, J/(mol K): the value diffusim itself uses
PRINT_HALF_STEP = 0.5e-6       # distances are printed in metres with six decimals
DEFAULT_MAX_CURVES = 12
HOURS_ABOVE_S = 2 * 3600.0     # times beyond two hours read better in hours
PROGRAM_DEFAULT_CS = 0.05      # diffusim's default injection composition
MESH_RATIO = 0.25              # D dt / dx^2, fixed in diffusim

PROFILE, PROFILES, HISTORY = "profile", "profiles", "history"
DEPTH, TIME = "depth", "time"
SPREAD, PROFILE_SPREAD, FIT, DESIGN = "spread", "profile spread", "fit", "design"
POTENTIAL = "potential"
PLATE, CYLINDER, SPHERE = "plate", "cylinder", "sphere"     # the specimen's geometry
STAGE_STYLES = ("-", "--", "-.", ":")     # the profiles of stage 1, 2, 3, 4, 5, ...


class InputError(Exception):
    """A file that cannot be plotted; reported in one line, exit status 1."""


class UsageError(Exception):
    """A command line that cannot be carried out; one line, exit status 2."""


def warn(message):
    print(f"{PROG}: warning: {message}", file=sys.stderr)


def parse_number(text, what, where):
    try:
        value = float(text)
    except ValueError:
        raise InputError(f"{where}: {what} '{text}' is not a number") from None
    return value


def check_rising(values, what, locate):
    """An error at the first of values that does not exceed the one before;
    locate(k) names the k-th."""
    bad = np.flatnonzero(np.diff(values) <= 0)
    if len(bad):
        raise InputError(f"{locate(int(bad[0]) + 1)}: {what} does not increase")
