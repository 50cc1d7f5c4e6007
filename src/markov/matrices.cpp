#include <algorithm>
#include <stdexcept>
#include <functional>
#include <string_view>

#include "markov/markov.h"

namespace {

constexpr uli kProgressEvery = 1000000;
constexpr uli kStart = 0, kConversion = 1, kNull = 2;

struct BuildScratch {
  std::vector<uli> channels, states;
};

BuildScratch& scratch() {
  thread_local BuildScratch s;
  return s;
}

void progress(uli nrows) {
  printA("Building transition matrix, number of paths elaborated: " + group_thousands(nrows));
}

// Adds one encoded journey (its states) to the store.
void add_states(const std::vector<uli>& states, uli convs, uli nulls, Fx* S, uli* max_npassi) {
  uli weight;
  if (add_overflows(convs, nulls, &weight))
    throw std::overflow_error("conversions and nulls add up to more than 2^64 - 1");
  uli p = kStart;
  for (uli q : states) {
    if (weight > 0) S->add(p, q, weight);
    p = q;
  }
  if (convs > 0) S->add(p, kConversion, convs);
  if (nulls > 0) S->add(p, kNull, nulls);
  *max_npassi = std::max<uli>(*max_npassi, states.size() + 1);
}

// Paths repeat a lot in one-row-per-customer tables: each distinct path
// text is encoded once, and once its transitions are in the store their
// positions are kept too, so a repeated path costs one hash of its text
// and a few additions. Encoding the same text again would register
// nothing new and give the same states, so results are identical. An open
// addressing table over flat arrays keeps the look-ups to a cache miss or
// two; it stops growing at kCacheMax paths (later new paths are encoded
// every time).
constexpr size_t kCacheMax = size_t(1) << 22;
constexpr uli kUnknown = ~static_cast<uli>(0);

class PathCache {
 public:
  struct Entry {
    uli text_off, text_len, st_off, nst;
    uli pos_off = kUnknown;                  // positions of the internal transitions
    uli conv_pos = kUnknown, null_pos = kUnknown;
    uli pend_w = 0, pend_c = 0, pend_n = 0;  // counts of later rows, not yet in the store
  };

  // Index of the path, or kUnknown.
  uli find(std::string_view path, uint64_t h) const {
    if (slots_.empty()) return kUnknown;
    for (size_t k = h & mask_;; k = (k + 1) & mask_) {
      const Slot& sl = slots_[k];
      if (sl.idx == 0) return kUnknown;
      if (sl.hash == h) {
        const Entry& e = entries_[sl.idx - 1];
        if (std::string_view(text_.data() + e.text_off, e.text_len) == path) return sl.idx - 1;
      }
    }
  }
  bool full() const { return entries_.size() >= kCacheMax; }
  void insert(std::string_view path, uint64_t h, const std::vector<uli>& states) {
    if (2 * (entries_.size() + 1) > slots_.size()) grow();
    Entry e{text_.size(), path.size(), states_.size(), states.size()};
    text_.append(path.data(), path.size());
    states_.insert(states_.end(), states.begin(), states.end());
    entries_.push_back(e);
    place(h, entries_.size());
  }

  // One more row of path idx. Once the path's transitions have their
  // places in the store, a row only adds to the path's pending counts
  // (deferred true), which flush moves into the store: the store sees the
  // same successors in the same order and the same totals, and a row costs
  // a hash and three additions.
  void add(uli idx, uli convs, uli nulls, bool deferred, Fx* S, uli* max_npassi) {
    Entry& e = entries_[idx];
    const uli* st = states_.data() + e.st_off;
    uli weight;
    if (add_overflows(convs, nulls, &weight))
      throw std::overflow_error("conversions and nulls add up to more than 2^64 - 1");
    if (deferred && (weight == 0 || e.pos_off != kUnknown) &&
        (convs == 0 || e.conv_pos != kUnknown) && (nulls == 0 || e.null_pos != kUnknown)) {
      if ((e.pend_w | e.pend_c | e.pend_n) == 0) pending_.push_back(idx);
      e.pend_w += weight;   // cannot wrap: the reader bounds every count read (read_all)
      e.pend_c += convs;
      e.pend_n += nulls;
      return;
    }
    if (weight > 0) {
      if (e.pos_off == kUnknown) {
        e.pos_off = pos_.size();
        uli p = kStart;
        for (uli k = 0; k < e.nst; ++k) {
          pos_.push_back(S->add_get(p, st[k], weight));
          p = st[k];
        }
      } else {
        uli p = kStart;
        for (uli k = 0; k < e.nst; ++k) {
          S->add_at(p, pos_[e.pos_off + k], weight);
          p = st[k];
        }
      }
    }
    const uli last = e.nst ? st[e.nst - 1] : kStart;
    if (convs > 0) {
      if (e.conv_pos == kUnknown) e.conv_pos = S->add_get(last, kConversion, convs);
      else S->add_at(last, e.conv_pos, convs);
    }
    if (nulls > 0) {
      if (e.null_pos == kUnknown) e.null_pos = S->add_get(last, kNull, nulls);
      else S->add_at(last, e.null_pos, nulls);
    }
    *max_npassi = std::max<uli>(*max_npassi, e.nst + 1);
  }

