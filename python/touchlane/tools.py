"""The tools around the models: the Markov order, next best actions and
budget allocation."""
from __future__ import annotations

from dataclasses import dataclass, field
from typing import Any, List, Mapping, Optional, Sequence, Union

import numpy as np
import pandas as pd

from . import _core
from ._attribution import markov_settings
from ._journeys import (as_kind, as_number, as_seed, as_threads, as_whole, bad_rows,
                        check_sep, journey_args, native_src)
from ._log import verbose
from .models import JourneyModel, UNKNOWN


@dataclass
class OrderChoice:
    """Hold-out area per Markov order and the suggested order."""

    areas: pd.DataFrame
    suggested_order: Optional[int]
    curve: str


def choose_order(data: Any = None, *, file: Optional[str] = None, path: str = "path",
                 conversions: str = "conversions", nulls: Optional[str] = None,
                 channel_sep: str = ">", field_sep: str = ";", max_order: int = 10,
                 curve: str = "roc", points: int = 100, folds: int = 10,
                 test_share: float = 0.3, tolerance: float = 0.05,
                 random_state: Any = None, remove_loops: bool = False) -> OrderChoice:
    """Chooses the order of the Markov model by repeated random hold-out.

    For each order 1 .. `max_order` the training conversion rate of a
    journey's last `order` touch points predicts the held-out outcomes; the
    median area under the ROC ("roc") or precision-recall
    ("precision_recall") curve measures each order, and the suggested order
    is the smallest after which a higher order gains less than `tolerance`.

    Returns
    -------
    OrderChoice
        `areas` (order, area), `suggested_order` (None when every order
        still gains) and `curve`.

    Examples
    --------
    >>> import touchlane
    >>> co = touchlane.choose_order(touchlane.journeys_sample(), nulls="nulls", max_order=3,
    ...                             random_state=1)
    >>> co.areas["order"].tolist()
    [1, 2, 3]
    """
    curve = as_kind(curve, ("roc", "precision_recall"), "curve")
    j = journey_args(data, file, path, conversions, None, nulls, channel_sep, field_sep,
                     need_nulls="choosing the order", remove_loops=remove_loops)
    r = _core.choose_order(native_src(j), as_whole(max_order, "max_order", 1, 1000),
                           as_whole(points, "points", 1, 1e6), as_whole(folds, "folds", 1, 1e6),
                           as_number(test_share, "test_share", 0, 1), as_seed(random_state),
                           as_number(tolerance, "tolerance", 0), 0 if curve == "roc" else 1,
                           verbose())
    best = int(r["best"])
    return OrderChoice(pd.DataFrame({"order": r["order"].astype(int), "area": r["area"]}),
                       best if best > 0 else None, curve)


@dataclass
class NextBestAction:
    """A next-best-action table: per history of channels and next channel,
    the (shrunk) conversion rate of simulated journeys."""

    table: pd.DataFrame
    channels: List[str]
    channel_sep: str
    native: dict = field(repr=False)

    def suggest(self, paths: Union[Sequence[str], pd.Series]) -> pd.DataFrame:
        """The best next channel of each journey; see `next_best_action`."""
        return next_best_action(paths, self)


def next_best_action_train(data: Any = None, *, file: Optional[str] = None, path: str = "path",
                           conversions: str = "conversions", nulls: Optional[str] = None,
                           channel_sep: str = ">", field_sep: str = ";", max_order: int = 3,
                           simulations: int = 100000, max_steps: int = 0, folds: int = 10,
                           tolerance: float = 0.05, growth: float = 1.5, min_sample: float = 1,
                           n_jobs: Optional[int] = None, random_state: Any = None,
                           remove_loops: bool = False) -> NextBestAction:
    """Trains a next-best-action table.

    For every order k from 2 to `max_order` and every window of k
    consecutive channels seen in the journeys, the conversion rate of
    simulated journeys through the window, shrunk towards the overall rate
    by `min_sample` pseudo-counts.

    Examples
    --------
    >>> import touchlane
    >>> nba = touchlane.next_best_action_train(touchlane.journeys_sample(), nulls="nulls",
    ...                                        max_order=2, simulations=10000, random_state=1)
    >>> nba.table.columns.tolist()
    ['history', 'next', 'conversion_rate', 'order']
    >>> nba.suggest(["social > email", "paid search"])["next"].str.len().gt(0).all()
    True
    """
    j = journey_args(data, file, path, conversions, None, nulls, channel_sep, field_sep,
                     remove_loops=remove_loops)
    s = markov_settings(dict(simulations=simulations, max_steps=max_steps,
                             threads=as_threads(n_jobs)), as_seed(random_state), folds=folds,
                        tolerance=tolerance, growth=growth, chain=False)
    r = _core.nba_train(native_src(j), as_whole(max_order, "max_order", 2, 1000), s,
                        as_number(min_sample, "min_sample", 0), verbose())
    chans = list(r["channels"])
    sep = f" {channel_sep.strip()} "
    hist = [[int(i) for i in h.split(" ") if i != ""] for h in r["history"]]
    table = pd.DataFrame({"history": [sep.join(chans[i] for i in h) for h in hist],
                          "next": [chans[int(i)] for i in r["next"]],
                          "conversion_rate": r["conversion_rate"],
                          "order": [len(h) + 1 for h in hist]})
    return NextBestAction(table, chans, channel_sep, r)


