// Markov core timings.
//   sim         Fx::sim ns/call on 10,000 states next to a plain array scan
//               of the same successor lists (the floor)
//   steps       simulated steps per second, 12 channels, 100,000 distinct
//               journeys, order 1 and 3, ncore 1 and 2
//   build K     store of order K from a generated 1,000,000-row file: wall
//               time and peak resident memory (one order per process)
// Build and run from the package root:
//   cmake -S tests/cpp -B build/plain && cmake --build build/plain --target bench_markov_core
//   build/plain/bench_markov_core sim
#include <sys/resource.h>

#include <time.h>

#include <chrono>
#include <fstream>
#include <iostream>
#include <random>
#include <set>

#include "markov/markov.h"

namespace {

using Clock = std::chrono::steady_clock;
double secs(Clock::time_point a) { return std::chrono::duration<double>(Clock::now() - a).count(); }

// Processor time of all threads: on a shared machine wall time undercounts
// what one core can do.
double cpu_secs() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec + 1e-9 * ts.tv_nsec;
}

double peak_mb() {
  rusage u;
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss / 1024.0;
}

// ---- sim against the floor -------------------------------------------------
void bench_sim() {
  const uli n = 10000, ncalls = 20000000;
  std::mt19937 rng(1);
  Fx S(n);
  // Out-degrees: mostly a handful, a few hubs; counts fall along the list.
  std::geometric_distribution<int> deg(0.25);
  std::vector<uli> off{0}, cum, to, tot(n);
  for (uli i = 0; i < n; ++i) {
    int d = 1 + deg(rng);
    if (rng() % 100 == 0) d = 50 + rng() % 150;
    std::set<uli> seen;
    uli run = 0;
    for (int k = 0; k < d; ++k) {
      uli j = 1 + rng() % (n - 1);
      if (!seen.insert(j).second) continue;
      uli c = 1 + 1000 / (k + 1) + rng() % 10;
      S.add(i, j, c);
      run += c;
      cum.push_back(run);
      to.push_back(j);
    }
    off.push_back(cum.size());
    tot[i] = run;
  }
  S.set_nchannels(n);
  S.cum();
  std::vector<uli> qs(ncalls);
  std::vector<double> us(ncalls);
  std::uniform_real_distribution<double> U(0, 1);
  for (uli k = 0; k < ncalls; ++k) { qs[k] = rng() % n; us[k] = U(rng); }

  uli check = 0;
  auto t0 = Clock::now();
  for (uli k = 0; k < ncalls; ++k) check += S.sim(qs[k], us[k]);
  const double t_sim = secs(t0);
  uli check2 = 0;
  t0 = Clock::now();
  for (uli k = 0; k < ncalls; ++k) {
    const uli c = qs[k];
    const uli s0 = static_cast<uli>(static_cast<double>(tot[c]) * us[k] + 1.0);
    uli r = 0;
    for (uli e = off[c]; e < off[c + 1]; ++e)
      if (cum[e] >= s0) { r = to[e]; break; }
    check2 += r;
  }
  const double t_floor = secs(t0);
  std::cout << "Fx::sim, " << n << " states, " << cum.size() << " transitions: "
            << 1e9 * t_sim / ncalls << " ns/call; plain scan floor " << 1e9 * t_floor / ncalls
            << " ns/call; ratio " << t_sim / t_floor << (check == check2 ? "" : " MISMATCH") << "\n";
}

// ---- journeys of a 12-channel chain ----------------------------------------
struct Gen {
  std::mt19937 rng{42};
  std::vector<std::vector<double>> P;   // channel -> next channel weights
  const char* names[12] = {"display", "paid search", "email", "social", "organic", "affiliate",
                           "direct", "tv", "radio", "print", "video", "referral"};
  Gen() {
    std::gamma_distribution<double> g(0.5, 1.0);
    P.assign(12, std::vector<double>(12));
    for (auto& row : P)
      for (auto& x : row) x = g(rng);
  }
  std::string path() {
    std::geometric_distribution<int> len(0.3);
    int L = 1 + std::min(len(rng), 19);
    std::discrete_distribution<int> first({5, 4, 3, 3, 2, 2, 2, 1, 1, 1, 1, 1});
    int c = first(rng);
    std::string p = names[c];
    for (int k = 1; k < L; ++k) {
      c = std::discrete_distribution<int>(P[c].begin(), P[c].end())(rng);
      p += std::string(" > ") + names[c];
    }
    return p;
  }
};

