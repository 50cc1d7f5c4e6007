"""Journeys from touch events: natively from a DataFrame or a streamed
file, or as one SQL query run where the events live (DB-API)."""
from __future__ import annotations

import math
from typing import Any, Dict, List, Optional, Sequence

import numpy as np
import pandas as pd

from . import _core
from ._log import logger

TRANSFORMS = ("none", "collapse", "first", "frequency")
DIALECTS = ("sqlite", "postgres", "bigquery", "spark")


def _check_flag(x: Any, name: str) -> int:
    if not isinstance(x, (bool, np.bool_)):
        raise ValueError(f"{name} must be True or False")
    return int(bool(x))


def _match_kind(x: Any, kinds: Sequence[str], name: str) -> str:
    if not isinstance(x, str) or x not in kinds:
        raise ValueError(f"{name} must be one of " + ", ".join(f'"{k}"' for k in kinds))
    return x


def _lookback(lookback_days: Optional[float], lookback_touches: Optional[float]) -> tuple:
    days = math.inf if lookback_days is None else lookback_days
    touches = math.inf if lookback_touches is None else lookback_touches
    if not isinstance(days, (int, float, np.number)) or isinstance(days, bool) or \
            math.isnan(days) or days < 0:
        raise ValueError("lookback_days must be a number >= 0 or None")
    if not isinstance(touches, (int, float, np.number)) or isinstance(touches, bool) or \
            math.isnan(touches) or touches < 1 or \
            (math.isfinite(touches) and touches != round(touches)):
        raise ValueError("lookback_touches must be a whole number >= 1 or None")
    return float(days), float(touches)


def _check_rules(times: Any, transform: Any, channel_sep: Any) -> tuple:
    flg = _check_flag(times, "times")
    transform = _match_kind(transform, TRANSFORMS, "transform")
    if flg and transform == "frequency":
        raise ValueError('times=True needs a transform that keeps touches, not "frequency"')
    if not isinstance(channel_sep, str) or len(channel_sep) != 1:
        raise ValueError("channel_sep must be one character")
    return flg, transform


# ---- native ------------------------------------------------------------------------


