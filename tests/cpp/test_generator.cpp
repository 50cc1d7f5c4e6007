#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numeric>
#include <random>
#include <stdexcept>

#include "compare/compare.h"

namespace {

struct Population {
  std::vector<std::string> vpath;
  std::vector<bool> visconv;
  std::vector<double> vfreq;
};

// Candidates with the given weights, turned into cumulative probabilities.
Population population(std::vector<std::string> paths, std::vector<bool> conv,
                      const std::vector<double>& weight) {
  Population p{std::move(paths), std::move(conv), {}};
  const double total = std::accumulate(weight.begin(), weight.end(), 0.0);
  double cum = 0;
  for (double w : weight) p.vfreq.push_back(cum += w / total);
  p.vfreq.back() = 1.0;
  return p;
}

struct Generated {
  std::vector<uli> vidy1, vc1, vn1;
  std::vector<std::string> vy1;
  uli total() const {
    return std::accumulate(vc1.begin(), vc1.end(), uli{0}) + std::accumulate(vn1.begin(), vn1.end(), uli{0});
  }
};

Generated generate(const Population& p, uli nchannels, std::vector<double> traffic, uli nsim) {
  Generated g;
  path_generator(&p.vpath, &p.visconv, {}, p.vfreq, nchannels, std::move(traffic), nsim, &g.vidy1,
                 &g.vy1, &g.vc1, &g.vn1);
  return g;
}

// Touches per channel of an index path.
std::vector<double> touches(const std::string& path, uli nchannels) {
  std::vector<double> t(nchannels, 0);
  for (uli c : split2(path, ' ')) t[c - 1] += 1;
  return t;
}

void expect_rounded(std::vector<double> in, const std::vector<double>& want) {
  int_attr_trf(&in);
  EXPECT_EQ(in, want);
}

}  // namespace

TEST(PathGenerator, CountModeFollowsTheWeights) {
  Population p = population({"1", "2", "1 2"}, {true, false, true}, {0.2, 0.3, 0.5});
  gb::reseed(7);
  Generated g = generate(p, 2, {}, 30000);
  ASSERT_EQ(g.total(), 30000u);
  ASSERT_EQ(g.vy1.size(), 3u);
  const double want[] = {0.2, 0.3, 0.5};
  for (size_t k = 0; k < 3; ++k) {
    const uli i = g.vidy1[k];
    EXPECT_EQ(g.vy1[k], p.vpath[i]);
    const double got = static_cast<double>(g.vc1[k] + g.vn1[k]) / 30000.0;
    const double sd = std::sqrt(want[i] * (1 - want[i]) / 30000.0);
    EXPECT_NEAR(got, want[i], 5 * sd);
    EXPECT_EQ(p.visconv[i] ? g.vn1[k] : g.vc1[k], 0u);
  }
}

TEST(PathGenerator, OneUniformDrawPerAttemptAndDeterministic) {
  Population p = population({"1", "2 1", "3"}, {true, false, false}, {1, 2, 3});
  gb::reseed(99);
  Generated a = generate(p, 3, {}, 500);
  const auto after = gb::engine;
  std::mt19937 copy;
  copy.seed(99);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (int k = 0; k < 500; ++k) u(copy);
  EXPECT_TRUE(after == copy);
  gb::reseed(99);
  Generated b = generate(p, 3, {}, 500);
  EXPECT_EQ(a.vy1, b.vy1);
  EXPECT_EQ(a.vc1, b.vc1);
  EXPECT_EQ(a.vn1, b.vn1);
}

TEST(PathGenerator, SameTextSharesOneEntry) {
  // the converting and the non-converting candidate of one path
  Population p = population({"1 2", "1 2"}, {true, false}, {1, 1});
  gb::reseed(3);
  Generated g = generate(p, 2, {}, 1000);
  ASSERT_EQ(g.vy1, std::vector<std::string>{"1 2"});
  EXPECT_EQ(g.vc1[0] + g.vn1[0], 1000u);
  EXPECT_GT(g.vc1[0], 0u);
  EXPECT_GT(g.vn1[0], 0u);
}

