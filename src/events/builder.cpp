#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <stdexcept>

#if defined(__unix__) || defined(__APPLE__)
#include <sys/mman.h>
#define TOUCHLANE_EVENTS_MMAP 1
#endif

#include "events/events.h"
#include "journeys/journeys.h"

namespace {

constexpr double kDay = 86400.0;

// Large arrays, zero-filled, held in pages of their own (mapped where the
// system maps memory) so that freeing one gives its memory back at once;
// those read at random also ask for huge pages, so a lookup costs one
// cache miss and not also a page walk. T must be a plain struct.
class FreeArray {
 public:
  FreeArray(size_t bytes = 0, bool mapped = false) : bytes_(bytes), mapped_(mapped) {}
  void operator()(void* p) const {
#ifdef TOUCHLANE_EVENTS_MMAP
    if (mapped_) {
      munmap(p, bytes_);
      return;
    }
#endif
    std::free(p);
  }

 private:
  size_t bytes_;
  bool mapped_;
};
template <class T>
using BigArray = std::unique_ptr<T[], FreeArray>;

template <class T>
BigArray<T> big_array(size_t n, bool random_access = true) {
  const size_t bytes = std::max<size_t>(n * sizeof(T), 1);
#ifdef TOUCHLANE_EVENTS_MMAP
  if (bytes >= (size_t(1) << 20)) {
    void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
    if (random_access) madvise(p, bytes, MADV_HUGEPAGE);
#endif
    return BigArray<T>(static_cast<T*>(p), FreeArray(bytes, true));
  }
#endif
  (void)random_access;
  void* p = std::calloc(bytes, 1);
  if (!p) throw std::bad_alloc();
  return BigArray<T>(static_cast<T*>(p), FreeArray());
}

// Interns byte strings as dense ids 0, 1, 2, ... in order of first sight:
// an open-addressing table of 16-byte slots, linear probing. Keys of up to
// 7 bytes live in the slot itself (with their length), longer ones in an
// arena the slot points into, so most lookups touch one cache line.
class KeyIds {
 public:
  // what: the things counted, for the message when there are too many.
  explicit KeyIds(const char* what) : slots_(big_array<Slot>(16)), mask_(15), what_(what) {}

  size_t size() const { return n_; }

  // The key's hash, and a hint to fetch its home slot: hashing a key a
  // little before interning it hides the wait for that slot.
  uint64_t prepare(std::string_view key) const {
    const uint64_t h = hash(key);
    __builtin_prefetch(&slots_[h & mask_]);
    return h;
  }

  // After prepare(h), once the home slot has arrived: a hint to fetch the
  // stored text a long key will be compared with.
  void prefetch_text(uint64_t h) const {
    const Slot& s = slots_[h & mask_];
    if (s.tag == (static_cast<uint32_t>(h >> 32) | 1u) && (s.word >> 63))
      __builtin_prefetch(arena_.data() + static_cast<size_t>(s.word & ~(1ULL << 63)));
  }

  // The key's id; *added tells whether it was new.
  uint32_t intern(std::string_view key, bool* added) { return intern(key, hash(key), added); }
  uint32_t intern(std::string_view key, uint64_t h, bool* added) {
    const uint32_t tag = static_cast<uint32_t>(h >> 32) | 1u;
    const bool inl = key.size() <= 7;
    const uint64_t word = inl ? pack(key) : 0;
    for (size_t i = h & mask_;; i = (i + 1) & mask_) {
      Slot& s = slots_[i];
      if (s.tag == 0) {
        if (n_ >= std::numeric_limits<uint32_t>::max() - 1)
          throw std::invalid_argument(std::string("events: too many ") + what_);
        s.tag = tag;
        s.id = static_cast<uint32_t>(n_++);
        s.word = inl ? word : store(key);
        *added = true;
        const uint32_t id = s.id;
        if (n_ * 10 > (mask_ + 1) * 7) grow();
        return id;
      }
      if (s.tag == tag && (inl ? s.word == word : (s.word >> 63) && long_equal(s.word, key))) {
        *added = false;
        return s.id;
      }
    }
  }

 private:
  struct Slot {
    uint32_t tag;   // 0: empty
    uint32_t id;
    uint64_t word;  // short key and its length, or 1 << 63 | arena offset
  };

