"""Path transforms on a journey table already aggregated."""
from __future__ import annotations

import math
import re
from typing import Any, List, Optional, Sequence

import numpy as np
import pandas as pd

from ._journeys import as_flag, bad_rows, check_sep, check_string

# R's trimws(): blanks, tabs and line breaks at either end
_TRIM = re.compile(r"^[ \t\r\n]+|[ \t\r\n]+$")


def _channels(x: Any, arg: str) -> Optional[frozenset]:
    if x is None:
        return None
    vals = [x] if isinstance(x, str) else list(x) if isinstance(x, (list, tuple, set, pd.Series,
                                                                     np.ndarray)) else None
    if vals is None or not all(isinstance(v, str) for v in vals):
        raise ValueError(f"`{arg}` must be channel names or None")
    return frozenset(vals)


def _rewrite(ch: List[str], alone: Optional[frozenset], last_alone: Optional[frozenset],
             loops: bool, keep_last: float) -> List[str]:
    if alone and not all(c in alone for c in ch):
        ch = [c for c in ch if c not in alone]
    if last_alone:
        end = len(ch)
        while end > 0 and ch[end - 1] in last_alone:
            end -= 1
        if end > 0:   # a path made of these channels only stays as it is
            ch = ch[:end]
    if loops:
        ch = [c for i, c in enumerate(ch) if i == 0 or c != ch[i - 1]]
    if math.isfinite(keep_last) and len(ch) > keep_last:
        ch = ch[len(ch) - int(keep_last):]
    return ch


def transform_paths(data: pd.DataFrame, drop_unless_alone: Optional[Sequence[str]] = None,
                    drop_last_unless_alone: Optional[Sequence[str]] = None,
                    keep_last: Optional[float] = None, *, remove_loops: bool = False,
                    path: str = "path", channel_sep: str = ">") -> pd.DataFrame:
    """Rewrites every path and adds up the rows whose paths become the same.

    The steps run in the order of the arguments: `drop_unless_alone`
    (remove these channels from every path, except from a path made of
    them only), `drop_last_unless_alone` (remove them from the end of a
    path, repeatedly, except when the path is made of them only),
    `remove_loops` (merge repeated consecutive touches of a channel),
    `keep_last` (keep only the last touches). Channels are the pieces of a
    path between `channel_sep`, blank-trimmed; the rewritten paths join them
    with `channel_sep` between blanks ("a > b").

    Parameters
    ----------
    data : pandas.DataFrame
        Aggregated journeys, one row per path.
    drop_unless_alone, drop_last_unless_alone : sequence of str, optional
        Channel names (a single name works too).
    keep_last : int, optional
        Touches kept at the end of every path (None or inf: all).
    remove_loops : bool
    path : str
        The column of paths.
    channel_sep : str
        One single-byte character.

    Returns
    -------
    pandas.DataFrame
        The path column and every numeric column of `data` summed (as
        floats) per rewritten path, one row per distinct path in order of
        first appearance; other columns are dropped (they cannot be added
        up).

    Examples
    --------
    >>> import pandas as pd, touchlane
    >>> d = pd.DataFrame({"path": ["search > direct", "direct", "email > search > direct",
    ...                            "email > email > search"],
    ...                   "conversions": [3, 1, 2, 1], "nulls": [5, 9, 1, 2]})
    >>> touchlane.transform_paths(d, drop_unless_alone="direct")
                         path  conversions  nulls
    0                  search          3.0    5.0
    1                  direct          1.0    9.0
    2          email > search          2.0    1.0
    3  email > email > search          1.0    2.0
    >>> touchlane.transform_paths(d, drop_last_unless_alone="direct", remove_loops=True,
    ...                           keep_last=1)
         path  conversions  nulls
    0  search          6.0    8.0
    1  direct          1.0    9.0
    """
    check_string(path, "path")
    check_sep(channel_sep, "channel_sep")
    alone = _channels(drop_unless_alone, "drop_unless_alone")
    last_alone = _channels(drop_last_unless_alone, "drop_last_unless_alone")
    k = math.inf if keep_last is None else keep_last
    ok = isinstance(k, (int, float, np.integer, np.floating)) and not isinstance(k, bool)
    if not ok or math.isnan(k) or k < 1 or (math.isfinite(k) and k != math.floor(k)):
        raise ValueError("`keep_last` must be a whole number of at least 1, or None")
    loops = as_flag(remove_loops, "remove_loops") == 1
    if not isinstance(data, pd.DataFrame):
        raise ValueError(f"`data` must be a data frame, not {type(data).__name__}")
    if path not in data.columns:
        raise ValueError(f"column '{path}' (path) not found in `data`; its columns are: "
                         + ", ".join(str(c) for c in data.columns))
    y = data[path]
    if isinstance(y.dtype, pd.CategoricalDtype):
        y = y.astype(object)
    na = np.flatnonzero(y.isna().to_numpy())
    if len(na):
        raise ValueError(f"column '{path}' (path): {bad_rows(na)} NA")
    vals = y.to_numpy(dtype=object)
    if not all(isinstance(v, str) for v in vals):
        raise ValueError(f"column '{path}' (path) must hold strings, not {y.dtype}")
    num = [c for c in data.columns if c != path and pd.api.types.is_numeric_dtype(data[c].dtype)
           and not pd.api.types.is_bool_dtype(data[c].dtype)]
    for c in num:
        na = np.flatnonzero(data[c].isna().to_numpy())
        if len(na):
            raise ValueError(f"column '{c}': {bad_rows(na)} NA")
    joint = f" {channel_sep} "
    new = []
    for p in vals:
        ch = [t for t in (_TRIM.sub("", x) for x in p.split(channel_sep)) if t]
        new.append(joint.join(_rewrite(ch, alone, last_alone, loops, k)))
    codes, uniq = pd.factorize(pd.Series(new, dtype=object), sort=False)
    out = pd.DataFrame({path: pd.Series(list(uniq), dtype=object)})
    for c in num:
        x = data[c].astype("float64").to_numpy(dtype=np.float64)
        out[c] = np.bincount(codes, weights=x, minlength=len(uniq))
    return out
