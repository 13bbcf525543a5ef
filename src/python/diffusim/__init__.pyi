# Type stubs of the diffusim package: SI units (m, s, K, mass fractions).
from dataclasses import dataclass
from typing import Any, Iterable, Mapping, Sequence

import numpy as np
import pandas as pd

__version__: str

class ScheduleError(ValueError): ...

class Schedule:
    def __init__(self, text: str, name: str = ...) -> None: ...
    @property
    def text(self) -> str: ...
    @property
    def end(self) -> float: ...
    @property
    def values(self) -> dict[str, float]: ...
    def with_values(self, values: Mapping[str, float | str]) -> Schedule: ...
    @classmethod
    def constant(cls, *, duration: float | None = ..., temperature: float = ..., length: float = ...,
                 sections: int = ..., A: float | None = ..., B: float | None = ...,
                 c0: float = ..., cs: float = ..., geometry: str = ...,
                 radius: float | None = ..., inner_radius: float | None = ...,
                 model: str | None = ..., alloy_factor: float | None = ...,
                 density: float | None = ...) -> Schedule: ...

def load_schedule(path: str) -> Schedule: ...
def parse_schedule(text: str, name: str = ...) -> Schedule: ...

class Result:
    t: np.ndarray
    c: np.ndarray | None
    c_N: np.ndarray | None
    x: np.ndarray | None
    r: np.ndarray | None
    depth: np.ndarray | None
    HV: np.ndarray | None
    @property
    def header(self) -> dict[str, float | str]: ...

def profile(schedule: Schedule, time: float | None = ..., *, scheme: str = ...,
            tolerance: float = ..., threads: int | None = ...) -> Result: ...
def profiles(schedule: Schedule, every: float, until: float | None = ..., *, scheme: str = ...,
             tolerance: float = ..., threads: int | None = ...) -> Result: ...
def history(schedule: Schedule, depth: float, every: float | None = ..., until: float | None = ...,
            *, scheme: str = ..., tolerance: float = ..., threads: int | None = ...) -> Result: ...
def depth(schedule: Schedule, composition: float, time: float | Sequence[float] | None = ..., *,
          every: float | None = ..., scheme: str = ..., tolerance: float = ...,
          method: str = ..., species: str = ...) -> float | Result: ...
def time_to(schedule: Schedule, depth: float, composition: float, *, scheme: str = ...,
            tolerance: float = ..., method: str = ..., species: str = ...) -> float: ...

QUANTILES: tuple[float, ...]

def depth_spread(schedule: Schedule, composition: float, time: float | None = ..., *,
                 samples: int = ..., seed: int = ...,
                 threads: int | None = ...) -> tuple[np.ndarray, dict[float | str, float]]: ...

@dataclass
class Design:
    met: bool
    durations: list[float]
    surface: float
    depth: float
    runs: int

def design(schedule: Schedule, vary: Iterable[int], *, surface: float | None = ...,
           depth: float | None = ..., at: float | None = ..., max_duration: float | None = ...,
           scheme: str = ..., tolerance: float = ...) -> Design: ...

@dataclass
class Fit:
    keys: list[str]
    values: np.ndarray
    std_errors: np.ndarray
    ci95: np.ndarray
    correlation: np.ndarray
    rms_residual: float
    converged: bool
    determined: np.ndarray

def fit(schedule: Schedule, keys: Sequence[str], x: Sequence[float], c: Sequence[float],
        t: Sequence[float] | None = ..., *, scheme: str = ..., tolerance: float = ...) -> Fit: ...

def sweep(schedule: Schedule | str, values: Mapping[str, Sequence[float | str]],
          command: str = ..., **kwargs: Any) -> pd.DataFrame: ...

def potential(temperature: float | str | Sequence[float | str], co: float | str, *,
              co2: float | str | None = ..., probe_mV: float | None = ...,
              dew_point: float | str | None = ..., h2: float | str | None = ...,
              potential: float | str | None = ...) -> pd.DataFrame: ...
