"""Several models on the same journeys, side by side.

A model joins `attribution()` by adding a function to `MODELS`: it takes the
checked journey arguments, the settings, the seed and the log flag and
returns a DataFrame of channel, conversions and value (one row per channel).
"""
from __future__ import annotations

import math
import re
import warnings
from typing import Any, Callable, Dict, List, Mapping, Optional, Sequence

import numpy as np
import pandas as pd

from . import _core
from ._journeys import (FOUND, _r_number, as_flag, as_kind, as_number, as_seed, as_threads,
                        as_whole, bad_rows, check_string, journey_args, native_src,
                        need_journeys, read_table)
from ._log import verbose

ModelFn = Callable[[Dict[str, Any], Dict[str, Any], int, bool], pd.DataFrame]
MODELS: Dict[str, ModelFn] = {}

# The settings each model reads; attribution() refuses a setting that no
# chosen model reads (a misspelt `oder=2` would otherwise leave the default
# in force without a word).
SETTINGS: Dict[str, tuple] = {
    "markov": ("order", "simulations", "threads", "method", "horizon", "max_steps"),
    "shapley": ("simplified",), "position": ("position_shares",),
    "last_non_direct": ("direct_channels",), "time_decay": ("half_life", "days"),
    "additive_hazard": ("days",),
}

# The largest Markov order the native layer builds states for.
MAX_ORDER = 10000


def _model(name: str) -> Callable[[ModelFn], ModelFn]:
    def reg(f: ModelFn) -> ModelFn:
        MODELS[name] = f
        return f
    return reg


def _table(channels: Sequence[str], conversions: Any, value: Any, has_value: bool) -> pd.DataFrame:
    conv = np.asarray(conversions, dtype=np.float64)
    return pd.DataFrame({"channel": list(channels), "conversions": conv,
                         "value": np.asarray(value, dtype=np.float64) if has_value
                         else np.full(len(conv), np.nan)})


def per_channel(codes: np.ndarray, x: np.ndarray, n: int) -> np.ndarray:
    """Sums of per-touch-point numbers by channel code (row order)."""
    if len(codes) == 0:
        return np.zeros(n)
    return np.bincount(codes, weights=x, minlength=n)


# ---- the models ------------------------------------------------------------------


def heuristic_native(j: Dict[str, Any], log: bool) -> Dict[str, Any]:
    cache = j.setdefault("_cache", {})
    if "heuristic" not in cache:
        cache["heuristic"] = _core.heuristic(native_src(j), log)
    return cache["heuristic"]


def heuristic_channels(j: Dict[str, Any], rule: str, log: bool) -> pd.DataFrame:
    r = heuristic_native(j, log)
    codes, chans = r["channel"]
    has_value = j["value"] is not None
    return _table(chans, per_channel(codes, r[f"conversions_{rule}"], len(chans)),
                  per_channel(codes, r[f"value_{rule}"], len(chans)) if has_value else None,
                  has_value)


for _rule in ("first", "last", "linear"):
    MODELS[_rule] = (lambda rule: lambda j, s, seed, log: heuristic_channels(j, rule, log))(_rule)


def position_shares(x: Any) -> tuple:
    """(first, last) from a dict {"first":, "last":} or a pair."""
    msg = ("`position_shares` must be two numbers c(first = , last = ), each at least 0, "
           "together at most 1")
    if isinstance(x, Mapping):
        if set(x) != {"first", "last"}:
            raise ValueError('`position_shares` must be named "first" and "last"')
        vals = [x["first"], x["last"]]
    else:
        try:
            vals = list(x)
        except TypeError:
            raise ValueError(msg) from None
    try:
        f, l = (float(v) for v in vals)
    except (TypeError, ValueError):
        raise ValueError(msg) from None
    if any(math.isnan(v) or v < 0 for v in (f, l)) or f + l > 1 + 1e-12:
        raise ValueError(msg)
    # Shares that pass 1 only by rounding leave the middle touches nothing
    # rather than a negative share: the last share becomes 1 - first.
    if 1 - f - l < 0:
        l = 1 - f
    return f, l


def direct_channels(x: Any) -> List[str]:
    vals = [x] if isinstance(x, str) else list(x) if x is not None else None
    if vals is None or not all(isinstance(v, str) for v in vals):
        raise ValueError("`direct_channels` must be a character vector of channel names without NA")
    return vals


def rule_native(j: Dict[str, Any], s: Dict[str, Any], log: bool) -> Dict[str, Any]:
    f, l = position_shares(s.get("position_shares", {"first": 0.4, "last": 0.4}))
    direct = direct_channels(s.get("direct_channels", "direct"))
    return _core.rules(native_src(j), f, l, direct, log)


@_model("position")
def _position(j: Dict[str, Any], s: Dict[str, Any], seed: int, log: bool) -> pd.DataFrame:
    r = rule_native(j, s, log)
    return _table(r["channels"], r["position_conversions"], r["position_value"],
                  j["value"] is not None)


