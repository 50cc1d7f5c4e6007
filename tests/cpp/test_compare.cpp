// The comparison of attribution models on synthetic journeys, and what it
// draws them with: the path generator, rounding to whole journeys, time
// stamps and the event table replayed over a window of days.
#include <gtest/gtest.h>

#include <functional>
#include <numeric>

#include "compare/compare.h"
#include "helpers.h"

namespace {

using namespace tl_test;

// Small, quick comparisons unless a case says otherwise.
struct Settings : CompareSettings {
  Settings() {
    perc_reall = 0.1, perc_sample = 0.2, min_perc_traffic = 0.05;
    max_nsim = 100000, niter = 2, seed = 42;
  }
};

struct Compared {
  std::vector<std::vector<double>> perf, alloc;
  std::vector<std::string> names;
  std::string printed;
};

Compared compare(Journeys j, const Settings& s = Settings()) {
  Compared c;
  Console con;
  CompareResult r = compare_mta_run({std::move(j.vy), std::move(j.vc), std::move(j.vn)}, s);
  c.perf = std::move(r.performance), c.alloc = std::move(r.allocation), c.names = std::move(r.model_names);
  c.printed = con.os.str();
  return c;
}

void expect_shares(const Compared& c, size_t nmodels) {
  ASSERT_EQ(c.names.size(), nmodels);
  ASSERT_EQ(c.alloc.size(), 4u);   // channels
  for (size_t col = 0; col + 1 < nmodels; ++col) {
    double total = 0;
    for (const auto& row : c.alloc) total += row[col];
    EXPECT_NEAR(total, 1.0, 1e-12) << c.names[col + 1];
  }
}

TEST(Compare, NamesSharesAndSeeds) {
  Settings s;
  s.niter = 3;
  s.max_markov_order = 2;
  const Compared c = compare(random_journeys(1, 200), s);
  EXPECT_EQ(c.names, (std::vector<std::string>{"original", "no_reallocation", "first_touch",
                                                "last_touch", "linear_touch", "shapley",
                                                "logistic_regression", "markov_model_order_1",
                                                "markov_model_order_2"}));
  ASSERT_EQ(c.perf.size(), 3u);
  for (const auto& row : c.perf) EXPECT_EQ(row.size(), 9u);
  expect_shares(c, 9);
  EXPECT_EQ(c.printed.find("Iter:"), std::string::npos);
  s.verbose = 1;
  const Compared loud = compare(random_journeys(1, 200), s);
  EXPECT_EQ(loud.perf, c.perf);   // same seed, same results, whatever is printed
  EXPECT_HAS(loud.printed, "Iter: 3 / 3\nRandom sample from population\n");
  s.seed = 43;
  EXPECT_NE(compare(random_journeys(1, 200), s).perf, c.perf);
  // Nothing reallocated: every model keeps the sample's traffic.
  s.perc_reall = s.min_perc_traffic = 0;
  for (const auto& row : compare(random_journeys(3, 300), s).alloc)
    for (size_t col = 1; col < row.size(); ++col) EXPECT_DOUBLE_EQ(row[col], row[0]);
}

// The performance table: every value left-aligned in a cell of ten
// characters, then each model's mean after its name.
TEST(Compare, PrintedTable) {
  Settings s;
  s.flg_print = 1;
  const Compared c = compare(random_journeys(1, 200), s);
  std::vector<std::string> lines;
  std::istringstream text(c.printed);
  for (std::string l; std::getline(text, l);) lines.push_back(l);
  ASSERT_GE(lines.size(), c.perf.size() + c.names.size());   // the table comes last
  lines.erase(lines.begin(), lines.end() - static_cast<long>(c.perf.size() + c.names.size()));
  for (size_t k = 0; k < c.perf.size(); ++k) {
    ASSERT_EQ(lines[k].size(), 10 * c.names.size()) << lines[k];
    for (size_t j = 0; j < c.names.size(); ++j) {
      const std::string cell = lines[k].substr(10 * j, 10);
      EXPECT_NE(cell[0], ' ') << lines[k];
      EXPECT_NEAR(std::stod(cell), c.perf[k][j], 1e-5 * c.perf[k][j]) << cell;
    }
  }
  for (size_t j = 0; j < c.names.size(); ++j) {
    const std::string& l = lines[c.perf.size() + j];
    ASSERT_EQ(l.rfind(c.names[j] + " : ", 0), 0u) << l;
    EXPECT_NEAR(std::stod(l.substr(c.names[j].size() + 3)), (c.perf[0][j] + c.perf[1][j]) / 2,
                1e-5 * c.perf[0][j]);
  }
}

// Every distinct path gets floor(1 / conversion rate) extra nulls: 20 at
// 5 %; 3 at 2 / 7 (an inverse of 3.5) over two distinct paths, 2 / 13.
TEST(Compare, ExtraNullsPerDistinctPath) {
  struct Case { Journeys j; double input, population; };
  const std::vector<Case> cases = {
      {{{"a > b", "b", "a>b"}, {4, 6, 0}, {96, 90, 4}, {}}, 0.05, 10.0 / 240},
      {{{"a > b", "b", "a>b"}, {1, 1, 0}, {2, 2, 1}, {}}, 2.0 / 7, 2.0 / 13},
  };
  for (const Case& c : cases) {
    Settings s;
    s.flg_extra_path = 1;
    s.verbose = 1;
    s.niter = 1;
    s.perc_sample = 1;
    const Compared r = compare(c.j, s);
    EXPECT_HAS(r.printed, "Input data conversion rate: " + f_print_perc(c.input) + "%\n");
    EXPECT_HAS(r.printed, "Population conversion rate: " + f_print_perc(c.population) + "%\n");
  }
}

// At 0.5 % converting candidates count twice and every performance is
// halved back, so the sample keeps the population's odds.
TEST(Compare, OversamplingBelowOnePercent) {
  Journeys j = random_journeys(5, 400);
  const uli svc = std::accumulate(j.vc.begin(), j.vc.end(), uli{0});
  const uli svn = std::accumulate(j.vn.begin(), j.vn.end(), uli{0});
  ASSERT_LT(svn, svc * 199);
  j.vn[1] += svc * 199 - svn;   // exactly 0.5 %
  Settings s;
  s.niter = 4;
  s.perc_sample = 2;
  s.max_markov_order = 0;
  const Compared c = compare(j, s);
  EXPECT_HAS(c.printed, "The data are highly unbalanced and oversampling of converting paths will be adopted.\n"
                        "Population conversion rate after oversampling: 1.00%\n");
  const double odds = 1.0 / 199;
  double mean = 0;
  for (const auto& row : c.perf) mean += row[0] / 4;
  const double draws = 4 * s.perc_sample * 201.0 * static_cast<double>(svc);
  EXPECT_NEAR(mean, odds, 5 * odds / std::sqrt(draws * 2 / 201));
}

#define CHANGE(...) [](Settings & s, auto& j) { (void)s, (void)j; __VA_ARGS__; }

TEST(Compare, ErrorsNameTheArgument) {
  const std::vector<std::pair<std::function<void(Settings&, Journeys&)>, std::string>> cases = {
      {CHANGE(s.max_nsim = 0), "the sample size is 0 (perc_sample 0.200000 of"},
      {CHANGE(s.perc_sample = 0), "the sample size is 0 (perc_sample 0.000000 of"},
      {CHANGE(s.perc_reall = 0.7, s.min_perc_traffic = 0.5), "perc_reall and min_perc_traffic together must not exceed 1"},
      {CHANGE(s.perc_reall = -0.1), "perc_reall must lie between 0 and 1, not -0.100000"},
      {CHANGE(s.perc_sample = NAN), "perc_sample must be a non-negative number, not nan"},
      {CHANGE(s.niter = 1000001), "niter must be at most 1000000, not 1000001"},
      {CHANGE(j.vy[3] = " > "), "vy: row 4 has no channels"},
      {CHANGE(j.vc.assign(j.vc.size(), 0)), "no journey converts, there is nothing to compare"},
      {CHANGE(j.vn.pop_back()), "vy, vc and vn must have the same length ("},
      {CHANGE(j.vy[1] = "a > (constant)"), "path in row 2: channel '(constant)' has a name the library reserves; rename it"},
  };
  for (const auto& [change, message] : cases) {
    Settings s;
    Journeys j = random_journeys(7, 50);
    change(s, j);
    EXPECT_HAS(error_of([&] { compare(j, s); }), message);
  }
}

// An event table of nj random journeys (a few minutes between touches, a
// conversion row for converting ones) over ndays days, with click-through
// rates for every day.
struct MmmInput {
  std::vector<uli> id;
  std::vector<std::string> time, channel, ctr_day;
  std::vector<std::vector<double>> ctr;
};

std::string stamp(uli t) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "2024-01-%02u %02u:%02u:%02u", unsigned(t / 86400 + 1), unsigned(t % 86400 / 3600),
                unsigned(t / 60 % 60), unsigned(t % 60));
  return buf;
}

