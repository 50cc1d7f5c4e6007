#include <gtest/gtest.h>

#include <cmath>

#include "helpers.h"
#include "logistic/logistic.h"

namespace {

typedef std::vector<std::string> strs;
typedef std::vector<uli> ulis;

struct Fit {
  std::map<std::string, uli> mp;
  strs vchannels;
  std::vector<double> vindex, vcoeff;
  double mean_index = 0;
};

Fit fit(strs vy, ulis vc, ulis vn, std::string sep = ">") {
  Fit f;
  logistic_fit_cpp(&vy, &vc, &vn, &sep, &f.mp, &f.vchannels, &f.vindex, &f.mean_index, &f.vcoeff);
  return f;
}

struct Model {
  strs vchannels, name, channel;
  std::vector<double> vindex, id, chpos, convs, value, loc;
};

Model regress(strs vy, ulis vc, ulis vn, std::vector<double> vv) {
  LogisticResult r = logistic_run(vector_source(&vy, &vc, &vv, &vn), LogisticSettings());
  Model m{r.vchannels, r.vpath_name, r.vpath_channel, r.vindex, r.vpath_id, r.vpath_chpos,
          r.vpath_attr_convs, r.vpath_attr_value, r.vattr_convs_loc};
  unhide_index(&m.vindex);
  return m;
}

ll_data_t_cj data(strs vy, ulis vc, ulis vn, uli nchannels) {
  ll_data_t_cj d;
  d.vy = vy, d.vc = vc, d.vn = vn;
  for (size_t u = 0; u < vc.size(); ++u) d.npaths += vc[u] + vn[u];
  d.nchannels = nchannels;
  return d;
}

// The fitted coefficients are checked against R's glm (touch counts as the
// design) in tests/testthat/test-models.R; here the extremes a separable
// design drives the scores to.
TEST(Logistic, ObjectiveSurvivesExtremeScores) {
  // Scores of +-800 overflow naive logarithms; a zero count adds nothing.
  arma::vec grad;
  ll_data_t_cj e = data({"0 1", "0 2"}, {5, 0}, {0, 5}, 3);
  EXPECT_NEAR(ll_fn_cj(arma::vec{0.0, 800.0, -800.0}, &grad, &e), 0.0, 1e-300);
  EXPECT_TRUE(grad.is_finite());
  EXPECT_NEAR(ll_fn_cj(arma::vec{0.0, -800.0, 800.0}, &grad, &e), 800.0, 1e-9);
}

TEST(Logistic, FittedIndicesAreOddsOfKnownRates) {
  Fit f = fit({"A", "A", " A "}, {2, 1, 0}, {0, 1, 0});
  ASSERT_EQ(f.vchannels, strs{"A"});
  EXPECT_NEAR(f.vindex[0], 3.0, 1e-4);   // 3 conversions, 1 null
  EXPECT_NEAR(f.mean_index, f.vindex[0], 1e-12);
  f = fit({"A > A", "A"}, {3, 1}, {1, 3});   // a repeated channel counts once in the mean
  EXPECT_NEAR(f.mean_index, f.vindex[0], 1e-12);
  EXPECT_NEAR(f.vindex[0], 1.0 / 3, 2e-3);     // A twice: 3 of 4, not A once
  // A saturated design: each path's fitted probability is its observed rate.
  f = fit({"A", "B", "A>B", "B>A"}, {1, 2, 3, 0}, {3, 2, 1, 0});
  ASSERT_EQ(f.vchannels, (strs{"A", "B"}));
  EXPECT_EQ(f.mp, (std::map<std::string, uli>{{"A", 0}, {"B", 1}}));
  EXPECT_NEAR(f.vindex[0], 1.0 / 3, 2e-3);   // A alone: 1 of 4
  EXPECT_NEAR(f.vindex[1], 1.0, 2e-3);       // B alone: 2 of 4
  EXPECT_NEAR(std::exp(f.vcoeff[0] + f.vcoeff[1] + f.vcoeff[2]), 3.0, 2e-2);   // both: 3 of 4
  // Touch-weighted mean: A and B in 8 journeys each of 12 (B > A has none).
  EXPECT_NEAR(f.mean_index, (8 * f.vindex[0] + 8 * f.vindex[1]) / 12, 1e-12);
}

TEST(Logistic, InputsThatChangeNothing) {
  const Fit a = fit({"A > B", "B", "A"}, {2, 1, 1}, {1, 3, 2});
  // An empty path is left out; a journey without counts only names its channel.
  const Fit b = fit({"", "A  > B ", "B", "A", "C"}, {7, 2, 1, 1, 0}, {9, 1, 3, 2, 0});
  EXPECT_EQ(b.vchannels, (strs{"A", "B", "C"}));
  EXPECT_EQ(a.vindex[0], b.vindex[0]);
  EXPECT_EQ(a.vindex[1], b.vindex[1]);
  EXPECT_EQ(b.vindex[2], std::exp(b.vcoeff[0]));   // C's coefficient never moves
  EXPECT_EQ(a.mean_index, b.mean_index);
  EXPECT_EQ(fit({"A", "B"}, {1, 2}, {}).vindex, fit({"A", "B"}, {1, 2}, {0, 0}).vindex);   // no nulls
}

TEST(Logistic, ModelUnmasksToTheFitAndAttributesJourneys) {
  const strs vy = {"A > B > A", "B", "A", "C > B", ""};
  const ulis vc = {4, 1, 2, 0, 3}, vn = {1, 3, 2, 2, 5};
  const Fit f = fit(vy, vc, vn);
  const Model m = regress(vy, vc, vn, {8, 1, 3, 0, 9});
  EXPECT_EQ(m.vchannels, f.vchannels);
  ASSERT_EQ(m.vindex.size(), 4u);
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(m.vindex[k], f.vindex[k], 1e-9 * (1 + f.vindex[k]));
  EXPECT_NEAR(m.vindex[3], f.mean_index, 1e-9);
  // A > B > A: A's share idx_A / (idx_A + idx_B) over its two touch points.
  const double a = f.vindex[0], b = f.vindex[1];
  ASSERT_GE(m.convs.size(), 3u);
  EXPECT_NEAR(m.convs[1], 4 * b / (a + b), 1e-12);
  EXPECT_NEAR(m.value[0], 8 * a / (a + b) / 2, 1e-12);
  EXPECT_EQ(m.loc.size(), 3u);
  EXPECT_NEAR(tl_test::total_of(m.loc), 7.0, 1e-12);   // the empty path's 3 have no touch point
}

TEST(Logistic, ErrorTable) {
  const std::string none =
      "logistic regression: npaths is 0 (no journey with touch points has a conversion or a null), nothing to fit";
  auto objective = [](strs vy, uli nchannels, uli ncoeff) {
    return [=] {
      ll_data_t_cj d = data(vy, {1}, {1}, nchannels);
      ll_fn_cj(arma::vec(ncoeff, arma::fill::zeros), nullptr, &d);
    };
  };
  tl_test::expect_errors({
      {none, [] { fit({"A", "B"}, {0, 0}, {0, 0}); }},
      {none, [] { fit({"", ""}, {3, 0}, {0, 2}); }},
      {none, [] { fit({}, {}, {}); }},
      {"vc: 1 conversion counts for 2 paths", [] { fit({"A", "B"}, {1}, {}); }},
      {"vn: 1 null counts for 2 paths", [] { fit({"A", "B"}, {1, 1}, {1}); }},
      {"cha_sep must not be empty", [] { fit({"A"}, {1}, {1}, ""); }},
      {"logistic regression: encoded path \"0 3\" holds index 3 of 3 coefficients", objective({"0 3"}, 3, 3)},
      {"logistic regression: 3 coefficients for 2 channels", objective({"0 1"}, 2, 3)},
      {"journeys: values have 1 rows, paths 2", [] { regress({"A", "B"}, {1, 1}, {1, 1}, {1}); }},
  });
}

}  // namespace
