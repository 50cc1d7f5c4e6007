"""Journeys from touch events: natively from a DataFrame or a streamed
file, or as one SQL query run where the events live (DB-API)."""
from __future__ import annotations

import math
import os
import re
import stat
import tempfile
from typing import Any, Dict, List, Optional, Sequence

import numpy as np
import pandas as pd

from . import _core
from ._journeys import _r_number, as_whole, bad_rows, check_sep, check_string, encode_string
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
    check_sep(channel_sep, "channel_sep")
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
    flg_grouped = _check_flag(grouped, "grouped")
    flg_times, transform = _check_rules(times, transform, channel_sep)
    check_sep(field_sep, "field_sep")
    days, touches = _lookback(lookback_days, lookback_touches)
    if file is not None:
        if events is not None:
            raise ValueError("give the events either as events or as file, not both")
        file = os.fspath(file) if isinstance(file, os.PathLike) else file
        if not isinstance(file, str) or not os.path.exists(os.path.expanduser(file)):
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
    _refuse_rows(u.isna().to_numpy(), user, "user", "missing")
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
    tm = _event_seconds(col(time, "time"), time)
    _refuse_rows(np.isnan(tm), time, "time", "missing")
    cv = _event_numbers(col(conversion, "conversion"), conversion, "conversion")
    _refuse_rows(np.isnan(cv), conversion, "conversion", "missing")
    with np.errstate(invalid="ignore"):
        bad = (cv < 0) | ~np.isfinite(cv) | (cv != np.floor(cv))
    if bad.any():
        _refuse_rows(bad, conversion, "conversion",
                     f"not a whole number >= 0 ({_r_format(cv[np.flatnonzero(bad)[0]])})")
    v = None
    if value is not None:
        v = _event_numbers(col(value, "value"), value, "value")
        _refuse_rows((cv > 0) & np.isnan(v), value, "value", "missing on a conversion")
    tie = col(order_by, "order_by")
    tk = None
    if tie is not None:
        tk = _tie_key(tie)
        _refuse_rows(np.isnan(tk), order_by, "order_by", "missing")
    r = _core.events(uid.astype(np.int32), len(uniq), tm, cid, levs, cv, v, tk, days, touches,
                     transform, flg_times, channel_sep)
    return _journey_table(r, flg_times)


def _refuse_rows(bad: np.ndarray, name: str, what: str, problem: str) -> None:
    """Refuses the rows `bad` of a column, naming the column and what is
    wrong there, in the words the SQL route uses too."""
    rows = np.flatnonzero(bad)
    if len(rows):
        raise ValueError(f'column "{name}" ({what}): {bad_rows(rows)} {problem}')


_NUMBERS = {"integer", "floating", "mixed-integer-float", "boolean", "empty", "decimal"}


def _event_numbers(s: pd.Series, name: str, what: str) -> np.ndarray:
    """Conversions and values: numbers or True/False (NA allowed here, and
    refused by the caller where it matters). A categorical's codes are not
    its labels, so categoricals are refused, as is text."""
    ok = (pd.api.types.is_numeric_dtype(s.dtype) or pd.api.types.is_bool_dtype(s.dtype)) \
        and not isinstance(s.dtype, pd.CategoricalDtype) \
        and not pd.api.types.is_complex_dtype(s.dtype)
    if not ok and pd.api.types.is_object_dtype(s.dtype):
        ok = pd.api.types.infer_dtype(s, skipna=True) in _NUMBERS
    if not ok:
        raise ValueError(f'column "{name}" ({what}) must be numeric or True/False, not {s.dtype}')
    if pd.api.types.is_object_dtype(s.dtype):
        s = pd.to_numeric(s.where(s.notna(), np.nan), errors="raise")
    return s.to_numpy(dtype=np.float64, na_value=np.nan)


def _r_format(x: float) -> str:
    """A number as R's format() shows it (7 significant digits)."""
    if not math.isfinite(x):
        return "NaN" if math.isnan(x) else ("Inf" if x > 0 else "-Inf")
    s = f"{x:.7g}"
    if "e" in s:
        mant, exp = s.split("e")
        return f"{mant}e{exp[0]}{int(exp[1:]):02d}"
    return s


