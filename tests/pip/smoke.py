"""The installed module against the program: it is imported from the
environment pip installed it into, its version is the program's, and one
profile (the quick-run defaults held 1 h) has the command line's numbers,
every one exactly; the plot tool's command is there with the same version.

    python3 smoke.py PROGRAM ENVIRONMENT
"""

import subprocess
import sys
from pathlib import Path


def run(*command):
    return subprocess.run(command, capture_output=True, text=True, check=True).stdout


def command_line_profile(program):
    """The header fields and the (x, c) rows of `diffusim profile --time 1h`."""
    header, rows = {}, []
    lines = run(program, "profile", "--time", "1h").splitlines()
    columns = lines.index("x_m,c")
    for line in lines[:columns]:
        key, _, value = line.lstrip("# ").partition(" = ")
        header[key] = value
    for line in lines[columns + 1:]:
        x, c = line.split(",")
        rows.append((float(x), float(c)))
    return header, rows


def main(program, environment):
    faults = []
    import diffusim

    where = Path(diffusim.__file__).resolve()
    if not where.is_relative_to(Path(environment).resolve()):
        faults.append(f"diffusim imported from {where}, not from the environment {environment}")

    version = run(program, "--version").split()[-1]
    if diffusim.__version__ != version:
        faults.append(f"diffusim.__version__ is {diffusim.__version__}, the program's {version}")

    header, rows = command_line_profile(program)
    p = diffusim.profile(diffusim.Schedule.constant(), "1h")
    if len(p.x) != len(rows):
        faults.append(f"{len(p.x)} points from Python, {len(rows)} from the command line")
    for i, ((x, c), px, pc) in enumerate(zip(rows, p.x, p.c)):
        if (x, c) != (px, pc):
            faults.append(f"point {i}: ({px!r}, {pc!r}) from Python, ({x!r}, {c!r}) from the "
                          "command line")
            break
    for key in ("steps", "uptake_g_per_m2"):
        if float(p.header[key]) != float(header[key]):
            faults.append(f"{key}: {p.header[key]!r} from Python, {header[key]} from the "
                          "command line")

    plot = Path(environment) / "bin" / "diffusim-plot"
    plot_version = run(str(plot), "--version").split()[-1] if plot.exists() else None
    if plot_version != version:
        faults.append(f"{plot}: version {plot_version}, the program's {version}")

    for fault in faults:
        print(f"pip_check: {fault}", file=sys.stderr)
    if faults:
        return 1
    print(f"diffusim {diffusim.__version__} from {where.parent}: the version and a "
          f"{len(rows)}-point profile (uptake {header['uptake_g_per_m2']} g/m2, "
          f"{header['steps']} steps) equal the command line's; diffusim-plot {plot_version}")
    return 0


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: smoke.py PROGRAM ENVIRONMENT")
    sys.exit(main(sys.argv[1], sys.argv[2]))
