// One fit next to 200 bootstrap replicates, per model, in CPU seconds of
// this process (replicates on one thread so CPU and work agree; the fit the
// median of three, as a shared machine makes single short runs noisy), on a table
// of one-row-per-customer journeys (bench/gen_journeys.R writes it).
//   bench_bootstrap FILE [DUMP_DIR] [MODEL...]
// With DUMP_DIR, every model's replicate table is written there as raw
// doubles (DUMP_DIR/MODEL.bin), so two builds can be compared byte for byte
// (cmp) for the same seed. Models: first last linear position
// last_non_direct shapley logistic markov (exact, order 2) markov_sim
// (simulated, order 2); all when none are named.
// Build and run from the package root:
//   Rscript bench/gen_journeys.R 1000000 build/journeys_1m.csv
//   cmake -S tests/cpp -B build/plain -DCMAKE_BUILD_TYPE=RelWithDebInfo
//   cmake --build build/plain --target bench_bootstrap
//   build/plain/bench_bootstrap build/journeys_1m.csv
#include <algorithm>
#include <ctime>
#include <cstdio>
#include <string>
#include <vector>

#include "bootstrap/bootstrap.h"
#include "journeys/journeys.h"

namespace {

double cpu_seconds() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE [DUMP_DIR] [MODEL...]\n", argv[0]);
    return 2;
  }
  const std::string dump = argc > 2 ? argv[2] : "";
  std::vector<std::string> models;
  for (int k = 3; k < argc; ++k) models.push_back(argv[k]);
  if (models.empty())
    models = {"first", "last", "linear", "position", "last_non_direct", "shapley", "logistic",
              "markov", "markov_sim"};

  const JourneySource src = file_source(argv[1], "path", "conv", "value", "nulls", ";");
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
  std::printf("%zu rows\n%-16s %10s %12s %8s\n", vy.size(), "model", "one fit", "200 reps",
              "ratio");
  for (const std::string& name : models) {
    BootstrapSettings s;
    s.markov.order = 2;
    s.markov.method.exact = name == "markov" ? 1 : 0;
    const std::string model = name == "markov_sim" ? "markov" : name;
    std::vector<std::string> ch;
    std::vector<double> est, reps;
    double fits[3];
    for (double& f : fits) {
      const double t = cpu_seconds();
      fit_channels(model, s, vy, vc, vv, vn, 1, &ch, &est);
      f = cpu_seconds() - t;
    }
    std::sort(fits, fits + 3);
    const double one = fits[1];
    const double t0 = cpu_seconds();
    bootstrap_cpp(model, s, vy, vc, vv, vn, 200, 1, 1, &ch, &est, &reps);
    const double all = cpu_seconds() - t0 - one;   // the estimate is one more fit
    std::printf("%-16s %10.3f %12.3f %8.1f\n", name.c_str(), one, all, all / one);
    std::fflush(stdout);
    if (!dump.empty()) {
      FILE* f = std::fopen((dump + "/" + name + ".bin").c_str(), "wb");
      if (f == nullptr) {
        std::perror(dump.c_str());
        return 1;
      }
      std::fwrite(reps.data(), sizeof(double), reps.size(), f);
      std::fclose(f);
    }
  }
  return 0;
}