  static uint64_t mix(uint64_t x) {
    x ^= x >> 32;
    x *= 0xd6e8feb86659fd93ULL;
    x ^= x >> 32;
    x *= 0xd6e8feb86659fd93ULL;
    return x ^ (x >> 32);
  }
  static uint64_t hash(std::string_view k) {
    uint64_t h = 0x9e3779b97f4a7c15ULL ^ k.size();
    size_t i = 0;
    for (; i + 8 <= k.size(); i += 8) {
      uint64_t w;
      std::memcpy(&w, k.data() + i, 8);
      h = mix(h ^ w);
    }
    uint64_t w = 0;
    std::memcpy(&w, k.data() + i, k.size() - i);
    return mix(h ^ w ^ (static_cast<uint64_t>(k.size()) << 56));
  }
  static uint64_t pack(std::string_view k) {
    uint64_t w = 0;
    std::memcpy(&w, k.data(), k.size());
    return (w & 0x00FFFFFFFFFFFFFFULL) | (static_cast<uint64_t>(k.size()) << 56);
  }
  uint64_t store(std::string_view k) {
    const uint64_t at = arena_.size();
    const uint32_t len = static_cast<uint32_t>(k.size());
    arena_.append(reinterpret_cast<const char*>(&len), sizeof len);
    arena_.append(k.data(), k.size());
    return (1ULL << 63) | at;
  }
  bool long_equal(uint64_t word, std::string_view k) const {
    const size_t at = static_cast<size_t>(word & ~(1ULL << 63));
    uint32_t len;
    std::memcpy(&len, arena_.data() + at, sizeof len);
    return len == k.size() && std::memcmp(arena_.data() + at + sizeof len, k.data(), len) == 0;
  }
  void grow() {
    const size_t old_size = mask_ + 1;
    BigArray<Slot> old = big_array<Slot>(old_size * 2);
    old.swap(slots_);
    mask_ = old_size * 2 - 1;
    for (size_t k = 0; k < old_size; ++k) {
      const Slot& s = old[k];
      if (s.tag == 0) continue;
      // The slot's tag is the hash's high half; the home slot needs the
      // low bits, so hash the key again.
      size_t i = rehash(s) & mask_;
      while (slots_[i].tag != 0) i = (i + 1) & mask_;
      slots_[i] = s;
    }
  }
  uint64_t rehash(const Slot& s) const {
    if (!(s.word >> 63)) {
      const size_t len = static_cast<size_t>(s.word >> 56);
      char b[8];
      std::memcpy(b, &s.word, 8);
      return hash(std::string_view(b, len));
    }
    const size_t at = static_cast<size_t>(s.word & ~(1ULL << 63));
    uint32_t len;
    std::memcpy(&len, arena_.data() + at, sizeof len);
    return hash(std::string_view(arena_.data() + at + sizeof len, len));
  }

  BigArray<Slot> slots_;
  size_t mask_, n_ = 0;
  const char* what_;
  std::string arena_;
};


std::string row_text(uli row) { return fmt_lu(row + 1); }

// Journeys of one user at a time, added into one table keyed by path (and
// days): the only state that grows with the input is that table.
class Builder {
 public:
  // row: the event's 0-based row, counted from the user's first row as
  // handed to user() (it fits the padding, so an event stays 40 bytes).
  struct Event {
    double t, tie, value;
    uli conv;
    int ch;
    uint32_t row;
  };

  Builder(const JourneyRules& rules, const std::vector<std::string>* vchannels, JourneyTable* out)
      : r_(rules), ch_(vchannels), out_(out), mark_(vchannels->size(), 0), ids_("paths") {
    lb_seconds_ = rules.lookback_days < 0 ? std::numeric_limits<double>::infinity()
                                          : rules.lookback_days * kDay;
  }

  // evs: one user's events in input order; sorted here by time, then tie
  // key, input order last (a stable sort). first_row is added to each
  // event's row where a message names it.
  void user(std::vector<Event>* evs, uli first_row = 0) {
    const auto before = [](const Event& a, const Event& b) {
      return a.t < b.t || (a.t == b.t && a.tie < b.tie);
    };
    // Most users have a few events: a plain insertion sort (stable too)
    // spares the merge sort's buffer.
    if (evs->size() <= 32) {
      for (size_t i = 1; i < evs->size(); ++i) {
        const Event e = (*evs)[i];
        size_t j = i;
        for (; j > 0 && before(e, (*evs)[j - 1]); --j) (*evs)[j] = (*evs)[j - 1];
        (*evs)[j] = e;
      }
    } else {
      std::stable_sort(evs->begin(), evs->end(), before);
    }
    touches_.clear();
    for (const Event& e : *evs) {
      if (e.ch >= 0) touches_.push_back({e.ch, e.t});
      if (e.conv > 0) {
        close(e.t, e.conv, e.value, first_row + e.row);
        touches_.clear();
      }
    }
    if (!touches_.empty()) close(touches_.back().t, 0, 0, 0);
  }