MmmInput mmm_input(uli nj, uli ndays, unsigned seed) {
  const Journeys j = random_journeys(seed, static_cast<int>(nj), 4, 3);
  MmmInput in;
  for (uli r = 0; r < nj; ++r) {
    uli t = (r * 7919 * 61) % ((ndays - 1) * 86400);
    for (const std::string& c : pieces_by_hand(j.vy[r] + (j.vc[r] % 3 == 1 ? " > conv" : "")))
      in.id.push_back(r + 1), in.time.push_back(stamp(t += 300)), in.channel.push_back(c);
  }
  for (uli d = 0; d < ndays; ++d)
    in.ctr_day.push_back(stamp(d * 86400).substr(0, 10)),
        in.ctr.push_back({0.01 + 0.001 * static_cast<double>(d), 0.02, 0.03, 0.04});
  return in;
}

Compared compare_mmm(MmmInput in, const Settings& s) {
  Compared c;
  Console con;
  CompareSettings quiet = s;
  quiet.flg_print = 0;
  CompareResult r = compare_mta_mmm_run(
      {std::move(in.id), std::move(in.time), std::move(in.channel), std::move(in.ctr_day),
       std::move(in.ctr), "conv"},
      quiet);
  c.perf = std::move(r.performance), c.alloc = std::move(r.allocation), c.names = std::move(r.model_names);
  c.printed = con.os.str();
  return c;
}

