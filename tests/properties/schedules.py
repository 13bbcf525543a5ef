"""Random valid process schedules for the property tests, and what every
property needs to run them: the program, its CSV, the bounds a schedule's
conditions set.

`schedules()` draws every shape (plate, two-faced plate, cylinder, sphere,
tube, hollow sphere), every law (constant, D(C), tibbetts, slycke-ericsson,
with or without an alloy factor), every surface (held, transfer, flux with and
without a limit, sealed) and back face (held, transfer, sealed), ramps and
repeat groups, and with `nitrogen=True` a second species: nitrogen's law
(Bohnekamp's or a constant one), its initial composition and each stage's
nitrogen surface (held, transfer, sealed). Keyword arguments narrow the draw
for a property that needs it. Sizes stay small (10 to 60 sections, a few stages) and the specimen is
sized to the diffusion length of the whole schedule, so each run takes
milliseconds and its profile reaches well into the specimen without filling
it from the first step.
"""

from dataclasses import dataclass, field, replace
import csv
import io
import math
import os
import subprocess

from hypothesis import assume, strategies as st

import diffusim

PROGRAM = os.environ.get("DIFFUSIM", "diffusim")

SHAPES = ("plate", "two-faced plate", "cylinder", "sphere", "tube", "hollow sphere")
LAWS = ("constant", "D(C)", "tibbetts", "slycke-ericsson")
SURFACES = ("held", "transfer", "atmosphere", "flux", "limited flux", "sealed")
# None: no back key (sealed by default)
BACKS = ("held", "transfer", "atmosphere", "sealed", None)

R = 8.3144


@dataclass(frozen=True)
class Face:
    kind: str  # held, transfer, atmosphere, flux, sealed
    composition: float = 0.0
    potential: float = 0.0
    beta: float = 0.0
    flux: float = 0.0
    limit: float = None
    co: float = None  # an atmosphere's CO, with its CO2 or its probe's mV
    co2: float = None
    probe: float = None

    def gas(self):
        """An atmosphere's parts as diffusim.potential takes them."""
        return ({"co2": self.co2} if self.probe is None else {"probe_mV": self.probe})

    def potentials(self, *temperatures):
        """An atmosphere's potential at each temperature (K)."""
        return list(diffusim.potential(list(temperatures), self.co, **self.gas())["potential"])

    def toml(self):
        if self.kind == "sealed":
            return '"sealed"'
        if self.kind == "held":
            return f"{{ composition = {self.composition!r} }}"
        if self.kind == "transfer":
            return f"{{ potential = {self.potential!r}, beta = {self.beta!r} }}"
        if self.kind == "atmosphere":
            part = (f"CO2 = {self.co2!r}" if self.probe is None else f"probe_mV = {self.probe!r}")
            return f"{{ atmosphere = {{ CO = {self.co!r}, {part} }}, beta = {self.beta!r} }}"
        limit = "" if self.limit is None else f", limit = {self.limit!r}"
        return f"{{ flux = {self.flux!r}{limit} }}"


@dataclass(frozen=True)
class Stage:
    duration: float
    temperature: float
    surface: Face
    temperature_to: float = None  # a ramp from temperature to temperature_to
    back: Face = None
    nitrogen: Face = None  # nitrogen's surface, in a schedule with nitrogen

    def toml(self):
        if self.temperature_to is None:
            temperature = repr(self.temperature)
        else:
            temperature = f"{{ from = {self.temperature!r}, to = {self.temperature_to!r} }}"
        # Whole minutes sometimes with their unit, so the units reach the runs too.
        duration = repr(self.duration)
        if self.duration % 60 == 0 and int(self.duration) % 7 == 0:
            duration = f'"{int(self.duration) // 60}min"'
        back = "" if self.back is None else f", back = {self.back.toml()}"
        nitrogen = "" if self.nitrogen is None else f", nitrogen = {self.nitrogen.toml()}"
        return (f"{{ duration = {duration}, temperature = {temperature}, "
                f"surface = {self.surface.toml()}{back}{nitrogen} }}")

    def mean_temperature(self):
        return self.temperature if self.temperature_to is None else \
            0.5 * (self.temperature + self.temperature_to)


@dataclass(frozen=True)
class Group:
    repeat: int
    items: tuple

    def toml(self):
        return (f"{{ repeat = {self.repeat}, stages = [ "
                + ", ".join(i.toml() for i in self.items) + " ] }")


def flatten(items):
    out = []
    for item in items:
        if isinstance(item, Group):
            out.extend(flatten(item.items) * item.repeat)
        else:
            out.append(item)
    return out