def journeys_from_events(events: Optional[pd.DataFrame] = None, user: str = "user",
                         time: str = "time", channel: str = "channel",
                         conversion: str = "conversion", value: Optional[str] = None,
                         lookback_days: Optional[float] = None,
                         lookback_touches: Optional[int] = None, transform: str = "none",
                         times: bool = False, *, file: Optional[str] = None,
                         order_by: Optional[str] = None, grouped: bool = False,
                         channel_sep: str = ">", field_sep: str = ";") -> pd.DataFrame:
    """Builds the journey table every model reads from touch events.

    One row per touch (user, time, channel) or per conversion (a count > 0
    and its value); a conversion row that also names a channel is that
    touch followed by the conversion. Per user, events run in time order
    (ties in input order, or by `order_by`). Each conversion ends a journey
    made of the touches since the previous one; touches after a user's last
    conversion form a non-converting journey. Lookback keeps the touches at
    most `lookback_days` before the journey's end and the last
    `lookback_touches`; `transform` ("none", "collapse", "first",
    "frequency") shapes the path.

    Parameters
    ----------
    events : pandas.DataFrame
        The events (or give `file`, a delimited file streamed natively).
    user, time, channel, conversion, value : str
        Column names. Times are datetime64 (with or without time zone;
        naive times are UTC), numbers of seconds since 1970-01-01 UTC, or
        ISO text. An NA or empty channel is no touch.
    times : bool
        Adds the column `days`: each kept touch's whole days before the
        journey's end, written like the path.

    Returns
    -------
    pandas.DataFrame
        path, conversions, nulls, value (and days); rows sorted by path.
        `.attrs["untouched"]` counts conversions that had no touch.

    Examples
    --------
    >>> import pandas as pd, touchlane
    >>> ev = pd.DataFrame({"user": [1, 1, 1, 2, 2],
    ...     "time": pd.Timestamp("2024-01-01", tz="UTC") + pd.to_timedelta([0, 5, 9, 1, 2], "h"),
    ...     "channel": ["search", "display", None, "email", "email"],
    ...     "conversion": [0, 0, 1, 0, 0], "revenue": [0, 0, 30.0, 0, 0]})
    >>> touchlane.journeys_from_events(ev, "user", "time", "channel", "conversion",
    ...                                value="revenue")
                 path  conversions  nulls  value
    0     email>email          0.0    1.0    0.0
    1  search>display          1.0    0.0   30.0
    """
    for a, v in (("user", user), ("time", time), ("channel", channel), ("conversion", conversion)):
        if not isinstance(v, str):
            raise ValueError(f"{a} must be the name of a column")
    days, touches = _lookback(lookback_days, lookback_touches)
    flg_times, transform = _check_rules(times, transform, channel_sep)
    flg_grouped = _check_flag(grouped, "grouped")
    if file is not None:
        if events is not None:
            raise ValueError("give the events either as events or as file, not both")
        import os
        if not isinstance(file, str) or not os.path.exists(file):
            raise ValueError(f'file "{file}" does not exist')
        vars_ = [user, time, channel, conversion, value or "", order_by or ""]
        r = _core.event_file(os.path.expanduser(file), vars_, field_sep, flg_grouped, days,
                             touches, transform, flg_times, channel_sep)
        return _journey_table(r, flg_times)
    if not isinstance(events, pd.DataFrame):
        raise ValueError("events must be a data frame of events, or give file")

    def col(name: Optional[str], what: str) -> Optional[pd.Series]:
        if name is None:
            return None
        if name not in events.columns:
            raise ValueError(f'column "{name}" ({what}) not found in events')
        return events[name]

    u = col(user, "user")
    na = np.flatnonzero(u.isna().to_numpy())
    if len(na):
        raise ValueError(f'column "{user}" (user): row {na[0] + 1} is missing')
    uid, uniq = pd.factorize(u, sort=False)
    ch = col(channel, "channel")
    if isinstance(ch.dtype, pd.CategoricalDtype):
        levs = [str(c) for c in ch.cat.categories]
        cid = ch.cat.codes.to_numpy().astype(np.int32)
        if "" in levs:
            cid[cid == levs.index("")] = -1
    else:
        missing = ch.isna().to_numpy()
        text = ch.astype(object).where(~missing, None)
        cid, levs_idx = pd.factorize(text.where(text != "", None), sort=False)
        levs = [str(c) for c in levs_idx]
        cid = cid.astype(np.int32)
    tie = col(order_by, "order_by")
    r = _core.events(uid.astype(np.int32), len(uniq), _event_seconds(col(time, "time"), time),
                     cid, levs, _as_double(col(conversion, "conversion")),
                     None if value is None else _as_double(col(value, "value")),
                     None if tie is None else _tie_key(tie), days, touches, transform, flg_times,
                     channel_sep)
    return _journey_table(r, flg_times)


def _as_double(s: pd.Series) -> np.ndarray:
    if pd.api.types.is_bool_dtype(s.dtype):
        return s.astype(float).to_numpy()
    if pd.api.types.is_extension_array_dtype(s.dtype):
        return s.astype("float64").to_numpy()
    if not pd.api.types.is_numeric_dtype(s.dtype):
        return pd.to_numeric(s, errors="raise").astype(float).to_numpy()
    return s.to_numpy(dtype=np.float64)