@_model("last_non_direct")
def _last_non_direct(j: Dict[str, Any], s: Dict[str, Any], seed: int, log: bool) -> pd.DataFrame:
    r = rule_native(j, s, log)
    return _table(r["channels"], r["lnd_conversions"], r["lnd_value"], j["value"] is not None)


def simulation_settings(simulations: Any, threads: Any, folds: Any, tolerance: Any,
                        growth: Any) -> tuple:
    """The simulation settings, checked here so that a refusal names them as
    the caller wrote them: every thread runs every fold at least once, and
    each batch of simulations grows the last by at least one."""
    sims = as_whole(simulations, "simulations", 1)
    threads = as_whole(threads, "threads", 1, 1024)
    folds = as_whole(folds, "folds", 1, 1e6)
    if sims // threads < folds:
        raise ValueError(f"`simulations` ({_r_number(sims)}) must be at least `folds` x "
                         f"`threads` ({_r_number(folds)} x {_r_number(threads)})")
    tolerance = as_number(tolerance, "tolerance", 0)
    if tolerance <= 0 or not math.isfinite(tolerance):
        raise ValueError(f"`tolerance` must be a positive number, not {_r_number(tolerance)}")
    growth = as_number(growth, "growth", 1)
    if not math.isfinite(growth) or math.floor(sims * growth) <= sims:
        raise ValueError(f"`growth` ({_r_number(growth)}) must be greater than 1 and grow "
                         f"`simulations` ({_r_number(sims)}) by at least one simulation")
    return sims, threads, folds, tolerance, growth


def markov_settings(s: Dict[str, Any], seed: int, kind: int = 0, folds: int = 10,
                    tolerance: float = 0.05, growth: float = 1.5,
                    transition_matrix: int = 0, chain: bool = True) -> Dict[str, Any]:
    """The native Markov settings; `chain` applies the Markov model's own
    limits (order, simulations against folds and threads)."""
    method = as_kind(s.get("method", "exact"), ("simulation", "exact"), "method")
    horizon = as_kind(s.get("horizon", "step_limit"), ("step_limit", "unlimited"), "horizon")
    order = as_whole(s.get("order", 1), "order", 1, MAX_ORDER if chain else 1e6)
    if chain:
        sims, threads, folds, tolerance, growth = simulation_settings(
            s.get("simulations", 100000), s.get("threads", 1), folds, tolerance, growth)
    else:
        sims = as_whole(s.get("simulations", 100000), "simulations", 1)
        threads = as_whole(s.get("threads", 1), "threads", 1, 1024)
        folds = as_whole(folds, "folds", 1, 1e6)
        tolerance = as_number(tolerance, "tolerance", 0)
        growth = as_number(growth, "growth", 1)
    return dict(type=kind, order=order, simulations=sims,
                max_steps=as_whole(s.get("max_steps", 0), "max_steps", 0),
                threads=threads, folds=folds, seed=seed, tolerance=tolerance, growth=growth,
                transition_matrix=transition_matrix,
                exact=int(method == "exact"), unlimited=int(horizon == "unlimited"))


@_model("markov")
def _markov(j: Dict[str, Any], s: Dict[str, Any], seed: int, log: bool) -> pd.DataFrame:
    settings = markov_settings(s, seed)
    need_journeys(j, "the Markov model")
    r = _core.markov(native_src(j), settings, log)
    return _table(r["channels"], r["conversions"], r["value"], len(r["value"]) > 0)


@_model("shapley")
def _shapley(j: Dict[str, Any], s: Dict[str, Any], seed: int, log: bool) -> pd.DataFrame:
    simplified = as_flag(s.get("simplified", False), "simplified")
    r = shapley_native(j, simplified, 0, log)
    return _table(r["channels"], r["conversions"], r["value"], len(r["value"]) > 0)


def shapley_native(j: Dict[str, Any], simplified: int, code: int, log: bool) -> Dict[str, Any]:
    try:
        return _core.shapley(native_src(j), simplified, code, log)
    except ValueError as e:
        # the exact method's channel limit, in the words of this package
        msg = str(e)
        if "(flg_simplified = 1)" not in msg:
            raise
        raise ValueError(msg.replace("(flg_simplified = 1)", "(simplified=True)")) from None


@_model("logistic")
def _logistic(j: Dict[str, Any], s: Dict[str, Any], seed: int, log: bool) -> pd.DataFrame:
    if j["nulls"] is None:
        raise ValueError('`nulls` must name the column of non-converting journeys: '
                         'model "logistic" needs null counts')
    r = _core.logistic(native_src(j), log)
    codes, cats = r["touchpoints"]["channel"]
    has_value = j["value"] is not None
    value = None
    if has_value:
        tp = per_channel(codes, r["touchpoints"]["value"], len(cats))
        pos = {c: i for i, c in enumerate(cats)}
        value = [tp[pos[c]] if c in pos else 0.0 for c in r["channels"]]
    return _table(r["channels"], r["conversions_loc"], value, has_value)


