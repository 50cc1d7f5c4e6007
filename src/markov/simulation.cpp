#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <exception>
#include <limits>
#include <mutex>
#include <random>
#include <stdexcept>
#include <thread>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "markov/markov.h"

namespace {

constexpr uli kConversion = kStateConversion, kNull = kStateNull;
constexpr uli kStopCheckEvery = 4096;   // walks between looks at the stop flag

[[noreturn]] void no_channel_entry(uli c) {
  throw std::out_of_range("simulation: state " + std::to_string(c) + " has no channel entry");
}

[[noreturn]] void channel_beyond(uli j, uli c, uli nchannels) {
  throw std::out_of_range("simulation: channel " + std::to_string(j) + " of state " +
                          std::to_string(c) + " is beyond " + std::to_string(nchannels));
}

// The channels a walk passes, counted once each. Up to 64 channels a state's
// channels are one bit mask and a walk's the union of its states' masks;
// beyond, a channel is marked when its stamp equals the current walk's
// number, so nothing needs clearing between walks. Either way a state with
// a channel beyond nchannels throws when a walk reaches it.
class WalkUniforms;

class MaskChannels {
 public:
  MaskChannels(const sli* table, uli nstates, uli order, uli nchannels)
      : states_(nstates), table_(table), order_(order), nchannels_(nchannels) {
    for (uli c = 0; c < nstates; ++c)
      for (uli k = 0; k < order && table[c * order + k] >= 0; ++k) {
        const uli j = static_cast<uli>(table[c * order + k]);
        if (j < nchannels) states_[c].mask |= uint64_t{1} << j;
        else states_[c].bad = 1;
      }
  }
  void start() { seen_ = 0; }
  void pass(uli c) {
    if (states_[c].bad) check(c);
    seen_ |= states_[c].mask;
  }
  void add_to(double* totals) const { add_mask(seen_, totals); }
  uint64_t seen() const { return seen_; }
  static void add_mask(uint64_t m, double* totals) {
    for (; m != 0; m &= m - 1) totals[__builtin_ctzll(m)] += 1.0;
  }

 private:
  friend uli walk_once(WalkUniforms*, const Fx::Walker&, uli, uli, uli, uli, MaskChannels*);
  // Throws for the first channel beyond nchannels in the state's row.
  void check(uli c) const {
    const sli* row = table_ + c * order_;
    for (uli k = 0; k < order_ && row[k] >= 0; ++k) {
      const uli j = static_cast<uli>(row[k]);
      if (j >= nchannels_) channel_beyond(j, c, nchannels_);
    }
  }
  struct State { uint64_t mask = 0; uint64_t bad = 0; };   // bad: a channel beyond nchannels
  std::vector<State> states_;
  const sli* table_;
  uli order_, nchannels_;
  uint64_t seen_ = 0;
};

class StampChannels {
 public:
  StampChannels(const sli* table, uli /*nstates*/, uli order, uli nchannels)
      : stamp_(nchannels, 0), table_(table), order_(order), nchannels_(nchannels) {
    touched_.reserve(nchannels);
  }
  void start() {
    ++walk_;
    touched_.clear();
  }
  void pass(uli c) {
    const sli* row = table_ + c * order_;
    for (uli k = 0; k < order_ && row[k] >= 0; ++k) {
      const uli j = static_cast<uli>(row[k]);
      if (j >= nchannels_) channel_beyond(j, c, nchannels_);
      if (stamp_[j] != walk_) {
        stamp_[j] = walk_;
        touched_.push_back(j);
      }
    }
  }
  void add_to(double* totals) const {
    for (uli j : touched_) totals[j] += 1.0;
  }

 private:
  std::vector<uli> stamp_, touched_;
  const sli* table_;
  uli order_, nchannels_;
  uli walk_ = 0;
};

// The walks' uniforms, a block at a time: the numbers canonical_uniform
// gives, in the same order.
class WalkUniforms {
 public:
  explicit WalkUniforms(uint32_t seed = 5489u) : engine_(seed) {}
  void seed(uint32_t s) {
    engine_.seed(s);
    pos_ = kBlock;
  }
  double next() {
    const double u = peek();
    ++pos_;
    return u;
  }
  // The next uniform, left for next().
  double peek() {
    if (pos_ == kBlock) {
      engine_.uniforms(buf_, kBlock);
      pos_ = 0;
    }
    return buf_[pos_];
  }
  void skip() { ++pos_; }   // after peek()

