"""What the drawings of every kind share: how numbers, times and swept
values read, the conditions of the run for a title, the compositions an
overlay takes, and the marks of a process cycle's stages."""

import re

from .common import HOURS_ABOVE_S


def fmt(value, digits=6):
    return f"{value:.{digits}g}"


def time_label(t, digits=6):
    return f"{fmt(t / 3600.0, 4)} h" if t > HOURS_ABOVE_S else f"{fmt(t, digits)} s"


def duration_label(seconds):
    for unit, size in (("h", 3600.0), ("min", 60.0)):
        if seconds >= size:
            return f"{fmt(seconds / size, 4)} {unit}"
    return f"{fmt(seconds, 4)} s"


def swept_label(name, value):
    """'T = 1173 K' or 'stage 2: 1 h' for a swept column and its value."""
    m = re.match(r"^stage(\d+)_duration_s$", name)
    if m:
        return f"stage {m.group(1)}: {duration_label(value)}"
    if name == "temperature_K":
        return f"T = {fmt(value)} K"
    return f"{name} = {fmt(value)}"


def conditions(result):
    """The temperature of the run for a title, or the number of stages of a
    cycle."""
    if len(result.stages) > 1:
        return f"{len(result.stages)}-stage cycle"
    if result.temperature is None:
        return "T not given"
    return f"T = {fmt(result.temperature)} K"


def chosen(overlay, option, given, default):
    """A composition for the overlay: the command line's first, then the
    file's own header, then the one read from the data."""
    value = getattr(overlay, option) if overlay else None
    value = given if value is None else value
    return default if value is None else value


def stage_of(stages, t):
    """The index of the stage that time t falls in; a time at a stage's end
    belongs to that stage."""
    for k, st in enumerate(stages):
        if t <= st.end * (1 + 1e-12):
            return k
    return len(stages) - 1


def mark_stages(ax, stages, scale, t_last):
    """A dotted vertical line at the end of each stage inside the time axis
    (0 to t_last), labelled with the stage that ends there; the stage that
    reaches the end of the axis is named there, without a line."""
    from matplotlib.transforms import blended_transform_factory
    if len(stages) < 2:
        return
    where = blended_transform_factory(ax.transData, ax.transAxes)
    start = 0.0
    for st in stages:
        if start >= t_last:
            break
        end = min(st.end, t_last)
        if end < t_last * (1 - 1e-12):
            ax.axvline(end / scale, color="0.35", ls=":", lw=1.3, zorder=1,
                       gid=f"stage{st.number}.end")
        ax.text(end / scale, 0.03, f"{st.label()} ", transform=where, rotation=90,
                ha="right", va="bottom", fontsize=8, color="0.25", zorder=3,
                bbox=dict(boxstyle="square,pad=0.1", fc="white", ec="none", alpha=0.75))
        start = st.end