@_model("time_decay")
def _time_decay(j: Dict[str, Any], s: Dict[str, Any], seed: int, log: bool) -> pd.DataFrame:
    half_life = s.get("half_life", 7)
    days = s.get("days", "days")
    ok = isinstance(half_life, (int, float, np.number)) and not isinstance(half_life, bool)
    if not ok or not math.isfinite(float(half_life)) or float(half_life) <= 0:
        raise ValueError("half_life must be a positive number of days")
    d = read_table(j["file"], j["field_sep"]) if j["file"] is not None else j["source"]
    if days not in d:
        raise ValueError(f'model "time_decay" needs a column "{days}" of days before conversion '
                         "per touch: build the journeys with "
                         "journeys_from_events(..., times = TRUE)")
    dd = pd.Series(d[days])
    if dd.isna().any():
        raise ValueError(f'column "{days}": row {int(np.flatnonzero(dd.isna())[0]) + 1} is missing')
    dd = dd.astype(str).to_numpy(dtype=object)
    if j["file"] is not None:
        paths = d[j["path"]].to_numpy(dtype=object)
        conv = pd.to_numeric(d[j["conversions"]]).to_numpy(dtype=np.float64)
        value = pd.to_numeric(d[j["value"]]).to_numpy(dtype=np.float64) if j["value"] else None
    else:
        paths, conv, value = j["vy"], j["vc"], j["vv"]
    if isinstance(paths, tuple):
        paths = np.asarray(paths[1], dtype=object)[paths[0]]
    r = _core.time_decay(paths, dd, np.asarray(conv, dtype=np.uint64), value,
                         j["channel_sep"], float(half_life), log)
    return _table(r["channels"], r["conversions"], r["value"], True)


def _need_nulls(j: Dict[str, Any], model: str) -> None:
    if j["nulls"] is None:
        raise ValueError("`nulls` must name the column of non-converting journeys: "
                         f'model "{model}" needs null counts')


@_model("probabilistic")
def _probabilistic(j: Dict[str, Any], s: Dict[str, Any], seed: int, log: bool) -> pd.DataFrame:
    _need_nulls(j, "probabilistic")
    r = _core.probabilistic(native_src(j), log)
    return _table(r["channels"], r["conversions"], r["value"], j["value"] is not None)


def days_column(j: Dict[str, Any], days: Any, model: str) -> np.ndarray:
    """The days column beside the journey columns (in `data` or the file),
    as text; missing days are refused by row."""
    check_string(days, "days")
    d = read_table(j["file"], j["field_sep"]) if j["file"] is not None else j["source"]
    if days not in d:
        raise ValueError(f"model \"{model}\" needs a column '{days}' of days before conversion "
                         "per touch: build the journeys with "
                         "journeys_from_events(..., times=True)")
    dd = pd.Series(d[days])
    na = np.flatnonzero(dd.isna().to_numpy())
    if len(na):
        raise ValueError(f"column '{days}' (days): {bad_rows(na)} NA")
    return dd.astype(str).to_numpy(dtype=object)


def journey_vectors(j: Dict[str, Any]) -> tuple:
    """Paths, conversions and values as vectors, a file read whole."""
    if j["file"] is not None:
        d = read_table(j["file"], j["field_sep"])
        value = pd.to_numeric(d[j["value"]]).to_numpy(dtype=np.float64) if j["value"] else None
        return (d[j["path"]].to_numpy(dtype=object),
                pd.to_numeric(d[j["conversions"]]).to_numpy(dtype=np.float64), value)
    paths = j["vy"]
    if isinstance(paths, tuple):
        paths = np.asarray(paths[1], dtype=object)[paths[0]]
    return paths, j["vc"], j["vv"]


def additive_hazard_native(j: Dict[str, Any], days: Any, log: bool) -> Dict[str, Any]:
    dd = days_column(j, days, "additive_hazard")
    paths, conv, value = journey_vectors(j)
    return _core.additive_hazard(paths, dd, np.asarray(conv, dtype=np.uint64), value,
                                 j["channel_sep"], log)


@_model("additive_hazard")
def _additive_hazard(j: Dict[str, Any], s: Dict[str, Any], seed: int, log: bool) -> pd.DataFrame:
    r = additive_hazard_native(j, s.get("days", "days"), log)
    return _table(r["channels"], r["conversions"], r["value"], j["value"] is not None)


# ---- attribution -------------------------------------------------------------------

BOOTSTRAP_MODELS = ("first", "last", "linear", "position", "last_non_direct", "shapley",
                    "logistic", "markov")


