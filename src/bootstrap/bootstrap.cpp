#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <random>
#include <stdexcept>
#include <string_view>
#include <unordered_map>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "bootstrap/bootstrap.h"
#include "journeys/journeys.h"
#include "heuristic/heuristic.h"
#include "logistic/logistic.h"
#include "shapley/shapley.h"

const std::vector<std::string> kBootstrapModels = {
    "first", "last", "linear", "position", "last_non_direct", "shapley", "logistic", "markov"};

void DrawEngine::seed(uint64_t s) {
  x_[0] = s;
  for (uint64_t i = 1; i < 312; ++i)
    x_[i] = 6364136223846793005ULL * (x_[i - 1] ^ (x_[i - 1] >> 62)) + i;
  p_ = 312;
}

void DrawEngine::refresh() {
  constexpr uint64_t kUpper = 0xffffffff80000000ULL, kLower = 0x7fffffffULL;
  constexpr uint64_t kMatrix = 0xb5026f5aa96619e9ULL;
  const auto twist = [](uint64_t a, uint64_t b, uint64_t m) {
    const uint64_t y = (a & kUpper) | (b & kLower);
    return m ^ (y >> 1) ^ ((0 - (y & 1)) & kMatrix);
  };
  size_t i = 0;
  for (; i < 312 - 156; ++i) x_[i] = twist(x_[i], x_[i + 1], x_[i + 156]);
  for (; i < 311; ++i) x_[i] = twist(x_[i], x_[i + 1], x_[i + 156 - 312]);
  x_[311] = twist(x_[311], x_[0], x_[155]);
  p_ = 0;
}

namespace {

// log(k!) without std::lgamma, which writes the global signgam and so races
// between replicate threads: a table below 256, Stirling's series above
// (relative error far below what the rejection test below can notice).
double log_factorial(uli k) {
  static const std::array<double, 256> table = [] {
    std::array<double, 256> t{};
    for (size_t i = 1; i < t.size(); ++i) t[i] = t[i - 1] + std::log(static_cast<double>(i));
    return t;
  }();
  if (k < table.size()) return table[k];
  const double n = static_cast<double>(k), n2 = n * n;
  return n * std::log(n) - n + 0.5 * std::log(2 * 3.14159265358979323846 * n) + 1 / (12 * n) -
         1 / (360 * n * n2) + 1 / (1260 * n * n2 * n2);
}

// What a Poisson draw with one mean needs, computed once per mean rather
// than once per draw.
struct PoissonMean {
  double lam = 0, limit = 0;                                // limit = exp(-lam), below 10
  double slam = 0, loglam = 0, b = 0, a = 0, invalpha = 0, vr = 0, loginvalpha = 0;
};

PoissonMean poisson_mean(uli mean) {
  PoissonMean m;
  m.lam = static_cast<double>(mean);
  if (m.lam < 10) {
    m.limit = std::exp(-m.lam);
    return m;
  }
  m.slam = std::sqrt(m.lam);
  m.loglam = std::log(m.lam);
  m.b = 0.931 + 2.53 * m.slam;
  m.a = -0.059 + 0.02483 * m.b;
  m.invalpha = 1.1239 + 1.1328 / (m.b - 3.4);
  m.vr = 0.9277 - 3.6224 / (m.b - 2);
  m.loginvalpha = std::log(m.invalpha);
  return m;
}

// A uniform draw in [0, 1): with libstdc++ the very number
// std::uniform_real_distribution<double>(0, 1) draws from this engine (one
// 64-bit output over 2^64, kept below 1), without its out-of-line call.
inline double uniform01(DrawEngine& engine) {
#if defined(__GLIBCXX__)
  // The output as a double without branching on its top bit (which is
  // random, so half of such branches are mispredicted): both halves are
  // exact, so their sum is rounded once, to the value a direct conversion
  // gives.
  const uint64_t y = engine();
  const double v = static_cast<double>(static_cast<uint32_t>(y >> 32)) * 0x1p32 +
                   static_cast<double>(static_cast<uint32_t>(y));
  const double u = v * 0x1p-64;   // exact: a power of two
  return u < 1.0 ? u : std::nextafter(1.0, 0.0);
#else
  return std::uniform_real_distribution<double>(0.0, 1.0)(engine);
#endif
}

}  // namespace