 private:
  static constexpr size_t kBlock = 312;
  WalkEngine engine_;
  double buf_[kBlock];
  size_t pos_ = kBlock;
};

// One walk from "(start)" of at most max_npassi + 1 draws; returns the state
// it ended in (conversion, null, or anything else for an incomplete walk).
// With masks the channels passed are kept in a register.
uli walk_once(WalkUniforms* unif, const Fx::Walker& S, uli nstates_table, uli max_npassi,
              uli ichannel_conv, uli ichannel_null, MaskChannels* channels) {
  const MaskChannels::State* states = channels->states_.data();
  uint64_t seen = 0;
  uli c = 0;
  Fx::Walker::Ahead a = S.ahead(S.at(0), unif->peek());
  for (uli steps = 0; steps <= max_npassi; ++steps) {
    unif->skip();   // the draw's uniform; the next one is only looked at
    a = S.advance(a, unif->peek());
    c = Fx::Walker::state(a.at);
    if (c == ichannel_conv || c == ichannel_null || c == 0) break;
    if (c >= nstates_table) no_channel_entry(c);
    const MaskChannels::State& st = states[c];
    if (st.bad) channels->check(c);
    seen |= st.mask;
  }
  channels->seen_ = seen;
  return c;
}

template <class Channels>
uli walk_once(WalkUniforms* unif, const Fx::Walker& S, uli nstates_table, uli max_npassi,
              uli ichannel_conv, uli ichannel_null, Channels* channels) {
  channels->start();
  uli c = 0;
  Fx::Walker::Cursor at = S.at(0);
  for (uli steps = 0; steps <= max_npassi; ++steps) {
    at = S.step(at, unif->next());
    c = Fx::Walker::state(at);
    if (c == ichannel_conv || c == ichannel_null || c == 0) break;
    if (c >= nstates_table) no_channel_entry(c);
    channels->pass(c);
  }
  return c;
}

template <class Channels>
void walk_folds(uli engine_seed, uli kcore, uli nfold, uli nsim_fold_core,
                const std::vector<sli>& state_channels, uli max_npassi, uli ichannel_conv,
                uli ichannel_null, uli order, uli nchannels, const Fx::Walker& S, SimAccumulators* acc,
                const std::atomic<bool>* stop) {
  WalkUniforms unif(static_cast<uint32_t>(engine_seed & uli{0xFFFFFFFF}));
  const uli nstates_table = order ? state_channels.size() / order : 0;
  Channels channels(state_channels.data(), nstates_table, order, nchannels);
  double* T = acc->T0[kcore].data();
  double* N = acc->N0[kcore].data();
  uli walk = 0, nconv = 0, nnull = 0, ninc = 0;
  for (uli f = 0; f < nfold && !stop->load(std::memory_order_relaxed); ++f) {
    double* Tf = T + f * nchannels;
    double* Nf = N + f * nchannels;
    for (uli r = 0; r < nsim_fold_core; ++r) {
      if (r % kStopCheckEvery == kStopCheckEvery - 1 && stop->load(std::memory_order_relaxed)) break;
      ++walk;
      const uli c = walk_once(&unif, S, nstates_table, max_npassi, ichannel_conv,
                              ichannel_null, &channels);
      if (c == ichannel_conv) {
        ++nconv;
        channels.add_to(Tf);
      } else if (c == ichannel_null) {
        ++nnull;
        channels.add_to(Nf);
      } else {
        ++ninc;   // step limit reached, or a state without successors
      }
    }
  }
  acc->nconv[kcore] += nconv;
  acc->nnull[kcore] += nnull;
  acc->v_inc_path[kcore] += ninc;
  acc->v_path[kcore] += walk;
}

// With a fixed seed every batch reseeds worker w's engine with the same
// seed, so its walks are the first ones of one stream whatever the batch:
// the stream's walks are recorded (how each ended and the channels it
// passed) and a batch sums the records, walking only those not yet
// recorded. The totals are sums of ones, the same in any order, so every
// count is the one walking again gives.
struct WalkStream {
  static constexpr uli kMaxWalks = uli{1} << 22;   // over all workers: 36 MB of records
  uli limit = kMaxWalks;                           // this worker's share
  uli seed = 0;
  WalkUniforms unif;
  std::vector<uint8_t> end;     // 1 conversion, 2 null, 0 incomplete
  std::vector<uint64_t> seen;   // channels passed
  std::vector<uli> hist, count;   // scratch of the counting
};

// Worker kcore's batch of nfold x nsim_fold_core walks from the stream of
// engine_seed (at most 64 channels); false, with nothing done, when the
// stream would grow past its limit (the batch is then walked as without a
// stream).
bool stream_batch(WalkStream* ws, uli engine_seed, uli kcore, uli nfold, uli nsim_fold_core,
                  const std::vector<sli>& state_channels, uli max_npassi, uli ichannel_conv,
                  uli ichannel_null, uli order, uli nchannels, const Fx::Walker& S,
                  SimAccumulators* acc, const std::atomic<bool>* stop) {
  if (nsim_fold_core > ws->limit / nfold) return false;
  const uli need = nfold * nsim_fold_core;
  if (ws->end.empty() || ws->seed != engine_seed) {
    ws->seed = engine_seed;
    ws->unif.seed(static_cast<uint32_t>(engine_seed & uli{0xFFFFFFFF}));
    ws->end.clear();
    ws->seen.clear();
  }
  if (ws->end.size() < need) {
    const uli nstates_table = order ? state_channels.size() / order : 0;
    MaskChannels channels(state_channels.data(), nstates_table, order, nchannels);
    ws->end.reserve(need);
    ws->seen.reserve(need);
    for (uli r = ws->end.size(); r < need; ++r) {
      if (r % kStopCheckEvery == kStopCheckEvery - 1 && stop->load(std::memory_order_relaxed))
        return true;   // the batch is abandoned
      const uli c = walk_once(&ws->unif, S, nstates_table, max_npassi, ichannel_conv,
                              ichannel_null, &channels);
      ws->end.push_back(c == ichannel_conv ? 1 : c == ichannel_null ? 2 : 0);
      ws->seen.push_back(channels.seen());
    }
  }
  // A fold's records are counted per ending and per byte value of their
  // channel masks, without branching on either, and each channel's count
  // added once: the counts are whole numbers, so the totals are the ones
  // adding one per walk gives.
  const uli nbytes = (nchannels + 7) / 8;
  std::vector<uli>& hist = ws->hist;
  double* T = acc->T0[kcore].data();
  double* N = acc->N0[kcore].data();
  uli nconv = 0, nnull = 0;
  for (uli f = 0; f < nfold; ++f) {
    hist.assign(3 * nbytes * 256, 0);
    uli ends[3] = {0, 0, 0};
    for (uli r = f * nsim_fold_core; r < (f + 1) * nsim_fold_core; ++r) {
      const uli e = ws->end[r];
      const uint64_t m = ws->seen[r];
      ++ends[e];
      uli* h = hist.data() + e * nbytes * 256;
      for (uli k = 0; k < nbytes; ++k) ++h[k * 256 + ((m >> (8 * k)) & 0xff)];
    }
    nconv += ends[1];
    nnull += ends[2];
    for (uli e = 1; e <= 2; ++e) {
      double* out = (e == 1 ? T : N) + f * nchannels;
      std::fill(ws->count.begin(), ws->count.end(), 0);
      ws->count.resize(nchannels, 0);
      const uli* h = hist.data() + e * nbytes * 256;
      for (uli k = 0; k < nbytes; ++k)
        for (uli v = 1; v < 256; ++v)
          if (const uli n = h[k * 256 + v])
            for (uli bits = v; bits != 0; bits &= bits - 1)
              ws->count[8 * k + static_cast<uli>(__builtin_ctzll(bits))] += n;
      for (uli j = 0; j < nchannels; ++j)
        if (ws->count[j] != 0) out[j] += static_cast<double>(ws->count[j]);
    }
  }
  acc->nconv[kcore] += nconv;
  acc->nnull[kcore] += nnull;
  acc->v_inc_path[kcore] += need - nconv - nnull;
  acc->v_path[kcore] += need;
  return true;
}

void walk_model(uli engine_seed, uli kcore, uli nfold, uli nsim_fold_core,
                const std::vector<sli>& state_channels, uli max_npassi, uli ichannel_conv,
                uli ichannel_null, uli order, uli nchannels, const Fx::Walker& S,
                SimAccumulators* acc, const std::atomic<bool>* stop) {
  if (nchannels <= 64)
    walk_folds<MaskChannels>(engine_seed, kcore, nfold, nsim_fold_core, state_channels,
                             max_npassi, ichannel_conv, ichannel_null, order, nchannels, S, acc,
                             stop);
  else
    walk_folds<StampChannels>(engine_seed, kcore, nfold, nsim_fold_core, state_channels,
                              max_npassi, ichannel_conv, ichannel_null, order, nchannels, S, acc,
                              stop);
}

// One batch on ncore threads, worker w filling slot w. The calling thread
// waits, checking for a user interrupt; an interrupt stops the workers and
// is rethrown once they are joined. streams: one per worker when the
// engines replay a fixed seed and the channels fit a mask, else null.
void run_batch(uli ncore, const std::vector<uli>& engine_seeds, uli nfold, uli nsim_fold_core,
               const std::vector<sli>& state_channels, uli max_npassi, uli order,
               uli nchannels, const Fx::Walker& S, SimAccumulators* acc, WalkStream* streams) {
  parallel_tasks(ncore, ncore, [&](uli w, const std::atomic<bool>& stop) {
    if (streams != nullptr &&
        stream_batch(streams + w, engine_seeds[w], w, nfold, nsim_fold_core, state_channels,
                     max_npassi, kConversion, kNull, order, nchannels, S, acc, &stop))
      return;
    walk_model(engine_seeds[w], w, nfold, nsim_fold_core, state_channels, max_npassi,
               kConversion, kNull, order, nchannels, S, acc, &stop);
  });
}

// Engines are seeded on the calling thread: the device is not shared with
// workers. With a fixed seed worker w replays seed + w in every batch;
// without one each batch draws fresh seeds.
void seed_engines(uli seed, std::vector<uli>* engine_seeds) {
  for (uli w = 0; w < engine_seeds->size(); ++w)
    (*engine_seeds)[w] = seed == gb::limsup ? static_cast<uli>(gb::device()) : (seed + w);
}

// Per-fold and per-channel totals over the workers' slots, and the fold
// residual: the largest share of the conversions that one fold's channel
// split moves away from the split of all folds together.
struct FoldTotals {
  uli nfold, nchannels;
  bool flg_null;
  std::vector<double> T, N, Tf, TVm;
  FoldTotals(uli nf, uli nch, bool with_nulls)
      : nfold(nf), nchannels(nch), flg_null(with_nulls), T(nf * nch), N(nf * nch), Tf(nf),
        TVm(nch) {}