@dataclass(frozen=True)
class Plan:
    """A drawn schedule: the specimen, the law and the stages (items may be
    groups); `text()` is its TOML, `stages()` the stages as they run."""
    shape: str
    size: float  # a plate's length, a curved specimen's radius
    inner: float  # a tube's or hollow sphere's inner radius; 0 otherwise
    sections: int
    initial: float
    law: dict = field(default_factory=dict)
    alloy_factor: float = None
    density: float = None
    items: tuple = ()
    nitrogen: dict = None  # nitrogen's law (model or A, B) and "initial"

    def stages(self):
        return flatten(self.items)

    def end(self):
        return sum(s.duration for s in self.stages())

    def with_stages(self, stages):
        """The same specimen and law with these stages, written out one by one."""
        return replace(self, items=tuple(stages))

    def with_sections(self, sections):
        return replace(self, sections=sections)

    def text(self):
        lines = ["[specimen]"]
        if self.shape in ("plate", "two-faced plate"):
            lines.append(f"length = {self.size!r}")
        else:
            lines.append(f'geometry = "{"cylinder" if self.shape in ("cylinder", "tube") else "sphere"}"')
            lines.append(f"radius = {self.size!r}")
            if self.inner > 0:
                lines.append(f"inner_radius = {self.inner!r}")
        lines.append(f"sections = {self.sections}")
        lines.append(f"initial = {self.initial!r}")
        if self.alloy_factor is not None:
            lines.append(f"alloy_factor = {self.alloy_factor!r}")
        if self.density is not None:
            lines.append(f"density = {self.density!r}")
        lines.append("[diffusivity]")
        lines += [f"{k} = {v!r}" if not isinstance(v, str) else f'{k} = "{v}"'
                  for k, v in self.law.items()]
        if self.nitrogen is not None:
            lines.append("[nitrogen]")
            lines += [f"{k} = {v!r}" if not isinstance(v, str) else f'{k} = "{v}"'
                      for k, v in self.nitrogen.items()]
        for item in self.items:
            lines.append("[[stage]]")
            if isinstance(item, Group):
                lines.append(f"repeat = {item.repeat}")
                lines.append("stages = [\n  " + ",\n  ".join(i.toml() for i in item.items)
                             + ",\n]")
            else:
                # A plain stage as keys of its table, as a user writes it.
                inline = item.toml()[2:-2]
                lines += [part.strip() for part in split_top(inline)]
        return "\n".join(lines) + "\n"

    def carbon_alone(self):
        """The plan without nitrogen."""
        return replace(self, nitrogen=None, items=tuple(
            replace(s, nitrogen=None) for s in self.stages()))

    def nitrogen_alone(self):
        """Nitrogen's schedule written as a schedule of its own: its law in
        [diffusivity] (Bohnekamp's as its constants), its initial composition,
        its surfaces, the back faces sealed, no alloy factor."""
        law = {k: v for k, v in self.nitrogen.items() if k != "initial"}
        if law.get("model") == "bohnekamp":
            law = {"A": 2.0e-5, "B": -150624.0}
        return replace(self, nitrogen=None, law=law, alloy_factor=None,
                       initial=self.nitrogen.get("initial", 0.0),
                       items=tuple(replace(s, surface=s.nitrogen, nitrogen=None,
                                           back=None if s.back is None else Face("sealed"))
                                   for s in self.stages()))

    def schedule(self):
        """The module's Schedule; a schedule the program refuses is assumed away."""
        try:
            return diffusim.parse_schedule(self.text(), "drawn.toml")
        except diffusim.ScheduleError:
            assume(False)

    # The bounds a run's compositions keep to: no condition sets a value below
    # the lowest it imposes, nor above the highest where every inflow has a
    # bound (a flux without a limit has none).
    def imposed(self):
        values = [self.initial]
        factor = 1.0 if self.alloy_factor is None else self.alloy_factor
        unbounded = False
        for s in self.stages():
            for face in (s.surface, s.back):
                if face is None or face.kind == "sealed":
                    continue
                if face.kind == "held":
                    values.append(face.composition)
                elif face.kind == "transfer":
                    values.append(face.potential / factor)
                elif face.kind == "atmosphere":
                    # Monotonic in the temperature: a ramp's ends bound it.
                    ends = (s.temperature, s.temperature if s.temperature_to is None
                            else s.temperature_to)
                    values.extend(p / factor for p in face.potentials(*ends))
                elif face.limit is not None:
                    values.append(face.limit)
                elif face.flux > 0:
                    unbounded = True
        return min(values), (math.inf if unbounded else max(values))


def split_top(text):
    """`a = 1, b = { c = 2, d = 3 }` into its top-level `key = value` parts."""
    parts, depth, start = [], 0, 0
    for k, ch in enumerate(text):
        if ch in "{[":
            depth += 1
        elif ch in "}]":
            depth -= 1
        elif ch == "," and depth == 0:
            parts.append(text[start:k])
            start = k + 1
    parts.append(text[start:])
    return parts