void DrawEngine::uniforms(double* out, size_t n) {
  size_t k = 0;
#if defined(__GLIBCXX__) && defined(__SSE2__)
  // Two outputs at a time, with uniform01's operations: each 32-bit half is
  // exact as a double (set into the mantissa of 2^52, then 2^52 taken away),
  // the sum is rounded once, and the least of the result and the double
  // below 1 is what uniform01 keeps.
  const __m128i lo32 = _mm_set1_epi64x(0xffffffffLL), magic = _mm_set1_epi64x(0x4330000000000000LL);
  const __m128d two52 = _mm_set1_pd(0x1p52), two32 = _mm_set1_pd(0x1p32),
                two64 = _mm_set1_pd(0x1p-64), top = _mm_set1_pd(std::nextafter(1.0, 0.0));
  const auto exact = [&](__m128i v) { return _mm_sub_pd(_mm_castsi128_pd(_mm_or_si128(v, magic)), two52); };
  const auto mask = [](uint64_t m) { return _mm_set1_epi64x(static_cast<long long>(m)); };
  while (k + 2 <= n) {
    if (p_ + 2 > 312) {   // a pair across a refresh
      out[k++] = uniform01(*this);
      continue;
    }
    const size_t m = std::min<size_t>((n - k) / 2, (312 - p_) / 2);
    for (size_t i = 0; i < m; ++i) {
      __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x_ + p_ + 2 * i));
      y = _mm_xor_si128(y, _mm_and_si128(_mm_srli_epi64(y, 29), mask(0x5555555555555555ULL)));
      y = _mm_xor_si128(y, _mm_and_si128(_mm_slli_epi64(y, 17), mask(0x71d67fffeda60000ULL)));
      y = _mm_xor_si128(y, _mm_and_si128(_mm_slli_epi64(y, 37), mask(0xfff7eee000000000ULL)));
      y = _mm_xor_si128(y, _mm_srli_epi64(y, 43));
      const __m128d hi = exact(_mm_srli_epi64(y, 32)), lo = exact(_mm_and_si128(y, lo32));
      const __m128d u = _mm_mul_pd(_mm_add_pd(_mm_mul_pd(hi, two32), lo), two64);
      _mm_storeu_pd(out + k + 2 * i, _mm_min_pd(u, top));
    }
    p_ += 2 * m;
    k += 2 * m;
  }
#endif
  for (; k < n; ++k) out[k] = uniform01(*this);
}

namespace {

// The engine's uniforms, made a block at a time: the next few are at hand
// for a small-mean draw that does not branch on each of them.
class Uniforms {
 public:
  explicit Uniforms(uint64_t seed) : engine_(seed) {}
  // At least n <= kAhead numbers from the current one on.
  const double* ahead(size_t n) {
    if (end_ - pos_ < n) refill();
    return buf_ + pos_;
  }
  void skip(size_t n) { pos_ += n; }
  double next() {
    const double u = *ahead(1);
    ++pos_;
    return u;
  }
  static constexpr size_t kAhead = 8, kBlock = 312;

 private:
  void refill() {
    const size_t keep = end_ - pos_;
    std::copy(buf_ + pos_, buf_ + end_, buf_);
    engine_.uniforms(buf_ + keep, kBlock);
    pos_ = 0;
    end_ = keep + kBlock;
  }
  DrawEngine engine_;
  double buf_[kBlock + kAhead];
  size_t pos_ = 0, end_ = 0;
};

// One Poisson draw: multiplication of uniforms for small means (inline:
// nearly every draw), Hoermann's transformed rejection (PTRS) from 10 on.
uli poisson_large(Uniforms& unif, const PoissonMean& m);

inline uli poisson(Uniforms& unif, const PoissonMean& m) {
  if (m.lam >= 10) return poisson_large(unif, m);
  // The count of running products of the uniforms above the limit. A
  // product never grows (each factor is below 1), so the first four are
  // compared at once, without a branch on each; beyond them, one by one.
  const double lim = m.limit;
  const double* u = unif.ahead(4);
  const double p1 = u[0], p2 = p1 * u[1], p3 = p2 * u[2], p4 = p3 * u[3];
  if (!(p4 > lim)) {
    const uli x = static_cast<uli>(p1 > lim) + static_cast<uli>(p2 > lim) +
                  static_cast<uli>(p3 > lim);
    unif.skip(x + 1);
    return x;
  }
  unif.skip(4);
  uli x = 3;
  for (double prod = p4; prod > lim; prod *= unif.next()) ++x;
  return x;
}

uli poisson_large(Uniforms& unif, const PoissonMean& m) {
  const double lam = m.lam;
  const double b = m.b, a = m.a;
  for (;;) {
    const double u = unif.next() - 0.5, v = unif.next(), us = 0.5 - std::fabs(u);
    const double kf = std::floor((2 * a / us + b) * u + lam + 0.43);
    if (us >= 0.07 && v <= m.vr && kf >= 0 && kf < 1.8e19) return static_cast<uli>(kf);
    if (kf < 0 || kf >= 1.8e19 || (us < 0.013 && v > us)) continue;
    const uli k = static_cast<uli>(kf);
    if (std::log(v) + m.loginvalpha - std::log(a / (us * us) + b) <=
        -lam + kf * m.loglam - log_factorial(k))
      return k;
  }
}

// splitmix64: spreads (seed, r) over the whole seed space.
uli mix(uli x) {
  x += 0x9E3779B97F4A7C15ULL;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
  return x ^ (x >> 31);
}

}  // namespace

uli replicate_walk_seed(uli seed, uli r) { return mix(seed ^ mix(r + 1)); }