  void extend_channels() { mark_.resize(ch_->size(), 0); }

  // Adds the journeys waiting in the batch to the table, in order.
  void flush() {
    // Taken out first: a fault leaves none of them to be added twice.
    work_.swap(pending_);
    wkeys_.swap(pkeys_);
    pending_.clear();
    pkeys_.clear();
    for (const Pending& p : work_) ids_.prefetch_text(p.hash);
    for (const Pending& p : work_) {
      if (p.len == kUntouched) {
        out_->untouched = add_count(out_->untouched, p.conv, p.row);
        out_->nuntouched_rows += 1;
        out_->untouched_value += p.value;
        continue;
      }
      const std::string_view key(wkeys_.data() + p.at, p.len);
      bool added;
      const uint32_t id = ids_.intern(key, p.hash, &added);
      if (added) {
        keys_.emplace_back(key);
        aggs_.emplace_back();
      }
      Agg& a = aggs_[id];
      a.plen = p.plen;
      if (p.conv > 0) {
        a.conv = add_count(a.conv, p.conv, p.row);
        a.value += p.value;
      } else {
        a.nulls += 1;
      }
    }
  }

  // Rows sorted by path, then days.
  void finish() {
    flush();
    std::vector<uint32_t> rows(keys_.size());
    for (size_t i = 0; i < rows.size(); ++i) rows[i] = static_cast<uint32_t>(i);
    std::sort(rows.begin(), rows.end(), [this](uint32_t a, uint32_t b) { return keys_[a] < keys_[b]; });
    out_->vpath.reserve(rows.size());
    for (uint32_t i : rows) {
      const Agg& a = aggs_[i];
      out_->vpath.emplace_back(keys_[i], 0, a.plen);
      if (r_.flg_times == 1) out_->vdays.emplace_back(keys_[i], a.plen + 1);
      out_->vconv.push_back(a.conv);
      out_->vnulls.push_back(a.nulls);
      out_->vvalue.push_back(a.value);
    }
    keys_.clear();
    aggs_.clear();
  }

 private:
  struct Touch {
    int ch;
    double t;
  };
  struct Agg {
    uli conv = 0, nulls = 0;
    double value = 0;
    size_t plen = 0;
  };
  // A journey waiting for its path to be looked up (its text in pkeys_),
  // or a conversion without touches (len kUntouched), kept in line so
  // faults come in the order of the journeys.
  struct Pending {
    uint64_t hash;
    size_t at, len, plen;
    uli conv;
    double value;
    uli row;
  };
  static constexpr size_t kUntouched = SIZE_MAX;
  // Journeys wait in batches of this many: the table slots asked for when
  // each was queued arrive meanwhile (the table of paths outgrows the
  // caches when paths are many).
  static constexpr size_t kBatch = 32;

  void queue(const Pending& p) {
    pending_.push_back(p);
    if (pending_.size() == kBatch) flush();
  }

  void put_channel(int ch) {
    if (!path_.empty()) path_ += r_.channel_sep;
    path_ += (*ch_)[ch];
  }
  void put_day(double end, double t) {
    if (r_.flg_times != 1) return;
    if (!days_.empty()) days_ += r_.channel_sep;
    append_lu(days_, static_cast<uli>(std::floor((end - t) / kDay)));
  }

