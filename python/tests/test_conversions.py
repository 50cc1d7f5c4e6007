"""pandas columns into the core: every accepted dtype gives the result of
the plain one, and every refusal names the column, the rows and the
problem (the R package's wording)."""
import numpy as np
import pandas as pd
import pytest

import touchlane

J = pd.DataFrame({"path": ["a > b", "b", "a > c > b", "c"],
                  "conversions": [3, 0, 2, 1], "value": [30.0, 0, 12.5, 4],
                  "nulls": [1, 4, 0, 2]})


def linear(df, **kw):
    return touchlane.attribution(df, models=["linear", "logistic"], value="value",
                                 nulls="nulls", **kw)


BASE = None


def expect_same(**cols):
    global BASE
    if BASE is None:
        BASE = linear(J)
    pd.testing.assert_frame_equal(linear(J.assign(**cols)), BASE)


@pytest.mark.parametrize("cols", [
    dict(path=J["path"].astype("string")),
    dict(path=J["path"].astype("category")),
    dict(path=pd.Categorical(J["path"], categories=["zz", "c", "b", "a > c > b", "a > b"])),
    dict(conversions=J["conversions"].astype("float64")),
    dict(conversions=J["conversions"].astype("uint8")),
    dict(conversions=J["conversions"].astype("Int64"), nulls=J["nulls"].astype("Int32")),
    dict(conversions=J["conversions"].astype("Float64")),
    dict(value=J["value"].astype("float32")),
    dict(value=J["value"].astype("Float64")),
    dict(value=pd.Series([30, 0, 12.5, 4]).astype(object).astype(float)),
], ids=lambda c: ",".join(f"{k}:{v.dtype}" for k, v in c.items()))
def test_accepted_dtypes(cols):
    expect_same(**cols)


def refused(match, **cols):
    with pytest.raises(ValueError, match=match):
        linear(J.assign(**cols))


@pytest.mark.parametrize("match,cols", [
    (r"column 'path' \(path\): row 2 NA", dict(path=["a", None, "b", "c"])),
    (r"column 'path' \(path\): rows 1, 2, 3 and 1 more NA", dict(path=[None] * 4)),
    (r"column 'path' \(path\): row 3 NA",
     dict(path=pd.array(["a", "b", pd.NA, "c"], dtype="string"))),
    (r"column 'path' \(path\): row 4 NA", dict(path=pd.Categorical(["a", "b", "a", None]))),
    (r"column 'path' \(path\): rows 2, 3 empty", dict(path=["a", "", " \t", "c"])),
    (r"column 'path' \(path\) must hold strings, not int \(row 1\)", dict(path=[1, "b", "c", "d"])),
    (r"column 'path' \(path\) must hold strings, not int64", dict(path=[1, 2, 3, 4])),
    (r"column 'path' \(path\) must hold strings, not int64 categories",
     dict(path=pd.Categorical([1, 2, 1, 2]))),
    (r"column 'conversions' \(conversions\) must be numeric, not object",
     dict(conversions=["3", "0", "2", "1"])),
    (r"column 'conversions' \(conversions\) must be numeric, not bool",
     dict(conversions=[True, False, True, True])),
    (r"column 'conversions' \(conversions\): row 2 NA", dict(conversions=[3, np.nan, 2, 1])),
    (r"column 'conversions' \(conversions\): row 4 NA",
     dict(conversions=pd.array([3, 0, 2, None], dtype="Int64"))),
    (r"column 'conversions' \(conversions\): row 1 negative", dict(conversions=[-1, 0, 2, 1])),
    (r"column 'nulls' \(nulls\): rows 1, 3 not a whole number \(1.5\)",
     dict(nulls=[1.5, 0, 0.25, 2])),
    (r"column 'conversions' \(conversions\): row 2 too large for a count",
     dict(conversions=[1, 2.0 ** 64, 0, 1])),
    (r"column 'value' \(value\) must be numeric, not object", dict(value=["1", "2", "3", "4"])),
    (r"column 'value' \(value\): row 3 NA", dict(value=[1, 2, np.nan, 4])),
    (r"column 'value' \(value\): row 1 NA", dict(value=pd.array([None, 2, 3, 4], dtype="Float64"))),
])
def test_refused_columns(match, cols):
    refused(match, **cols)


@pytest.mark.parametrize("match,kw", [
    (r"column 'p' \(path\) not found in `data`; its columns are: path, conversions, value, nulls",
     dict(path="p")),
    (r"`nulls` must name the column of non-converting journeys: logistic regression needs",
     None),
    (r"`models`: unknown model \"lin\"; known models: ", dict(models=["lin"])),
    (r'setting `ordre` not used by model "linear"; they take no settings', dict(ordre=2)),
    (r"`random_state` must be a whole number from 0 to 9007199254740992", dict(random_state=-1)),
    (r"`bootstrap` must be a whole number from 0 to 1e\+06", dict(bootstrap=0.5)),
    (r'`channel_sep` must be one single-byte character such as ">" or ";", not ""',
     dict(channel_sep="")),
])
def test_refused_arguments(match, kw):
    with pytest.raises(ValueError, match=match):
        if kw is None:
            touchlane.Logistic().fit(J, nulls=None)
        elif "models" in kw:
            touchlane.attribution(J, **kw)
        else:
            touchlane.attribution(J, models=["linear"], **kw)