def next_best_action(paths: Union[Sequence[str], pd.Series], table: NextBestAction,
                     channel_sep: Optional[str] = None) -> pd.DataFrame:
    """Suggests the next channel of journeys.

    For each journey, the channel whose table entry for the journey's most
    recent history has the highest conversion rate; histories are matched
    from the whole journey down to its last touch point.

    Returns
    -------
    pandas.DataFrame
        path, next, conversion_rate; `.attrs["rates"]` holds every channel's
        best rate (journeys x channels).
    """
    if not isinstance(table, NextBestAction):
        raise ValueError("`table` must be a next-best-action table from next_best_action_train()")
    if isinstance(paths, str):
        paths = [paths]
    s = pd.Series(paths, dtype=object) if not isinstance(paths, pd.Series) else paths
    if isinstance(s.dtype, pd.CategoricalDtype):
        s = s.astype(object)
    na = np.flatnonzero(s.isna().to_numpy())
    if len(na):
        raise ValueError(f"`paths`: {bad_rows(na)} NA")
    if not all(isinstance(p, str) for p in s):
        raise ValueError("`paths` must be a character vector")
    sep = table.channel_sep if channel_sep is None else channel_sep
    check_sep(sep, "channel_sep")
    n = table.native
    r = _core.nba_suggest(list(s), sep, list(n["history"]), [int(x) for x in n["next"]],
                          list(n["conversion_rate"]), list(n["channels"]))
    out = pd.DataFrame({"path": list(s), "next": r["next"],
                        "conversion_rate": r["conversion_rate"]})
    out.attrs["rates"] = pd.DataFrame(r["rates"], index=list(s), columns=table.channels)
    return out


def budget_allocation(model: Union[JourneyModel, pd.DataFrame], total_budget: float,
                      costs: Union[None, Mapping[str, float], pd.Series, pd.DataFrame] = None,
                      weights: Optional[pd.Series] = None, reallocate: float = 0.1,
                      min_share: float = 0.05) -> pd.DataFrame:
    """Suggests a budget per channel.

    A share 1 - `min_share` - `reallocate` of `total_budget` follows the
    current spending (`costs`, or the attributed conversions without costs),
    `min_share` is split equally and `reallocate` follows the channels'
    return: value over cost with a value column and costs, else the model's
    weights.

    Returns
    -------
    pandas.DataFrame
        channel, current, budget.

    Examples
    --------
    >>> import touchlane
    >>> m = touchlane.Markov(method="exact").fit(touchlane.journeys_sample())
    >>> b = touchlane.budget_allocation(m, total_budget=1e5)
    >>> round(b["budget"].sum())
    100000
    """
    fitted = isinstance(model, JourneyModel)
    tab = model.to_frame() if fitted else model
    if not isinstance(tab, pd.DataFrame) or not {"channel", "conversions"} <= set(tab.columns):
        raise ValueError("`model` must be a model object or a data frame with columns channel "
                         "and conversions")
    tab = tab[tab["channel"] != UNKNOWN]
    total_budget = as_number(total_budget, "total_budget", 0)
    reallocate = as_number(reallocate, "reallocate", 0, 1)
    min_share = as_number(min_share, "min_share", 0, 1 - reallocate)
    chans = [str(c) for c in tab["channel"]]
    conv = tab["conversions"].to_numpy(dtype=float)
    value = (tab["value"].to_numpy(dtype=float)
             if "value" in tab and not tab["value"].isna().all() else np.array([]))
    cost = np.array([])
    if costs is not None:
        if isinstance(costs, pd.DataFrame):
            if not {"channel", "cost"} <= set(costs.columns):
                raise ValueError("`costs` needs columns channel and cost")
            costs = costs.groupby(costs["channel"].astype(str))["cost"].sum()
        costs = pd.Series(costs, dtype=float) if not isinstance(costs, pd.Series) else costs
        missing = [c for c in chans if c not in costs.index]
        if missing:
            raise ValueError("`costs`: no cost for channel " + ", ".join(f"'{c}'" for c in missing))
        cost = costs.reindex(chans).to_numpy(dtype=float)
        if np.isnan(cost).any() or (cost < 0).any():
            raise ValueError("`costs` must be numbers, not negative")
    by_value = len(value) > 0 and len(cost) > 0
    w = np.array([])
    wch: List[str] = []
    if not by_value:
        if weights is None:
            if not fitted or model.weights_ is None:
                raise ValueError("`weights` are needed: the model has none, and return by value "
                                 "needs a value column and `costs`")
            weights = model.weights_
        if not isinstance(weights, pd.Series) or list(weights.index).count(UNKNOWN) != 1:
            raise ValueError('`weights` needs exactly one weight named "(unknown)" for channels '
                             "it does not list")
        weights = pd.concat([weights.drop(UNKNOWN), weights[[UNKNOWN]]])
        w = weights.to_numpy(dtype=float)
        wch = [str(c) for c in weights.index[:-1]]
    elif (conv <= 0).any():
        bad = chans[int(np.flatnonzero(conv <= 0)[0])]
        raise ValueError(f"channel '{bad}' has no attributed conversions: its value per "
                         "conversion is undefined")
    r = _core.budget(chans, list(conv), list(value) if by_value else [],
                     chans if len(cost) else [], list(cost), wch, list(w), total_budget,
                     reallocate, min_share)
    base = cost if len(cost) else conv
    return pd.DataFrame({"channel": r["channel"], "current": base / base.sum() * total_budget,
                         "budget": r["budget"]})
