#include <cstdlib>
#include <gtest/gtest.h>

#include <regex>

#include "common/common.h"
#include "journeys/journeys.h"

namespace {

using SV = std::vector<std::string>;

void expect_split(const std::string& s, char d, const SV& want) { EXPECT_EQ(split(s, d), want) << "'" << s << "'"; }

TEST(Strings, SplitLikeAStream) {
  expect_split("a,b", ',', {"a", "b"});
  expect_split("a,,b", ',', {"a", "", "b"});
  expect_split("a,b,", ',', {"a", "b"});     // trailing separator adds nothing
  expect_split("", ',', {});
  expect_split(",", ',', {""});
  expect_split(",a", ',', {"", "a"});
  expect_split("a,,", ',', {"a", ""});
}

TEST(Strings, Split2AndStoulRule) {
  EXPECT_EQ(split2("3,0,12", ','), (std::vector<uli>{3, 0, 12}));
  EXPECT_EQ(parse_stoul(" 2.7"), 2u);
  EXPECT_EQ(parse_stoul("7\r"), 7u);
  EXPECT_EQ(parse_stoul("+4"), 4u);
  EXPECT_THROW(parse_stoul("x1"), std::invalid_argument);
  EXPECT_THROW(parse_stoul(""), std::invalid_argument);
  EXPECT_THROW(parse_stoul("99999999999999999999999"), std::out_of_range);
  EXPECT_THROW(split2("1,a", ','), std::invalid_argument);
  EXPECT_DOUBLE_EQ(parse_stod(" 1.5e1x"), 15.0);
  EXPECT_THROW(parse_stod(""), std::invalid_argument);
  EXPECT_THROW(parse_stod("abc"), std::invalid_argument);
}

TEST(Strings, SplitStringPadsWithMinusOne) {
  EXPECT_EQ(split_string("5", 2), (std::vector<sli>{5, -1}));
  EXPECT_EQ(split_string("3 0", 3), (std::vector<sli>{3, 0, -1}));
  EXPECT_EQ(split_string("0 1 2", 3), (std::vector<sli>{0, 1, 2}));
  EXPECT_EQ(collapse_vec_to_str({3, 0, -1}), "3 0 -1");
  EXPECT_EQ(collapse_vec_to_str({}), "");
}

// The hand-written normalisation must equal the regular expression it
// replaces, on every string over a small alphabet.
TEST(Strings, NormaliseBlanksMatchesRegex) {
  const std::regex re("^ +| +$|( ) +");
  const char alphabet[] = {' ', 'a', 'b'};
  for (int len = 0; len <= 7; ++len) {
    int total = 1;
    for (int k = 0; k < len; ++k) total *= 3;
    for (int code = 0; code < total; ++code) {
      std::string s;
      for (int k = 0, c = code; k < len; ++k, c /= 3) s.push_back(alphabet[c % 3]);
      EXPECT_EQ(normalise_blanks(s), std::regex_replace(s, re, "$1")) << "'" << s << "'";
    }
  }
}

TEST(Strings, ChannelRules) {
  std::vector<std::string_view> m;
  channels_markov("display > search >email", '>', &m);
  EXPECT_EQ(SV(m.begin(), m.end()), (SV{"display", "search", "email"}));
  channels_markov("a>>b", '>', &m);
  EXPECT_EQ(SV(m.begin(), m.end()), (SV{"a", "b"}));
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

TEST(Masking, PinnedOffsetsAndRoundTrip) {
  // Masked vectors cross sessions and platforms: the offsets are fixed
  // forever (the first ones are glibc's rand() after srand(5281946)).
  std::vector<double> w(4, 0.0);
  hide_index(&w);
  EXPECT_EQ(w, (std::vector<double>{78307, 910266, 931878, 185828}));
#ifdef __GLIBC__
  std::vector<double> many(50000, 0.0);
  hide_index(&many);
  std::srand(5281946);
  for (double x : many) ASSERT_EQ(x, std::rand() % 1000000);
#endif
  std::vector<double> v{0.25, 1.5, 0.0, 3.75, 1e-3};
  w = v;
  hide_index(&w);
  unhide_index(&w);
  for (size_t k = 0; k < v.size(); ++k) EXPECT_NEAR(w[k], v[k], 1e-9);
}

TEST(Random, SeedingIsReproducible) {
  gb::reseed(42);
  double a = gb::uniform(gb::engine);
  gb::reseed(42 + (1ul << 32));   // reduced modulo 2^32
  EXPECT_EQ(a, gb::uniform(gb::engine));
  std::mt19937 fresh;
  EXPECT_EQ(fresh(), 3499211612u);   // the standard default seed 5489
}

TEST(Containers, UniqueMapInOrderOfAppearance) {
  SV v{"b", "a", "b", "c"};
  auto mp = unique_mp(&v);
  EXPECT_EQ(mp.size(), 3u);
  EXPECT_EQ(mp["b"], 0u);
  EXPECT_EQ(mp["a"], 1u);
  EXPECT_EQ(mp["c"], 2u);
}

}  // namespace
