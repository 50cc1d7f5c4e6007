"""One table of awkward events through every route: the DataFrame (native),
sqlite3 and a real PostgreSQL give the same journeys or refuse the same
events, and the native and SQLite routes answer exactly as R's do."""
import os
import sqlite3
import stat

import numpy as np
import pandas as pd
import pytest

import touchlane
from conftest import r_case, r_result, same

# Ties of time broken by a text order_by whose byte order is not a
# collation's ("B" < "_" < "a" < "b"), a touch that converts, a conversion
# outside a 30-day lookback, an empty and a missing channel; times are
# seconds, stored by SQLite as REAL.
AWKWARD = pd.DataFrame({
    "u": ["a", "a", "a", "a", "b", "b", "b", "c", "c"],
    "t": 1709251200.0 + np.array([0, 0, 0, 10, 60, 60, 120, 0, 86400 * 40]),
    "ch": ["x", "Y", "_y", "x", "x", "", None, "z", "x"],
    "cv": [0, 0, 1, 0, 0, 0, 2, 1, 1.0], "v": [0, 0, 5, 0, 0, 0, 7.5, 2, 3],
    "id": ["b", "B", "a", "_", "_", "a", "c", "d", "e"]})
ARGS = dict(user="u", time="t", channel="ch", conversion="cv", value="v", order_by="id")

# id: (change of one cell (column, 1-based row, value), arguments, words every
# route's refusal holds; None: journeys)
CASES = {
    "lookback": (None, dict(lookback_days=30), None),
    "collapse": (None, dict(transform="collapse", times=True, lookback_touches=2), None),
    "frequency": (None, dict(transform="frequency", table="Touches"), None),
    "first": (None, dict(table="tl_journeys", transform="first", times=True), None),
    "hostile_table": (None, dict(table="e\"v'e`n\\ts"), None),
    "sep_in_channel": (("ch", 1, "x>y"), {}, ['channel "x>y" contains the channel separator ">"']),
    "null_user": (("u", 2, None), {}, ['column "u" (user): ', " missing"]),
    "null_time": (("t", 2, None), {}, ['column "t" (time): ', " missing"]),
    "null_conversion": (("cv", 2, None), {}, ['column "cv" (conversion): ', " missing"]),
    "negative": (("cv", 2, -1), {}, ['column "cv" (conversion): ', "whole number >= 0 (-1)"]),
    "fraction": (("cv", 3, 0.5), {}, ['column "cv" (conversion): ', "whole number >= 0 (0.5)"]),
    "null_value": (("v", 3, None), {}, ['column "v" (value): ', " missing on a conversion"]),
    "null_value_no_conversion": (("v", 2, None), {}, None),
    "null_tie": (("id", 2, None), {}, ['column "id" (order_by): ', " missing"]),
    "misspelt_user": (None, dict(user="usr"), ['column "usr" (user) not found in']),
    "misspelt_channel": (None, dict(channel="chanel"), ['column "chanel" (channel) not found']),
    "sep_two_bytes": (None, dict(channel_sep="\u2192"), ["`channel_sep` must be one single-byte"]),
    "sep_two_chars": (None, dict(channel_sep=">>"), ["`channel_sep` must be one single-byte"]),
}


def r_text(x):
    """A Python value as R source."""
    if x is None:
        return "NULL"
    if isinstance(x, bool):
        return "TRUE" if x else "FALSE"
    if isinstance(x, (int, float)):
        return repr(x)
    out = "".join(c if c.isascii() and c not in '"\\' else
                  ("\\" + c if c.isascii() else f"\\u{ord(c):04x}") for c in x)
    return f'"{out}"'


def case(case_id):
    change, args, _ = CASES[case_id]
    ev = AWKWARD.copy()
    if change is not None:
        col, row, x = change
        ev[col] = ev[col].astype(object)
        ev.loc[row - 1, col] = x
        if col != "ch" and col != "id" and col != "u":
            ev[col] = ev[col].astype(float)
    a = dict(ARGS, **args)
    return ev, a.pop("table", "events"), a


def register(case_id):
    ev, table, a = case(case_id)
    call = ", ".join(f"{k} = {r_text(v)}" for k, v in a.items())
    data = f'ev("{case_id}")'
    r_case(f"{case_id}_native", f"journeys_from_events({data}, {call})", {case_id: ev})
    r_case(f"{case_id}_sqlite", f"db({data}, {r_text(table)}, {call})")


for _id in CASES:
    register(_id)


def outcome(f, *args, **kw):
    try:
        return f(*args, **kw)
    except ValueError as e:
        return str(e)


def to_sqlite(con, table, ev):
    q = '"' + table.replace('"', '""') + '"'
    con.execute(f"CREATE TABLE {q} (u TEXT, t REAL, ch TEXT, cv REAL, v REAL, id TEXT)")
    rows = [tuple(None if pd.isna(x) else x for x in r) for r in
            ev[["u", "t", "ch", "cv", "v", "id"]].astype(object).itertuples(index=False)]
    con.executemany(f"INSERT INTO {q} VALUES (?, ?, ?, ?, ?, ?)", rows)


def pg_connection():
    host, user = os.environ.get("TOUCHLANE_PG_HOST"), os.environ.get("TOUCHLANE_PG_USER")
    if not host or not user:
        return None
    psycopg2 = pytest.importorskip("psycopg2")
    con = psycopg2.connect(host=host, user=user, dbname="postgres")
    con.autocommit = True
    return con