TEST(PathGenerator, CountModeGuards) {
  Population p = population({"1"}, {true}, {1});
  const auto before = gb::engine;
  Generated g = generate(p, 1, {}, 0);   // nothing to draw, and no draw made
  EXPECT_TRUE(g.vy1.empty());
  EXPECT_TRUE(gb::engine == before);
  Population none;
  EXPECT_THROW(generate(none, 1, {}, 5), std::invalid_argument);
  Population bad = p;
  bad.vfreq = {0.0};
  EXPECT_THROW(generate(bad, 1, {}, 5), std::invalid_argument);
  bad = population({"1", "1"}, {true, false}, {1, 1});
  bad.vfreq = {0.8, 0.4};
  EXPECT_THROW(generate(bad, 1, {}, 5), std::invalid_argument);
  bad.vfreq = {std::nan(""), 1.0};
  EXPECT_THROW(generate(bad, 1, {}, 5), std::invalid_argument);
  bad.visconv = {true};
  EXPECT_THROW(generate(bad, 1, {}, 5), std::invalid_argument);
}

TEST(PathGenerator, TrafficModeSpendsTheBudgetUntilNothingFits) {
  Population p = population({"1 2", "2", "3 3", "1"}, {true, false, false, true}, {4, 3, 2, 1});
  const std::vector<double> budget = {40, 55.5, 31};
  for (uli seed : {1u, 2u, 3u}) {
    gb::reseed(seed);
    Generated g = generate(p, 3, budget, 0);
    std::vector<double> left = budget;
    for (size_t k = 0; k < g.vy1.size(); ++k) {
      std::vector<double> t = touches(g.vy1[k], 3);
      for (size_t c = 0; c < 3; ++c) left[c] -= t[c] * static_cast<double>(g.vc1[k] + g.vn1[k]);
    }
    for (double l : left) EXPECT_GE(l, 0);
    for (const std::string& path : p.vpath) {   // nothing would still fit
      std::vector<double> t = touches(path, 3);
      bool fits = true;
      for (size_t c = 0; c < 3; ++c) fits = fits && t[c] <= left[c];
      EXPECT_FALSE(fits) << path << " still fits with seed " << seed;
    }
  }
}

TEST(PathGenerator, TrafficTooSmallForEveryCandidate) {
  Population p = population({"1 1", "2 2", "1 2 2"}, {true, false, false}, {1, 1, 1});
  gb::reseed(5);
  Generated g = generate(p, 2, {1.5, 1}, 0);
  EXPECT_TRUE(g.vy1.empty());
  gb::reseed(5);
  g = generate(Population{}, 2, {1, 1}, 0);   // no candidates: stops at once
  EXPECT_TRUE(g.vy1.empty());
}

TEST(PathGenerator, TrafficModeGuards) {
  // a candidate without touches could be drawn forever
  Population p = population({"1", ""}, {true, false}, {1, 1});
  EXPECT_THROW(generate(p, 1, {5}, 0), std::invalid_argument);
  p = population({"1", "3"}, {true, false}, {1, 1});
  EXPECT_THROW(generate(p, 2, {5, 5}, 0), std::invalid_argument);   // token past the channels
  p = population({"0"}, {true}, {1});
  EXPECT_THROW(generate(p, 2, {5, 5}, 0), std::invalid_argument);
  p = population({"x"}, {true}, {1});
  EXPECT_THROW(generate(p, 2, {5, 5}, 0), std::invalid_argument);
  p = population({"1"}, {true}, {1});
  EXPECT_THROW(generate(p, 2, {5}, 0), std::invalid_argument);      // budget of the wrong length
  EXPECT_THROW(generate(p, 1, {std::nan("")}, 0), std::invalid_argument);
}

TEST(IntAttrTrf, KnownAnswers) {
  expect_rounded({2.6, 3.4}, {3, 3});
  expect_rounded({0.5, 0.5, 1.0}, {1, 0, 1});     // first on ties
  expect_rounded({5.4, 7.2, 2.4}, {6, 7, 2});     // sums to 15.000000000000002: still 15
  expect_rounded({9.4}, {9});
  expect_rounded({9.6}, {10});
  expect_rounded({3, 0, 7}, {3, 0, 7});
  expect_rounded({}, {});
  std::vector<double> bad = {1, std::numeric_limits<double>::infinity()};
  EXPECT_THROW(int_attr_trf(&bad), std::invalid_argument);
}

