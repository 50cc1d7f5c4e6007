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
  // The run keeps the fit's coefficients: b0 + b_k gives channel k's index.
  std::vector<double> idx = r.vindex;
  unhide_index(&idx);
  EXPECT_EQ(r.fit.vcoeff.size(), r.vchannels.size() + 1);
  for (size_t k = 0; k < r.vchannels.size(); ++k)
    EXPECT_NEAR(std::exp(r.fit.vcoeff[0] + r.fit.vcoeff[k + 1]), idx[k], 1e-9 * (1 + idx[k]));
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

LogisticFitInfo fit_info(strs vy, ulis vc, ulis vn) {
  std::map<std::string, uli> mp;
  strs vchannels;
  std::vector<double> vindex;
  double mean_index = 0;
  LogisticFitInfo info;
  std::string sep = ">";
  logistic_fit_info(&vy, &vc, &vn, &sep, &mp, &vchannels, &vindex, &mean_index, &info);
  return info;
}

TEST(Logistic, InverseOfSymmetricPositiveDefiniteMatrices) {
  struct Case { const char* what; arma::mat a; bool ok; };
  arma::mat b = {{2, -1, 0.5, 3}, {0, 1, 4, -2}, {1, 1, 1, 1}, {0.3, -0.7, 2, 5}, {1, 0, 0, 2}};
  const std::vector<Case> cases = {
      {"1x1", arma::mat(arma::mat(1, 1, arma::fill::ones) * 4.0), true},
      {"well conditioned 4x4", arma::mat(b.t() * b + arma::eye(4, 4)), true},
      {"badly scaled but regular", arma::mat(arma::diagmat(arma::vec{1e6, 1.0, 1e-4})), true},
      {"rank 1", arma::mat{{1, 2}, {2, 4}}, false},
      {"rank 3 of 4", arma::mat(b.rows(0, 2).t() * b.rows(0, 2)), false},
      {"indefinite", arma::mat{{1, 2}, {2, 1}}, false},
      {"not square", arma::mat(2, 3, arma::fill::ones), false},
  };
  for (const Case& c : cases) {
    arma::mat inv;
    ASSERT_EQ(spd_inverse(c.a, &inv), c.ok) << c.what;
    if (!c.ok) {
      EXPECT_TRUE(inv.is_empty()) << c.what;
      continue;
    }
    // Oracle: the product with the matrix itself.
    const arma::mat prod = c.a * inv;
    EXPECT_LT(arma::abs(prod - arma::eye(c.a.n_rows, c.a.n_rows)).max(), 1e-9) << c.what;
    EXPECT_TRUE(inv.is_symmetric()) << c.what;
  }
}

TEST(Logistic, FitInformationOfASaturatedDesign) {
  // Each distinct path's fitted rate is its observed rate (A 1/4, B 2/4,
  // A>B 3/4), so the information sum_i n p (1-p) x x' and the likelihood
  // follow by hand; B > A has no journeys and adds nothing.
  const LogisticFitInfo f = fit_info({"A", "B", "A>B", "B>A"}, {1, 2, 3, 0}, {3, 2, 1, 0});
  const arma::vec xa = {1, 1, 0}, xb = {1, 0, 1}, xab = {1, 1, 1};
  const arma::mat info = 4 * (3.0 / 16) * xa * xa.t() + 4 * 0.25 * xb * xb.t() +
                         4 * (3.0 / 16) * xab * xab.t();
  const double loglik = 2 * (std::log(0.25) + 3 * std::log(0.75)) + 4 * std::log(0.5);
  EXPECT_EQ(f.nobs, 12u);
  EXPECT_GT(f.iterations, 0u);
  ASSERT_LT(f.gradient_norm, 1e-5);
  // Coefficients within ~|vcov| * n * |grad| of the optimum; the information
  // moves with them, the likelihood only to second order.
  EXPECT_LT(arma::abs(f.information - info).max(), 1e-3);
  EXPECT_NEAR(f.loglik, loglik, 1e-6);
  const arma::mat vcov = arma::inv(info);
  EXPECT_LT(arma::abs(f.vcov - vcov).max(), 1e-3 * arma::abs(vcov).max());
  ASSERT_EQ(f.vcoeff.size(), 3u);
  EXPECT_NEAR(f.vcoeff[0] + f.vcoeff[1], std::log(1.0 / 3), 1e-3);
}

TEST(Logistic, CollinearDesignHasNoCovariance) {
  // Single-touch journeys only: the touch counts add up to the constant
  // (A > B has no journeys; the empty path is no observation).
  const LogisticFitInfo f = fit_info({"A", "B", "A > B", ""}, {1, 2, 0, 4}, {3, 2, 0, 1});
  EXPECT_EQ(f.vcov.n_rows, 3u);
  EXPECT_TRUE(f.vcov.has_nan());
  EXPECT_NEAR(f.loglik, std::log(0.25) + 3 * std::log(0.75) + 4 * std::log(0.5), 1e-6);
  EXPECT_EQ(f.nobs, 8u);
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
