"""Plot the result files that diffusim writes.

Reads Result_dt.txt (one profile), Result.txt (profiles step after step) or
Result_dx.txt (the history at one depth) of the interactive program, and the
CSV or JSON that its commands (profile, profiles, history, depth, time)
write, with the stages of a process cycle and its temperature ramps marked,
a cylinder's or sphere's radius beside the depth and the hardness beside
the composition where the file has them; tells them apart by
their content and draws them with matplotlib, optionally with the analytic
erfc solution for a semi-infinite solid laid over the simulation.

The parts: results (what a file holds once read), readers_legacy and
readers_table (the menu's Result*.txt, the commands' CSV and JSON) with
readers_header (their stages and specimen), loader (which is which),
overlays (the erfc solution), labels and stage_marks (what the drawings
share), draw_* (one drawing per kind, draw choosing among them) and cli
(the command).
matplotlib is only imported once something is drawn.
"""

from .cli import build_parser, main
from .common import (DEFAULT_MAX_CURVES, DEPTH, GAS_CONSTANT, HISTORY, PROFILE, PROFILES, PROG,
                     TIME, VERSION, InputError, UsageError, warn)
from .draw import draw
from .loader import load
from .overlays import (Overlay, diffusivity, erfc_solution, far_face_share,
                       history_grid_point)
from .readers_legacy import fit_through_origin
from .results import (DepthTable, History, Profile, Profiles, Specimen, Stage, TimeTable,
                      thin_indices)
from .stage_marks import repeated_runs, run_label

__all__ = [
    "DEFAULT_MAX_CURVES", "DEPTH", "GAS_CONSTANT", "HISTORY", "PROFILE", "PROFILES", "PROG",
    "TIME", "VERSION", "InputError", "UsageError", "warn",
    "DepthTable", "History", "Profile", "Profiles", "Specimen", "Stage", "TimeTable",
    "load", "fit_through_origin", "thin_indices", "repeated_runs", "run_label",
    "Overlay", "diffusivity", "erfc_solution", "far_face_share", "history_grid_point",
    "draw", "build_parser", "main",
]
