#include <gtest/gtest.h>

#include <functional>

#include <numeric>
#include <random>

#include "budget/budget.h"

namespace {

typedef std::vector<std::string> strs;
typedef std::vector<double> dbls;

struct Budget {
  strs channel;
  dbls budget;
};

Budget allocate(strs ac, dbls aconv, dbls aval, strs cc, dbls cval, strs ic, dbls index_plain,
                double total = 1000, double reall = 0.2, double minp = 0.1) {
  Budget b;
  hide_index(&index_plain);   // a model hands its index back masked
  markov_budget_allocation_cpp(&ac, &aconv, &aval, &cc, &cval, &ic, &index_plain, &total, &reall,
                               &minp, &b.channel, &b.budget);
  return b;
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

TEST(GroupBy, SumsInOrderOfFirstAppearance) {
  strs c = {"b", "a", "b", "c", "a"};
  dbls x = {1, 2, 3, 4, 5}, y = {10, 20, 30, 40, 50}, xu, yu;
  std::map<std::string, uli> mp;
  std::map<uli, std::string> inv;
  sum_groupby_channel(&c, &x, &y, &xu, &yu, &mp, &inv);
  EXPECT_EQ(xu, (dbls{4, 7, 4}));
  EXPECT_EQ(yu, (dbls{40, 70, 40}));
  EXPECT_EQ(mp.at("b"), 0u);
  EXPECT_EQ(inv.at(2), "c");
  dbls empty, xu2, yu2;
  mp.clear();
  inv.clear();
  sum_groupby_channel(&c, &x, &empty, &xu2, &yu2, &mp, &inv);
  EXPECT_TRUE(yu2.empty());
  dbls shortx = {1, 2};
  EXPECT_THROW(sum_groupby_channel(&c, &shortx, &empty, &xu2, &yu2, &mp, &inv),
               std::invalid_argument);
}

TEST(Budget, IndexBasedWithCosts) {
  Budget b = allocate({"A", "B"}, {5, 7}, {}, {"A", "B"}, {60, 40}, {"A", "B"}, {3, 1, 0.5});
  EXPECT_EQ(b.channel, (strs{"A", "B"}));
  ASSERT_EQ(b.budget.size(), 2u);
  EXPECT_NEAR(b.budget[0], 620, 1e-9);
  EXPECT_NEAR(b.budget[1], 380, 1e-9);
}

TEST(Budget, CostRowsInAnotherOrderFollowTheirChannel) {
  Budget b = allocate({"A", "B"}, {5, 7}, {}, {"B", "A"}, {40, 60}, {"B", "A"}, {1, 3, 0.5});
  EXPECT_NEAR(b.budget[0], 620, 1e-9);
  EXPECT_NEAR(b.budget[1], 380, 1e-9);
}

TEST(Budget, DuplicatesAreSummed) {
  Budget b = allocate({"A", "B", "A"}, {2, 7, 3}, {}, {"A", "B", "A", "B"}, {30, 20, 30, 20},
                      {"A", "B", "A"}, {1, 1, 2, 0.5});
  EXPECT_NEAR(b.budget[0], 620, 1e-9);
  EXPECT_NEAR(b.budget[1], 380, 1e-9);
}

TEST(Budget, NoCostsFollowConversions) {
  // current split 3:1 from conversions, moved part 1:1 from the index
  Budget b = allocate({"A", "B"}, {30, 10}, {}, {}, {}, {"A", "B"}, {2, 2, 0});
  EXPECT_NEAR(b.budget[0], 0.7 * 750 + 50 + 100, 1e-9);
  EXPECT_NEAR(b.budget[1], 0.7 * 250 + 50 + 100, 1e-9);
}

TEST(Budget, ValueBasedReturn) {
  // A: 10 conversions worth 100 on cost 50; B: 5 worth 100 on cost 200
  Budget b = allocate({"A", "B"}, {10, 5}, {100, 100}, {"A", "B"}, {50, 200}, {}, {0});
  double ra = (100 + 10 * 10.0) / (50 + 10 * 10.0), rb = (100 + 10 * 20.0) / (200 + 10 * 20.0);
  EXPECT_NEAR(b.budget[0], 0.7 * 200 + 50 + 200 * ra / (ra + rb), 1e-9);
  EXPECT_NEAR(b.budget[1], 0.7 * 800 + 50 + 200 * rb / (ra + rb), 1e-9);
}

TEST(Budget, PartsAddUpToTheBudget) {
  std::mt19937 g(3);
  std::uniform_real_distribution<double> u(0.5, 10);
  strs ch = {"a", "b", "c", "d", "e"};
  strs ac, cc;
  dbls conv, val, cost;
  for (int i = 0; i < 40; ++i) {
    ac.push_back(ch[i % 5]);
    conv.push_back(u(g));
    val.push_back(10 * u(g));
    cc.push_back(ch[(i * 3) % 5]);
    cost.push_back(100 * u(g));
  }
  Budget b = allocate(ac, conv, val, cc, cost, {}, {0}, 5000, 0.3, 0.05);
  EXPECT_NEAR(std::accumulate(b.budget.begin(), b.budget.end(), 0.0), 5000, 1e-6);
}

TEST(Budget, MismatchesAreNamed) {
  expect_error_mentions([] { allocate({"A", "B"}, {1, 1}, {}, {"A"}, {10}, {"A", "B"}, {1, 1, 0}); },
                        "attributed channel 'B' has no row in vcost_channels");
  expect_error_mentions([] { allocate({"A"}, {1}, {}, {"A", "Z"}, {10, 5}, {"A"}, {1, 0}); },
                        "cost channel 'Z' has no row in vattr_channels");
  expect_error_mentions([] { allocate({"A", "B"}, {1, 1}, {}, {}, {}, {"A"}, {1, 0}); },
                        "attributed channel 'B' has no entry in vindex_channels");
  expect_error_mentions([] { allocate({"A", "B"}, {1}, {}, {}, {}, {"A", "B"}, {1, 1, 0}); },
                        "vattr_channels has 2 entries but vattr_conversions has 1");
  expect_error_mentions([] { allocate({"A"}, {1}, {1, 2}, {"A"}, {1}, {}, {0}); },
                        "vattr_value has 2");
  expect_error_mentions([] { allocate({"A"}, {1}, {}, {"A"}, {1, 2}, {"A"}, {1, 0}); },
                        "vcost_value has 2");
  expect_error_mentions([] { allocate({"A"}, {1}, {}, {}, {}, {"A"}, {1}); },
                        "plus the mean index");
}
