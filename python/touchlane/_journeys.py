"""Journey arguments shared by every function that reads journeys: the
checks and pandas conversions at the Python boundary, with the R package's
messages."""
from __future__ import annotations

import math
import os
import numbers
from typing import Any, Dict, Mapping, Optional, Sequence

import numpy as np
import pandas as pd

from . import _core
from ._log import logger

# Largest count the core holds (unsigned 64 bits).
_MAX_COUNT = 2.0 ** 64


def bad_rows(idx: Sequence[int]) -> str:
    """1-based rows as "row 3" or "rows 3, 7, 9 and 12 more"."""
    idx = [int(i) + 1 for i in idx]
    n = len(idx)
    shown = ", ".join(str(i) for i in idx[:3])
    return ("row " if n == 1 else "rows ") + shown + (f" and {n - 3} more" if n > 3 else "")


def type_name(x: Any) -> str:
    dtype = getattr(x, "dtype", None)
    return str(dtype) if dtype is not None else type(x).__name__


def check_string(x: Any, arg: str, null_ok: bool = False) -> None:
    if x is None and null_ok:
        return
    if not isinstance(x, str):
        raise ValueError(f"`{arg}` must be a single string")


def encode_string(x: str) -> str:
    """Text as R's encodeString() shows it: backslashes and control
    characters escaped."""
    named = {"\\": "\\\\", "\n": "\\n", "\r": "\\r", "\t": "\\t", "\a": "\\a",
             "\b": "\\b", "\f": "\\f", "\v": "\\v"}
    return "".join(named.get(c, f"\\{ord(c):03o}" if ord(c) < 32 or ord(c) == 127 else c)
                   for c in x)


def check_sep(x: Any, arg: str) -> str:
    """A separator: one character of one byte. The native code splits at
    the first byte only, so ">>" or "\u2192" would cut channels apart."""
    check_string(x, arg)
    if len(x.encode("utf-8", "surrogatepass")) != 1:
        raise ValueError(f'`{arg}` must be one single-byte character such as ">" or ";", '
                         f'not "{encode_string(x)}"')
    return x


def as_flag(x: Any, arg: str) -> int:
    if not isinstance(x, (bool, np.bool_)):
        raise ValueError(f"`{arg}` must be True or False")
    return int(bool(x))


def _r_number(x: float) -> str:
    """A number as R pastes it into a message: up to 15 significant
    digits, fixed unless scientific is shorter (1e+06, 1024)."""
    x = float(x)
    if x == 0 or not math.isfinite(x):
        return "0" if x == 0 else ("Inf" if x > 0 else "-Inf")
    want = float(f"{x:.15g}")
    d = next(k for k in range(1, 16) if float(f"{x:.{k}g}") == want)
    mant, exp = f"{x:.{d - 1}e}".split("e")
    sci = f"{mant}e{exp[0]}{int(exp[1:]):02d}"
    decimals = max(0, d - 1 - int(math.floor(math.log10(abs(x)))))
    fixed = f"{x:.{decimals}f}"
    return fixed if len(fixed) <= len(sci) else sci


def _real(x: Any) -> bool:
    return (isinstance(x, (numbers.Real, np.integer, np.floating))
            and not isinstance(x, (bool, np.bool_)))


def as_whole(x: Any, arg: str, lower: float = 0, upper: float = math.inf) -> int:
    ok = _real(x)
    if ok:
        v = float(x)
        ok = not math.isnan(v) and v == math.floor(v) and lower <= v <= upper
    if not ok:
        rng = (f" from {_r_number(lower)} to {_r_number(upper)}" if math.isfinite(upper)
               else f" of at least {_r_number(lower)}")
        raise ValueError(f"`{arg}` must be a whole number{rng}")
    return int(x)


def as_number(x: Any, arg: str, lower: float = -math.inf, upper: float = math.inf) -> float:
    ok = _real(x)
    if ok:
        v = float(x)
        ok = not math.isnan(v) and lower <= v <= upper
    if not ok:
        rng = (f" from {_r_number(lower)} to {_r_number(upper)}"
               if math.isfinite(lower) or math.isfinite(upper) else "")
        raise ValueError(f"`{arg}` must be a number{rng}")
    return float(x)


def as_kind(x: Any, choices: Sequence[str], arg: str) -> str:
    if not isinstance(x, str) or x not in choices:
        raise ValueError(f"`{arg}` must be one of " + ", ".join(f'"{c}"' for c in choices))
    return x


