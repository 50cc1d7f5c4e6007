#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>

#include "markov/markov.h"

namespace {

inline uli pair_key(uli i, uli j) { return (i << 32) | j; }
inline size_t slot_of(uli key, int shift) {
  return static_cast<size_t>((key * 0x9E3779B97F4A7C15ull) >> shift);
}

[[noreturn]] void beyond(const char* op, uli state, uli limit) {
  throw std::out_of_range(std::string("Fx::") + op + ": state " + std::to_string(state) +
                          " is beyond the store (" + std::to_string(limit) + " states)");
}

}  // namespace

Fx::Fx(uli nchannels0) { init(nchannels0); }

void Fx::init(uli n) {
  if (n <= cap_) return;
  // Pair keys hold each state in 32 bits.
  if (n > (static_cast<uli>(1) << 32))
    throw std::length_error("Fx: more than 2^32 states");
  // std::vector grows its storage geometrically, so repeated small steps
  // stay linear overall.
  succ_.resize(n);
  cnt_.resize(n);
  lrS0.resize(n, 0);
  lrS.resize(n, 0);
  cap_ = n;
}

void Fx::resize(uli n) { init(n); }

void Fx::add(uli i, uli j, uli v) { add_get(i, j, v); }

uli Fx::add_get(uli i, uli j, uli v) {
  if (i >= cap_) beyond("add", i, cap_);
  if (j >= cap_) beyond("add", j, cap_);
  // lrS keeps each state's running total, so no edge count and no
  // cumulative count in cum() can wrap around.
  uli tot;
  if (add_overflows(lrS[i], v, &tot))
    throw std::overflow_error("Fx::add: the counts out of state " + std::to_string(i) +
                              " add up to more than 2^64 - 1");
  const uli key = pair_key(i, j);
  uli k;
  if (const uli* found = find_pos(key)) {
    k = *found;
    cnt_[i][k] += v;
  } else {
    k = lrS0[i];
    insert_pos(key, k);
    succ_[i].push_back(j);
    cnt_[i].push_back(v);
    ++lrS0[i];
    ++non_zeros;
  }
  lrS[i] = tot;
  return k;
}

const uli* Fx::find_pos(uli key) const {
  if (pos_.empty()) return nullptr;
  const size_t mask = pos_.size() - 1;
  for (size_t s = slot_of(key, pos_shift_);; s = (s + 1) & mask) {
    const PosSlot& sl = pos_[s];
    if (sl.pos == kFreeSlot) return nullptr;
    if (sl.key == key) return &sl.pos;
  }
}

void Fx::insert_pos(uli key, uli pos) {
  auto place = [this](const PosSlot& x) {
    const size_t mask = pos_.size() - 1;
    size_t s = slot_of(x.key, pos_shift_);
    while (pos_[s].pos != kFreeSlot) s = (s + 1) & mask;
    pos_[s] = x;
  };
  if (2 * (non_zeros + 1) > pos_.size()) {
    std::vector<PosSlot> old(pos_.empty() ? 64 : 2 * pos_.size(), PosSlot{0, kFreeSlot});
    old.swap(pos_);
    pos_shift_ = old.empty() ? 64 - 6 : pos_shift_ - 1;
    for (const PosSlot& o : old)
      if (o.pos != kFreeSlot) place(o);
  }
  place(PosSlot{key, pos});
}

void Fx::add_at(uli i, uli k, uli v) {
  if (i >= cap_) beyond("add_at", i, cap_);
  uli& c = cnt_[i].at(k);
  uli tot;
  if (add_overflows(lrS[i], v, &tot))
    throw std::overflow_error("Fx::add_at: the counts out of state " + std::to_string(i) +
                              " add up to more than 2^64 - 1");
  c += v;   // cannot wrap: c is part of lrS[i]
  lrS[i] = tot;
}

void Fx::set_nchannels(uli n) { nchannels = n; }

namespace {

// The count a uniform draws: floor(tot * uni + 1), kept at most tot (for
// uni just below 1 the sum can round up to tot + 1: that draw still belongs
// to the last successor, not to "no successor"). It never decreases as uni
// grows, every rounding step being monotone.
inline uli drawn_count(uli tot, double uni) {
  const uli s0 = static_cast<uli>(static_cast<double>(tot) * uni + 1.0);
  return s0 > tot ? tot : s0;
}

}  // namespace