def attribution(data: Any = None, models: Sequence[str] = ("first", "last", "linear", "markov",
                                                          "shapley", "logistic"),
                *, file: Optional[str] = None, path: str = "path",
                conversions: str = "conversions", value: Optional[str] = FOUND,
                nulls: Optional[str] = FOUND, channel_sep: str = ">", field_sep: str = ";",
                bootstrap: int = 0, level: Any = 0.9, random_state: Any = None,
                n_jobs: Optional[int] = None, spend: Optional[pd.DataFrame] = None,
                remove_loops: bool = False, **settings: Any) -> pd.DataFrame:
    """Credit per channel under several models, side by side.

    Runs every model of `models` on the same journeys and returns one tidy
    table: for each model and channel the attributed conversions, value and
    share of the model's conversions. Every model lists the same channels in
    the same order, most credited on average first (a channel a model gives
    no credit has 0).

    Parameters
    ----------
    data : pandas.DataFrame, optional
        Aggregated journeys, one row per distinct path.
    models : sequence of str
        Any of "first", "last", "linear", "position", "last_non_direct",
        "markov", "shapley", "logistic", "time_decay", "probabilistic"
        (needs `nulls`), "additive_hazard" (needs a days column).
    file : str, optional
        Instead of `data`, a delimited journey file with a header line,
        streamed by the core.
    path, conversions, value, nulls : str
        Column names; `value` and `nulls` may be None ("logistic" needs
        `nulls`). Left out, they are the columns "value" and "nulls" when
        the journeys have them (logged at INFO).
    channel_sep, field_sep : str
        Separator between the channels of a path and between the fields of
        a file line.
    bootstrap : int
        Bootstrap replicates (0: none); adds the columns `lower` and `upper`.
    level : float or "journey"
        Coverage of the bootstrap intervals; "journey" returns one row per
        model and journey instead, with one column per channel holding the
        journey's conversions as the model splits them over its touches
        (for "first", "last", "linear", "position", "last_non_direct",
        "time_decay", "markov" and "shapley").
    random_state : int, numpy.random.Generator or None
        Seed of the simulating models and of the bootstrap (a Generator
        gives one draw; None a fresh one). The seed used is
        ``table.attrs["seed"]``.
    n_jobs : int, optional
        Threads of the Markov simulation and of the bootstrap (-1: all).
    spend : pandas.DataFrame, optional
        Columns channel and spend (one row per channel, spend at least 0):
        adds the columns spend, cost_per_conversion (spend / conversions)
        and roas (value / spend), NaN where they are undefined.
    remove_loops : bool
        Merge repeated consecutive touches of a channel first (rows whose
        paths become the same are added up).
    **settings
        Model settings: `order`, `simulations`, `method`, `horizon`,
        `max_steps` (markov), `simplified` (shapley), `position_shares`,
        `direct_channels`, `half_life` and `days` (time_decay), `days`
        (additive_hazard). A setting no chosen model reads is refused.

    Returns
    -------
    pandas.DataFrame
        Columns channel, model, conversions, value (NaN without a value
        column), share, lower / upper with `bootstrap` (see `confint`),
        and spend / cost_per_conversion / roas with `spend`.

    Examples
    --------
    >>> import touchlane
    >>> j = touchlane.journeys_sample()
    >>> a = touchlane.attribution(j, models=["first", "linear"], value="value",
    ...                           random_state=1)
    >>> list(a.columns)
    ['channel', 'model', 'conversions', 'value', 'share']
    >>> a.groupby("model", sort=False)["share"].sum().round(6).tolist()
    [1.0, 1.0]
    >>> a.attrs["seed"]
    1
    >>> s = pd.DataFrame({"channel": ["paid search"], "spend": [40000.0]})
    >>> touchlane.attribution(j, models="first", spend=s).columns.tolist()[-3:]
    ['spend', 'cost_per_conversion', 'roas']
    """
    as_whole(bootstrap, "bootstrap", 0, 1e6)
    journey_level = isinstance(level, str)
    if journey_level:
        journey_level = as_kind(level, ("channel", "journey"), "level") == "journey"
        level = 0.9
    if isinstance(models, str):
        models = [models]
    models = list(models) if models is not None else []
    if not models or not all(isinstance(m, str) for m in models):
        raise ValueError("`models` must name at least one model")
    known = sorted(MODELS)
    unknown = [m for m in models if m not in MODELS]
    if unknown:
        raise ValueError("`models`: unknown model " + ", ".join(f'"{m}"' for m in unknown)
                         + "; known models: " + ", ".join(f'"{m}"' for m in known))
    models = list(dict.fromkeys(models))
    if journey_level:
        check_journey_models(models)
    check_settings(settings, models, as_whole(bootstrap, "bootstrap", 0, 1e6) > 0)
    j = journey_args(data, file, path, conversions, value, nulls, channel_sep, field_sep,
                     remove_loops=remove_loops)
    spend_of = check_spend(spend)
    seed = as_seed(random_state)
    if n_jobs is not None or "threads" not in settings:
        settings["threads"] = as_threads(n_jobs)
    log = verbose()
    has_value = j["value"] is not None
    parts = []
    for m in models:
        r = MODELS[m](j, settings, seed, log)
        parts.append(pd.DataFrame({"channel": r["channel"].astype(str), "model": m,
                                   "conversions": r["conversions"].astype(float),
                                   "value": r["value"].astype(float) if has_value else np.nan}))
    long = pd.concat(parts, ignore_index=True)
    if not len(long):
        raise ValueError(f"the journeys have no conversions (column '{conversions}' is 0 "
                         "throughout): nothing to attribute")
    long = long[(long["channel"] != "(unknown)") | (long["conversions"] != 0)]
    # one channel order for all models: most credited (on average) first
    avg = long.groupby("channel", sort=True)["conversions"].sum()
    chans = sorted(avg.index, key=lambda c: (-avg[c], c))
    sums = long.groupby(["model", "channel"], sort=False)[["conversions", "value"]].sum(min_count=1)
    idx = pd.MultiIndex.from_product([models, chans], names=["model", "channel"])
    grid = sums.reindex(idx)
    out = pd.DataFrame({"channel": idx.get_level_values("channel"),
                        "model": idx.get_level_values("model"),
                        "conversions": grid["conversions"].fillna(0).to_numpy(),
                        "value": grid["value"].fillna(0).to_numpy() if has_value else np.nan})
    tot = out.groupby("model", sort=False)["conversions"].transform("sum").to_numpy()
    with np.errstate(invalid="ignore", divide="ignore"):
        out["share"] = np.where(tot > 0, out["conversions"].to_numpy() / tot, 0.0)
    if bootstrap > 0:
        out = attribution_intervals(out, j, models, settings, int(bootstrap), level, seed)
    if spend_of is not None:
        out = add_spend(out, spend_of)
    if journey_level:
        out = journey_credit(out, j, settings)
    out.attrs["seed"] = seed
    return out