  // Tc / Nc: per channel over all folds.
  double residual(const SimAccumulators& acc, double svc, std::vector<double>* Tc,
                  std::vector<double>* Nc) {
    const uli nch = nchannels, nf = nfold;
    std::fill(T.begin(), T.end(), 0.0);
    std::fill(N.begin(), N.end(), 0.0);
    for (uli w = 0; w < acc.T0.size(); ++w)
      for (uli x = 0; x < nf * nch; ++x) {
        T[x] += acc.T0[w][x];
        if (flg_null) N[x] += acc.N0[w][x];
      }
    double sT = 0;
    std::fill(Tc->begin(), Tc->end(), 0.0);
    std::fill(Nc->begin(), Nc->end(), 0.0);
    for (uli f = 0; f < nf; ++f) {
      Tf[f] = 0;
      for (uli j = 0; j < nch; ++j) {
        const double t = T[f * nch + j];
        Tf[f] += t;
        (*Tc)[j] += t;
        if (flg_null) (*Nc)[j] += N[f * nch + j];
        sT += t;
      }
    }
    for (uli j = 0; j < nch; ++j) TVm[j] = (*Tc)[j] / sT * svc;
    double res_conv = 0;
    for (uli f = 0; f < nf; ++f) {
      double dev = 0;
      for (uli j = 0; j < nch; ++j) dev += std::fabs(T[f * nch + j] / Tf[f] * svc - TVm[j]);
      dev /= svc;
      if (dev > res_conv) res_conv = dev;   // a fold without conversions (NaN) is skipped
    }
    return res_conv;
  }
};

void report_batch(uli nsim_tot, double res_conv, double conv_par) {
  if (res_conv > conv_par)
    printA("Number of simulations: " + std::to_string(nsim_tot) +
           " - Reaching convergence (wait...): " + f_print_perc(res_conv) + "% > " +
           f_print_perc(conv_par) + "%");
  else
    printA("Number of simulations: " + std::to_string(nsim_tot) +
           " - Convergence reached: " + f_print_perc(res_conv) + "% < " +
           f_print_perc(conv_par) + "%");
}

// The size of the next batch. The running total grows by rate_step_sim,
// and the next batch is that total minus the size of the batch just run,
// not minus everything run so far: this looks like an off-by-one-batch slip
// but is intended. The accumulators keep every batch, so the printed total
// is a nominal schedule rather than a count of walks; the schedule fixes
// how many walks each seeded worker replays, and with it every seeded
// result, so it must not be "corrected".
void next_batch(double rate_step_sim, bool converged, uli* nsim_tot, uli* nsim_start) {
  const double next = std::floor(static_cast<double>(*nsim_tot) * rate_step_sim);
  if (next < kTwo64) {
    *nsim_tot = static_cast<uli>(next);
    *nsim_start = *nsim_tot - *nsim_start;
  } else if (!converged) {
    throw std::invalid_argument("no convergence within 2^64 simulations; raise conv_par");
  }
}

// The walk counts over all workers into s_nconv / s_nnull; throws when no
// walk converted.
void finish_simulation(const SimAccumulators& acc, uli limit, bool flg_null, int verbose,
                       SimulationOutcome* out) {
  uli s_inc_path = 0, s_path = 0, sconv = 0, snull = 0;
  for (uli w = 0; w < acc.nconv.size(); ++w) {
    s_inc_path += acc.v_inc_path[w];
    s_path += acc.v_path[w];
    sconv += acc.nconv[w];
    snull += acc.nnull[w];
  }
  out->s_nconv = static_cast<double>(sconv);
  out->s_nnull = flg_null ? static_cast<double>(snull) : 0.0;
  out->walks = s_path;
  const double succ_path =
      1.0 - static_cast<double>(s_inc_path) / static_cast<double>(s_path);
  out->ended_share = succ_path;
  if (verbose == 1)
    printA("Percentage of simulated paths that successfully end before maximum number of steps (" +
           std::to_string(limit) + ") is reached: " + f_print_perc(succ_path) + "%");
  if (sconv == 0)
    throw std::invalid_argument("no simulated journey converted within " + std::to_string(limit) +
                                " steps: raise max_step");
}

}  // namespace

