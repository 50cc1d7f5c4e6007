#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "markov/markov.h"

namespace {

constexpr uli kConversion = 1, kNull = 2;
constexpr uli kStopCheckEvery = 64;          // sweeps between looks at the stop flag

// The fitted chain as transition probabilities in compressed rows: the
// successors of state i are to[off[i] .. off[i+1]), in the store's order.
struct Chain {
  std::vector<uli> off;
  std::vector<uint32_t> to;
  std::vector<double> p;
};

Chain chain_of(const Fx& S, bool drop_self_loops) {
  const uli n = S.nchannels;
  Chain c;
  c.off.assign(n + 1, 0);
  c.to.reserve(S.non_zeros);
  c.p.reserve(S.non_zeros);
  for (uli i = 0; i < n; ++i) {
    c.off[i] = c.to.size();
    const uli deg = S.lrS0[i];
    const double tot = static_cast<double>(S.lrS[i]);
    uli prev = 0;
    double self = 0;
    const size_t first = c.to.size();
    for (uli k = 0; k < deg; ++k) {
      const uli cum = S.S1(i, k), j = S.S0(i, k);
      const double p = static_cast<double>(cum - prev) / tot;
      prev = cum;
      if (drop_self_loops && j == i) {
        self += p;
        continue;
      }
      c.to.push_back(static_cast<uint32_t>(j));
      c.p.push_back(p);
    }
    // Without a step limit a self-loop only delays a walk: leaving i goes
    // to j with probability p(i, j) / (1 - p(i, i)). A state that only
    // loops on itself keeps its walks for ever (no successors here).
    if (self > 0) {
      if (self >= 1 || c.to.size() == first) c.to.resize(first), c.p.resize(first);
      else
        for (size_t e = first; e < c.p.size(); ++e) c.p[e] /= (1 - self);
    }
  }
  c.off[n] = c.to.size();
  return c;
}

// Walks from "(start)" through the chain; a walk that enters a state
// marked in `removed` leaves the chain there. Adds the probability of
// ending in "(conversion)" and in "(null)" within `draws` draws (unlimited:
// until at most tol of the walks are still inside the chain).
void propagate(const Chain& c, const std::vector<char>& removed, bool unlimited, uli draws,
               double tol, uli max_sweeps, const std::atomic<bool>& stop, double* conv,
               double* nul) {
  const uli n = c.off.size() - 1;
  std::vector<double> x(n, 0.0), y(n, 0.0);
  std::vector<uint32_t> active{0}, next;
  std::vector<char> mark(n, 0);
  x[0] = 1.0;
  double pc = 0, pn = 0;
  for (uli t = 0; unlimited ? true : t < draws; ++t) {
    if (t % kStopCheckEvery == kStopCheckEvery - 1 && stop.load(std::memory_order_relaxed)) return;
    if (unlimited && t >= max_sweeps)
      throw std::runtime_error("exact Markov solve: " + std::to_string(max_sweeps) +
                               " sweeps left more than " + std::to_string(tol) +
                               " of the walks inside the chain; use horizon \"step_limit\"");
    next.clear();
    double inside = 0;
    for (uint32_t i : active) {
      const double xi = x[i];
      x[i] = 0;
      if (xi == 0) continue;
      for (uli e = c.off[i]; e < c.off[i + 1]; ++e) {
        const uint32_t j = c.to[e];
        const double m = xi * c.p[e];
        if (j == kConversion) pc += m;
        else if (j == kNull) pn += m;
        else if (!removed[j]) {
          y[j] += m;
          inside += m;
          if (!mark[j]) {
            mark[j] = 1;
            next.push_back(j);
          }
        }
      }
    }
    for (uint32_t j : next) mark[j] = 0;   // mark: "already in next"
    std::swap(x, y);
    std::swap(active, next);
    if (active.empty() || (unlimited && inside <= tol)) break;
  }
  *conv = pc;
  *nul = pn;
}

}  // namespace

void markov_exact(const Fx* S, const std::vector<sli>* state_channels, uli order, uli nchannels,
                  uli draws, bool unlimited, uli nthreads, std::vector<double>* conv_via,
                  std::vector<double>* null_via, double* p_conv, double* p_null) {
  if (order == 0) throw std::invalid_argument("order must be at least 1");
  const uli n = S->nchannels;
  if (n > (static_cast<uli>(1) << 32)) throw std::length_error("exact Markov solve: too many states");
  if (state_channels->size() < n * order)
    throw std::invalid_argument("exact Markov solve: channel table shorter than the states");
  const Chain c = chain_of(*S, unlimited);
  std::vector<double> conv(nchannels + 1, 0.0), nul(nchannels + 1, 0.0);
  const double tol = 1e-14;
  const uli max_sweeps = 10000000;
  // Task 0 removes nothing; task j + 1 removes channel j: each writes only
  // its own slot, so the results do not depend on the thread count.
  parallel_tasks(nchannels + 1, nthreads, [&](uli t, const std::atomic<bool>& stop) {
    std::vector<char> removed(n, 0);
    if (t > 0) {
      const sli j = static_cast<sli>(t - 1);
      for (uli s = 3; s < n; ++s) {
        const sli* row = state_channels->data() + s * order;
        for (uli k = 0; k < order && row[k] >= 0; ++k)
          if (row[k] == j) {
            removed[s] = 1;
            break;
          }
      }
    }
    propagate(c, removed, unlimited, draws, tol, max_sweeps, stop, &conv[t], &nul[t]);
  });
  *p_conv = conv[0];
  *p_null = nul[0];
  conv_via->assign(nchannels, 0.0);
  null_via->assign(nchannels, 0.0);
  for (uli j = 0; j < nchannels; ++j) {
    (*conv_via)[j] = std::max(0.0, conv[0] - conv[j + 1]);
    (*null_via)[j] = std::max(0.0, nul[0] - nul[j + 1]);
  }
}