namespace {

// The rows' means, each distinct mean's constants computed once; place 0
// is the mean 0, which is not drawn.
struct DrawPlan {
  std::vector<PoissonMean> means;
  std::vector<uint32_t> conv_at, null_at;   // null_at empty without nulls
  // The draws in the order they are made, means of 0 left out (which rows
  // those are does not change between replicates, and branching on them
  // row by row is mispredicted as often as they alternate): place in
  // means, and target 2 i (conversions of row i) or 2 i + 1 (its nulls).
  std::vector<std::pair<uint32_t, uli>> draws;
};

DrawPlan draw_plan(const std::vector<uli>& vc, const std::vector<uli>& vn) {
  DrawPlan d;
  std::unordered_map<uli, uint32_t> at;
  d.means.push_back(PoissonMean());
  at.emplace(0, 0);
  auto place = [&](uli mean) {
    auto it = at.emplace(mean, static_cast<uint32_t>(d.means.size())).first;
    if (it->second == d.means.size()) d.means.push_back(poisson_mean(mean));
    return it->second;
  };
  d.conv_at.resize(vc.size());
  for (size_t i = 0; i < vc.size(); ++i) d.conv_at[i] = place(vc[i]);
  if (!vn.empty()) {
    d.null_at.resize(vn.size());
    for (size_t i = 0; i < vn.size(); ++i) d.null_at[i] = place(vn[i]);
  }
  for (size_t i = 0; i < vc.size(); ++i) {
    if (d.conv_at[i] != 0) d.draws.emplace_back(d.conv_at[i], 2 * i);
    if (!vn.empty() && d.null_at[i] != 0) d.draws.emplace_back(d.null_at[i], 2 * i + 1);
  }
  return d;
}

// The counts of replicate r, row by row: conversions, then nulls.
void draw_counts(const DrawPlan& d, uli seed, uli r, std::vector<uli>* rc, std::vector<uli>* rn) {
  Uniforms unif(mix(mix(seed) ^ r));
  rc->assign(d.conv_at.size(), 0);
  rn->assign(d.null_at.size(), 0);
  uli* const to[2] = {rc->data(), rn->data()};
  for (const auto& dr : d.draws) to[dr.second & 1][dr.second >> 1] = poisson(unif, d.means[dr.first]);
}

// Values scaled with the redrawn conversions.
void scale_values(const std::vector<uli>& vc, const std::vector<double>& vv,
                  const std::vector<uli>& rc, std::vector<double>* rv) {
  rv->resize(vv.size());
  for (size_t i = 0; i < vv.size(); ++i)
    (*rv)[i] = vc[i] > 0 ? vv[i] * static_cast<double>(rc[i]) / static_cast<double>(vc[i]) : 0;
}

void sum_by_channel(const std::vector<std::string>& names, const std::vector<double>& vals,
                    std::vector<std::string>* vchannels, std::vector<double>* convs) {
  std::unordered_map<std::string, size_t> at;
  for (size_t k = 0; k < names.size(); ++k) {
    auto it = at.emplace(names[k], vchannels->size()).first;
    if (it->second == vchannels->size()) {
      vchannels->push_back(names[k]);
      convs->push_back(0.0);
    }
    (*convs)[it->second] += vals[k];
  }
}

// The first, last and linear rules on paths with these conversions; the
// touch-point credit of the model asked for.
HeuristicResult heuristic_rows(const BootstrapSettings& s, const std::vector<std::string>& vy,
                               const std::vector<uli>& vc) {
  static const std::vector<double> no_values;
  JourneySource src = vector_source(&vy, &vc, &no_values, nullptr);
  src.field_sep = ";";
  HeuristicSettings settings;
  settings.cha_sep = s.cha_sep;
  return heuristic_run(src, settings);
}

const std::vector<double>& heuristic_credit(const std::string& model, const HeuristicResult& r) {
  return model == "first"  ? r.vpath_attr_convs_first
         : model == "last" ? r.vpath_attr_convs_last
                           : r.vpath_attr_convs_linear;
}

void heuristic(const std::string& model, const BootstrapSettings& s,
               const std::vector<std::string>& vy, const std::vector<uli>& vc,
               std::vector<std::string>* vchannels, std::vector<double>* convs) {
  const HeuristicResult r = heuristic_rows(s, vy, vc);
  sum_by_channel(r.vpath_channel, heuristic_credit(model, r), vchannels, convs);
}

// Models whose attribution is a sum over journeys of conversions times a
// fixed per-journey split: a replicate only re-weights those splits.
bool linear_in_conversions(const std::string& model) {
  return model == "first" || model == "last" || model == "linear" || model == "position" ||
         model == "last_non_direct";
}

// The Markov chain's structure, encoded once; a replicate only recounts.
struct EncodedChain {
  uli order = 1, nchannels = 0, nstates = 0, max_npassi = 0;
  std::vector<std::string> vchannels;
  std::vector<std::vector<uli>> states;     // per pooled path
  std::vector<sli> table;
  // The distinct transitions (from, to) of every path, numbered once: path
  // i walks edges first[i] .. first[i + 1] of walk, then ends by conv_edge[i]
  // or null_edge[i].
  std::vector<uli> from, to;
  std::vector<size_t> first{0};
  std::vector<uli> walk, conv_edge, null_edge;
  // Where each transition is taken, in order: path << 32 | place among the
  // path's transitions (its end by conversion and by null last), entries
  // taken_first[k] .. taken_first[k + 1] for transition k.
  std::vector<size_t> taken_first;
  std::vector<uint64_t> taken;
};

// Numbers the transitions of the encoded paths.
void number_edges(EncodedChain* e) {
  std::unordered_map<uint64_t, uli> id;
  auto edge = [&](uli p, uli q) {
    auto it = id.try_emplace((static_cast<uint64_t>(p) << 32) | q, e->from.size()).first;
    if (it->second == e->from.size()) {
      e->from.push_back(p);
      e->to.push_back(q);
    }
    return it->second;
  };
  for (const std::vector<uli>& path : e->states) {
    uli p = kStateStart;
    for (uli q : path) {
      e->walk.push_back(edge(p, q));
      p = q;
    }
    e->first.push_back(e->walk.size());
    e->conv_edge.push_back(edge(p, kStateConversion));
    e->null_edge.push_back(edge(p, kStateNull));
  }
  const size_t npath = e->first.size() - 1;
  if (npath > std::numeric_limits<uint32_t>::max() || e->max_npassi >= (uli{1} << 32) - 2)
    throw std::invalid_argument("bootstrap: more than 2^32 - 1 distinct paths or steps in one");
  // A counting sort by transition keeps each one's places in path order.
  const uli ne = e->from.size();
  e->taken_first.assign(ne + 1, 0);
  for (size_t i = 0; i < npath; ++i) {
    for (size_t k = e->first[i]; k < e->first[i + 1]; ++k) ++e->taken_first[e->walk[k] + 1];
    ++e->taken_first[e->conv_edge[i] + 1];
    ++e->taken_first[e->null_edge[i] + 1];
  }
  for (uli k = 0; k < ne; ++k) e->taken_first[k + 1] += e->taken_first[k];
  std::vector<size_t> next(e->taken_first.begin(), e->taken_first.end() - 1);
  e->taken.resize(e->taken_first[ne]);
  for (size_t i = 0; i < npath; ++i) {
    const uint64_t at = static_cast<uint64_t>(i) << 32;
    const size_t len = e->first[i + 1] - e->first[i];
    for (size_t k = e->first[i]; k < e->first[i + 1]; ++k)
      e->taken[next[e->walk[k]]++] = at | (k - e->first[i]);
    e->taken[next[e->conv_edge[i]]++] = at | len;
    e->taken[next[e->null_edge[i]]++] = at | (len + 1);
  }
}

EncodedChain encode_chain(const BootstrapSettings& s, const std::vector<std::string>& vy) {
  EncodedChain e;
  e.order = s.markov.order;
  ChannelMap mp, mps;
  StateInverse inv;
  std::vector<std::string> vs;
  std::vector<uli> idx;
  init_state_dictionary(&mps, &vs, &inv, &e.nstates);
  const char sep = first_char(s.cha_sep, "cha_sep");
  e.states.resize(vy.size());
  for (size_t i = 0; i < vy.size(); ++i) {
    encode_journey(vy[i], sep, e.order, &mp, &e.vchannels, &e.nchannels, &mps, &inv, &vs,
                   &e.nstates, &idx, &e.states[i]);
    e.max_npassi = std::max<uli>(e.max_npassi, e.states[i].size() + 1);
  }
  e.table = state_channel_table(&inv, e.nstates, e.order);
  if (e.nstates > (uli{1} << 32)) throw std::invalid_argument("bootstrap: too many Markov states");
  number_edges(&e);
  return e;
}

[[noreturn]] void state_overflow(uli state) {
  throw std::overflow_error("Fx::add: the counts out of state " + std::to_string(state) +
                            " add up to more than 2^64 - 1");
}

// Removal-effect attribution of one replicate on the encoded chain, as
// markov_model_method_cpp computes it (type 0), on one thread.
void markov_replicate(const BootstrapSettings& s, const EncodedChain& e,
                      const std::vector<uli>& rc, const std::vector<uli>& rn, bool flg_null,
                      uli seed, std::vector<double>* convs) {
  // Each transition's count summed first, then added to the store once, in
  // the order the transitions first carry a count: the store then holds
  // what adding journey by journey gives (successors in order of first
  // appearance, the same whole counts) without a lookup per step.
  thread_local std::vector<uli> total, order;
  const uli ne = e.from.size();
  const size_t npath = e.first.size() - 1;
  total.assign(ne, 0);
  uli* tot = total.data();
  double svc = 0;
  // No transition's total can pass 2^64 - 1 when every path's walks times
  // the most steps a path takes stay below it: then the totals are summed
  // without checks, and which transitions start where is looked up after.
  uli grand = 0;
  bool small = true;
  for (size_t i = 0; i < npath && small; ++i)
    small = !add_overflows(grand, rc[i], &grand) && !(flg_null && add_overflows(grand, rn[i], &grand));
  small = small && grand <= std::numeric_limits<uli>::max() / (e.max_npassi + 1);
  if (small) {
    for (size_t i = 0; i < npath; ++i) {
      const uli c = rc[i], n = flg_null ? rn[i] : 0;
      svc += static_cast<double>(c);
      for (size_t k = e.first[i]; k < e.first[i + 1]; ++k) tot[e.walk[k]] += c + n;
      tot[e.conv_edge[i]] += c;
      tot[e.null_edge[i]] += n;
    }
    // A transition starts at its first place whose path counts it.
    thread_local std::vector<std::pair<uint64_t, uli>> start;
    start.clear();
    for (uli k = 0; k < ne; ++k) {
      if (tot[k] == 0) continue;
      const bool conv = e.to[k] != kStateNull, walks = conv && e.to[k] != kStateConversion;
      const uint64_t* t = e.taken.data() + e.taken_first[k];
      for (;; ++t) {
        const size_t i = static_cast<size_t>(*t >> 32);
        const uli n = flg_null && (walks || !conv) ? rn[i] : 0;
        if ((conv ? rc[i] : 0) != 0 || n != 0) break;
      }
      start.emplace_back(*t, k);
    }
    std::sort(start.begin(), start.end());
    order.clear();
    for (const auto& sk : start) order.push_back(sk.second);
  } else {
    // Counts of 0 are added too, without branching on them (which is drawn
    // is as good as random): they change no total and start no transition.
    order.resize(ne + 1);   // a transition starts once; one slot to write past
    uli* first = order.data();
    size_t started = 0;
    const auto put = [&](uli k, uli v) {
      first[started] = k;
      started += static_cast<size_t>(tot[k] == 0) & static_cast<size_t>(v != 0);
      if (add_overflows(tot[k], v, &tot[k])) state_overflow(e.from[k]);
    };
    for (size_t i = 0; i < npath; ++i) {
      const uli c = rc[i], n = flg_null ? rn[i] : 0;
      svc += static_cast<double>(c);
      uli cn;   // a path's walks: an overflow here is one out of "(start)"
      if (add_overflows(c, n, &cn) && e.first[i] < e.first[i + 1]) state_overflow(kStateStart);
      for (size_t k = e.first[i]; k < e.first[i + 1]; ++k) put(e.walk[k], cn);
      put(e.conv_edge[i], c);
      put(e.null_edge[i], n);
    }
    order.resize(started);
  }
  Fx S(e.nstates);
  for (uli k : order) S.add(e.from[k], e.to[k], total[k]);
  S.set_nchannels(e.nstates);
  S.cum();
  std::vector<double> Tc, Nc;
  double snc = 0, snn = 0;
  if (s.markov.method.exact) {
    const uli limit = s.markov.max_step > 0 ? s.markov.max_step : e.max_npassi + 1;
    markov_exact(&S, &e.table, e.order, e.nchannels, limit + 1, s.markov.method.unlimited != 0, 1, &Tc,
                 &Nc, &snc, &snn);
  } else {
    const MarkovSettings& m = s.markov;
    SimulationOutcome o =
        markov_simulate(S, e.table, e.order, e.nchannels, e.max_npassi, flg_null, svc,
                        {m.nsim_start, m.max_step, 1, m.nfold, seed, m.conv_par, m.rate_step_sim, 0});
    Tc = std::move(o.Tc);
  }
  double sT = 0;
  for (double t : Tc) sT += t;
  convs->assign(e.nchannels, 0.0);
  if (sT > 0)
    for (uli j = 0; j < e.nchannels; ++j) (*convs)[j] = Tc[j] * svc / sT;
}

}  // namespace

