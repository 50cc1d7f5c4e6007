#!/usr/bin/env python3
"""Generates inst/extdata/journeys.csv: aggregated synthetic customer journeys.

Journeys walk a small first-order chain over seven channels; each channel
lifts the chance of converting by its own amount. Identical paths are
aggregated into one row with conversions, value and non-conversions.
"""
import random

CHANNELS = ["display", "paid search", "email", "social", "organic", "affiliate", "direct"]
START = [0.25, 0.2, 0.1, 0.2, 0.15, 0.05, 0.05]
LIFT = {"display": 0.01, "paid search": 0.05, "email": 0.06, "social": 0.015,
        "organic": 0.03, "affiliate": 0.04, "direct": 0.07}

def main():
    rng = random.Random(20261206)
    rows = {}
    n_customers = 60000
    for _ in range(n_customers):
        path = [rng.choices(CHANNELS, START)[0]]
        while rng.random() < 0.55 and len(path) < 12:
            stay = rng.random() < 0.3
            path.append(path[-1] if stay else rng.choice(CHANNELS))
        p = 0.01 + sum(LIFT[c] for c in set(path))
        conv = rng.random() < min(p, 0.9)
        value = round(rng.lognormvariate(4.0, 0.6), 2) if conv else 0.0
        key = " > ".join(path)
        r = rows.setdefault(key, [0, 0.0, 0])
        if conv:
            r[0] += 1
            r[1] += value
        else:
            r[2] += 1
    with open("inst/extdata/journeys.csv", "w") as f:
        f.write("path;total_conversions;total_conversion_value;total_null\n")
        for key, (c, v, n) in rows.items():
            f.write(f"{key};{c};{v:.2f};{n}\n")
    print(len(rows), "journeys")

if __name__ == "__main__":
    main()