void Fx::cum() {
  if (nchannels > cap_) beyond("cum", nchannels - 1, cap_);
  rows_.assign(nchannels, Row{0, 0, 0, 0, 0});
  nrows_ = nchannels;
  edges_.clear();
  edges_.reserve(non_zeros);
  guide_.clear();
  for (uli i = 0; i < nchannels; ++i) {
    Row& r = rows_[i];
    r.off = edges_.size();
    r.deg = lrS0[i];
    uli run = 0;
    for (uli k = 0; k < r.deg; ++k) {
      run += cnt_[i][k];
      edges_.push_back(Edge{run, succ_[i][k]});
    }
    r.tot = run;
    lrS[i] = run;
    if (r.deg <= 1) continue;   // nothing to search: no guide
    // A guide of about two buckets per successor: uni * 2^gbits is exact,
    // so a uniform in bucket b draws at least drawn_count(tot, b / 2^gbits)
    // and less than at (b + 1) / 2^gbits, and its successor lies between
    // the first ones those two counts reach.
    while ((uli{1} << r.gbits) < 2 * r.deg && r.gbits < 20) ++r.gbits;
    const uli nb = uli{1} << r.gbits;
    r.goff = guide_.size();
    const Edge* e = edges_.data() + r.off;
    uli k = 0;
    guide_.push_back(0);
    for (uli b = 1; b < nb; ++b) {
      const uli s0 = drawn_count(r.tot, static_cast<double>(b) / static_cast<double>(nb));
      while (k + 1 < r.deg && e[k].cum < s0) ++k;
      guide_.push_back(static_cast<uint32_t>(k));
    }
    guide_.push_back(static_cast<uint32_t>(r.deg - 1));
  }
}

namespace {

// The smallest uniform in [0, 1) that draws more than count out of tot
// (+inf when none does). The draw never decreases as the uniform grows, so
// a bisection over the ordered bit patterns of the non-negative doubles
// finds it exactly; it starts from a bracket about count / tot, a few
// doubles wide as a rule.
double first_uniform_beyond(uli tot, uli count) {
  const auto as_double = [](uint64_t bits) {
    double u;
    std::memcpy(&u, &bits, sizeof u);
    return u;
  };
  const auto beyond = [&](uint64_t bits) { return drawn_count(tot, as_double(bits)) > count; };
  const double one = 1.0, guess = static_cast<double>(count) / static_cast<double>(tot);
  uint64_t top, g;
  std::memcpy(&top, &one, sizeof top);
  if (!beyond(top - 1)) return std::numeric_limits<double>::infinity();
  if (beyond(0)) return 0.0;
  std::memcpy(&g, &guess, sizeof g);
  g = std::min(g, top - 1);
  // lo never draws beyond, hi does.
  uint64_t lo = 0, hi = top - 1;
  if (beyond(g)) {
    hi = g;
    for (uint64_t step = 1; step < hi; step *= 2) {
      if (!beyond(hi - step)) {
        lo = hi - step;
        break;
      }
      hi -= step;
    }
  } else {
    lo = g;
    for (uint64_t step = 1; step < top - 1 - lo; step *= 2) {
      if (beyond(lo + step)) {
        hi = lo + step;
        break;
      }
      lo += step;
    }
  }
  while (hi - lo > 1) {
    const uint64_t mid = lo + (hi - lo) / 2;
    (beyond(mid) ? hi : lo) = mid;
  }
  return as_double(hi);
}

}  // namespace

