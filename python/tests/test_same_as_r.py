"""The same numbers as the R package on the bundled sample, for every model,
with the same settings and seed: R runs through Rscript on the installed
package (skipped when R or the package is absent)."""
import os
import shutil
import subprocess

import numpy as np
import pandas as pd
import pytest

import touchlane

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


@pytest.fixture(scope="module")
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
    (out / "sql_cases.tsv").write_text("\n".join("\t".join(r) for r in [header] + SQL_CASES)
                                       + "\n")
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


def test_attribution_every_model(r_out):
    j = touchlane.journeys_sample()
    py = touchlane.attribution(j, models=["first", "last", "linear", "position",
                                          "last_non_direct", "markov", "shapley", "logistic"],
                               value="value", nulls="nulls", random_state=1, simulations=20000)
    same(py, r_csv(r_out, "attribution"))
    same(touchlane.attribution(j, models="markov", nulls="nulls", method="exact", order=2),
         r_csv(r_out, "markov_exact"))


def test_attribution_file_threads_bootstrap_decay(r_out, tmp_path):
    py = touchlane.attribution(file=touchlane.sample_file(), conversions="total_conversions",
                               value="total_conversion_value", nulls="total_null",
                               models=["first", "logistic", "markov", "shapley"],
                               random_state=2, simulations=20000, n_jobs=2)
    same(py, r_csv(r_out, "attribution_file"))
    py = touchlane.attribution(touchlane.journeys_sample(), nulls="nulls",
                               models=["linear", "shapley", "markov", "position"],
                               random_state=3, bootstrap=20, method="exact")
    same(py, r_csv(r_out, "bootstrap"))
    DECAY.to_csv(tmp_path / "decay.csv", sep=";", index=False)
    for src in (dict(data=DECAY), dict(file=str(tmp_path / "decay.csv"))):
        same(touchlane.attribution(**src, models="time_decay", value="value", half_life=3),
             r_csv(r_out, "time_decay"))


def weights_frame(s):
    return pd.DataFrame({"channel": s.index.astype(str), "weight": s.to_numpy()})


def test_model_classes(r_out):
    j = touchlane.journeys_sample()
    m = touchlane.Markov(order=2, kind="conversion_rate", simulations=20000,
                         random_state=1).fit(j, nulls="nulls", value="value")
    same(weights_frame(m.weights_), r_csv(r_out, "markov_weights"))
    same(m.transition_matrix_, r_csv(r_out, "markov_transitions"))
    same(m.to_frame(), r_csv(r_out, "markov_channels"))
    lr = touchlane.Logistic().fit(j, nulls="nulls", value="value")
    same(weights_frame(lr.weights_), r_csv(r_out, "logistic_weights"))
    same(lr.to_frame(), r_csv(r_out, "logistic_channels"))
    # predict hands the weights over unmasked, so the last bits may differ
    r = r_csv(r_out, "logistic_predict")
    p = lr.predict(j.head(500))
    assert p["channel"].tolist() == r["channel"].tolist()
    np.testing.assert_allclose(p[["conversions", "value", "share"]].to_numpy(float),
                               r[["conversions", "value", "share"]].to_numpy(float), rtol=1e-9)
    sh = touchlane.Shapley(kind="odds").fit(j, nulls="nulls")
    same(weights_frame(sh.weights_), r_csv(r_out, "shapley_weights"))


def test_tools(r_out):
    j = touchlane.journeys_sample()
    same(touchlane.choose_order(j, nulls="nulls", max_order=4, random_state=1).areas,
         r_csv(r_out, "order"))
    nba = touchlane.next_best_action_train(j, nulls="nulls", max_order=2, simulations=10000,
                                           random_state=1)
    same(nba.table, r_csv(r_out, "nba"))
    same(nba.suggest(["social > email", "display > display", "affiliate"]),
         r_csv(r_out, "nba_suggest"))
    mr = touchlane.Markov(method="exact").fit(j)
    same(touchlane.budget_allocation(mr, total_budget=1e5), r_csv(r_out, "budget"))


def test_events_and_sql_text(r_out):
    ev = _events()
    py = touchlane.journeys_from_events(ev, "user", "time", "channel", "conversion",
                                        value="value", lookback_days=3, transform="collapse",
                                        times=True, order_by="id")
    same(py, r_csv(r_out, "events"))
    texts = (r_out / "sql.txt").read_text().split("\n<<end>>\n")
    for case, want in zip(SQL_CASES, texts):
        table, dialect, transform, times, ld, lt, value, order_by, time_type, sep = case
        got = touchlane.journeys_sql(table, "user", "ts", "channel", "conv", value=value or None,
                                     lookback_days=float(ld) if ld else None,
                                     lookback_touches=float(lt) if lt else None,
                                     transform=transform, order_by=order_by or None,
                                     times=times == "1", time_type=time_type, channel_sep=sep,
                                     dialect=dialect)
        assert got == want, case
    assert len(texts) - 1 == len(SQL_CASES)
