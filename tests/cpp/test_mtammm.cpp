#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>
#include <random>
#include <sstream>

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
  std::string console;
};

Combined combine(const Mta& m, strs mc, dbls ma, strs pc, dbls pw, uli max_steps = 100,
            double conv_rate = 0.001, bool verbose = false) {
  std::ostringstream os;
  set_console_stream(&os);
  Combined r;
  try {
    r.out = combine_mta_mmm_cpp(m.path, m.channel, m.attr, mc, ma, pc, pw, max_steps, conv_rate,
                                verbose);
  } catch (...) {
    set_console_stream(nullptr);
    throw;
  }
  set_console_stream(nullptr);
  r.console = os.str();
  return r;
}

// Journeys of min_len..min_len+3 touch points over channels a..e, each
// journey's total split evenly.
Mta random_mta(unsigned seed, int njourneys, int min_len = 1) {
  std::mt19937 g(seed);
  const strs ch = {"a", "b", "c", "d", "e"};
  Mta m;
  for (int j = 0; j < njourneys; ++j) {
    int len = min_len + static_cast<int>(g() % 4);
    double total = 1 + g() % 3;
    for (int k = 0; k < len; ++k) {
      m.path.push_back(static_cast<uli>(100 + 3 * j));
      m.channel.push_back(ch[g() % ch.size()]);
      m.attr.push_back(total / len);
    }
  }
  return m;
}

std::map<uli, double> journey_totals(const std::vector<uli>& path, const dbls& attr) {
  std::map<uli, double> t;
  for (size_t i = 0; i < path.size(); ++i) t[path[i]] += attr[i];
  return t;
}

std::map<std::string, double> channel_totals(const strs& ch, const dbls& attr) {
  std::map<std::string, double> t;
  for (size_t i = 0; i < ch.size(); ++i) t[ch[i]] += attr[i];
  return t;
}

void expect_error_mentions(const std::function<void()>& f, const std::string& what) {
  try {
    f();
    ADD_FAILURE() << "no error, expected one mentioning " << what;
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find(what), std::string::npos) << e.what();
  }
}

const strs kCh = {"a", "b", "c", "d", "e"};

}  // namespace

TEST(MtaMmm, SumBy) {
  EXPECT_EQ(sum_by({1, 2, 3, 4}, {2, 0, 2, 0}), (dbls{6, 0, 4}));
  EXPECT_TRUE(sum_by({}, {}).empty());
}

TEST(MtaMmm, MendedFactors) {
  const double inf = INFINITY;
  dbls f = {0, 2, inf, NAN, 0.5};
  mend_corrfact(&f);
  EXPECT_EQ(f, (dbls{0.25, 2, 4, 4, 0.5}));
  f = {0, 0, inf};   // no positive finite factor: journeys stay as they are
  mend_corrfact(&f);
  EXPECT_EQ(f, (dbls{1, 1, 1}));
}

TEST(MtaMmm, FullMtaTrustLeavesInputUnchanged) {
  Mta m = random_mta(1, 200);
  Combined r = combine(m, kCh, {5, 1, 1, 1, 1}, kCh, dbls(5, 1.0), 100, 0.5, true);
  ASSERT_EQ(r.out.mta_attr_attr.size(), m.attr.size());
  for (size_t i = 0; i < m.attr.size(); ++i) EXPECT_NEAR(r.out.mta_attr_attr[i], m.attr[i], 1e-12);
  EXPECT_EQ(r.console, "Step: 0 | Convergence: 0.00%\n");   // one pass
  EXPECT_EQ(r.out.mta_attr_channel, m.channel);
  for (size_t i = 0; i < m.path.size(); ++i) EXPECT_EQ(r.out.mta_attr_path[i], m.path[i]);
}

TEST(MtaMmm, ProportionalMmmLeavesInputUnchanged) {
  Mta m = random_mta(2, 150);
  std::map<std::string, double> t = channel_totals(m.channel, m.attr);
  strs mc = {"e", "c", "a", "b", "d"};   // any order
  dbls ma;
  for (auto& c : mc) ma.push_back(3 * t[c]);
  Combined r = combine(m, mc, ma, kCh, dbls(5, 0.0));
  for (size_t i = 0; i < m.attr.size(); ++i) EXPECT_NEAR(r.out.mta_attr_attr[i], m.attr[i], 1e-9);
}