Fx::Walker Fx::walker() const {
  Walker w;
  w.fx_ = this;
  w.rows_.resize(nrows_);
  constexpr uli kExact = uli{1} << 53;        // totals whose draws are exact in doubles
  constexpr uli kMaxOff = uli{1} << 26;       // offsets a cursor holds
  const double inf = std::numeric_limits<double>::infinity();
  // Where each row's picks lie, first: a pick names its successors' cursors.
  std::vector<uli> nbits(nrows_, 0);
  uli off = 1, nthr = 0;   // picks_[0]: the rows drawn by the store
  for (uli i = 0; i < nrows_; ++i) {
    const Row& r = rows_[i];
    uli bits = 0;   // about two buckets per successor
    while ((uli{1} << bits) < 2 * r.deg && bits < 20) ++bits;
    nbits[i] = bits;
    if (r.tot > kExact || off + (uli{1} << bits) > kMaxOff || nthr + r.deg > kMaxOff) {
      w.rows_[i] = Walker::by_store(i);
      continue;
    }
    w.rows_[i] = Walker::cursor(i, 32 - bits, off);
    off += uli{1} << bits;
    nthr += r.deg;
  }
  w.picks_.reserve(off);
  w.picks_.push_back(Walker::Pick{inf, {Walker::cursor(0, Walker::kStorePick, 0), 0}});
  for (uli i = 0; i < nrows_; ++i) {
    if (((w.rows_[i] >> 32) & 63) == Walker::kByStore) continue;
    const Row& r = rows_[i];
    const Edge* e = edges_.data() + r.off;
    if (r.deg == 0) {   // no successor: every uniform draws 0
      w.picks_.push_back(Walker::Pick{inf, {w.at(0), w.at(0)}});
      continue;
    }
    const uli first = w.thr_.size();
    for (uli k = 0; k < r.deg; ++k) {
      w.thr_.push_back(k + 1 < r.deg ? first_uniform_beyond(r.tot, e[k].cum) : inf);
      w.to_.push_back(w.at(e[k].to));
    }
    const uli bits = nbits[i];
    const double* thr = w.thr_.data() + first;
    const Walker::Cursor* to = w.to_.data() + first;
    uli k = 0;   // the successor drawn at the bucket's lower end
    for (uli b = 0; b < (uli{1} << bits); ++b) {
      const double lo = std::ldexp(static_cast<double>(b), -static_cast<int>(bits));
      const double hi = std::ldexp(static_cast<double>(b + 1), -static_cast<int>(bits));
      while (thr[k] <= lo) ++k;
      uli last = k;   // the successor drawn just below the upper end
      while (thr[last] < hi) ++last;
      if (last - k > 1)
        w.picks_.push_back(Walker::Pick{inf, {Walker::cursor(0, Walker::kScan, first + k), 0}});
      else
        w.picks_.push_back(Walker::Pick{thr[k], {to[k], to[last]}});
    }
  }
  return w;
}

// A row drawn by the store, or a bucket of more than two successors.
Fx::Walker::Cursor Fx::Walker::slow(Cursor k, double uni) const {
  if (((k >> 32) & 63) == kByStore) return at(fx_->sim(state(k), uni));
  uint64_t j = pick(k, uni).to[0] >> 38;
  while (uni >= thr_[j]) ++j;
  return to_[j];
}

void Fx::sim_beyond(uli c, uli limit) { beyond("sim", c, limit); }

uli Fx::sim_search(const Edge* e, uli lo, uli hi, uli s0) {
  const Edge* hit =
      std::lower_bound(e + lo, e + hi, s0, [](const Edge& y, uli v) { return y.cum < v; });
  return hit != e + hi ? hit->to : 0;   // the end is not reached: the last count is tot
}

uli Fx::S(uli i, uli j) const {
  if (i >= cap_) beyond("S", i, cap_);
  if (j >= cap_) beyond("S", j, cap_);
  const uli* k = find_pos(pair_key(i, j));
  return k ? cnt_[i][*k] : 0;
}

uli Fx::S1(uli i, uli k) const {
  const Row& r = rows_.at(i);
  if (k >= r.deg) throw std::out_of_range("Fx::S1: successor " + std::to_string(k) + " of state " +
                                          std::to_string(i) + " does not exist");
  return edges_[r.off + k].cum;
}

double Fx::pconv(uli ichannel, uli ichannel_conv, uli ichannel_null) const {
  const double x = static_cast<double>(S(ichannel, ichannel_conv));
  const double y = static_cast<double>(S(ichannel, ichannel_null));
  return x + y > 0 ? x / (x + y) : 0.0;
}

void Fx::tran_matx(const std::vector<std::string>* vchannels,
                   std::vector<std::string>* vchannels_from,
                   std::vector<std::string>* vchannels_to, std::vector<double>* vtran_prob) const {
  if (vchannels->size() < nchannels)
    throw std::invalid_argument("Fx::tran_matx: " + std::to_string(vchannels->size()) +
                                " state names for " + std::to_string(nchannels) + " states");
  vchannels_from->clear();
  vchannels_to->clear();
  vtran_prob->clear();
  vchannels_from->reserve(non_zeros);
  vchannels_to->reserve(non_zeros);
  vtran_prob->reserve(non_zeros);
  for (uli i = 0; i < nchannels; ++i) {
    const size_t first = vtran_prob->size();
    double total = 0;
    for (uli k = 0; k < lrS0[i]; ++k) {
      vchannels_from->push_back((*vchannels)[i]);
      vchannels_to->push_back(vchannels->at(succ_[i][k]));
      vtran_prob->push_back(static_cast<double>(cnt_[i][k]));
      total += static_cast<double>(cnt_[i][k]);
    }
    for (size_t m = first; m < vtran_prob->size(); ++m) (*vtran_prob)[m] /= total;
  }
}
