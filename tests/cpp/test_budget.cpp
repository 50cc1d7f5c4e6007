#include <gtest/gtest.h>

#include "budget/budget.h"
#include "helpers.h"

namespace {

typedef std::vector<std::string> strs;
typedef std::vector<double> dbls;

struct Budget {
  strs channel;
  dbls budget;
};

Budget allocate(strs ac, dbls aconv, dbls aval, strs cc, dbls cval, strs ic, dbls index_plain,
                double total = 1000, double reall = 0.2, double minp = 0.1) {
  hide_index(&index_plain);   // a model hands its index back masked
  BudgetResult r = budget_run({ac, aconv, aval, cc, cval, ic, index_plain}, {total, reall, minp});
  return Budget{std::move(r.channels), std::move(r.budget)};
}

void expect_budget(const Budget& b, const strs& channel, const dbls& budget) {
  EXPECT_EQ(b.channel, channel);
  ASSERT_EQ(b.budget.size(), budget.size());
  for (size_t k = 0; k < budget.size(); ++k) EXPECT_NEAR(b.budget[k], budget[k], 1e-9) << channel[k];
}

// Costs 60 : 40: 70 % of 1000 stays in that split, the 10 % floor is shared
// equally, the 20 % moved goes 3 : 1.
TEST(Budget, IndexMovesTheReallocatedPart) {
  const dbls want = {0.7 * 600 + 50 + 150, 0.7 * 400 + 50 + 50};
  expect_budget(allocate({"A", "B"}, {5, 7}, {}, {"A", "B"}, {60, 40}, {"A", "B"}, {3, 1, 0.5}),
                {"A", "B"}, want);
  // Rows in another order follow their channel; duplicates are summed.
  expect_budget(allocate({"A", "B"}, {5, 7}, {}, {"B", "A"}, {40, 60}, {"B", "A"}, {1, 3, 0.5}),
                {"A", "B"}, want);
  expect_budget(allocate({"B", "A", "B"}, {2, 7, 3}, {}, {"A", "B", "A", "B"}, {30, 20, 30, 20},
                         {"A", "B", "A"}, {1, 1, 2, 0.5}),
                {"B", "A"}, {want[1], want[0]});
}

TEST(Budget, NoCostsFollowConversions) {
  // Current split 3 : 1 : 1 from conversions, the moved part 1 : 1 : 2 by index.
  expect_budget(allocate({"A", "B", "C"}, {30, 10, 10}, {}, {}, {}, {"A", "B", "C"}, {2, 2, 4, 0}),
                {"A", "B", "C"}, {420 + 100 / 3.0 + 50, 140 + 100 / 3.0 + 50, 140 + 100 / 3.0 + 100});
}

TEST(Budget, ValueBasedReturn) {
  // A: 10 conversions worth 100 on cost 50; B: 5 worth 100 on cost 200.
  const double ra = (100 + 10 * 10.0) / (50 + 10 * 10.0), rb = (100 + 10 * 20.0) / (200 + 10 * 20.0);
  expect_budget(allocate({"A", "B"}, {10, 5}, {100, 100}, {"A", "B"}, {50, 200}, {}, {0}), {"A", "B"},
                {0.7 * 200 + 50 + 200 * ra / (ra + rb), 0.7 * 800 + 50 + 200 * rb / (ra + rb)});
}

TEST(Budget, ErrorTable) {
  tl_test::expect_errors({
      {"attributed channel 'B' has no row in vcost_channels",
       [] { allocate({"A", "B"}, {1, 1}, {}, {"A"}, {10}, {"A", "B"}, {1, 1, 0}); }},
      {"cost channel 'Z' has no row in vattr_channels",
       [] { allocate({"A"}, {1}, {}, {"A", "Z"}, {10, 5}, {"A"}, {1, 0}); }},
      {"attributed channel 'B' has no entry in vindex_channels",
       [] { allocate({"A", "B"}, {1, 1}, {}, {}, {}, {"A"}, {1, 0}); }},
      {"vattr_channels has 2 entries but vattr_conversions has 1",
       [] { allocate({"A", "B"}, {1}, {}, {}, {}, {"A", "B"}, {1, 1, 0}); }},
      {"vindex_value must hold one entry per vindex_channels entry plus the mean index: 1 entries for 1 channels",
       [] { allocate({"A"}, {1}, {}, {}, {}, {"A"}, {1}); }},
      {"min_share must be a number from 0 to 1 - reallocate",
       [] { allocate({"A"}, {1}, {}, {}, {}, {"A"}, {1, 0}, 1000, 0.7, 0.4); }},
  });
}

}  // namespace
