"""The sample journeys under every model, side by side, from Python.
    python python/demo.py [journeys.csv] [chart.png]"""
import sys
import time

import matplotlib

matplotlib.use("Agg")
import pandas as pd  # noqa: E402

import touchlane  # noqa: E402

file = sys.argv[1] if len(sys.argv) > 1 else touchlane.sample_file()
chart = sys.argv[2] if len(sys.argv) > 2 else "touchlane-attribution-python.png"

t0 = time.perf_counter()
credit = touchlane.attribution(file=file, conversions="total_conversions",
                               value="total_conversion_value", nulls="total_null",
                               random_state=1)
secs = time.perf_counter() - t0
models = list(dict.fromkeys(credit["model"]))
print(f"Journeys: {file}   models: {', '.join(models)}   ({secs:.1f} s, Python)\n")
print("Conversions attributed to each channel")
w = credit.pivot(index="channel", columns="model", values="conversions")
w = w.loc[list(dict.fromkeys(credit["channel"])), models].round(1)
with pd.option_context("display.width", 120, "display.max_columns", 20):
    print(w.rename_axis(None, axis=1).reset_index().to_string(index=False))
tot = credit.groupby("model", sort=False)["conversions"].sum()
print("\nTotal per model:", ", ".join(f"{m} {v:.0f}" for m, v in tot.items()))
ax = touchlane.plot_attribution(credit)
ax.figure.savefig(chart, dpi=100)
print("\nChart written to", chart)
