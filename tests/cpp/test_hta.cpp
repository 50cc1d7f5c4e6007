#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "hta/hta.h"

namespace {

struct Hta {
  std::vector<uli> vc;
  std::vector<double> vv;
  arma::Mat<uli> MT;
  double cr = 0;
  std::vector<double> vcr, vctr, vadstock;
  double mean_cj_length = 2;
  uli nsim = 2, seed = 11, roc_npt = 10;
  int type_worth = 0, verbose = 0, flg_roc = 0, flg_type_roc = 0;
  double perc_test = 0.3;
};

struct Out {
  arma::mat conv, value;
  std::vector<double> vy, vx;
  double auc = 0;
};

Out run(const Hta& h) {
  Out o;
  hta_model_cpp(&h.vc, &h.vv, &h.MT, &h.cr, &h.vcr, &h.vctr, &h.mean_cj_length, &h.vadstock,
                &h.nsim, &h.seed, &h.type_worth, &h.verbose, &h.flg_roc, &h.flg_type_roc,
                &h.perc_test, &h.roc_npt, &o.conv, &o.value, &o.vy, &o.vx, &o.auc);
  return o;
}

// Four periods, three channels, ample traffic.
Hta example() {
  Hta h;
  h.vc = {0, 12, 7, 20};
  h.MT = arma::Mat<uli>{{0, 0, 0}, {300, 120, 80}, {150, 0, 90}, {400, 200, 100}};
  h.vctr = {0.6, 0.4, 0.5};
  h.vadstock = {0.2, 0, 0.1};
  return h;
}

// Independent Spearman with the integer-part tie rule: the rank of a value
// is 1 + (values with a smaller integer part) + (ties - 1) / 2.
double spearman_floor(const std::vector<double>& a, const std::vector<double>& b) {
  auto rank = [](const std::vector<double>& v) {
    std::vector<double> r(v.size());
    for (size_t i = 0; i < v.size(); ++i) {
      double less = 0, same = 0;
      for (double w : v) {
        if (std::floor(w) < std::floor(v[i])) less += 1;
        if (std::floor(w) == std::floor(v[i])) same += 1;
      }
      r[i] = 1 + less + (same - 1) / 2;
    }
    return r;
  };
  std::vector<double> ra = rank(a), rb = rank(b);
  const double n = double(a.size());
  double ma = 0, mb = 0;
  for (size_t i = 0; i < a.size(); ++i) { ma += ra[i] / n; mb += rb[i] / n; }
  double sab = 0, saa = 0, sbb = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    sab += (ra[i] - ma) * (rb[i] - mb);
    saa += (ra[i] - ma) * (ra[i] - ma);
    sbb += (rb[i] - mb) * (rb[i] - mb);
  }
  return sab / std::sqrt(saa * sbb);
}

template <class F>
void expect_invalid(F f, const std::string& fragment) {
  try {
    f();
    ADD_FAILURE() << "no error, expected one mentioning " << fragment;
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find(fragment), std::string::npos) << e.what();
  }
}

// ---- helpers ------------------------------------------------------------------------

TEST(Hta, UniqueAndSortPath) {
  EXPECT_EQ(unique_and_sort_path("5 2 5 9"), " 2 5 9");
  EXPECT_EQ(unique_and_sort_path(""), "");
  EXPECT_EQ(unique_and_sort_path("10 9"), " 9 10");   // numeric, not text order
}

TEST(Hta, SpearmanTiesValuesWithTheSameIntegerPart) {
  // No ties at integer level: the value R's cor(method = "spearman") gives.
  arma::vec x{3.2, -1.5, 7.9, 0.4, 12.1, 5.5, -4.2, 9.3};
  arma::vec y{10, 4, 2, 8.8, 1, 6.5, 3.3, 12};
  EXPECT_NEAR(corr_sprm(x, y), -0.095238095238095247, 1e-14);
  // 1.2 and 1.7 tie; R: cor(rank(floor(x)), rank(y)).
  EXPECT_NEAR(corr_sprm(arma::vec{1.2, 1.7, 3, 5, 4.1}, arma::vec{2, 1, 3, 4, 5}),
              0.87208159927238105, 1e-14);
  std::mt19937 g(5);
  for (int rep = 0; rep < 20; ++rep) {
    std::vector<double> a, b;
    for (int i = 0; i < 15; ++i) {
      a.push_back(double(int(g() % 21) - 10) + 0.25 * (g() % 4));
      b.push_back(double(g() % 7));
    }
    EXPECT_NEAR(corr_sprm(arma::vec(a), arma::vec(b)), spearman_floor(a, b), 1e-12);
  }
  EXPECT_TRUE(std::isnan(corr_sprm(arma::vec{1, 1.5, 1.9}, arma::vec{1, 2, 3})));
  EXPECT_TRUE(std::isnan(corr_sprm(arma::vec{1}, arma::vec{2})));
}