def check_spend(spend: Any) -> Optional[Dict[str, float]]:
    """spend = DataFrame(channel, spend): one row per channel, spend >= 0."""
    if spend is None:
        return None
    if not isinstance(spend, pd.DataFrame) or not {"channel", "spend"} <= set(spend.columns):
        raise ValueError("`spend` must be a data frame with columns channel and spend")
    ch = spend["channel"]
    sp = spend["spend"]
    if not pd.api.types.is_numeric_dtype(sp.dtype) or pd.api.types.is_bool_dtype(sp.dtype):
        raise ValueError(f"`spend`: column 'spend' must be numeric, not {sp.dtype}")
    x = sp.to_numpy(dtype=np.float64, na_value=np.nan)
    with np.errstate(invalid="ignore"):
        bad = np.flatnonzero(ch.isna().to_numpy() | np.isnan(x) | (x < 0) | ~np.isfinite(x))
    if len(bad):
        raise ValueError(f"`spend`: {bad_rows(bad)} NA, negative or infinite")
    names = ch.astype(str).tolist()
    dup = pd.Series(names).duplicated().to_numpy()
    if dup.any():
        raise ValueError(f"`spend`: channel '{names[int(np.flatnonzero(dup)[0])]}' appears "
                         "more than once")
    return dict(zip(names, x.tolist()))


def add_spend(out: pd.DataFrame, spend: Dict[str, float]) -> pd.DataFrame:
    """spend, cost_per_conversion and roas of every model and channel."""
    have = list(dict.fromkeys(out["channel"]))
    unknown = [c for c in spend if c not in set(have)]
    if unknown:
        raise ValueError("`spend`: channel" + ("s" if len(unknown) > 1 else "") + " "
                         + ", ".join(f"'{c}'" for c in unknown)
                         + " not among the channels of the journeys: "
                         + ", ".join(f"'{c}'" for c in have))
    s = out["channel"].map(spend).to_numpy(dtype=np.float64, na_value=np.nan)
    conv = out["conversions"].to_numpy(dtype=np.float64)
    val = out["value"].to_numpy(dtype=np.float64)
    out["spend"] = s
    with np.errstate(invalid="ignore", divide="ignore"):
        out["cost_per_conversion"] = np.where(~np.isnan(s) & (conv > 0), s / conv, np.nan)
        out["roas"] = np.where(~np.isnan(s) & (s > 0), val / s, np.nan)
    return out


# The rule by which each model splits one journey's conversions over its
# touches (None: the model has no journey-level credit).
TOUCHES = {"first": "first", "last": "last", "linear": "linear", "position": "position",
           "last_non_direct": "last_non_direct", "time_decay": "time_decay",
           "markov": "weights", "shapley": "weights"}


def check_journey_models(models: Sequence[str]) -> None:
    none = [m for m in models if m not in TOUCHES]
    if none:
        raise ValueError('level = "journey": no journey-level credit for model'
                         + ("s" if len(none) > 1 else "") + " "
                         + ", ".join(f'"{m}"' for m in none)
                         + '; it is available for "first", "last", "linear", "position", '
                           '"last_non_direct", "time_decay", "markov" and "shapley"')


_BLANKS = re.compile(r"^[ \t]+|[ \t]+$")
_SPACES = re.compile(r" +")


