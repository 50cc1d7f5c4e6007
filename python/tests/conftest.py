"""R's results for the equality tests: tests/r_reference.R runs once per
session on the installed R package (skipped when R or the package is
absent). Test modules add cases with `r_case(id, expr)`: an R expression
whose result (CSV) or error message (<id>.err) the script writes."""
import os
import shutil
import subprocess

import numpy as np
import pandas as pd
import pytest

R_CASES = {}
R_FILES = {}


def r_case(case_id, expr, files=None):
    """An R expression to evaluate; `files` (name: DataFrame) are written
    as <name>.csv beside it (NA for missing) for `ev(name)` to read."""
    R_CASES[case_id] = expr
    R_FILES.update(files or {})
    return case_id


def r_result(out, case_id):
    """R's result of a case: a DataFrame, or the error message (str)."""
    err = out / f"{case_id}.err"
    if err.exists():
        return err.read_text(encoding="utf-8").rstrip("\n")
    return r_csv(out, case_id)


HERE = os.path.dirname(os.path.abspath(__file__))

# table, dialect, transform, times, lookback_days, lookback_touches, value,
# order_by, time_type, channel_sep
SQL_CASES = [
    ("events", "sqlite", "none", "0", "", "", "", "", "timestamp", ">"),
    ("events", "sqlite", "collapse", "1", "30", "5", "rev", "id", "seconds", ">"),
    ("s.ev", "postgres", "first", "1", "0.1", "", "rev", "id", "timestamp", "|"),
    ('we"ird', "postgres", "frequency", "0", "", "3", "", "", "timestamp", "'"),
    ("p.d.t", "bigquery", "frequency", "0", "7", "", "r`v", "", "timestamp", ">"),
    ("events", "bigquery", "collapse", "1", "", "", "", "id", "seconds", ">"),
    ("db.events", "spark", "none", "1", "2.5", "10", "rev", "id", "timestamp", ","),
    ("events", "spark", "frequency", "0", "", "", "", "", "seconds", ">"),
    # names no quoting rule can break, steps that would hide the table, and
    # what a dialect cannot quote
    ("tl_Kept", "sqlite", "collapse", "1", "", "", "", "id", "timestamp", ">"),
    ("s.touches", "postgres", "first", "0", "", "", "", "", "timestamp", ">"),
    ("a\\", "bigquery", "none", "0", "", "", "v\\`", "", "timestamp", "\\"),
    ("x`y", "spark", "none", "0", "", "", "", "o`b", "timestamp", ">"),
    ("a..b", "postgres", "none", "0", "", "", "", "", "timestamp", ">"),
    ("events", "spark", "none", "0", "", "", "", "", "timestamp", "'"),
    ("events", "sqlite", "none", "0", "", "", "", "", "timestamp", ">>"),
    ("events", "postgres", "none", "0", "", "", "", "", "timestamp", "\u2192"),
]


def _events(n=400, seed=5):
    rng = np.random.default_rng(seed)
    ch = rng.choice(["search", "display", "email", "", None], size=n).astype(object)
    conv = (rng.random(n) < 0.15).astype(int)
    return pd.DataFrame({"id": np.arange(n), "user": rng.integers(0, 40, n),
                         "time": np.round(rng.random(n) * 20 * 86400),
                         "channel": ch, "conversion": conv,
                         "value": np.round(conv * rng.random(n) * 100, 2)})


DECAY = pd.DataFrame({"path": ["a > b > c", "b > a", "c", "a > a"],
                      "conversions": [3, 1, 2, 0], "value": [30.0, 5, 12, 0],
                      "days": ["5 > 2 > 0", "1 > 0", "0", "3 > 0"]})


@pytest.fixture(scope="session")
def r_out(tmp_path_factory):
    rscript = shutil.which("Rscript")
    if rscript is None:
        pytest.skip("Rscript not found")
    env = dict(os.environ)
    lib = os.path.join(HERE, "..", "..", ".rlib")
    if os.path.isdir(lib):
        env["R_LIBS"] = os.path.abspath(lib) + os.pathsep + env.get("R_LIBS", "")
    probe = subprocess.run([rscript, "-e", "library(Touchlane)"], env=env, capture_output=True)
    if probe.returncode != 0:
        pytest.skip("the R package Touchlane is not installed")
    out = tmp_path_factory.mktemp("r")
    DECAY.to_csv(out / "decay.csv", sep=";", index=False)
    _events().to_csv(out / "events.csv", index=False)
    header = ["table", "dialect", "transform", "times", "lookback_days", "lookback_touches",
              "value", "order_by", "time_type", "channel_sep"]
    for name, frame in R_FILES.items():
        frame.to_csv(out / f"{name}.csv", index=False, na_rep="NA")
    (out / "cases.tsv").write_text("id\texpr\n" + "".join(f"{k}\t{v}\n" for k, v in
                                                        R_CASES.items()), encoding="utf-8")
    (out / "sql_cases.tsv").write_text("\n".join("\t".join(r) for r in [header] + SQL_CASES)
                                       + "\n", encoding="utf-8")
    res = subprocess.run([rscript, os.path.join(HERE, "r_reference.R"), str(out)], env=env,
                         capture_output=True, text=True)
    assert res.returncode == 0, res.stderr
    return out


def r_csv(out, name):
    return pd.read_csv(out / f"{name}.csv", keep_default_na=True)


# Summation order may differ in the last bit or two (R sums per channel in R).
RTOL = 1e-14


def same(py, r, cols=None):
    """Identical columns: text exactly, numbers to the last bits."""
    py = py.reset_index(drop=True)
    r = r.reset_index(drop=True)
    assert len(py) == len(r)
    for c in cols or r.columns:
        a, b = py[c], r[c]
        if pd.api.types.is_numeric_dtype(b.dtype) and not b.isna().all():
            np.testing.assert_allclose(a.to_numpy(float), b.to_numpy(float), rtol=RTOL,
                                       atol=1e-15, err_msg=c)
        elif b.isna().all():
            assert a.isna().all(), c
        else:
            assert a.astype(str).tolist() == b.astype(str).tolist(), c


