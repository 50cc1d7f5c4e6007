#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <random>

#include "helpers.h"
#include "mtammm/mtammm.h"

namespace {

typedef std::vector<std::string> strs;
typedef std::vector<double> dbls;

struct Mta {
  std::vector<uli> path;
  strs channel;
  dbls attr;
};

struct Combined {
  str_out_attr_combine_mta_mmm out;
  std::vector<std::string> lines;
};

Combined combine(const Mta& m, strs mc, dbls ma, strs pc, dbls pw, uli max_steps = 100,
                 double conv_rate = 0.001) {
  tl_test::Console console;
  Combined r;
  r.out = mtammm_run({m.path, m.channel, m.attr, mc, ma, pc, pw}, {max_steps, conv_rate, true});
  r.lines = console.lines();
  return r;
}

// Journeys of min_len..min_len+3 touch points over channels a..e, each
// journey's total split evenly.
Mta random_mta(unsigned seed, int njourneys, int min_len = 1) {
  std::mt19937 g(seed);
  Mta m;
  for (int j = 0; j < njourneys; ++j) {
    const int len = min_len + static_cast<int>(g() % 4);
    const double total = 1 + g() % 3;
    for (int k = 0; k < len; ++k) {
      m.path.push_back(static_cast<uli>(100 + 3 * j));
      m.channel.push_back(std::string(1, char('a' + g() % 5)));
      m.attr.push_back(total / len);
    }
  }
  return m;
}

template <class K>
std::map<K, double> totals(const std::vector<K>& key, const dbls& attr) {
  std::map<K, double> t;
  for (size_t i = 0; i < key.size(); ++i) t[key[i]] += attr[i];
  return t;
}

const strs kCh = {"a", "b", "c", "d", "e"};

TEST(MtaMmm, MendedFactors) {
  dbls f = {0, 2, INFINITY, NAN, 0.5};
  mend_corrfact(&f);
  EXPECT_EQ(f, (dbls{0.25, 2, 4, 4, 0.5}));
  f = {0, 0, INFINITY};   // no positive finite factor: journeys stay as they are
  mend_corrfact(&f);
  EXPECT_EQ(f, (dbls{1, 1, 1}));
}

TEST(MtaMmm, FullTrustOrProportionalMmmLeaveTheInput) {
  const Mta m = random_mta(1, 200);
  Combined r = combine(m, kCh, {5, 1, 1, 1, 1}, kCh, dbls(5, 1.0), 100, 0.5);
  for (size_t i = 0; i < m.attr.size(); ++i) EXPECT_NEAR(r.out.mta_attr_attr[i], m.attr[i], 1e-12);
  EXPECT_EQ(r.lines, std::vector<std::string>{"Step: 0 | Convergence: 0.00%"});
  EXPECT_EQ(r.out.mta_attr_channel, m.channel);
  EXPECT_EQ(r.out.mta_attr_path, dbls(m.path.begin(), m.path.end()));
  auto t = totals(m.channel, m.attr);
  strs mc = {"e", "c", "a", "b", "d"};   // any order
  dbls ma;
  for (auto& c : mc) ma.push_back(3 * t[c]);
  r = combine(m, mc, ma, kCh, dbls(5, 0.0));
  for (size_t i = 0; i < m.attr.size(); ++i) EXPECT_NEAR(r.out.mta_attr_attr[i], m.attr[i], 1e-9);
}

TEST(MtaMmm, JourneyTotalsKeptAndTheBlendReached) {
  const dbls ma = {10, 30, 20, 25, 15}, pw = {0.5, 0.2, 0.9, 0.0, 0.4};
  // Identifiers repeat apart: 7, 7, 8, 7 are three journeys.
  Mta m = random_mta(3, 400);
  m.path[1] = m.path[0];
  m.path[2] = 1;
  m.path[3] = m.path[0];
  for (uli steps : {0ul, 3ul, 200ul}) {
    Combined r = combine(m, kCh, ma, kCh, pw, steps, 0.01);
    std::vector<uli> journey(m.path.size());
    for (size_t i = 1; i < journey.size(); ++i) journey[i] = journey[i - 1] + (m.path[i] != m.path[i - 1]);
    auto before = totals(journey, m.attr), after = totals(journey, r.out.mta_attr_attr);
    for (auto& kv : before) EXPECT_NEAR(after[kv.first], kv.second, 1e-9) << "journey " << kv.first;
  }
  // Prior x MTA share + (1 - prior) x MMM share, scaled to the MTA total.
  m = random_mta(5, 400, 8);
  auto mta = totals(m.channel, m.attr);
  const double tot = tl_test::total_of(m.attr), smmm = tl_test::total_of(ma);
  Combined r = combine(m, kCh, ma, kCh, pw, 1000, 0.01);
  auto got = totals(r.out.mta_attr_channel, r.out.mta_attr_attr);
  dbls blend(5);
  for (size_t c = 0; c < 5; ++c) blend[c] = pw[c] * mta[kCh[c]] / tot + (1 - pw[c]) * ma[c] / smmm;
  const double sblend = tl_test::total_of(blend);
  for (size_t c = 0; c < 5; ++c) EXPECT_NEAR(got[kCh[c]], blend[c] / sblend * tot, 1e-4 * tot);
}

TEST(MtaMmm, StepLimitEndsWithPassNumberMaxStepsPlusOne) {
  // A blend far from the journeys: every pass improves but none converges.
  const Mta m = random_mta(4, 100, 3);
  for (uli steps : {0ul, 1ul, 4ul}) {
    Combined r = combine(m, kCh, {90, 1, 1, 1, 7}, kCh, dbls(5, 0.0), steps, 0.0);
    ASSERT_EQ(r.lines.size(), steps + 2) << "max_steps " << steps;
    EXPECT_EQ(r.lines.back().substr(0, 9), "Step: " + std::to_string(steps + 1) + " |");
  }
  // Without a limit the passes go on while each gains at least 0.001 points.
  EXPECT_EQ(combine(m, kCh, {90, 1, 1, 1, 7}, kCh, dbls(5, 0.0), 100000, 0.0).lines.size(), 7u);
  // Journeys of one touch point cannot move: the second pass, no better
  // than the first, stops the loop.
  Combined r = combine({{1, 2}, {"a", "b"}, {50, 50}}, {"a", "b"}, {52.5, 47.5}, {"a", "b"}, {0, 0});
  EXPECT_EQ(r.out.mta_attr_attr, (dbls{50, 50}));
  EXPECT_EQ(r.lines, (std::vector<std::string>{"Step: 0 | Convergence: 500.00%",
                                               "Step: 1 | Convergence: 500.00%"}));
}

TEST(MtaMmm, ZeroTargetKeepsMixedJourneysAlive) {
  // "b" gets no MMM share and no MTA trust: its factor 0 is replaced, so
  // journeys made mostly of "b" keep a share.
  Mta m{{1, 1, 2, 3}, {"a", "b", "b", "a"}, {1, 1, 2, 4}};
  Combined r = combine(m, {"a", "b"}, {1, 0}, {"a", "b"}, {0, 0}, 0, 0.0);
  EXPECT_GT(r.out.mta_attr_attr[1], 0);
  EXPECT_NEAR(r.out.mta_attr_attr[0] + r.out.mta_attr_attr[1], 2, 1e-12);
  EXPECT_EQ(r.out.mta_attr_attr[2], 2);
  EXPECT_TRUE(combine(Mta{}, {}, {}, {}, {}).out.mta_attr_attr.empty());
}

TEST(MtaMmm, ErrorTable) {
  const Mta m{{1, 1}, {"a", "b"}, {1, 1}};
  const strs ab = {"a", "b"};
  tl_test::expect_errors({
      {"mmm_attribution: channel 'z' does not occur in mta_path_attribution",
       [&] { combine(m, {"a", "b", "z"}, {1, 1, 1}, ab, {1, 1}); }},
      {"mmm_attribution: channel 'b' is missing", [&] { combine(m, {"a"}, {1}, ab, {1, 1}); }},
      {"prior_weights_mta: channel 'b' is listed twice", [&] { combine(m, ab, {1, 1}, {"b", "b"}, {1, 1}); }},
      {"prior_weights_mta: columns of different lengths (2 and 1)", [&] { combine(m, ab, {1, 1}, ab, {1}); }},
      {"mmm_attribution: the attributions must have a positive total", [&] { combine(m, ab, {0, 0}, ab, {1, 1}); }},
      {"mta_path_attribution: columns of different lengths (2 and 1)",
       [&] { combine({{1, 1}, {"a"}, {1, 1}}, {"a"}, {1}, {"a"}, {1}); }},
  });
}

}  // namespace