namespace {

JourneySource journeys_of(const std::vector<std::string>& vy, const std::vector<uli>& vc,
                          const std::vector<double>& vv, const std::vector<uli>& vn) {
  JourneySource src = vector_source(&vy, &vc, &vv, &vn);
  src.field_sep = ";";
  return src;
}

void shapley_totals(const BootstrapSettings& s, const JourneySource& src,
                    std::vector<std::string>* vchannels, std::vector<double>* convs) {
  ShapleySettings settings;
  settings.cha_sep = s.cha_sep;
  settings.flg_simplified = s.flg_simplified;
  ShapleyResult r = shapley_run(src, settings);
  *vchannels = std::move(r.vchannels);
  *convs = std::move(r.vattr_convs_glob);
}

void markov_totals(const BootstrapSettings& s, const JourneySource& src, uli seed,
                   std::vector<std::string>* vchannels, std::vector<double>* convs) {
  MarkovSettings settings = s.markov;
  settings.ncore = 1;
  settings.seed = seed;
  settings.flg_out_attr = 1;
  MarkovResult r = markov_run(src, s.cha_sep, settings);
  *vchannels = std::move(r.vchannels);
  *convs = std::move(r.vattr_convs_glob);
}

// The logistic fit with its coefficients, the totals moved out.
LogisticResult logistic_totals(const BootstrapSettings& s, const std::vector<std::string>& vy,
                               const std::vector<uli>& vc, const std::vector<double>& vv,
                               const std::vector<uli>& vn, std::vector<std::string>* vchannels,
                               std::vector<double>* convs) {
  LogisticSettings settings;
  settings.cha_sep = s.cha_sep;
  LogisticResult r = logistic_run(journeys_of(vy, vc, vv, vn), settings);
  *vchannels = std::move(r.vchannels);
  *convs = std::move(r.vattr_convs_loc);
  return r;
}

}  // namespace

