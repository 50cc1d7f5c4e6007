#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "logistic/logistic.h"

namespace {

struct Fit {
  std::map<std::string, uli> mp;
  std::vector<std::string> vchannels;
  std::vector<double> vindex, vcoeff;
  double mean_index = 0;
};

Fit fit(std::vector<std::string> vy, std::vector<uli> vc, std::vector<uli> vn,
        std::string sep = ">") {
  Fit f;
  logistic_fit_cpp(&vy, &vc, &vn, &sep, &f.mp, &f.vchannels, &f.vindex, &f.mean_index, &f.vcoeff);
  return f;
}

ll_data_t_cj data(std::vector<std::string> vy, std::vector<uli> vc, std::vector<uli> vn,
                  uli nchannels) {
  ll_data_t_cj d;
  d.vy = vy;
  d.vc = vc;
  d.vn = vn;
  for (size_t u = 0; u < vc.size(); ++u) d.npaths += vc[u] + vn[u];
  d.nchannels = nchannels;
  return d;
}

// Written from the likelihood directly, with the path's design row as
// touch counts, independently of the parsed form the objective uses.
double direct_nll(const std::vector<std::vector<double>>& x, const std::vector<uli>& vc,
                  const std::vector<uli>& vn, const arma::vec& beta) {
  double ll = 0, n = 0;
  for (size_t u = 0; u < x.size(); ++u) {
    double s = 0;
    for (size_t j = 0; j < x[u].size(); ++j) s += x[u][j] * beta[j];
    const double p = 1 / (1 + std::exp(-s));
    ll += vc[u] * std::log(p) + vn[u] * std::log(1 - p);
    n += vc[u] + vn[u];
  }
  return -ll / n;
}

void expect_throws_with(const std::function<void()>& f, const std::string& part) {
  try {
    f();
    ADD_FAILURE() << "no exception, expected one mentioning " << part;
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find(part), std::string::npos) << e.what();
  }
}

}  // namespace

TEST(LogisticObjective, ValueGradientAndHessianAgreeWithDirectForms) {
  // A > B > A encodes as "0 1 2 1": score b0 + 2 bA + bB.
  ll_data_t_cj d = data({"0 1 2 1", "0 2", "0 1"}, {3, 0, 2}, {1, 4, 0}, 3);
  std::vector<std::vector<double>> x = {{1, 2, 1}, {1, 0, 1}, {1, 1, 0}};
  arma::vec beta = {0.3, -0.7, 0.4};
  arma::vec grad;
  arma::mat hess;
  const double f = ll_fn_whess_cj(beta, &grad, &hess, &d);
  EXPECT_NEAR(f, direct_nll(x, d.vc, d.vn, beta), 1e-14);
  EXPECT_DOUBLE_EQ(ll_fn_cj(beta, nullptr, &d), f);
  const double h = 1e-6;
  for (uli j = 0; j < 3; ++j) {
    arma::vec up = beta, dn = beta;
    up[j] += h;
    dn[j] -= h;
    EXPECT_NEAR(grad[j], (direct_nll(x, d.vc, d.vn, up) - direct_nll(x, d.vc, d.vn, dn)) / (2 * h),
                1e-8);
    arma::vec gu, gd;
    ll_fn_cj(up, &gu, &d);
    ll_fn_cj(dn, &gd, &d);
    for (uli k = 0; k < 3; ++k) EXPECT_NEAR(hess(k, j), (gu[k] - gd[k]) / (2 * h), 1e-7);
  }
}

TEST(LogisticObjective, ZeroCountsAndExtremeScoresStayFinite) {
  // A score of +-800 would make the naive logarithms infinite for the
  // count that is present; a zero count contributes nothing.
  ll_data_t_cj d = data({"0 1", "0 2"}, {5, 0}, {0, 5}, 3);
  arma::vec beta = {0.0, 800.0, -800.0};
  arma::vec grad;
  const double f = ll_fn_cj(beta, &grad, &d);
  EXPECT_TRUE(std::isfinite(f));
  EXPECT_NEAR(f, 0.0, 1e-300);
  EXPECT_TRUE(grad.is_finite());
  beta = {0.0, -800.0, 800.0};
  EXPECT_NEAR(ll_fn_cj(beta, &grad, &d), 800.0, 1e-9);   // (5*800 + 5*800) / 10
}

