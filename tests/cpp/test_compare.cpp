#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <sstream>
#include <stdexcept>

#include "compare/compare.h"

namespace {

struct Journeys {
  std::vector<std::string> vy;
  std::vector<uli> vc, vn;
};

// Paths over four channels with Poisson conversions and nulls.
Journeys journeys(int n, double mean_conv, double mean_null, unsigned seed) {
  std::mt19937 rng(seed);
  const char* names[] = {"search", "display", "email", "social"};
  std::uniform_int_distribution<int> len(1, 4), ch(0, 3);
  std::poisson_distribution<int> pc(mean_conv), pn(mean_null);
  Journeys j;
  for (int i = 0; i < n; ++i) {
    std::string p;
    for (int t = len(rng); t > 0; --t) p += (p.empty() ? "" : " > ") + std::string(names[ch(rng)]);
    j.vy.push_back(p);
    j.vc.push_back(static_cast<uli>(pc(rng)));
    j.vn.push_back(static_cast<uli>(pn(rng)));
  }
  j.vc[0] += 1;
  return j;
}

struct Settings {
  double perc_reall = 0.1, perc_sample = 0.2, min_perc_traffic = 0.05;
  uli max_nsim = 100000, niter = 2, flg_extra_path = 0, markov_order = 1, seed = 42;
  int verbose = 0;
};

struct Compared {
  std::vector<std::vector<double>> perf, alloc;
  std::vector<std::string> names;
  std::string printed;
};

Compared compare(Journeys j, const Settings& s = Settings()) {
  Compared c;
  std::ostringstream os;
  set_console_stream(&os);
  try {
    compare_models_mta_cpp(&j.vy, &j.vc, &j.vn, "path", "total_conversions", "total_null", ">",
                           s.perc_reall, s.perc_sample, s.max_nsim, s.min_perc_traffic, s.niter,
                           s.flg_extra_path, s.markov_order, s.seed, 0, s.verbose, &c.perf,
                           &c.alloc, &c.names);
  } catch (...) {
    set_console_stream(nullptr);
    throw;
  }
  set_console_stream(nullptr);
  c.printed = os.str();
  return c;
}

bool contains(const std::string& text, const std::string& line) {
  return text.find(line + "\n") != std::string::npos;
}

}  // namespace

TEST(Compare, NamesAndShapes) {
  Settings s;
  s.niter = 3;
  s.markov_order = 2;
  Compared c = compare(journeys(200, 1, 10, 1), s);
  EXPECT_EQ(c.names, (std::vector<std::string>{"original", "no_reallocation", "first_touch",
                                                "last_touch", "linear_touch", "shapley",
                                                "logistic_regression", "markov_model_order_1",
                                                "markov_model_order_2"}));
  ASSERT_EQ(c.perf.size(), 3u);
  for (const auto& row : c.perf) EXPECT_EQ(row.size(), 9u);
  ASSERT_EQ(c.alloc.size(), 4u);   // channels
  for (const auto& row : c.alloc) EXPECT_EQ(row.size(), 8u);
}

TEST(Compare, AllocationColumnsSumToOne) {
  Settings s;
  s.niter = 1;
  for (uli seed : {1u, 2u}) {
    s.seed = seed;
    Compared c = compare(journeys(300, 1, 8, 2), s);
    for (size_t col = 0; col < c.alloc[0].size(); ++col) {
      double total = 0;
      for (const auto& row : c.alloc) total += row[col];
      EXPECT_NEAR(total, 1.0, 1e-12) << c.names[col + 1];
    }
  }
}

TEST(Compare, NoReallocationKeepsTheSampleTraffic) {
  Settings s;
  s.perc_reall = 0;
  s.min_perc_traffic = 0;
  Compared c = compare(journeys(300, 1, 8, 3), s);
  for (const auto& row : c.alloc)
    for (size_t col = 1; col < row.size(); ++col) EXPECT_DOUBLE_EQ(row[col], row[0]);
}