void fit_channels(const std::string& model, const BootstrapSettings& s,
                  const std::vector<std::string>& vy, const std::vector<uli>& vc,
                  const std::vector<double>& vv, const std::vector<uli>& vn, uli seed,
                  std::vector<std::string>* vchannels, std::vector<double>* convs) {
  vchannels->clear();
  convs->clear();
  if (model == "first" || model == "last" || model == "linear") {
    heuristic(model, s, vy, vc, vchannels, convs);
  } else if (model == "position" || model == "last_non_direct") {
    static const std::vector<uli> no_nulls;
    JourneySource src = vector_source(&vy, &vc, &vv, &no_nulls);
    src.field_sep = ";";
    RuleSettings settings;
    settings.cha_sep = s.cha_sep;
    settings.first_share = s.first_share;
    settings.last_share = s.last_share;
    settings.direct_channels = s.direct_channels;
    RuleResult r = rule_run(src, settings);
    *vchannels = std::move(r.vchannels);
    *convs = std::move(model == "position" ? r.vposition_convs : r.vlnd_convs);
  } else if (model == "shapley") {
    shapley_totals(s, journeys_of(vy, vc, vv, vn), vchannels, convs);
  } else if (model == "logistic") {
    logistic_totals(s, vy, vc, vv, vn, vchannels, convs);
  } else if (model == "markov") {
    markov_totals(s, journeys_of(vy, vc, vv, vn), seed, vchannels, convs);
  } else {
    throw std::invalid_argument("model: no bootstrap for model '" + model + "'");
  }
}

