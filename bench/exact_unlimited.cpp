// The unlimited horizon of the exact Markov method on random journeys
// (geometric lengths, mean about 2.3 channels, at most 12; one row per
// customer, a fifth converting) over many channels and high orders, where
// the sweeps may stall and the direct solve takes over.
//   exact_unlimited CHANNELS ORDER ROWS   e.g. 1000 3 100000, 50 3 100000, 10 5 2000
// Prints states, transitions, CPU seconds of the solve on 2 threads, and
// the probabilities from "(start)" (conversion + null should be 1).
// Build from the package root:
//   g++ -O2 -std=c++17 -Isrc bench/exact_unlimited.cpp src/markov/{exact,matrices,fx,simulation}.cpp \
//       src/journeys/*.cpp src/common/*.cpp -larmadillo -pthread -o /tmp/exact_unlimited
#include <time.h>

#include <cstdio>
#include <random>

#include "markov/markov.h"

namespace {
double cpu_secs() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec + 1e-9 * ts.tv_nsec;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return 2;
  const uli nch = std::stoul(argv[1]), order = std::stoul(argv[2]), nrows = std::stoul(argv[3]);
  std::mt19937 rng(7);
  std::geometric_distribution<int> len(0.44);
  std::vector<std::string> vy;
  std::vector<uli> vc, vn;
  std::vector<double> vv;
  for (uli r = 0; r < nrows; ++r) {
    const int L = std::min(len(rng) + 1, 12);
    std::string p;
    for (int k = 0; k < L; ++k) p += (k ? ">c" : "c") + std::to_string(rng() % nch);
    vy.push_back(p);
    const uli c = rng() % 5 == 0;
    vc.push_back(c);
    vn.push_back(1 - c);
  }
  SimulationMatrix m;
  build_simulation_matrix(vector_source(&vy, &vc, &vv, &vn), ">", order, 0, &m);
  const std::vector<sli> table = state_channel_table(&m.mp_channels_sim_inv, m.nchannels_sim, order);
  std::vector<double> cv, nv;
  double pc = 0, pn = 0;
  const double t0 = cpu_secs();
  markov_exact(&m.S, &table, order, m.nchannels, 0, true, 2, &cv, &nv, &pc, &pn);
  std::printf("%lu channels, order %lu, %lu rows: %lu states, %lu transitions; unlimited solve "
              "%.2f s CPU; conversion %.17g + null %.17g = 1 %+.1e\n", m.nchannels, order, nrows,
              m.nchannels_sim, m.S.non_zeros, cpu_secs() - t0, pc, pn, pc + pn - 1);
}