def diffusivity(law, temperature, c):
    """Roughly the law's D at a temperature and composition, m^2/s: only to
    size the specimen to the schedule."""
    if law.get("model") == "slycke-ericsson":
        x = c / (c + (1 - c) * 12.011 / 55.845)
        return 4.84e-5 * math.exp(-38 * x) / (1 - 5 * x) * math.exp(
            -(155000 - 570000 * x) / (R * temperature))
    if law.get("model") == "tibbetts":
        A, B, a, b = 4.7e-5, -154808.0, -160.0, 2761400.0
    else:
        A, B = law["A"], law["B"]
        a, b = law.get("a", 0.0), law.get("b", 0.0)
    return A * math.exp(a * c) * math.exp((B + b * c) / (R * temperature))


def rounded(x, digits=4):
    """x to a few significant digits: schedules as a person writes them."""
    return float(f"{x:.{digits - 1}e}")


composition = st.floats(0.0005, 0.013).map(lambda v: rounded(v, 3))
temperature = st.integers(1123, 1273).map(float)


@st.composite
def laws(draw, kinds=LAWS):
    kind = draw(st.sampled_from(kinds))
    if kind == "slycke-ericsson":
        return {"model": "slycke-ericsson"}
    if kind == "tibbetts":
        return {"model": "tibbetts"}
    A = rounded(draw(st.floats(1e-5, 1e-4)), 3)
    B = float(draw(st.integers(-160000, -145000)))
    if kind == "constant":
        return {"A": A, "B": B}
    return {"A": A, "B": B, "a": float(draw(st.integers(-200, 0))),
            "b": float(draw(st.integers(0, 3000000)))}


@st.composite
def faces(draw, kinds, initial, back=False, strong=False):
    kind = draw(st.sampled_from(kinds))
    if kind is None:
        return None
    if kind == "held":
        return Face("held", composition=draw(composition))
    if kind == "transfer":
        return Face("transfer", potential=draw(composition),
                    beta=rounded(draw(st.floats(1e-8, 5e-7)), 3))
    if kind == "atmosphere":
        # Potentials of about 0.4 % to 1.2 % at 850 C to 1000 C.
        co = rounded(draw(st.floats(0.15, 0.25)), 3)
        beta = rounded(draw(st.floats(1e-8, 5e-7)), 3)
        if draw(st.booleans()):
            return Face("atmosphere", co=co, probe=float(draw(st.integers(1080, 1160))), beta=beta)
        return Face("atmosphere", co=co, co2=rounded(draw(st.floats(0.002, 0.01)), 3), beta=beta)
    if kind == "sealed":
        return Face("sealed")
    if kind == "flux":
        # Without a limit nothing bounds the surface: a weak flux keeps it
        # within the laws' range.
        # within the laws' range; a strong one carries it far above the
        # initial composition within a stage or two.
        most = 3e-5 if strong else 5e-6
        return Face("flux", flux=rounded(draw(st.floats(1e-7, most)), 3))
    limit = draw(st.floats(max(0.006, 1.5 * initial), 0.0125).map(lambda v: rounded(v, 3)))
    return Face("flux", flux=rounded(draw(st.floats(1e-6, 1e-4)), 3), limit=limit)


@st.composite
def stages(draw, surfaces, backs, initial, ramps, fixed=None, strong=False):
    """One stage. `fixed`: the face every surface (and any back) holds."""
    short = fixed is None and draw(st.booleans())
    duration = float(draw(st.integers(1, 20) if short else st.integers(10, 240))) * 60.0
    t = draw(temperature)
    t_to = draw(temperature) if ramps and draw(st.integers(0, 3)) == 0 else None
    surface = fixed or draw(faces(surfaces, initial, strong=strong))
    back = None
    if backs:
        back = draw(faces(backs, initial, back=True))
        if fixed is not None and back is not None and back.kind != "sealed":
            back = fixed
    return Stage(duration, t, surface, t_to, back)


