# %% [markdown]
# # diffusim in a notebook
# Run the example cycle, plot it, and sweep temperature x boost time into a pandas
# DataFrame, locally and on a dask cluster. Build the module with
# `cmake --preset test && cmake --build --preset test`, then run this file
# with `PYTHONPATH=build/test/python python3 docs/examples/notebook.py`
# (or open it in Jupyter / VS Code: the `# %%` lines are cells).

# %%
import subprocess

import matplotlib
matplotlib.use("Agg")
import matplotlib.pyplot as plt
import pandas as pd

import diffusim

text = subprocess.run(["diffusim", "schedule"], capture_output=True, text=True).stdout \
    if subprocess.run(["sh", "-c", "command -v diffusim"], capture_output=True).returncode == 0 \
    else open("tests/cli/schedules/good.toml").read()
cycle = diffusim.parse_schedule(text, "cycle")
print(cycle)

# %% The profile at the end and every hour
p = diffusim.profile(cycle)
hourly = diffusim.profiles(cycle, every=3600.0)
fig, ax = plt.subplots()
for t, c in zip(hourly.t, hourly.c):
    ax.plot(hourly.x * 1e3, c * 100, label=f"{t / 3600:g} h")
ax.set_xlabel("depth from the surface (mm)")
ax.set_ylabel("carbon (%)")
ax.legend()
fig.savefig("cycle-profiles.png")
print("uptake", p.header["uptake_g_per_m2"], "g/m2;",
      "case depth to 0.35 %:", diffusim.depth(cycle, 0.0035) * 1e3, "mm")


# %% A sweep: the boost's temperature x its time, one row per case, each the
# cycle with those values set (the command line's --sweep KEY=V1,V2)
values = {"stage1.temperature": ["1150K", "1200K", "1250K"], "stage1.duration": ["2h", "4h"]}
frame = diffusim.sweep(cycle, values, composition="0.35%")
print(frame)


# %% One case by hand: the cycle with values set by key (--set KEY=VALUE)
def case(args):
    schedule, temperature, boost = args
    s = schedule.with_values({"stage1.temperature": temperature, "stage1.duration": boost})
    return {"stage1_temperature_K": temperature, "stage1_duration_s": boost, "t_s": s.end,
            "depth_m": diffusim.depth(s, 0.0035)}


cases = [(cycle, t, b) for t in (1150.0, 1200.0, 1250.0) for b in (7200.0, 14400.0)]

# %% The same sweep on a dask cluster: a LocalCluster here; a real cluster's
# scheduler address in Client("tcp://scheduler:8786") runs it there unchanged.
# (The guard lets the cluster's worker processes import this file as a script.)
from distributed import Client, LocalCluster

if __name__ == "__main__":
    with LocalCluster(n_workers=2, threads_per_worker=1, dashboard_address=None) as cluster, \
            Client(cluster) as client:
        on_dask = pd.DataFrame(client.gather(client.map(case, cases)))
    print("the same on dask:", on_dask.equals(frame))
