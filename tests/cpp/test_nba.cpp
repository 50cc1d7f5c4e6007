#include <gtest/gtest.h>

#include <cmath>

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

}  // namespace
