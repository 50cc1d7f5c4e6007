"""Model classes in the scikit-learn manner: settings in the constructor,
`fit` on journeys, fitted attributes ending in "_", `predict` on new
journeys and `to_frame`."""
from __future__ import annotations

import inspect
import re
from statistics import NormalDist
from typing import Any, Dict, Optional

import numpy as np
import pandas as pd

from . import _core
from ._attribution import (MODELS, additive_hazard_native, direct_channels, markov_settings,
                           per_channel, percent_labels, position_shares, shapley_native)
from ._journeys import (FOUND, as_flag, as_kind, as_number, as_seed, as_threads, bad_rows,
                        journey_args, native_src, need_journeys)
from ._log import verbose

INDEX_KINDS = {"removal": 0, "conversion_rate": 1, "odds": 2, "difference": 3, "saturation": 4}
UNKNOWN = "(unknown)"


def channel_table(channels: Any, conversions: Any, value: Any = None) -> pd.DataFrame:
    conv = np.asarray(conversions, dtype=np.float64)
    tot = conv.sum()
    return pd.DataFrame({"channel": [str(c) for c in channels], "conversions": conv,
                         "value": np.asarray(value, dtype=np.float64) if value is not None
                         else np.full(len(conv), np.nan),
                         "share": conv / tot if tot > 0 else conv * 0})


def touchpoint_table(tp: Dict[str, Any], has_value: bool) -> Optional[pd.DataFrame]:
    codes, cats = tp["channel"]
    if len(codes) == 0:
        return None
    return pd.DataFrame({
        "journey": tp["journey"] + 1,
        "channel": pd.Categorical.from_codes(codes, categories=pd.Index(cats, dtype=object)),
        "position": tp["position"] + 1,
        "conversions": tp["conversions"],
        "value": tp["value"] if has_value else np.nan})


def channel_sums(tp: Dict[str, Any], key: str, channels: list) -> np.ndarray:
    """Per-touch-point numbers summed for `channels` (0 where absent)."""
    codes, cats = tp["channel"]
    sums = per_channel(codes, tp[key], len(cats))
    pos = {c: i for i, c in enumerate(cats)}
    return np.array([sums[pos[c]] if c in pos else 0.0 for c in channels])


