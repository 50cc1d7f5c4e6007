"""Multi-touch attribution of marketing customer journeys, computed by the
native core of the Touchlane R package: heuristic rules, exact and simulated
k-order Markov removal effects, Shapley values, logistic regression and the
tools around them. Pandas in, pandas out.

Examples
--------
>>> import touchlane
>>> j = touchlane.journeys_sample()
>>> j.columns.tolist()
['path', 'conversions', 'value', 'nulls']
>>> len(j)
6759
"""
from __future__ import annotations

import os

import pandas as pd

from ._attribution import attribution, confint, plot_attribution, wide
from .events import journeys_from_db, journeys_from_events, journeys_sql
from .models import AdditiveHazard, Heuristic, Logistic, Markov, Probabilistic, Shapley
from .transform import transform_paths
from .tools import (NextBestAction, OrderChoice, budget_allocation, choose_order,
                    next_best_action, next_best_action_train)

__all__ = ["attribution", "confint", "plot_attribution", "wide", "journeys_sample", "sample_file",
           "Markov", "Shapley", "Logistic", "Heuristic", "Probabilistic", "AdditiveHazard",
           "choose_order", "next_best_action_train", "next_best_action", "NextBestAction",
           "OrderChoice",
           "budget_allocation", "journeys_from_events", "journeys_sql", "journeys_from_db",
           "transform_paths"]

__version__ = "0.1.0"


def sample_file() -> str:
    """The bundled sample journey file (fields separated by ";", columns
    path, total_conversions, total_conversion_value, total_null)."""
    here = os.path.dirname(os.path.abspath(__file__))
    return os.path.normpath(os.path.join(here, "..", "..", "inst", "extdata", "journeys.csv"))


def journeys_sample() -> pd.DataFrame:
    """6,759 aggregated journeys over 9 channels, with the columns renamed
    to the package's defaults: path, conversions, value, nulls.

    Examples
    --------
    >>> import touchlane
    >>> touchlane.journeys_sample()["conversions"].sum()
    4017
    """
    d = pd.read_csv(sample_file(), sep=";", quoting=3, keep_default_na=False)
    return pd.DataFrame({"path": d["path"], "conversions": d["total_conversions"],
                         "value": d["total_conversion_value"], "nulls": d["total_null"]})