def as_seed(random_state: Any) -> int:
    """The seed handed to the core: an int, drawn from a Generator, or fresh."""
    if random_state is None:
        return int(np.random.default_rng().integers(1, 2 ** 31 - 1))
    if isinstance(random_state, np.random.Generator):
        return int(random_state.integers(1, 2 ** 31 - 1))
    return as_whole(random_state, "random_state", 0, 2.0 ** 53)


def as_threads(n_jobs: Any) -> int:
    """n_jobs as threads: None is 1, -1 every core."""
    if n_jobs is None:
        return 1
    if isinstance(n_jobs, (int, np.integer)) and not isinstance(n_jobs, bool) and n_jobs < 0:
        return max(1, (os.cpu_count() or 1) + 1 + int(n_jobs))
    return as_whole(n_jobs, "n_jobs", 1, 1024)


# ---- columns -------------------------------------------------------------------


def _is_numeric(s: pd.Series) -> bool:
    return (pd.api.types.is_numeric_dtype(s.dtype) and not pd.api.types.is_bool_dtype(s.dtype)
            and not pd.api.types.is_complex_dtype(s.dtype))


def _missing(s: pd.Series) -> np.ndarray:
    return np.asarray(s.isna(), dtype=bool)


def path_column(s: pd.Series, col: str) -> Any:
    """Paths for the core: an object array of str, or (codes, categories)
    for a Categorical. NA, empty and blank paths are refused by row."""
    if isinstance(s.dtype, pd.CategoricalDtype):
        cats = s.cat.categories.to_numpy(dtype=object)
        na_cat, other_cat, blank_cat = _core.path_rows(cats)
        if len(other_cat):
            raise ValueError(f"column '{col}' (path) must hold strings, not "
                             f"{s.cat.categories.dtype} categories")
        codes = np.asarray(s.cat.codes, dtype=np.int64)
        na = np.flatnonzero(codes < 0)
        if len(na):
            raise ValueError(f"column '{col}' (path): {bad_rows(na)} NA")
        if len(blank_cat):
            blank = np.flatnonzero(np.isin(codes, blank_cat))
            raise ValueError(f"column '{col}' (path): {bad_rows(blank)} empty")
        return (codes, cats)
    if not (pd.api.types.is_object_dtype(s.dtype) or pd.api.types.is_string_dtype(s.dtype)):
        raise ValueError(f"column '{col}' (path) must hold strings, not {s.dtype}")
    vals = s.to_numpy(dtype=object)
    na, other, blank = _core.path_rows(vals)
    if len(na):
        raise ValueError(f"column '{col}' (path): {bad_rows(na)} NA")
    if len(other):
        raise ValueError(f"column '{col}' (path) must hold strings, not "
                         f"{type(vals[other[0]]).__name__} ({bad_rows(other)})")
    if len(blank):
        raise ValueError(f"column '{col}' (path): {bad_rows(blank)} empty")
    return vals


def count_column(s: pd.Series, col: str, arg: str) -> np.ndarray:
    """Whole non-negative counts as uint64, refused by row otherwise."""
    if not _is_numeric(s):
        if len(s) and bool(s.isna().all()) and pd.api.types.is_object_dtype(s.dtype):
            raise ValueError(f"column '{col}' ({arg}): {bad_rows(np.arange(len(s)))} NA")
        raise ValueError(f"column '{col}' ({arg}) must be numeric, not {s.dtype}")
    na = np.flatnonzero(_missing(s))
    if len(na):
        raise ValueError(f"column '{col}' ({arg}): {bad_rows(na)} NA")
    if pd.api.types.is_extension_array_dtype(s.dtype):
        s = s.astype("float64" if pd.api.types.is_float_dtype(s.dtype) else s.dtype.numpy_dtype)
    x = s.to_numpy()
    if x.dtype.kind == "u":
        return x.astype(np.uint64, copy=False)
    neg = np.flatnonzero(x < 0)
    if len(neg):
        raise ValueError(f"column '{col}' ({arg}): {bad_rows(neg)} negative")
    if x.dtype.kind == "i":
        return x.astype(np.uint64)
    x = x.astype(np.float64, copy=False)
    frac = np.flatnonzero(x != np.floor(x))
    if len(frac):
        raise ValueError(f"column '{col}' ({arg}): {bad_rows(frac)} not a whole number "
                         f"({x[frac[0]]:.7g})")
    big = np.flatnonzero(x >= _MAX_COUNT)
    if len(big):
        raise ValueError(f"column '{col}' ({arg}): {bad_rows(big)} too large for a count")
    return x.astype(np.uint64)


