// Exact Markov solves next to the simulation on one chain built once from the
// generated table (bench/gen_journeys.R), best of 5, 2 threads.
// Build and run from the package root:
//   cmake -S tests/cpp -B build/plain && cmake --build build/plain --target bench_exact_solve
//   build/plain/bench_exact_solve 3
#include <chrono>
#include <cstdio>
#include "markov/markov.h"
using C = std::chrono::steady_clock;
int main(int argc, char** argv) {
  const uli ord = std::stoul(argv[1]);
  SimulationMatrix m;
  build_simulation_matrix(file_source("/tmp/touchlane_bench_1m.csv", "path", "conv", "value", "nulls", ";"),
                          ">", ord, 0, &m);
  Fx& S = m.S;
  uli nch = m.nchannels, mx = m.max_npassi, ns = m.nchannels_sim, o = ord;
  double svc = m.svc;
  int verbose = 0, fn = 1;
  const std::vector<sli> table = state_channel_table(&m.mp_channels_sim_inv, ns, ord);
  std::vector<double> cv, nv; double pc, pn;
  double best[3] = {1e9, 1e9, 1e9};
  for (int r = 0; r < 5; ++r) {
    auto t0 = C::now();
    markov_exact(&S, &table, ord, nch, mx + 2, false, 2, &cv, &nv, &pc, &pn);
    best[0] = std::min(best[0], std::chrono::duration<double>(C::now() - t0).count());
    t0 = C::now();
    markov_exact(&S, &table, ord, nch, 0, true, 2, &cv, &nv, &pc, &pn);
    best[1] = std::min(best[1], std::chrono::duration<double>(C::now() - t0).count());
    SimulationSettings sim;
    sim.ncore = 2;
    sim.seed = 1 + r;
    sim.verbose = verbose;
    t0 = C::now();
    markov_simulate(S, table, o, nch, mx, fn != 0, svc, sim);
    best[2] = std::min(best[2], std::chrono::duration<double>(C::now() - t0).count());
  }
  std::printf("order %lu (%lu states, %lu transitions), best of 5, 2 threads: exact step limit %.4f s, exact unlimited %.4f s, simulation at default conv_par %.4f s -> simulation / exact = %.1fx (step limit), %.1fx (unlimited)\n",
              ord, ns, S.non_zeros, best[0], best[1], best[2], best[2] / best[0], best[2] / best[1]);
}
