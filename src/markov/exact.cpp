#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <queue>
#include <stdexcept>

#include "markov/markov.h"

namespace {

constexpr uli kConversion = 1, kNull = 2;

// A running sum that keeps the low-order bits each addition drops
// (Neumaier), for sums over very many terms.
struct Sum {
  double s = 0, lost = 0;
  void add(double x) {
    const double t = s + x;
    lost += std::fabs(s) >= std::fabs(x) ? (s - t) + x : (x - t) + s;
    s = t;
  }
  double value() const { return s + lost; }
};

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

constexpr uli kWidth = 8;                     // removals solved together, one per column

// Walks from "(start)" through the chain, kWidth variants of it at once:
// column c of the mass vectors is the chain in which the states with bit c
// of removed[s] set end the walk. One pass over the transitions serves
// every column, and the arithmetic of a column does not depend on the
// others, so grouping does not change results. Fills conv[c] / nul[c]:
// the probability of ending in "(conversion)" / "(null)" within `draws`
// draws.
void propagate(const Chain& c, const std::vector<uint8_t>& removed, uli draws,
               const std::atomic<bool>& stop, double* conv, double* nul) {
  const uli n = c.off.size() - 1;
  const uli W = kWidth;
  std::vector<double> x(n * W, 0.0), y(n * W, 0.0);
  std::vector<uint32_t> active{0}, next;
  std::vector<char> mark(n, 0);
  for (uli k = 0; k < W; ++k) x[k] = 1.0;
  double pc[kWidth] = {0}, pn[kWidth] = {0};
  for (uli t = 0; t < draws; ++t) {
    if (stop.load(std::memory_order_relaxed)) return;   // a look per sweep costs nothing beside it
    next.clear();
    for (uint32_t i : active) {
      double* xi = x.data() + i * W;
      for (uli e = c.off[i]; e < c.off[i + 1]; ++e) {
        const uint32_t j = c.to[e];
        const double p = c.p[e];
        double* yj = y.data() + j * W;
        for (uli k = 0; k < W; ++k) yj[k] += xi[k] * p;
        if (!mark[j]) {
          mark[j] = 1;
          next.push_back(j);
        }
      }
      std::fill(xi, xi + W, 0.0);
    }
    size_t keep = 0;
    for (uint32_t j : next) {
      mark[j] = 0;
      double* yj = y.data() + j * W;
      if (j == kConversion || j == kNull) {
        double* acc = j == kConversion ? pc : pn;
        for (uli k = 0; k < W; ++k) acc[k] += yj[k];
        std::fill(yj, yj + W, 0.0);
        continue;
      }
      if (removed[j])
        for (uli k = 0; k < W; ++k)
          if (removed[j] >> k & 1) yj[k] = 0;
      next[keep++] = j;
    }
    next.resize(keep);
    std::swap(x, y);
    std::swap(active, next);
    if (active.empty()) break;
    // A very long step limit need not be walked to its end: once at most
    // 1e-15 of every column's walks are left in the chain, no probability
    // can change by more than that.
    if (t % 16 == 15) {
      double worst = 0;
      for (uli k = 0; k < W; ++k) {
        double left = 0;
        for (uint32_t i : active) left += x[i * W + k];
        worst = std::max(worst, left);
      }
      if (worst <= 1e-15) break;
    }
  }
  for (uli k = 0; k < W; ++k) {
    conv[k] = pc[k];
    nul[k] = pn[k];
  }
}

// Transition counts in compressed rows (self-loops left out), the input of
// the direct solve.
struct Counts {
  std::vector<uli> off;
  std::vector<uint32_t> to;
  std::vector<double> c;
};

Counts counts_of(const Fx& S) {
  const uli n = S.nchannels;
  Counts m;
  m.off.assign(n + 1, 0);
  for (uli i = 0; i < n; ++i) {
    m.off[i] = m.to.size();
    uli prev = 0;
    for (uli k = 0; k < S.lrS0[i]; ++k) {
      const uli cum = S.S1(i, k), j = S.S0(i, k);
      if (j != i) {
        m.to.push_back(static_cast<uint32_t>(j));
        m.c.push_back(static_cast<double>(cum - prev));
      }
      prev = cum;
    }
  }
  m.off[n] = m.to.size();
  return m;
}

// Without a step limit, one removal solved directly: the states a walk
// from "(start)" can reach are eliminated one by one (fewest in times out
// transitions first, to keep the fill small), each folding its transitions
// and its chances of ending in "(conversion)", "(null)" or elsewhere (a
// removed state, or a state the walk never leaves) into its predecessors.
// A state's chance of being left is the sum of those weights, never
// 1 minus its self-loop, and everything else is a product or a sum of
// non-negative numbers, so nothing cancels and every probability comes
// out to a few units of rounding whatever the chain: the stopping rule of
// the sweeps below needs no counterpart here.
void solve_direct(const Counts& m, const std::vector<uint8_t>& removed, uli q, double* conv,
                  double* nul) {
  const uli n = m.off.size() - 1;
  *conv = *nul = 0;
  if (n == 0) return;
  auto is_removed = [&](uli s) { return s >= 3 && (removed[s] >> q & 1); };
  // The states reachable from "(start)" without passing a removed one.
  std::vector<uint32_t> id(n, UINT32_MAX), nodes{0};
  id[0] = 0;
  for (size_t h = 0; h < nodes.size(); ++h)
    for (uli e = m.off[nodes[h]]; e < m.off[nodes[h] + 1]; ++e) {
      const uint32_t t = m.to[e];
      if (t == kConversion || t == kNull || is_removed(t) || id[t] != UINT32_MAX) continue;
      id[t] = static_cast<uint32_t>(nodes.size());
      nodes.push_back(t);
    }
  const size_t N = nodes.size();
  struct Arc { uint32_t to; double c; };
  std::vector<std::vector<Arc>> out(N);
  std::vector<std::vector<uint32_t>> in(N);
  std::vector<double> u(N, 0.0), w(N, 0.0), k(N, 0.0);
  std::vector<uli> indeg(N, 0);
  for (size_t a = 0; a < N; ++a) {
    const uli s = nodes[a];
    for (uli e = m.off[s]; e < m.off[s + 1]; ++e) {
      const uint32_t t = m.to[e];
      if (t == kConversion) u[a] += m.c[e];
      else if (t == kNull) w[a] += m.c[e];
      else if (is_removed(t)) k[a] += m.c[e];
      else {
        out[a].push_back({id[t], m.c[e]});
        if (a == 0) continue;   // "(start)" is solved last, from its successors
        in[id[t]].push_back(static_cast<uint32_t>(a));
        ++indeg[id[t]];
      }
    }
    if (out[a].empty() && u[a] == 0 && w[a] == 0 && k[a] == 0) k[a] = 1;   // never left
  }
  std::vector<char> gone(N, 0);
  std::vector<uint32_t> order;
  std::vector<double> leaves(N, 0.0);
  order.reserve(N);
  std::vector<uint32_t> pos(N, UINT32_MAX);
  typedef std::pair<uli, uint32_t> Key;
  std::priority_queue<Key, std::vector<Key>, std::greater<Key>> heap;
  auto cost = [&](size_t a) { return static_cast<uli>(indeg[a]) * out[a].size(); };
  for (size_t a = 1; a < N; ++a) heap.push({cost(a), static_cast<uint32_t>(a)});
  while (!heap.empty()) {
    const Key top = heap.top();
    heap.pop();
    const uint32_t s = top.second;
    if (gone[s]) continue;
    if (top.first != cost(s)) {
      heap.push({cost(s), s});
      continue;
    }
    double leave = u[s] + w[s] + k[s];
    for (const Arc& x : out[s]) leave += x.c;
    if (leave == 0) k[s] = leave = 1;   // only loops back on itself: never left
    for (uint32_t p : in[s]) {
      if (gone[p]) continue;
      std::vector<Arc>& row = out[p];
      double a = 0;
      for (size_t e = 0; e < row.size();) {
        if (row[e].to == s) {
          a = row[e].c;
          row[e] = row.back();
          row.pop_back();
        } else {
          pos[row[e].to] = static_cast<uint32_t>(e);
          ++e;
        }
      }
      const double f = a / leave;
      for (const Arc& x : out[s]) {
        if (x.to == p) continue;   // a loop back to p only delays p's walks
        if (pos[x.to] != UINT32_MAX) {
          row[pos[x.to]].c += f * x.c;
        } else {
          pos[x.to] = static_cast<uint32_t>(row.size());
          row.push_back({x.to, f * x.c});
          in[x.to].push_back(p);
          ++indeg[x.to];
        }
      }
      for (const Arc& x : row) pos[x.to] = UINT32_MAX;
      u[p] += f * u[s];
      w[p] += f * w[s];
      k[p] += f * k[s];
      heap.push({cost(p), p});
    }
    for (const Arc& x : out[s]) {
      --indeg[x.to];
      heap.push({cost(x.to), x.to});
    }
    gone[s] = 1;
    leaves[s] = leave;
    order.push_back(s);
    std::vector<uint32_t>().swap(in[s]);
  }
  // Back from the last state eliminated, whose row holds no other state,
  // every state's chances follow from those of the states eliminated
  // after it; "(start)" sits apart (every first state would otherwise
  // fold into its one long row) and comes from all of them at the end.
  for (size_t e = order.size(); e-- > 0;) {
    const uint32_t s = order[e];
    double cu = u[s], cw = w[s];
    for (const Arc& x : out[s]) {
      cu += x.c * u[x.to];
      cw += x.c * w[x.to];
    }
    u[s] = cu / leaves[s];
    w[s] = cw / leaves[s];
  }
  Sum leave, cu, cw;
  leave.add(u[0] + w[0] + k[0]);
  cu.add(u[0]);
  cw.add(w[0]);
  for (const Arc& x : out[0]) {
    leave.add(x.c);
    cu.add(x.c * u[x.to]);
    cw.add(x.c * w[x.to]);
  }
  if (leave.value() > 0) {
    *conv = cu.value() / leave.value();
    *nul = cw.value() / leave.value();
  }
}

// Without a step limit: the probability of ending in "(conversion)" (u)
// or "(null)" (w) from every state, by Gauss-Seidel sweeps over the states
// from the last numbered to "(start)". States are numbered in order of
// first appearance along journeys, so this mostly follows the walks
// backwards and a sweep carries values far. Each is bracketed: swept up
// from 0 (nothing decided) and down from 1 (everything still able to end
// there; 0 in removed states and states a walk never leaves), the same
// sweeps raise the one and lower the other towards the true value, so
// their distance at "(start)" bounds the error; sweeps stop when it is at
// most tol in every column. Both brackets meet at the fixed point of the
// rounded sweep, so rounding cannot hold them apart; a chain that keeps
// its walks long closes them slowly, and when kCheckEvery sweeps do not
// halve the distance the sweeps give up (false) and the caller solves
// directly.
constexpr uli kCheckEvery = 64;
constexpr uli kLongRow = 256;                 // successors summed with compensation beyond this

bool solve_unlimited(const Chain& c, const std::vector<uint8_t>& removed, double tol,
                     const std::atomic<bool>& stop, double* conv, double* nul) {
  const uli n = c.off.size() - 1;
  const uli W = kWidth;
  std::vector<double> u(n * W, 0.0), w(n * W, 0.0), hu(n * W, 1.0), hw(n * W, 1.0);
  for (uli q = 0; q < W; ++q) {
    if (n > kConversion) u[kConversion * W + q] = 1, hw[kConversion * W + q] = 0;
    if (n > kNull) w[kNull * W + q] = 1, hu[kNull * W + q] = 0;
  }
  for (uli s = 3; s < n; ++s)
    for (uli q = 0; q < W; ++q)
      if (c.off[s] == c.off[s + 1] || (removed[s] >> q & 1)) hu[s * W + q] = hw[s * W + q] = 0;
  if (c.off[0] == c.off[1])
    for (uli q = 0; q < W; ++q) hu[q] = hw[q] = 0;   // no journey to walk
  double au[kWidth], aw[kWidth], bu[kWidth], bw[kWidth];
  double checked = 1;
  for (uli sweep = 0;; ++sweep) {
    if (stop.load(std::memory_order_relaxed)) return true;
    double gap = 0;
    for (uli q = 0; q < W; ++q) gap = std::max({gap, hu[q] - u[q], hw[q] - w[q]});
    if (gap <= tol) break;
    if (sweep % kCheckEvery == kCheckEvery - 1) {
      if (!(gap <= 0.5 * checked)) return false;
      checked = gap;
    }
    for (uli s = n; s-- > 0;) {
      if (s == kConversion || s == kNull || c.off[s] == c.off[s + 1]) continue;
      std::fill(au, au + W, 0.0);
      std::fill(aw, aw + W, 0.0);
      std::fill(bu, bu + W, 0.0);
      std::fill(bw, bw + W, 0.0);
      if (c.off[s + 1] - c.off[s] <= kLongRow) {
        for (uli e = c.off[s]; e < c.off[s + 1]; ++e) {
          const uli t = c.to[e];
          const double p = c.p[e];
          for (uli q = 0; q < W; ++q) {
            au[q] += p * u[t * W + q];
            aw[q] += p * w[t * W + q];
            bu[q] += p * hu[t * W + q];
            bw[q] += p * hw[t * W + q];
          }
        }
      } else {
        // "(start)" may lead to most states: a plain running sum over so
        // many terms would drift by more than the tolerance.
        Sum su[kWidth], sw[kWidth], tu[kWidth], tw[kWidth];
        for (uli e = c.off[s]; e < c.off[s + 1]; ++e) {
          const uli t = c.to[e];
          const double p = c.p[e];
          for (uli q = 0; q < W; ++q) {
            su[q].add(p * u[t * W + q]);
            sw[q].add(p * w[t * W + q]);
            tu[q].add(p * hu[t * W + q]);
            tw[q].add(p * hw[t * W + q]);
          }
        }
        for (uli q = 0; q < W; ++q) {
          au[q] = su[q].value();
          aw[q] = sw[q].value();
          bu[q] = tu[q].value();
          bw[q] = tw[q].value();
        }
      }
      for (uli q = 0; q < W; ++q) {
        if (removed[s] >> q & 1) continue;
        u[s * W + q] = au[q];
        w[s * W + q] = aw[q];
        hu[s * W + q] = bu[q];
        hw[s * W + q] = bw[q];
      }
    }
  }
  for (uli q = 0; q < W; ++q) {
    conv[q] = u[q];
    nul[q] = w[q];
  }
  return true;
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
  const Counts counts = unlimited ? counts_of(*S) : Counts();
  // Column 0 removes nothing, column j + 1 removes channel j; columns are
  // solved kWidth at a time, a group per task, whatever the thread count.
  const uli ncol = nchannels + 1, ngroups = (ncol + kWidth - 1) / kWidth;
  std::vector<double> conv(ngroups * kWidth, 0.0), nul(ngroups * kWidth, 0.0);
  const double tol = 1e-14;
  parallel_tasks(ngroups, nthreads, [&](uli g, const std::atomic<bool>& stop) {
    std::vector<uint8_t> removed(n, 0);
    for (uli s = 3; s < n; ++s) {
      const sli* row = state_channels->data() + s * order;
      for (uli k = 0; k < order && row[k] >= 0; ++k) {
        const uli col = static_cast<uli>(row[k]) + 1;
        if (col / kWidth == g) removed[s] |= static_cast<uint8_t>(1u << (col % kWidth));
      }
    }
    if (unlimited) {
      if (solve_unlimited(c, removed, tol, stop, &conv[g * kWidth], &nul[g * kWidth])) return;
      for (uli q = 0; q < kWidth && g * kWidth + q < ncol; ++q) {
        if (stop.load(std::memory_order_relaxed)) return;
        solve_direct(counts, removed, q, &conv[g * kWidth + q], &nul[g * kWidth + q]);
      }
    } else
      propagate(c, removed, draws, stop, &conv[g * kWidth], &nul[g * kWidth]);
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
