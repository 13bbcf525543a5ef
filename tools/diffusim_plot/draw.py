"""Drawing a result that has been read: the axes every kind shares, then
the drawing of its kind, then the title, in two lines if one is too wide."""

from .common import (DEPTH, DESIGN, FIT, HISTORY, POTENTIAL, PROFILE, PROFILE_SPREAD, PROFILES,
                     SPREAD, TIME)
from .draw_furnace import draw_potential
from .draw_history import draw_history
from .draw_inverse import draw_design, draw_fit
from .draw_profiles import draw_profile, draw_profiles
from .draw_spread import draw_profile_spread, draw_spread
from .draw_tables import draw_depth, draw_time

# Each takes (result, fig, ax, overlay, full_depth, name) and returns the
# title made from the file.
DRAWERS = {
    PROFILE: draw_profile,
    PROFILES: draw_profiles,
    HISTORY: draw_history,
    DEPTH: draw_depth,
    TIME: draw_time,
}
TITLE_CHARACTERS = 88     # of a title at 11 points across a figure 8 inches wide

# The answers beyond one run make their own axes, one or two: each takes
# (result, fig) and returns the axes that carry the title, and the title.
ANSWERS = {
    SPREAD: draw_spread,
    PROFILE_SPREAD: draw_profile_spread,
    FIT: draw_fit,
    DESIGN: draw_design,
    POTENTIAL: draw_potential,
}


def draw(result, fig, overlay=None, title=None, full_depth=False, name=""):
    """Draw a loaded result onto a matplotlib figure; returns the axes that
    carry the title."""
    if result.kind in ANSWERS:
        # Panels and a second axis: laid out as a whole when drawn.
        fig.set_layout_engine("constrained")
        ax, default_title = ANSWERS[result.kind](result, fig)
        ax.grid(True, alpha=0.3)
        ax.set_title(title if title is not None else _wrapped(default_title), fontsize=11)
        return ax
    else:
        ax = fig.add_subplot(1, 1, 1)
        # With nitrogen the axis holds both species' compositions.
        ax.set_ylabel(result.units.c_axis if getattr(result, "nitrogen", None) is None
                      else "carbon, nitrogen (wt %)" if result.units.steel
                      else "carbon, nitrogen (fraction)")
        ax.grid(True, alpha=0.3)
        default_title = DRAWERS[result.kind](result, fig, ax, overlay, full_depth, name)
        # A nearly flat curve would otherwise get ticks like 2e-7 and an offset
        # "+1.00001e-2" above the axis: every tick reads in full instead.
        ax.ticklabel_format(axis="y", style="plain", useOffset=False)
    ax.set_title(title if title is not None else default_title, fontsize=11)
    fig.tight_layout()
    if title is None:
        _fit_title(fig, ax, default_title)
    return ax


def _wrapped(title, width=TITLE_CHARACTERS):
    """A title broken at commas into lines of at most `width` characters
    (a longer part has a line of its own)."""
    lines = [""]
    for part in title.split(", "):
        joined = f"{lines[-1]}, {part}" if lines[-1] else part
        if len(joined) > width and lines[-1]:
            lines[-1] += ","
            lines.append(part)
        else:
            lines[-1] = joined
    return "\n".join(lines)


def _fit_title(fig, ax, title):
    """A title made from the file that is wider than the figure, broken in
    two at the comma nearest its end that lets the first line fit."""
    def fits():
        box = ax.title.get_window_extent()
        return fig.bbox.x0 <= box.x0 and box.x1 <= fig.bbox.x1
    parts = title.split(", ")
    for k in range(len(parts) - 1, 0, -1):
        if fits():
            return
        ax.set_title(", ".join(parts[:k]) + ",\n" + ", ".join(parts[k:]), fontsize=11)
        fig.tight_layout()
