#include <algorithm>
#include <cstring>
#include <memory>
#include <stdexcept>
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

constexpr uli kUnknown = ~static_cast<uli>(0);

// Ids of byte strings (channel names, windows of channel indices) in a flat
// open-addressing table: a look-up hashes the bytes in place, and only a
// new key is copied.
class IdTable {
 public:
  uli find(std::string_view key, uint64_t h) const {
    if (slots_.empty()) return kUnknown;
    const uint32_t tag = static_cast<uint32_t>(h >> 32);
    for (size_t k = tag & mask_;; k = (k + 1) & mask_) {
      const Slot& sl = slots_[k];
      if (sl.entry == 0) return kUnknown;
      if (sl.tag == tag && text(sl.entry - 1) == key) return entries_[sl.entry - 1].id;
    }
  }
  void insert(std::string_view key, uint64_t h, uli id) {
    if (entries_.size() >= 0xFFFFFFFEu) throw std::length_error("more than 2^32 - 2 names");
    if (2 * (entries_.size() + 1) > slots_.size()) grow();
    entries_.push_back(Entry{bytes_.size(), key.size(), id});
    bytes_.append(key.data(), key.size());
    place(Slot{static_cast<uint32_t>(h >> 32), static_cast<uint32_t>(entries_.size())});
  }

 private:
  // A key's slot comes from its tag (the hash's high half), so the table
  // grows without hashing the keys again.
  struct Slot { uint32_t tag, entry; };      // entry 0: empty, else entry index + 1
  struct Entry { uli off, len, id; };
  std::string_view text(size_t e) const {
    return std::string_view(bytes_.data() + entries_[e].off, entries_[e].len);
  }
  void place(Slot x) {
    size_t k = x.tag & mask_;
    while (slots_[k].entry != 0) k = (k + 1) & mask_;
    slots_[k] = x;
  }
  void grow() {
    std::vector<Slot> old(slots_.empty() ? 64 : 2 * slots_.size(), Slot{0, 0});
    old.swap(slots_);
    mask_ = slots_.size() - 1;
    for (const Slot& x : old)
      if (x.entry != 0) place(x);
  }
  std::vector<Slot> slots_;
  size_t mask_ = 0;
  std::vector<Entry> entries_;
  std::string bytes_;
};

// Encodes paths into the channel and state dictionaries of a matrix, as
// encode_journey does (same indices, names and order of registration), but
// finds known channels and states through hash tables, so the ordered maps
// are touched only to register new ones.
class Encoder {
 public:
  void encode(std::string_view path, char sep, uli order, SimulationMatrix* m,
              std::vector<uli>* states) {
    check_order(order, "order");
    channels_markov(path, sep, &names_);
    idx_.clear();
    states->clear();
    for (std::string_view name : names_) {
      const uint64_t h = hash_bytes(name);
      uli c = channels_.find(name, h);
      if (c == kUnknown) {
        c = m->nchannels++;
        m->mp_channels.emplace(std::string(name), c);
        m->vchannels.emplace_back(name);
        channels_.insert(name, h, c);
      }
      idx_.push_back(c);
    }
    const size_t n = idx_.size();
    if (n == 0) return;
    // Windows start at every index until one reaches the end of the journey.
    const size_t nwin = n >= order ? n - order + 1 : 1;
    for (size_t w = 0; w < nwin; ++w) {
      const size_t end = std::min(n, w + static_cast<size_t>(order));
      const std::string_view key(reinterpret_cast<const char*>(idx_.data() + w),
                                 (end - w) * sizeof(uli));
      const uint64_t h = hash_bytes(key);
      uli q = states_.find(key, h);
      if (q == kUnknown) {
        q = m->nchannels_sim++;
        text_.clear();
        std::vector<sli> inv(order, -1);
        for (size_t k = w; k < end; ++k) {
          if (k > w) text_.push_back(' ');
          append_lu(text_, idx_[k]);
          inv[k - w] = static_cast<sli>(idx_[k]);
        }
        m->mp_channels_sim.emplace(text_, q);
        m->mp_channels_sim_inv[q] = std::move(inv);
        m->vchannels_sim.push_back(text_);
        states_.insert(key, h, q);
      }
      states->push_back(q);
    }
  }

 private:
  IdTable channels_, states_;
  std::vector<std::string_view> names_;
  std::vector<uli> idx_;
  std::string text_;
};

// Paths repeat a lot in one-row-per-customer tables: each distinct path
// text is encoded once, and once its transitions are in the store their
// positions are kept too, so a repeated path costs one hash of its text
// and a few additions. Encoding the same text again would register
// nothing new and give the same states, so results are identical.
// Each distinct path is one record, its counts next to its text, so a
// look-up touches a slot and a record; records sit in fixed blocks that
// never move, so memory follows the distinct paths without the peaks of a
// doubling copy. The cache stops growing at kCacheMax paths (later new
// paths are encoded every time).
constexpr size_t kCacheMax = size_t(1) << 22;