void bootstrap_rows(uli seed, uli r, const std::vector<uli>& vc, const std::vector<double>& vv,
                    const std::vector<uli>& vn, std::vector<uli>* rc, std::vector<double>* rv,
                    std::vector<uli>* rn) {
  draw_counts(draw_plan(vc, vn), seed, r, rc, rn);
  scale_values(vc, vv, *rc, rv);
}

namespace {

// 800 MB of replicate values, and as much again for the copy handed back.
constexpr uli kMaxReplicateValues = 100000000;

// Rows with the same path pooled: a sum of Poisson counts is the Poisson
// count of the sum, so replicates of the pooled rows have the same
// distribution and cost as many rows as there are distinct paths.
struct PooledRows {
  std::vector<std::string> py;
  std::vector<uli> pc, pn;
  std::vector<double> pv;
};

PooledRows pool_rows(const std::vector<std::string>& vy, const std::vector<uli>& vc,
                     const std::vector<double>& vv, const std::vector<uli>& vn) {
  PooledRows p;
  // Pooled path k + 1 in the slot its hash's high half leads to (0: empty),
  // open addressing, at most half full.
  struct Slot { uint32_t tag, entry; };
  std::vector<Slot> slots(64, Slot{0, 0});
  size_t mask = slots.size() - 1;
  const auto place = [&](Slot x) {
    size_t k = x.tag & mask;
    while (slots[k].entry != 0) k = (k + 1) & mask;
    slots[k] = x;
  };
  for (size_t i = 0; i < vy.size(); ++i) {
    const uint32_t tag = static_cast<uint32_t>(hash_bytes(vy[i]) >> 32);
    size_t k = tag & mask;
    while (slots[k].entry != 0 && (slots[k].tag != tag || p.py[slots[k].entry - 1] != vy[i]))
      k = (k + 1) & mask;
    if (slots[k].entry == 0) {
      if (p.py.size() >= 0xFFFFFFFEu)
        throw std::invalid_argument("bootstrap: more than 2^32 - 2 distinct paths");
      p.py.push_back(vy[i]);
      p.pc.push_back(0);
      if (!vn.empty()) p.pn.push_back(0);
      if (!vv.empty()) p.pv.push_back(0.0);
      const Slot x{tag, static_cast<uint32_t>(p.py.size())};
      if (2 * p.py.size() > slots.size()) {
        std::vector<Slot> old(2 * slots.size(), Slot{0, 0});
        old.swap(slots);
        mask = slots.size() - 1;
        for (const Slot& y : old)
          if (y.entry != 0) place(y);
        place(x);
      } else {
        slots[k] = x;
      }
      k = p.py.size() - 1;
    } else {
      k = slots[k].entry - 1;
    }
    p.pc[k] = add_count(p.pc[k], vc[i], i);
    if (!vn.empty()) p.pn[k] = add_count(p.pn[k], vn[i], i);
    if (!vv.empty()) p.pv[k] += vv[i];
  }
  return p;
}

// Per pooled path i, what one conversion gives each estimated channel:
// entries first[i] to first[i + 1] of (channel position, share).
struct Splits {
  std::vector<size_t> first{0};
  std::vector<std::pair<uli, double>> share;
};

// The same shares channel by channel, paths in order: channel k's total is
// then summed in a register, in the order path by path gives it.
struct ChannelShares {
  std::vector<size_t> first;
  std::vector<std::pair<uli, double>> share;   // (pooled path, share)
};

ChannelShares by_channel(const Splits& split, uli nch) {
  ChannelShares t;
  t.first.assign(nch + 1, 0);
  for (const auto& kv : split.share) ++t.first[kv.first + 1];
  for (uli k = 0; k < nch; ++k) t.first[k + 1] += t.first[k];
  t.share.resize(split.share.size());
  std::vector<size_t> next(t.first.begin(), t.first.end() - 1);
  for (size_t i = 0; i + 1 < split.first.size(); ++i)
    for (size_t k = split.first[i]; k < split.first[i + 1]; ++k)
      t.share[next[split.share[k].first]++] = {i, split.share[k].second};
  return t;
}

// The shares of one path from its per-channel attribution of one
// conversion; channels the estimate lacks and zero shares left out.
void add_split(const std::vector<std::string>& ch, const std::vector<double>& convs,
               const std::unordered_map<std::string, uli>& at, Splits* split) {
  for (size_t k = 0; k < ch.size(); ++k) {
    auto it = at.find(ch[k]);
    if (it != at.end() && convs[k] != 0) split->share.emplace_back(it->second, convs[k]);
  }
  split->first.push_back(split->share.size());
}

// The heuristic models attribute each journey on its own, so one run over
// every path with one conversion gives each path's rows, as a run on that
// path alone would.
Splits heuristic_splits(const std::string& model, const BootstrapSettings& s,
                        const std::vector<std::string>& py,
                        const std::unordered_map<std::string, uli>& at) {
  const HeuristicResult r = heuristic_rows(s, py, std::vector<uli>(py.size(), 1));
  const std::vector<double>& vals = heuristic_credit(model, r);
  Splits split;
  split.first.reserve(py.size() + 1);
  std::vector<std::string> names, ch;
  std::vector<double> shares, convs;
  size_t row = 0;
  for (size_t i = 0; i < py.size(); ++i) {
    names.clear();
    shares.clear();
    for (; row < r.vpath_id.size() && r.vpath_id[row] == static_cast<double>(i); ++row) {
      names.push_back(r.vpath_channel[row]);
      shares.push_back(vals[row]);
    }
    ch.clear();
    convs.clear();
    sum_by_channel(names, shares, &ch, &convs);
    add_split(ch, convs, at, &split);
  }
  if (row != r.vpath_id.size()) throw std::logic_error("bootstrap: heuristic rows out of order");
  return split;
}

// Per pooled path, what one conversion gives each estimated channel.
Splits linear_splits(const std::string& model, const BootstrapSettings& s,
                     const std::vector<std::string>& py,
                     const std::unordered_map<std::string, uli>& at) {
  if (model == "first" || model == "last" || model == "linear")
    return heuristic_splits(model, s, py, at);
  Splits split;
  split.first.reserve(py.size() + 1);
  const std::vector<uli> one{1};
  const std::vector<double> none;
  const std::vector<uli> no_nulls;
  for (size_t i = 0; i < py.size(); ++i) {
    std::vector<std::string> ch;
    std::vector<double> convs;
    fit_channels(model, s, {py[i]}, one, none, no_nulls, 0, &ch, &convs);
    add_split(ch, convs, at, &split);
  }
  return split;
}

// The Shapley game of the pooled paths, built once: a replicate keeps every
// path (with zero conversions too), so its channels and coalitions are
// these, and only the coalitions' conversions change.
struct ShapleyGame {
  std::vector<std::string> vchannels;
  std::vector<std::vector<uli>> members;   // per coalition, in table order
  std::vector<uli> row_coalition;          // per pooled path
  bool simplified = false;
};

ShapleyGame shapley_game(const BootstrapSettings& s, const std::vector<std::string>& py) {
  ShapleySettings settings;
  settings.cha_sep = s.cha_sep;
  settings.validate();
  const std::vector<uli> none(py.size(), 0);
  CoalitionTable table;
  ShapleyGame g;
  count_coalitions(vector_source(&py, &none, nullptr, nullptr), s.cha_sep, 0, &table,
                   &g.row_coalition);
  g.vchannels = table.vchannels;
  g.simplified = s.flg_simplified != 0;
  g.members.reserve(table.vcoalition.size());
  for (const std::string& key : table.vcoalition) g.members.push_back(split2(key, ' '));
  return g;
}

// The Shapley totals of one replicate's conversions on the game.
void shapley_replicate(const ShapleyGame& g, const std::vector<uli>& rc,
                       std::vector<double>* convs) {
  std::vector<double> worth(g.members.size(), 0.0);
  for (size_t i = 0; i < rc.size(); ++i) worth[g.row_coalition[i]] += static_cast<double>(rc[i]);
  convs->assign(g.vchannels.size(), 0.0);
  shapley_values(g.members, worth, g.vchannels.size(), g.simplified, convs);
}

// The converged estimate's coefficients (the constant, then the estimate's
// channels) in the order of the encoded paths' channels; empty when a
// channel of the paths has none, so the refits start from zero.
std::vector<double> logistic_start(const LogisticFitInfo& fit,
                                   const std::vector<std::string>& vchannels,
                                   const LogisticPaths& paths) {
  if (fit.vcoeff.size() != vchannels.size() + 1) return {};
  std::unordered_map<std::string, double> coeff;
  for (size_t k = 0; k < vchannels.size(); ++k) coeff.emplace(vchannels[k], fit.vcoeff[k + 1]);
  std::vector<double> start{fit.vcoeff[0]};
  for (const std::string& name : paths.vchannels) {
    auto it = coeff.find(name);
    if (it == coeff.end()) return {};
    start.push_back(it->second);
  }
  return start;
}

// What does not change between replicates, computed once: the per-journey
// splits of the rules, the encoded chain of the Markov model, the
// coalitions of the Shapley game, the encoded paths of the logistic fit.
struct ReplicatePlan {
  DrawPlan draws;
  bool linear = false;
  ChannelShares split;
  bool markov = false;
  EncodedChain chain;
  bool shapley = false;
  ShapleyGame game;
  bool logistic = false;
  LogisticPaths paths;
  std::vector<uli> paths_at;   // per channel of paths: estimated position, or uli(-1)
  // The estimate's coefficients in the order of paths, when its fit
  // converged: each refit then starts from them.
  std::vector<double> start;
  std::unordered_map<std::string, uli> at;   // estimated channel -> position
};

// Replicate r into out (one entry per estimated channel).
void replicate(const std::string& model, const BootstrapSettings& s, const PooledRows& p,
               const ReplicatePlan& plan, uli seed, uli r, double* out) {
  thread_local std::vector<uli> rc, rn;   // kept warm between a thread's replicates
  draw_counts(plan.draws, seed, r, &rc, &rn);
  if (std::all_of(rc.begin(), rc.end(), [](uli x) { return x == 0; })) return;
  if (plan.linear) {
    // A path without conversions adds nothing (the shares are finite).
    for (size_t k = 0; k + 1 < plan.split.first.size(); ++k) {
      double total = out[k];
      for (size_t e = plan.split.first[k]; e < plan.split.first[k + 1]; ++e) {
        const uli c = rc[plan.split.share[e].first];
        if (c != 0) total += static_cast<double>(c) * plan.split.share[e].second;
      }
      out[k] = total;
    }
    return;
  }
  if (plan.logistic) {
    thread_local LogisticRefitScratch scratch;
    thread_local std::vector<double> totals;
    logistic_refit(plan.paths, rc, rn, &scratch, &totals,
                   plan.start.empty() ? nullptr : &plan.start);
    for (size_t k = 0; k < totals.size(); ++k)
      if (plan.paths_at[k] != static_cast<uli>(-1)) out[plan.paths_at[k]] = totals[k];
    return;
  }
  std::vector<std::string> ch;
  std::vector<double> convs;
  if (plan.markov) {
    markov_replicate(s, plan.chain, rc, rn, !p.pn.empty(), replicate_walk_seed(seed, r), &convs);
    ch = plan.chain.vchannels;
  } else if (plan.shapley) {
    shapley_replicate(plan.game, rc, &convs);
    ch = plan.game.vchannels;
  } else {
    std::vector<double> rv;
    scale_values(p.pc, p.pv, rc, &rv);
    fit_channels(model, s, p.py, rc, rv, rn, replicate_walk_seed(seed, r), &ch, &convs);
  }
  for (size_t k = 0; k < ch.size(); ++k) {
    auto it = plan.at.find(ch[k]);
    if (it != plan.at.end()) out[it->second] = convs[k];
  }
}

}  // namespace