std::vector<sli> state_channel_table(const StateInverse* mp_channels_sim_inv, uli nstates,
                                     uli order) {
  std::vector<sli> table(nstates * order, -1);
  for (const auto& kv : *mp_channels_sim_inv) {
    if (kv.first >= nstates) continue;
    const size_t n = std::min<size_t>(kv.second.size(), order);
    for (size_t k = 0; k < n; ++k) table[kv.first * order + k] = kv.second[k];
  }
  return table;
}

void WalkEngine::seed(uint32_t s) {
  x_[0] = s;
  for (uint32_t i = 1; i < 624; ++i) x_[i] = 1812433253u * (x_[i - 1] ^ (x_[i - 1] >> 30)) + i;
  p_ = 624;
}

void WalkEngine::refresh() {
  constexpr uint32_t kUpper = 0x80000000u, kLower = 0x7fffffffu, kMatrix = 0x9908b0dfu;
  const auto twist = [](uint32_t a, uint32_t b, uint32_t m) {
    const uint32_t y = (a & kUpper) | (b & kLower);
    return m ^ (y >> 1) ^ ((0u - (y & 1u)) & kMatrix);
  };
  uint32_t i = 0;
  for (; i < 624 - 397; ++i) x_[i] = twist(x_[i], x_[i + 1], x_[i + 397]);
  for (; i < 623; ++i) x_[i] = twist(x_[i], x_[i + 1], x_[i + 397 - 624]);
  x_[623] = twist(x_[623], x_[0], x_[396]);
  p_ = 0;
}