def journey_touches(paths: Sequence[str], channel_sep: str) -> pd.DataFrame:
    """The touches of every path: journey index (from 0), channel (trimmed
    as the native reader trims it), position from 1, touches of the journey
    (n), touches of the same channel in the journey (m), distinct channels;
    `keep` marks the non-empty pieces among all of them."""
    ids, chans, keep = [], [], []
    sep = channel_sep[0]
    for i, p in enumerate(paths):
        for piece in p.split(sep):
            c = _SPACES.sub(" ", _BLANKS.sub("", piece))
            keep.append(c != "")
            if c:
                ids.append(i)
                chans.append(c)
    t = pd.DataFrame({"id": np.asarray(ids, dtype=np.int64), "channel": chans})
    g = t.groupby("id", sort=False)
    t["pos"] = g.cumcount().to_numpy() + 1
    t["n"] = g["channel"].transform("size").to_numpy()
    t["m"] = t.groupby(["id", "channel"], sort=False)["channel"].transform("size").to_numpy()
    t["distinct"] = (1.0 / t["m"]).groupby(t["id"]).transform("sum").to_numpy()
    t.attrs["keep"] = np.asarray(keep, dtype=bool)
    return t


def touch_shares(rule: str, t: pd.DataFrame, j: Dict[str, Any], settings: Dict[str, Any],
                 credit: Dict[str, float]) -> np.ndarray:
    """Each touch's share of its journey's conversions under `rule`."""
    pos, n, m = t["pos"].to_numpy(), t["n"].to_numpy(), t["m"].to_numpy()

    def norm(w: np.ndarray) -> np.ndarray:
        tot = pd.Series(w).groupby(t["id"].to_numpy()).transform("sum").to_numpy()
        with np.errstate(invalid="ignore", divide="ignore"):
            return np.where(tot > 0, w / tot, 1.0 / n)   # all weights 0: evenly

    if rule == "first":
        return (pos == 1).astype(float)
    if rule == "last":
        return (pos == n).astype(float)
    if rule == "linear":
        return 1.0 / (t["distinct"].to_numpy() * m)   # equal per distinct channel
    if rule == "position":
        f, l = position_shares(settings.get("position_shares", {"first": 0.4, "last": 0.4}))
        two = np.where(pos == 1, f / (f + l), l / (f + l)) if f + l > 0 else 0.5
        mid = (1 - f - l) / np.maximum(n - 2, 1)
        return np.where(n == 1, 1.0, np.where(n == 2, two, np.where(
            pos == 1, f, np.where(pos == n, l, mid))))
    if rule == "last_non_direct":
        direct = {_SPACES.sub(" ", c.strip())
                  for c in direct_channels(settings.get("direct_channels", "direct"))}
        nd = np.where(t["channel"].isin(direct).to_numpy(), 0, pos)
        at = pd.Series(nd).groupby(t["id"].to_numpy()).transform("max").to_numpy()
        return (pos == np.where(at == 0, n, at)).astype(float)   # all direct: the last
    if rule == "time_decay":
        h = settings.get("half_life", 7)
        ok = isinstance(h, (int, float, np.number)) and not isinstance(h, bool)
        if not ok or not math.isfinite(float(h)) or float(h) <= 0:
            raise ValueError("half_life must be a positive number of days")
        name = settings.get("days", "days")
        text = days_column(j, name, "time_decay")
        keep = t.attrs["keep"]
        pieces = [x for d in text for x in str(d).split(j["channel_sep"][0])]
        days = pd.to_numeric(pd.Series(pieces, dtype=object), errors="coerce").to_numpy(float)
        if len(days) != len(keep) and len(days) == len(t):
            keep = np.ones(len(days), dtype=bool)
        if len(days) != len(keep) or np.isnan(days[keep]).any():
            raise ValueError(f'column "{name}" (days): its days do not match the touches of '
                             "the paths")
        days = days[keep]
        nearest = pd.Series(days).groupby(t["id"].to_numpy()).transform("min").to_numpy()
        return norm(2.0 ** (-(days - nearest) / float(h)))
    # weights: each distinct channel once, by its share of the model's credit
    c = t["channel"].map(credit).to_numpy(dtype=np.float64, na_value=np.nan)
    return norm(np.maximum(0.0, c) / m)


def journey_credit(out: pd.DataFrame, j: Dict[str, Any], settings: Dict[str, Any]) -> pd.DataFrame:
    """One row per model and journey, one column per channel: the journey's
    conversions as each model splits them over its touches."""
    paths, conv, _ = journey_vectors(j)
    paths = [str(p) for p in paths]
    conv = np.asarray(conv, dtype=np.float64)
    t = journey_touches(paths, j["channel_sep"])
    table_chans = [c for c in dict.fromkeys(out["channel"]) if c != "(unknown)"]
    chans = list(dict.fromkeys(table_chans + t["channel"].tolist()))
    col = {c: k for k, c in enumerate(chans)}
    ids = t["id"].to_numpy()
    cells = ids * len(chans) + t["channel"].map(col).to_numpy()
    parts = []
    for model in dict.fromkeys(out["model"]):
        rows = out[out["model"] == model]
        credit = dict(zip(rows["channel"], rows["conversions"].astype(float)))
        share = touch_shares(TOUCHES[model], t, j, settings, credit)
        mat = np.bincount(cells, weights=share * conv[ids], minlength=len(paths) * len(chans))
        mat = mat.reshape(len(paths), len(chans))
        part = pd.DataFrame({"model": model, "path": paths, "conversions": conv})
        part = pd.concat([part, pd.DataFrame(mat, columns=chans)], axis=1)
        parts.append(part)
    return pd.concat(parts, ignore_index=True)


