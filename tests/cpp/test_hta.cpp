#include <gtest/gtest.h>

#include <cmath>

#include "helpers.h"
#include "hta/hta.h"

namespace {

struct Hta {
  std::vector<uli> vc;
  arma::Mat<uli> MT;
  std::vector<double> vv, vcr, vctr, vadstock;
  double cr = 0, mean_cj_length = 2, perc_test = 0.3;
  uli nsim = 2, seed = 11, roc_npt = 10;
  int type_worth = 0, verbose = 0, flg_roc = 0, flg_type_roc = 0;
};

struct Out {
  arma::mat conv, value;
  std::vector<double> vy, vx;
  double auc = 0;
};

Out run(const Hta& h) {
  HtaResult r = hta_run({h.vc, h.vv, h.MT, h.vcr, h.vctr, h.vadstock},
                        {h.cr, h.mean_cj_length, h.nsim, h.seed, h.type_worth, h.verbose,
                         h.flg_roc, h.flg_type_roc, h.perc_test, h.roc_npt});
  return Out{std::move(r.conversions), std::move(r.value), std::move(r.roc_y),
             std::move(r.roc_x), r.auc};
}

// Four periods, three channels, ample traffic.
Hta example() {
  Hta h;
  h.vc = {0, 12, 7, 20};
  h.MT = arma::Mat<uli>{{0, 0, 0}, {300, 120, 80}, {150, 0, 90}, {400, 200, 100}};
  h.vctr = {0.6, 0.4, 0.5}, h.vadstock = {0.2, 0, 0.1};
  return h;
}

// One touch point per period that always converts: every simulated journey
// is a single touch of channel 0, and journeys lag only when asked to.
Hta single_touch(uli periods) {
  Hta h;
  h.vc.assign(periods, 1);
  h.MT = arma::Mat<uli>(periods, 1, arma::fill::zeros);
  h.MT(0, 0) = 1;
  h.cr = 1, h.vcr = {1}, h.vctr = {1}, h.vadstock = {0}, h.mean_cj_length = 1e-9;
  return h;
}

TEST(Hta, SpearmanTiesValuesWithTheSameIntegerPart) {
  // R: cor(rank(floor(x)), rank(floor(y))); 3.2 and 3.7 tie, as do -1.5 and -1.1.
  EXPECT_NEAR(corr_sprm(arma::vec{3.2, -1.5, 7.9, 0.4, 12.1, 5.5, -4.2, 9.3, 3.7, -1.1},
                        arma::vec{10, 4, 2, 8.8, 1, 6.5, 3.3, 12, 4, 7}),
              -0.079511075158568117, 1e-14);
  EXPECT_TRUE(std::isnan(corr_sprm(arma::vec{1, 1.5, 1.9}, arma::vec{1, 2, 3})));
}

TEST(Hta, LagsAreExponentialWithRateTwoOverTheJourneyLength) {
  // A unit lands lag = floor(Exp(2 / mean_cj_length)) periods later; a
  // period's one conversion is attributed when a unit lands in it.
  Hta h = single_touch(3);
  h.mean_cj_length = 2, h.nsim = 4000;   // rate 1
  const Out o = run(h);
  EXPECT_NEAR(o.conv(0, 0), 1 - std::exp(-1.0), 0.025);
  EXPECT_NEAR(o.conv(1, 0), std::exp(-1.0) - std::exp(-2.0), 0.025);
  EXPECT_NEAR(o.conv(2, 0), std::exp(-2.0) - std::exp(-3.0), 0.02);
}

TEST(Hta, SameSeedSameResultAndNoTrafficNoAttribution) {
  Hta h = example();
  const Out a = run(h), b = run(h);
  EXPECT_TRUE(arma::approx_equal(a.conv, b.conv, "absdiff", 0.0));
  EXPECT_EQ(arma::accu(arma::abs(a.conv.row(0))), 0.0);   // nothing lands in period 0
  EXPECT_TRUE(a.value.is_empty() && a.vy.empty() && std::isnan(a.auc));
  h.seed = 12;
  EXPECT_FALSE(arma::approx_equal(a.conv, run(h).conv, "absdiff", 1e-12));
  h.vctr = {0.6, 0, 0.5};   // channels never clicked are never attributed
  EXPECT_EQ(arma::accu(arma::abs(run(h).conv.col(1))), 0.0);
}

TEST(Hta, EveryConversionAttributedAndValuePerConversion) {
  Hta h = example();
  h.cr = 0.2, h.vcr = {1, 1, 1}, h.vctr = {1, 1, 1}, h.vv = {50, 120, 0, 400};
  for (int tw : {0, 1, 3}) {
    h.type_worth = tw;
    const Out o = run(h);
    for (uli t = 1; t < 4; ++t) EXPECT_NEAR(arma::accu(o.conv.row(t)), double(h.vc[t]), 1e-9);
    EXPECT_EQ(arma::accu(arma::abs(o.value.row(0))), 0.0);   // no conversions: 0, not NaN
    EXPECT_TRUE(arma::approx_equal(o.value.row(1), o.conv.row(1) * 10, "absdiff", 1e-12));
  }
}

TEST(Hta, EstimatedRateScalesChannelsByRankCorrelation) {
  // Conversions rise with channel 0, fall with channel 1 (factor 0: it never
  // converts) and ignore the constant channel 2 (no correlation: factor 1).
  Hta h;
  h.vc = {10, 20, 40};
  h.MT = arma::Mat<uli>{{100, 300, 100}, {200, 280, 100}, {400, 200, 100}};
  h.vctr = {1, 1, 1}, h.vadstock = {0, 0, 0}, h.mean_cj_length = 1e-9;
  const Out o = run(h);
  EXPECT_GT(arma::accu(o.conv.col(0)), 0.0);
  EXPECT_EQ(arma::accu(o.conv.col(1)), 0.0);
  EXPECT_GT(arma::accu(o.conv.col(2)), 0.0);
  h.type_worth = 3;   // the calibrated path attribution, not the Shapley totals
  EXPECT_FALSE(arma::approx_equal(run(h).conv, o.conv, "absdiff", 1e-6));
  // Carry-over: all of period 1's traffic comes back in period 2.
  Hta c = single_touch(2);
  c.vadstock = {1};
  EXPECT_EQ(run(c).conv(1, 0), 1.0);
}

TEST(Hta, RateCapAndProgressLines) {
  Hta h;
  h.vc = {40, 50};
  h.MT = arma::Mat<uli>{{20, 10}, {30, 10}};
  h.vctr = {1, 1}, h.vadstock = {0, 0}, h.nsim = 1, h.verbose = 1, h.mean_cj_length = 1e-9;
  tl_test::Console console;
  run(h);
  // 90 conversions over 0.5 * 70 journeys, capped at one half.
  const std::vector<std::string> lines = console.lines();
  ASSERT_EQ(lines.size(), 12u);   // part 1 by period then channel, part 2 by channel then period
  EXPECT_EQ(lines[1], "Move Traffic part 1: | Simulation: 1/1; Time: 1/2; Channel: 2/2");
  EXPECT_EQ(lines[5], "Move Traffic part 2: | Simulation: 1/1; Time: 2/2; Channel: 1/2");
  EXPECT_EQ(lines[8], "Estimated global conversion rate = 257.14%");
  EXPECT_EQ(lines[9], "Conversion rate has been reduced to = 50.00%");
  EXPECT_EQ(lines[11], "Generate Paths | Simulation: 1/1; Time: 2/2");
  // Just above one half is capped; one half exactly is not.
  for (auto c : {std::pair<std::vector<uli>, std::string>{{10, 9}, "52.77"}, {{10, 8}, "50.00"}}) {
    h.vc = c.first, h.MT(1, 1) = 12;   // 15 + 21 journeys
    console.os.str("");
    run(h);
    EXPECT_EQ(console.lines()[8], "Estimated global conversion rate = " + c.second + "%");
    EXPECT_EQ(console.lines().size(), c.second == "50.00" ? 11u : 12u);
  }
}

TEST(Hta, CurveAreaIsTheTrapezoidOfItsPoints) {
  // Channel 2 converts half the time, so the test keys are scored unevenly.
  Hta h;
  h.vc = {30, 40, 35};
  h.MT = arma::Mat<uli>{{60, 120, 90}, {80, 150, 60}, {70, 130, 80}};
  h.cr = 0.2, h.vcr = {1, 0, 0.5}, h.vctr = {1, 1, 1}, h.vadstock = {0, 0, 0};
  h.flg_roc = 1, h.nsim = 1, h.roc_npt = 8, h.perc_test = 0.5;   // the median of one curve is that curve
  for (int type : {0, 1}) {
    h.flg_type_roc = type;
    const Out o = run(h);
    ASSERT_EQ(o.vx.size(), 8u);
    double x_old = 1, y_old = type == 0 ? 1 : 0, area = 0;   // the curve's start
    bool inner = false;
    for (size_t k = 0; k < 8; ++k) {
      area += (x_old - o.vx[k]) * (y_old + o.vy[k]) / 2;
      x_old = o.vx[k], y_old = o.vy[k];
      inner = inner || (o.vx[k] > 0.05 && o.vx[k] < 0.95);
    }
    EXPECT_TRUE(inner) << "a curve with a point inside the square";
    EXPECT_NEAR(o.auc, area, 1e-12) << "type " << type;
  }
  h.vcr = {1, 0, 0}, h.nsim = 3, h.flg_type_roc = 0;   // channels that separate: a perfect curve
  EXPECT_NEAR(run(h).auc, 1.0, 1e-12);
}

TEST(Hta, MedianOfAnEvenNumberOfSimulationsIsTheMeanOfTheMiddleTwo) {
  // One journey per simulation: kept for training (no test data, area 1)
  // or drawn for the test (no training data, area 1/2).
  Hta h = single_touch(1);
  h.flg_roc = 1, h.perc_test = 0.5, h.nsim = 2;
  int mixed = 0;
  for (uli seed = 1; seed <= 16; ++seed) {
    h.seed = seed;
    const double auc = run(h).auc;
    EXPECT_TRUE(auc == 0.5 || auc == 0.75 || auc == 1) << auc;
    mixed += auc == 0.75;
  }
  EXPECT_GT(mixed, 0);
}

TEST(Hta, ErrorTable) {
  auto with = [](void (*edit)(Hta&)) { return [edit] { Hta h = example(); edit(h), run(h); }; };
  tl_test::expect_errors({
      {"vc has 3 entries but MT has 4 rows (periods)", with([](Hta& h) { h.vc = {1, 2, 3}; })},
      {"vctr has 2 entries but MT has 3 columns (channels)", with([](Hta& h) { h.vctr = {1, 1}; })},
      {"cr must be 0 (estimate it) or a probability in (0, 1], not 1.200000", with([](Hta& h) { h.cr = 1.2; })},
      {"vadstock[3] must be a probability in [0, 1], not nan",
       with([](Hta& h) { h.vadstock = {0, 0, std::nan("")}; })},
      {"type_worth must be 0, 1, 2, 3 or 4, not 9", with([](Hta& h) { h.type_worth = 9; })},
      {"period 2 would need 268435457 converting and 0 non-converting journeys, more than "
       "268435456 in all: vc is too large or cr too small for the traffic in MT",
       with([](Hta& h) { h.vc[1] = kHtaMaxJourneys + 1, h.cr = 1, h.vcr = {1, 1, 1}; })},
      {"cr = 0.000000 is too small for 12 conversions in period 2",
       with([](Hta& h) { h.cr = 1e-300, h.vcr = {0.1, 0.1, 0.1}; })},
      {"nsim = 89478486 simulations would keep more than 1073741824 results in memory: "
       "lower nsim (or roc_npt)",
       with([](Hta& h) { h.nsim = kHtaMaxKeptValues / 12 + 1; })},
  });
}

}  // namespace