def to_postgres(con, table, ev):
    """Times as timestamptz, and a text order_by under a collation that is
    not byte order, as a database's default may be."""
    cur = con.cursor()
    q = '"' + table.replace('"', '""') + '"'
    cur.execute(f"DROP TABLE IF EXISTS {q}")
    cur.execute(f'CREATE TABLE {q} (u TEXT, t DOUBLE PRECISION, ch TEXT, cv DOUBLE PRECISION, '
                f'v DOUBLE PRECISION, id TEXT COLLATE "und-x-icu")')
    rows = [tuple(None if pd.isna(x) else x for x in r) for r in
            ev[["u", "t", "ch", "cv", "v", "id"]].astype(object).itertuples(index=False)]
    cur.executemany(f"INSERT INTO {q} VALUES (%s, %s, %s, %s, %s, %s)", rows)
    cur.execute(f"ALTER TABLE {q} ALTER COLUMN t TYPE timestamptz USING to_timestamp(t)")


@pytest.fixture(scope="module")
def pg():
    con = pg_connection()
    yield con
    if con is not None:
        con.close()


@pytest.mark.parametrize("case_id", list(CASES))
def test_every_route_same_journeys_or_refusal(case_id, pg, request):
    ev, table, a = case(case_id)
    want = CASES[case_id][2]
    native = outcome(touchlane.journeys_from_events, ev, **a)
    con = sqlite3.connect(":memory:")
    to_sqlite(con, table, ev)
    routes = {"sqlite": outcome(touchlane.journeys_from_db, con, table, **a)}
    if pg is not None:
        to_postgres(pg, table, ev)
        routes["postgres"] = outcome(touchlane.journeys_from_db, pg, table,
                                     **dict(a, time_type="timestamp"))
    for name, got in dict(native=native, **routes).items():
        if want is None:
            assert isinstance(got, pd.DataFrame), (name, got)
            pd.testing.assert_frame_equal(got, native, obj=name)
        else:
            assert isinstance(got, str), (name, got)
            assert all(w in got for w in want), (name, got)
    # the native and SQLite routes answer in R's words, with R's journeys
    # (skipped here, after the checks above, when R is absent)
    r_out = request.getfixturevalue("r_out")
    for name, got in (("native", native), ("sqlite", routes["sqlite"])):
        r = r_result(r_out, f"{case_id}_{name}")
        if isinstance(got, str):
            assert got == r, name
        else:
            same(got, r)


def test_result_file_replaced_whole_through_links(tmp_path):
    con = sqlite3.connect(":memory:")
    to_sqlite(con, "events", AWKWARD.assign(ch=AWKWARD["ch"].replace("z", "z;w")))
    target, link = tmp_path / "journeys.csv", tmp_path / "latest.csv"
    target.write_text("earlier result\n")
    target.chmod(0o600)
    link.symlink_to(target.name)
    a = dict(ARGS, channel_sep="|")
    for kw, match in ((dict(user="usr"), 'column "usr" \\(user\\) not found'),
                      ({}, 'path "z;w" holds the field separator ";"'),
                      (dict(chunk=0), "`chunk` must be a whole number of at least 1"),
                      (dict(chunk=None), "`chunk` must be a whole number of at least 1"),
                      (dict(field_sep="::"), "`field_sep` must be one single-byte character")):
        with pytest.raises(ValueError, match=match):
            touchlane.journeys_from_db(con, "events", **dict(a, **kw), file_output=str(link))
    assert target.read_text() == "earlier result\n"
    assert sorted(p.name for p in tmp_path.iterdir()) == ["journeys.csv", "latest.csv"]
    touchlane.journeys_from_db(con, "events", **a, file_output=str(link), field_sep=",", chunk=2)
    assert link.is_symlink() and stat.S_IMODE(target.stat().st_mode) == 0o600
    back = pd.read_csv(target, sep=",", keep_default_na=False)
    want = touchlane.journeys_from_db(con, "events", **a)
    pd.testing.assert_frame_equal(back.sort_values("path", ignore_index=True).astype(
        {c: float for c in ("conversions", "nulls", "value")}), want)
    with pytest.raises(ValueError, match='directory ".*nowhere" does not exist'):
        touchlane.journeys_from_db(con, "events", **a, file_output=str(tmp_path / "nowhere/j"))


BIG = AWKWARD.assign(v=[0, 0, 1e5, 0, 0, 0, 0.1 + 0.2, 2, 3])
r_case("file_output", 'db(ev("big"), "events", user = "u", time = "t", channel = "ch", '
       'conversion = "cv", value = "v", order_by = "id", times = TRUE, '
       'file_output = file.path(out, "big_journeys.txt"))', {"big": BIG})


def test_result_file_written_as_r_writes_it(tmp_path, request):
    con = sqlite3.connect(":memory:")
    to_sqlite(con, "events", BIG)
    f = tmp_path / "j.txt"
    touchlane.journeys_from_db(con, "events", **ARGS, times=True, file_output=str(f))
    r_out = request.getfixturevalue("r_out")
    assert f.read_bytes() == (r_out / "big_journeys.txt").read_bytes()