def value_column(s: pd.Series, col: str) -> np.ndarray:
    if not _is_numeric(s):
        raise ValueError(f"column '{col}' (value) must be numeric, not {s.dtype}")
    na = np.flatnonzero(_missing(s))
    if len(na):
        raise ValueError(f"column '{col}' (value): {bad_rows(na)} NA")
    if pd.api.types.is_extension_array_dtype(s.dtype):
        s = s.astype("float64")
    return np.ascontiguousarray(s.to_numpy(), dtype=np.float64)


def _columns(data: Any) -> Mapping[str, Any]:
    if isinstance(data, pd.DataFrame):
        return data
    if isinstance(data, Mapping):
        return data
    raise ValueError(f"`data` must be a data frame, not {type(data).__name__}")


def _series(data: Mapping[str, Any], col: str) -> pd.Series:
    x = data[col]
    return x if isinstance(x, pd.Series) else pd.Series(x)


class _FoundColumn:
    """Default of `value` and `nulls`: the column of that name when the
    journeys have one, else none."""

    def __repr__(self) -> str:
        return "FOUND"

    def __reduce__(self) -> str:
        return "FOUND"


FOUND: Any = _FoundColumn()


def _header_names(data: Any, file: Any, field_sep: Any) -> list:
    if file is not None and data is None:
        try:
            with open(os.path.expanduser(os.fspath(file)), "r", encoding="utf-8",
                      errors="replace", newline="") as fh:
                header = fh.readline()
            return [f.strip() for f in header.rstrip("\n").rstrip("\r").split(field_sep[0])]
        except (OSError, TypeError, IndexError):
            return []
    try:
        return [str(n) for n in _columns(data).keys()] if data is not None else []
    except (ValueError, TypeError, AttributeError):
        return []


def found_columns(data: Any, file: Any, field_sep: Any, value: Any, nulls: Any) -> tuple:
    """`value` / `nulls` left at FOUND name the columns "value" / "nulls"
    when the journeys have them (the sample and the tables built from
    events do; leaving them out would change the results without a word),
    else None; the columns taken are logged."""
    if value is not FOUND and nulls is not FOUND:
        return value, nulls
    have = _header_names(data, file, field_sep)
    used = []
    if value is FOUND:
        value = "value" if "value" in have else None
        if value:
            used.append("value")
    if nulls is FOUND:
        nulls = "nulls" if "nulls" in have else None
        if nulls:
            used.append("nulls")
    if used:
        logger.info("Using the column%s %s of the journeys (%s leaves %s out)",
                    "s" if len(used) > 1 else "", " and ".join(f"'{u}'" for u in used),
                    ", ".join(f"{u}=None" for u in used), "them" if len(used) > 1 else "it")
    return value, nulls