void bench_steps() {
  Gen g;
  std::set<std::string> distinct;
  while (distinct.size() < 100000) distinct.insert(g.path());
  std::vector<std::string> vy(distinct.begin(), distinct.end());
  std::vector<uli> vc, vn;
  std::vector<double> vv;
  std::poisson_distribution<int> pc(0.4), pn(3);
  for (size_t r = 0; r < vy.size(); ++r) { vc.push_back(pc(g.rng)); vn.push_back(1 + pn(g.rng)); }
  for (uli order : {1ul, 3ul}) {
    SimulationMatrix m;
    build_simulation_matrix(vector_source(&vy, &vc, &vv, &vn), ">", order, 0, &m);
    Fx& S = m.S;
    uli nch = m.nchannels, max_npassi = m.max_npassi, nsim = m.nchannels_sim;
    double svc = m.svc;
    int verbose = 0;
    const std::vector<sli> table = state_channel_table(&m.mp_channels_sim_inv, nsim, order);
    const uli nwalks = 2000000, limit = max_npassi + 1;
    // Steps of the walks a worker seeded with s makes (same engine, same draws).
    auto steps_of = [&](uli seed, uli walks) {
      std::mt19937 e(static_cast<unsigned>(seed));
      std::uniform_real_distribution<double> U(0, 1);
      uli steps = 0;
      for (uli w = 0; w < walks; ++w) {
        uli c = 0;
        for (uli s = 0; s <= limit; ++s) {
          c = S.sim(c, U(e));
          ++steps;
          if (c == 1 || c == 2 || c == 0) break;
        }
      }
      return steps;
    };
    double t1 = 0;
    for (uli ncore : {1ul, 2ul}) {
      const uli seed = 11;
      SimulationSettings sim;   // one batch: a residual limit nothing exceeds
      sim.nsim_start = nwalks;
      sim.ncore = ncore;
      sim.seed = seed;
      sim.conv_par = 1e9;
      sim.verbose = verbose;
      auto t0 = Clock::now();
      const double c0 = cpu_secs();
      markov_simulate(S, table, order, nch, max_npassi, true, svc, sim);
      const double t = secs(t0), cpu = cpu_secs() - c0;
      uli steps = 0;
      for (uli w = 0; w < ncore; ++w) steps += steps_of(seed + w, nwalks / ncore);
      if (ncore == 1) t1 = t;
      std::cout << "order " << order << " (" << nsim - 3 << " states), ncore " << ncore << ": "
                << steps / t / 1e6 / ncore << " M steps/s per core, " << steps / t / 1e6
                << " M steps/s total (wall), " << steps / cpu / 1e6 << " M steps per CPU second, "
                << static_cast<double>(steps) / nwalks
                << " steps/walk" << (ncore == 2 ? ", speed-up " + std::to_string(t1 / t) : "")
                << "\n";
    }
  }
}

void bench_build(uli order) {
  const std::string file = "/tmp/touchlane_markov_bench_1e6.csv";
  if (!std::ifstream(file)) {
    Gen g;
    std::ofstream out(file);
    out << "path;conv;nulls;value\n";
    std::poisson_distribution<int> pc(0.4), pn(3);
    for (int r = 0; r < 1000000; ++r) out << g.path() << ";" << pc(g.rng) << ";" << pn(g.rng) << ";1.5\n";
  }
  const double rss0 = peak_mb();
  SimulationMatrix m;
  auto t0 = Clock::now();
  build_simulation_matrix(file_source(file, "path", "conv", "value", "nulls", ";"), ">", order, 0,
                          &m);
  const Fx& S = m.S;
  const uli nsim = m.nchannels_sim;
  const double t = secs(t0);
  std::cout << "build order " << order << " from 1,000,000 rows: " << t << " s, " << nsim
            << " states, " << S.non_zeros << " transitions, capacity " << S.capacity()
            << ", peak RSS " << peak_mb() << " MB (" << rss0 << " MB before)\n";
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "sim";
  if (mode == "sim") bench_sim();
  else if (mode == "steps") bench_steps();
  else if (mode == "build") bench_build(argc > 2 ? std::stoul(argv[2]) : 1);
  return 0;
}