  void close(double end, uli conv, double value, uli row) {
    size_t n = touches_.size(), b = 0;
    while (b < n && end - touches_[b].t > lb_seconds_) ++b;
    if (r_.lookback_touches > 0 && n - b > r_.lookback_touches) b = n - r_.lookback_touches;
    if (b == n) {
      if (conv > 0) queue(Pending{0, 0, kUntouched, 0, conv, value, row});
      return;
    }
    path_.clear();
    days_.clear();
    switch (r_.transform) {
      case PathTransform::none:
        for (size_t i = b; i < n; ++i) put_channel(touches_[i].ch), put_day(end, touches_[i].t);
        break;
      case PathTransform::collapse:
        for (size_t i = b; i < n; ++i)
          if (i + 1 == n || touches_[i + 1].ch != touches_[i].ch)
            put_channel(touches_[i].ch), put_day(end, touches_[i].t);
        break;
      case PathTransform::first:
        for (size_t i = b; i < n; ++i)
          if (!mark_[touches_[i].ch]++) put_channel(touches_[i].ch), put_day(end, touches_[i].t);
        for (size_t i = b; i < n; ++i) mark_[touches_[i].ch] = 0;
        break;
      case PathTransform::frequency:
        seen_.clear();
        for (size_t i = b; i < n; ++i)
          if (!mark_[touches_[i].ch]++) seen_.push_back(touches_[i].ch);
        for (int ch : seen_) {
          put_channel(ch);
          path_ += '(';
          append_lu(path_, mark_[ch]);
          path_ += ')';
          mark_[ch] = 0;
        }
        break;
    }
    const size_t plen = path_.size();
    if (r_.flg_times == 1) {
      path_ += '\0';
      path_ += days_;
    }
    const size_t at = pkeys_.size();
    pkeys_ += path_;
    queue(Pending{ids_.prepare(path_), at, path_.size(), plen, conv, value, row});
  }

  JourneyRules r_;
  const std::vector<std::string>* ch_;
  JourneyTable* out_;
  double lb_seconds_;
  std::vector<Touch> touches_;
  std::vector<uli> mark_;           // per channel: seen / count in the current journey
  std::vector<int> seen_;
  std::string path_, days_;
  // Distinct paths (and days): their texts and sums, by id.
  KeyIds ids_;
  std::vector<std::string> keys_;
  std::vector<Agg> aggs_;
  std::vector<Pending> pending_, work_;
  std::string pkeys_, wkeys_;
};

using Event = Builder::Event;

void check_channel_name(const std::string& name, char sep) {
  if (name.find(sep) != std::string::npos)
    throw std::invalid_argument("channel \"" + name + "\" contains the channel separator \"" +
                                std::string(1, sep) + "\"");
}

// Counts as doubles from R or a file: whole, finite, not negative.
uli as_event_count(double x, const char* column, uli row) {
  if (!(x >= 0) || !std::isfinite(x) || x != std::floor(x) || x >= 1.8e19)
    throw std::invalid_argument(std::string("column ") + column + ": conversions in row " +
                                row_text(row) + " must be a whole number >= 0");
  return static_cast<uli>(x);
}

void check_finite(double x, const char* column, uli row) {
  if (!std::isfinite(x))
    throw std::invalid_argument(std::string("column ") + column + ": row " + row_text(row) +
                                " is missing or not finite");
}

// A compact event while events are grouped by user: the time and the
// channel, or for a conversion -2 - its index among the conversions (which
// keep the channel); conversions are few, so only they keep count, value
// and row.
struct Rec {
  double t;
  int32_t aux;
  uint32_t user;
};
struct Conv {
  uli conv;
  double value;
  int ch;
  uint32_t row;
};

// The aux of the k-th conversion (0-based).
int32_t conversion_aux(size_t k) {
  if (k >= static_cast<size_t>(std::numeric_limits<int32_t>::max()) - 2)
    throw std::invalid_argument("events: at most 2,147,483,644 conversion rows");
  return -2 - static_cast<int32_t>(k);
}

// A stable counting sort by user in two steps that each stay within the
// caches, so the cost per event does not grow with the number of users:
// events are first dealt, in input order, to about a thousand bins of
// neighbouring user ids, then each bin is sorted by user and handed to the
// builder user by user, ids rising. user_of(i) is event i's user (< nusers);
// fetch(i, &rec, &tie) gives event i, asked for in rising i (the conversions
// it records go to *convs); dealt(i) tells that events before i are no
// longer needed.
template <class UserOf, class Fetch, class Dealt>
void group_by_user(size_t n, size_t nusers, bool has_tie, const std::vector<Conv>* convs, UserOf user_of,
                   Fetch fetch, Dealt dealt, Builder* b) {
  if (n == 0) return;
  unsigned shift = 0;
  while ((nusers >> shift) >= 1024) ++shift;
  const size_t nbins = (nusers >> shift) + 1;
  std::vector<size_t> bin(nbins + 1, 0);
  for (size_t i = 0; i < n; ++i) ++bin[(user_of(i) >> shift) + 1];
  for (size_t k = 0; k < nbins; ++k) bin[k + 1] += bin[k];
  // In huge pages: events are dealt to all the bins at once, and small
  // pages would cost a TLB miss on most writes.
  BigArray<Rec> recs = big_array<Rec>(n);
  BigArray<double> ties = big_array<double>(has_tie ? n : 0);
  {
    std::vector<size_t> at(bin.begin(), bin.end() - 1);
    Rec r;
    double tie = 0;
    for (size_t i = 0; i < n; ++i) {
      fetch(i, &r, &tie);
      const size_t k = at[r.user >> shift]++;
      recs[k] = r;
      if (has_tie) ties[k] = tie;
      dealt(i + 1);
    }
  }
  const size_t width = size_t(1) << shift;
  std::vector<uint32_t> start(width + 1), order;
  std::vector<Event> evs;
  for (size_t k = 0; k < nbins; ++k) {
    check_interrupt();
    const size_t b0 = bin[k], m = bin[k + 1] - b0;
    if (m == 0) continue;
    const uint32_t u0 = static_cast<uint32_t>(k << shift);
    std::fill(start.begin(), start.end(), 0);
    for (size_t j = 0; j < m; ++j) ++start[recs[b0 + j].user - u0 + 1];
    for (size_t u = 0; u < width; ++u) start[u + 1] += start[u];
    order.resize(m);
    {
      std::vector<uint32_t> pos(start.begin(), start.end() - 1);
      for (size_t j = 0; j < m; ++j) order[pos[recs[b0 + j].user - u0]++] = static_cast<uint32_t>(j);
    }
    for (size_t u = 0; u < width; ++u) {
      if (start[u] == start[u + 1]) continue;
      evs.clear();
      for (uint32_t j = start[u]; j < start[u + 1]; ++j) {
        const size_t i = b0 + order[j];
        const Rec& r = recs[i];
        const double tie = has_tie ? ties[i] : 0.0;
        if (r.aux >= -1) {
          evs.push_back(Event{r.t, tie, 0.0, 0, r.aux, 0});
        } else {
          const Conv& c = (*convs)[static_cast<size_t>(-2 - static_cast<int64_t>(r.aux))];
          evs.push_back(Event{r.t, tie, c.value, c.conv, c.ch, c.row});
        }
      }
      b->user(&evs);
    }
  }
}

}  // namespace

