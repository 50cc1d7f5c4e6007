#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <sstream>

#include "uam/uam.h"

namespace {

typedef std::vector<std::string> strs;
typedef std::vector<uli> ulis;
typedef std::vector<double> dbls;

const std::string kConv = "(conv)";

struct Transposed {
  strs channels, paths;
  ulis conv, null;
  std::vector<ulis> ids;
  uli nchannels = 99;
};

Transposed transpose(ulis id, strs ch, std::string sep = " ") {
  Transposed t;
  uli n = id.size();
  std::string conv = kConv;
  std::map<std::string, uli> mp;
  transpose_paths(&n, &ch, &id, &conv, &sep, &t.channels, &t.nchannels, &t.paths, &t.conv,
                  &t.null, &mp, &t.ids);
  return t;
}

std::map<std::string, double> reward(dbls conv, std::vector<dbls> touches, strs names,
                                     double icr, int verbose = 0, std::string* console = nullptr) {
  std::map<std::string, double> w;
  std::ostringstream os;
  set_console_stream(&os);
  try {
    reward_model(&conv, &touches, &verbose, names.size(), &names, icr, conv.size(), &w);
  } catch (...) {
    set_console_stream(nullptr);
    throw;
  }
  set_console_stream(nullptr);
  if (console) *console = os.str();
  return w;
}

void expect_error_mentions(const std::function<void()>& f, const std::string& what) {
  try {
    f();
    ADD_FAILURE() << "no error, expected one mentioning " << what;
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find(what), std::string::npos) << e.what();
  }
}

}  // namespace

TEST(TransposePaths, Example) {
  Transposed t = transpose({1, 1, 1, 2, 3, 3, 3}, {"A", "B", kConv, "B", "A", "B", kConv});
  EXPECT_EQ(t.channels, (strs{"A", "B"}));
  EXPECT_EQ(t.nchannels, 2u);
  EXPECT_EQ(t.paths, (strs{"1 2", "2"}));
  EXPECT_EQ(t.conv, (ulis{2, 0}));
  EXPECT_EQ(t.null, (ulis{0, 1}));
  EXPECT_EQ(t.ids, (std::vector<ulis>{{0, 2}, {1}}));
}

TEST(TransposePaths, LastRowDecides) {
  Transposed t = transpose({5, 5, 5}, {"A", kConv, "C"});
  EXPECT_EQ(t.paths, (strs{"1 2"}));
  EXPECT_EQ(t.conv, (ulis{0}));
  EXPECT_EQ(t.null, (ulis{1}));
}

TEST(TransposePaths, OnlyARisingIdentifierSplits) {
  Transposed t = transpose({1, 2, 2, 1}, {"A", "B", "C", "D"});
  EXPECT_EQ(t.paths, (strs{"1", "2 3 4"}));
  EXPECT_EQ(t.ids, (std::vector<ulis>{{0}, {1}}));
}

TEST(TransposePaths, ConversionOnlyJourneysAndSeparator) {
  Transposed t = transpose({1, 2, 2, 3}, {kConv, kConv, "A", "A"}, ">");
  EXPECT_EQ(t.paths, (strs{"", "1"}));   // no separator before the first token
  EXPECT_EQ(t.conv, (ulis{1, 0}));
  EXPECT_EQ(t.null, (ulis{0, 2}));
  t = transpose({}, {});
  EXPECT_TRUE(t.paths.empty());
  EXPECT_EQ(t.nchannels, 0u);
  expect_error_mentions([] {
    Transposed u;
    uli n = 3;
    ulis id = {1, 2};
    strs ch = {"A", "B", "C"};
    std::string conv = kConv, sep = " ";
    std::map<std::string, uli> mp;
    transpose_paths(&n, &ch, &id, &conv, &sep, &u.channels, &u.nchannels, &u.paths, &u.conv,
                    &u.null, &mp, &u.ids);
  }, "identifier column 2");
}

