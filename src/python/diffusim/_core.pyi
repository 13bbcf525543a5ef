# Type stubs of the compiled engine module (the diffusim package wraps it).
from typing import Any

import numpy as np

class _RequestError(ValueError): ...

class _Record:
    def dict(self) -> dict[str, float | str]: ...

class _Schedule:
    def __init__(self, text: str, name: str) -> None: ...
    text: str
    name: str
    end: float
    stages: int

DEFAULT_TOLERANCE: float

def run_levels(schedule: _Schedule, command: str, until: float, every: float, depth: float,
               scheme: str, tolerance: float, threads: int, version: str) -> dict[str, Any]: ...
def run_query(schedule: _Schedule, depth_query: bool, composition: float, depth: float,
              times: list[float], every: float, open_ended: bool, scheme: str, tolerance: float,
              version: str) -> dict[str, Any]: ...
def design(schedule: _Schedule, varied: list[int], surface: float, depth: float, at: float,
           longest: float, scheme: str, tolerance: float) -> dict[str, Any]: ...
def fit(schedule: _Schedule, keys: list[str], x: list[float], c: list[float], t: list[float],
        scheme: str, tolerance: float) -> dict[str, Any]: ...
def sample_depths(schedule: _Schedule, composition: float, time: float, samples: int,
                  seed: int, threads: int) -> dict[str, Any]: ...
def _engine_seconds(schedule: _Schedule, until: float, repetitions: int) -> float: ...
