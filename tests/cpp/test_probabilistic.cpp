// The simple probabilistic model and the additive hazard model: worked
// journeys, conservation of the totals, errors.
#include <gtest/gtest.h>

#include <cmath>

#include "hazard/hazard.h"
#include "helpers.h"
#include "probabilistic/probabilistic.h"

namespace {

using namespace tl_test;

TEST(Probabilistic, WorkedJourneys) {
  // a: 3 of 6 journeys convert (1/2); b: 2 of 6 (1/3); a with b: 2 of 4
  // (1/2). Contributions: a = 1/2 + (1/2 - 1/2 - 1/3) / 2 = 1/3, b = 1/3 -
  // 1/6 = 1/6. The repeated a of the last path counts once.
  const Journeys j{{"a", "b", "a > b > a"}, {1, 0, 2}, {1, 2, 2}, {0, 0, 10}};
  const ProbabilisticResult r = probabilistic_run(j.source(), {});
  EXPECT_EQ(r.vchannels, (std::vector<std::string>{"a", "b"}));
  expect_close(r.vrate, {0.5, 1.0 / 3});
  expect_close(r.vcontribution, {1.0 / 3, 1.0 / 6});
  expect_close(r.vattr_convs, {1 + 4.0 / 3, 2.0 / 3});   // a alone, then 2 split 2:1
  expect_close(r.vattr_value, {20.0 / 3, 10.0 / 3});
  EXPECT_EQ(r.vpair_a, std::vector<uli>{0});
  EXPECT_EQ(r.vpair_b, std::vector<uli>{1});
  expect_close(r.vpair_rate, {0.5});
}

TEST(Probabilistic, NegativeAndZeroContributions) {
  // b never converts alone and spoils a's rate with it: its contribution is
  // negative, so a takes all of the pair's conversions. Channels that never
  // convert (contributions 0) split a journey's value evenly.
  const Journeys j{{"a", "b", "a > b", "x > y"}, {9, 0, 1, 0}, {1, 10, 9, 5}, {}};
  const ProbabilisticResult r = probabilistic_run(j.source(), {});
  EXPECT_LT(r.vcontribution[1], 0);
  expect_close(r.vattr_convs, {10, 0, 0, 0});
  const Journeys z{{"x > y"}, {0}, {2}, {6}};
  expect_close(probabilistic_run(z.source(), {}).vattr_value, {3, 3});
}

AdditiveHazardResult hazard(const Journeys& j, const std::vector<std::string>& days) {
  AdditiveHazardSettings s;
  s.vdays = &days;
  return additive_hazard_run(j.source(), s);
}

TEST(AdditiveHazard, WorkedJourneys) {
  // Delays (days + 0.5): a 2.5, b 0.5 and 1.5, so a decays at 0.4 a day and
  // b at 1. The first journey splits as 0.4 e^-1 : e^-0.5. The non-converting
  // journey (c) neither counts for the rates nor gets credit.
  const Journeys j{{"a > b", "b", "c > b"}, {1, 1, 0}, {}, {4, 0, 0}};
  const AdditiveHazardResult r = hazard(j, {"2 > 0", " 1 ", "9 > 9"});
  EXPECT_EQ(r.vchannels, (std::vector<std::string>{"a", "b", "c"}));
  expect_close(r.vmean_days, {2.5, 1.0, 0});
  expect_close(r.vrate, {0.4, 1.0, 0});
  const double sa = 0.4 * std::exp(-1.0) / (0.4 * std::exp(-1.0) + std::exp(-0.5));
  expect_close(r.vattr_convs, {sa, 2 - sa, 0});
  expect_close(r.vattr_value, {4 * sa, 4 * (1 - sa), 0});
  // Touches whose hazard terms underflow (rates near 0.29 a day, 3,000
  // days back) still take their journey's conversion.
  const Journeys far{{"a", "b", "a > b"}, {1000, 1000, 1}, {}, {}};
  const AdditiveHazardResult rf = hazard(far, {"0", "0", "3000 > 3001"});
  EXPECT_GT(rf.vattr_convs[0], 1000);
  EXPECT_GT(rf.vattr_convs[1], 1000);
  EXPECT_NEAR(total_of(rf.vattr_convs), 2001, 1e-9);
}

TEST(ProbabilisticModels, Errors) {
  const Journeys j{{"a > b"}, {1}, {}, {}};
  const std::vector<std::string> d2 = {"1 > 2"}, d1 = {"1"}, dneg = {"1 > -2"}, dtext = {"1 > x"},
                                 dtwo = {"1 > 2", "3"};
  tl_test::expect_errors({
      {"the probabilistic model needs the nulls column (journeys that did not convert)",
       [&] { probabilistic_run(j.source(), {}); }},
      {"the additive hazard model needs the days column",
       [&] { additive_hazard_run(j.source(), {}); }},
      {"row 1: the path has 2 channels but days lists 1", [&] { hazard(j, d1); }},
      {"row 1: days \"-2\" is not a number of days >= 0", [&] { hazard(j, dneg); }},
      {"row 1: days \"x\" is not a number of days >= 0", [&] { hazard(j, dtext); }},
      {"days: 2 rows for 1 journeys", [&] { hazard(j, dtwo); }},
  });
  EXPECT_NO_THROW(hazard(j, d2));
}

}  // namespace