TEST(CompareMmm, NamesSharesAndErrors) {
  Settings s;
  s.max_markov_order = 2;
  s.perc_sample = 0.5;
  const Compared c = compare_mmm(mmm_input(300, 12, 1), s);
  EXPECT_EQ(c.names, (std::vector<std::string>{"original", "no_reallocation", "first_touch",
                                                "last_touch", "linear_touch", "shapley",
                                                "logistic_regression", "reward",
                                                "markov_model_order_1", "markov_model_order_2"}));
  ASSERT_EQ(c.perf.size(), 2u);
  expect_shares(c, 10);
  EXPECT_EQ(compare_mmm(mmm_input(300, 12, 1), s).perf, c.perf);

  const std::vector<std::pair<std::function<void(Settings&, MmmInput&)>, std::string>> cases = {
      {CHANGE(j.ctr_day.erase(j.ctr_day.begin() + 3), j.ctr.erase(j.ctr.begin() + 3)),
       "tab_ctr_day_str: no click-through rates for day 2024-01-04"},
      {CHANGE(j.time[7] = "2024-01-04T10:00:00"), "tab_paths_time_str: row 8 ("},
      {CHANGE(for (auto& row : j.ctr) row.pop_back()), "tab_ctr_ctr: row 1 has 3"},
      {CHANGE(s.perc_sample = 0.15), "too short"},   // one day of ten
      {CHANGE(j.id.insert(j.id.begin(), 0), j.time.insert(j.time.begin(), "2024-01-01 00:00:00"),
              j.channel.insert(j.channel.begin(), "conv")), "journey 0 has no touch point"},
      {CHANGE(s.max_nsim = 0), "the sample size is 0"},
      {CHANGE(j.channel[0] = "z"), "tab_ctr_ctr: row 1 has 4 click-through rates for 5 channels"},
      {CHANGE(j.time.pop_back()), "the event table columns have different lengths ("},
  };
  for (const auto& [change, message] : cases) {
    Settings t;
    t.perc_sample = 0.5;
    t.max_markov_order = 0;
    MmmInput in = mmm_input(100, 10, 2);
    change(t, in);
    EXPECT_HAS(error_of([&] { compare_mmm(in, t); }), message);
  }
}

// ---- drawing journeys ----------------------------------------------------------

struct Generated { std::vector<uli> vidy1, vc1, vn1; std::vector<std::string> vy1; };

// Candidate paths drawn by their cumulative frequencies.
Generated generate(std::vector<std::string> paths, std::vector<bool> conv, std::vector<double> cum,
                   uli nchannels, std::vector<double> traffic, uli nsim) {
  Generated g;
  path_generator(&paths, &conv, {}, cum, nchannels, traffic, nsim, &g.vidy1, &g.vy1, &g.vc1, &g.vn1);
  return g;
}