void bootstrap_cpp(const std::string& model, const BootstrapSettings& s,
                   const std::vector<std::string>& vy, const std::vector<uli>& vc,
                   const std::vector<double>& vv, const std::vector<uli>& vn, uli nrep, uli seed,
                   uli nthreads, std::vector<std::string>* vchannels,
                   std::vector<double>* estimate, std::vector<double>* reps) {
  if (std::find(kBootstrapModels.begin(), kBootstrapModels.end(), model) == kBootstrapModels.end())
    throw std::invalid_argument("model: no bootstrap for model '" + model + "'");
  if (nrep == 0) throw std::invalid_argument("bootstrap must be at least 1");
  if (vc.size() != vy.size() || (!vn.empty() && vn.size() != vy.size()) ||
      (!vv.empty() && vv.size() != vy.size()))
    throw std::invalid_argument("bootstrap: journey columns of different lengths");
  if (seed == gb::limsup) seed = static_cast<uli>(gb::device());
  const PooledRows p = pool_rows(vy, vc, vv, vn);   // first: it refuses counts that overflow
  LogisticFitInfo logistic_fit;
  if (model == "logistic") {
    vchannels->clear();
    estimate->clear();
    logistic_fit = logistic_totals(s, vy, vc, vv, vn, vchannels, estimate).fit;
  } else {
    fit_channels(model, s, vy, vc, vv, vn, mix(seed), vchannels, estimate);
  }
  const uli nch = vchannels->size();
  // The replicate table is the result: refuse one larger than a few GB
  // rather than end in an allocation failure.
  if (nch > 0 && nrep > kMaxReplicateValues / nch)
    throw std::invalid_argument("bootstrap: " + group_thousands(nrep) + " replicates x " +
                                group_thousands(nch) + " channels exceed the limit of " +
                                group_thousands(kMaxReplicateValues) +
                                " values; ask for fewer replicates");
  ReplicatePlan plan;
  for (uli k = 0; k < nch; ++k) plan.at.emplace((*vchannels)[k], k);
  plan.linear = linear_in_conversions(model);
  plan.markov = model == "markov";
  plan.shapley = model == "shapley";
  plan.draws = draw_plan(p.pc, p.pn);
  if (plan.shapley) plan.game = shapley_game(s, p.py);
  else if (plan.linear) plan.split = by_channel(linear_splits(model, s, p.py, plan.at), nch);
  else if (plan.markov) plan.chain = encode_chain(s, p.py);
  else if (model == "logistic") {
    plan.logistic = true;
    plan.paths = logistic_paths(p.py, s.cha_sep);
    for (const std::string& name : plan.paths.vchannels) {
      auto it = plan.at.find(name);
      plan.paths_at.push_back(it == plan.at.end() ? static_cast<uli>(-1) : it->second);
    }
    if (logistic_fit.converged) plan.start = logistic_start(logistic_fit, *vchannels, plan.paths);
  }
  reps->assign(nrep * nch, 0.0);
  parallel_tasks(nrep, nthreads, [&](uli r, const std::atomic<bool>&) {
    replicate(model, s, p, plan, seed, r, reps->data() + r * nch);
  });
}