  // Pending counts into the store, in order of the paths' first pending row.
  void flush(Fx* S) {
    for (uli idx : pending_) {
      Entry& e = entries_[idx];
      const uli* st = states_.data() + e.st_off;
      if (e.pend_w > 0) {
        uli p = kStart;
        for (uli k = 0; k < e.nst; ++k) {
          S->add_at(p, pos_[e.pos_off + k], e.pend_w);
          p = st[k];
        }
      }
      const uli last = e.nst ? st[e.nst - 1] : kStart;
      if (e.pend_c > 0) S->add_at(last, e.conv_pos, e.pend_c);
      if (e.pend_n > 0) S->add_at(last, e.null_pos, e.pend_n);
      e.pend_w = e.pend_c = e.pend_n = 0;
    }
    pending_.clear();
  }

 private:
  struct Slot { uint64_t hash; uli idx; };   // idx 0: empty, else entry + 1
  void place(uint64_t h, uli idx) {
    size_t k = h & mask_;
    while (slots_[k].idx != 0) k = (k + 1) & mask_;
    slots_[k] = Slot{h, idx};
  }
  void grow() {
    std::vector<Slot> old;
    old.swap(slots_);
    slots_.assign(old.empty() ? 1024 : 2 * old.size(), Slot{0, 0});
    mask_ = slots_.size() - 1;
    for (const Slot& sl : old)
      if (sl.idx != 0) place(sl.hash, sl.idx);
  }
  std::vector<Slot> slots_;
  size_t mask_ = 0;
  std::vector<Entry> entries_;
  std::string text_;
  std::vector<uli> states_, pos_, pending_;
};

// An upper bound of what one row can add to the counts out of any state:
// its weight on each of at most len + 1 transitions, saturating.
uli row_bound(uli convs, uli nulls, size_t len) {
  uli weight, out;
  if (add_overflows(convs, nulls, &weight) || __builtin_mul_overflow(weight, len + 2, &out))
    return ~static_cast<uli>(0);
  return out;
}

void read_all(JourneyReader& reader, std::string cha_sep, uli order, int verbose,
              SimulationMatrix* m) {
  std::string s;
  uli nrows = 0;
  PathCache cache;
  const std::hash<std::string_view> hasher;
  // Rows are deferred while everything read so far cannot add up to more
  // than 2^64 - 1 in any state; past that every row goes to the store at
  // once, so an overflow is still reported at the row that causes it.
  uli bound = 0;
  bool deferred = true;
  while (reader.next()) {
    const uli i = reader.index();
    uli convs = reader.conv(), nulls = reader.nulls();
    try {
      const std::string_view path = reader.path();
      if (deferred && add_overflows(bound, row_bound(convs, nulls, path.size()), &bound)) {
        cache.flush(&m->S);
        deferred = false;
      }
      const uint64_t h = hasher(path);
      const uli hit = cache.find(path, h);
      if (hit != kUnknown) {
        cache.add(hit, convs, nulls, deferred, &m->S, &m->max_npassi);
      } else {
        s.assign(path.data(), path.size());
        build_simulation_matrix_i_cpp(&s, &convs, &nulls, &cha_sep, &order, &m->S,
                                      &m->nchannels, &m->mp_channels, &m->vchannels,
                                      &m->max_npassi, &m->mp_channels_sim,
                                      &m->mp_channels_sim_inv, &m->vchannels_sim,
                                      &m->nchannels_sim);
        if (!cache.full()) cache.insert(path, h, scratch().states);
      }
    } catch (const std::overflow_error&) {
      count_overflow(i);
    }
    m->svc += static_cast<double>(convs);
    m->svv += reader.value();
    nrows = i + 1;
    if (verbose == 1 && i > 0 && i % kProgressEvery == 0) progress(i);
    if (i % kProgressEvery == 0) check_interrupt();
  }
  if (verbose == 1) progress(nrows);
  cache.flush(&m->S);
  m->S.set_nchannels(m->nchannels_sim);
  m->S.cum();
}

}  // namespace

void build_simulation_matrix_i_cpp(std::string* s, uli* convs, uli* nulls, std::string* cha_sep,
                                   uli* order, Fx* S, uli* nchannels, ChannelMap* mp_channels,
                                   std::vector<std::string>* vchannels, uli* max_npassi,
                                   ChannelMap* mp_channels_sim, StateInverse* mp_channels_sim_inv,
                                   std::vector<std::string>* vchannels_sim, uli* nchannels_sim) {
  const char sep = first_char(*cha_sep, "cha_sep");
  s->push_back(sep);
  BuildScratch& b = scratch();
  encode_journey(*s, sep, *order, mp_channels, vchannels, nchannels, mp_channels_sim,
                 mp_channels_sim_inv, vchannels_sim, nchannels_sim, &b.channels, &b.states);
  // The store grows with the states seen, doubling, so a high order over
  // many channels costs only what the data holds.
  if (*nchannels_sim > S->capacity())
    S->resize(std::max<uli>(*nchannels_sim, std::max<uli>(64, 2 * S->capacity())));
  add_states(b.states, *convs, *nulls, S, max_npassi);
  S->set_nchannels(*nchannels_sim);
}

void build_simulation_matrix(const JourneySource& src, const std::string& cha_sep, uli order,
                             int verbose, SimulationMatrix* m) {
  if (order == 0) throw std::invalid_argument("order must be at least 1");
  *m = SimulationMatrix();
  init_state_dictionary(&m->mp_channels_sim, &m->vchannels_sim, &m->mp_channels_sim_inv,
                        &m->nchannels_sim);
  // Vectors are read for what they hold, whatever columns src names.
  JourneySource reading = src.flg_file == 1 ? src : vector_source(src.vy, src.vc, src.vv, src.vn);
  reading.cha_sep = cha_sep.empty() ? 0 : cha_sep[0];
  JourneyReader reader(reading);
  read_all(reader, cha_sep, order, verbose, m);
}