// Count mode: one uniform draw of the shared engine per journey, each
// candidate as often as its weight; one entry per distinct path text.
TEST(PathGenerator, CountModeFollowsTheWeights) {
  const std::vector<std::string> paths = {"1", "2", "1 2", "1 2"};
  const std::vector<bool> conv = {true, false, true, false};
  gb::reseed(7);
  const Generated g = generate(paths, conv, {0.2, 0.5, 0.75, 1}, 2, {}, 30000);
  std::mt19937 copy(7);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (int k = 0; k < 30000; ++k) u(copy);
  EXPECT_TRUE(gb::engine == copy);
  ASSERT_EQ(g.vy1.size(), 3u);
  const std::map<std::string, std::pair<double, double>> want{{"1", {0.2, 0}}, {"2", {0, 0.3}}, {"1 2", {0.25, 0.25}}};
  for (size_t k = 0; k < 3; ++k) {
    EXPECT_EQ(g.vy1[k], paths[g.vidy1[k]]);
    const auto [c, n] = want.at(g.vy1[k]);
    EXPECT_NEAR(g.vc1[k] / 30000.0, c, 5 * std::sqrt(c * (1 - c) / 30000.0)) << g.vy1[k];
    EXPECT_NEAR(g.vn1[k] / 30000.0, n, 5 * std::sqrt(n * (1 - n) / 30000.0)) << g.vy1[k];
  }
  const auto before = gb::engine;
  EXPECT_TRUE(generate(paths, conv, {0.2, 0.5, 0.75, 1}, 2, {}, 0).vy1.empty());   // no draw made
  EXPECT_TRUE(gb::engine == before);
}

// Traffic mode spends the budget until no candidate fits what is left.
TEST(PathGenerator, TrafficModeSpendsTheBudget) {
  const std::vector<double> budget = {40, 55.5, 31};
  for (uli seed : {1u, 2u, 3u}) {
    gb::reseed(seed);
    const Generated g = generate({"1 2", "2", "3 3", "1"}, {true, false, false, true}, {0.4, 0.7, 0.9, 1}, 3, budget, 0);
    std::vector<double> left = budget;
    for (size_t k = 0; k < g.vy1.size(); ++k)
      for (uli c : split2(g.vy1[k], ' ')) left[c - 1] -= static_cast<double>(g.vc1[k] + g.vn1[k]);
    for (double l : left) EXPECT_GE(l, 0);
    // No candidate fits what is left: not "1", "2" nor "3 3" (so not "1 2").
    EXPECT_TRUE(left[0] < 1 && left[1] < 1 && left[2] < 2) << seed;
  }
  EXPECT_TRUE(generate({"1 1", "2 2"}, {true, false}, {0.5, 1}, 2, {1.5, 1}, 0).vy1.empty());
  EXPECT_TRUE(generate({}, {}, {}, 2, {1, 1}, 0).vy1.empty());
}

// Candidates that cannot be drawn from are refused (channel numbers, read in traffic mode, unwrapped).
TEST(PathGenerator, RefusesCandidatesItCannotDrawFrom) {
  struct Case { std::vector<std::string> paths; std::vector<double> cum, traffic; std::string message; };
  const std::vector<Case> cases = {
      {{"1", "2"}, {0.6, 0.4}, {}, "path_generator: cumulative probability of "},
      {{"1", "18446744073709551618"}, {0.5, 1}, {5, 5}, "stoul"},   // 2^64 + 2 would wrap to channel 2
      {{"1", "3"}, {0.5, 1}, {5, 5}, "has token 3 outside the channels 1..2"},
  };
  for (const Case& c : cases)
    EXPECT_HAS(error_of([&] { generate(c.paths, {true, false}, c.cum, 2, c.traffic, 10); }), c.message);
}

TEST(IntAttrTrf, WholeNumbersWithTheRoundedTotal) {
  const std::vector<std::pair<std::vector<double>, std::vector<double>>> cases = {
      {{2.6, 3.4}, {3, 3}}, {{0.5, 0.5, 1.0}, {1, 0, 1}},   // first on ties
      {{5.4, 7.2, 2.4}, {6, 7, 2}},                          // sums to 15.000000000000002
      {{9.4}, {9}}, {{9.6}, {10}}, {{3, 0, 7}, {3, 0, 7}}, {{}, {}}};
  for (auto [in, want] : cases) {
    int_attr_trf(&in);
    EXPECT_EQ(in, want);
  }
  std::vector<double> bad = {1, INFINITY};
  EXPECT_EQ(error_of([&] { int_attr_trf(&bad); }), "int_attr_trf: entry 2 is not finite");
}

