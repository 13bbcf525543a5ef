"""What the answers to the questions beyond one run hold once read: the
spread of samples (a case depth's or a time's quantiles, or a profile's
bands), a fit against its data, and a design's recipe with the profile it
reaches."""

from .common import DESIGN, FIT, POTENTIAL, PROFILE_SPREAD, SPREAD
from .results import _Result

BANDS = (0.05, 0.25, 0.5, 0.75, 0.95)     # the quantiles a spread reports


class Spread(_Result):
    """The quantiles of a case depth or a time (diffusim depth|time
    --samples); +inf where the samples lie beyond the specimen or the
    search."""

    kind = SPREAD

    def __init__(self, what, quantiles, values, samples, composition, mean=None, sd=None):
        self.what = what                # "depth" or "time"
        self.quantiles = quantiles
        self.values = values            # m or s
        self.samples = samples
        self.composition = composition
        self.mean, self.sd = mean, sd
        self.uncertain = []             # the keys drawn, e.g. stage1.temperature


class ProfileSpread(_Result):
    """A profile's bands over samples (diffusim profile --samples): at each
    depth the value of each quantile of BANDS."""

    kind = PROFILE_SPREAD

    def __init__(self, depth, bands, time, samples):
        self.depth = depth
        self.bands = bands              # quantile: array over depth
        self.time = time                # None: each sample at its own end
        self.samples = samples
        self.uncertain = []


class FitAnswer(_Result):
    """diffusim fit --format json: the parameters with their 95 % intervals,
    the data against the fitted values, and the fitted profiles."""

    kind = FIT

    def __init__(self, parameters, data, curves, rms):
        self.parameters = parameters    # (key, value, low, high, determined)
        self.data = data                # x, t (None without times), c, fitted, residual
        self.curves = curves            # (t, x, c) per time of the data
        self.rms = rms


class DesignAnswer(_Result):
    """diffusim design --format json: the varied stages' durations, the
    recipe's stages and the profile it reaches, and the targets."""

    kind = DESIGN

    def __init__(self, durations, depth, comp, targets, reached):
        self.durations = durations      # (stage number, seconds) per varied stage
        self.depth, self.comp = depth, comp
        self.targets = targets          # surface, depth, at: None where not asked for
        self.reached = reached          # surface, depth


class PotentialTable(_Result):
    """A furnace atmosphere's carbon potential and carbon activity against
    the temperature (diffusim potential), or the probe's mV for a potential
    asked (probe_mV not None)."""

    kind = POTENTIAL

    def __init__(self, temperature, potential, activity, probe_mv, atmosphere):
        self.temperatures = temperature     # K
        self.potential = potential          # mass fraction
        self.activity = activity
        self.probe_mv = probe_mv            # mV, or None
        self.atmosphere = atmosphere        # {"CO": 0.2, "probe_mV": 1150, ...}
