"""Hypothesis settings for the property tests.

"ci" is what CTest runs: derandomised (the same examples on every run, so a
failure reproduces), a small fixed budget, no example database. "thorough"
draws ten times as many, at random, for a run by hand:

    DIFFUSIM_HYPOTHESIS_PROFILE=thorough python3 -m pytest tests/properties
"""

import os

from hypothesis import HealthCheck, settings

settings.register_profile(
    "ci", derandomize=True, max_examples=100, deadline=None, database=None,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.filter_too_much],
    print_blob=True)
settings.register_profile(
    "thorough", max_examples=1000, deadline=None, database=None,
    suppress_health_check=[HealthCheck.too_slow], print_blob=True)
settings.load_profile(os.environ.get("DIFFUSIM_HYPOTHESIS_PROFILE", "ci"))