TEST(Compare, PrintedLinesWithAndWithoutVerbose) {
  Settings s;
  s.niter = 2;
  Compared quiet = compare(journeys(200, 1, 10, 4), s);
  EXPECT_EQ(quiet.printed.find("Iter:"), std::string::npos);
  EXPECT_EQ(quiet.printed.find("Input data"), std::string::npos);
  size_t n = 0;
  for (size_t p = 0; (p = quiet.printed.find("Sample conversion rate: ", p)) != std::string::npos; ++p) ++n;
  EXPECT_EQ(n, 2u);
  s.verbose = 1;
  Compared loud = compare(journeys(200, 1, 10, 4), s);
  for (const char* line : {"Iter: 1 / 2", "Iter: 2 / 2", "Random sample from population",
                           "Attribution (First/Last/Linear/Shapley/Logistic/Markov)",
                           "Random sample from population given new traffic"})
    EXPECT_TRUE(contains(loud.printed, line)) << line;
  EXPECT_EQ(loud.printed.find("Input data conversion rate: "), 0u);
  EXPECT_EQ(loud.perf, quiet.perf);
}

TEST(Compare, ExtraNullsAtFivePercent) {
  // 10 conversions and 190 nulls over two distinct paths: 20 extra nulls
  // each give 10 / 240.
  Journeys j{{"a > b", "b", "a>b"}, {4, 6, 0}, {96, 90, 4}};
  Settings s;
  s.flg_extra_path = 1;
  s.verbose = 1;
  s.niter = 1;
  s.perc_sample = 1;
  Compared c = compare(j, s);
  EXPECT_TRUE(contains(c.printed, "Input data conversion rate: 5.00%"));
  EXPECT_TRUE(contains(c.printed, "Population conversion rate: " + f_print_perc(10.0 / 240) + "%"));
  EXPECT_TRUE(contains(c.printed, "Your dataset has to few customer journeys to ensure the validity "
                                  "of the results. Try to increase your data."));
}

TEST(Compare, OversamplingAtHalfAPercent) {
  // 0.5 % conversion rate: converting candidates count twice and every
  // performance is halved back, so the sample keeps the population's odds.
  Journeys j = journeys(400, 0.05, 10, 5);
  uli svc = 0, svn = 0;
  for (uli x : j.vc) svc += x;
  for (uli x : j.vn) svn += x;
  ASSERT_LT(svn, svc * 199);
  j.vn[1] += svc * 199 - svn;   // exactly 0.5 %
  Settings s;
  s.niter = 4;
  s.perc_sample = 2;
  s.markov_order = 0;   // only the sample matters here
  Compared c = compare(j, s);
  EXPECT_TRUE(contains(c.printed, "The data are highly unbalanced and oversampling of converting "
                                  "paths will be adopted."));
  EXPECT_TRUE(contains(c.printed, "Population conversion rate after oversampling: 1.00%"));
  const double odds = 1.0 / 199;
  double mean = 0;
  for (const auto& row : c.perf) mean += row[0] / 4;
  // Converting draws are about 2 / 201 of all draws; without the halving
  // the mean would sit near twice the odds.
  const double draws = 4 * s.perc_sample * 201.0 * static_cast<double>(svc);
  EXPECT_NEAR(mean, odds, 5 * odds / std::sqrt(draws * 2 / 201));
}

TEST(Compare, SameSeedSameResults) {
  Compared a = compare(journeys(150, 1, 5, 6));
  Compared b = compare(journeys(150, 1, 5, 6));
  EXPECT_EQ(a.perf, b.perf);
  EXPECT_EQ(a.alloc, b.alloc);
  Settings s;
  s.seed = 43;
  Compared d = compare(journeys(150, 1, 5, 6), s);
  EXPECT_NE(a.perf, d.perf);
}

