"""The command line of diffusim-plot: its options and help, and the
command that reads a file, draws it and shows or writes the plot."""

import argparse
import os
import sys

from .common import DEFAULT_MAX_CURVES, PROG, VERSION, InputError, UsageError
from .draw import draw
from .loader import load
from .overlays import overlay_from

HELP_EPILOG = """\
Files
  The kind of file is recognised from its content, not its name; both CR LF
  and LF line ends are read.
    Result_dt.txt   one profile: C(B) against depth, at the time in its header
    Result.txt      a profile per step: a family of curves coloured by time
                    (see the colour bar), thinned to at most --max-curves
                    curves, always with the first and the last step
    Result_dx.txt   the history at one depth: C(B) against time
  and the CSV (first line '# diffusim VERSION') or JSON (an object with
  "program": "diffusim") of the commands
    diffusim profile    columns x_m,c: one profile, like Result_dt.txt
    diffusim profiles   columns t_s,x_m,c: profiles every DT, like Result.txt
                        (of a cylinder or sphere r_m follows x_m: x_m,r_m,c;
                        with a hardness table HV follows c: x_m,c,HV)
    diffusim history    columns t_s,c: the history at one depth
    diffusim depth      columns t_s,depth_m: the case depth against time; a
                        sweep (leading columns such as temperature_K,
                        stage2_duration_s or --sweep's stage1_temperature_K)
                        gives a curve per combination of the swept values,
                        each labelled by its key; nan (null) rows are gaps
    diffusim time       column t_s: drawn against the swept value when one
                        was swept; otherwise there is nothing to plot (exit 1)
    diffusim profile --samples N
                        x_m,c_p05,c_p25,c_p50,c_p75,c_p95: the median profile
                        in its 25-75 % and 5-95 % bands, and below the bands
                        less the median
    diffusim depth|time --samples N
                        quantile,depth_m (or time_s): the 5-95 % and 25-75 %
                        bands and the median on the depth (time) axis, with
                        the share of samples below each quantile
    diffusim fit ... --format json
                        the data and the fitted profile at each of their
                        times, the residuals in a panel below, the values
                        found and their 95 % intervals in the title
    diffusim design ... --format json
                        the recipe's stages (temperature, and the surface's
                        composition or potential, against time; the varied
                        stages shaded) above the profile it reaches, with the
                        surface and case depth targets marked
  A fit's or a design's CSV holds only its table: draw its JSON.

Units
  A run of carbon in steel, whose header names a steel's diffusivity model
  (model = tibbetts or slycke-ericsson) or a steel's density, alloy factor
  or hardness table, is drawn in carbon wt %, depths in mm and temperatures
  in °C; any other in fractions of B, µm and K.

Process cycles
  A file of a run with a schedule records its stages (stageN.end,
  stageN.surface). A history or a depth against time gets a dotted line at
  the end of each stage within the time axis, labelled with the stage and
  its surface (composition, transfer, sealed, or flux with its limit: flux
  → 1.25 %). Labels never overlap: a run of repeated stages too close to
  name one by one is named once (stages 2–25: 12 pulses: flux → 1.25 % /
  sealed), and any other label that would overlap the one before is left
  out, until zooming in makes room. In a family of profiles each stage has
  its own line style, named in the legend, and its ends are marked on the
  colour bar. Where a swept stage duration moves the ends, they are marked
  by diamonds on each depth curve instead. A stage whose temperature is
  ramped (stageN.temperature_from and _to) is shaded over its span on a time
  axis and hatched on the colour bar, and its label gives the ramp (stage 1:
  composition, 1123.15→1203.15 K).

Hardness and uptake
  A profile with an HV column has the hardness on a second axis at the
  right, dashed in the colour of its profile; of a family, the last
  profile's only, named in the legend. The uptake_g_per_m2 of the header
  ends the title (uptake 24.5 g/m²). A case depth of depth --hardness is
  titled "Effective case depth to 550 HV (C = 0.003)".

Axes
  Depth is measured from the surface, in micrometres. Result_dt.txt and
  Result.txt print distances rounded to 1e-6 m, so the plot uses index * dx,
  with dx fitted by least squares to the whole distance column; the CSV and
  JSON give the depths exactly and are plotted as they are. A cylinder or
  sphere (geometry, radius and, if hollow, inner_radius in the header) is
  measured inward from its outer surface, in millimetres from 1 mm radius on,
  and a profile of it has the radius r = R - x along the top. Profiles are
  cut off a little beyond the depth where they are flat, unless --full-depth
  is given. Time is in seconds, or in hours when the last time is beyond two
  hours. The case depth is in millimetres from 1 mm on, in micrometres below.

Analytic overlay (dashed)
  With --A and --B (D = A exp(B / (R T)), R = 8.3144 J/(mol K), T from the
  file) or with --D, the solution for a semi-infinite solid
      C(x, t) = C0 + (Cs - C0) erfc(x / (2 sqrt(D t)))
  is drawn over the profiles (every curve of Result.txt) or, for a history,
  over time at the depth of the file. Cs is taken from row 0 (the injection
  face); C0 from the deepest row of Result_dt.txt, or from the far face of the
  first step of Result.txt. Result_dx.txt holds no profile: C0 is its first
  value (the point keeps C0 until the profile arrives; the first interior
  point, which moves at once, has it worked back from that step) and Cs is
  diffusim's default 0.05 unless --Cs is given. The CSV and JSON record c0
  and cs (or the initial composition and the composition held by the one
  stage of a schedule), which are used instead. --C0 and --Cs override any
  of these. The overlay is refused for a cycle of several stages, a surface
  that is not held at a composition or a ramped temperature, and for depth
  and time; over a cylinder or sphere it is drawn with a warning that it is
  the solution of a flat surface. A history of Result_dx.txt is compared at
  the grid point diffusim really reported, the first one at or beyond the
  distance asked for, found from D and the time step; one of the CSV or JSON
  at the depth it gives. When the profile reaches the far face of the
  specimen the overlay is only approximate; a warning says so.

Output and exit status
  With -o the plot goes to a PNG or SVG file, by its extension. Without -o a
  window opens; where there is no display the tool says so and exits 2.
  0: plotted; 1: the file cannot be read, is empty, is not a diffusim result
  file or is damaged, holds nothing to plot, or the image cannot be written;
  2: a wrong command line or no display. Errors are told in one line on standard error.
"""


