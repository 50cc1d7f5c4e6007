// The unified model: event tables to journeys, the reward model on
// per-period data, and their combination with the Markov model.
#include <gtest/gtest.h>

#include "helpers.h"
#include "uam/uam.h"

namespace {

using namespace tl_test;
typedef std::vector<std::string> strs;
typedef std::vector<uli> ulis;
typedef std::vector<double> dbls;
const std::string kConv = "(conv)";

struct Transposed { strs channels, paths; ulis conv, null; std::vector<ulis> ids; uli nchannels = 99; };

Transposed transpose(ulis id, strs ch) {
  Transposed t;
  uli n = id.size();
  std::string conv = kConv, sep = " ";
  std::map<std::string, uli> mp;
  transpose_paths(&n, &ch, &id, &conv, &sep, &t.channels, &t.nchannels, &t.paths, &t.conv,
                  &t.null, &mp, &t.ids);
  return t;
}

std::map<std::string, double> reward(dbls conv, std::vector<dbls> touches, strs names, double icr = 0.01) {
  std::map<std::string, double> w;
  int verbose = 0;
  reward_model(&conv, &touches, &verbose, names.size(), &names, icr, conv.size(), &w);
  return w;
}

TEST(TransposePaths, WorkedTable) {
  Transposed t = transpose({1, 1, 1, 2, 3, 3, 3, 4, 4, 4}, {"A", "B", kConv, "B", "A", "B", kConv, "A", kConv, "C"});
  EXPECT_EQ(t.channels, (strs{"A", "B", "C"}));
  EXPECT_EQ(t.nchannels, 3u);
  EXPECT_EQ(t.paths, (strs{"1 2", "2", "1 3"}));   // the last row decides the ending
  EXPECT_EQ(t.conv, (ulis{2, 0, 0}));
  EXPECT_EQ(t.null, (ulis{0, 1, 1}));
  EXPECT_EQ(t.ids, (std::vector<ulis>{{0, 2}, {1}, {3}}));
  t = transpose({1, 2, 2, 1}, {"A", "B", "C", "D"});   // only a rising identifier splits
  EXPECT_EQ(t.paths, (strs{"1", "2 3 4"}));
}

TEST(RewardModel, WorkedPeriods) {
  EXPECT_EQ(reward({10, 14}, {{100, 50}, {300, 40}}, {"A", "B"}),
            (std::map<std::string, double>{{"A", 1.0}, {"B", 0.0}}));
  // step 1: conversions -4, A explains -0.5 -> worth 1; B rises -> nothing
  // step 2: conversions +6, A explains +3 -> worth 3; B explains +10 -> worth 6
  auto w = reward({14, 10, 16}, {{200, 0}, {150, 100}, {450, 1100}}, {"A", "B"});
  EXPECT_DOUBLE_EQ(w.at("A"), 0.4);
  EXPECT_DOUBLE_EQ(w.at("B"), 0.6);
  // Two columns named A: rewards 2 and 4 summed, divided once per listing.
  w = reward({10, 14}, {{100, 50, 0}, {300, 40, 1000}}, {"A", "B", "A"});
  EXPECT_EQ(w.size(), 2u);
  EXPECT_DOUBLE_EQ(w.at("A"), 6.0 / 6 / 6);
  EXPECT_EQ(error_of([] { reward({10}, {{1, 2}}, {"A", "B"}); }).substr(0, 47),
            "the reward model needs at least two periods: it");
  // Conversions rise while every channel falls: nothing earns a reward.
  EXPECT_EQ(error_of([] { reward({10, 14}, {{100, 50}, {50, 40}}, {"A", "B"}); }).substr(0, 37),
            "the reward model found no step betwee");
  EXPECT_EQ(error_of([] { reward({}, {}, {"A"}); }), "the aggregated table has no periods: at least one is needed");
}

struct UamIn {
  int flg_path = 0;
  uli periods = 0;   // 0: as many as conversions
  ulis id;
  strs channel;
  strs aggr = {"A", "B", "C"};
  std::vector<int> types = {1, 1, 0};
  dbls conversions = {10, 14, 12, 20};
  std::vector<dbls> clicks = {{10, 5, 3}, {30, 4, 4}, {20, 6, 2}, {40, 9, 5}};
  std::vector<dbls> ctr = std::vector<dbls>(4, dbls(3, 0.1));
  uli order = 1, nsim = 20000, max_step = 0, ncore = 1, nfold = 4, seed = 7;
  double conv_par = 0.05, rate = 1.5;
  int verbose = 0;
};

struct UamOut { dbls vindex; std::vector<dbls> Mattr; };

UamOut run_uam(UamIn in) {
  const strs times(in.periods ? in.periods : in.conversions.size(), "2026-01-01");
  UamSettings s;
  s.flg_path = in.flg_path;
  s.markov.order = in.order, s.markov.nsim_start = in.nsim, s.markov.max_step = in.max_step;
  s.markov.ncore = in.ncore, s.markov.nfold = in.nfold, s.markov.seed = in.seed;
  s.markov.conv_par = in.conv_par, s.markov.rate_step_sim = in.rate;
  s.verbose = in.verbose;
  UamResult r = uam_run({in.id, strs(in.id.size(), "t"), in.channel, {}, kConv, in.aggr, in.types,
                         times, times, in.conversions, in.clicks, {}, {}, in.ctr},
                        s);
  return UamOut{std::move(r.vindex), std::move(r.Mattr)};
}

// Journeys of one channel each, so each journey's conversions stay with
// its channel: A 3 converting and 1 not, B 1 converting and 3 not.
void single_channel_journeys(UamIn* in) {
  for (uli id = 1; id <= 8; ++id) {
    in->id.push_back(id), in->channel.push_back(id <= 4 ? "A" : "B");
    if (id <= 3 || id == 5) in->id.push_back(id), in->channel.push_back(kConv);
  }
}

// Impressions are clicks over the click-through rate; icr the conversions
// per mean channel impressions; touches the impressions summed as whole
// numbers; the reward weights of the impressions.
struct ByHand {
  std::vector<dbls> imp;
  double icr = 0;
  dbls touches;
  std::map<std::string, double> w;
  explicit ByHand(const UamIn& in) : imp(in.clicks) {
    double simp = 0;
    for (size_t j = 0; j < imp.size(); ++j)
      for (size_t i = 0; i < imp[j].size(); ++i) simp += imp[j][i] = in.ctr[j][i] > 0 ? imp[j][i] / in.ctr[j][i] : 0;
    icr = total_of(in.conversions) / (simp / static_cast<double>(in.aggr.size()));
    touches.assign(in.aggr.size(), 0);
    for (size_t i = 0; i < in.aggr.size(); ++i)
      for (size_t j = 0; j < imp.size(); ++j) touches[i] = std::floor(touches[i] + imp[j][i]);
    w = reward(in.conversions, imp, in.aggr, icr);
  }
};

// Each period's conversions go to the channels by their weight per
// impression times their conversions, at least one, when they had any.
TEST(Uam, RewardWeightsAloneAndTheFloorOfOneConversion) {
  UamIn in;
  in.clicks[2][2] = 0.5;   // 5 impressions: well below one conversion
  in.ctr[1][1] = 0;        // no rate: no impressions, no share
  const UamOut o = run_uam(in);
  const ByHand h(in);
  ASSERT_EQ(o.vindex.size(), 3u);
  for (size_t i = 0; i < 3; ++i) EXPECT_DOUBLE_EQ(o.vindex[i], h.w.at(in.aggr[i]) / h.touches[i]);
  ASSERT_EQ(o.Mattr.size(), 4u);
  ASSERT_LT(h.imp[2][2] * h.icr, 1.0);
  for (size_t j = 0; j < 4; ++j) {
    dbls a(3, 0.0);
    double s = 0;
    for (size_t i = 0; i < 3; ++i) {
      const double c = std::min(h.imp[j][i] * h.icr, in.conversions[j]);
      s += a[i] = c > 0 ? std::max(c, 1.0) * o.vindex[i] : 0;
    }
    for (size_t i = 0; i < 3; ++i) EXPECT_NEAR(o.Mattr[j][i], a[i] / s * in.conversions[j], 1e-9) << j << " " << i;
  }
  EXPECT_EQ(o.Mattr[1][1], 0.0);
  single_channel_journeys(&in);   // ignored unless flg_path is 1
  in.flg_path = 2;
  EXPECT_EQ(run_uam(in).vindex, o.vindex);
}

// Journey channels that all click, or none of them (type 2), share their
// joint reward by conversions. Some clicking (type 1): by reward times the
// conversion probability through the channel (3/4 for A, 1/4 for B).
TEST(Uam, JourneyChannelsShareTheirJointReward) {
  for (const std::vector<int>& types : {std::vector<int>{1, 1, 0}, {0, 0, 1}, {1, 0, 0}}) {
    const bool mixed = types[0] != types[1];
    UamIn in;
    in.flg_path = 1;
    in.types = types;
    single_channel_journeys(&in);
    if (mixed) in.nsim = 200000, in.conv_par = 0.01;   // a sampling error well inside 2 %
    const UamOut o = run_uam(in);
    const ByHand h(in);
    const double s = h.w.at("A") + h.w.at("B");
    const double a = mixed ? h.w.at("A") * 0.75 : 0.75, b = mixed ? h.w.at("B") * 0.25 : 0.25;
    EXPECT_NEAR(o.vindex[0] * h.touches[0], s * a / (a + b), 0.02 * s) << types[0] << types[1];
    EXPECT_NEAR(o.vindex[1] * h.touches[1], s * b / (a + b), 0.02 * s) << types[0] << types[1];
    EXPECT_DOUBLE_EQ(o.vindex[2] * h.touches[2], h.w.at("C"));
  }
}

#define CHANGE(...) [](UamIn & in) { __VA_ARGS__; }

TEST(Uam, ErrorsNameTheTable) {
  const std::vector<std::pair<std::function<void(UamIn&)>, std::string>> cases = {
      {CHANGE(in.ctr.pop_back()), "tab_ctr_ctr has 3 rows, fewer than the 4 periods"},
      {CHANGE(for (auto& r : in.ctr) r.pop_back()), "tab_ctr_ctr has 2 columns, fewer than the 3 channels in vchannels_aggr"},
      {CHANGE(in.clicks[1].push_back(1)), "tab_aggr_touches has 4 columns for 3 channels in vchannels_aggr"},
      {CHANGE(in.clicks.pop_back()), "tab_aggr_touches has 3 rows for 4 periods"},
      {CHANGE(in.conversions.push_back(3), in.periods = 4), "tab_aggr_conversions has 5 periods, tab_aggr_time_from_str 4"},
      {CHANGE(in.conversions.clear(), in.clicks.clear(), in.ctr.clear()),
       "tab_aggr_time_from_str is empty: at least one period is needed"},
      {CHANGE(in.clicks[0][0] = -5),
       "tab_aggr_touches: period 1, channel 'A' gives impressions that are negative, NA or too large"},
      {CHANGE(in.flg_path = 1, in.types = {1}, single_channel_journeys(&in)),
       "vtype_channels_aggr has 1 entries for 3 channels in vchannels_aggr"},
  };
  for (const auto& [change, message] : cases) {
    UamIn in;
    change(in);
    EXPECT_EQ(error_of([&] { run_uam(in); }), message);
  }
}

}  // namespace
