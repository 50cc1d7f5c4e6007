// Exact Markov, encoding cache and bootstrap timings on a generated table
// of one-row-per-customer journeys (bench/gen_journeys.R writes it).
//   markov FILE K   order K from the file, side by side in one run: chain
//                   alone (transition table only), exact removal effects
//                   (step limit and unlimited), simulation at the default
//                   conv_par; ncore 2
//   big FILE K      exact removal effects at order K: states, transitions,
//                   time and peak memory (run one per process)
//   boot FILE       one fit next to 200 bootstrap replicates on 2 threads:
//                   exact Markov order 2, linear and position-based rules
//   build FILE K    the chain alone, 3 runs (compile with -DBASELINE
//                   against an older tree to compare the encoding)
// Build and run from the package root:
//   cmake -S tests/cpp -B build/plain && cmake --build build/plain --target bench_exact_markov
//   build/plain/bench_exact_markov
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <cmath>
#include <set>
#include <string>

#include "journeys/journeys.h"
#include "markov/markov.h"
#ifndef BASELINE
#include "bootstrap/bootstrap.h"
#endif

namespace {

using Clock = std::chrono::steady_clock;
double secs(Clock::time_point a) { return std::chrono::duration<double>(Clock::now() - a).count(); }
double peak_mb() {
  rusage u;
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss / 1024.0;
}

// The model from the file; mtx 2 = chain only.
double run(const std::string& file, uli order, int mtx, int exact, int unlimited, MarkovResult* o) {
  MarkovSettings set;
  set.order = order;
  set.ncore = 2;
  set.seed = 1;
  set.flg_out_tran_mtx = mtx;
  set.flg_out_attr = 1;
  set.method.exact = exact;
  set.method.unlimited = unlimited;
  const JourneySource src = file_source(file, "path", "conv", "value", "nulls", ";");
  const auto t0 = Clock::now();
  *o = markov_run(src, ">", set);
  return secs(t0);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const std::string mode = argv[1], file = argv[2];
  const uli order = argc > 3 ? std::stoul(argv[3]) : 1;
  MarkovResult o;
  if (mode == "build") {
    for (int r = 0; r < 3; ++r)
      std::printf("order %lu chain alone: %.2f s (%zu transitions)\n", order,
                  run(file, order, 2, 0, 0, &o), o.vtran_prob_mtx.size());
    return 0;
  }
#ifndef BASELINE
  if (mode == "markov") {
    const double b = run(file, order, 2, 0, 0, &o);
    const double e = run(file, order, 0, 1, 0, &o);
    const std::vector<double> exact = o.vattr_convs_glob;
    const double u = run(file, order, 0, 1, 1, &o);
    const double s = run(file, order, 0, 0, 0, &o);
    double l1 = 0, tot = 0;
    for (size_t j = 0; j < exact.size(); ++j) l1 += std::fabs(exact[j] - o.vattr_convs_glob[j]), tot += exact[j];
    std::printf("order %lu end to end: chain %.2f s | exact step limit %.2f s (%.2fx chain) | "
                "exact unlimited %.2f s (%.2fx) | simulation %.2f s (%.2fx) | sim vs exact L1 "
                "share %.4f\n", order, b, e, e / b, u, u / b, s, s / b, l1 / tot);
    // The solves alone, on one chain built once.
    SimulationMatrix m;
    build_simulation_matrix(file_source(file, "path", "conv", "value", "nulls", ";"), ">", order, 0,
                            &m);
    Fx& S = m.S;
    uli nch = m.nchannels, mx = m.max_npassi, ns = m.nchannels_sim, ord = order;
    double svc = m.svc;
    int verbose = 0, flg_null = 1;
    const std::vector<sli> table = state_channel_table(&m.mp_channels_sim_inv, ns, ord);
    std::vector<double> cv, nv;
    double pc, pn;
    auto t0 = Clock::now();
    markov_exact(&S, &table, ord, nch, mx + 2, false, 2, &cv, &nv, &pc, &pn);
    const double es = secs(t0);
    t0 = Clock::now();
    markov_exact(&S, &table, ord, nch, 0, true, 2, &cv, &nv, &pc, &pn);
    const double eu = secs(t0);
    SimulationSettings sim;
    sim.ncore = 2;
    sim.seed = 1;
    sim.verbose = verbose;
    t0 = Clock::now();
    markov_simulate(S, table, ord, nch, mx, flg_null != 0, svc, sim);
    const double sm = secs(t0);
    std::printf("order %lu solve alone: %lu states, exact step limit %.3f s, exact unlimited "
                "%.3f s, simulation %.3f s (%.1fx / %.1fx the exact solves)\n", order, ns, es,
                eu, sm, sm / es, sm / eu);
  } else if (mode == "big") {
    const double b = run(file, order, 2, 0, 0, &o);
    const uli ntr = o.vtran_prob_mtx.size();
    std::set<std::string> states(o.vchannel_from_mtx.begin(), o.vchannel_from_mtx.end());
    o = MarkovResult();
    const double m0 = peak_mb();
    const double e = run(file, order, 0, 1, 0, &o);
    std::printf("order %lu: %zu states, %lu transitions; chain %.2f s, exact %.2f s (%.2fx), "
                "peak %.0f MB (%.0f MB after the chain alone)\n",
                order, states.size(), ntr, b, e, e / b, peak_mb(), m0);
  } else if (mode == "boot") {
    const JourneySource src = file_source(file, "path", "conv", "value", "nulls", ";");
    JourneyReader reader(src);
    std::vector<std::string> vy;
    std::vector<uli> vc, vn;
    std::vector<double> vv;
    while (reader.next()) {
      vy.push_back(reader.path());
      vc.push_back(reader.conv());
      vn.push_back(reader.nulls());
      vv.push_back(reader.value());
    }
    for (const char* model : {"markov", "linear", "position"}) {
      BootstrapSettings s;
      s.markov.method.exact = 1;
      s.markov.order = 2;
      std::vector<std::string> ch;
      std::vector<double> est, reps;
      auto t0 = Clock::now();
      fit_channels(model, s, vy, vc, vv, vn, 1, &ch, &est);
      const double one = secs(t0);
      t0 = Clock::now();
      bootstrap_cpp(model, s, vy, vc, vv, vn, 200, 1, 2, &ch, &est, &reps);
      const double all = secs(t0);
      std::printf("%s: one fit %.2f s, 200 replicates on 2 threads %.2f s (%.1fx one fit), "
                  "peak %.0f MB\n", model, one, all, all / one, peak_mb());
    }
  }
#endif
  return 0;
}
