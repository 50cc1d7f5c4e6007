#include <algorithm>
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

Fx::Walker Fx::walker() const {
  Walker w;
  w.fx_ = this;
  w.rows_.resize(nrows_);
  std::vector<uint32_t> bound;
  // Bounds as the guide's, with 2^bits buckets; false as soon as a bucket
  // reaches more than two successors.
  const auto narrow = [&](const Row& r, uli bits) {
    const uli nb = uli{1} << bits;
    const Edge* e = edges_.data() + r.off;
    bound.assign(1, 0);
    uli k = 0;
    for (uli b = 1; b < nb; ++b) {
      const uli s0 = drawn_count(r.tot, static_cast<double>(b) / static_cast<double>(nb));
      while (k + 1 < r.deg && e[k].cum < s0) ++k;
      if (k - bound.back() > 1) return false;
      bound.push_back(static_cast<uint32_t>(k));
    }
    bound.push_back(static_cast<uint32_t>(r.deg - 1));
    return bound[nb] - bound[nb - 1] <= 1;
  };
  for (uli i = 0; i < nrows_; ++i) {
    const Row& r = rows_[i];
    Walker::Row& wr = w.rows_[i];
    wr.tot = r.tot;
    wr.dtot = static_cast<double>(r.tot);
    const Edge* e = edges_.data() + r.off;
    if (r.deg <= 1) {   // one bucket, one successor (none: 0)
      const uint32_t to = r.deg == 0 ? 0 : static_cast<uint32_t>(e[0].to);
      wr = Walker::Row{r.tot, w.picks_.size(), 0, 1.0, wr.dtot, true};
      w.picks_.push_back(Walker::Pick{0, {to, to}});
      continue;
    }
    // Up to four times the guide's buckets are tried.
    for (uli bits = r.gbits; bits <= r.gbits + 2 && bits <= 20 && !wr.picks; ++bits) {
      if (!narrow(r, bits)) continue;
      wr.picks = true;
      wr.gbits = bits;
      wr.nb = static_cast<double>(uli{1} << bits);
      wr.goff = w.picks_.size();
      for (size_t b = 0; b + 1 < bound.size(); ++b)
        w.picks_.push_back(Walker::Pick{e[bound[b]].cum, {static_cast<uint32_t>(e[bound[b]].to),
                                                          static_cast<uint32_t>(e[bound[b + 1]].to)}});
    }
  }
  return w;
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