TEST(IntAttrTrf, TotalIsTheRoundedTotal) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> u(0, 1000);
  for (int rep = 0; rep < 500; ++rep) {
    std::vector<double> v(1 + rep % 9);
    for (double& x : v) x = u(rng) / (1 + rep % 7);
    double total = 0;
    for (double x : v) total += x;
    std::vector<double> r = v;
    int_attr_trf(&r);
    double rtotal = 0;
    for (size_t i = 0; i < v.size(); ++i) {
      EXPECT_EQ(r[i], std::floor(r[i]));
      EXPECT_TRUE(r[i] == std::floor(v[i]) || r[i] == std::floor(v[i]) + 1);
      rtotal += r[i];
    }
    EXPECT_EQ(rtotal, std::round(total));
  }
}

TEST(TimeStamps, SecondsSinceEpoch) {
  EXPECT_EQ(date_conv_time_int("1970-01-01 00:00:00", "%Y-%m-%d %T"), 0u);
  EXPECT_EQ(date_conv_time_int("2020-02-29 12:34:56", "%Y-%m-%d %T"), 1582979696u);
  EXPECT_EQ(date_conv_time_int("2021-03-01 00:00:00", "%Y-%m-%d %T") -
                date_conv_time_int("2021-02-28 00:00:00", "%Y-%m-%d %T"),
            86400u);
  uli s = 7;
  EXPECT_FALSE(parse_time_stamp("2020-13-01 00:00:00", "%Y-%m-%d %T", &s));
  EXPECT_FALSE(parse_time_stamp("yesterday", "%Y-%m-%d %T", &s));
  EXPECT_FALSE(parse_time_stamp("1969-12-31 23:59:59", "%Y-%m-%d %T", &s));
  EXPECT_EQ(s, 7u);
  EXPECT_THROW(date_conv_time_int("2020-01-01", "%Y-%m-%d %T"), std::invalid_argument);
}

namespace {

// Three journeys: id 1 "a > b" converting on day one, id 2 "b > b" across
// midnight, id 3 "a > b" not converting; channels a = 0, b = 1.
struct Events {
  std::vector<uli> id = {1, 1, 1, 2, 2, 3, 3};
  std::vector<std::string> time = {"2024-03-01 10:00:00", "2024-03-01 11:00:00",
                                   "2024-03-01 12:00:00", "2024-03-02 23:00:00",
                                   "2024-03-03 01:00:00", "2024-03-03 08:00:00",
                                   "2024-03-03 09:00:00"};
  std::vector<std::string> channel = {"a", "b", "conv", "b", "b", "a", "b"};
  std::map<std::string, uli> mp = {{"a", 0}, {"b", 1}};
  std::vector<std::string> ctr_day = {"2024-03-01", "2024-03-02 00:00:00", "2024-03-03", "2024-03-02"};
  std::vector<std::vector<double>> ctr = {{0.2, 0.5}, {9, 9}, {0.2, 0.5}, {0.2, 0.5}};
  EventTable read() const {
    EventTable ev;
    read_event_table(&id, &time, &channel, "conv", mp, &ctr_day, &ctr, &ev);
    return ev;
  }
};

struct Replayed {
  std::vector<uli> vidy1, vc1, vn1;
  std::vector<std::string> vy1;
  std::vector<std::vector<double>> touches, ctr;
  std::vector<double> convs;
};

// Candidates "1 2" converting (journey 0), "2 2" (journey 1), "1 2" not
// converting (journey 2), drawn nsim times over a window of perc days.
Replayed replay(const EventTable& ev, double perc, uli nsim, std::vector<double> traffic = {}) {
  const std::vector<std::string> vpath = {"1 2", "2 2", "1 2"};
  const std::vector<bool> visconv = {true, false, false};
  const std::vector<std::vector<uli>> ids = {{0}, {1}, {2}};
  const std::vector<uli> pos = {0, 1, 2};
  Replayed r;
  path_generator_new(&vpath, &visconv, {}, {0.3, 0.6, 1.0}, 2, std::move(traffic), nsim, &r.vidy1,
                     &ids, &pos, &ev, perc, &r.vy1, &r.vc1, &r.vn1, &r.touches, &r.convs, &r.ctr);
  return r;
}

double total(const std::vector<std::vector<double>>& m) {
  double s = 0;
  for (const auto& row : m) for (double x : row) s += x;
  return s;
}

}  // namespace

