"""The Python module's overhead on 100-section runs: diffusim.profile (the
call, the conversions to numpy, the header dict) against the engine alone
running the same plan (the module's _engine_seconds), medians of 7 rounds.
Target: the module within 5 % of the engine. The runs: the example cycle on
100 sections, and the default specimen held for 10 h and for 1 h (the
last a few microseconds of computing, where any call's fixed cost shows).

    PYTHONPATH=build/test/python python3 bench/python_overhead.py
"""
import statistics
import time

import diffusim

ROUNDS, CALLS = 7, 200


def main():
    import subprocess
    cycle = subprocess.run(["build/test/diffusim", "schedule"], capture_output=True,
                           text=True).stdout.replace("sections = 400", "sections = 100")
    runs = [("example cycle", diffusim.parse_schedule(cycle)),
            ("held 10 h", diffusim.Schedule.constant(duration=36000.0, sections=100)),
            ("held 1 h", diffusim.Schedule.constant(duration=3600.0, sections=100))]
    for name, s in runs:
        scheme_time = s.end
        engine, module = [], []
        for _ in range(ROUNDS):
            engine.append(diffusim._core._engine_seconds(s._core, scheme_time, CALLS))
            start = time.perf_counter()
            for _ in range(CALLS):
                diffusim.profile(s, threads=1)
            module.append((time.perf_counter() - start) / CALLS)
        e, m = statistics.median(engine), statistics.median(module)
        print(f"100 sections, {name}: engine {e * 1e6:.1f} us, module {m * 1e6:.1f} us, "
              f"ratio {m / e:.3f} (target <= 1.05): {'met' if m / e <= 1.05 else 'NOT met'}")


if __name__ == "__main__":
    main()
