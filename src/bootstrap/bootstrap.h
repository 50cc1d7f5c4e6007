// Uncertainty of channel attributions: a bootstrap over aggregated
// journeys in which every row's conversions and nulls are redrawn, so a
// row of counts is resampled without expanding it into customers.
#ifndef TOUCHLANE_BOOTSTRAP_BOOTSTRAP_H
#define TOUCHLANE_BOOTSTRAP_BOOTSTRAP_H

#include <string>
#include <vector>

#include "common/common.h"
#include "markov/markov.h"

// Settings of the models the bootstrap can refit; each model reads its own.
struct BootstrapSettings {
  std::string cha_sep = ">";
  double first_share = 0.4, last_share = 0.4;          // "position"
  std::vector<std::string> direct_channels{"direct"};  // "last_non_direct"
  int flg_simplified = 0;                              // "shapley"
  // "markov": order, method and the simulation settings (one thread and
  // the replicate's seed are set per fit).
  MarkovSettings markov;
};

// Models by name: "first", "last", "linear", "position", "last_non_direct",
// "shapley", "logistic", "markov".
extern const std::vector<std::string> kBootstrapModels;

// Per-channel attributed conversions of one model on one journey set
// (vv, vn may be empty); channels in the model's own order. `seed` seeds
// the Markov simulation (one thread).
void fit_channels(const std::string& model, const BootstrapSettings& s,
                  const std::vector<std::string>& vy, const std::vector<uli>& vc,
                  const std::vector<double>& vv, const std::vector<uli>& vn, uli seed,
                  std::vector<std::string>* vchannels, std::vector<double>* convs);

// The replicates' engine: the 64-bit Mersenne Twister, every number the
// one std::mt19937_64 gives from the same seed, with a state refresh that
// does not branch on random bits (half of such branches are mispredicted).
class DrawEngine {
 public:
  using result_type = uint64_t;
  static constexpr uint64_t min() { return 0; }
  static constexpr uint64_t max() { return ~uint64_t{0}; }
  explicit DrawEngine(uint64_t seed = 5489u) { this->seed(seed); }
  void     seed(uint64_t s);
  inline uint64_t operator()();
  // n uniforms in [0, 1), the ones n draws of uniform_real_distribution<double>(0, 1)
  // give with libstdc++, made a block at a time.
  void     uniforms(double* out, size_t n);

 private:
  void     refresh();
  uint64_t x_[312];
  uli      p_ = 312;
};

// Inline: one or more numbers per redrawn count.
inline uint64_t DrawEngine::operator()() {
  if (p_ >= 312) refresh();
  uint64_t y = x_[p_++];
  y ^= (y >> 29) & 0x5555555555555555ULL;
  y ^= (y << 17) & 0x71d67fffeda60000ULL;
  y ^= (y << 37) & 0xfff7eee000000000ULL;
  return y ^ (y >> 43);
}

// Row i of replicate r: conversions ~ Poisson(vc[i]) and nulls ~
// Poisson(vn[i]) (each customer counted a Poisson(1) number of times),
// value scaled with the conversions. The engine of replicate r is seeded
// from seed and r alone.
void bootstrap_rows(uli seed, uli r, const std::vector<uli>& vc, const std::vector<double>& vv,
                    const std::vector<uli>& vn, std::vector<uli>* rc, std::vector<double>* rv,
                    std::vector<uli>* rn);

// The seed of the simulated Markov walks of replicate r.
uli replicate_walk_seed(uli seed, uli r);

// Fits the model on the journeys (vchannels, estimate) and on nrep
// replicates on nthreads threads (rows with the same path text pooled
// first, which leaves the distribution of the redrawn counts as it is); reps is nrep x |vchannels|, replicate
// by replicate, channels matched by name (0 for a channel a replicate
// lacks). A replicate without conversions attributes nothing. When the
// logistic estimate's fit reached the optimiser's gradient tolerance, each
// logistic replicate is refitted from its coefficients (the fit from zero
// to within that tolerance); otherwise from zero. Results do not depend on
// nthreads. Throws std::invalid_argument for an unknown
// model or nrep 0, and whatever the model throws.
void bootstrap_cpp(const std::string& model, const BootstrapSettings& s,
                   const std::vector<std::string>& vy, const std::vector<uli>& vc,
                   const std::vector<double>& vv, const std::vector<uli>& vn, uli nrep, uli seed,
                   uli nthreads, std::vector<std::string>* vchannels,
                   std::vector<double>* estimate, std::vector<double>* reps);

#endif
