#include <gtest/gtest.h>

#include <map>
#include <numeric>
#include <random>
#include <set>

#include "complexity/complexity.h"
#include "helpers.h"

namespace {

struct Described {
  std::vector<std::string> encoded;
  uli nchannels = 0, nchannels_sim = 0;
  std::vector<uli> len;
};

Described describe(std::vector<std::string> vy, uli order, std::string sep = ">") {
  ComplexityResult r = complexity_run(std::move(vy), ComplexitySettings{order, sep});
  return Described{std::move(r.encoded), r.nchannels, r.nchannels_sim, std::move(r.group_len)};
}

// Windows of channel names as states, journeys linking their states, groups
// as connected components listed by the first journey reaching them.
std::pair<uli, std::vector<uli>> components(const std::vector<std::vector<std::string>>& journeys, size_t k) {
  std::map<std::vector<std::string>, size_t> id;
  std::vector<std::vector<size_t>> per_journey;
  for (const auto& j : journeys) {
    std::vector<size_t> states;
    for (size_t s = 0; s < j.size(); ++s) {
      const size_t e = std::min(j.size(), s + k);
      states.push_back(id.emplace(std::vector<std::string>(j.begin() + s, j.begin() + e), id.size()).first->second);
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
  std::vector<uli> sizes;
  std::set<size_t> seen;
  for (const auto& st : per_journey)
    if (!st.empty() && seen.insert(find(st[0])).second) sizes.push_back(size_of[find(st[0])]);
  return {id.size(), sizes};
}

TEST(Complexity, KnownAnswers) {
  struct Case {
    std::vector<std::string> vy;
    uli order, nchannels, nchannels_sim;
    std::vector<uli> len;
  };
  const std::vector<Case> cases = {
      {{"a > b", "c", "", "b > c"}, 1, 6, 6, {3, 0}},   // merged into the lower id
      {{" > "}, 2, 3, 3, {}},
      {{"a>b>c", "c", "c>a", "b>c>a"}, 2, 6, 7, {3, 1, 0}},   // links "2 3" and "3 1" only
      {{"a>b", "a>b", "b>a"}, 5, 5, 5, {1, 1}},               // one window: the whole journey
  };
  for (const Case& c : cases) {
    const Described d = describe(c.vy, c.order);
    EXPECT_EQ(d.nchannels, c.nchannels) << c.vy.size() << " journeys, order " << c.order;
    EXPECT_EQ(d.nchannels_sim, c.nchannels_sim) << c.vy.size() << " journeys, order " << c.order;
    EXPECT_EQ(d.len, c.len) << c.vy.size() << " journeys, order " << c.order;
  }
  EXPECT_EQ(describe({"a > b > a", " b>>c ", "", " > "}, 1).encoded,
            (std::vector<std::string>{"1 2 1", "2 3", "", ""}));
}

TEST(Complexity, AgreesWithConnectedComponents) {
  std::mt19937 rng(20261206);
  for (int rep = 0; rep < 40; ++rep) {
    std::vector<std::string> vy;
    std::vector<std::vector<std::string>> journeys;
    for (int i = 0, n = 1 + rng() % 60; i < n; ++i) {
      std::vector<std::string> j;
      std::string text;
      for (int t = rng() % 5; t > 0; --t) {
        j.push_back(std::string(1, char('a' + rng() % 11)));
        text += (text.empty() ? "" : " > ") + j.back();
      }
      journeys.push_back(j);
      vy.push_back(text);
    }
    for (uli k = 1; k <= 3; ++k) {
      const Described d = describe(vy, k);
      const auto want = components(journeys, k);
      EXPECT_EQ(d.nchannels_sim, want.first + 3);
      std::vector<uli> nonzero;
      for (uli l : d.len)
        if (l) nonzero.push_back(l);
      EXPECT_EQ(nonzero, want.second) << "rep " << rep << " order " << k;
      EXPECT_EQ(std::accumulate(d.len.begin(), d.len.end(), uli{0}), want.first);
    }
  }
}

TEST(Complexity, ErrorTable) {
  tl_test::expect_errors({
      {"order must be at least 1", [] { describe({"a"}, 0); }},
      {"sep must not be empty", [] { describe({"a"}, 1, ""); }},
  });
}

}  // namespace
