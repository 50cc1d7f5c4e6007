"""journeys_sql through DB-API drivers gives the native journey table:
sqlite3 in memory, and a real PostgreSQL when TOUCHLANE_PG_HOST is set."""
import os
import sqlite3

import numpy as np
import pandas as pd
import pytest

import touchlane

CASES = [  # transform, times, lookback_days, lookback_touches
    ("none", False, None, None),
    ("collapse", True, 2, None),
    ("first", True, None, 2),
    ("frequency", False, 1.5, 3),
]


def events(n=600, seed=11):
    rng = np.random.default_rng(seed)
    conv = (rng.random(n) < 0.12).astype(int)
    ts = pd.Timestamp("2024-03-01", tz="UTC") + pd.to_timedelta(
        rng.integers(0, 10 * 86400, n), "s")
    return pd.DataFrame({"id": np.arange(n), "uid": rng.integers(0, 50, n),
                         "ts": ts, "channel": rng.choice(["seo", "ads", "mail", None], n),
                         "conv": conv, "rev": np.round(conv * rng.random(n) * 50, 2)})


def native(ev, transform, times, ld, lt):
    return touchlane.journeys_from_events(ev, "uid", "ts", "channel", "conv", value="rev",
                                          lookback_days=ld, lookback_touches=lt,
                                          transform=transform, times=times, order_by="id")


def check(con, table, ev, time_type):
    for transform, times, ld, lt in CASES:
        got = touchlane.journeys_from_db(con, table, "uid", "ts", "channel", "conv", value="rev",
                                         lookback_days=ld, lookback_touches=lt,
                                         transform=transform, times=times, order_by="id",
                                         time_type=time_type)
        want = native(ev, transform, times, ld, lt)
        pd.testing.assert_frame_equal(got, want, check_exact=False, rtol=1e-12,
                                      obj=f"{transform} {times} {ld} {lt}")


def test_sqlite3_equals_native(tmp_path):
    ev = events()
    con = sqlite3.connect(":memory:")
    rows = ev.assign(ts=ev["ts"].dt.strftime("%Y-%m-%d %H:%M:%S"),
                     channel=ev["channel"].astype(object))
    con.execute("CREATE TABLE events (id INTEGER, uid INTEGER, ts TEXT, channel TEXT, conv INTEGER, "
                "rev REAL)")
    con.executemany("INSERT INTO events VALUES (?, ?, ?, ?, ?, ?)",
                    rows[["id", "uid", "ts", "channel", "conv", "rev"]].itertuples(index=False))
    check(con, "events", ev, "timestamp")
    # streamed to a file in chunks: the same rows, unsorted
    f = tmp_path / "j.csv"
    touchlane.journeys_from_db(con, "events", "uid", "ts", "channel", "conv", value="rev",
                               order_by="id", file_output=str(f), chunk=7)
    back = pd.read_csv(f, sep=";", keep_default_na=False).sort_values("path", ignore_index=True)
    want = native(ev, "none", False, None, None)
    pd.testing.assert_frame_equal(back.astype({c: float for c in back.columns[1:]}), want)


def test_postgres_equals_native():
    host, user = os.environ.get("TOUCHLANE_PG_HOST"), os.environ.get("TOUCHLANE_PG_USER")
    if not host or not user:
        pytest.skip("TOUCHLANE_PG_HOST / TOUCHLANE_PG_USER not set")
    psycopg2 = pytest.importorskip("psycopg2")
    ev = events(seed=12)
    con = psycopg2.connect(host=host, user=user, dbname="postgres")
    try:
        cur = con.cursor()
        cur.execute('CREATE SCHEMA IF NOT EXISTS "py tests"')
        cur.execute('DROP TABLE IF EXISTS "py tests".ev')
        cur.execute('CREATE TABLE "py tests".ev (id INTEGER, uid INTEGER, ts TIMESTAMPTZ, '
                    'channel TEXT, conv INTEGER, rev DOUBLE PRECISION)')
        cur.executemany("INSERT INTO \"py tests\".ev VALUES (%s, %s, %s, %s, %s, %s)",
                        [(int(r.id), int(r.uid), r.ts.to_pydatetime(), r.channel, int(r.conv),
                          float(r.rev)) for r in ev.itertuples(index=False)])
        con.commit()
        check(con, "py tests.ev", ev, "timestamp")
    finally:
        con.rollback()
        cur = con.cursor()
        cur.execute('DROP SCHEMA IF EXISTS "py tests" CASCADE')
        con.commit()
        con.close()