void WalkEngine::uniforms(double* out, size_t n) {
#if defined(__GLIBCXX__)
  const auto temper = [](uint32_t y) {
    y ^= y >> 11;
    y ^= (y << 7) & 0x9d2c5680u;
    y ^= (y << 15) & 0xefc60000u;
    return y ^ (y >> 18);
  };
  const double below1 = std::nextafter(1.0, 0.0);
  size_t k = 0;
  while (k < n) {
    if (p_ + 2 > 624) {   // a pair across a refresh
      out[k++] = canonical_uniform(this);
      continue;
    }
    const size_t m = std::min<size_t>(n - k, (624 - p_) / 2);
    const uint32_t* x = x_ + p_;
    size_t i = 0;
#if defined(__SSE2__)
    // Two pairs at a time, with the same operations: the halves are whole
    // numbers below 2^32, exact as doubles (made by setting them into the
    // mantissa of 2^52 and taking 2^52 away), the sum rounded once, and the
    // least of the result and the double below 1 what the test below keeps.
    const __m128i lo32 = _mm_set1_epi64x(0xffffffffLL), magic = _mm_set1_epi64x(0x4330000000000000LL);
    const __m128d two52 = _mm_set1_pd(0x1p52), two32 = _mm_set1_pd(0x1p32), two64 = _mm_set1_pd(0x1p-64),
                  top = _mm_set1_pd(below1);
    const auto temper4 = [](__m128i y) {
      y = _mm_xor_si128(y, _mm_srli_epi32(y, 11));
      y = _mm_xor_si128(y, _mm_and_si128(_mm_slli_epi32(y, 7), _mm_set1_epi32(static_cast<int>(0x9d2c5680u))));
      y = _mm_xor_si128(y, _mm_and_si128(_mm_slli_epi32(y, 15), _mm_set1_epi32(static_cast<int>(0xefc60000u))));
      return _mm_xor_si128(y, _mm_srli_epi32(y, 18));
    };
    const auto exact = [&](__m128i v) {
      return _mm_sub_pd(_mm_castsi128_pd(_mm_or_si128(v, magic)), two52);
    };
    for (; i + 2 <= m; i += 2) {
      const __m128i y = temper4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(x + 2 * i)));
      const __m128d lo = exact(_mm_and_si128(y, lo32)), hi = exact(_mm_srli_epi64(y, 32));
      const __m128d u = _mm_mul_pd(_mm_add_pd(lo, _mm_mul_pd(hi, two32)), two64);
      _mm_storeu_pd(out + k + i, _mm_min_pd(u, top));
    }
