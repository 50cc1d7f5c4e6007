"""The same numbers as the R package on the bundled sample, for every model,
with the same settings and seed: R runs through Rscript on the installed
package (skipped when R or the package is absent)."""
import numpy as np
import pandas as pd
import pytest

import touchlane

from conftest import DECAY, SQL_CASES, _events, r_case, r_csv, r_result, same

J = touchlane.journeys_sample()
SAMPLE_FILE = ('file = system.file("extdata", "journeys.csv", package = "Touchlane"), '
               'conversions = "total_conversions", value = "total_conversion_value", '
               'nulls = "total_null"')
FILE_ARGS = dict(file=touchlane.sample_file(), conversions="total_conversions",
                 value="total_conversion_value", nulls="total_null")

# id: (R call, the same in Python): equal tables, or the same message
CASES = {
    "new_models": ('attribution(journeys_sample(), models = c("probabilistic", "first"), '
                   'nulls = "nulls", value = "value")',
                   lambda: touchlane.attribution(J, models=["probabilistic", "first"],
                                                 nulls="nulls", value="value")),
    "probabilistic_file": (f'attribution({SAMPLE_FILE}, models = "probabilistic")',
                           lambda: touchlane.attribution(**FILE_ARGS, models="probabilistic")),
    "hazard": ('attribution(decay, models = c("additive_hazard", "time_decay"), value = "value")',
               lambda: touchlane.attribution(DECAY, models=["additive_hazard", "time_decay"],
                                             value="value")),
    "probabilistic_pairs": ('probabilistic_model(journeys_sample(), value = "value")'
                            '$details$pair_rates',
                            lambda: touchlane.Probabilistic().fit(J, value="value").pair_rates_),
    "hazard_decay": ("additive_hazard(decay)$details$decay",
                     lambda: touchlane.AdditiveHazard().fit(DECAY).decay_),
    "misspelt_setting": ("attribution(journeys_sample(), oder = 2)",
                         lambda: touchlane.attribution(J, oder=2)),
    "unused_setting": ('attribution(journeys_sample(), models = c("first", "last"), halflife = 3)',
                       lambda: touchlane.attribution(J, models=["first", "last"], halflife=3)),
    "order_limit": ('attribution(journeys_sample(), models = "markov", order = 1e6)',
                    lambda: touchlane.attribution(J, models="markov", order=10 ** 6)),
    "few_simulations": ('attribution(journeys_sample(), models = "markov", simulations = 5)',
                        lambda: touchlane.attribution(J, models="markov", simulations=5)),
    "no_conversions": ('attribution(transform(journeys_sample(), conversions = 0), '
                       'models = "first")',
                       lambda: touchlane.attribution(J.assign(conversions=0), models="first")),
    "no_journeys": ('attribution(journeys_sample()[0, ], models = "markov")',
                    lambda: touchlane.attribution(J.iloc[:0], models="markov")),
    "position_rounding": ('attribution(journeys_sample(), models = "position", '
                          'position_shares = c(first = 0.5, last = 0.5 + 1e-13))',
                          lambda: touchlane.attribution(
                              J, models="position",
                              position_shares={"first": 0.5, "last": 0.5 + 1e-13})),
    "transform": ('transform_paths(journeys_sample(), drop_unless_alone = "direct", '
                  'drop_last_unless_alone = c("email", "social"), keep_last = 3, '
                  'remove_loops = TRUE)',
                  lambda: touchlane.transform_paths(J, drop_unless_alone="direct",
                                                    drop_last_unless_alone=["email", "social"],
                                                    keep_last=3, remove_loops=True)),
    "transform_alone": ('transform_paths(journeys_sample(), drop_unless_alone = c("direct", '
                        '"organic"), keep_last = 1)',
                        lambda: touchlane.transform_paths(J, drop_unless_alone=["direct",
                                                                                "organic"],
                                                          keep_last=1)),
    # R's defaults: the columns "value" and "nulls" found, exact Markov
    "defaults": ("attribution(journeys_sample(), seed = 4)",
                 lambda: touchlane.attribution(J, random_state=4)),
    "spend": ('attribution(journeys_sample(), models = c("first", "markov"), '
              'spend = data.frame(channel = c("paid search", "display"), spend = c(4e4, 0)))',
              lambda: touchlane.attribution(J, models=["first", "markov"], spend=pd.DataFrame(
                  {"channel": ["paid search", "display"], "spend": [4e4, 0.0]}))),
    "spend_unknown": ('attribution(journeys_sample(), models = "first", '
                      'spend = data.frame(channel = "tv", spend = 1))',
                      lambda: touchlane.attribution(J, models="first", spend=pd.DataFrame(
                          {"channel": ["tv"], "spend": [1]}))),
    "journey_level": ('attribution(journeys_sample(), models = c("first", "last", "linear", '
                      '"position", "last_non_direct", "markov", "shapley"), level = "journey", '
                      'direct_channels = "email")',
                      lambda: touchlane.attribution(
                          J, models=["first", "last", "linear", "position", "last_non_direct",
                                     "markov", "shapley"], level="journey",
                          direct_channels="email")),
    "journey_decay": ('attribution(decay, models = "time_decay", level = "journey", '
                      'half_life = 3)',
                      lambda: touchlane.attribution(DECAY, models="time_decay", level="journey",
                                                    half_life=3)),
    "journey_refused": ('attribution(journeys_sample(), models = "logistic", level = "journey")',
                        lambda: touchlane.attribution(J, models="logistic", level="journey")),
    "remove_loops": ('attribution(journeys_sample(), models = c("last", "markov"), '
                     'remove_loops = TRUE)',
                     lambda: touchlane.attribution(J, models=["last", "markov"],
                                                   remove_loops=True)),
    "remove_loops_file": (f'attribution({SAMPLE_FILE}, models = "linear", remove_loops = TRUE)',
                          lambda: touchlane.attribution(**FILE_ARGS, models="linear",
                                                        remove_loops=True)),
    "order_loops": ('choose_order(journeys_sample(), nulls = "nulls", max_order = 3, seed = 2, '
                    'remove_loops = TRUE)$areas',
                    lambda: touchlane.choose_order(J, nulls="nulls", max_order=3, random_state=2,
                                                   remove_loops=True).areas),
    "confint": ('confint(attribution(journeys_sample(), models = c("linear", "markov"), '
                'bootstrap = 20, seed = 5), level = 0.5)',
                lambda: touchlane.confint(touchlane.attribution(
                    J, models=["linear", "markov"], bootstrap=20, random_state=5),
                    level=0.5).reset_index(drop=True)),
}
for _id, (_expr, _) in CASES.items():
    r_case(_id, _expr)