TEST(TransposePaths, AgreesWithGroupingFirst) {
  std::mt19937 g(17);
  const strs pool = {"tv", "search", "mail", kConv, "social"};
  ulis id;
  strs ch;
  uli cur = 10;
  for (int r = 0; r < 3000; ++r) {
    if (g() % 4 == 0) cur += 1 + g() % 3;
    id.push_back(cur);
    ch.push_back(pool[g() % pool.size()]);
  }
  Transposed t = transpose(id, ch);
  // Independent: cut into journeys first, then name channels and count.
  std::map<std::string, uli> dict;
  std::map<std::string, std::pair<uli, uli>> counts;
  std::map<std::string, ulis> members;
  size_t start = 0;
  uli njourney = 0;
  for (size_t i = 0; i < id.size(); ++i) {
    if (i + 1 < id.size() && id[i + 1] == id[i]) continue;
    strs tokens;
    for (size_t k = start; k <= i; ++k) {
      if (ch[k] == kConv) continue;
      dict.emplace(ch[k], dict.size());
      tokens.push_back(std::to_string(dict[ch[k]] + 1));
    }
    std::string text;
    for (auto& tk : tokens) text += (text.empty() ? "" : " ") + tk;
    (ch[i] == kConv ? counts[text].first : counts[text].second)++;
    members[text].push_back(njourney++);
    start = i + 1;
  }
  ASSERT_EQ(t.paths.size(), counts.size());
  for (size_t p = 0; p < t.paths.size(); ++p) {
    EXPECT_EQ(t.conv[p], counts[t.paths[p]].first);
    EXPECT_EQ(t.null[p], counts[t.paths[p]].second);
    EXPECT_EQ(t.ids[p], members[t.paths[p]]);
  }
  for (auto& kv : dict) EXPECT_EQ(t.channels[kv.second], kv.first);
}

TEST(RewardModel, Example) {
  std::string console;
  auto w = reward({10, 14}, {{100, 50}, {300, 40}}, {"A", "B"}, 0.01, 1, &console);
  EXPECT_EQ(w.at("A"), 1.0);
  EXPECT_EQ(w.at("B"), 0.0);
  EXPECT_EQ(console, "- Calculate reward model on aggregated data\n");
  reward({10, 14}, {{100, 50}, {300, 40}}, {"A", "B"}, 0.01, 0, &console);
  EXPECT_EQ(console, "");
}

TEST(RewardModel, FallingTogetherAndFloorOfOne) {
  // step 1: conversions -4, A explains -0.5 -> worth 1; B rises -> nothing
  // step 2: conversions +6, A explains +3 -> worth 3; B explains +10 -> worth 6
  auto w = reward({14, 10, 16}, {{200, 0}, {150, 100}, {450, 1100}}, {"A", "B"}, 0.01);
  EXPECT_DOUBLE_EQ(w.at("A"), 4.0 / 10);
  EXPECT_DOUBLE_EQ(w.at("B"), 6.0 / 10);
}

TEST(RewardModel, WeightsSumToOne) {
  std::mt19937 g(5);
  std::uniform_real_distribution<double> u(0, 1000);
  dbls conv;
  std::vector<dbls> touches;
  strs names = {"a", "b", "c", "d", "e", "f"};
  for (int j = 0; j < 50; ++j) {
    conv.push_back(u(g) / 10);
    dbls row;
    for (size_t i = 0; i < names.size(); ++i) row.push_back(u(g));
    touches.push_back(row);
  }
  auto w = reward(conv, touches, names, 0.02);
  double s = 0;
  for (auto& kv : w) s += kv.second;
  EXPECT_NEAR(s, 1.0, 1e-12);
}

TEST(RewardModel, DuplicateNamesShareOneEntry) {
  // two columns named "A": rewards 2 and 4 (sworth 6 + B's 0) are summed,
  // then divided by sworth once per listing
  auto w = reward({10, 14}, {{100, 50, 0}, {300, 40, 1000}}, {"A", "B", "A"}, 0.01);
  EXPECT_EQ(w.size(), 2u);
  EXPECT_DOUBLE_EQ(w.at("A"), 6.0 / 6 / 6);
  EXPECT_EQ(w.at("B"), 0.0);
}

