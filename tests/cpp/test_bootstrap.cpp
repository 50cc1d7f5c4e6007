#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <random>

#include "bootstrap/bootstrap.h"
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
  s.method.exact = 1;
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
  for (const std::string& model : {"linear", "last_non_direct", "markov"}) {
    const Boot b = boot(model, d, 2, 1);
    std::vector<uli> rc, rn;
    std::vector<double> rv, convs;
    bootstrap_rows(9, 1, d.vc, d.vv, d.vn, &rc, &rv, &rn);
    BootstrapSettings s;
    s.method.exact = 1;
    std::vector<std::string> ch;
    fit_channels(model, s, d.vy, rc, rv, rn, 0, &ch, &convs);
    ASSERT_EQ(ch, b.ch);
    for (size_t k = 0; k < ch.size(); ++k)
      EXPECT_NEAR(b.reps[ch.size() + k], convs[k], 1e-9 * convs[k]) << model << " " << ch[k];
  }
  tl_test::expect_errors({
      {"model: no bootstrap for model 'nope'", [&] { boot("nope", d, 2, 1); }},
      {"bootstrap must be at least 1", [&] { boot("linear", d, 0, 1); }},
  });
}

// With four times the customers the spread of every channel's replicates
// halves (1 / sqrt(n)), and the replicates centre on the estimate.
TEST(Bootstrap, SpreadShrinksWithSquareRootOfSize) {
  for (const std::string& model : {"linear", "markov"}) {
    const Boot small = boot(model, generate(4000, 2), 200, 2), large = boot(model, generate(16000, 3), 200, 2);
    auto sd_rel = [](const Boot& b) {
      std::map<std::string, double> out;
      const size_t nch = b.ch.size(), n = b.reps.size() / nch;
      for (size_t k = 0; k < nch; ++k) {
        double m = 0, v = 0;
        for (size_t r = 0; r < n; ++r) m += b.reps[r * nch + k] / n;
        for (size_t r = 0; r < n; ++r) v += std::pow(b.reps[r * nch + k] - m, 2) / (n - 1);
        EXPECT_NEAR(m, b.est[k], 4 * std::sqrt(v / n) + 1e-9) << b.ch[k];
        out[b.ch[k]] = std::sqrt(v) / b.est[k];
      }
      return out;
    };
    const auto s1 = sd_rel(small), s4 = sd_rel(large);
    ASSERT_EQ(s1.size(), s4.size());
    for (auto& kv : s1) {
      const double ratio = kv.second / s4.at(kv.first);
      EXPECT_GT(ratio, 1.6) << model << " " << kv.first;
      EXPECT_LT(ratio, 2.5) << model << " " << kv.first;
    }
  }
}

}  // namespace