# ---- event times -------------------------------------------------------------------

EV = pd.DataFrame({"user": ["u1", "u1", "u2", "u1", "u2"],
                   "secs": [0.0, 3600.0, 7200.0, 2.5 * 86400, 86400.0],
                   "channel": ["search", "email", "display", None, ""],
                   "conversion": [0, 0, 0, 1, 1], "value": [0, 0, 0, 20.0, 5.0]})


def journeys(time):
    ev = EV.assign(time=time)
    return touchlane.journeys_from_events(ev, "user", "time", "channel", "conversion",
                                          value="value", times=True)


@pytest.mark.parametrize("time", [
    pd.to_datetime(EV["secs"], unit="s"),
    pd.to_datetime(EV["secs"], unit="s").dt.tz_localize("UTC").dt.tz_convert("Asia/Tokyo"),
    pd.to_datetime(EV["secs"], unit="s").dt.tz_localize("UTC").dt.tz_convert("America/New_York"),
    EV["secs"].astype("int64"),
    EV["secs"].astype("Float64"),
    pd.to_datetime(EV["secs"], unit="s").dt.strftime("%Y-%m-%dT%H:%M:%SZ"),
    pd.to_datetime(EV["secs"], unit="s").dt.strftime("%Y-%m-%d %H:%M:%S").astype("string"),
    pd.Series(list(pd.to_datetime(EV["secs"], unit="s").dt.tz_localize("UTC")), dtype=object),
], ids=["naive", "tokyo", "new_york", "int", "Float64", "iso", "iso_string", "objects"])
def test_event_time_dtypes(time):
    want = journeys(EV["secs"])
    assert want["days"].tolist() == ["0", "2>2"]
    pd.testing.assert_frame_equal(journeys(time), want)


@pytest.mark.parametrize("time,match", [
    (["2024-01-01", None, "2024-01-02", "2024-01-03", "2024-01-04"],
     r'column "time" \(time\): row 2 missing'),
    (["2024-01-01", "soon", "2024-01-02", "2024-01-03", "2024-01-04"], r"soon"),
    ([True, False, True, False, True], r'column "time" \(time\) must be datetime64'),
    (pd.to_datetime(["2024-01-01", None, "2024-01-02", "2024-01-03", "2024-01-04"]), r"row 2"),
])
def test_event_time_refusals(time, match):
    with pytest.raises(ValueError, match=match):
        journeys(time)


def test_event_columns_categorical_and_refusals():
    want = journeys(EV["secs"])
    ev = EV.assign(time=EV["secs"], channel=EV["channel"].astype("category"),
                   user=EV["user"].astype("category"))
    got = touchlane.journeys_from_events(ev, "user", "time", "channel", "conversion",
                                         value="value", times=True)
    pd.testing.assert_frame_equal(got, want)
    with pytest.raises(ValueError, match=r'column "who" \(user\) not found in events'):
        touchlane.journeys_from_events(ev, "who", "time", "channel", "conversion")
    # conversions and values: numbers, nullable numbers or booleans, never
    # a categorical's codes or text
    for conv, match in (
            (pd.Series([0, 0, 0, 1, 1]).astype("category"), "must be numeric or True/False, not "
                                                             "category"),
            (pd.Series(["0", "0", "0", "1", "1"], dtype="string"), "not string"),
            (pd.array([0, 0, pd.NA, 1, 1], dtype="Int64"), r"\(conversion\): row 3 missing"),
            ([0, 0, 0, 1, 1.5], r"row 5 not a whole number >= 0 \(1.5\)")):
        with pytest.raises(ValueError, match=match):
            touchlane.journeys_from_events(ev.assign(conversion=conv), "user", "time",
                                           "channel", "conversion")
    got = touchlane.journeys_from_events(
        ev.assign(conversion=pd.array([False, False, False, True, True], dtype="boolean"),
                  value=pd.array([None, None, None, 20, 5], dtype="Float64")),
        "user", "time", "channel", "conversion", value="value", times=True)
    pd.testing.assert_frame_equal(got, want)
    with pytest.raises(ValueError, match=r'column "value" \(value\) must be numeric'):
        touchlane.journeys_from_events(ev.assign(value=ev["value"].astype("category")), "user",
                                       "time", "channel", "conversion", value="value")
    with pytest.raises(ValueError, match=r'column "user" \(user\): row 2 missing'):
        touchlane.journeys_from_events(ev.assign(user=["a", None, "b", "a", "b"]), "user", "time",
                                       "channel", "conversion")
    with pytest.raises(ValueError, match=r'times=True needs a transform that keeps touches'):
        touchlane.journeys_from_events(ev, "user", "time", "channel", "conversion",
                                       transform="frequency", times=True)


def test_event_file_routes_equal_the_data_frame(tmp_path):
    want = journeys(EV["secs"])
    f = tmp_path / "ev.csv"
    for grouped in (False, True):
        ev = EV.sort_values("user", kind="stable") if grouped else EV
        ev.assign(time=ev["secs"]).to_csv(f, sep=";", index=False)
        got = touchlane.journeys_from_events(None, "user", "time", "channel", "conversion",
                                             value="value", times=True, file=str(f),
                                             grouped=grouped)
        pd.testing.assert_frame_equal(got, want)