PathTransform path_transform(const std::string& name) {
  if (name == "none") return PathTransform::none;
  if (name == "collapse") return PathTransform::collapse;
  if (name == "first") return PathTransform::first;
  if (name == "frequency") return PathTransform::frequency;
  throw std::invalid_argument("transform must be one of \"none\", \"collapse\", \"first\", \"frequency\", not \"" +
                              name + "\"");
}

void journeys_from_events_cpp(const EventColumns* ev, const JourneyRules* rules, JourneyTable* out) {
  const uli n = ev->n;
  if (n >= std::numeric_limits<uint32_t>::max())
    throw std::invalid_argument("events: at most 4,294,967,294 rows");
  for (const std::string& s : ev->vchannels) check_channel_name(s, rules->channel_sep);
  const int nch = static_cast<int>(ev->vchannels.size());
  uli nusers = 0;   // ids in use: what the grouping allocates, whatever nusers claims
  for (uli i = 0; i < n; ++i) {
    const int u = ev->user[i];
    if (u < 0 || static_cast<uli>(u) >= ev->nusers)
      throw std::invalid_argument("column user: row " + row_text(i) + " is missing");
    nusers = std::max<uli>(nusers, static_cast<uli>(u) + 1);
    if (!std::isfinite(ev->time[i])) check_finite(ev->time[i], "time", i);
    if (ev->channel[i] < -1 || ev->channel[i] >= nch)
      throw std::invalid_argument("column channel: row " + row_text(i) + " has no channel name");
    const double c = ev->conv[i];
    if (!(c >= 0 && c < 1.8e19 && c == std::floor(c))) as_event_count(c, "conversion", i);
    if (ev->tie) check_finite(ev->tie[i], "order_by", i);
    if (ev->value && ev->conv[i] > 0) check_finite(ev->value[i], "value", i);
  }
  Builder b(*rules, &ev->vchannels, out);
  std::vector<Conv> convs;
  group_by_user(n, nusers, ev->tie != nullptr, &convs,
                [ev](size_t i) { return static_cast<uint32_t>(ev->user[i]); },
                [ev, &convs](size_t i, Rec* r, double* tie) {
                  r->t = ev->time[i];
                  r->user = static_cast<uint32_t>(ev->user[i]);
                  r->aux = ev->channel[i];
                  if (ev->conv[i] > 0) {
                    r->aux = conversion_aux(convs.size());
                    convs.push_back(Conv{static_cast<uli>(ev->conv[i]), ev->value ? ev->value[i] : 0.0,
                                         ev->channel[i], static_cast<uint32_t>(i)});
                  }
                  if (ev->tie) *tie = ev->tie[i];
                },
                [](size_t) {}, &b);
  b.finish();
}