class JourneyModel:
    """Common machinery: parameters, fit arguments, predict and to_frame."""

    _name = "model"

    # ---- parameters (scikit-learn's convention) ----
    def get_params(self, deep: bool = True) -> Dict[str, Any]:
        names = [p for p in inspect.signature(type(self).__init__).parameters if p != "self"]
        return {n: getattr(self, n) for n in names}

    def set_params(self, **params: Any) -> "JourneyModel":
        valid = self.get_params()
        for k, v in params.items():
            if k not in valid:
                raise ValueError(f"invalid parameter `{k}` for {type(self).__name__}")
            setattr(self, k, v)
        return self

    def __repr__(self) -> str:
        args = ", ".join(f"{k}={v!r}" for k, v in self.get_params().items())
        return f"{type(self).__name__}({args})"

    # ---- fitting ----
    def _journeys(self, data: Any, file: Optional[str], path: str, conversions: str,
                  value: Optional[str], nulls: Optional[str], channel_sep: str, field_sep: str,
                  need_nulls: Any = False, remove_loops: Any = False) -> Dict[str, Any]:
        j = journey_args(data, file, path, conversions, value, nulls, channel_sep, field_sep,
                         need_nulls=need_nulls, remove_loops=remove_loops)
        self.columns_ = dict(path=path, conversions=conversions, value=j["value"], nulls=j["nulls"],
                             channel_sep=channel_sep, field_sep=field_sep)
        self.touchpoints_: Optional[pd.DataFrame] = None
        self.weights_: Optional[pd.Series] = None
        return j

    def _set_weights(self, channels: list, weights: np.ndarray) -> None:
        if len(weights):
            self.weights_ = pd.Series(np.asarray(weights, dtype=float),
                                      index=pd.Index(list(channels) + [UNKNOWN], name="channel"),
                                      name="weight")

    def _check_fitted(self) -> None:
        if not hasattr(self, "channels_"):
            raise RuntimeError(f"this {type(self).__name__} is not fitted yet: call fit() first")

    def to_frame(self, level: str = "channel") -> pd.DataFrame:
        """The per-channel table (channel, conversions, value, share) or,
        with level="touchpoint", one row per touch point of every journey."""
        level = as_kind(level, ("channel", "touchpoint"), "level")
        self._check_fitted()
        if level == "channel":
            return self.channels_.copy()
        if self.touchpoints_ is None:
            raise ValueError(f"model '{self._name}' has no per-touch-point rows")
        return self.touchpoints_.copy()

    def predict(self, data: Any = None, *, file: Optional[str] = None,
                level: str = "channel") -> pd.DataFrame:
        """Attributes new journeys with the fitted weights.

        Every journey's conversions (and value) are split over its touch
        points in proportion to the weights of their channels; a channel the
        fit did not see gets the weight of unknown channels. The column
        names and separators are those given to `fit`.

        Parameters
        ----------
        data : pandas.DataFrame, optional
            New journeys (or give `file`).
        file : str, optional
            A delimited journey file, streamed.
        level : str
            "channel" or "touchpoint".

        Returns
        -------
        pandas.DataFrame
        """
        level = as_kind(level, ("channel", "touchpoint"), "level")
        self._check_fitted()
        if self.weights_ is None:
            raise ValueError(f"model '{self._name}' has no weights to apply to new journeys")
        c = self.columns_
        j = journey_args(data, file, c["path"], c["conversions"], c["value"], None,
                         c["channel_sep"], c["field_sep"])
        chans = [str(x) for x in self.weights_.index[:-1]]
        r = _core.new_paths(native_src(j), chans, self.weights_.to_numpy(dtype=float), verbose())
        has_value = c["value"] is not None
        tp = touchpoint_table(r["touchpoints"], has_value)
        lost = np.isnan(r["conversions_loc"]) if tp is None else np.isnan(tp["conversions"])
        if lost.any():
            where = ("some journeys" if tp is None else "the journeys in "
                     + bad_rows(pd.unique(tp["journey"].to_numpy()[lost] - 1)))
            raise ValueError(f"`weights`: every channel of {where} has weight 0, so its "
                             "conversions cannot be split; give the channels (or \"(unknown)\") "
                             "a positive weight")
        if level == "touchpoint":
            if tp is None:
                raise ValueError("the new journeys have no per-touch-point rows")
            return tp
        if tp is None:
            return channel_table(chans, r["conversions_loc"])
        allc = list(dict.fromkeys(chans + [str(x) for x in r["touchpoints"]["channel"][1]]))
        return channel_table(allc, channel_sums(r["touchpoints"], "conversions", allc),
                             channel_sums(r["touchpoints"], "value", allc) if has_value else None)


def state_names(states: list, channels: list, channel_sep: str) -> list:
    """States "0 1" as "a > b"; the special states keep their names."""
    sep = f" {channel_sep.strip()} "
    out = []
    for s in states:
        if s.startswith("("):
            out.append(s)
        else:
            out.append(sep.join(channels[int(i)] for i in s.split(" ") if i != ""))
    return out