// ---- model --------------------------------------------------------------------------

TEST(Hta, ShapesAndPeriodsWithoutTrafficOrConversions) {
  Hta h = example();
  Out o = run(h);
  ASSERT_EQ(o.conv.n_rows, 4u);
  ASSERT_EQ(o.conv.n_cols, 3u);
  EXPECT_EQ(arma::accu(arma::abs(o.conv.row(0))), 0.0);   // no traffic can land in period 0
  EXPECT_TRUE(o.value.is_empty());
  EXPECT_TRUE(o.vy.empty() && o.vx.empty());
  EXPECT_TRUE(std::isnan(o.auc));
  h.vc = {5, 0, 7, 20};
  h.MT(0, 0) = 100;
  EXPECT_EQ(arma::accu(arma::abs(run(h).conv.row(1))), 0.0);   // no conversions
}

TEST(Hta, SameSeedSameResult) {
  Hta h = example();
  Out a = run(h), b = run(h);
  EXPECT_TRUE(arma::approx_equal(a.conv, b.conv, "absdiff", 0.0));
  h.seed = 12;
  EXPECT_FALSE(arma::approx_equal(a.conv, run(h).conv, "absdiff", 1e-12));
}

TEST(Hta, ZeroClickThroughIsNeverAttributed) {
  Hta h = example();
  h.vctr = {0.6, 0, 0.5};
  for (int tw : {0, 1}) {
    h.type_worth = tw;
    Out o = run(h);
    EXPECT_EQ(arma::accu(arma::abs(o.conv.col(1))), 0.0);
    EXPECT_GT(arma::accu(o.conv.col(0)), 0.0);
  }
}

TEST(Hta, AmpleTrafficAttributesEveryConversion) {
  // Every touch converts, so every converting journey is touched and each
  // period's attribution adds up to its conversions, in every worth mode.
  Hta h = example();
  h.cr = 0.2;
  h.vcr = {1, 1, 1};
  h.vctr = {1, 1, 1};
  for (int tw : {0, 1, 3}) {
    h.type_worth = tw;
    Out o = run(h);
    for (uli t = 0; t < 4; ++t) EXPECT_NEAR(arma::accu(o.conv.row(t)), double(h.vc[t]), 1e-9);
  }
}

TEST(Hta, ValuePerConversion) {
  Hta h = example();
  h.vv = {50, 120, 0, 400};
  Out o = run(h);
  ASSERT_EQ(o.value.n_rows, 4u);
  EXPECT_EQ(arma::accu(arma::abs(o.value.row(0))), 0.0);   // no conversions: 0, not NaN
  EXPECT_TRUE(arma::approx_equal(o.value.row(1), o.conv.row(1) * 10, "absdiff", 1e-12));
  EXPECT_TRUE(arma::approx_equal(o.value.row(3), o.conv.row(3) * 20, "absdiff", 1e-12));
}