def _event_seconds(x: pd.Series, name: str) -> np.ndarray:
    """Seconds since 1970-01-01 UTC of datetimes, numbers or ISO text."""
    if pd.api.types.is_datetime64_any_dtype(x.dtype):
        if getattr(x.dt, "tz", None) is not None:
            x = x.dt.tz_convert("UTC").dt.tz_localize(None)
        ns = x.to_numpy(dtype="datetime64[ns]").astype(np.int64).astype(np.float64)
        ns[x.isna().to_numpy()] = np.nan
        return ns / 1e9
    if pd.api.types.is_numeric_dtype(x.dtype) and not pd.api.types.is_bool_dtype(x.dtype):
        return x.astype("float64").to_numpy(dtype=np.float64, na_value=np.nan)
    if isinstance(x.dtype, pd.CategoricalDtype):
        x = x.astype(object)
    if pd.api.types.is_object_dtype(x.dtype) or pd.api.types.is_string_dtype(x.dtype):
        na = np.flatnonzero(x.isna().to_numpy())
        if len(na):
            raise ValueError(f"column time: row {na[0] + 1} is missing")
        vals = x.to_numpy(dtype=object)
        if all(isinstance(v, str) for v in vals):
            return _core.event_seconds(vals)
        try:
            return _event_seconds(pd.to_datetime(x, utc=True), name)
        except (TypeError, ValueError):
            pass
    raise ValueError(f'column "{name}" (time) must be datetime64, numbers of seconds or ISO text')


def _tie_key(x: pd.Series) -> np.ndarray:
    if pd.api.types.is_datetime64_any_dtype(x.dtype):
        return _event_seconds(x, "order_by")
    if pd.api.types.is_numeric_dtype(x.dtype) and not pd.api.types.is_bool_dtype(x.dtype):
        return x.astype("float64").to_numpy(dtype=np.float64, na_value=np.nan)
    codes, _ = pd.factorize(x, sort=True)
    out = codes.astype(np.float64)
    out[codes < 0] = np.nan
    return out


def _journey_table(r: Dict[str, Any], flg_times: int) -> pd.DataFrame:
    out = pd.DataFrame({"path": list(r["path"]),
                        "conversions": r["conversions"].astype(np.float64),
                        "nulls": r["nulls"].astype(np.float64), "value": r["value"]})
    if flg_times:
        out["days"] = list(r["days"])
    out.attrs["untouched"] = {"conversions": float(r["untouched"]),
                              "rows": float(r["untouched_rows"]),
                              "value": float(r["untouched_value"])}
    if r["untouched"] > 0:
        logger.warning("%s conversions (%s rows) had no touch before them within the lookback "
                       "and form no journey", f"{r['untouched']:,}", f"{r['untouched_rows']:,}")
    return out


# ---- SQL -----------------------------------------------------------------------------


def sql_quote(name: Any, dialect: str) -> str:
    """A table or column name quoted for the dialect: backticks (a backtick
    escaped by a backslash) for BigQuery and Spark, standard double quotes
    (doubled inside) for the others."""
    if not isinstance(name, str) or name == "":
        raise ValueError("table and column names must be single non-empty strings")
    if dialect in ("bigquery", "spark"):
        return "`" + name.replace("`", "\\`") + "`"
    return '"' + name.replace('"', '""') + '"'


def sql_literal(text: str) -> str:
    """A string literal (single quotes doubled)."""
    return "'" + text.replace("'", "''") + "'"


class _Dialect:
    def __init__(self, dialect: str) -> None:
        self.name = dialect
        self.bq = dialect in ("bigquery", "spark")
        self.text = "STRING" if self.bq else "TEXT"

    def q(self, x: Any) -> str:
        return sql_quote(x, self.name)

    def cat2(self, *parts: str) -> str:
        return f"CONCAT({', '.join(parts)})" if self.bq else " || ".join(parts)


_JW = "PARTITION BY tl_user, tl_journey"


def _r_digits17(x: float) -> str:
    s = f"{x:.17g}"
    if "e" in s:
        mant, exp = s.split("e")
        sign = exp[0] if exp[0] in "+-" else "+"
        return f"{mant}e{sign}{int(exp.lstrip('+-')):02d}"
    return s


def _table_parts(table: Any) -> List[str]:
    if not isinstance(table, str):
        raise ValueError("table and column names must be single non-empty strings")
    parts = table.split(".")
    if len(parts) > 1 and parts[-1] == "":
        parts.pop()   # a trailing dot names no part
    return parts


