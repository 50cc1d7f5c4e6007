#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <random>

#include "nba/nba.h"

namespace {

struct Table {
  std::vector<std::string> from;
  std::vector<uli> to;
  std::vector<double> value;
  std::vector<std::string> channels{"a", "b", "c"};
};

struct Suggestion { std::string action; double rate; std::vector<double> rates; };

Suggestion suggest(std::string path, Table t) {
  Suggestion s;
  std::string sep = ">";
  next_best_action_cpp(&path, &sep, &t.from, &t.to, &t.value, &t.channels, &s.action, &s.rate, &s.rates);
  return s;
}

TEST(NextBestAction, UnknownHistoryGivesLastChannelAtZero) {
  Suggestion s = suggest("x > y", {{"0"}, {1}, {0.3}});
  EXPECT_EQ(s.action, "c");
  EXPECT_EQ(s.rate, 0.0);
  EXPECT_EQ(s.rates, (std::vector<double>{0, 0, 0}));
}

TEST(NextBestAction, WholeHistoryThenSuffixes) {
  // history "0 1" knows channel 2; the suffix "1" knows channel 0 better.
  Table t{{"0 1", "1", "1"}, {2, 0, 2}, {0.4, 0.6, 0.1}};
  Suggestion s = suggest(" a > b ", t);
  EXPECT_EQ(s.action, "a");
  EXPECT_EQ(s.rate, 0.6);
  EXPECT_EQ(s.rates, (std::vector<double>{0.6, 0.0, 0.4}));
}

TEST(NextBestAction, TiesGoToTheLaterChannel) {
  Suggestion s = suggest("a", {{"0", "0"}, {0, 1}, {0.5, 0.5}});
  EXPECT_EQ(s.action, "b");
}

TEST(NextBestAction, UnknownChannelsAreDroppedBeforeMatching) {
  // "a > zz > b" is matched as "0 1"
  Suggestion s = suggest("a > zz > b", {{"0 1"}, {2}, {0.9}});
  EXPECT_EQ(s.action, "c");
  EXPECT_EQ(s.rate, 0.9);
}

TEST(NextBestAction, LongJourneyMatchedThroughItsSuffix) {
  Suggestion s = suggest("a > b > c > a", {{"2 0"}, {1}, {0.7}});
  EXPECT_EQ(s.action, "b");
  EXPECT_EQ(s.rate, 0.7);
}

TEST(NextBestAction, LaterRowOverwritesAndBadTablesAreRejected) {
  EXPECT_EQ(suggest("a", {{"0", "0"}, {1, 1}, {0.9, 0.2}}).rates[1], 0.2);
  Table empty{{}, {}, {}, {}};
  EXPECT_THROW(suggest("a", empty), std::invalid_argument);
  EXPECT_THROW(suggest("a", {{"0", "0"}, {1}, {0.9, 0.2}}), std::invalid_argument);
  EXPECT_THROW(suggest("a", {{"0"}, {3}, {0.9}}), std::invalid_argument);
}

// Scores the whole history and every suffix in turn, building each suffix
// key from scratch: the plain reading of the rule, quadratic in the length.
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
      double rate = 0;
      if (row != rows.end() && row->second.count(i)) rate = row->second.at(i);
      if (rate >= s.rate) { s.rate = rate; best = i; }
      s.rates[i] = std::max(s.rates[i], rate);
    }
  }
  s.action = t.channels[best];
  return s;
}

TEST(NextBestAction, LongJourneysAgreeWithScoringEverySuffix) {
  std::mt19937 g(17);
  for (int rep = 0; rep < 200; ++rep) {
    Table t;
    const size_t nrow = 1 + g() % 6;
    for (size_t r = 0; r < nrow; ++r) {
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
    Suggestion fast = suggest(text, t), slow = suggest_brute(path, t);
    EXPECT_EQ(fast.action, slow.action) << text;
    EXPECT_EQ(fast.rate, slow.rate) << text;
    EXPECT_EQ(fast.rates, slow.rates) << text;
  }
}

TEST(NextBestAction, VeryLongJourneyEndsQuickly) {
  std::string path = "a";
  for (int j = 0; j < 200000; ++j) path += j % 2 ? " > a" : " > b";
  Suggestion s = suggest(path, {{"1 0", "0"}, {2, 1}, {0.7, 0.2}});
  EXPECT_EQ(s.action, "c");
  EXPECT_EQ(s.rate, 0.7);
}

}  // namespace