TEST(Hta, RateCapAndProgressLines) {
  Hta h;
  h.vc = {40, 50};
  h.MT = arma::Mat<uli>{{20, 10}, {30, 10}};
  h.vctr = {1, 1};
  h.vadstock = {0, 0};
  h.nsim = 1;
  h.verbose = 1;
  h.mean_cj_length = 1e-9;   // no lag: traffic stays in its period
  std::ostringstream os;
  set_console_stream(&os);
  run(h);
  set_console_stream(nullptr);
  const std::string text = os.str();
  // 90 conversions over 0.5 * 70 = 35 journeys.
  EXPECT_NE(text.find("Estimated global conversion rate = 257.14%\n"
                      "Conversion rate has been reduced to = 50.00%\n"),
            std::string::npos) << text;
  EXPECT_NE(text.find("Move Traffic part 1: | Simulation: 1/1; Time: 2/2; Channel: 1/2\n"),
            std::string::npos);
  EXPECT_NE(text.find("Move Traffic part 2: | Simulation: 1/1; Time: 1/2; Channel: 2/2\n"),
            std::string::npos);
  EXPECT_NE(text.find("Generate Paths | Simulation: 1/1; Time: 2/2\n"), std::string::npos);
  EXPECT_EQ(text.find("ROC"), std::string::npos);
}

TEST(Hta, SeparatingChannelsGiveAPerfectCurve) {
  // Channel 0 always converts, channel 1 never: a journey converts exactly
  // when it holds channel 0.
  Hta h;
  h.vc = {30, 40, 35};
  h.MT = arma::Mat<uli>{{200, 400}, {250, 500}, {220, 450}};
  h.cr = 0.1;
  h.vcr = {1, 0};
  h.vctr = {1, 1};
  h.vadstock = {0, 0};
  h.flg_roc = 1;
  h.nsim = 3;
  h.roc_npt = 8;
  Out o = run(h);
  ASSERT_EQ(o.vy.size(), 8u);
  ASSERT_EQ(o.vx.size(), 8u);
  EXPECT_NEAR(o.auc, 1.0, 1e-12);
  EXPECT_EQ(o.vx.back(), 0.0);
  h.flg_type_roc = 1;
  o = run(h);
  EXPECT_NEAR(o.auc, 1.0, 1e-12);   // precision 1 at every recall
}

TEST(Hta, BadArgumentsAreClearErrors) {
  Hta h = example();
  h.vc = {1, 2, 3};
  expect_invalid([&] { run(h); }, "vc has 3 entries but MT has 4 rows");
  h = example();
  h.vv = {1};
  expect_invalid([&] { run(h); }, "vv has 1 entries");
  h = example();
  h.vctr = {0.5, 0.5};
  expect_invalid([&] { run(h); }, "vctr has 2 entries but MT has 3 columns");
  h = example();
  h.vadstock = {0, 0, 0, 0};
  expect_invalid([&] { run(h); }, "vadstock");
  h = example();
  h.cr = 0.1;
  expect_invalid([&] { run(h); }, "vcr has 0 entries");
  h.vcr = {0.1, 1.5, 0};
  expect_invalid([&] { run(h); }, "vcr[2] must be a probability");
  h = example();
  h.cr = 1.2;
  expect_invalid([&] { run(h); }, "cr must be");
  h = example();
  h.vctr = {0.5, -0.1, 0};
  expect_invalid([&] { run(h); }, "vctr[2]");
  h = example();
  h.vadstock = {0, 0, std::nan("")};
  expect_invalid([&] { run(h); }, "vadstock[3]");
  h = example();
  h.nsim = 0;
  expect_invalid([&] { run(h); }, "nsim");
  h = example();
  h.mean_cj_length = 0;
  expect_invalid([&] { run(h); }, "mean_cj_length");
  h = example();
  h.flg_roc = 1;
  h.roc_npt = 0;
  expect_invalid([&] { run(h); }, "roc_npt");
  h.roc_npt = 5;
  h.perc_test = 2;
  expect_invalid([&] { run(h); }, "perc_test");
  h.perc_test = 0.5;
  h.flg_type_roc = 2;
  expect_invalid([&] { run(h); }, "flg_type_roc");
  h = example();
  h.type_worth = 9;
  expect_invalid([&] { run(h); }, "type_worth");
}

}  // namespace

namespace {

TEST(Hta, InlinedUniformDrawsWhatTheSharedOneDraws) {
  std::mt19937 a(99), b(99);
  std::uniform_real_distribution<double> uniform;
  for (int i = 0; i < 200000; ++i) ASSERT_EQ(hta_canonical(a), uniform(b)) << "draw " << i;
  // Words near the top: the result stays below 1.
  std::mt19937 c(7);
  for (int i = 0; i < 1000; ++i) EXPECT_LT(hta_canonical(c), 1.0);
}

}  // namespace
