#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>

#include "helpers.h"
#include "journeys/journeys.h"

namespace {

using SV = std::vector<std::string>;

// split, parse_stoul, parse_stod and normalise_blanks are checked against
// reference implementations by fuzz/fuzz_strings.cpp.
TEST(Strings, SplitsAndCollapse) {
  EXPECT_EQ(split2("3,0,12", ','), (std::vector<uli>{3, 0, 12}));
  EXPECT_THROW(split2("1,a", ','), std::invalid_argument);
  EXPECT_EQ(split_string("5", 2), (std::vector<sli>{5, -1}));   // padded with -1
  EXPECT_EQ(split_string("0 1 2", 3), (std::vector<sli>{0, 1, 2}));
  EXPECT_EQ(collapse_vec_to_str({3, 0, -1}), "3 0 -1");
  const SV names{"b", "a", "b", "c"};
  EXPECT_EQ(unique_mp(&names), (std::map<std::string, uli>{{"b", 0}, {"a", 1}, {"c", 2}}));
}

TEST(Strings, ChannelRules) {
  std::vector<std::string_view> m;
  channels_markov("a> >b > paid  search", '>', &m);
  EXPECT_EQ(SV(m.begin(), m.end()), (SV{"a", "b", "paid  search"}));   // inner runs kept
  channels_markov(" > ", '>', &m);
  EXPECT_TRUE(m.empty());
  SV n;
  channels_normalised("paid  search > a>", '>', &n);
  EXPECT_EQ(n, (SV{"paid search", "a"}));
  channels_normalised("a>>b", '>', &n);
  EXPECT_EQ(n, (SV{"a", "", "b"}));
}

TEST(Strings, PercentIsFloored) {
  const std::vector<std::pair<double, std::string>> cases = {
      {1.0, "100.00"}, {0.99999, "99.99"}, {0.05, "5.00"}, {0.1234, "12.34"},
      {0.0123, "1.23"}, {5.0, "500.00"},   {0.0, "0.00"}};
  for (const auto& c : cases) EXPECT_EQ(f_print_perc(c.first), c.second) << c.first;
}

TEST(Masking, PinnedOffsetsAndRoundTrip) {
  // Masked vectors cross sessions and platforms: the offsets are fixed
  // forever (glibc's rand() after srand(5281946)).
  std::vector<double> w(4, 0.0);
  hide_index(&w);
  EXPECT_EQ(w, (std::vector<double>{78307, 910266, 931878, 185828}));
#ifdef __GLIBC__
  std::vector<double> many(50000, 0.0);
  hide_index(&many);
  std::srand(5281946);
  for (double x : many) ASSERT_EQ(x, std::rand() % 1000000);
#endif
  const std::vector<double> v{0.25, 1.5, 0.0, 3.75, 1e-3};
  w = v;
  hide_index(&w);
  unhide_index(&w);
  for (size_t k = 0; k < v.size(); ++k) EXPECT_NEAR(w[k], v[k], 1e-9);
}

TEST(Console, SeedSinkAndInterruptHook) {
  gb::reseed(42);
  const double a = gb::uniform(gb::engine);
  gb::reseed(42 + (uli{1} << 32));   // reduced modulo 2^32
  EXPECT_EQ(a, gb::uniform(gb::engine));
  {
    tl_test::Console console;
    printA("- step");
    EXPECT_EQ(console.os.str(), "- step\n");
  }
  static int calls = 0;
  check_interrupt();   // no hook: nothing happens
  set_interrupt_hook([] { ++calls; throw std::runtime_error("interrupted"); });
  EXPECT_THROW(check_interrupt(), std::runtime_error);
  set_interrupt_hook(nullptr);
  check_interrupt();
  EXPECT_EQ(calls, 1);
}

}  // namespace