class Markov(JourneyModel):
    """Markov-chain attribution by removal effects.

    Fits a Markov chain of order `order` on the journeys and measures each
    channel's removal effect, by simulating journeys through the chain or
    exactly from the chain itself. With kind="removal" the observed
    conversions (and value) are shared in proportion to the removal effects;
    the other kinds compute a conversion index per channel and apply it to
    every touch point (they need `nulls`).

    Parameters
    ----------
    order : int
        Channels per state.
    method : {"simulation", "exact"}
    horizon : {"step_limit", "unlimited"}
        For method="exact": the simulation's step limit, or the
        absorbing-chain limit.
    kind : {"removal", "conversion_rate", "odds", "difference", "saturation"}
    simulations, max_steps, folds, tolerance, growth
        Simulation settings, as in the R package.
    n_jobs : int, optional
        Threads.
    random_state : int, numpy.random.Generator or None

    Attributes
    ----------
    channels_ : pandas.DataFrame
        channel, conversions, value, share.
    weights_ : pandas.Series
        Removal effects (or indices), "(unknown)" last.
    removal_effects_ : pandas.Series
        The removal effects per channel (kind="removal").
    transition_matrix_ : pandas.DataFrame
        from, to, probability, states named by their channels.
    summary_ : dict
        Simulated journeys, batches and final residual.

    Examples
    --------
    >>> import touchlane
    >>> m = touchlane.Markov(order=2, method="exact").fit(touchlane.journeys_sample(),
    ...                                                   nulls="nulls")
    >>> m.removal_effects_.index[:2].tolist()
    ['social', 'affiliate']
    >>> m.transition_matrix_.groupby("from")["probability"].sum().round(12).unique().tolist()
    [1.0]
    """

    _name = "markov"

    def __init__(self, order: int = 1, method: str = "exact", horizon: str = "step_limit",
                 kind: str = "removal", simulations: int = 100000, max_steps: int = 0,
                 folds: int = 10, tolerance: float = 0.05, growth: float = 1.5,
                 n_jobs: Optional[int] = None, random_state: Any = None) -> None:
        self.order = order
        self.method = method
        self.horizon = horizon
        self.kind = kind
        self.simulations = simulations
        self.max_steps = max_steps
        self.folds = folds
        self.tolerance = tolerance
        self.growth = growth
        self.n_jobs = n_jobs
        self.random_state = random_state

    def fit(self, data: Any = None, *, file: Optional[str] = None, path: str = "path",
            conversions: str = "conversions", value: Optional[str] = FOUND,
            nulls: Optional[str] = FOUND, channel_sep: str = ">",
            field_sep: str = ";", remove_loops: bool = False) -> "Markov":
        """Fits the model on journeys (a DataFrame, or a file streamed);
        `remove_loops` merges repeated consecutive touches of a channel."""
        kind = as_kind(self.kind, tuple(INDEX_KINDS), "kind")
        j = self._journeys(data, file, path, conversions, value, nulls, channel_sep, field_sep,
                           need_nulls=f'kind = "{kind}"' if kind != "removal" else False,
                           remove_loops=remove_loops)
        self.seed_ = as_seed(self.random_state)
        s = markov_settings(dict(order=self.order, simulations=self.simulations,
                                 max_steps=self.max_steps, threads=as_threads(self.n_jobs),
                                 method=self.method, horizon=self.horizon),
                            self.seed_, kind=INDEX_KINDS[kind], folds=self.folds,
                            tolerance=self.tolerance, growth=self.growth, transition_matrix=1)
        need_journeys(j, "the Markov model")
        r = _core.markov(native_src(j), s, verbose())
        chans = list(r["channels"])
        _store_tables(self, r, chans, kind == "removal", j["value"] is not None)
        self._set_weights(chans, r["weights"])
        if kind == "removal" and self.weights_ is not None:
            self.removal_effects_ = self.weights_.iloc[:-1].rename("removal_effect")
        self.transition_matrix_ = pd.DataFrame({
            "from": state_names(r["from"], chans, channel_sep),
            "to": state_names(r["to"], chans, channel_sep),
            "probability": r["probability"]})
        self.summary_ = simulation_summary(r["lines"])
        return self


def simulation_summary(lines: list) -> Dict[str, float]:
    sims = [x for x in lines if x.startswith("Number of simulations: ")]
    if not sims:
        return {}
    last = sims[-1]
    n = re.match(r"^Number of simulations: ([0-9]+)", last)
    resid = re.search(r": ([0-9.eE+-]+)% [<>]", last)
    out = {"simulated_journeys": float(n.group(1)) if n else np.nan,
           "batches": float(len(sims)),
           "final_residual_percent": float(resid.group(1)) if resid else np.nan}
    ended = [x for x in lines if x.startswith("Percentage of simulated paths")]
    if ended:
        m = re.search(r": ([0-9.eE+-]+)%$", ended[0])
        out["ended_before_step_limit_percent"] = float(m.group(1)) if m else np.nan
    return out