def journeys_sql(table: str, user: str, time: str, channel: str, conversion: str,
                 value: Optional[str] = None, lookback_days: Optional[float] = None,
                 lookback_touches: Optional[int] = None, transform: str = "none",
                 order_by: Optional[str] = None, times: bool = False,
                 time_type: str = "timestamp", channel_sep: str = ">",
                 dialect: str = "sqlite") -> str:
    """One SQL query that turns an event table into the journey table of
    `journeys_from_events`, with the same rules, lookback, transforms and
    days column. Ties of time are broken by `order_by` (SQL has no input
    order).

    Parameters
    ----------
    table : str
        The table or view; "schema.table" is split at the dot and each part
        quoted.
    time_type : {"timestamp", "seconds"}
        A timestamp column (ISO text in SQLite) or seconds since 1970.
    dialect : {"sqlite", "postgres", "bigquery", "spark"}
        SQLite and PostgreSQL are tested on real databases; BigQuery and
        Spark text is not run here.

    Returns
    -------
    str

    Examples
    --------
    >>> import touchlane
    >>> sql = touchlane.journeys_sql("events", "user_id", "ts", "channel", "conversions",
    ...                              lookback_days=30, dialect="postgres")
    >>> print(sql.splitlines()[2][:66])
      SELECT "user_id" AS tl_user, EXTRACT(EPOCH FROM "ts") AS tl_time
    """
    dialect = _match_kind(dialect, DIALECTS, "dialect")
    transform = _match_kind(transform, TRANSFORMS, "transform")
    time_type = _match_kind(time_type, ("timestamp", "seconds"), "time_type")
    _check_flag(times, "times")
    days, touches = _lookback(lookback_days, lookback_touches)
    _check_rules(times, transform, channel_sep)
    d = _Dialect(dialect)
    # Names are quoted in this order so that the first bad one is reported.
    tbl = ".".join(d.q(p) for p in _table_parts(table))
    epoch = _sql_epoch(d.q(time), time_type, dialect)
    ev = (f"SELECT {d.q(user)} AS tl_user, {epoch} AS tl_time, {d.q(channel)} AS tl_channel, "
          f"COALESCE({d.q(conversion)}, 0) AS tl_conv, "
          f"{'0' if value is None else f'COALESCE({d.q(value)}, 0)'} AS tl_value, "
          f"{'0' if order_by is None else d.q(order_by)} AS tl_tie FROM {tbl}")
    ctes: Dict[str, str] = {"ev": ev}
    ctes.update(_sql_touches(days, touches))
    ctes["shaped"] = _sql_shape(transform, d)
    ctes.update(_sql_journeys(dialect, d, bool(times), sql_literal(channel_sep)))
    final = ("SELECT tl_path AS path, SUM(tl_jconv) AS conversions, "
             "SUM(CASE WHEN tl_jconv = 0 THEN 1 ELSE 0 END) AS nulls, SUM(tl_jvalue) AS value"
             + (", tl_days AS days" if times else "")
             + " FROM journeys GROUP BY tl_path" + (", tl_days" if times else ""))
    return ("WITH\n" + ",\n".join(f"{k} AS (\n  {v}\n)" for k, v in ctes.items()) + "\n"
            + final)


def _sql_epoch(t: str, time_type: str, dialect: str) -> str:
    if time_type == "seconds":
        return t
    return {"sqlite": f"CAST(strftime('%s', {t}) AS INTEGER)",
            "postgres": f"EXTRACT(EPOCH FROM {t})",
            "bigquery": f"UNIX_MICROS(TIMESTAMP({t})) / 1000000.0",
            "spark": f"unix_micros(CAST({t} AS TIMESTAMP)) / 1000000.0"}[dialect]