// ---- files -----------------------------------------------------------------
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

// Append-only storage in fixed blocks: growing never copies what is held
// (no moment with the old and the new array both alive).
template <class T>
class Blocks {
 public:
  static constexpr size_t kShift = 17, kBlock = size_t(1) << kShift;
  void push_back(const T& x) {
    if ((n_ & ((size_t(1) << kShift) - 1)) == 0) blocks_.push_back(big_array<T>(size_t(1) << kShift));
    blocks_.back()[n_ & ((size_t(1) << kShift) - 1)] = x;
    ++n_;
  }
  const T& operator[](size_t i) const { return blocks_[i >> kShift][i & ((size_t(1) << kShift) - 1)]; }
  size_t size() const { return n_; }
  void clear() {
    blocks_.clear();
    n_ = 0;
  }
  // Frees the blocks wholly before element i (no longer to be read).
  void release_before(size_t i) {
    for (size_t k = 0; k < (i >> kShift) && k < blocks_.size(); ++k) blocks_[k].reset();
  }

 private:
  std::vector<BigArray<T>> blocks_;
  size_t n_ = 0;
};

// A file's lines, read in large blocks; each line without its '\n'. A last
// line without '\n' counts; nothing follows a final '\n'.
class LineReader {
 public:
  explicit LineReader(std::FILE* f) : f_(f), buf_(size_t(1) << 20) {}

  bool next(std::string_view* line) {
    for (;;) {
      if (const void* nl = std::memchr(buf_.data() + at_, '\n', end_ - at_)) {
        const size_t e = static_cast<const char*>(nl) - buf_.data();
        *line = std::string_view(buf_.data() + at_, e - at_);
        at_ = e + 1;
        return true;
      }
      if (eof_) {
        if (at_ == end_) return false;
        *line = std::string_view(buf_.data() + at_, end_ - at_);
        at_ = end_;
        return true;
      }
      // Keep the partial line, make room for more.
      std::memmove(buf_.data(), buf_.data() + at_, end_ - at_);
      end_ -= at_;
      at_ = 0;
      if (end_ == buf_.size()) buf_.resize(buf_.size() * 2);
      const size_t got = std::fread(buf_.data() + end_, 1, buf_.size() - end_, f_);
      if (got == 0) {
        if (std::ferror(f_)) throw std::runtime_error("events file: read error");
        eof_ = true;
      }
      end_ += got;
    }
  }

 private:
  std::FILE* f_;
  std::vector<char> buf_;
  size_t at_ = 0, end_ = 0;
  bool eof_ = false;
};

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

// The first `need` fields of a line, cut as split_views cuts (no field
// after a final separator); all of them when there are fewer, so their
// number can be reported.
void split_fields(std::string_view s, char sep, size_t need, std::vector<std::string_view>* out) {
  out->clear();
  const char* p = s.data();
  const char* const end = p + s.size();
  while (p < end && out->size() < need) {
    const char* q = static_cast<const char*>(std::memchr(p, sep, end - p));
    if (!q) {
      out->emplace_back(p, end - p);
      return;
    }
    out->emplace_back(p, q - p);
    p = q + 1;
  }
}

// A name given twice takes its last copy, as in journey files.
size_t header_column(const std::vector<std::string_view>& header, const std::string& name,
                     const char* arg, const EventFile& src) {
  for (size_t k = header.size(); k-- > 0;)
    if (trim_blanks(header[k]) == name) return k;
  throw std::invalid_argument("column \"" + name + "\" (" + arg + ") not found in the header of \"" +
                              src.file + "\"" + quoting_hint(header, src.field_sep));
}

// The whole field (blanks trimmed) is the number; empty is 0. Plain
// decimals are read without a copy; anything else takes the C library's
// reading, so every field reads as it always has.
double field_number(std::string_view s, const char* column, uli line) {
  s = trim_blanks(s);
  if (s.empty()) return 0;
  double x;
  const auto r = std::from_chars(s.data(), s.data() + s.size(), x);
  if (r.ec == std::errc() && r.ptr == s.data() + s.size()) return x;
  const std::string text(s);
  char* end = nullptr;
  x = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size())
    throw std::invalid_argument(std::string("column ") + column + ": \"" + text + "\" on line " +
                                fmt_lu(line) + " is not a number");
  return x;
}