class Shapley(JourneyModel):
    """Shapley-value attribution over the channel coalitions of the journeys.

    Parameters
    ----------
    kind : {"totals", "conversion_rate", "odds", "difference", "saturation"}
        "totals" shares conversions (and value) by Shapley values; the rate
        kinds need `nulls` and give weights applied to every touch point.
    simplified : bool
        Split each coalition's worth equally (scales to many channels).

    Examples
    --------
    >>> import touchlane
    >>> s = touchlane.Shapley(kind="conversion_rate").fit(touchlane.journeys_sample(),
    ...                                                   nulls="nulls")
    >>> s.weights_.index[-1]
    '(unknown)'
    >>> s.predict(touchlane.journeys_sample().head(50))["conversions"].sum()
    1482.0
    """

    _name = "shapley"

    def __init__(self, kind: str = "totals", simplified: bool = False) -> None:
        self.kind = kind
        self.simplified = simplified

    def fit(self, data: Any = None, *, file: Optional[str] = None, path: str = "path",
            conversions: str = "conversions", value: Optional[str] = FOUND,
            nulls: Optional[str] = FOUND, channel_sep: str = ">",
            field_sep: str = ";") -> "Shapley":
        """Fits the model on journeys (a DataFrame, or a file streamed)."""
        kind = as_kind(self.kind, ("totals",) + tuple(INDEX_KINDS)[1:], "kind")
        simplified = as_flag(self.simplified, "simplified")
        j = self._journeys(data, file, path, conversions, value, nulls, channel_sep, field_sep,
                           need_nulls=f'kind = "{kind}"' if kind != "totals" else False)
        code = 0 if kind == "totals" else INDEX_KINDS[kind]
        r = shapley_native(j, simplified, code, verbose())
        chans = list(r["channels"])
        _store_tables(self, r, chans, kind == "totals", j["value"] is not None)
        if kind != "totals":
            self._set_weights(chans, r["weights"])
        return self


class Logistic(JourneyModel):
    """Logistic-regression attribution: conversion odds on per-channel touch
    counts (Adam); each channel weighs exp(b0 + b_channel). Needs `nulls`.

    Examples
    --------
    >>> import touchlane
    >>> j = touchlane.journeys_sample()
    >>> lr = touchlane.Logistic().fit(j, nulls="nulls", value="value")
    >>> lr.predict(j.head(500), level="touchpoint").columns.tolist()
    ['journey', 'channel', 'position', 'conversions', 'value']
    >>> lr.confint(kind="index", level=0.9).columns.tolist()
    ['5 %', '95 %']

    Attributes
    ----------
    coef_ : pandas.Series
        The coefficients, "(constant)" first, then one per channel.
    vcov_ : pandas.DataFrame
        Their covariance: the inverse of the observed information at the
        fitted coefficients (all NaN when the design is collinear).
    loglik_, nobs_, gradient_norm_, n_iter_
        Log-likelihood, journeys in the fit, the norm of the mean gradient
        where the optimiser stopped, and its updates.
    """

    _name = "logistic"

    def __init__(self) -> None:
        pass

    def fit(self, data: Any = None, *, file: Optional[str] = None, path: str = "path",
            conversions: str = "conversions", value: Optional[str] = FOUND,
            nulls: Optional[str] = FOUND, channel_sep: str = ">",
            field_sep: str = ";", remove_loops: bool = False) -> "Logistic":
        """Fits the model on journeys (a DataFrame, or a file read in full)."""
        j = self._journeys(data, file, path, conversions, value, nulls, channel_sep, field_sep,
                           need_nulls="logistic regression", remove_loops=remove_loops)
        r = _core.logistic(native_src(j), verbose())
        chans = list(r["channels"])
        has_value = j["value"] is not None
        self.touchpoints_ = touchpoint_table(r["touchpoints"], has_value)
        self.channels_ = channel_table(
            chans, r["conversions_loc"],
            channel_sums(r["touchpoints"], "value", chans) if has_value else None)
        self._set_weights(chans, r["weights"])
        terms = pd.Index(["(constant)"] + chans, name="term")
        self.coef_ = pd.Series(r["coefficients"], index=terms, name="coefficient")
        self.vcov_ = pd.DataFrame(r["vcov"], index=terms, columns=terms)
        self.loglik_ = float(r["loglik"])
        self.nobs_ = int(r["nobs"])
        self.gradient_norm_ = float(r["gradient_norm"])
        self.n_iter_ = int(r["iterations"])
        return self

    def confint(self, level: float = 0.95, kind: str = "coefficient") -> pd.DataFrame:
        """Wald intervals of the coefficients (kind="coefficient") or of the
        channel indices exp(b0 + b_channel) (kind="index": Wald on the log
        scale, then exponentiated); columns are the bounds' percentages."""
        self._check_fitted()
        kind = as_kind(kind, ("coefficient", "index"), "kind")
        level = as_number(level, "level", 0, 1)
        if level <= 0 or level >= 1:
            raise ValueError("`level` must be one number strictly between 0 and 1")
        b, v = self.coef_.to_numpy(), self.vcov_.to_numpy()
        if kind == "coefficient":
            est, se, names = b, np.sqrt(np.diag(v)), self.coef_.index
        else:
            # log index = b0 + b_k: variance V00 + Vkk + 2 V0k
            est = b[0] + b[1:]
            se = np.sqrt(v[0, 0] + np.diag(v)[1:] + 2 * v[0, 1:])
            names = pd.Index(self.coef_.index[1:], name="channel")
        a = (1 - level) / 2
        z = NormalDist().inv_cdf(1 - a)
        ci = np.column_stack([est - z * se, est + z * se])
        if kind == "index":
            ci = np.exp(ci)
        return pd.DataFrame(ci, index=names, columns=percent_labels((a, 1 - a)))