TEST(TimeStamps, SecondsSinceEpochOrRejected) {
  const std::vector<std::pair<const char*, uli>> good = {
      {"1970-01-01 00:00:00", 0}, {"2020-02-29 12:34:56", 1582979696}, {"+2021-3-4\t1:2:3x", 1614819723}};
  for (auto [text, want] : good) EXPECT_EQ(date_conv_time_int(text, "%Y-%m-%d %T"), want) << text;
  uli s = 7;
  // Unset seconds must not be read: the last four once parsed.
  for (const char* t : {"2020-13-01 00:00:00", "yesterday", "1969-12-31 23:59:59", "2020-01-01",
                        "2021-03-04 10:11:+5", "2021-03-04 10:11: 5", "2021-03-04 1x:11:12", "2021-03-04 10:11:"})
    EXPECT_FALSE(parse_time_stamp(t, "%Y-%m-%d %T", &s)) << t;
  EXPECT_EQ(s, 7u);
  EXPECT_HAS(error_of([] { date_conv_time_int("2020-01-01", "%Y-%m-%d %T"); }), "time stamp \"2020-01-01\"");
}

// Three journeys: id 1 "a > b" converting on day one, id 2 "b > b" across
// midnight, id 3 "a > b" not converting; channels a = 0, b = 1.
struct Events {
  std::vector<uli> id = {1, 1, 1, 2, 2, 3, 3};
  std::vector<std::string> time = {"2024-03-01 10:00:00", "2024-03-01 11:00:00", "2024-03-01 12:00:00",
                                   "2024-03-02 23:00:00", "2024-03-03 01:00:00", "2024-03-03 08:00:00",
                                   "2024-03-03 09:00:00"};
  std::vector<std::string> channel = {"a", "b", "conv", "b", "b", "a", "b"};
  std::vector<std::string> ctr_day = {"2024-03-01", "2024-03-02 00:00:00", "2024-03-03", "2024-03-02"};
  std::vector<std::vector<double>> ctr = {{0.2, 0.5}, {9, 9}, {0.2, 0.5}, {0.2, 0.5}};
  EventTable read() const {
    EventTable ev;
    read_event_table(&id, &time, &channel, "conv", {{"a", 0}, {"b", 1}}, &ctr_day, &ctr, &ev);
    return ev;
  }
};

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
  EXPECT_EQ(e.read().tab_info_paths_id_from, (std::vector<uli>{0, 1, 4}));
}

// Candidates "1 2" converting (journey 0), "2 2" (journey 1) and "1 2" not
// converting (journey 2), each touching twice, drawn nsim times over a
// window of perc of the three days. 600 days hold every row with its day's
// rate; one day loses the later rows of journeys started late (about 22 of
// 800); 0.6 of a day is no window, but the outcomes still count.
TEST(PathGeneratorNew, JourneysReplayedOverTheWindow) {
  const EventTable ev = Events().read();
  const std::vector<std::string> vpath = {"1 2", "2 2", "1 2"};
  const std::vector<bool> visconv = {true, false, false};
  const std::vector<std::vector<uli>> ids = {{0}, {1}, {2}};
  const std::vector<uli> pos = {0, 1, 2};
  for (auto [seed, perc, nsim, ndays, lost] :
       {std::tuple{4u, 200.0, 300u, 600u, 0.0}, {8u, 1.0 / 3, 400u, 1u, 0.12}, {2u, 0.2, 50u, 0u, 1.0}}) {
    Generated g;
    std::vector<std::vector<double>> touches, ctr;
    std::vector<double> convs;
    gb::reseed(seed);
    path_generator_new(&vpath, &visconv, {}, {0.3, 0.6, 1.0}, 2, {}, nsim, &g.vidy1, &ids, &pos, &ev, perc,
                       &g.vy1, &g.vc1, &g.vn1, &touches, &convs, &ctr);
    ASSERT_EQ(touches.size(), ndays);
    EXPECT_FALSE(g.vy1.empty());
    double got = 0, drawn = 0;
    for (size_t d = 0; d < ndays; ++d) {
      got += total_of(touches[d]);
      for (size_t c = 0; c < 2; ++c) EXPECT_NEAR(ctr[d][c], touches[d][c] > 0 ? (c == 0 ? 0.2 : 0.5) : 0.0, 1e-12);
    }
    for (size_t k = 0; k < g.vy1.size(); ++k) drawn += 2.0 * static_cast<double>(g.vc1[k] + g.vn1[k]);
    EXPECT_EQ(drawn, 2.0 * nsim);
    EXPECT_TRUE(lost == 0 ? got == drawn : got < drawn) << got << " of " << drawn;
    EXPECT_GE(got, drawn * (1 - lost));
    if (ndays == 600) {
      EXPECT_EQ(total_of(convs), static_cast<double>(std::accumulate(g.vc1.begin(), g.vc1.end(), uli{0})));
    }
  }
}

}  // namespace
