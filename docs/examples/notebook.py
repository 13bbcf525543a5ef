# %% [markdown]
# # diffusim in a notebook
# Run the example cycle, plot it, and sweep temperature x time into a pandas
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


# %% A sweep: temperature x boost time, one row per case
def case(args):
    schedule, temperature, boost = args
    s = diffusim.parse_schedule(
        schedule.text.replace("temperature = 1200", f"temperature = {temperature}")
                     .replace('duration = "4h"', f"duration = {boost}"))
    return {"T_K": temperature, "boost_s": boost, "depth_m": diffusim.depth(s, 0.0035)}


cases = [(cycle, t, b) for t in (1150, 1200, 1250) for b in (7200, 14400)]
frame = pd.DataFrame(map(case, cases))
print(frame)

# %% The same sweep on a dask cluster: a LocalCluster here; a real cluster's
# scheduler address in Client("tcp://scheduler:8786") runs it there unchanged.
# (The guard lets the cluster's worker processes import this file as a script.)
from distributed import Client, LocalCluster

if __name__ == "__main__":
    with LocalCluster(n_workers=2, threads_per_worker=1, dashboard_address=None) as cluster, \
            Client(cluster) as client:
        on_dask = pd.DataFrame(client.gather(client.map(case, cases)))
    print("the same on dask:", on_dask.equals(frame))
