#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>

#include "bootstrap/bootstrap.h"
#include "logistic/logistic.h"
#include "helpers.h"

namespace {

// Journeys of n customers from a fixed generator, aggregated by path.
struct Rows {
  std::vector<std::string> vy;
  std::vector<uli> vc, vn;
  std::vector<double> vv;
};

Rows generate(uli n, unsigned seed) {
  std::mt19937 rng(seed);
  const double lift[] = {0.05, 0.15, 0.02, 0.08};
  std::map<std::string, std::pair<uli, uli>> agg;
  for (uli u = 0; u < n; ++u) {
    std::string p;
    double q = 0.02;
    for (int k = 0, len = 1 + rng() % 4; k < len; ++k) {
      const int c = rng() % 4;
      p += (k ? ">" : "") + std::string(1, char('a' + c));
      q += lift[c];
    }
    const bool conv = std::uniform_real_distribution<double>(0, 1)(rng) < q;
    (conv ? agg[p].first : agg[p].second) += 1;
  }
  Rows r;
  for (auto& kv : agg) {
    r.vy.push_back(kv.first);
    r.vc.push_back(kv.second.first);
    r.vn.push_back(kv.second.second);
    r.vv.push_back(3.0 * static_cast<double>(kv.second.first));
  }
  return r;
}

struct Boot {
  std::vector<std::string> ch;
  std::vector<double> est, reps;
};

Boot boot(const std::string& model, const Rows& d, uli nrep, uli threads, uli seed = 9) {
  BootstrapSettings s;
  s.markov.method.exact = 1;
  Boot b;
  bootstrap_cpp(model, s, d.vy, d.vc, d.vv, d.vn, nrep, seed, threads, &b.ch, &b.est, &b.reps);
  return b;
}

// Replicate r depends on the seed and r only: not on the thread count nor
// on how many replicates there are. Every model the bootstrap knows runs.
TEST(Bootstrap, ReplicatesDependOnSeedAndIndexOnly) {
  const Rows d = generate(3000, 1);
  double svc = 0;
  for (uli c : d.vc) svc += static_cast<double>(c);
  for (const std::string& model : kBootstrapModels) {
    const Boot a = boot(model, d, 6, 1), b = boot(model, d, 4, 3);
    ASSERT_EQ(a.ch, b.ch) << model;
    EXPECT_EQ(std::vector<double>(a.reps.begin(), a.reps.begin() + b.reps.size()), b.reps) << model;
    EXPECT_NE(a.reps, boot(model, d, 6, 2, 10).reps) << model;
    if (model != "logistic") EXPECT_NEAR(tl_test::total_of(a.est), svc, 1e-6 * svc) << model;
  }
  // A replicate is the model refitted on the redrawn rows.
  for (const char* model : {"first", "linear", "last_non_direct", "shapley", "markov"}) {
    const Boot b = boot(model, d, 2, 1);
    std::vector<uli> rc, rn;
    std::vector<double> rv, convs;
    bootstrap_rows(9, 1, d.vc, d.vv, d.vn, &rc, &rv, &rn);
    BootstrapSettings s;
    s.markov.method.exact = 1;
    std::vector<std::string> ch;
    fit_channels(model, s, d.vy, rc, rv, rn, 0, &ch, &convs);
    ASSERT_EQ(ch, b.ch);
    for (size_t k = 0; k < ch.size(); ++k)
      EXPECT_NEAR(b.reps[ch.size() + k], convs[k], 1e-9 * convs[k]) << model << " " << ch[k];
  }
  // Many channels: 101 x 1e6 replicate values are more than the table may hold.
  Rows wide;
  for (int k = 0; k <= 100; ++k) wide.vy.push_back("c" + std::to_string(k)), wide.vc.push_back(1);
  tl_test::expect_errors({
      {"model: no bootstrap for model 'nope'", [&] { boot("nope", d, 2, 1); }},
      {"bootstrap must be at least 1", [&] { boot("linear", d, 0, 1); }},
      {"bootstrap: 1,000,000 replicates x 101 channels exceed the limit of 100,000,000 values; "
       "ask for fewer replicates", [&] { boot("linear", wide, 1000000, 1); }},
  });
  // Rows of one path are pooled; counts that pass 2^64 - 1 there are refused.
  const uli big = 10000000000000000000u;
  for (const Rows& r : {Rows{{"a", "b", "a"}, {1, 1, 1}, {big, 0, big}, {}},
                        Rows{{"a", "b", "a"}, {big, 1, big}, {}, {}}})
    EXPECT_EQ(tl_test::error_of([&] { boot("linear", r, 2, 1); }),
              "counts overflow at row 3: conversions and nulls add up to more than 2^64 - 1");
}

// The replicates draw std::mt19937_64's numbers, bit for bit, and its
// uniforms; reseeding starts them over.
TEST(Bootstrap, DrawEngineIsTheStandardTwister) {
  for (uint64_t seed : {uint64_t{0}, uint64_t{5489}, ~uint64_t{0}, uint64_t{0x9E3779B97F4A7C15}}) {
    DrawEngine a(seed), c(3);
    std::mt19937_64 b(seed), d(seed);
    for (int k = 0; k < 5000; ++k) ASSERT_EQ(a(), b()) << seed << " " << k;
    c.seed(seed);
    for (int k = 0; k < 1000; ++k) ASSERT_EQ(c(), d()) << seed << " " << k;
    // Uniforms made a block at a time, from any position (a pair may
    // straddle a refresh): the standard distribution's, bit for bit.
    for (int skip : {0, 1, 310, 311, 312, 1001}) {
      DrawEngine e(seed);
      std::mt19937_64 f(seed);
      for (int k = 0; k < skip; ++k) ASSERT_EQ(e(), f());
      std::uniform_real_distribution<double> uniform(0.0, 1.0);
      std::vector<double> got(2000);
      e.uniforms(got.data(), 7);
      e.uniforms(got.data() + 7, 1993);
      for (size_t k = 0; k < got.size(); ++k) ASSERT_EQ(got[k], uniform(f)) << skip << " " << k;
    }
  }
  EXPECT_EQ([] { DrawEngine e; for (int k = 1; k < 10000; ++k) e(); return e(); }(),
            9981545732273789042ULL);
}

// A row's redrawn conversions and nulls are Poisson with the row's counts
// as mean (so variance = mean), on both sides of the sampler's switch at 10;
// the value follows the conversions.
// Rows of a single conversion or null are redrawn like any other.
TEST(Bootstrap, RedrawnCountsArePoisson) {
  const std::vector<uli> vc = {1, 3, 12, 400}, vn = {1, 7, 0, 11};
  const std::vector<double> vv = {5, 6, 80, 0};
  const int n = 20000;
  std::vector<double> sum(8, 0), sq(8, 0);
  for (int r = 0; r < n; ++r) {
    std::vector<uli> rc, rn;
    std::vector<double> rv;
    bootstrap_rows(5, r, vc, vv, vn, &rc, &rv, &rn);
    for (int i = 0; i < 4; ++i) {
      const double x[2] = {double(rc[i]), double(rn[i])};
      for (int k = 0; k < 2; ++k) sum[2 * i + k] += x[k], sq[2 * i + k] += x[k] * x[k];
      EXPECT_EQ(rv[i], vc[i] ? vv[i] * x[0] / vc[i] : 0);
    }
  }
  for (int j = 0; j < 8; ++j) {
    const double want = double(j % 2 ? vn[j / 2] : vc[j / 2]), mean = sum[j] / n;
    EXPECT_NEAR(mean, want, 4 * std::sqrt(want / n) + 1e-12) << j;
    EXPECT_NEAR(sq[j] / n - mean * mean, want, 4 * want * std::sqrt(2.0 / n) + 1e-12) << j;
  }
}

// Means below 10 are drawn by multiplying uniforms until the product falls
// to exp(-mean) or below, one draw after another from one stream: checked
// against that method written out on std::mt19937_64 (seeded by splitmix64
// from the seed and the replicate), over rows whose draws run long (mean 9)
// and cross many blocks of the engine.
TEST(Bootstrap, SmallMeansAreTheProductOfUniforms) {
  const auto splitmix = [](uint64_t x) {
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
  };
  std::vector<uli> vc, vn;
  for (uli i = 0; i < 3000; ++i) vc.push_back(i % 10), vn.push_back((i * 7) % 10);
  const std::vector<double> vv(vc.size(), 1.0);
  for (uli r : {0, 1, 77}) {
    std::vector<uli> rc, rn;
    std::vector<double> rv;
    bootstrap_rows(11, r, vc, vv, vn, &rc, &rv, &rn);
    std::mt19937_64 engine(splitmix(splitmix(11) ^ r));
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    const auto draw = [&](uli mean) {
      uli x = 0;
      if (mean == 0) return x;
      for (double prod = uniform(engine); prod > std::exp(-double(mean)); prod *= uniform(engine)) ++x;
      return x;
    };
    for (size_t i = 0; i < vc.size(); ++i) {
      ASSERT_EQ(rc[i], draw(vc[i])) << r << " " << i;
      ASSERT_EQ(rn[i], draw(vn[i])) << r << " " << i;
    }
  }
}

// Rows repeating a path (one row per customer is the commonest input) are
// pooled before redrawing, conversions and nulls alike: the replicates are
// those of the table aggregated by hand. Nulls matter to the Markov model.
TEST(Bootstrap, RowsRepeatingAPathArePooled) {
  Rows rows, pooled;
  rows.vy = {"a>b", "b", "a>b", "c>a", "a>b", "b"};
  rows.vc = {1, 2, 0, 1, 3, 0};
  rows.vn = {2, 0, 5, 1, 0, 3};
  rows.vv = {4, 8, 0, 2, 12, 0};
  pooled.vy = {"a>b", "b", "c>a"};
  pooled.vc = {4, 2, 1};
  pooled.vn = {7, 3, 1};
  pooled.vv = {16, 8, 2};
  for (const char* model : {"linear", "markov", "logistic"}) {
    const Boot a = boot(model, rows, 30, 1), b = boot(model, pooled, 30, 1);
    ASSERT_EQ(a.ch, b.ch) << model;
    for (size_t k = 0; k < a.reps.size(); ++k)
      ASSERT_NEAR(a.reps[k], b.reps[k], 1e-9 * (1 + std::fabs(b.reps[k]))) << model << " " << k;
  }
}

// The largest relative gap between each logistic replicate and the fit
// from scratch on that replicate's redrawn rows (nrep replicates, seed 9).
double logistic_gap_to_refits(const Rows& rows, uli nrep) {
  const Boot b = boot("logistic", rows, nrep, 2);
  double gap = 0;
  for (uli r = 0; r < nrep; ++r) {
    std::vector<uli> rc, rn;
    std::vector<double> rv, convs;
    bootstrap_rows(9, r, rows.vc, rows.vv, rows.vn, &rc, &rv, &rn);
    std::vector<std::string> ch;
    fit_channels("logistic", BootstrapSettings(), rows.vy, rc, rv, rn, 0, &ch, &convs);
    EXPECT_EQ(ch.size(), b.ch.size());
    std::map<std::string, double> want;
    for (size_t k = 0; k < ch.size(); ++k) want[ch[k]] = convs[k];
    for (size_t k = 0; k < b.ch.size(); ++k) {
      const double got = b.reps[r * b.ch.size() + k], w = want.at(b.ch[k]);
      gap = std::max(gap, got == w ? 0.0 : std::fabs(got - w) / std::fabs(w));
    }
  }
  return gap;
}

bool logistic_converges(const Rows& rows) {
  LogisticSettings s;
  return logistic_run(vector_source(&rows.vy, &rows.vc, &rows.vv, &rows.vn), s).fit.converged;
}

Rows with_nulls(Rows r, bool keep) {
  if (!keep) r.vn.clear();
  return r;
}

Rows plus(Rows r, const Rows& more) {
  r.vy.insert(r.vy.end(), more.vy.begin(), more.vy.end());
  r.vc.insert(r.vc.end(), more.vc.begin(), more.vc.end());
  r.vn.insert(r.vn.end(), more.vn.begin(), more.vn.end());
  r.vv.insert(r.vv.end(), more.vv.begin(), more.vv.end());
  return r;
}

// A simulated Markov replicate is the simulation refitted on its redrawn
// rows with the replicate's seed, walk for walk: the chain it walks holds
// the same counts with each state's successors in the same order (the order
// of first appearance, journey by journey, which the walks' draws depend
// on). Rows whose redrawn counts are 0 start no transition; paths that loop
// take a transition more than once; without nulls, and with counts so
// large that the totals are summed with overflow checks.
TEST(Bootstrap, SimulatedMarkovReplicatesAreTheRefitsOfTheirRows) {
  const uli huge = uli{1} << 61;
  const Rows mixed{{"c>a", "b", "a>b>a>b>a", "d>c", "", "a>d>b", "b>b>c", "d"},
                   {1, 0, 1, 2, 1, 0, 1, 1},
                   {1, 1, 0, 1, 2, 3, 1, 0},
                   {}},
      big{{"b>a", "a>b>a>b", "c", "a"}, {huge, 3, huge / 2, 1}, {huge, 1, 5, huge / 4}, {}};
  BootstrapSettings s;
  s.markov.order = 2;
  s.markov.nsim_start = 3000;
  for (const Rows& rows : {mixed, with_nulls(mixed, false), generate(400, 3), big}) {
    const uli nrep = 12;
    std::vector<std::string> ch;
    std::vector<double> est, reps;
    bootstrap_cpp("markov", s, rows.vy, rows.vc, rows.vv, rows.vn, nrep, 9, 1, &ch, &est, &reps);
    for (uli r = 0; r < nrep; ++r) {
      std::vector<uli> rc, rn;
      std::vector<double> rv, convs;
      bootstrap_rows(9, r, rows.vc, rows.vv, rows.vn, &rc, &rv, &rn);
      if (std::all_of(rc.begin(), rc.end(), [](uli c) { return c == 0; })) continue;
      std::vector<std::string> refit;
      fit_channels("markov", s, rows.vy, rc, rv, rn, replicate_walk_seed(9, r), &refit, &convs);
      std::map<std::string, double> want;
      for (size_t k = 0; k < refit.size(); ++k) want[refit[k]] = convs[k];
      for (size_t k = 0; k < ch.size(); ++k)
        ASSERT_EQ(reps[r * ch.size() + k], want.count(ch[k]) ? want[ch[k]] : 0.0)
            << rows.vy[0] << " replicate " << r << " " << ch[k];
    }
  }
}

// The logistic replicates reuse the paths' encoding, skip paths without
// redrawn counts and, when the estimate's fit converged, start from its
// coefficients: each replicate is then the refit from scratch on its
// redrawn rows to within the optimiser's tolerance (gaps measured here up
// to 5.1e-8). When the estimate did not converge (a channel seen only in
// converting journeys, or no nulls at all, pushes coefficients away for
// ever) each replicate is that refit bit for bit. Paths differing only in blanks share
// one encoded path, a path without touch points stays out of the fit, rows
// with nothing to redraw are kept; with and without nulls.
TEST(Bootstrap, LogisticReplicatesAreTheRefitsOfTheirRows) {
  const Rows odd{{"a > b", " a>b ", "", "d>d>a>d>d", "c>b>c>b>a"}, {3, 0, 2, 1, 0},
                 {1, 4, 3, 0, 0}, {1, 0, 2, 5, 0}};
  const Rows separable{{"e", "e>a"}, {4, 2}, {0, 0}, {4, 2}};
  struct Case {
    const char* name;
    Rows rows;
    bool converges;
  } cases[] = {
      {"small", generate(300, 4), true},
      {"small, no nulls", with_nulls(generate(300, 5), false), false},
      {"medium, odd rows", plus(generate(2000, 3), odd), true},
      {"medium, odd rows, no nulls", with_nulls(plus(generate(2000, 3), odd), false), false},
      {"larger", generate(30000, 6), true},
      {"separable", plus(generate(2000, 3), separable), false},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(logistic_converges(c.rows), c.converges) << c.name;
    const double gap = logistic_gap_to_refits(c.rows, 8);
    if (c.converges) EXPECT_LT(gap, 1e-6) << c.name;
    else EXPECT_EQ(gap, 0.0) << c.name;
  }
}

}  // namespace