TEST(Compare, ClearErrors) {
  Journeys j = journeys(50, 1, 5, 7);
  Settings s;
  s.max_nsim = 0;   // sample size 0 would never stop the sampler
  EXPECT_THROW(compare(j, s), std::invalid_argument);
  s = Settings();
  s.perc_sample = 0;
  EXPECT_THROW(compare(j, s), std::invalid_argument);
  s = Settings();
  s.perc_reall = 0.7;
  s.min_perc_traffic = 0.5;
  EXPECT_THROW(compare(j, s), std::invalid_argument);
  s.perc_reall = -0.1;
  s.min_perc_traffic = 0;
  EXPECT_THROW(compare(j, s), std::invalid_argument);
  Journeys empty_path = j;
  empty_path.vy[3] = " > ";   // could be drawn forever when traffic decides
  EXPECT_THROW(compare(empty_path, Settings()), std::invalid_argument);
  Journeys no_conv = j;
  for (uli& x : no_conv.vc) x = 0;
  EXPECT_THROW(compare(no_conv, Settings()), std::invalid_argument);
  Journeys short_vn = j;
  short_vn.vn.pop_back();
  EXPECT_THROW(compare(short_vn, Settings()), std::invalid_argument);
}

namespace {

// An event table of nj journeys over ndays days, channels a..d, about one
// journey in six converting, and click-through rates for every day.
struct MmmInput {
  std::vector<uli> id;
  std::vector<std::string> time, channel, ctr_day;
  std::vector<std::vector<double>> ctr;
};

std::string stamp(uli seconds) {
  const uli day = seconds / 86400, s = seconds % 86400;
  char buf[32];
  std::snprintf(buf, sizeof buf, "2024-01-%02lu %02lu:%02lu:%02lu", day + 1, s / 3600, s / 60 % 60,
                s % 60);
  return buf;
}

MmmInput mmm_input(uli nj, uli ndays, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> len(1, 3), ch(0, 3);
  std::uniform_real_distribution<double> u(0, 1);
  const char* names[] = {"a", "b", "c", "d"};
  MmmInput in;
  for (uli j = 0; j < nj; ++j) {
    uli t = static_cast<uli>(u(rng) * static_cast<double>((ndays - 1) * 86400));
    for (int k = len(rng); k > 0; --k) {
      in.id.push_back(j + 1);
      in.time.push_back(stamp(t));
      in.channel.push_back(names[ch(rng)]);
      t = std::min(t + static_cast<uli>(u(rng) * 20000), ndays * 86400 - 1);
    }
    if (u(rng) < 0.17) {
      in.id.push_back(j + 1);
      in.time.push_back(stamp(t));
      in.channel.push_back("conv");
    }
  }
  for (uli d = 0; d < ndays; ++d) {
    in.ctr_day.push_back(stamp(d * 86400).substr(0, 10));
    in.ctr.push_back({0.01 + 0.001 * static_cast<double>(d), 0.02, 0.03, 0.04});
  }
  return in;
}

Compared compare_mmm(MmmInput in, const Settings& s = Settings()) {
  Compared c;
  std::ostringstream os;
  set_console_stream(&os);
  try {
    compare_models_mta_mmm_cpp(&in.id, &in.time, &in.channel, &in.ctr_day, &in.ctr, "conv",
                               s.perc_reall, s.perc_sample, s.max_nsim, s.min_perc_traffic,
                               s.niter, s.flg_extra_path, s.markov_order, s.seed, 0, s.verbose,
                               &c.perf, &c.alloc, &c.names);
  } catch (...) {
    set_console_stream(nullptr);
    throw;
  }
  set_console_stream(nullptr);
  c.printed = os.str();
  return c;
}

void expect_mmm_error(const MmmInput& in, const Settings& s, const std::string& part) {
  try {
    compare_mmm(in, s);
    ADD_FAILURE() << "no error for " << part;
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find(part), std::string::npos) << e.what();
  }
}

}  // namespace