#endif
    for (; i < m; ++i) {   // as canonical_uniform, without the checks
      const double lo = static_cast<double>(temper(x[2 * i]));
      const double hi = static_cast<double>(temper(x[2 * i + 1]));
      const double u = (lo + hi * 0x1p32) * 0x1p-64;
      out[k + i] = u < 1.0 ? u : below1;
    }
    p_ += 2 * m;
    k += m;
  }
#else
  for (size_t k = 0; k < n; ++k) out[k] = canonical_uniform(this);
#endif
}

void SimAccumulators::reset(uli ncore, uli nfold, uli nchannels) {
  T0.assign(ncore, std::vector<double>(nfold * nchannels, 0.0));
  N0.assign(ncore, std::vector<double>(nfold * nchannels, 0.0));
  nconv.assign(ncore, 0);
  nnull.assign(ncore, 0);
  v_inc_path.assign(ncore, 0);
  v_path.assign(ncore, 0);
}

void W_markov_model(uli engine_seed, uli kcore, uli nfold, uli nsim_fold_core,
                    const std::vector<sli>* state_channels, uli max_npassi, uli ichannel_conv,
                    uli ichannel_null, uli order, uli nchannels, const Fx* S,
                    SimAccumulators* acc, const std::atomic<bool>* stop) {
  walk_model(engine_seed, kcore, nfold, nsim_fold_core, *state_channels, max_npassi,
             ichannel_conv, ichannel_null, order, nchannels, S->walker(), acc, stop);
}

