"""The shapes only the Python layer gives: the long table's columns and
order, and predict on new journeys with the fit's column names."""
import numpy as np
import pandas as pd
import pytest

import touchlane

J = pd.DataFrame({"p": ["a > b", "b", "a > c > b", "c", "b > b"],
                  "n": [3, 0, 2, 1, 5], "v": [30.0, 0, 12.5, 4, 10], "z": [1, 4, 0, 2, 1]})
COLS = dict(path="p", conversions="n", value="v", nulls="z")


def test_long_table_columns_and_order():
    models = ["shapley", "first", "markov"]
    a = touchlane.attribution(J, models=models + ["first"], random_state=1, method="exact",
                              **COLS)
    assert a.columns.tolist() == ["channel", "model", "conversions", "value", "share"]
    # one block per model, in the order asked (repeats dropped), same channels in each
    assert list(dict.fromkeys(a["model"])) == models
    blocks = [a.loc[a["model"] == m, "channel"].tolist() for m in models]
    assert blocks[0] == blocks[1] == blocks[2]
    avg = a.groupby("channel")["conversions"].sum()
    assert blocks[0] == sorted(avg.index, key=lambda c: (-avg[c], c))
    assert np.allclose(a.groupby("model")["share"].sum(), 1)
    b = touchlane.attribution(J, models=["last", "position"], bootstrap=5, random_state=1,
                              path="p", conversions="n")
    assert b.columns.tolist() == ["channel", "model", "conversions", "value", "share",
                                  "lower", "upper"]
    assert b["value"].isna().all() and (b["lower"] <= b["upper"]).all()
    with pytest.warns(UserWarning, match='no bootstrap for model "time_decay"'):
        touchlane.attribution(J.assign(days=["1 > 0", "0", "2 > 1 > 0", "0", "0 > 0"]),
                              models=["time_decay"], bootstrap=2, path="p", conversions="n")


@pytest.mark.parametrize("model", [
    touchlane.Logistic(),
    touchlane.Markov(kind="odds", method="exact"),
    touchlane.Shapley(kind="conversion_rate"),
], ids=["logistic", "markov", "shapley"])
def test_predict_applies_the_fitted_weights(model):
    model.fit(J, **COLS)
    # the journeys of the fit, predicted, are the fit's own touch points
    tp = model.predict(J, level="touchpoint")
    pd.testing.assert_frame_equal(tp, model.to_frame("touchpoint"))
    # new journeys with the fit's column names; a new channel weighs "(unknown)"
    new = pd.DataFrame({"p": ["d > a", "c"], "n": [2, 1], "v": [8.0, 1.0]})
    got = model.predict(new)
    w = model.weights_
    assert got["channel"].tolist()[:3] == list(w.index[:-1])
    share_a = w["a"] / (w["a"] + w["(unknown)"])
    assert got.set_index("channel").loc["a", "conversions"] == pytest.approx(2 * share_a)
    assert got.set_index("channel").loc["d", "value"] == pytest.approx(8 * (1 - share_a))
    with pytest.raises(ValueError, match=r"column 'p' \(path\) not found in `data`"):
        model.predict(new.rename(columns={"p": "path"}))


def test_model_objects():
    m = touchlane.Markov(order=2, method="exact")
    assert m.get_params()["order"] == 2
    with pytest.raises(RuntimeError, match="not fitted yet"):
        m.to_frame()
    m.fit(J, **COLS)
    assert m.removal_effects_.index.tolist() == m.to_frame()["channel"].tolist()
    tm = m.transition_matrix_
    assert {"(start)", "a > b"} <= set(tm["from"]) and "(conversion)" in set(tm["to"])
    with pytest.raises(ValueError, match="model 'markov' has no per-touch-point rows"):
        m.to_frame("touchpoint")
    h = touchlane.Heuristic(rule="first").fit(J, path="p", conversions="n")
    with pytest.raises(ValueError, match="model 'heuristic' has no weights to apply"):
        h.predict(J)
    assert h.to_frame("touchpoint").columns.tolist() == ["journey", "channel", "position",
                                                         "conversions", "value"]


def test_seeds_from_a_generator_and_found_columns_are_reported(caplog):
    d = J.rename(columns={"p": "path", "n": "conversions", "v": "value", "z": "nulls"})
    with caplog.at_level("INFO", logger="touchlane"):
        a = touchlane.attribution(d, models=["markov"], method="simulation", simulations=2000,
                                  random_state=np.random.default_rng(7))
    assert a.attrs["seed"] == np.random.default_rng(7).integers(1, 2 ** 31 - 1)
    assert "Using the columns 'value' and 'nulls' of the journeys" in caplog.text
    # the stored seed repeats the simulation; value=None leaves the column out
    again = touchlane.attribution(d, models=["markov"], method="simulation", simulations=2000,
                                  random_state=a.attrs["seed"], value=None)
    assert np.array_equal(again["conversions"], a["conversions"]) and again["value"].isna().all()
    m = touchlane.Markov(random_state=np.random.default_rng(7)).fit(d)
    assert m.seed_ == a.attrs["seed"] and m.columns_["value"] == "value"


@pytest.mark.parametrize("level,labels", [
    (0.95, ["2.5 %", "97.5 %"]), (0.9, ["5 %", "95 %"]), (0.999, ["0.05 %", "99.95 %"]),
    (0.995, ["0.25 %", "99.75 %"]), (0.333, ["33.4 %", "66.6 %"]),
])
def test_interval_columns_as_r_names_them(level, labels):
    # R's confint(): format(100 * c(a, 1 - a), digits = 3) with common decimals
    lr = touchlane.Logistic().fit(J, **COLS)
    assert lr.confint(level=level).columns.tolist() == labels
    a = touchlane.attribution(J, models="first", bootstrap=5, random_state=1, **COLS)
    assert touchlane.confint(a, level=level).columns.tolist() == labels