// Where the columns of an events file are, from its header line.
struct FileColumns {
  size_t user = 0, time = 0, channel = 0, conv = 0, value = 0, tie = 0;
  bool has_value = false, has_tie = false;
  size_t need = 0;   // fields a line must have
};

FileColumns read_header(LineReader* in, const EventFile& src) {
  std::string_view view;
  if (!in->next(&view)) throw std::invalid_argument("events file \"" + src.file + "\" has no header line");
  std::string line(view);
  strip_header_line(&line);
  std::vector<std::string_view> f;
  split_views(line, src.field_sep, &f);
  FileColumns c;
  c.user = header_column(f, src.var_user, "user", src);
  c.time = header_column(f, src.var_time, "time", src);
  c.channel = header_column(f, src.var_channel, "channel", src);
  c.conv = header_column(f, src.var_conv, "conversion", src);
  c.has_value = !src.var_value.empty();
  c.has_tie = !src.var_tie.empty();
  c.value = c.has_value ? header_column(f, src.var_value, "value", src) : 0;
  c.tie = c.has_tie ? header_column(f, src.var_tie, "order_by", src) : 0;
  c.need = std::max({c.user, c.time, c.channel, c.conv, c.value, c.tie}) + 1;
  return c;
}

// Channel names of a file, numbered in order of first appearance.
struct FileChannels {
  std::vector<std::string> vchannels;
  KeyIds ids{"channels"};
};

// The event on one line (fields f); a channel met for the first time is
// checked and registered.
Event parse_event(const std::vector<std::string_view>& f, const FileColumns& c, uli line_no,
                  char channel_sep, FileChannels* channels, Builder* b) {
  Event e;
  const std::string_view tt = trim_blanks(f[c.time]);
  if (tt.empty())
    throw std::invalid_argument("column time: line " + fmt_lu(line_no) + " has no time stamp");
  e.t = parse_event_time(tt);
  const double conv = field_number(f[c.conv], "conversion", line_no);
  e.conv = as_event_count(conv, "conversion", line_no - 2);   // rows count from the line after the header
  e.value = c.has_value && e.conv > 0 ? field_number(f[c.value], "value", line_no) : 0.0;
  e.tie = c.has_tie ? field_number(f[c.tie], "order_by", line_no) : 0.0;
  if (!std::isfinite(e.value) || !std::isfinite(e.tie))
    throw std::invalid_argument("line " + fmt_lu(line_no) + ": value and order_by must be finite");
  e.ch = -1;
  e.row = 0;
  const std::string_view name = f[c.channel];
  if (name.empty()) return e;
  bool added;
  e.ch = static_cast<int>(channels->ids.intern(name, &added));
  if (added) {
    const std::string key(name);
    check_channel_name(key, channel_sep);
    channels->vchannels.push_back(key);
    b->extend_channels();
  }
  return e;
}

// Hands the events of a file to the builder one user at a time. Grouped:
// only the current user's events and the users already closed are kept;
// otherwise one compact record per event (16 bytes, 8 more with a tie
// key, a side record for each conversion), grouped at the end by a
// counting sort on user ids.
class UserCollector {
 public:
  UserCollector(const EventFile& src, bool has_tie, Builder* b) : src_(src), has_tie_(has_tie), b_(b) {}

  // Called as soon as the line is split, before its fields are parsed.
  uint64_t prepare(std::string_view u) const { return src_.flg_grouped == 1 ? 0 : users_.prepare(u); }

  // Unordered files: users are interned a batch of lines at a time, their
  // table slots asked for when each line was split, so the waits for them
  // overlap.
  void add(std::string_view u, uint64_t hash, const Event& e, uli line_no) {
    if (src_.flg_grouped == 1) {
      add_grouped(u, e, line_no);
      return;
    }
    pending_.push_back(Pending{e, hash, line_no, pkeys_.size(), u.size()});
    pkeys_.append(u);
    if (pending_.size() == kBatch) flush();
  }