class Probabilistic(JourneyModel):
    """The simple probabilistic model (Shao and Li, 2011): a channel's
    contribution is its conversion rate among the journeys that touched it
    plus half the mean excess, over the channels it was seen with, of the
    pair's rate over the two single rates; each journey's conversions and
    value are split over its distinct channels in proportion (negative
    contributions count as 0; evenly when all are 0). Needs `nulls`. It has
    no weights for `predict`: the credit depends on the channels a journey
    combines.

    Attributes
    ----------
    rates_ : pandas.DataFrame
        channel, rate, contribution.
    pair_rates_ : pandas.DataFrame
        channel_a, channel_b, rate of the pairs seen together.

    Examples
    --------
    >>> import touchlane
    >>> p = touchlane.Probabilistic().fit(touchlane.journeys_sample(), value="value")
    >>> p.rates_.columns.tolist(), p.pair_rates_.columns.tolist()
    (['channel', 'rate', 'contribution'], ['channel_a', 'channel_b', 'rate'])
    """

    _name = "probabilistic"

    def __init__(self) -> None:
        pass

    def fit(self, data: Any = None, *, file: Optional[str] = None, path: str = "path",
            conversions: str = "conversions", value: Optional[str] = FOUND,
            nulls: Optional[str] = "nulls", channel_sep: str = ">",
            field_sep: str = ";") -> "Probabilistic":
        """Fits the model on journeys (a DataFrame, or a file streamed)."""
        j = self._journeys(data, file, path, conversions, value, nulls, channel_sep, field_sep,
                           need_nulls="the probabilistic model")
        r = _core.probabilistic(native_src(j), verbose())
        chans = [str(c) for c in r["channels"]]
        self.channels_ = channel_table(chans, r["conversions"],
                                       r["value"] if j["value"] is not None else None)
        self.rates_ = pd.DataFrame({"channel": chans, "rate": r["rate"],
                                    "contribution": r["contribution"]})
        names = np.asarray(chans, dtype=object)
        self.pair_rates_ = pd.DataFrame({"channel_a": names[r["pair_a"].astype(np.int64)],
                                         "channel_b": names[r["pair_b"].astype(np.int64)],
                                         "rate": r["pair_rate"]})
        return self


