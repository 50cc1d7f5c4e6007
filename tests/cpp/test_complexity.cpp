#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <numeric>
#include <random>
#include <set>
#include <stdexcept>

#include "compare/compare.h"
#include "complexity/complexity.h"

namespace {

struct Described {
  uli nchannels = 0, nchannels_sim = 0;
  std::vector<uli> len;
};

Described describe(std::vector<std::string> vy, uli order, std::string sep = ">") {
  Described d;
  describe_complexity_cpp(&vy, &order, &sep, &d.nchannels, &d.nchannels_sim, &d.len);
  return d;
}

void expect_described(const std::vector<std::string>& vy, uli order, uli nchannels,
                      uli nchannels_sim, const std::vector<uli>& len) {
  Described d = describe(vy, order);
  EXPECT_EQ(d.nchannels, nchannels);
  EXPECT_EQ(d.nchannels_sim, nchannels_sim);
  EXPECT_EQ(d.len, len);
}

// Brute force over channel names: states are windows of names, journeys
// link their states, groups are the connected components, listed in order
// of the first journey that reaches them.
struct Oracle {
  uli nstates = 0;
  std::vector<uli> sizes;
};

Oracle oracle(const std::vector<std::vector<std::string>>& journeys, size_t k) {
  std::map<std::vector<std::string>, size_t> id;
  std::vector<std::vector<size_t>> per_journey;
  for (const auto& j : journeys) {
    std::vector<size_t> states;
    for (size_t s = 0; s < j.size(); ++s) {
      size_t e = std::min(j.size(), s + k);
      std::vector<std::string> w(j.begin() + s, j.begin() + e);
      states.push_back(id.emplace(w, id.size()).first->second);
      if (e == j.size()) break;
    }
    per_journey.push_back(states);
  }
  std::vector<size_t> parent(id.size());
  std::iota(parent.begin(), parent.end(), 0);
  auto find = [&](size_t x) {
    while (parent[x] != x) x = parent[x] = parent[parent[x]];
    return x;
  };
  for (const auto& st : per_journey)
    for (size_t s : st) parent[find(s)] = find(st[0]);
  std::map<size_t, uli> size_of;
  for (size_t s = 0; s < id.size(); ++s) ++size_of[find(s)];
  Oracle o;
  o.nstates = id.size();
  std::set<size_t> seen;
  for (const auto& st : per_journey) {
    if (st.empty()) continue;
    size_t r = find(st[0]);
    if (seen.insert(r).second) o.sizes.push_back(size_of[r]);
  }
  return o;
}

}  // namespace

TEST(Encoding, FirstOrderIndexPaths) {
  std::vector<std::string> vy = {"a > b > a", " b>>c ", "", " > "};
  std::map<std::string, uli> mp;
  std::vector<std::string> vch;
  uli n = 99, max_touches = 99;
  encoding_channels_cpp(&vy, ">", &mp, &vch, &n, &max_touches);
  EXPECT_EQ(vy, (std::vector<std::string>{"1 2 1", "2 3", "", ""}));
  EXPECT_EQ(vch, (std::vector<std::string>{"(start)", "a", "b", "c", "(conversion)", "(null)"}));
  EXPECT_EQ(n, 6u);
  EXPECT_EQ(max_touches, 3u);
  EXPECT_EQ(mp.at("(null)"), 5u);
  std::vector<std::string> none;
  encoding_channels_cpp(&none, ">", &mp, &vch, &n, &max_touches);
  EXPECT_EQ(n, 3u);
  EXPECT_EQ(max_touches, 0u);
  EXPECT_THROW(encoding_channels_cpp(&vy, "", &mp, &vch, &n, &max_touches), std::invalid_argument);
}

TEST(Complexity, KnownAnswers) {
  expect_described({"a > b", "c"}, 1, 6, 6, {2, 1});
  expect_described({"a > b", "c", "b > c"}, 1, 6, 6, {3, 0});   // merged into the lower id
  expect_described({"a > b", "c", "", "b > c"}, 1, 6, 6, {3, 0});
  expect_described({}, 1, 3, 3, {});
  expect_described({" > "}, 2, 3, 3, {});
  expect_described({" a>> b ", "a>b"}, 1, 5, 5, {2});
  // order 2: "a>b>c" gives "1 2", "2 3"; "c" gives "3"; "c>a" gives "3 1"
  expect_described({"a>b>c", "c", "c>a"}, 2, 6, 7, {2, 1, 1});
  expect_described({"a>b>c", "c", "c>a", "b>c>a"}, 2, 6, 7, {3, 1, 0});   // links "2 3" and "3 1" only
  // order above the journey length: one window holding the whole journey
  expect_described({"a>b", "a>b", "b>a"}, 5, 5, 5, {1, 1});
}

TEST(Complexity, ThreeGroupsMergedByOneJourney) {
  // groups 0 = {a}, 1 = {b}, 2 = {c}; "c > b > d" adds d to group 1 and
  // absorbs group 2; group 0 is untouched.
  expect_described({"a", "b", "c", "c > b > d"}, 1, 7, 7, {1, 3, 0});
}

TEST(Complexity, RejectsOrderZeroAndEmptySeparator) {
  EXPECT_THROW(describe({"a"}, 0), std::invalid_argument);
  EXPECT_THROW(describe({"a"}, 1, ""), std::invalid_argument);
}

TEST(Complexity, AgreesWithConnectedComponents) {
  std::mt19937 rng(20261206);
  const std::vector<std::string> names = {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k"};
  for (int rep = 0; rep < 40; ++rep) {
    std::uniform_int_distribution<int> nj(1, 60), len(0, 4), ch(0, static_cast<int>(names.size()) - 1);
    std::vector<std::string> vy;
    std::vector<std::vector<std::string>> journeys;
    const int n = nj(rng);
    for (int i = 0; i < n; ++i) {
      std::vector<std::string> j;
      std::string text;
      for (int t = len(rng); t > 0; --t) {
        j.push_back(names[ch(rng)]);
        text += (text.empty() ? "" : " > ") + j.back();
      }
      journeys.push_back(j);
      vy.push_back(text);
    }
    for (uli k = 1; k <= 3; ++k) {
      Described d = describe(vy, k);
      Oracle o = oracle(journeys, k);
      EXPECT_EQ(d.nchannels_sim, o.nstates + 3);
      std::vector<uli> nonzero;
      for (uli l : d.len) if (l) nonzero.push_back(l);
      EXPECT_EQ(nonzero, o.sizes) << "rep " << rep << " order " << k;
      EXPECT_EQ(std::accumulate(d.len.begin(), d.len.end(), uli{0}), o.nstates);
    }
  }
}
