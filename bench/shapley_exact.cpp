// Exact Shapley values over 10,000 coalitions with 15 and 20 channels: the
// subset-sum method next to the direct method (every subset scans every
// coalition). Build from the worktree root after the core library:
// Build and run from the package root:
//   cmake -S tests/cpp -B build/plain && cmake --build build/plain --target bench_shapley_exact
//   build/plain/bench_shapley_exact
#include <chrono>
#include <cstdio>
#include <random>
#include <set>

#include "shapley/shapley.h"

namespace {

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// The direct method: enumerate the subsets, and for each scan all coalitions
// for containment. Stops after max_subsets subsets; returns the number done.
uli direct(const std::vector<std::vector<uli>>& coa, const std::vector<double>& worth, uli n,
           uli max_subsets, std::vector<double>* phi) {
  std::vector<uli> idx(n);
  for (uli j = 0; j < n; ++j) idx[j] = j;
  std::vector<std::vector<uli>> subsets = all_subsets(idx);
  std::vector<char> in(n);
  const double lfN = log_factorial(n);
  uli done = 0;
  for (size_t q = 1; q < subsets.size() && done < max_subsets; ++q, ++done) {
    const auto& S = subsets[q];
    std::fill(in.begin(), in.end(), 0);
    for (uli j : S) in[j] = 1;
    double v = 0;
    for (size_t k = 0; k < coa.size(); ++k) {
      bool inside = true;
      for (uli j : coa[k]) inside = inside && in[j];
      if (inside) v += worth[k];
    }
    const uli s = S.size();
    const double plus = std::exp(log_factorial(n - s) + log_factorial(s - 1) - lfN);
    const double minus = s < n ? std::exp(log_factorial(n - s - 1) + log_factorial(s) - lfN) : 0;
    for (uli j = 0; j < n; ++j) (*phi)[j] += in[j] ? plus * v : -minus * v;
  }
  return done;
}

}  // namespace

int main() {
  for (uli n : {15ul, 20ul}) {
    std::mt19937 g(42);
    std::set<std::vector<uli>> seen;
    std::vector<std::vector<uli>> coa;
    std::vector<double> worth;
    while (coa.size() < 10000) {
      std::vector<uli> m;
      for (uli j = 0; j < n; ++j)
        if (g() % 4 == 0) m.push_back(j);
      if (m.empty() || !seen.insert(m).second) continue;
      coa.push_back(m);
      worth.push_back(1 + g() % 50);
    }
    std::vector<double> fast(n, 0.0);
    auto t0 = std::chrono::steady_clock::now();
    shapley_values(coa, worth, n, false, &fast);
    double t_fast = seconds_since(t0);
    std::vector<double> slow(n, 0.0);
    const uli total = (uli{1} << n) - 1;
    const uli cap = n <= 15 ? total : (uli{1} << 14);
    t0 = std::chrono::steady_clock::now();
    uli done = direct(coa, worth, n, cap, &slow);
    double t_slow = seconds_since(t0);
    double maxdiff = 0;
    if (done == total)
      for (uli j = 0; j < n; ++j) maxdiff = std::max(maxdiff, std::fabs(fast[j] - slow[j]));
    std::printf("N=%lu coalitions=%zu  subset-sum: %.3f s", n, coa.size(), t_fast);
    if (done == total)
      std::printf("  direct: %.3f s  (max |diff| %.2e)\n", t_slow, maxdiff);
    else
      std::printf("  direct: %.3f s for %lu of %lu subsets, about %.0f s in all (not run)\n",
                  t_slow, done, total, t_slow * double(total) / double(done));
  }
}