class AdditiveHazard(JourneyModel):
    """Additive hazard attribution (Zhang, Wei and Ren, 2014): a touch of
    channel c made t days before the conversion adds r(c) exp(-r(c) t) to
    the journey's hazard, and the conversion is credited to the touches in
    proportion. r(c) is the inverse of the channel's mean delay before a
    conversion; the whole days of the `days` column (as
    `journeys_from_events(..., times=True)` writes them) count as d + 0.5.

    Attributes
    ----------
    decay_ : pandas.DataFrame
        channel, rate (per day), mean_days.

    Examples
    --------
    >>> import pandas as pd, touchlane
    >>> d = pd.DataFrame({"path": ["search > email", "display > search", "email"],
    ...                   "days": ["3 > 0", "10 > 1", "0"], "conversions": [2, 1, 1]})
    >>> touchlane.AdditiveHazard().fit(d).decay_.round(4)
       channel    rate  mean_days
    0   search  0.3529     2.8333
    1    email  2.0000     0.5000
    2  display  0.0952    10.5000
    """

    _name = "additive_hazard"

    def __init__(self, days: str = "days") -> None:
        self.days = days

    def fit(self, data: Any = None, *, file: Optional[str] = None, path: str = "path",
            conversions: str = "conversions", value: Optional[str] = FOUND,
            channel_sep: str = ">", field_sep: str = ";") -> "AdditiveHazard":
        """Fits the model on journeys with a days column (a DataFrame, or a
        file read in full)."""
        j = self._journeys(data, file, path, conversions, value, None, channel_sep, field_sep)
        r = additive_hazard_native(j, self.days, verbose())
        chans = [str(c) for c in r["channels"]]
        self.channels_ = channel_table(chans, r["conversions"],
                                       r["value"] if j["value"] is not None else None)
        self.decay_ = pd.DataFrame({"channel": chans, "rate": r["rate"],
                                    "mean_days": r["mean_days"]})
        return self


HEURISTIC_RULES = ("first", "last", "linear", "position", "last_non_direct", "time_decay")


class Heuristic(JourneyModel):
    """Rule-based attribution: "first", "last", "linear" touch,
    "position" (U-shaped), "last_non_direct" or "time_decay" (journeys with
    a days column from `journeys_from_events(..., times=True)`).

    Examples
    --------
    >>> import touchlane
    >>> h = touchlane.Heuristic(rule="first").fit(touchlane.journeys_sample())
    >>> h.channels_["conversions"].sum()
    4017.0
    """

    _name = "heuristic"

    def __init__(self, rule: str = "linear", position_shares: Any = (0.4, 0.4),
                 direct_channels: Any = "direct", half_life: float = 7,
                 days: str = "days") -> None:
        self.rule = rule
        self.position_shares = position_shares
        self.direct_channels = direct_channels
        self.half_life = half_life
        self.days = days

    def fit(self, data: Any = None, *, file: Optional[str] = None, path: str = "path",
            conversions: str = "conversions", value: Optional[str] = FOUND,
            channel_sep: str = ">", field_sep: str = ";",
            remove_loops: bool = False) -> "Heuristic":
        """Fits the rule on journeys (a DataFrame, or a file streamed)."""
        rule = as_kind(self.rule, HEURISTIC_RULES, "rule")
        j = self._journeys(data, file, path, conversions, value, None, channel_sep, field_sep,
                           remove_loops=remove_loops)
        has_value = j["value"] is not None
        if rule in ("first", "last", "linear"):
            r = _core.heuristic(native_src(j), verbose())
            tp = dict(journey=r["journey"], channel=r["channel"], position=r["position"],
                      conversions=r[f"conversions_{rule}"], value=r[f"value_{rule}"])
            self.touchpoints_ = touchpoint_table(tp, has_value)
            chans = list(r["channel"][1])
            self.channels_ = channel_table(chans, channel_sums(tp, "conversions", chans),
                                           channel_sums(tp, "value", chans) if has_value else None)
            return self
        settings = dict(position_shares=position_shares(self.position_shares),
                        direct_channels=direct_channels(self.direct_channels),
                        half_life=self.half_life, days=self.days)
        t = MODELS[rule](j, settings, 0, verbose())
        self.channels_ = channel_table(t["channel"], t["conversions"],
                                       t["value"] if has_value else None)
        return self


def _store_tables(model, r, chans, totals, has_value):
    """Channel (and, for indices, touch-point) tables of a Markov or Shapley fit."""
    if totals:
        model.channels_ = channel_table(chans, r["conversions"], r["value"] if has_value else None)
    else:
        model.touchpoints_ = touchpoint_table(r["touchpoints"], has_value)
        model.channels_ = channel_table(
            chans, r["conversions_loc"],
            channel_sums(r["touchpoints"], "value", chans) if has_value else None)