TEST(MtaMmm, JourneyTotalsKeptAndTargetsReached) {
  Mta m = random_mta(3, 400);
  dbls ma = {10, 30, 20, 25, 15}, pw = {0.5, 0.2, 0.9, 0.0, 0.4};
  for (uli steps : {0ul, 1ul, 3ul, 200ul}) {
    Combined r = combine(m, kCh, ma, kCh, pw, steps, 0.01);
    auto before = journey_totals(m.path, m.attr), after = journey_totals(m.path, r.out.mta_attr_attr);
    for (auto& kv : before) EXPECT_NEAR(after[kv.first], kv.second, 1e-9) << "journey " << kv.first;
  }
  // The blend computed here directly: prior x MTA share + (1 - prior) x MMM
  // share, scaled to the MTA total. Long journeys leave room to reach it.
  m = random_mta(5, 400, 8);
  auto mta = channel_totals(m.channel, m.attr);
  double tot = 0, smmm = 0;
  for (auto& kv : mta) tot += kv.second;
  for (double x : ma) smmm += x;
  Combined r = combine(m, kCh, ma, kCh, pw, 1000, 0.01);
  auto got = channel_totals(r.out.mta_attr_channel, r.out.mta_attr_attr);
  dbls blend(5);
  double sblend = 0, dev = 0;
  for (size_t c = 0; c < 5; ++c) {
    blend[c] = pw[c] * mta[kCh[c]] / tot + (1 - pw[c]) * ma[c] / smmm;
    sblend += blend[c];
  }
  for (size_t c = 0; c < 5; ++c) dev += std::fabs(got[kCh[c]] - blend[c] / sblend * tot);
  EXPECT_LT(100 * dev / tot, 0.01);
}

TEST(MtaMmm, SingleTouchJourneysAndProgressLines) {
  // Journeys of one touch point cannot move: the divergence stays at 5 %
  // and the second pass, with no improvement, stops the loop.
  Mta m{{1, 2}, {"a", "b"}, {50, 50}};
  Combined r = combine(m, {"a", "b"}, {52.5, 47.5}, {"a", "b"}, {0, 0}, 100, 0.0, true);
  EXPECT_EQ(r.out.mta_attr_attr, (dbls{50, 50}));
  EXPECT_EQ(r.console, "Step: 0 | Convergence: 500.00%\nStep: 1 | Convergence: 500.00%\n");
}

TEST(MtaMmm, StepLimit) {
  Mta m = random_mta(4, 100);
  Combined r = combine(m, kCh, {90, 1, 1, 1, 7}, kCh, dbls(5, 0.0), 0, 0.0, true);
  EXPECT_LE(std::count(r.console.begin(), r.console.end(), '\n'), 2);
}

TEST(MtaMmm, ZeroTargetKeepsMixedJourneysAlive) {
  // Channel "b" gets no MMM share and no MTA trust: its factor is 0, which
  // is replaced so that journeys made of "b" alone or mostly keep a share.
  Mta m{{1, 1, 2, 3}, {"a", "b", "b", "a"}, {1, 1, 2, 4}};
  Combined r = combine(m, {"a", "b"}, {1, 0}, {"a", "b"}, {0, 0}, 0, 0.0);
  EXPECT_GT(r.out.mta_attr_attr[1], 0);
  EXPECT_NEAR(r.out.mta_attr_attr[0] + r.out.mta_attr_attr[1], 2, 1e-12);
  EXPECT_EQ(r.out.mta_attr_attr[2], 2);
  EXPECT_EQ(r.out.mta_attr_attr[3], 4);
}

TEST(MtaMmm, IdentifierChangesSeparateJourneys) {
  // the same identifier twice, apart, gives two journeys with their own totals
  Mta m{{7, 7, 8, 7}, {"a", "b", "a", "b"}, {1, 1, 1, 1}};
  Combined r = combine(m, {"a", "b"}, {1, 3}, {"a", "b"}, {0, 0}, 10, 0.0);
  EXPECT_NEAR(r.out.mta_attr_attr[0] + r.out.mta_attr_attr[1], 2, 1e-12);
  EXPECT_EQ(r.out.mta_attr_attr[2], 1);
  EXPECT_EQ(r.out.mta_attr_attr[3], 1);
}

TEST(MtaMmm, TablesThatDoNotFitAreNamed) {
  Mta m{{1, 1}, {"a", "b"}, {1, 1}};
  expect_error_mentions([&] { combine(m, {"a", "b", "z"}, {1, 1, 1}, {"a", "b"}, {1, 1}); },
                        "mmm_attribution: channel 'z' does not occur in mta_path_attribution");
  expect_error_mentions([&] { combine(m, {"a"}, {1}, {"a", "b"}, {1, 1}); },
                        "mmm_attribution: channel 'b' is missing");
  expect_error_mentions([&] { combine(m, {"a", "b"}, {1, 1}, {"b", "b"}, {1, 1}); },
                        "prior_weights_mta: channel 'b' is listed twice");
  expect_error_mentions([&] { combine(m, {"a", "b"}, {1, 1}, {"a", "b"}, {1}); },
                        "prior_weights_mta: columns of different lengths");
  expect_error_mentions([&] { combine(m, {"a", "b"}, {0, 0}, {"a", "b"}, {1, 1}); },
                        "positive total");
  Mta bad{{1, 1}, {"a"}, {1, 1}};
  expect_error_mentions([&] { combine(bad, {"a"}, {1}, {"a"}, {1}); }, "mta_path_attribution");
}

TEST(MtaMmm, EmptyInput) {
  Combined r = combine(Mta{}, {}, {}, {}, {});
  EXPECT_TRUE(r.out.mta_attr_attr.empty());
}
