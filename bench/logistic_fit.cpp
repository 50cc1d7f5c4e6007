// Logistic-regression fit on 100,000 unique paths over 15 channels: wall
// time of the whole fit and of one objective evaluation (value + gradient).
// Build and run from the package root:
//   cmake -S tests/cpp -B build/plain && cmake --build build/plain --target bench_logistic_fit
//   build/plain/bench_logistic_fit
#include <chrono>
#include <iostream>
#include <random>
#include <set>

#include "journeys/journeys.h"
#include "logistic/logistic.h"
#include "optim/optim.h"

namespace {
double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}
}  // namespace

int main() {
  const uli npath = 100000, K = 15;
  std::mt19937 rng(20261206);
  std::uniform_int_distribution<int> len(1, 8), chan(0, K - 1), cnt(0, 30);
  std::vector<double> beta(K);
  for (uli j = 0; j < K; ++j) beta[j] = -0.8 + 1.6 * j / (K - 1);
  std::set<std::string> seen;
  std::vector<std::string> vy;
  std::vector<uli> vc, vn;
  while (vy.size() < npath) {
    std::string p;
    double s = -1.0;
    for (int l = len(rng), k = 0; k < l; ++k) {
      int c = chan(rng);
      if (k) p += " > ";
      p += "channel " + std::to_string(c);
      s += beta[c] * 0.3;
    }
    if (!seen.insert(p).second) continue;
    const uli tot = 1 + cnt(rng);
    std::binomial_distribution<uli> conv(tot, 1 / (1 + std::exp(-s)));
    const uli c = conv(rng);
    vy.push_back(p);
    vc.push_back(c);
    vn.push_back(tot - c);
  }
  std::string sep = ">";
  std::map<std::string, uli> mp;
  std::vector<std::string> vchannels;
  std::vector<double> vindex, vcoeff;
  double mean_index = 0;
  auto t0 = std::chrono::steady_clock::now();
  logistic_fit_cpp(&vy, &vc, &vn, &sep, &mp, &vchannels, &vindex, &mean_index, &vcoeff);
  const double fit = seconds_since(t0);

  // The same unique paths as the fit sees them, timed evaluation by evaluation.
  ll_data_t_cj d;
  for (uli u = 0; u < npath; ++u) {
    std::string code = "0";
    std::vector<std::string> names;
    channels_normalised(vy[u], '>', &names);
    for (auto& n : names) code += " " + std::to_string(mp[n] + 1);
    d.vy.push_back(code);
    d.vc.push_back(vc[u]);
    d.vn.push_back(vn[u]);
    d.npaths += vc[u] + vn[u];
  }
  d.nchannels = K + 1;
  arma::vec b(K + 1, arma::fill::zeros), g;
  t0 = std::chrono::steady_clock::now();
  ll_data_parse(&d);
  const double parse = seconds_since(t0);
  const int reps = 200;
  t0 = std::chrono::steady_clock::now();
  double sink = 0;
  for (int r = 0; r < reps; ++r) sink += ll_fn_cj(b, &g, &d);
  const double per_eval = seconds_since(t0) / reps;

  optim::algo_settings_t st;
  st.gd_settings.method = optim::kMethodAdam;
  arma::vec b0(K + 1, arma::fill::zeros);
  optim::gd(b0, ll_fn_cj, &d, &st);

  std::cout << "unique paths " << npath << ", channels " << K << ", touch points "
            << d.vidx.size() << "\n"
            << "fit (encode + parse + up to 2,000 Adam steps): " << fit << " s\n"
            << "one-off parse of the encoded paths: " << parse * 1e3 << " ms\n"
            << "objective + gradient, per evaluation: " << per_eval * 1e3 << " ms"
            << " (2,002 evaluations: " << per_eval * 2002 << " s)\n"
            << "Adam iterations " << st.opt_iter << ", final gradient norm "
            << st.opt_error_value << "\n"
            << "checksum " << sink << " " << mean_index << "\n";
}