@pytest.mark.parametrize("case_id", list(CASES))
def test_same_table_or_message_as_r(case_id, r_out):
    try:
        got = CASES[case_id][1]()
    except ValueError as e:
        got = str(e)
    want = r_result(r_out, case_id)
    if isinstance(want, str) or isinstance(got, str):
        assert got == want
    else:
        same(got, want)


def test_attribution_every_model(r_out):
    j = touchlane.journeys_sample()
    py = touchlane.attribution(j, models=["first", "last", "linear", "position",
                                          "last_non_direct", "markov", "shapley", "logistic"],
                               value="value", nulls="nulls", random_state=1, simulations=20000)
    same(py, r_csv(r_out, "attribution"))
    same(touchlane.attribution(j, models="markov", nulls="nulls", method="exact", order=2),
         r_csv(r_out, "markov_exact"))


def test_attribution_file_threads_bootstrap_decay(r_out, tmp_path):
    py = touchlane.attribution(file=touchlane.sample_file(), conversions="total_conversions",
                               value="total_conversion_value", nulls="total_null",
                               models=["first", "logistic", "markov", "shapley"],
                               random_state=2, simulations=20000, n_jobs=2)
    same(py, r_csv(r_out, "attribution_file"))
    py = touchlane.attribution(touchlane.journeys_sample(), nulls="nulls",
                               models=["linear", "shapley", "markov", "position"],
                               random_state=3, bootstrap=20, method="exact")
    same(py, r_csv(r_out, "bootstrap"))
    DECAY.to_csv(tmp_path / "decay.csv", sep=";", index=False)
    for src in (dict(data=DECAY), dict(file=str(tmp_path / "decay.csv"))):
        same(touchlane.attribution(**src, models="time_decay", value="value", half_life=3),
             r_csv(r_out, "time_decay"))


