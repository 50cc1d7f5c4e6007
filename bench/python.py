"""Python against R on the same 1,000,000 journeys, side by side in one run:
touchlane.attribution (first/last/linear, exact Markov order 1, Shapley),
the same models from R's attribution(), and a plain pandas first/last/linear
as the baseline a Python analyst would otherwise write; plus the conversion
of the 1M-row DataFrame into the core's columns.

usage: .venv/bin/python bench/python.py [rows] [repeats]
(R_LIBS=.rlib for the R side; the journeys come from bench/gen_journeys.R)
"""
import os
import platform
import subprocess
import sys
import time

import numpy as np
import pandas as pd

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "python"))
import touchlane  # noqa: E402
from touchlane import _core  # noqa: E402
from touchlane._journeys import journey_args, native_src  # noqa: E402

rows = int(sys.argv[1]) if len(sys.argv) > 1 else 1_000_000
reps = int(sys.argv[2]) if len(sys.argv) > 2 else 3
data_file = f"/tmp/touchlane_bench_{rows}.csv"
if not os.path.exists(data_file):
    subprocess.run(["Rscript", os.path.join(ROOT, "bench", "gen_journeys.R"), str(rows), data_file],
                   check=True)

RUNS = {"heuristic (first, last, linear)": dict(models=["first", "last", "linear"]),
        "markov exact, order 1": dict(models=["markov"], method="exact"),
        "shapley": dict(models=["shapley"])}


def best(f):
    times = []
    for _ in range(reps):
        t0 = time.perf_counter()
        f()
        times.append(time.perf_counter() - t0)
    return min(times)


def pandas_rules(d):
    """First, last and linear touch per channel in plain pandas."""
    ch = d["path"].str.split(">")
    n = ch.str.len()
    first = d.groupby(ch.str[0])["conv"].sum()
    last = d.groupby(ch.str[-1])["conv"].sum()
    ex = pd.DataFrame({"channel": ch, "w": d["conv"] / n}).explode("channel")
    linear = ex.groupby("channel")["w"].sum()
    return first, last, linear


d = pd.read_csv(data_file, sep=";", keep_default_na=False)
print(f"machine: {platform.node()}, {os.cpu_count()} cores | commit "
      + subprocess.run(["git", "-C", ROOT, "rev-parse", "--short", "HEAD"], capture_output=True,
                       text=True).stdout.strip())
print(f"{len(d):,} journeys, {d['path'].nunique():,} distinct paths; best of {reps}\n")



def convert(df):
    return _core.input_rows(native_src(journey_args(df, None, "path", "conv", "value", "nulls")))


conv = best(lambda: convert(d))
cat = d.assign(path=d["path"].astype("category"))
conv_cat = best(lambda: convert(cat))

py = {k: best(lambda kw=kw: touchlane.attribution(d, conversions="conv", value="value",
                                                  nulls="nulls", random_state=1, **kw))
      for k, kw in RUNS.items()}
pdt = best(lambda: pandas_rules(d))

r_code = f"""
suppressMessages(library(Touchlane))
d <- utils::read.table("{data_file}", header = TRUE, sep = ";", quote = "", comment.char = "",
                       stringsAsFactors = FALSE)
best <- function(f) min(replicate({reps}, system.time(f())[["elapsed"]]))
runs <- list(h = function() attribution(d, models = c("first", "last", "linear"),
                                        conversions = "conv", value = "value", nulls = "nulls",
                                        seed = 1),
             m = function() attribution(d, models = "markov", method = "exact",
                                        conversions = "conv", value = "value", nulls = "nulls",
                                        seed = 1),
             s = function() attribution(d, models = "shapley", conversions = "conv",
                                        value = "value", nulls = "nulls", seed = 1))
cat(vapply(runs, best, 1), "\\n")
"""
res = subprocess.run(["Rscript", "-e", r_code], capture_output=True, text=True)
r_times = [float(x) for x in res.stdout.split()] if res.returncode == 0 else [np.nan] * 3
if res.returncode != 0:
    print("R side failed:", res.stderr.strip().splitlines()[-1:])

print(f"{'model':32s} {'Python s':>9s} {'R s':>9s} {'Py/R':>6s}")
for (k, t), tr in zip(py.items(), r_times):
    print(f"{k:32s} {t:9.3f} {tr:9.3f} {t / tr:6.2f}")
print(f"{'plain pandas first/last/linear':32s} {pdt:9.3f}"
      f"   (touchlane {py['heuristic (first, last, linear)'] / pdt:.2f}x of pandas)")
print(f"\nDataFrame to the core's columns: {conv:.3f} s (object paths), "
      f"{conv_cat:.3f} s (categorical paths); target < 0.3 s")