TEST(RewardModel, SinglePeriodAndNoPeriods) {
  auto w = reward({10}, {{1, 2}}, {"A", "B"}, 0.01);
  EXPECT_TRUE(std::isnan(w.at("A")));
  expect_error_mentions([] { reward({}, {}, {"A"}, 0.01); }, "no periods");
  expect_error_mentions([] { reward({1, 2}, {{1, 2}, {1}}, {"A", "B"}, 0.01); },
                        "period 2 hold 1 channels, not 2");
}

namespace {

struct UamIn {
  int flg_path = 0;
  ulis id;
  strs channel;
  strs aggr = {"A", "B", "C"};
  std::vector<int> types = {1, 1, 0};
  dbls conversions = {10, 14, 12, 20};
  std::vector<dbls> clicks = {{10, 5, 3}, {30, 4, 4}, {20, 6, 2}, {40, 9, 5}};
  std::vector<dbls> ctr = {{0.1, 0.1, 0.1}, {0.1, 0.1, 0.1}, {0.1, 0.1, 0.1}, {0.1, 0.1, 0.1}};
  uli order = 1, nsim = 20000, max_step = 0, ncore = 1, nfold = 4, seed = 7;
  double conv_par = 0.05, rate = 1.5;
  int verbose = 0;
};

struct UamOut {
  dbls vindex;
  std::vector<dbls> Mattr;
  std::string console;
};

UamOut run_uam(UamIn in) {
  UamOut o;
  strs times(in.conversions.size(), "2026-01-01"), path_times(in.id.size(), "t"), ctr_times;
  dbls costs;
  std::string conv = kConv;
  std::ostringstream os;
  set_console_stream(&os);
  try {
    uam_cpp(&in.flg_path, &in.id, &path_times, &in.channel, &costs, &conv, &in.order, &in.nsim,
            &in.max_step, &in.ncore, &in.nfold, &in.seed, &in.conv_par, &in.rate, &in.verbose,
            &in.aggr, &in.types, &times, &times, &in.conversions, &in.clicks, &ctr_times,
            &ctr_times, &in.ctr, &o.vindex, &o.Mattr);
  } catch (...) {
    set_console_stream(nullptr);
    throw;
  }
  set_console_stream(nullptr);
  o.console = os.str();
  return o;
}

// Journeys of one channel each: whatever the Markov weights, each journey's
// conversions stay with its channel, so the conversion shares are known.
// A: 3 converting, 1 not; B: 1 converting, 3 not.
void single_channel_journeys(UamIn* in) {
  const strs rows[] = {{"A", kConv}, {"A", kConv}, {"A", kConv}, {"A"},
                       {"B", kConv}, {"B"},        {"B"},        {"B"}};
  uli id = 1;
  for (const strs& r : rows) {
    for (const std::string& c : r) {
      in->id.push_back(id);
      in->channel.push_back(c);
    }
    ++id;
  }
}

// Reward weights and impression totals computed directly from the inputs.
std::map<std::string, double> reward_only(const UamIn& in, dbls* touches, double* icr) {
  std::vector<dbls> imp = in.clicks;
  double simp = 0, sconv = 0;
  for (size_t j = 0; j < imp.size(); ++j)
    for (size_t i = 0; i < imp[j].size(); ++i) {
      imp[j][i] = in.ctr[j][i] > 0 ? imp[j][i] / in.ctr[j][i] : 0;
      simp += imp[j][i];
    }
  for (double c : in.conversions) sconv += c;
  *icr = sconv / (simp / in.aggr.size());
  touches->assign(in.aggr.size(), 0);
  for (size_t i = 0; i < in.aggr.size(); ++i)
    for (size_t j = 0; j < imp.size(); ++j) (*touches)[i] = std::floor((*touches)[i] + imp[j][i]);
  return reward(in.conversions, imp, in.aggr, *icr);
}

}  // namespace