def check_settings(settings: Mapping[str, Any], models: Sequence[str], bootstrap: bool) -> None:
    """Refuses settings that no chosen model reads, naming the known ones."""
    known = list(dict.fromkeys(k for m in models for k in SETTINGS.get(m, ())))
    if bootstrap and "threads" not in known:
        known.append("threads")
    unused = [k for k in settings if k not in known]
    if unused:
        raise ValueError(("setting " if len(unused) == 1 else "settings ")
                         + ", ".join(f"`{k}`" for k in unused)
                         + " not used by model" + ("s" if len(models) > 1 else "") + " "
                         + ", ".join(f'"{m}"' for m in models)
                         + ("; their settings: " + ", ".join(sorted(known)) if known
                            else "; they take no settings"))


def bootstrap_settings(s: Dict[str, Any]) -> Dict[str, Any]:
    n: Dict[str, Any] = {}
    if "position_shares" in s:
        n["first_share"], n["last_share"] = position_shares(s["position_shares"])
    if "direct_channels" in s:
        n["direct_channels"] = direct_channels(s["direct_channels"])
    if "simplified" in s:
        n["simplified"] = as_flag(s["simplified"], "simplified")
    n["exact"] = int(as_kind(s.get("method", "exact"), ("simulation", "exact"), "method") == "exact")
    if "horizon" in s:
        n["unlimited"] = int(as_kind(s["horizon"], ("step_limit", "unlimited"), "horizon")
                             == "unlimited")
    if "order" in s:
        n["order"] = as_whole(s["order"], "order", 1, MAX_ORDER)
    if "simulations" in s:
        n["simulations"] = as_whole(s["simulations"], "simulations", 1)
    if "max_steps" in s:
        n["max_steps"] = as_whole(s["max_steps"], "max_steps", 0)
    return n


def attribution_intervals(out: pd.DataFrame, j: Dict[str, Any], models: List[str],
                          settings: Dict[str, Any], nrep: int, level: float,
                          seed: int) -> pd.DataFrame:
    level = as_number(level, "level", 0, 1)
    if level <= 0 or level >= 1:
        raise ValueError("`level` must be a number between 0 and 1")
    threads = as_whole(settings.get("threads", 1), "threads", 1, 1024)
    native = bootstrap_settings(settings)
    out["lower"] = np.nan
    out["upper"] = np.nan
    reps = np.full((len(out), nrep), np.nan)
    probs = [(1 - level) / 2, (1 + level) / 2]
    for m in models:
        if m not in BOOTSTRAP_MODELS:
            warnings.warn(f'no bootstrap for model "{m}": its lower and upper are NA', stacklevel=3)
            continue
        if m == "logistic" and j["nulls"] is None:
            raise ValueError('`nulls` must name the column of non-converting journeys: '
                             'model "logistic" needs null counts')
        r = _core.bootstrap(m, native_src(j), native, nrep, seed, threads, verbose())
        q = np.quantile(r["reps"], probs, axis=0)   # R's quantile type 7
        pos = {c: i for i, c in enumerate(r["channels"])}
        rows = np.flatnonzero(out["model"].to_numpy() == m)
        at = [pos.get(c) for c in out["channel"].to_numpy()[rows]]
        out.loc[out.index[rows], "lower"] = [0.0 if a is None else q[0, a] for a in at]
        out.loc[out.index[rows], "upper"] = [0.0 if a is None else q[1, a] for a in at]
        reps[rows] = np.array([np.zeros(nrep) if a is None else r["reps"][:, a] for a in at])
    out.attrs["replicates"] = Replicates(reps, level)
    return out


class Replicates:
    """The bootstrap replicates of an attribution table (one row per table
    row), kept in ``table.attrs["replicates"]`` for `confint`. Compared by
    identity, so pandas can carry it through copies and concatenation."""

    def __init__(self, reps: np.ndarray, level: float) -> None:
        self.reps = reps
        self.level = level

    def __repr__(self) -> str:
        return f"<{self.reps.shape[1]} bootstrap replicates, level {self.level}>"