def _event_seconds(x: pd.Series, name: str) -> np.ndarray:
    """Seconds since 1970-01-01 UTC of datetimes, numbers or ISO text (NaN
    where missing)."""
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
        na = x.isna().to_numpy()
        vals = x.to_numpy(dtype=object)
        if all(isinstance(v, str) for v in vals[~na]):
            out = np.full(len(vals), np.nan)
            if (~na).any():
                out[~na] = _core.event_seconds(vals[~na])
            return out
        try:
            return _event_seconds(pd.to_datetime(x, utc=True), name)
        except (TypeError, ValueError):
            pass
    raise ValueError(f'column "{name}" (time) must be datetime64, numbers of seconds or ISO text')


def _tie_key(x: pd.Series) -> np.ndarray:
    """Ties of time follow order_by: numbers and times by value, text by
    its bytes (as the databases compare it)."""
    if pd.api.types.is_datetime64_any_dtype(x.dtype):
        return _event_seconds(x, "order_by")
    if pd.api.types.is_numeric_dtype(x.dtype) and not pd.api.types.is_bool_dtype(x.dtype):
        return x.astype("float64").to_numpy(dtype=np.float64, na_value=np.nan)
    codes, uniq = pd.factorize(x.astype(object), sort=False)
    keys = [str(u).encode("utf-8", "surrogateescape") for u in uniq]
    rank = np.empty(len(keys), dtype=np.float64)
    rank[sorted(range(len(keys)), key=keys.__getitem__)] = np.arange(len(keys))
    out = np.full(len(codes), np.nan)
    out[codes >= 0] = rank[codes[codes >= 0]]
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

_STEPS = ("ev", "numbered", "cut", "ended", "touches", "kept", "shaped", "running", "journeys")
_CONTROL = re.compile("[\x01-\x1f\x7f]")


class _Dialect:
    """Quoting and concatenation of a dialect. SQLite and PostgreSQL follow
    standard SQL: names in double quotes, literals in single quotes, the
    quote doubled inside. BigQuery reads backslash escapes in quoted names
    and literals (a doubled quote there ends the text), so the backslash and
    the quote are escaped with a backslash. Spark doubles a backtick in a
    name, but whether a backslash escapes in a literal depends on a session
    setting, so a separator that is a quote or a backslash is refused there.
    Control characters are refused in the warehouse dialects, whose quoted
    text cannot hold them raw."""

    def __init__(self, dialect: str) -> None:
        self.name = dialect
        self.bq = dialect in ("bigquery", "spark")
        self.text = "STRING" if self.bq else "TEXT"

    def _refuse_controls(self, x: str, what: str) -> None:
        if self.bq and _CONTROL.search(x):
            raise ValueError(f'{what} "{x}" holds a control character, which {self.name} '
                             "cannot quote")

    def q(self, x: Any) -> str:
        if not isinstance(x, str) or x == "":
            raise ValueError("table and column names must be single non-empty strings")
        self._refuse_controls(x, "name")
        if self.name == "bigquery":
            return "`" + re.sub(r"([`\\])", r"\\\1", x) + "`"
        if self.name == "spark":
            return "`" + x.replace("`", "``") + "`"
        return '"' + x.replace('"', '""') + '"'

    def lit(self, s: str) -> str:
        self._refuse_controls(s, "channel_sep")
        if self.name == "spark" and re.search(r"['\\]", s):
            raise ValueError(f'channel_sep "{s}" cannot be quoted safely for spark: '
                             "choose another character")
        if self.name == "bigquery":
            return "'" + re.sub(r"(['\\])", r"\\\1", s) + "'"
        return "'" + s.replace("'", "''") + "'"

    def cat2(self, *parts: str) -> str:
        return f"CONCAT({', '.join(parts)})" if self.bq else " || ".join(parts)


def sql_quote(name: Any, dialect: str) -> str:
    """A table or column name quoted for the dialect (see `journeys_sql`).

    Examples
    --------
    >>> from touchlane.events import sql_quote
    >>> sql_quote('we"ird', "postgres"), sql_quote("a`b", "spark"), sql_quote("a`b", "bigquery")
    ('"we""ird"', '`a``b`', '`a\\\\`b`')
    """
    return _Dialect(_match_kind(dialect, DIALECTS, "dialect")).q(name)


