// Reading journeys into the Markov chain next to its floor, one process per
// figure so that the peak resident memory is that figure's own:
//   floor FILE      read the file line by line, split the fields and the
//                   channels, count order-1 transitions in a flat table
//   chain FILE K    the library's chain of order K from the same file
// Each prints CPU seconds (all threads) and peak RSS. bench/read_chain.sh
// runs both at 1M and 10M journeys and on the 1M file repeated ten times,
// and prints the ratios.
// Build from the package root:
//   g++ -O2 -std=c++17 -Isrc bench/read_chain.cpp src/common/*.cpp src/journeys/*.cpp \
//       src/markov/{fx,matrices}.cpp -larmadillo -pthread -o /tmp/read_chain
#include <sys/resource.h>
#include <time.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "markov/markov.h"

namespace {

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

std::string_view trim(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

// "path;conv;nulls;value" as bench/gen_journeys.R writes it.
unsigned long floor_pass(const char* file) {
  std::ifstream in(file, std::ios::binary);
  std::string line;
  std::getline(in, line);
  std::unordered_map<std::string, unsigned> ids;
  std::vector<unsigned long> count;   // (from, to) over states 0 start, 1 conv, 2 null, 3.. channels
  unsigned dim = 0;
  auto grow = [&](unsigned n) {
    if (n <= dim) return;
    unsigned nd = std::max(2 * dim, n);
    std::vector<unsigned long> c(static_cast<size_t>(nd) * nd, 0);
    for (unsigned i = 0; i < dim; ++i)
      for (unsigned j = 0; j < dim; ++j) c[static_cast<size_t>(i) * nd + j] = count[static_cast<size_t>(i) * dim + j];
    count.swap(c);
    dim = nd;
  };
  grow(16);
  std::string key;
  while (std::getline(in, line)) {
    const std::string_view l(line);
    const size_t a = l.find(';'), b = l.find(';', a + 1), c = l.find(';', b + 1);
    const unsigned long conv = std::stoul(std::string(l.substr(a + 1, b - a - 1)));
    const unsigned long nulls = std::stoul(std::string(l.substr(b + 1, c - b - 1)));
    const std::string_view path = l.substr(0, a);
    unsigned prev = 0;
    for (size_t s = 0; s <= path.size();) {
      size_t e = path.find('>', s);
      if (e == std::string_view::npos) e = path.size();
      const std::string_view name = trim(path.substr(s, e - s));
      s = e + 1;
      if (name.empty()) continue;
      key.assign(name);
      auto it = ids.emplace(key, static_cast<unsigned>(ids.size()) + 3).first;
      grow(it->second + 1);
      count[static_cast<size_t>(prev) * dim + it->second] += conv + nulls;
      prev = it->second;
    }
    count[static_cast<size_t>(prev) * dim + 1] += conv;
    count[static_cast<size_t>(prev) * dim + 2] += nulls;
  }
  unsigned long total = 0;
  for (unsigned long x : count) total += x;
  return total;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const std::string mode = argv[1];
  const double t0 = cpu_secs();
  if (mode == "floor") {
    const unsigned long total = floor_pass(argv[2]);
    std::printf("floor %.3f s CPU, peak %.0f MB (%lu transitions counted)\n", cpu_secs() - t0,
                peak_mb(), total);
  } else if (mode == "chain") {
    const uli order = argc > 3 ? std::stoul(argv[3]) : 1;
    SimulationMatrix m;
    build_simulation_matrix(file_source(argv[2], "path", "conv", "value", "nulls", ";"), ">",
                            order, 0, &m);
    const double t = cpu_secs() - t0;
    // A digest of the transition table, to compare builds of the reader.
    std::vector<std::string> from, to;
    std::vector<double> prob;
    m.S.tran_matx(&m.vchannels_sim, &from, &to, &prob);
    unsigned long digest = 1469598103934665603ul;
    auto mix = [&](const std::string& x) {
      for (unsigned char ch : x) digest = (digest ^ ch) * 1099511628211ul;
    };
    for (size_t r = 0; r < prob.size(); ++r) {
      char num[32];
      std::snprintf(num, sizeof num, "%.17g", prob[r]);
      mix(from[r] + "|" + to[r] + "|" + num);
    }
    for (const std::string& c : m.vchannels) mix(c);
    std::printf("chain %.3f s CPU, peak %.0f MB (order %lu: %lu states, %lu transitions, "
                "table digest %016lx)\n", t, peak_mb(), order, m.nchannels_sim, m.S.non_zeros,
                digest);
  } else {
    return 2;
  }
  return 0;
}