def _sql_touches(lookback_days: float, lookback_touches: float) -> Dict[str, str]:
    has_channel = "tl_channel IS NOT NULL AND tl_channel <> ''"
    jw = _JW
    days = (f" AND tl_end - tl_time <= {_r_digits17(lookback_days * 86400)}"
            if math.isfinite(lookback_days) else "")
    return {
        "numbered": "SELECT ev.*, ROW_NUMBER() OVER (PARTITION BY tl_user ORDER BY tl_time, "
                    "tl_tie) AS tl_seq FROM ev",
        # journey number: the conversions strictly before the row
        "cut": "SELECT numbered.*, COALESCE(SUM(CASE WHEN tl_conv > 0 THEN 1 ELSE 0 END) OVER "
               "(PARTITION BY tl_user ORDER BY tl_seq ROWS BETWEEN UNBOUNDED PRECEDING AND "
               "1 PRECEDING), 0) AS tl_journey FROM numbered",
        "ended": f"SELECT cut.*, MAX(CASE WHEN tl_conv > 0 OR ({has_channel}) THEN tl_time END) "
                 f"OVER ({jw}) AS tl_end, SUM(tl_conv) OVER ({jw}) AS tl_jconv, "
                 f"SUM(CASE WHEN tl_conv > 0 THEN tl_value ELSE 0 END) OVER ({jw}) AS tl_jvalue "
                 "FROM cut",
        "touches": f"SELECT tl_user, tl_journey, tl_seq, tl_channel, tl_end - tl_time AS "
                   f"tl_before, tl_jconv, tl_jvalue, ROW_NUMBER() OVER ({jw} ORDER BY tl_seq "
                   f"DESC) AS tl_back FROM ended WHERE {has_channel}{days}",
        "kept": "SELECT * FROM touches" + (f" WHERE tl_back <= {lookback_touches:.0f}"
                                            if math.isfinite(lookback_touches) else ""),
    }


def _sql_shape(transform: str, d: _Dialect) -> str:
    jw = _JW
    if transform == "none":
        return "SELECT kept.*, tl_channel AS tl_label FROM kept"
    if transform == "collapse":
        return (f"SELECT x.*, tl_channel AS tl_label FROM (SELECT kept.*, LEAD(tl_channel) OVER "
                f"({jw} ORDER BY tl_seq) AS tl_next FROM kept) x "
                "WHERE tl_next IS NULL OR tl_next <> tl_channel")
    if transform == "first":
        return (f"SELECT x.*, tl_channel AS tl_label FROM (SELECT kept.*, ROW_NUMBER() OVER "
                f"({jw}, tl_channel ORDER BY tl_seq) AS tl_nth FROM kept) x WHERE tl_nth = 1")
    label = d.cat2("tl_channel", "'('", f"CAST(COUNT(*) AS {d.text})", "')'")
    return ("SELECT tl_user, tl_journey, MIN(tl_seq) AS tl_seq, MIN(tl_before) AS tl_before, "
            f"MAX(tl_jconv) AS tl_jconv, MAX(tl_jvalue) AS tl_jvalue, {label} AS tl_label "
            "FROM kept GROUP BY tl_user, tl_journey, tl_channel")


def _sql_journeys(dialect: str, d: _Dialect, times: bool, lit_sep: str) -> Dict[str, str]:
    jw = _JW
    if dialect == "sqlite":
        whole_days = "CAST(tl_before / 86400.0 AS INTEGER)"
    else:
        whole_days = (f"CAST(FLOOR(tl_before / 86400.0) AS "
                      f"{'INT64' if dialect == 'bigquery' else 'BIGINT'})")
    day_text = f"CAST({whole_days} AS {d.text})"
    if dialect == "sqlite":
        # ordered aggregation as a running window; the journey's last row holds it all
        w = f"({jw} ORDER BY tl_seq ROWS BETWEEN UNBOUNDED PRECEDING AND CURRENT ROW)"
        tdays = f" group_concat({day_text}, {lit_sep}) OVER {w} AS tl_days," if times else ""
        return {"running": f"SELECT tl_jconv, tl_jvalue, group_concat(tl_label, {lit_sep}) OVER "
                           f"{w} AS tl_path,{tdays} ROW_NUMBER() OVER ({jw} ORDER BY tl_seq "
                           "DESC) AS tl_last FROM shaped",
                "journeys": "SELECT * FROM running WHERE tl_last = 1"}

    def agg(x: str) -> str:
        if dialect == "spark":
            return (f"concat_ws({lit_sep}, transform(array_sort(collect_list(named_struct('seq', "
                    f"tl_seq, 'label', {x}))), s -> s.label))")
        return f"STRING_AGG({x}, {lit_sep} ORDER BY tl_seq)"

    tdays = f", {agg(day_text)} AS tl_days" if times else ""
    return {"journeys": f"SELECT MAX(tl_jconv) AS tl_jconv, MAX(tl_jvalue) AS tl_jvalue, "
                        f"{agg('tl_label')} AS tl_path{tdays} FROM shaped "
                        "GROUP BY tl_user, tl_journey"}