void check_simulation_args(uli nsim_start, uli ncore, uli nfold, double conv_par,
                           double rate_step_sim) {
  if (ncore == 0) throw std::invalid_argument("ncore must be at least 1");
  if (nfold == 0) throw std::invalid_argument("nfold must be at least 1");
  if (!(conv_par > 0) || !std::isfinite(conv_par))
    throw std::invalid_argument("conv_par must be a positive number, not " + std::to_string(conv_par));
  const uli n = nsim_start == 0 ? kDefaultSimulations : nsim_start;
  if (n / ncore < nfold)
    throw std::invalid_argument("nsim_start (" + std::to_string(n) +
                                ") must be at least nfold x ncore (" + std::to_string(nfold) +
                                " x " + std::to_string(ncore) + ")");
  // The batch total must grow, or the loop would repeat empty batches.
  if (!std::isfinite(rate_step_sim) ||
      !(std::floor(static_cast<double>(n) * rate_step_sim) > static_cast<double>(n)))
    throw std::invalid_argument("rate_step_sim (" + std::to_string(rate_step_sim) +
                                ") must be greater than 1 and grow nsim_start (" +
                                std::to_string(n) + ") by at least one simulation");
}

void SimulationSettings::validate() const {
  check_simulation_args(nsim_start, ncore, nfold, conv_par, rate_step_sim);
}

SimulationOutcome markov_simulate(const Fx& S, const std::vector<sli>& state_channels, uli order,
                                  uli nchannels, uli max_npassi, bool flg_null, double svc,
                                  const SimulationSettings& settings) {
  SimulationOutcome out;
  out.nsim_start = settings.nsim_start == 0 ? kDefaultSimulations : settings.nsim_start;
  SimulationSettings s = settings;
  s.nsim_start = out.nsim_start;
  s.validate();
  if (order == 0) throw std::invalid_argument("order must be at least 1");
  if (!(svc > 0))
    throw std::invalid_argument("the journeys have no conversions: nothing to attribute");
  const uli nch = nchannels, nf = s.nfold, nc = s.ncore;
  const uli limit = s.max_step > 0 ? s.max_step : max_npassi + 1;

  std::vector<uli> engine_seeds(nc);
  const Fx::Walker walker = S.walker();
  std::vector<WalkStream> streams(s.seed != gb::limsup && nch <= 64 ? nc : 0);
  for (WalkStream& w : streams) w.limit = WalkStream::kMaxWalks / nc;
  SimAccumulators acc;
  acc.reset(nc, nf, nch);
  FoldTotals folds(nf, nch, flg_null);
  out.Tc.assign(nch, 0.0);
  out.Nc.assign(nch, 0.0);
  uli nsim_tot = out.nsim_start;
  double res_conv = std::numeric_limits<double>::max();
  while (res_conv > s.conv_par) {
    seed_engines(s.seed, &engine_seeds);
    run_batch(nc, engine_seeds, nf, out.nsim_start / (nf * nc), state_channels, limit, order, nch,
              walker, &acc, streams.empty() ? nullptr : streams.data());
    ++out.batches;
    res_conv = folds.residual(acc, svc, &out.Tc, &out.Nc);
    if (s.verbose == 1) report_batch(nsim_tot, res_conv, s.conv_par);
    check_interrupt();
    next_batch(s.rate_step_sim, !(res_conv > s.conv_par), &nsim_tot, &out.nsim_start);
  }
  out.residual = res_conv;
  finish_simulation(acc, limit, flg_null, s.verbose, &out);
  return out;
}