TEST(LogisticObjective, BadRecordsThrow) {
  ll_data_t_cj d = data({"0 3"}, {1}, {1}, 3);
  arma::vec beta(3, arma::fill::zeros);
  expect_throws_with([&] { ll_fn_cj(beta, nullptr, &d); }, "index 3");
  ll_data_t_cj e = data({"0 1"}, {0}, {0}, 2);
  expect_throws_with([&] { ll_fn_cj(arma::vec(2, arma::fill::zeros), nullptr, &e); }, "npaths");
  ll_data_t_cj g = data({"0 1"}, {1}, {1}, 2);
  expect_throws_with([&] { ll_fn_cj(beta, nullptr, &g); }, "3 coefficients for 2");
}

TEST(LogisticFit, SingleChannelIndexIsTheOdds) {
  Fit f = fit({"A", "A", " A "}, {2, 1, 0}, {0, 1, 0});
  ASSERT_EQ(f.vchannels, std::vector<std::string>{"A"});
  ASSERT_EQ(f.vindex.size(), 1u);
  EXPECT_NEAR(f.vindex[0], 3.0, 1e-4);          // 3 conversions, 1 null
  EXPECT_NEAR(f.mean_index, f.vindex[0], 1e-12); // every journey touches A
}

TEST(LogisticFit, SaturatedDesignReproducesTheObservedRates) {
  // Rows (1,1,0), (1,0,1), (1,1,1) are independent: the fitted probability
  // of each path is its observed rate, so the odds are known exactly.
  Fit f = fit({"A", "B", "A>B", "B>A"}, {1, 2, 3, 0}, {3, 2, 1, 0});
  ASSERT_EQ(f.vchannels, (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(f.mp.at("A"), 0u);
  EXPECT_EQ(f.mp.at("B"), 1u);
  EXPECT_EQ(f.mp.count("(constant)"), 0u);
  EXPECT_NEAR(f.vindex[0], 1.0 / 3, 2e-3);   // A alone: 1 of 4
  EXPECT_NEAR(f.vindex[1], 1.0, 2e-3);       // B alone: 2 of 4
  const double ab = std::exp(f.vcoeff[0] + f.vcoeff[1] + f.vcoeff[2]);
  EXPECT_NEAR(ab, 3.0, 2e-2);                // A and B: 3 of 4
  // Touch counts: A in 8 journeys, B in 8, of 12; B > A has no journeys.
  EXPECT_NEAR(f.mean_index, (8 * f.vindex[0] + 8 * f.vindex[1]) / 12, 1e-12);
}

TEST(LogisticFit, ChannelsSeenOnlyWithoutConversionsGetSmallIndices) {
  Fit f = fit({"good", "bad", "good > mid", "bad > mid"}, {5, 0, 3, 0}, {1, 6, 2, 4});
  EXPECT_LT(f.vindex[f.mp.at("bad")], 0.05);
  EXPECT_GT(f.vindex[f.mp.at("good")], 2.0);
}

TEST(LogisticFit, BlanksAndRepeatsEncodeAsTheSameChannels) {
  Fit a = fit({"paid  search > tv", "tv"}, {2, 1}, {1, 3});
  Fit b = fit({" paid search>tv ", "tv"}, {2, 1}, {1, 3});
  EXPECT_EQ(a.vchannels, (std::vector<std::string>{"paid search", "tv"}));
  EXPECT_EQ(a.vchannels, b.vchannels);
  EXPECT_EQ(a.vindex, b.vindex);
}

TEST(LogisticFit, JourneysWithoutTouchPointsOrCountsChangeNothing) {
  Fit a = fit({"A > B", "B", "A"}, {2, 1, 1}, {1, 3, 2});
  // An empty path (with counts) is left out of the fit and of the touch
  // counts; a journey with no counts only registers its channels.
  Fit b = fit({"", "A > B", "B", "A", "C"}, {7, 2, 1, 1, 0}, {9, 1, 3, 2, 0});
  EXPECT_EQ(b.vchannels, (std::vector<std::string>{"A", "B", "C"}));
  EXPECT_EQ(a.vindex[0], b.vindex[0]);
  EXPECT_EQ(a.vindex[1], b.vindex[1]);
  EXPECT_EQ(b.vindex[2], std::exp(b.vcoeff[0]));   // C's coefficient never moves
  EXPECT_EQ(a.mean_index, b.mean_index);
}

TEST(LogisticFit, InputsThatCannotBeFittedThrow) {
  expect_throws_with([] { fit({"A", "B"}, {0, 0}, {0, 0}); }, "npaths is 0");
  expect_throws_with([] { fit({"", ""}, {3, 0}, {0, 2}); }, "npaths is 0");
  expect_throws_with([] { fit({}, {}, {}); }, "npaths is 0");
  expect_throws_with([] { fit({"A", "B"}, {1}, {}); }, "vc: 1 conversion counts for 2 paths");
  expect_throws_with([] { fit({"A", "B"}, {1, 1}, {1}); }, "vn: 1 null counts");
  expect_throws_with([] { fit({"A"}, {1}, {1}, ""); }, "cha_sep");
}

TEST(LogisticFit, AbsentNullColumnMeansNoNulls) {
  Fit a = fit({"A", "B"}, {1, 2}, {});
  Fit b = fit({"A", "B"}, {1, 2}, {0, 0});
  EXPECT_EQ(a.vindex, b.vindex);
}

TEST(LogisticModel, MaskedIndicesUnmaskToTheFitAndAttributeTheJourneys) {
  std::vector<std::string> vy = {"A > B > A", "B", "A", "C > B", ""};
  std::vector<uli> vc = {4, 1, 2, 0, 3}, vn = {1, 3, 2, 2, 5};
  std::vector<double> vv = {8, 1, 3, 0, 9};
  Fit f = fit(vy, vc, vn);
  std::string sep = ">", rs = ";", out;
  int nulls = 0, paths = 0;
  std::vector<double> vindex, id, chpos, convs, value, loc;
  std::vector<std::string> vchannels, name, channel;
  logistic_regression_cpp(&vy, &vc, &vn, &vv, &sep, &rs, &nulls, &paths, &out, &vindex,
                          &vchannels, &id, &name, &channel, &chpos, &convs, &value, &loc);
  EXPECT_EQ(vchannels, f.vchannels);
  ASSERT_EQ(vindex.size(), 4u);
  unhide_index(&vindex);
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(vindex[k], f.vindex[k], 1e-9 * (1 + f.vindex[k]));
  EXPECT_NEAR(vindex[3], f.mean_index, 1e-9);
  // A > B > A: A's share idx_A / (idx_A + idx_B) over two touch points.
  const double a = f.vindex[0], b = f.vindex[1];
  ASSERT_GE(convs.size(), 3u);
  EXPECT_NEAR(convs[0], 4 * a / (a + b) / 2, 1e-12);
  EXPECT_NEAR(convs[1], 4 * b / (a + b), 1e-12);
  EXPECT_NEAR(value[0], 8 * a / (a + b) / 2, 1e-12);
  double total = 0;
  for (double x : loc) total += x;
  EXPECT_NEAR(total, 7.0, 1e-12);   // the empty path's 3 conversions have no touch point
  EXPECT_EQ(loc.size(), 3u);
}

TEST(LogisticModel, ValueVectorOfAnotherLengthThrows) {
  std::vector<std::string> vy = {"A", "B"};
  std::vector<uli> vc = {1, 1}, vn = {1, 1};
  std::vector<double> vv = {1};
  std::string sep = ">", rs = ";", out;
  int nulls = 0, paths = 0;
  std::vector<double> vindex, id, chpos, convs, value, loc;
  std::vector<std::string> vchannels, name, channel;
  expect_throws_with([&] {
    logistic_regression_cpp(&vy, &vc, &vn, &vv, &sep, &rs, &nulls, &paths, &out, &vindex,
                            &vchannels, &id, &name, &channel, &chpos, &convs, &value, &loc);
  }, "vv: 1 values for 2 paths");
  EXPECT_TRUE(vindex.empty());
}