def _dialect_of(con: Any) -> str:
    mod = type(con).__module__
    if mod.startswith("sqlite3"):
        return "sqlite"
    if mod.startswith("psycopg2") or mod.startswith("psycopg"):
        return "postgres"
    raise ValueError(f"cannot tell the SQL dialect of a {type(con).__name__} connection: "
                     "give dialect")


def _db_frame(rows: List[Sequence[Any]], names: List[str], sort: bool = True) -> pd.DataFrame:
    cols = {n: [r[i] for r in rows] for i, n in enumerate(names)}
    out = pd.DataFrame({"path": pd.Series(cols["path"], dtype=object).astype(str),
                        "conversions": pd.Series(cols["conversions"], dtype=object).astype(float),
                        "nulls": pd.Series(cols["nulls"], dtype=object).astype(float),
                        "value": pd.Series(cols["value"], dtype=object).astype(float)})
    if "days" in cols:
        out["days"] = pd.Series(cols["days"], dtype=object).astype(str)
    if sort and len(out) > 1:
        keys = ["path", "days"] if "days" in out else ["path"]
        enc = [out[k].map(lambda s: s.encode("utf-8")) for k in keys]   # byte order
        order = sorted(range(len(out)), key=lambda i: tuple(e.iat[i] for e in enc))
        out = out.iloc[order].reset_index(drop=True)
    return out


def _r_text(x: Any) -> str:
    if isinstance(x, float):
        return f"{x:.15g}"
    return str(x)


def journeys_from_db(con: Any, table: str, *args: Any, dialect: Optional[str] = None,
                     file_output: Optional[str] = None, field_sep: str = ";",
                     chunk: int = 100000, **kwargs: Any) -> Any:
    """Runs `journeys_sql` on a DB-API connection (sqlite3, psycopg2).

    Returns the journey table (rows sorted by path, as
    `journeys_from_events`), or streams it to `file_output` in chunks and
    returns the file name.

    Examples
    --------
    >>> import sqlite3, touchlane
    >>> con = sqlite3.connect(":memory:")
    >>> _ = con.execute("CREATE TABLE events (user, ts, id, channel, conversion)")
    >>> _ = con.executemany("INSERT INTO events VALUES (?, ?, ?, ?, ?)",
    ...     [(1, 0, 1, "search", 0), (1, 60, 2, "email", 0), (1, 120, 3, None, 1),
    ...      (2, 30, 4, "display", 0)])
    >>> touchlane.journeys_from_db(con, "events", "user", "ts", "channel", "conversion",
    ...                            order_by="id", time_type="seconds")
               path  conversions  nulls  value
    0       display          0.0    1.0    0.0
    1  search>email          1.0    0.0    0.0
    """
    if dialect is None:
        dialect = _dialect_of(con)
    sql = journeys_sql(table, *args, dialect=dialect, **kwargs)
    cur = con.cursor()
    try:
        cur.execute(sql)
        names = [c[0] for c in cur.description]
        if file_output is None:
            return _db_frame(cur.fetchall(), names)
        with open(file_output, "w", encoding="utf-8", newline="") as fh:
            fh.write(field_sep.join(names) + "\n")
            while True:
                rows = cur.fetchmany(chunk)
                if not rows:
                    break
                part = _db_frame(rows, names, sort=False)
                for row in part.itertuples(index=False):
                    fh.write(field_sep.join(_r_text(x) for x in row) + "\n")
        return file_output
    finally:
        cur.close()