class _Parser(argparse.ArgumentParser):
    def error(self, message):
        raise UsageError(f"{message} (see --help)")


def build_parser():
    p = _Parser(prog=PROG, formatter_class=argparse.RawDescriptionHelpFormatter,
                description="Plot a result file of diffusim: Result_dt.txt, Result.txt, "
                            "Result_dx.txt,\nor the CSV or JSON of a diffusim command "
                            "(profile, profiles, history, depth, time,\n--samples, "
                            "and the JSON of fit and design).",
                epilog=HELP_EPILOG)
    p.add_argument("--version", action="version", version=f"{PROG} {VERSION}")
    p.add_argument("file", metavar="FILE", help="the result file to plot")
    p.add_argument("-o", "--output", metavar="OUT",
                   help="write the plot to OUT.png or OUT.svg instead of opening a window")
    p.add_argument("--A", dest="a", type=float, metavar="A",
                   help="pre-factor A of D = A exp(B/RT), m^2/s (with --B)")
    p.add_argument("--B", dest="b", type=float, metavar="B",
                   help="exponent B of D = A exp(B/RT), J/mol, usually negative (with --A)")
    p.add_argument("--D", dest="d", type=float, metavar="D",
                   help="diffusion coefficient D, m^2/s (instead of --A and --B)")
    p.add_argument("--C0", dest="c0", type=float, metavar="C0",
                   help="initial composition for the overlay")
    p.add_argument("--Cs", dest="cs", type=float, metavar="CS",
                   help="injection composition for the overlay")
    p.add_argument("--max-curves", type=int, default=DEFAULT_MAX_CURVES, metavar="K",
                   help="most profiles drawn from Result.txt or profiles output "
                        f"(default {DEFAULT_MAX_CURVES})")
    p.add_argument("--full-depth", action="store_true",
                   help="show the whole specimen depth, flat part included")
    p.add_argument("--title", help="title instead of the one made from the file")
    return p


def _output_format(path):
    ext = os.path.splitext(path)[1].lower()
    if ext not in (".png", ".svg"):
        raise UsageError(f"cannot write '{path}': the output must end in .png or .svg")
    return ext[1:]


def _has_display():
    if sys.platform in ("darwin", "win32"):
        return True
    return bool(os.environ.get("DISPLAY") or os.environ.get("WAYLAND_DISPLAY"))


def main(argv=None):
    try:
        args = build_parser().parse_args(argv)
        if args.max_curves < 2:
            raise UsageError("--max-curves must be at least 2 (the first and the last step)")
        fmt = _output_format(args.output) if args.output else None
        # A file that cannot be plotted is reported before anything about windows.
        result = load(args.file, args.max_curves)
        if fmt is None and not _has_display():
            raise UsageError("no display to open a window on; write a file with -o OUT.png")

        import matplotlib
        if fmt is not None:
            matplotlib.use("Agg")
        else:
            import matplotlib.pyplot as plt
            if matplotlib.get_backend().lower() in (
                    "agg", "svg", "pdf", "ps", "cairo", "pgf", "template"):
                where = os.environ.get("DISPLAY") or os.environ.get("WAYLAND_DISPLAY") or "?"
                raise UsageError(f"cannot open a window on display {where}: no interactive "
                                 "matplotlib backend starts there (python3-tk provides one); "
                                 "write a file with -o OUT.png")

        overlay = overlay_from(args, result)
        if fmt is None:
            try:
                fig = plt.figure(figsize=(8, 5))
            except Exception as e:  # a display that cannot be reached
                raise UsageError(f"cannot open a window: {str(e).splitlines()[0]}") from None
        else:
            from matplotlib.figure import Figure
            fig = Figure(figsize=(8, 5), dpi=100)
        draw(result, fig, overlay, args.title, args.full_depth, args.file)
        if fmt is None:
            plt.show()
        else:
            try:
                fig.savefig(args.output, format=fmt)
            except OSError as e:
                raise InputError(f"{args.output}: cannot write: {e.strerror or e}") from None
        return 0
    except UsageError as e:
        print(f"{PROG}: {e}", file=sys.stderr)
        return 2
    except InputError as e:
        print(f"{PROG}: {e}", file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        return 130