class PathCache {
 public:
  typedef uint32_t Ref;                      // block << 16 | word offset; 0: none

  Ref find(std::string_view path, uint64_t h) const {
    if (slots_.empty()) return 0;
    const uint32_t tag = static_cast<uint32_t>(h >> 32);
    for (size_t k = tag & mask_;; k = (k + 1) & mask_) {
      const Slot& sl = slots_[k];
      if (sl.ref == 0) return 0;
      if (sl.tag == tag && text(sl.ref) == path) return sl.ref;
    }
  }
  bool full() const { return npaths_ >= kCacheMax || blocks_.size() >= kMaxBlocks; }
  // states: each below 2^32, as the store holds at most 2^32 states.
  Ref insert(std::string_view path, uint64_t h, const std::vector<uli>& states) {
    if (path.size() >= kNone) throw std::length_error("a path of more than 2^32 - 2 bytes");
    if (2 * (npaths_ + 1) > slots_.size()) grow();
    const Ref r = allocate(kHeadWords + (path.size() + 7) / 8 + states.size());
    uint64_t* w = record(r);
    *reinterpret_cast<Head*>(w) = Head{static_cast<uint32_t>(path.size()),
                                       static_cast<uint32_t>(states.size()), kNone, kNone, 0, 0};
    std::memcpy(w + kHeadWords, path.data(), path.size());
    uint32_t* st = state_ids(r);
    for (size_t k = 0; k < states.size(); ++k) {
      st[k] = static_cast<uint32_t>(states[k]);
      st[states.size() + k] = kNone;         // positions: unknown until the first add
    }
    place(Slot{static_cast<uint32_t>(h >> 32), r});
    ++npaths_;
    return r;
  }

  // One more row of path r. Once the path's transitions have their places
  // in the store, a row only adds to the path's pending counts (deferred
  // true), which flush moves into the store: the store sees the same
  // successors in the same order and the same totals, and a row costs a
  // hash and two additions.
  void add(Ref r, uli convs, uli nulls, bool deferred, Fx* S, uli* max_npassi) {
    Head& e = head(r);
    uli weight;
    if (add_overflows(convs, nulls, &weight))
      throw std::overflow_error("conversions and nulls add up to more than 2^64 - 1");
    if (weight == 0) return;
    uint32_t* st = state_ids(r);
    uint32_t* pos = st + e.nst;
    const bool placed = e.nst == 0 || pos[0] != kNone;
    if (deferred && placed && (convs == 0 || e.conv_pos != kNone) &&
        (nulls == 0 || e.null_pos != kNone)) {
      if ((e.pend_c | e.pend_n) == 0) pending_.push_back(r);
      e.pend_c += convs;   // cannot wrap: the reader bounds every count read (read_all)
      e.pend_n += nulls;
      return;
    }
    uli p = kStart;
    for (uli k = 0; k < e.nst; ++k) {
      if (placed) S->add_at(p, pos[k], weight);
      else pos[k] = narrow(S->add_get(p, st[k], weight));
      p = st[k];
    }
    if (convs > 0) {
      if (e.conv_pos == kNone) e.conv_pos = narrow(S->add_get(p, kConversion, convs));
      else S->add_at(p, e.conv_pos, convs);
    }
    if (nulls > 0) {
      if (e.null_pos == kNone) e.null_pos = narrow(S->add_get(p, kNull, nulls));
      else S->add_at(p, e.null_pos, nulls);
    }
    *max_npassi = std::max<uli>(*max_npassi, e.nst + 1);
  }

  // Pending counts into the store, in order of the paths' first pending row.
  void flush(Fx* S) {
    for (Ref r : pending_) {
      Head& e = head(r);
      const uint32_t* st = state_ids(r);
      const uint32_t* pos = st + e.nst;
      const uli weight = e.pend_c + e.pend_n;
      uli p = kStart;
      for (uli k = 0; k < e.nst; ++k) {
        S->add_at(p, pos[k], weight);
        p = st[k];
      }
      if (e.pend_c > 0) S->add_at(p, e.conv_pos, e.pend_c);
      if (e.pend_n > 0) S->add_at(p, e.null_pos, e.pend_n);
      e.pend_c = e.pend_n = 0;
    }
    pending_.clear();
  }

