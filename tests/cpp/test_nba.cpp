#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <random>

#include "helpers.h"
#include "nba/nba.h"

namespace {

struct Table {
  std::vector<std::string> from;
  std::vector<uli> to;
  std::vector<double> value;
  std::vector<std::string> channels{"a", "b", "c"};
};

struct Suggestion {
  std::string action;
  double rate;
  std::vector<double> rates;
};

Suggestion suggest(std::string path, Table t) {
  NbaPrediction p = nba_predict_run({0, t.channels, t.from, t.to, t.value}, path, {">"});
  return Suggestion{std::move(p.best_action), p.best_index, std::move(p.v_indices)};
}

// Every suffix scored with its key built from scratch: the plain reading
// of the rule (ties to the later channel and the shorter history).
Suggestion suggest_brute(const std::vector<uli>& path, const Table& t) {
  std::map<std::string, std::map<uli, double>> rows;
  for (size_t r = 0; r < t.from.size(); ++r) rows[t.from[r]][t.to[r]] = t.value[r];
  Suggestion s{"", -INFINITY, std::vector<double>(t.channels.size(), -INFINITY)};
  size_t best = 0;
  for (size_t k = 0; k < std::max<size_t>(path.size(), 1); ++k) {
    std::string key;
    for (size_t j = k; j < path.size(); ++j) key += (j > k ? " " : "") + std::to_string(path[j]);
    auto row = rows.find(key);
    for (size_t i = 0; i < t.channels.size(); ++i) {
      const double rate = row != rows.end() && row->second.count(i) ? row->second.at(i) : 0;
      if (rate >= s.rate) s.rate = rate, best = i;
      s.rates[i] = std::max(s.rates[i], rate);
    }
  }
  s.action = t.channels[best];
  return s;
}

// What the brute force below never meets: unknown channels, blanks and a
// repeated channel name.
TEST(NextBestAction, NamesOutsideTheTable) {
  EXPECT_EQ(suggest("x > y", {{"0"}, {1}, {0.3}}).rates, (std::vector<double>{0, 0, 0}));
  EXPECT_EQ(suggest(" a > zz > b ", {{"0 1"}, {2}, {0.9}}).rate, 0.9);        // unknown dropped
  EXPECT_EQ(suggest("a", {{"0"}, {1}, {0.9}, {"a", "b", "a"}}).action, "b");    // a name's first index
}

TEST(NextBestAction, AgreesWithScoringEverySuffix) {
  std::mt19937 g(17);
  for (int rep = 0; rep < 200; ++rep) {
    Table t;
    for (size_t r = 0, nrow = 1 + g() % 6; r < nrow; ++r) {
      std::string key;
      for (size_t j = 0, len = 1 + g() % 3; j < len; ++j) key += (j ? " " : "") + std::to_string(g() % 3);
      t.from.push_back(key);
      t.to.push_back(g() % 3);
      t.value.push_back(static_cast<double>(static_cast<int>(g() % 7) - 2) / 4);   // some negative
    }
    std::vector<uli> path;
    std::string text;
    for (size_t j = 0, len = g() % 12; j < len; ++j) {
      path.push_back(g() % 3);
      text += (j ? " > " : "") + t.channels[path.back()];
    }
    const Suggestion fast = suggest(text, t), slow = suggest_brute(path, t);
    EXPECT_EQ(fast.action, slow.action) << text;
    EXPECT_EQ(fast.rate, slow.rate) << text;
    EXPECT_EQ(fast.rates, slow.rates) << text;
  }
}

// Every journey through a then b converts and none through a then c: the
// order-2 table must say so whatever the simulation draws.
TEST(NextBestAction, TrainingTableFromSecondOrderStates) {
  std::vector<std::string> vy = {"a > b", "a > c", "b"};
  std::vector<uli> vc = {3, 0, 1}, vn = {0, 2, 1};
  NbaSettings s;
  s.max_order = 2;
  s.nsim_start = 5000;
  s.seed = 3;
  s.min_sample_index = 0;
  const NbaTable t = nba_train_run(vector_source(&vy, &vc, nullptr, &vn), s);
  const std::vector<std::string>& channels = t.vchannels;
  const std::vector<std::string>& from = t.v_index_from;
  const std::vector<uli>& to = t.v_index_to;
  const std::vector<double>& value = t.v_index_value;
  std::map<std::string, double> got;
  for (size_t i = 0; i < from.size(); ++i) got[channels[std::stoul(from[i])] + ">" + channels[to[i]]] = value[i];
  EXPECT_EQ(got, (std::map<std::string, double>{{"a>b", 1.0}, {"a>c", 0.0}}));
}

// A state's rate is its simulated share shrunk towards the overall rate by
// min_sample_index pseudo-counts: (T + m mean) / (n + m) for a state that
// n simulated journeys pass and T of them convert. The simulation does not
// depend on m, so the n implied by one m predicts the rate under another.
TEST(NextBestAction, RatesShrinkTowardsTheOverallRate) {
  struct Trained { std::map<std::string, double> rate; double mean = 0; };
  auto train = [](double m) {
    const std::vector<std::string> vy = {"a > b", "a > c", "b > c", "c"};
    const std::vector<uli> vc = {3, 0, 2, 1}, vn = {0, 2, 1, 4};
    NbaSettings s;
    s.max_order = 2, s.nsim_start = 5000, s.seed = 3, s.min_sample_index = m;
    const NbaTable nt = nba_train_run(vector_source(&vy, &vc, nullptr, &vn), s);
    Trained t;
    t.mean = nt.mean_index;
    for (size_t i = 0; i < nt.v_index_from.size(); ++i)
      t.rate[nt.vchannels[std::stoul(nt.v_index_from[i])] + ">" + nt.vchannels[nt.v_index_to[i]]] =
          nt.v_index_value[i];
    return t;
  };
  const Trained raw = train(0), one = train(4), many = train(60), all = train(1e12);
  ASSERT_GE(raw.rate.size(), 2u);
  EXPECT_GT(raw.mean, 0.3);
  EXPECT_LT(raw.mean, 0.7);
  for (const auto& kv : raw.rate) {
    const double r0 = kv.second, r4 = one.rate.at(kv.first), mean = one.mean;
    EXPECT_EQ(one.mean, raw.mean);
    ASSERT_GT(std::fabs(r0 - mean), 0.05) << kv.first;   // else n is ill-determined
    // r4 = (r0 n + 4 mean) / (n + 4)
    const double n = 4 * (mean - r4) / (r4 - r0);
    EXPECT_GT(n, 0) << kv.first;
    EXPECT_NEAR(many.rate.at(kv.first), (r0 * n + 60 * mean) / (n + 60), 1e-12) << kv.first;
    EXPECT_NEAR(all.rate.at(kv.first), mean, 1e-6) << kv.first;
  }
}

TEST(NextBestAction, ErrorTable) {
  tl_test::expect_errors({
      {"vchannels is empty: there is no channel to suggest", [] { suggest("a", {{}, {}, {}, {}}); }},
      {"the table columns path_from, channel_to and conversion_rate have 2, 1 and 2 rows; they must be equal", [] { suggest("a", {{"0", "0"}, {1}, {0.9, 0.2}}); }},
      {"channel_to 3 in row 1 is not a channel index (0 to 2)", [] { suggest("a", {{"0"}, {3}, {0.9}}); }},
  });
}

}  // namespace