_JW = "PARTITION BY tl_user, tl_journey"


def _r_digits17(x: float) -> str:
    s = f"{x:.17g}"
    if "e" in s:
        mant, exp = s.split("e")
        sign = exp[0] if exp[0] in "+-" else "+"
        return f"{mant}e{sign}{int(exp.lstrip('+-')):02d}"
    return s


def _step_names(parts: List[str]) -> Dict[str, str]:
    """The query's internal steps, named so that none can be the events
    table (a step named like it would hide it, case aside)."""
    low = {p.lower() for p in parts}
    prefix = "tl_"
    while any((prefix + s).lower() in low for s in _STEPS):
        prefix += "_"
    return {s: prefix + s for s in _STEPS}


class _Query:
    """The checked arguments of a journey query, with the dialect's quoting
    and the names of its internal steps."""

    def __init__(self, table: Any, user: Any, time: Any, channel: Any, conversion: Any,
                 value: Any, lookback_days: Any, lookback_touches: Any, transform: Any,
                 order_by: Any, times: Any, time_type: Any, channel_sep: Any,
                 dialect: Any) -> None:
        self.dialect = _match_kind(dialect, DIALECTS, "dialect")
        self.transform = _match_kind(transform, TRANSFORMS, "transform")
        self.time_type = _match_kind(time_type, ("timestamp", "seconds"), "time_type")
        if not isinstance(table, str) or table == "":
            raise ValueError("table must be the name of one table (a single string)")
        for a, v in (("user", user), ("time", time), ("channel", channel),
                     ("conversion", conversion)):
            if not isinstance(v, str):
                raise ValueError(f"{a} must be the name of a column")
        for a, v in (("value", value), ("order_by", order_by)):
            if v is not None and not isinstance(v, str):
                raise ValueError(f"{a} must be the name of a column, or None")
        self.times, self.transform = _check_rules(times, transform, channel_sep)
        self.lookback_days, self.lookback_touches = _lookback(lookback_days, lookback_touches)
        self.channel_sep = channel_sep
        self.table = table
        self.d = _Dialect(self.dialect)
        parts = table.split(".")
        while len(parts) > 1 and parts[-1] == "":
            parts.pop()   # as R's strsplit: trailing dots name no part
        self.cols = {"user": user, "time": time, "channel": channel, "conversion": conversion}
        if value is not None:
            self.cols["value"] = value
        if order_by is not None:
            self.cols["order_by"] = order_by
        # Names are quoted in this order so that the first bad one is reported.
        self.tbl = ".".join(self.d.q(p) for p in parts)
        self.qc = {a: self.d.q(c) for a, c in self.cols.items()}
        self.sep = self.d.lit(channel_sep)
        self.tie_bytes = False
        self.step = _step_names(parts)

    def time_expr(self) -> str:
        return _sql_epoch(self.qc["time"], self.time_type, self.dialect)

    def text(self) -> str:
        d, s, qc = self.d, self.step, self.qc
        tie = "0"
        if "order_by" in qc:
            tie = qc["order_by"] + (' COLLATE "C"' if self.tie_bytes and
                                    self.dialect == "postgres" else "")
        value = f"COALESCE({qc['value']}, 0)" if "value" in qc else "0"
        ev = (f"SELECT {qc['user']} AS tl_user, {self.time_expr()} AS tl_time, "
              f"{qc['channel']} AS tl_channel, COALESCE({qc['conversion']}, 0) AS tl_conv, "
              f"{value} AS tl_value, {tie} AS tl_tie FROM {self.tbl}")
        ctes: Dict[str, str] = {s["ev"]: ev}
        ctes.update(_sql_touches(self.lookback_days, self.lookback_touches, s))
        ctes[s["shaped"]] = _sql_shape(self.transform, d, s)
        ctes.update(_sql_journeys(self.dialect, d, bool(self.times), self.sep, s))
        times = bool(self.times)
        final = ("SELECT tl_path AS path, SUM(tl_jconv) AS conversions, "
                 "SUM(CASE WHEN tl_jconv = 0 THEN 1 ELSE 0 END) AS nulls, SUM(tl_jvalue) AS value"
                 + (", tl_days AS days" if times else "")
                 + f" FROM {s['journeys']} GROUP BY tl_path" + (", tl_days" if times else ""))
        return ("WITH\n" + ",\n".join(f"{k} AS (\n  {v}\n)" for k, v in ctes.items()) + "\n"
                + final)

    def check_text(self) -> str:
        """One row of counts of the events the native builder refuses, so
        that both routes refuse the same tables: missing users, times the
        database cannot read, conversions that are missing or not whole
        numbers >= 0, conversions without a value, missing tie breakers, and
        channels holding the separator (with one example of each of the last
        two)."""
        qc = self.qc

        def n(cond: str) -> str:
            return f"SUM(CASE WHEN {cond} THEN 1 ELSE 0 END)"

        cv = qc["conversion"]
        has = "instr" if self.dialect in ("sqlite", "spark") else "strpos"
        sep_in = f"{has}({qc['channel']}, {self.sep}) > 0"
        whole = {"bigquery": "INT64", "sqlite": "INTEGER"}.get(self.dialect, "BIGINT")
        conv_bad = f"{cv} < 0 OR {cv} <> CAST({cv} AS {whole})"
        cols = [("user", n(f"{qc['user']} IS NULL")),
                ("time", n(f"({self.time_expr()}) IS NULL")),
                ("conversion_null", n(f"{cv} IS NULL")),
                ("conversion", n(conv_bad)),
                ("conversion_example", f"MIN(CASE WHEN {conv_bad} THEN {cv} END)")]
        if "value" in qc:
            cols.append(("value", n(f"{cv} > 0 AND {qc['value']} IS NULL")))
        if "order_by" in qc:
            cols.append(("order_by", n(f"{qc['order_by']} IS NULL")))
        cols += [("channel", n(sep_in)),
                 ("channel_example", f"MIN(CASE WHEN {sep_in} THEN {qc['channel']} END)")]
        return ("SELECT " + ", ".join(f"{e} AS {k}" for k, e in cols) + f" FROM {self.tbl}")

    def refuse(self, row: Dict[str, Any]) -> None:
        """Refuses, as the native builder does, what the counts of the check
        query show, in the words of `journeys_from_events`."""
        def num(x: Any) -> float:
            return 0.0 if x is None else float(x)

        if num(row.get("channel")) > 0:
            raise ValueError(f'channel "{row.get("channel_example")}" contains the channel '
                             f'separator "{self.channel_sep}"')
        for key, a, problem in (
                ("user", "user", "missing (NULL)"),
                ("time", "time", "missing (NULL, or text the database does not read as a time)"),
                ("conversion_null", "conversion", "missing (NULL)"),
                ("conversion", "conversion", "not a whole number >= 0 ({})"),
                ("value", "value", "missing on a conversion (NULL)"),
                ("order_by", "order_by", "missing (NULL)")):
            k = num(row.get(key))
            if k > 0:
                if key == "conversion":
                    problem = problem.format(_r_format(num(row.get("conversion_example"))))
                rows = "1 row" if k == 1 else f"{int(k):,} rows"
                raise ValueError(f'column "{self.cols[a]}" ({a}): {rows} {problem}')