@st.composite
def schedules(draw, shapes=SHAPES, laws_=LAWS, surfaces=SURFACES, backs=BACKS, ramps=True,
              groups=True, most_stages=4, sections=(10, 60), even=False, held=False,
              alloy=True, strong_flux=False):
    """A valid schedule as a Plan.

    strong_flux: a flux without a limit may carry the surface far above the
    initial composition (not cut to what keeps an explicit run short).

    held: every stage holds the surface (and any back face given) at one
    composition above the initial, so the composition at every depth rises
    with time.
    """
    shape = draw(st.sampled_from(shapes))
    two_faced = shape in ("two-faced plate", "tube", "hollow sphere")
    initial = draw(st.floats(0.001, 0.004).map(lambda v: rounded(v, 3)))
    fixed = None
    if held:
        fixed = Face("held", composition=draw(st.floats(initial + 0.003, 0.013).map(
            lambda v: rounded(v, 3))))
    back_kinds = list(backs) if two_faced else None
    if back_kinds is not None and held:
        back_kinds = [b for b in back_kinds if b in ("held", "sealed", None)] or [None]

    def stage():
        return stages(list(surfaces), back_kinds, initial, ramps, fixed, strong_flux)

    items = []
    count = draw(st.integers(1, most_stages))
    for _ in range(count):
        if groups and draw(st.integers(0, 4)) == 0:
            inner = draw(st.lists(stage(), min_size=1, max_size=2))
            if draw(st.integers(0, 3)) == 0:
                inner.append(Group(2, tuple(draw(st.lists(stage(), min_size=1, max_size=2)))))
            items.append(Group(draw(st.integers(2, 3)), tuple(inner)))
        else:
            items.append(draw(stage()))
    law = draw(laws(laws_))
    flat = flatten(items)
    total = sum(s.duration for s in flat)
    d_mean = sum(diffusivity(law, s.mean_temperature(), 0.008) * s.duration
                 for s in flat) / total
    reach = math.sqrt(d_mean * total)
    # The diffusion length of the whole run spans a fifth of the specimen to
    # more than all of it.
    size = rounded(reach * draw(st.floats(0.8, 5.0)), 3)
    inner = 0.0
    if shape in ("tube", "hollow sphere"):
        inner = rounded(size * draw(st.floats(0.2, 0.7)), 3)
        size = rounded(size + inner, 3)
    n = draw(st.integers(*sections))
    if even:
        n += n % 2
    # A flux without a limit is bounded, for the explicit step, by the
    # stage's whole inflow held in the surface cell; keeping that within
    # 0.4 % keeps D, and so the explicit run's steps, within reason.
    cell = 0.5 * (size - inner) / n * 7900.0
    if not strong_flux:
        items = tuple(weak(item, cell) for item in items)
    alloy_factor = None
    if alloy and draw(st.integers(0, 3)) == 0:
        alloy_factor = rounded(draw(st.floats(0.8, 1.3)), 3)
    density = None if draw(st.booleans()) else float(draw(st.integers(7700, 7900)))
    return Plan(shape, size, inner, n, initial, law, alloy_factor, density, tuple(items))


@st.composite
def with_nitrogen(draw, plan):
    """The plan with nitrogen beside its carbon: a law, an initial
    composition and a surface each stage (groups written out)."""
    if draw(st.booleans()):
        law = {"model": "bohnekamp"}
    else:
        law = {"A": rounded(draw(st.floats(5e-6, 5e-5)), 3),
               "B": float(draw(st.integers(-160000, -145000)))}
    law["initial"] = draw(st.sampled_from([0.0, 0.0001, 0.0005]))
    nitrogen = st.one_of(
        st.just(Face("sealed")),
        st.floats(0.001, 0.004).map(lambda v: Face("held", composition=rounded(v, 3))),
        st.tuples(st.floats(0.001, 0.004), st.floats(1e-8, 5e-7)).map(
            lambda p: Face("transfer", potential=rounded(p[0], 3), beta=rounded(p[1], 3))))
    items = tuple(replace(s, nitrogen=draw(nitrogen)) for s in plan.stages())
    return replace(plan, nitrogen=law, items=items)


def weak(item, cell):
    """The item with each flux without a limit cut to add at most 0.004 to a
    surface cell of `cell` kg/m^2 over its stage."""
    if isinstance(item, Group):
        return Group(item.repeat, tuple(weak(i, cell) for i in item.items))
    face = item.surface
    if face.kind != "flux" or face.limit is not None:
        return item
    most = 0.004 * cell / item.duration
    return replace(item, surface=replace(face, flux=min(face.flux, rounded(most, 3))))


# The command line, for what the module does not do and to compare with it.
def run(*args, check=True):
    out = subprocess.run([PROGRAM, *map(str, args)], capture_output=True, text=True)
    if check and out.returncode != 0:
        raise AssertionError(f"diffusim {' '.join(map(str, args))}: exit {out.returncode}: "
                             f"{out.stderr.strip()}")
    return out


def table(text):
    """A CSV's header fields (text) and columns (float64 lists)."""
    header = dict(l[2:].split(" = ", 1) for l in text.splitlines()
                  if l.startswith("# ") and " = " in l)
    rows = list(csv.reader(io.StringIO("\n".join(
        l for l in text.splitlines() if not l.startswith("#")))))
    columns = {name: [float(r[k]) for r in rows[1:]] for k, name in enumerate(rows[0])}
    return header, columns


def data_lines(text):
    """The output without the line naming the schedule's file and the lines
    recording the values set over it."""
    return [l for l in text.splitlines()
            if not l.startswith("# schedule = ") and not l.startswith("# set.")]
