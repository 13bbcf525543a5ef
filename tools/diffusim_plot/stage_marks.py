"""The stages of a process cycle marked on a time axis: a dotted line at the
end of each, a ramped stage shaded over its span, and labels that never
overlap. Which labels show is settled each time the plot is drawn, from the
room between them on the screen: a run of stages that repeats one pattern
(twelve pulses of a flux stage and a sealed one) is named once where its
stages are too close to name one by one, and a label that would overlap
the one before it is left out. Zoomed in, they come back."""

import functools

from .labels import stage_start

RAMP_COLOUR = "C1"      # the span of a stage whose temperature is ramped
LABEL_SIZE = 8          # points
LABEL_PAD = 0.1         # the label's white box around the text, in font sizes
LABEL_GAP = 1.5         # the least room left between two labels' boxes, in points
LONGEST_PATTERN = 4     # stages in the longest pattern recognised as repeated


def repeated_runs(stages, longest=LONGEST_PATTERN):
    """(first, period, count) of each run of stages that repeats a pattern
    of `period` stages `count` times, at least twice, taken from the left
    and each as long as it goes. Stages are alike when they describe alike
    (surface, limit, ramp), whatever their durations."""
    kinds = [st.describe() for st in stages]
    runs, k = [], 0
    while k < len(kinds):
        covered, period = 0, 1
        for p in range(1, longest + 1):
            pattern, n = kinds[k:k + p], 1
            while k + (n + 1) * p <= len(kinds) and kinds[k + n * p:k + (n + 1) * p] == pattern:
                n += 1
            if n >= 2 and n * p > covered:     # the shortest pattern on a tie
                covered, period = n * p, p
        if covered:
            runs.append((k, period, covered // period))
        k += max(covered, 1)
    return runs


def run_label(stages, first, period, count):
    """'stages 2–25: 12 pulses: flux → 1.25 % / sealed', '3 × sealed' for a
    pattern of one stage."""
    pattern = " / ".join(st.describe() for st in stages[first:first + period])
    what = f"{count} pulses: {pattern}" if period > 1 else f"{count} × {pattern}"
    last = stages[first + period * count - 1]
    return f"stages {stages[first].number}–{last.number}: {what}"


def mark_stages(ax, stages, scale, t_last):
    """A dotted vertical line at the end of each stage inside the time axis
    (0 to t_last), labelled with the stage that ends there; the stage that
    reaches the end of the axis is named there, without a line. A stage
    whose temperature is ramped is shaded over its span, and its label
    gives the ramp; a single stage is only marked if it is a ramp. A run of
    repeated stages has a label of its own too, at its end, shown instead of
    its stages' where they crowd."""
    from matplotlib.transforms import blended_transform_factory
    if len(stages) < 2 and not any(st.ramp for st in stages):
        return
    where = blended_transform_factory(ax.transData, ax.transAxes)

    def label(x, text):
        return ax.text(x, 0.03, f"{text} ", transform=where, rotation=90, ha="right",
                       va="bottom", fontsize=LABEL_SIZE, color="0.25", zorder=3,
                       bbox=dict(boxstyle=f"square,pad={LABEL_PAD}", fc="white", ec="none",
                                 alpha=0.75))

    singles = []
    start = 0.0
    for k, st in enumerate(stages):
        if start >= t_last:
            break
        end = min(st.end, t_last)
        if st.ramp:
            ax.axvspan(max(stage_start(stages, k), 0.0) / scale, end / scale, lw=0,
                       color=RAMP_COLOUR, alpha=0.15, zorder=0, gid=f"stage{st.number}.ramp")
        if end < t_last * (1 - 1e-12):
            ax.axvline(end / scale, color="0.35", ls=":", lw=1.3, zorder=1,
                       gid=f"stage{st.number}.end")
        singles.append(label(end / scale, st.label()))
        start = st.end
    runs = []
    for first, period, count in repeated_runs(stages[:len(singles)]):
        members = singles[first:first + period * count]
        runs.append((label(members[-1].get_position()[0],
                           run_label(stages, first, period, count)), members))
    chooser = _label_chooser()(singles, runs)
    ax.add_artist(chooser)


def _crowded(xs, room):
    return any(b - a < room for a, b in zip(xs, xs[1:]))


def choose_labels(singles, runs, at, room, left, right):
    """The labels to show: each run's own where its stages' labels would
    crowd, its stages' otherwise, then of these, from the left, each one
    that fits between left and right and keeps clear of the last one kept.
    at(label) is where the label's right edge lies, in pixels; with its box
    and the gap after it, a label takes up room to the left of that."""
    grouped = {id(m) for _, members in runs for m in members}
    candidates = [s for s in singles if id(s) not in grouped]
    for own, members in runs:
        candidates += [own] if _crowded([at(m) for m in members], room) else members
    kept, last = [], None
    for x, label in sorted(((at(c), c) for c in candidates), key=lambda pair: pair[0]):
        if left + room <= x <= right + 0.5 and (last is None or x - last >= room):
            kept.append(label)
            last = x
    return kept


@functools.lru_cache(maxsize=None)
def _label_chooser():
    """The artist that settles which labels show, drawn just before them;
    a class made on first use, as matplotlib is only imported then."""
    from matplotlib.artist import Artist

    class StageLabelChooser(Artist):
        zorder = 2.9        # before the labels (3), after the lines

        def __init__(self, singles, runs):
            super().__init__()
            self.singles, self.runs = singles, runs
            self.set_in_layout(False)

        def draw(self, renderer):
            if not self.get_visible() or not self.singles:
                return
            probe = self.singles[0]
            _, thickness, _ = renderer.get_text_width_height_descent(
                "lp", probe.get_fontproperties(), ismath=False)
            room = thickness + renderer.points_to_pixels(
                2 * LABEL_PAD * probe.get_size() + LABEL_GAP)
            box = self.axes.bbox

            def at(label):
                return label.get_transform().transform(label.get_position())[0]

            kept = {id(k) for k in choose_labels(self.singles, self.runs, at, room,
                                                 box.x0 - 0.5, box.x1)}
            for label in self.singles + [own for own, _ in self.runs]:
                if label.get_visible() != (id(label) in kept):
                    label.set_visible(id(label) in kept)

    return StageLabelChooser