 private:
  // A record: Head, the path text padded to whole words, the path's states
  // and then the positions of its transitions among their state's
  // successors (both 32-bit).
  struct Head {
    uint32_t len, nst, conv_pos, null_pos;
    uli pend_c, pend_n;                      // counts of later rows, not yet in the store
  };
  static constexpr size_t kHeadWords = sizeof(Head) / 8;
  static constexpr uint32_t kNone = 0xFFFFFFFFu;
  static constexpr size_t kBlockWords = size_t(1) << 16;
  static constexpr size_t kMaxBlocks = size_t(1) << 16;
  struct Slot { uint32_t tag; Ref ref; };     // placed by tag, as in IdTable

  static uint32_t narrow(uli x) {
    if (x >= kNone) throw std::length_error("a state with more than 2^32 - 2 successors");
    return static_cast<uint32_t>(x);
  }
  uint64_t* record(Ref r) const { return blocks_[r >> 16].get() + (r & 0xFFFFu); }
  Head& head(Ref r) const { return *reinterpret_cast<Head*>(record(r)); }
  std::string_view text(Ref r) const {
    const uint64_t* w = record(r);
    return std::string_view(reinterpret_cast<const char*>(w + kHeadWords),
                            reinterpret_cast<const Head*>(w)->len);
  }
  uint32_t* state_ids(Ref r) const {
    return reinterpret_cast<uint32_t*>(record(r) + kHeadWords + (head(r).len + 7) / 8);
  }
  // Block 0 is never used, so no record has Ref 0. A record longer than a
  // block gets a block of its own.
  Ref allocate(size_t words) {
    if (blocks_.empty()) blocks_.emplace_back();
    if (words > kBlockWords) {
      blocks_.emplace_back(new uint64_t[words]);
      return static_cast<Ref>((blocks_.size() - 1) << 16);
    }
    if (cur_ == 0 || used_ + words > kBlockWords) {
      blocks_.emplace_back(new uint64_t[kBlockWords]);
      cur_ = blocks_.size() - 1;
      used_ = 0;
    }
    const Ref r = static_cast<Ref>(cur_ << 16 | used_);
    used_ += words;
    return r;
  }
  void place(Slot x) {
    size_t k = x.tag & mask_;
    while (slots_[k].ref != 0) k = (k + 1) & mask_;
    slots_[k] = x;
  }
  void grow() {
    std::vector<Slot> old(slots_.empty() ? 1024 : 2 * slots_.size(), Slot{0, 0});
    old.swap(slots_);
    mask_ = slots_.size() - 1;
    for (const Slot& x : old)
      if (x.ref != 0) place(x);
  }

  std::vector<Slot> slots_;
  size_t mask_ = 0;
  size_t npaths_ = 0;
  std::vector<std::unique_ptr<uint64_t[]>> blocks_;
  size_t cur_ = 0, used_ = 0;                // block being filled, words used in it
  std::vector<Ref> pending_;
};

// An upper bound of what one row can add to the counts out of any state:
// its weight on each of at most len + 1 transitions, saturating.
uli row_bound(uli convs, uli nulls, size_t len) {
  uli weight, out;
  if (add_overflows(convs, nulls, &weight) || __builtin_mul_overflow(weight, len + 2, &out))
    return ~static_cast<uli>(0);
  return out;
}

void read_all(JourneyReader& reader, const std::string& cha_sep, uli order, int verbose,
              SimulationMatrix* m) {
  uli nrows = 0;
  PathCache cache;
  Encoder encoder;
  std::vector<uli> states;
  // Rows are deferred while everything read so far cannot add up to more
  // than 2^64 - 1 in any state; past that every row goes to the store at
  // once, so an overflow is still reported at the row that causes it.
  uli bound = 0;
  bool deferred = true;
  while (reader.next()) {
    const uli i = reader.index();
    const uli convs = reader.conv(), nulls = reader.nulls();
    try {
      const std::string_view path = reader.path_view();
      if (deferred && add_overflows(bound, row_bound(convs, nulls, path.size()), &bound)) {
        cache.flush(&m->S);
        deferred = false;
      }
      const uint64_t h = hash_bytes(path);
      PathCache::Ref hit = cache.find(path, h);
      if (hit == 0) {
        encoder.encode(path, first_char(cha_sep, "cha_sep"), order, m, &states);
        // The store grows with the states seen, doubling, so a high order
        // over many channels costs only what the data holds.
        if (m->nchannels_sim > m->S.capacity())
          m->S.resize(std::max<uli>(m->nchannels_sim, std::max<uli>(64, 2 * m->S.capacity())));
        m->max_npassi = std::max<uli>(m->max_npassi, states.size() + 1);
        if (cache.full()) add_states(states, convs, nulls, &m->S, &m->max_npassi);
        else hit = cache.insert(path, h, states);
      }
      if (hit != 0) cache.add(hit, convs, nulls, deferred, &m->S, &m->max_npassi);
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
  // Without any journey the store still holds the three special states.
  if (m->nchannels_sim > m->S.capacity()) m->S.resize(m->nchannels_sim);
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