def journeys_sql(table: str, user: str, time: str, channel: str, conversion: str,
                 value: Optional[str] = None, lookback_days: Optional[float] = None,
                 lookback_touches: Optional[int] = None, transform: str = "none",
                 order_by: Optional[str] = None, times: bool = False,
                 time_type: str = "timestamp", channel_sep: str = ">",
                 dialect: str = "sqlite") -> str:
    """One SQL query that turns an event table into the journey table of
    `journeys_from_events`, with the same rules, lookback, transforms and
    days column. Ties of time are broken by `order_by` (SQL has no input
    order); text there must compare by bytes to match
    `journeys_from_events` (SQLite, BigQuery and Spark do; in PostgreSQL
    `journeys_from_db` gives the column the "C" collation).

    The query itself does not refuse bad events: `journeys_from_db` runs a
    check query first. Names are quoted by each engine's rules: double
    quotes (doubled inside) in SQLite and PostgreSQL, backticks in BigQuery
    (backslash escapes) and Spark (a backtick doubled); literals with `'`
    doubled in SQLite and PostgreSQL and backslash escapes in BigQuery; in
    Spark a separator `'` or `\\` is refused, as is any control character
    in BigQuery and Spark names or separators. The query's own steps are
    named so that they never hide the events table.

    Parameters
    ----------
    table : str
        The table or view; "schema.table" is split at the dot and each part
        quoted.
    time_type : {"timestamp", "seconds"}
        A timestamp column (in SQLite ISO text, or numbers of seconds) or
        seconds since 1970.
    channel_sep : str
        One single-byte character.
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
    return _query(table, user, time, channel, conversion, value, lookback_days,
                  lookback_touches, transform, order_by, times, time_type, channel_sep,
                  dialect).text()


def _query(table: str, user: str, time: str, channel: str, conversion: str,
           value: Optional[str] = None, lookback_days: Optional[float] = None,
           lookback_touches: Optional[int] = None, transform: str = "none",
           order_by: Optional[str] = None, times: bool = False, time_type: str = "timestamp",
           channel_sep: str = ">", dialect: str = "sqlite") -> _Query:
    return _Query(table, user, time, channel, conversion, value, lookback_days,
                  lookback_touches, transform, order_by, times, time_type, channel_sep,
                  dialect)


def _sql_epoch(t: str, time_type: str, dialect: str) -> str:
    if time_type == "seconds":
        return t
    return {
        # numbers are seconds (as pandas and R write datetimes to SQLite)
        "sqlite": f"CASE WHEN typeof({t}) IN ('integer', 'real') THEN {t} "
                  f"ELSE CAST(strftime('%s', {t}) AS INTEGER) END",
        "postgres": f"EXTRACT(EPOCH FROM {t})",
        "bigquery": f"UNIX_MICROS(TIMESTAMP({t})) / 1000000.0",
        "spark": f"unix_micros(CAST({t} AS TIMESTAMP)) / 1000000.0"}[dialect]


def _sql_touches(lookback_days: float, lookback_touches: float,
                 s: Dict[str, str]) -> Dict[str, str]:
    has_channel = "tl_channel IS NOT NULL AND tl_channel <> ''"
    jw = _JW
    days = (f" AND tl_end - tl_time <= {_r_digits17(lookback_days * 86400)}"
            if math.isfinite(lookback_days) else "")
    ev, numbered, cut, ended, touches = (s[k] for k in ("ev", "numbered", "cut", "ended",
                                                        "touches"))
    return {
        numbered: f"SELECT {ev}.*, ROW_NUMBER() OVER (PARTITION BY tl_user ORDER BY tl_time, "
                  f"tl_tie) AS tl_seq FROM {ev}",
        # journey number: the conversions strictly before the row
        cut: f"SELECT {numbered}.*, COALESCE(SUM(CASE WHEN tl_conv > 0 THEN 1 ELSE 0 END) OVER "
             "(PARTITION BY tl_user ORDER BY tl_seq ROWS BETWEEN UNBOUNDED PRECEDING AND "
             f"1 PRECEDING), 0) AS tl_journey FROM {numbered}",
        ended: f"SELECT {cut}.*, MAX(CASE WHEN tl_conv > 0 OR ({has_channel}) THEN tl_time END) "
               f"OVER ({jw}) AS tl_end, SUM(tl_conv) OVER ({jw}) AS tl_jconv, "
               f"SUM(CASE WHEN tl_conv > 0 THEN tl_value ELSE 0 END) OVER ({jw}) AS tl_jvalue "
               f"FROM {cut}",
        touches: f"SELECT tl_user, tl_journey, tl_seq, tl_channel, tl_end - tl_time AS "
                 f"tl_before, tl_jconv, tl_jvalue, ROW_NUMBER() OVER ({jw} ORDER BY tl_seq "
                 f"DESC) AS tl_back FROM {ended} WHERE {has_channel}{days}",
        s["kept"]: f"SELECT * FROM {touches}" + (f" WHERE tl_back <= {lookback_touches:.0f}"
                                                 if math.isfinite(lookback_touches) else ""),
    }


def _sql_shape(transform: str, d: _Dialect, s: Dict[str, str]) -> str:
    jw = _JW
    k = s["kept"]
    if transform == "none":
        return f"SELECT {k}.*, tl_channel AS tl_label FROM {k}"
    if transform == "collapse":
        return (f"SELECT x.*, tl_channel AS tl_label FROM (SELECT {k}.*, LEAD(tl_channel) OVER "
                f"({jw} ORDER BY tl_seq) AS tl_next FROM {k}) x "
                "WHERE tl_next IS NULL OR tl_next <> tl_channel")
    if transform == "first":
        return (f"SELECT x.*, tl_channel AS tl_label FROM (SELECT {k}.*, ROW_NUMBER() OVER "
                f"({jw}, tl_channel ORDER BY tl_seq) AS tl_nth FROM {k}) x WHERE tl_nth = 1")
    label = d.cat2("tl_channel", "'('", f"CAST(COUNT(*) AS {d.text})", "')'")
    return ("SELECT tl_user, tl_journey, MIN(tl_seq) AS tl_seq, MIN(tl_before) AS tl_before, "
            f"MAX(tl_jconv) AS tl_jconv, MAX(tl_jvalue) AS tl_jvalue, {label} AS tl_label "
            f"FROM {k} GROUP BY tl_user, tl_journey, tl_channel")


def _sql_journeys(dialect: str, d: _Dialect, times: bool, lit_sep: str,
                  s: Dict[str, str]) -> Dict[str, str]:
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
        return {s["running"]: f"SELECT tl_jconv, tl_jvalue, group_concat(tl_label, {lit_sep}) "
                              f"OVER {w} AS tl_path,{tdays} ROW_NUMBER() OVER ({jw} ORDER BY "
                              f"tl_seq DESC) AS tl_last FROM {s['shaped']}",
                s["journeys"]: f"SELECT * FROM {s['running']} WHERE tl_last = 1"}

    def agg(x: str) -> str:
        if dialect == "spark":
            return (f"concat_ws({lit_sep}, transform(array_sort(collect_list(named_struct('seq', "
                    f"tl_seq, 'label', {x}))), s -> s.label))")
        return f"STRING_AGG({x}, {lit_sep} ORDER BY tl_seq)"

    tdays = f", {agg(day_text)} AS tl_days" if times else ""
    return {s["journeys"]: f"SELECT MAX(tl_jconv) AS tl_jconv, MAX(tl_jvalue) AS tl_jvalue, "
                           f"{agg('tl_label')} AS tl_path{tdays} FROM {s['shaped']} "
                           "GROUP BY tl_user, tl_journey"}


def _dialect_of(con: Any) -> str:
    mod = type(con).__module__
    if mod.startswith("sqlite3"):
        return "sqlite"
    if mod.startswith("psycopg2") or mod.startswith("psycopg"):
        return "postgres"
    raise ValueError(f"cannot tell the SQL dialect of a {type(con).__name__} connection: "
                     "give dialect")


# Text types of PostgreSQL (type OIDs): text, varchar, bpchar, name.
_PG_TEXT = {25, 1043, 1042, 19}


def _run(cur: Any, sql: str) -> List[str]:
    """Runs a query; a query that answers with no result is an error (a
    failed one raises the driver's own error)."""
    cur.execute(sql)
    if cur.description is None:
        raise RuntimeError("the database gave no result for the query")
    return [c[0] for c in cur.description]


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
        enc = [out[k].map(lambda s: s.encode("utf-8", "surrogateescape")) for k in keys]
        order = sorted(range(len(out)), key=lambda i: tuple(e.iat[i] for e in enc))
        out = out.iloc[order].reset_index(drop=True)
    return out


def _r_text(x: Any) -> str:
    if isinstance(x, float):
        return _r_number(x)
    return str(x)


def journeys_from_db(con: Any, table: str, *args: Any, dialect: Optional[str] = None,
                     file_output: Optional[str] = None, field_sep: str = ";",
                     chunk: int = 100000, **kwargs: Any) -> Any:
    """Runs `journeys_sql` on a DB-API connection (sqlite3, psycopg2).

    Returns the journey table (rows sorted by path, as
    `journeys_from_events`), or streams it to `file_output` in chunks
    (header path, conversions, nulls, value and days with `times=True`,
    fields joined by `field_sep`) and returns the file name.

    Before the query, every column named is looked up in the table (a
    misspelt name is an error, not a constant) and a check query refuses
    the events `journeys_from_events` refuses, with the same wording. The
    result file is written to a temporary file beside `file_output` that
    replaces it only when complete, keeping the permission bits of the file
    it replaces; a symbolic link is written through to its target. Fields
    are not quoted, so a path holding `field_sep` or a line break is an
    error.

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
    as_whole(chunk, "chunk", 1)
    if file_output is not None:
        if isinstance(file_output, os.PathLike):
            file_output = os.fspath(file_output)
        check_string(file_output, "file_output")
        if file_output == "":
            raise ValueError("`file_output` must be a file name or None")
        check_sep(field_sep, "field_sep")
    q = _query(table, *args, dialect=dialect, **kwargs)
    cur = con.cursor()
    try:
        # the columns as the table has them: a misspelt name would otherwise
        # be read as a string constant by SQLite
        have = _run(cur, f"SELECT * FROM {q.tbl} WHERE 1 = 0")
        types = [c[1] for c in cur.description]
        cur.fetchall()
        # quoted names are exact in PostgreSQL; the other engines ignore case
        fold = (lambda x: x) if q.dialect == "postgres" else (lambda x: x.lower())
        folded = [fold(h) for h in have]
        for a, c in q.cols.items():
            if fold(c) not in folded:
                raise ValueError(f'column "{c}" ({a}) not found in table "{table}"; its '
                                 f"columns are: {', '.join(have)}")
        # text ties are ordered by bytes, as journeys_from_events orders them
        if "order_by" in q.cols and q.dialect == "postgres":
            q.tie_bytes = types[folded.index(fold(q.cols["order_by"]))] in _PG_TEXT
        names = _run(cur, q.check_text())
        row = cur.fetchone()
        q.refuse(dict(zip(names, row)) if row is not None else {})
        names = _run(cur, q.text())
        if file_output is None:
            return _db_frame(cur.fetchall(), names)
        return _db_to_file(cur, names, file_output, field_sep, int(chunk))
    finally:
        cur.close()


def _db_to_file(cur: Any, names: List[str], file_output: str, field_sep: str,
                chunk: int) -> str:
    """Streams the rows of the executed cursor to a temporary file beside
    `file_output` that replaces it only once everything is written, with
    the permission bits of the file it replaces; a symbolic link is
    written through to its target."""
    target = os.path.expanduser(file_output)
    for _ in range(40):
        if not os.path.islink(target):
            break
        link = os.readlink(target)
        target = link if os.path.isabs(link) else os.path.join(os.path.dirname(target), link)
    folder = os.path.dirname(target) or "."
    if not os.path.isdir(folder):
        raise ValueError(f'file_output "{file_output}": directory "{folder}" does not exist')
    fd, tmp = tempfile.mkstemp(prefix=os.path.basename(target) + ".tmp", dir=folder)
    done = False
    try:
        with os.fdopen(fd, "w", encoding="utf-8", newline="") as fh:
            first = True
            while True:
                rows = cur.fetchmany(chunk)
                if first or rows:
                    part = _db_frame(rows, names, sort=False)
                    bad = [p for p in part["path"] if field_sep in p or "\n" in p or "\r" in p]
                    if bad:
                        raise ValueError(f'path "{encode_string(bad[0])}" holds the field separator '
                                         f'"{field_sep}" or a line break, which file_output '
                                         "cannot hold unquoted: choose another field_sep or "
                                         "rename the channel")
                    if first:
                        fh.write(field_sep.join(part.columns) + "\n")
                    for r in part.itertuples(index=False):
                        fh.write(field_sep.join(_r_text(x) for x in r) + "\n")
                    first = False
                if not rows:
                    break
        if os.path.exists(target):
            os.chmod(tmp, stat.S_IMODE(os.stat(target).st_mode))
        else:   # as a newly created file: what the umask leaves of rw-rw-rw-
            mask = os.umask(0)
            os.umask(mask)
            os.chmod(tmp, 0o666 & ~mask)
        try:
            os.replace(tmp, target)
        except OSError as e:
            raise ValueError(f'cannot replace file_output "{file_output}": {e.strerror}') from None
        done = True
    finally:
        if not done and os.path.exists(tmp):
            os.unlink(tmp)
    return file_output