def weights_frame(s):
    return pd.DataFrame({"channel": s.index.astype(str), "weight": s.to_numpy()})


def test_model_classes(r_out):
    j = touchlane.journeys_sample()
    m = touchlane.Markov(order=2, kind="conversion_rate", simulations=20000,
                         random_state=1).fit(j, nulls="nulls", value="value")
    same(weights_frame(m.weights_), r_csv(r_out, "markov_weights"))
    same(m.transition_matrix_, r_csv(r_out, "markov_transitions"))
    same(m.to_frame(), r_csv(r_out, "markov_channels"))
    lr = touchlane.Logistic().fit(j, nulls="nulls", value="value")
    same(weights_frame(lr.weights_), r_csv(r_out, "logistic_weights"))
    same(lr.to_frame(), r_csv(r_out, "logistic_channels"))
    # predict hands the weights over unmasked, so the last bits may differ
    r = r_csv(r_out, "logistic_predict")
    p = lr.predict(j.head(500))
    assert p["channel"].tolist() == r["channel"].tolist()
    np.testing.assert_allclose(p[["conversions", "value", "share"]].to_numpy(float),
                               r[["conversions", "value", "share"]].to_numpy(float), rtol=1e-9)
    same(lr.vcov_.reset_index(), r_csv(r_out, "logistic_vcov"))
    assert list(lr.coef_.index) == list(r_csv(r_out, "logistic_vcov")["term"])
    for kw, name in [({}, "logistic_confint"), ({"kind": "index", "level": 0.9}, "logistic_confint_index")]:
        c = lr.confint(**kw)
        same(pd.DataFrame({"term": c.index.astype(str), "lower": c.iloc[:, 0].to_numpy(),
                           "upper": c.iloc[:, 1].to_numpy()}), r_csv(r_out, name))
    same(pd.DataFrame({"loglik": [lr.loglik_], "nobs": [lr.nobs_]}), r_csv(r_out, "logistic_fit"))
    sh = touchlane.Shapley(kind="odds").fit(j, nulls="nulls")
    same(weights_frame(sh.weights_), r_csv(r_out, "shapley_weights"))


def test_tools(r_out):
    j = touchlane.journeys_sample()
    same(touchlane.choose_order(j, nulls="nulls", max_order=4, random_state=1).areas,
         r_csv(r_out, "order"))
    nba = touchlane.next_best_action_train(j, nulls="nulls", max_order=2, simulations=10000,
                                           random_state=1)
    same(nba.table, r_csv(r_out, "nba"))
    same(nba.suggest(["social > email", "display > display", "affiliate"]),
         r_csv(r_out, "nba_suggest"))
    mr = touchlane.Markov(method="exact").fit(j)
    same(touchlane.budget_allocation(mr, total_budget=1e5), r_csv(r_out, "budget"))


def test_events_and_sql_text(r_out):
    ev = _events()
    py = touchlane.journeys_from_events(ev, "user", "time", "channel", "conversion",
                                        value="value", lookback_days=3, transform="collapse",
                                        times=True, order_by="id")
    same(py, r_csv(r_out, "events"))
    texts = (r_out / "sql.txt").read_text(encoding="utf-8").split("\n<<end>>\n")
    for case, want in zip(SQL_CASES, texts):
        table, dialect, transform, times, ld, lt, value, order_by, time_type, sep = case
        try:
            got = touchlane.journeys_sql(table, "user", "ts", "channel", "conv",
                                         value=value or None,
                                         lookback_days=float(ld) if ld else None,
                                         lookback_touches=float(lt) if lt else None,
                                         transform=transform, order_by=order_by or None,
                                         times=times == "1", time_type=time_type,
                                         channel_sep=sep, dialect=dialect)
        except ValueError as e:
            got = f"ERROR: {e}"
        assert got == want, case
    assert len(texts) - 1 == len(SQL_CASES)