  // Interns the pending lines in order; done before any error of a later
  // line is reported, so messages come in line order.
  void flush() {
    pending_.swap(work_);
    pending_.clear();
    std::string keys;
    keys.swap(pkeys_);
    for (const Pending& p : work_) {
      // Events are numbered by 32-bit positions when grouped at the end.
      if (recs_.size() >= std::numeric_limits<uint32_t>::max() - 1)
        throw std::invalid_argument("events file \"" + src_.file + "\": more than 4,294,967,294 events on line " +
                                    fmt_lu(p.line_no) +
                                    "; write each user's events together and use grouped = TRUE");
      bool added;
      const uint32_t user = users_.intern(std::string_view(keys.data() + p.at, p.len), p.hash, &added);
      const Event& e = p.e;
      Rec r{e.t, e.ch, user};
      if (e.conv > 0) {
        r.aux = conversion_aux(convs_.size());
        convs_.push_back(Conv{e.conv, e.value, e.ch, static_cast<uint32_t>(recs_.size())});
      }
      recs_.push_back(r);
      if (has_tie_) ties_.push_back(e.tie);
    }
    work_.clear();
    keys.clear();
    keys.swap(pkeys_);
  }

  void finish() {
    if (src_.flg_grouped == 1) {
      if (!cur_.empty()) b_->user(&cur_, cur_first_row_);
      return;
    }
    flush();
    hand_over();
  }

 private:
  struct Pending {
    Event e;
    uint64_t hash;
    uli line_no;
    size_t at, len;   // the user's text in pkeys_
  };
  static constexpr size_t kBatch = 64;

  void hand_over() {
    group_by_user(recs_.size(), users_.size(), has_tie_, &convs_,
                    [this](size_t i) { return recs_[i].user; },
                    [this](size_t i, Rec* r, double* tie) {
                      *r = recs_[i];
                      if (has_tie_) *tie = ties_[i];
                    },
                    [this](size_t i) {
                      // each block given back once dealt
                      if ((i & (Blocks<Rec>::kBlock - 1)) == 0) recs_.release_before(i), ties_.release_before(i);
                    },
                    b_);
    recs_.clear();
    ties_.clear();
  }

  void add_grouped(std::string_view u, const Event& e, uli line_no) {
    if (cur_.empty() || u != cur_user_) {
      if (!cur_.empty()) {
        b_->user(&cur_, cur_first_row_);
        cur_.clear();
      }
      cur_user_.assign(u);
      bool added;
      closed_.intern(u, &added);
      if (!added)
        throw std::invalid_argument("events file \"" + src_.file + "\" is not grouped by user: user \"" +
                                    cur_user_ + "\" appears again on line " + fmt_lu(line_no));
      cur_first_row_ = line_no - 2;   // rows count from the line after the header
    }
    cur_.push_back(e);
    cur_.back().row = static_cast<uint32_t>(cur_.size() - 1);
  }

  const EventFile& src_;
  const bool has_tie_;
  Builder* b_;
  std::vector<Event> cur_;
  uli cur_first_row_ = 0;
  std::string cur_user_;
  KeyIds closed_{"users"}, users_{"users"};
  Blocks<Rec> recs_;
  Blocks<double> ties_;
  std::vector<Conv> convs_;
  std::vector<Pending> pending_, work_;
  std::string pkeys_;
};

}  // namespace

void journeys_from_event_file_cpp(const EventFile* src, const JourneyRules* rules, JourneyTable* out) {
  std::unique_ptr<std::FILE, FileCloser> f(std::fopen(src->file.c_str(), "rb"));
  if (!f) throw std::invalid_argument("cannot open events file \"" + src->file + "\"");
  LineReader in(f.get());
  const FileColumns cols = read_header(&in, *src);
  FileChannels channels;
  Builder b(*rules, &channels.vchannels, out);
  UserCollector users(*src, cols.has_tie, &b);
  std::string_view line;
  std::vector<std::string_view> fields;
  uli line_no = 1, empty_lines = 0;
  try {
  while (in.next(&line)) {
    ++line_no;
    if ((line_no & 0xFFFF) == 0) check_interrupt();
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) {
      ++empty_lines;
      continue;
    }
    if (empty_lines > 0)
      throw std::invalid_argument("events file \"" + src->file + "\": empty line before line " + fmt_lu(line_no));
    split_fields(line, src->field_sep, cols.need, &fields);
    if (fields.size() < cols.need)
      throw std::invalid_argument("events file \"" + src->file + "\": line " + fmt_lu(line_no) + " has " +
                                  fmt_lu(fields.size()) + " fields, " + fmt_lu(cols.need) + " needed");
    const uint64_t hash = users.prepare(fields[cols.user]);
    const Event e = parse_event(fields, cols, line_no, rules->channel_sep, &channels, &b);
    users.add(fields[cols.user], hash, e, line_no);
  }
  } catch (...) {
    // the earlier lines first: their fault would have come first
    users.flush();
    b.flush();
    throw;
  }
  users.finish();
  b.finish();
}