def confint(table: pd.DataFrame, parm: Any = None, level: Optional[float] = None) -> pd.DataFrame:
    """Bootstrap intervals of an attribution table, at any level.

    Parameters
    ----------
    table : pandas.DataFrame
        A result of `attribution` with `bootstrap`.
    parm : str or sequence of str, optional
        Rows ("model: channel") or models to keep; all when None.
    level : float, optional
        Coverage; None gives the table's own lower and upper.

    Returns
    -------
    pandas.DataFrame
        Indexed by "model: channel"; columns lower and upper, or the
        percentages of the quantiles (as "5 %", "95 %") at another level.

    Examples
    --------
    >>> import touchlane
    >>> a = touchlane.attribution(touchlane.journeys_sample(), models="first",
    ...                           bootstrap=20, random_state=1)
    >>> touchlane.confint(a, level=0.5).columns.tolist()
    ['25 %', '75 %']
    """
    names = (table["model"].astype(str) + ": " + table["channel"].astype(str)).to_numpy()
    rep = table.attrs.get("replicates")
    if level is None and {"lower", "upper"} <= set(table.columns):
        q = pd.DataFrame({"lower": table["lower"].to_numpy(float),
                          "upper": table["upper"].to_numpy(float)}, index=names)
    else:
        if not isinstance(rep, Replicates) or rep.reps.shape[0] != len(table):
            raise ValueError("the attribution has no intervals: run attribution() with "
                             "bootstrap = R replicates")
        level = rep.level if level is None else as_number(level, "level", 0, 1)
        if level <= 0 or level >= 1:
            raise ValueError("`level` must be a number between 0 and 1")
        probs = [(1 - level) / 2, (1 + level) / 2]
        q = np.full((len(table), 2), np.nan)
        ok = ~np.isnan(rep.reps).any(axis=1)
        if ok.any():
            q[ok] = np.quantile(rep.reps[ok], probs, axis=1).T
        q = pd.DataFrame(q, index=names, columns=percent_labels(probs))
    if parm is not None:
        parm = [parm] if isinstance(parm, str) else list(parm)
        q = q[np.isin(names, parm) | table["model"].isin(parm).to_numpy()]
    return q


def percent_labels(probs: Sequence[float]) -> List[str]:
    """Column names of interval bounds as R writes them: percentages to
    three significant digits with the decimals they need in common
    ("2.5 %", "97.5 %"; "0.05 %", "99.95 %")."""
    xs = [100 * float(p) for p in probs]

    def decimals(x: float) -> int:
        r = float(f"{x:.3g}")
        return next((d for d in range(16) if round(r, d) == r), 15)

    d = max(decimals(x) for x in xs)
    return [f"{x:.{d}f} %" for x in xs]


def plot_attribution(table: pd.DataFrame, what: str = "conversions", ax: Any = None) -> Any:
    """Grouped bars of an attribution table, one group per channel.

    Parameters
    ----------
    table : pandas.DataFrame
        A result of `attribution`.
    what : str
        "conversions", "value" or "share".
    ax : matplotlib.axes.Axes, optional
        Where to draw; a new figure when None.

    Returns
    -------
    matplotlib.axes.Axes

    Examples
    --------
    >>> import matplotlib
    >>> matplotlib.use("Agg")
    >>> import touchlane
    >>> a = touchlane.attribution(touchlane.journeys_sample(), models=["first", "last"])
    >>> ax = touchlane.plot_attribution(a, what="share")
    >>> ax.get_title()
    'Attributed share per channel and model'
    """
    what = as_kind(what, ("conversions", "value", "share"), "what")
    if what == "value" and table["value"].isna().all():
        raise ValueError("the attribution has no value column")
    import matplotlib.pyplot as plt

    models = list(dict.fromkeys(table["model"]))
    chans = list(dict.fromkeys(table["channel"]))
    if ax is None:
        _, ax = plt.subplots(figsize=(max(6, 0.9 * len(chans) + 2), 4.5))
    width = 0.8 / len(models)
    x = np.arange(len(chans))
    bars = "lower" in table and what == "conversions"
    for k, m in enumerate(models):
        rows = table[table["model"] == m].set_index("channel").reindex(chans)
        y = rows[what].to_numpy(dtype=float)
        err = None
        if bars:
            lo, hi = rows["lower"].to_numpy(float), rows["upper"].to_numpy(float)
            err = np.vstack([np.clip(y - lo, 0, None), np.clip(hi - y, 0, None)])
        ax.bar(x + (k - (len(models) - 1) / 2) * width, y, width, label=m, yerr=err,
               capsize=2 if bars else 0)
    ax.set_xticks(x)
    ax.set_xticklabels(chans, rotation=60, ha="right")
    ax.set_ylabel(what)
    ax.set_title(f"Attributed {what} per channel and model")
    ax.legend(frameon=False)
    ax.figure.tight_layout()
    return ax


def wide(table: pd.DataFrame) -> pd.DataFrame:
    """One row per channel, one column of conversions per model (and
    value_<model> columns when there is a value column).

    Examples
    --------
    >>> import touchlane
    >>> a = touchlane.attribution(touchlane.journeys_sample(), models=["first", "last"])
    >>> list(touchlane.wide(a).columns)
    ['channel', 'first', 'last', 'value_first', 'value_last']
    """
    models = list(dict.fromkeys(table["model"]))
    out = pd.DataFrame({"channel": list(dict.fromkeys(table["channel"]))})
    for m in models:
        out[m] = table.loc[table["model"] == m, "conversions"].to_numpy()
    if not table["value"].isna().all():
        for m in models:
            out[f"value_{m}"] = table.loc[table["model"] == m, "value"].to_numpy()
    return out
