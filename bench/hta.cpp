// HTA model on 52 periods x 10 channels x 100,000 units of traffic per cell,
// nsim = 10: wall time, next to the time of the uniform draws alone (the
// same number as the traffic spread and journey generation make, with the
// logarithm of the exponential lag), which is the floor of the simulation.
// Build and run from the package root:
//   cmake -S tests/cpp -B build/plain && cmake --build build/plain --target bench_hta
//   build/plain/bench_hta
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>

#include "hta/hta.h"

int main(int argc, char** argv) {
  const uli ntime = 52, nch = 10, units = 100000;
  arma::Mat<uli> MT(ntime, nch);
  MT.fill(units);
  std::vector<uli> vc(ntime);
  for (uli t = 0; t < ntime; ++t) vc[t] = 2000 + 37 * t;
  std::vector<double> vv, vcr, vctr(nch), vadstock(nch, 0.0);
  for (uli k = 0; k < nch; ++k) vctr[k] = 0.01 * double(k + 1);
  double cr = 0, mean_cj_length = 3, perc_test = 0.2;
  uli nsim = argc > 1 ? std::stoul(argv[1]) : 10, seed = 1, roc_npt = 50;
  int type_worth = 0, verbose = 0, flg_roc = 0, flg_type_roc = 0;
  auto t0 = std::chrono::steady_clock::now();
  HtaResult r = hta_run({vc, vv, MT, vcr, vctr, vadstock},
                        {cr, mean_cj_length, nsim, seed, type_worth, verbose, flg_roc,
                         flg_type_roc, perc_test, roc_npt});
  const double t_model = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();

  // Per unit of traffic: two uniforms and a logarithm to spread it, one
  // uniform to decide whether it is a touch (touch draws are few here).
  const uli total = ntime * nch * units * nsim;
  std::mt19937 g(1);
  double sink = 0;
  t0 = std::chrono::steady_clock::now();
  for (uli i = 0; i < total; ++i) {
    const double u = hta_canonical(g);
    const double e = -std::log(1.0 - hta_canonical(g));
    sink += u + e + hta_canonical(g);
  }
  const double t_draws = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::uniform_real_distribution<double> uniform;
  t0 = std::chrono::steady_clock::now();
  for (uli i = 0; i < total; ++i) {
    const double u = uniform(g);
    const double e = -std::log(1.0 - uniform(g));
    sink += u + e + uniform(g);
  }
  const double t_std = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::printf("HTA 52 x 10 x 100,000 units, nsim = %lu: %.2f s\n", nsim, t_model);
  std::printf("the same draws alone: %.2f s (%.0f%% of the model); through the standard "
              "distribution object: %.2f s%s\n",
              t_draws, 100 * t_draws / t_model, t_std, sink < 0 ? "!" : "");
  std::printf("attributed conversions in period 52: %.1f of %lu\n", arma::accu(r.conversions.row(51)),
              vc[51]);
}