TEST(Uam, RewardWeightsAloneWithoutJourneys) {
  UamIn in;
  in.verbose = 1;
  UamOut o = run_uam(in);
  dbls touches;
  double icr;
  auto w = reward_only(in, &touches, &icr);
  ASSERT_EQ(o.vindex.size(), 3u);
  for (size_t i = 0; i < 3; ++i) EXPECT_DOUBLE_EQ(o.vindex[i], w[in.aggr[i]] / touches[i]);
  ASSERT_EQ(o.Mattr.size(), 4u);
  for (size_t j = 0; j < 4; ++j) {
    double s = 0;
    for (double x : o.Mattr[j]) s += x;
    EXPECT_NEAR(s, in.conversions[j], 1e-9);
  }
  EXPECT_EQ(o.console,
            "**UAM estimation**\n- Data Preparation\n- Calculate reward model on aggregated data\n"
            "- Perform attribution\n");
  // journeys are ignored unless flg_path is 1
  single_channel_journeys(&in);
  in.flg_path = 2;
  EXPECT_EQ(run_uam(in).vindex, o.vindex);
}

TEST(Uam, ZeroClickThroughRateGivesNoShare) {
  UamIn in;
  in.ctr[2][1] = 0;
  UamOut o = run_uam(in);
  EXPECT_EQ(o.Mattr[2][1], 0.0);
  EXPECT_GT(o.Mattr[1][1], 0.0);
}

TEST(Uam, AllClickJourneyChannelsShareByConversions) {
  UamIn in;
  in.flg_path = 1;
  in.verbose = 1;
  single_channel_journeys(&in);
  UamOut o = run_uam(in);
  dbls touches;
  double icr;
  auto w = reward_only(in, &touches, &icr);
  const double s = w["A"] + w["B"];
  EXPECT_NEAR(o.vindex[0] * touches[0], 0.75 * s, 1e-9);
  EXPECT_NEAR(o.vindex[1] * touches[1], 0.25 * s, 1e-9);
  EXPECT_DOUBLE_EQ(o.vindex[2] * touches[2], w["C"]);
  EXPECT_NE(o.console.find("- Calculate Markov model on customer journeys\n"
                           "- Combine reward model and Markov model\n- Perform attribution\n"),
            std::string::npos);
}

TEST(Uam, MixedJourneyChannelsScaleRewardByIndex) {
  UamIn in;
  in.flg_path = 1;
  in.types = {1, 0, 0};   // A clicks, B not: type 1
  in.nsim = 200000;
  in.conv_par = 0.01;
  single_channel_journeys(&in);
  UamOut o = run_uam(in);
  dbls touches;
  double icr;
  auto w = reward_only(in, &touches, &icr);
  // conversion probability through A is 3/4, through B 1/4
  const double a = w["A"] * 0.75, b = w["B"] * 0.25, s = w["A"] + w["B"];
  EXPECT_NEAR(o.vindex[0] * touches[0], s * a / (a + b), 0.02 * s);
  EXPECT_NEAR(o.vindex[1] * touches[1], s * b / (a + b), 0.02 * s);
  EXPECT_DOUBLE_EQ(o.vindex[2] * touches[2], w["C"]);
}

TEST(Uam, ShapesAndPeriodsAreChecked) {
  UamIn in;
  in.ctr.pop_back();
  expect_error_mentions([&] { run_uam(in); }, "tab_ctr_ctr has 3 rows, fewer than the 4 periods");
  in = UamIn();
  for (auto& r : in.ctr) r.pop_back();
  expect_error_mentions([&] { run_uam(in); }, "tab_ctr_ctr has 2 columns");
  in = UamIn();
  in.clicks[1].push_back(1);
  expect_error_mentions([&] { run_uam(in); }, "tab_aggr_touches has 4 columns for 3 channels");
  in = UamIn();
  in.clicks.pop_back();
  expect_error_mentions([&] { run_uam(in); }, "tab_aggr_touches has 3 rows for 4 periods");
  in = UamIn();
  in.conversions.clear();
  in.clicks.clear();
  in.ctr.clear();
  expect_error_mentions([&] { run_uam(in); }, "at least one period");
  in = UamIn();
  in.clicks[0][0] = -5;
  expect_error_mentions([&] { run_uam(in); }, "period 1, channel 'A'");
  in = UamIn();
  in.flg_path = 1;
  in.types = {1};
  single_channel_journeys(&in);
  expect_error_mentions([&] { run_uam(in); }, "vtype_channels_aggr has 1 entries");
}