TEST(EventTable, JourneysDaysAndRates) {
  Events e;
  EventTable ev = e.read();
  EXPECT_EQ(ev.tab_info_paths_id_path, (std::vector<uli>{1, 2, 3}));
  EXPECT_EQ(ev.tab_info_paths_id_from, (std::vector<uli>{0, 3, 5}));
  EXPECT_EQ(ev.tab_info_paths_id_to, (std::vector<uli>{2, 4, 6}));
  EXPECT_EQ(ev.days, (std::vector<std::string>{"2024-03-01", "2024-03-02", "2024-03-03"}));
  EXPECT_EQ(ev.ctr[1], (std::vector<double>{0.2, 0.5}));   // the later row of a day
  EXPECT_EQ(ev.channel[2], gb::limsup);
  EXPECT_EQ(ev.seconds[4] - ev.seconds[3], 7200u);
  e.id = {1, 2, 2, 1, 3, 3, 3};   // only a rise starts a journey
  ev = e.read();
  EXPECT_EQ(ev.tab_info_paths_id_from, (std::vector<uli>{0, 1, 4}));
}

TEST(EventTable, ClearErrors) {
  auto expect_message = [](const Events& e, const std::string& part) {
    try {
      e.read();
      ADD_FAILURE() << "no error for " << part;
    } catch (const std::invalid_argument& ex) {
      EXPECT_NE(std::string(ex.what()).find(part), std::string::npos) << ex.what();
    }
  };
  Events e;
  e.time[4] = "2024-03-03 1:00";
  expect_message(e, "row 5");
  e = Events();
  e.ctr_day[2] = "2024-03-04";
  expect_message(e, "day 2024-03-03");
  e = Events();
  e.ctr[3] = {0.2};
  expect_message(e, "tab_ctr_ctr: row 4");
  e = Events();
  e.channel[0] = "z";
  expect_message(e, "row 1");
  e = Events();
  e.time.pop_back();
  expect_message(e, "different lengths");
}

TEST(PathGeneratorNew, WideWindowHoldsEveryRow) {
  Events e;
  EventTable ev = e.read();
  gb::reseed(4);
  Replayed r = replay(ev, 200, 300);   // a window of 600 days
  ASSERT_EQ(r.touches.size(), 600u);
  double touches = 0, convs = 0;
  for (size_t k = 0; k < r.vy1.size(); ++k) {
    const double n = static_cast<double>(r.vc1[k] + r.vn1[k]);
    touches += n * static_cast<double>(split2(r.vy1[k], ' ').size());
    convs += static_cast<double>(r.vc1[k]);
  }
  EXPECT_EQ(total(r.touches), touches);
  double sconv = 0;
  for (double x : r.convs) sconv += x;
  EXPECT_EQ(sconv, convs);
  for (size_t d = 0; d < r.ctr.size(); ++d)
    for (size_t c = 0; c < 2; ++c)
      EXPECT_DOUBLE_EQ(r.ctr[d][c], r.touches[d][c] > 0 ? (c == 0 ? 0.2 : 0.5) : 0.0);
}

TEST(PathGeneratorNew, JourneyPastTheWindowKeepsItsEarlyRows) {
  Events e;
  EventTable ev = e.read();
  gb::reseed(8);
  Replayed r = replay(ev, 1.0 / 3, 400);   // one day
  ASSERT_EQ(r.touches.size(), 1u);
  uli draws = 0;
  for (size_t k = 0; k < r.vy1.size(); ++k) draws += r.vc1[k] + r.vn1[k];
  EXPECT_EQ(draws, 400u);   // outcomes count fully
  // Journeys span one or two hours: started in the last hours of the day
  // they lose their later rows (about 22 of 800 touches here).
  EXPECT_LT(total(r.touches), 800);
  EXPECT_GT(total(r.touches), 700);
}

TEST(PathGeneratorNew, EmptyWindowAndTrafficMode) {
  Events e;
  EventTable ev = e.read();
  gb::reseed(2);
  Replayed r = replay(ev, 0.2, 50);   // 0.6 of a day: no window
  EXPECT_TRUE(r.touches.empty());
  EXPECT_TRUE(r.convs.empty());
  EXPECT_FALSE(r.vy1.empty());
  r = replay(ev, 1, 0, {20, 30});
  std::vector<double> used(2, 0);
  for (size_t k = 0; k < r.vy1.size(); ++k)
    for (uli t : split2(r.vy1[k], ' ')) used[t - 1] += static_cast<double>(r.vc1[k] + r.vn1[k]);
  EXPECT_LE(used[0], 20);
  EXPECT_LE(used[1], 30);
  EXPECT_GE(used[1], 28);   // every candidate touches channel 2 at most twice
}