def journey_args(data: Any, file: Optional[str], path: str, conversions: str,
                 value: Optional[str], nulls: Optional[str], channel_sep: str = ">",
                 field_sep: str = ";", need_nulls: Any = False,
                 counts: bool = True, remove_loops: Any = False) -> Dict[str, Any]:
    """The checked journey arguments: a dict the native calls take (column
    names, separators, file or converted columns) plus `source` (the data
    as given, for models that read more columns)."""
    value, nulls = found_columns(data, file, field_sep, value, nulls)
    if as_flag(remove_loops, "remove_loops") == 1:
        j = journey_args(data, file, path, conversions, value, nulls, channel_sep, field_sep,
                         need_nulls, counts)
        return journey_args(merged_loops(j), None, path, conversions, value, nulls,
                            channel_sep, field_sep, need_nulls, counts)
    check_string(path, "path")
    check_string(conversions, "conversions")
    check_string(value, "value", null_ok=True)
    check_string(nulls, "nulls", null_ok=True)
    check_sep(channel_sep, "channel_sep")
    check_sep(field_sep, "field_sep")
    if nulls is None and need_nulls is not False:
        why = f": {need_nulls} needs null counts" if isinstance(need_nulls, str) else ""
        raise ValueError("`nulls` must name the column of non-converting journeys" + why)
    used = {"path": path, "conversions": conversions}
    if value is not None:
        used["value"] = value
    if nulls is not None:
        used["nulls"] = nulls
    j: Dict[str, Any] = dict(file=None, path=path, conversions=conversions, value=value,
                             nulls=nulls, field_sep=field_sep, channel_sep=channel_sep,
                             vy=None, vc=None, vv=None, vn=None, source=None)
    if file is not None:
        if data is not None:
            raise ValueError("give the journeys either as `data` or as `file`, not both")
        file = os.fspath(file) if isinstance(file, os.PathLike) else file
        check_string(file, "file")
        if not os.path.isfile(file):
            raise ValueError(f"file '{file}' (file) not found")
        with open(file, "r", encoding="utf-8", errors="replace", newline="") as fh:
            header = fh.readline()
        if header == "":
            raise ValueError(f"file '{file}' (file) is empty: it needs a header line")
        fields = [f.strip() for f in header.rstrip("\n").rstrip("\r").split(field_sep[0])]
        for a, col in used.items():
            if col not in fields:
                raise ValueError(f"column '{col}' ({a}) not found in the header of file '{file}'; "
                                 f"its columns are: {', '.join(fields)}")
        j["file"] = os.path.expanduser(file)
        return j
    if data is None:
        raise ValueError("give the journeys as `data` (a data frame) or as `file`")
    cols = _columns(data)
    names = list(cols.keys())
    for a, col in used.items():
        if col not in names:
            raise ValueError(f"column '{col}' ({a}) not found in `data`; its columns are: "
                             f"{', '.join(str(n) for n in names)}")
    lens = {len(cols[c]) for c in used.values()}
    if len(lens) > 1:
        raise ValueError("the columns of `data` have different lengths")
    j["vy"] = path_column(_series(cols, path), path)
    if counts:
        j["vc"] = count_column(_series(cols, conversions), conversions, "conversions")
    if value is not None:
        j["vv"] = value_column(_series(cols, value), value)
    if nulls is not None:
        j["vn"] = count_column(_series(cols, nulls), nulls, "nulls")
    j["source"] = cols
    return j


def need_journeys(j: Mapping[str, Any], what: str) -> None:
    """Models that build a chain need at least one journey."""
    if j["file"] is not None:
        with open(j["file"], "r", encoding="utf-8", errors="replace", newline="") as fh:
            empty = fh.readline() == "" or fh.readline() == ""
        where = "the file has only a header"
    else:
        vy = j["vy"]
        empty = len(vy[0] if isinstance(vy, tuple) else vy) == 0
        where = "`data` has no rows"
    if empty:
        raise ValueError(f"there are no journeys ({where}): {what} needs at least one")


def native_src(j: Mapping[str, Any]) -> Dict[str, Any]:
    """The part of the journey arguments the native calls read."""
    keys = ("file", "path", "conversions", "value", "nulls", "field_sep", "channel_sep",
            "vy", "vc", "vv", "vn")
    out = {k: j[k] for k in keys}
    if out["vc"] is None and out["file"] is None:
        out["vc"] = np.zeros(len(out["vy"][0]) if isinstance(out["vy"], tuple) else len(out["vy"]),
                             dtype=np.uint64)
    return out


def merged_loops(j: Dict[str, Any]) -> pd.DataFrame:
    """The checked journeys with repeated consecutive touches of a channel
    merged and the rows whose paths become the same added up."""
    from .transform import transform_paths

    names = [c for c in (j["path"], j["conversions"], j["value"], j["nulls"]) if c is not None]
    if j["file"] is not None:
        d = read_table(j["file"], j["field_sep"])[names]
        for c in names[1:]:
            d[c] = pd.to_numeric(d[c], errors="raise")
    else:
        paths = j["vy"]
        if isinstance(paths, tuple):
            paths = np.asarray(paths[1], dtype=object)[paths[0]]
        d = pd.DataFrame({j["path"]: np.asarray(paths, dtype=object)})
        for c, k in zip((j["conversions"], j["value"], j["nulls"]), ("vc", "vv", "vn")):
            if c is not None and j[k] is not None:
                d[c] = np.asarray(j[k], dtype=np.float64)
    return transform_paths(d, remove_loops=True, path=j["path"], channel_sep=j["channel_sep"])


def read_table(file: str, field_sep: str) -> pd.DataFrame:
    """A journey file as text columns (no quoting, blanks trimmed), for the
    few models that take columns the reader does not stream."""
    d = pd.read_csv(file, sep=field_sep[0], quoting=3, dtype=str, keep_default_na=False,
                    skipinitialspace=True, engine="c")
    d.columns = [str(c).strip() for c in d.columns]
    return d.apply(lambda c: c.str.strip())
