"""The units a drawing speaks. A run of carbon in steel, whose header names
a steel's diffusivity model (tibbetts, slycke-ericsson) or a steel's own
values (its grade or analysis, density, alloy factor or hardness table), reads as a heat
treater reads it: carbon in wt %, depths in mm, temperatures in °C. Any
other run keeps the program's units: C(B) as a fraction of B, depths in µm
(mm across a curved specimen of 1 mm radius or more), temperatures in K."""

STEEL_MODELS = ("tibbetts", "slycke-ericsson")
STEEL_KEYS = ("density", "alloy_factor", "hardness.carbon", "steel.grade", "steel.C",
              "nitrogen.initial")
CELSIUS_ZERO = 273.15       # K


def fmt(value, digits=6):
    return f"{value:.{digits}g}"


def is_steel(meta):
    """Whether a file's inputs describe carbon in steel."""
    return meta.get("model") in STEEL_MODELS or any(k in meta for k in STEEL_KEYS)


class Units:
    def __init__(self, steel=False):
        self.steel = steel

    @property
    def per_c(self):
        """How many of the drawn composition unit make one fraction."""
        return 100.0 if self.steel else 1.0

    @property
    def c_name(self):
        return "carbon" if self.steel else "C(B)"

    @property
    def c_axis(self):
        return "carbon (wt %)" if self.steel else "C(B), fraction of B"

    def composition(self, c):
        """'0.35 wt %' or '0.0035'."""
        return f"{fmt(c * 100.0, 4)} wt %" if self.steel else fmt(c)

    def degrees(self, kelvin):
        """A temperature in the drawn unit, as a number."""
        return kelvin - CELSIUS_ZERO if self.steel else kelvin

    @property
    def t_unit(self):
        return "°C" if self.steel else "K"

    def temperature(self, kelvin):
        """'930 °C' or '1203.15 K'."""
        return f"{fmt(self.degrees(kelvin))} {self.t_unit}"

    def ramp(self, low, high):
        """'850→930 °C' or '1123.15→1203.15 K'."""
        return f"{fmt(self.degrees(low))}→{fmt(self.degrees(high))} {self.t_unit}"


PROGRAM_UNITS = Units()
STEEL_UNITS = Units(True)


def units_of(meta):
    return STEEL_UNITS if is_steel(meta) else PROGRAM_UNITS