TEST(CompareMmm, NamesShapesAndShares) {
  Settings s;
  s.markov_order = 2;
  s.perc_sample = 0.5;
  s.verbose = 1;
  Compared c = compare_mmm(mmm_input(300, 12, 1), s);
  EXPECT_EQ(c.names, (std::vector<std::string>{"original", "no_reallocation", "first_touch",
                                                "last_touch", "linear_touch", "shapley",
                                                "logistic_regression", "reward",
                                                "markov_model_order_1", "markov_model_order_2"}));
  ASSERT_EQ(c.perf.size(), 2u);
  EXPECT_EQ(c.perf[0].size(), 10u);
  ASSERT_EQ(c.alloc.size(), 4u);
  for (size_t col = 0; col < 9; ++col) {
    double total = 0;
    for (const auto& row : c.alloc) total += row[col];
    EXPECT_NEAR(total, 1.0, 1e-12) << c.names[col + 1];
  }
  EXPECT_TRUE(contains(c.printed, "Attribution (First/Last/Linear/Shapley/Logistic/Reward/Markov)"));
  EXPECT_EQ(c.printed.find("Your dataset has to few"), std::string::npos);
  Compared again = compare_mmm(mmm_input(300, 12, 1), s);
  EXPECT_EQ(again.perf, c.perf);
}

TEST(CompareMmm, ClearErrors) {
  Settings s;
  s.perc_sample = 0.5;
  s.markov_order = 0;
  MmmInput in = mmm_input(100, 10, 2);
  MmmInput bad = in;
  bad.ctr_day.erase(bad.ctr_day.begin() + 3);
  bad.ctr.erase(bad.ctr.begin() + 3);
  expect_mmm_error(bad, s, "day 2024-01-04");
  bad = in;
  bad.time[7] = "2024-01-04T10:00:00";
  expect_mmm_error(bad, s, "row 8");
  bad = in;
  for (auto& row : bad.ctr) row.pop_back();
  expect_mmm_error(bad, s, "tab_ctr_ctr: row 1");
  Settings short_window = s;
  short_window.perc_sample = 0.15;   // one day of ten
  expect_mmm_error(in, short_window, "too short");
  bad = in;
  bad.id.insert(bad.id.begin(), 0);   // a journey of a conversion only
  bad.time.insert(bad.time.begin(), "2024-01-01 00:00:00");
  bad.channel.insert(bad.channel.begin(), "conv");
  expect_mmm_error(bad, s, "journey 0 has no touch point");
  Settings no_sample = s;
  no_sample.max_nsim = 0;
  expect_mmm_error(in, no_sample, "sample size is 0");
}

TEST(Compare, PrintedPerformanceTable) {
  Journeys j = journeys(200, 1, 8, 9);
  std::vector<std::vector<double>> perf, alloc;
  std::vector<std::string> names;
  std::ostringstream os;
  set_console_stream(&os);
  compare_models_mta_cpp(&j.vy, &j.vc, &j.vn, "path", "total_conversions", "total_null", ">", 0.1,
                         0.3, 100000, 0.05, 2, 0, 0, 5, 1, 0, &perf, &alloc, &names);
  set_console_stream(nullptr);
  std::vector<std::string> lines;
  std::istringstream in(os.str());
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  ASSERT_GE(lines.size(), 2 + names.size());
  const size_t first = lines.size() - names.size() - 2;
  EXPECT_EQ(lines[first].size(), 10 * names.size());   // fields of width 10
  char cell[32];
  std::snprintf(cell, sizeof cell, "%-10g", perf[1][0]);
  EXPECT_EQ(lines[first + 1].substr(0, 10), cell);
  char mean[32];
  std::snprintf(mean, sizeof mean, "%g", (perf[0][2] + perf[1][2]) / 2);
  EXPECT_EQ(lines[first + 2 + 2], "first_touch : " + std::string(mean));
}
