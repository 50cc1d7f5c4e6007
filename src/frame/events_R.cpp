#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <unordered_map>

#if defined(__unix__) || defined(__APPLE__)
#include <sys/mman.h>
#endif

#include "events/events.h"
#include "frame/frame.h"
#include "heuristic/heuristic.h"

namespace {

JourneyRules journey_rules(SEXP lookback_days_p, SEXP lookback_touches_p, SEXP transform_p,
                           SEXP flg_times_p, SEXP channel_sep_p) {
  JourneyRules r;
  const double days = as_real(lookback_days_p);
  if (std::isnan(days) || days < 0) throw std::invalid_argument("lookback_days must be a number >= 0 or Inf");
  r.lookback_days = std::isinf(days) ? -1 : days;
  const double touches = as_real(lookback_touches_p);
  if (std::isnan(touches) || touches < 1 || (std::isfinite(touches) && touches != std::floor(touches)))
    throw std::invalid_argument("lookback_touches must be a whole number >= 1 or Inf");
  r.lookback_touches = std::isinf(touches) || touches >= 1.8e19 ? 0 : static_cast<uli>(touches);
  r.transform = path_transform(as_str(transform_p));
  r.flg_times = as_int(flg_times_p);
  if (r.flg_times == 1 && r.transform == PathTransform::frequency)
    throw std::invalid_argument("times = TRUE needs a transform that keeps touches, not \"frequency\"");
  const std::string sep = as_str(channel_sep_p);
  if (sep.empty()) throw std::invalid_argument("channel_sep must not be empty");
  r.channel_sep = sep[0];
  return r;
}

const double* reals_or_null(SEXP x, R_xlen_t n, const char* what) {
  if (Rf_isNull(x)) return nullptr;
  if (TYPEOF(x) != REALSXP || XLENGTH(x) != n)
    throw std::invalid_argument(std::string(what) + " must be a double vector of one value per event");
  return REAL(x);
}

// ---- events in a data frame -------------------------------------------------

uint64_t mix_word(uint64_t x) {
  x ^= x >> 31;
  x *= 0x9e3779b97f4a7c15ULL;
  x ^= x >> 29;
  return x;
}

// Values of 64 bits (numbers, or the addresses of R's cached strings) as
// dense ids: a flat open-addressing table, linear probing, at most half
// full, so most lookups touch one cache line.
class WordIds {
 public:
  static constexpr uint32_t kNone = UINT32_MAX;

  WordIds() : slots_(64), mask_(63) {}

  // Empties the table, keeping its room.
  void clear() {
    std::fill(slots_.begin(), slots_.end(), Slot{});
    n_ = 0;
  }
  // Asks for the key's home slot ahead of its lookup.
  void prefetch(uint64_t key) const { __builtin_prefetch(&slots_[mix_word(key) & mask_]); }

  // The id of key; a key not yet held gets make()'s.
  template <class Make>
  uint32_t get(uint64_t key, Make make) {
    for (size_t i = mix_word(key) & mask_;; i = (i + 1) & mask_) {
      Slot& s = slots_[i];
      if (s.id == kNone) {
        const uint32_t id = make();
        s.key = key;
        s.id = id;
        if (++n_ * 2 > mask_ + 1) grow();
        return id;
      }
      if (s.key == key) return s.id;
    }
  }

 private:
  struct Slot {
    uint64_t key = 0;
    uint32_t id = kNone;
  };
  void grow() {
    std::vector<Slot> old(slots_.size() * 2);
    old.swap(slots_);
    mask_ = slots_.size() - 1;
    for (const Slot& s : old) {
      if (s.id == kNone) continue;
      size_t i = mix_word(s.key) & mask_;
      while (slots_[i].id != kNone) i = (i + 1) & mask_;
      slots_[i] = s;
    }
  }

  std::vector<Slot> slots_;
  size_t mask_, n_ = 0;
};

std::string utf8_text(SEXP c) {
  if (Rf_getCharCE(c) == CE_UTF8) return CHAR(c);
  std::string out;
  const void* vmax = vmaxget();
  Rcpp::unwindProtect(std::function<SEXP(void)>([&]() -> SEXP {
    out = Rf_translateCharUTF8(c);
    return R_NilValue;
  }));
  vmaxset(vmax);
  return out;
}

// Strings are equal where R's match() finds them equal: R keeps one copy
// of each string per encoding, so the copy's address tells strings apart;
// text outside ASCII can have copies in two encodings, which are compared
// by their UTF-8 text (*text, when this returns true).
bool by_text(SEXP c, std::string* text) {
  bool ascii = true;
  for (const char* p = CHAR(c); *p; ++p) ascii &= static_cast<unsigned char>(*p) < 0x80;
  if (ascii || Rf_getCharCE(c) == CE_BYTES) return false;
  *text = utf8_text(c);
  return true;
}

// Strings as ids in order of first sight, equal as by_text() tells.
class StringIds {
 public:
  // *added: c is the first string of a new id.
  uint32_t get(SEXP c, bool* added) {
    *added = false;
    return ptrs_.get(reinterpret_cast<uintptr_t>(c), [&]() -> uint32_t {
      if (by_text(c, &text_)) {
        auto it = texts_.emplace(text_, n_);
        if (!it.second) return it.first->second;
      }
      *added = true;
      return n_++;
    });
  }

 private:
  WordIds ptrs_;
  std::unordered_map<std::string, uint32_t> texts_;
  std::string text_;
  uint32_t n_ = 0;
};

// The rows of a column refused for one reason: how many, the first three.
struct BadRows {
  double count = 0;
  std::vector<double> first;
  void add(R_xlen_t i) {
    if (count++ < 3) first.push_back(static_cast<double>(i + 1));
  }
};

constexpr R_xlen_t kAhead = 16;   // rows looked up ahead of their turn

// Scratch words, not zeroed; a large array is mapped on its own and asks
// for huge pages, as its rows are dealt to bins all over it at once (small
// pages would cost a fault each and crowd the TLB).
class ScratchWords {
 public:
  // n words and a line more, to be asked for ahead of their turn.
  explicit ScratchWords(size_t n) : bytes_((n + 8) * sizeof(uint64_t)) {
#if defined(__unix__) || defined(__APPLE__)
    if (bytes_ >= (size_t(1) << 21)) {
      void* p = mmap(nullptr, bytes_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
      if (p == MAP_FAILED) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
      madvise(p, bytes_, MADV_HUGEPAGE);
#endif
      p_ = static_cast<uint64_t*>(p);
      mapped_ = true;
      return;
    }
#endif
    p_ = new uint64_t[bytes_ / sizeof(uint64_t)];
  }
  ~ScratchWords() {
#if defined(__unix__) || defined(__APPLE__)
    if (mapped_) {
      munmap(p_, bytes_);
      return;
    }
#endif
    delete[] p_;
  }
  ScratchWords(const ScratchWords&) = delete;
  ScratchWords& operator=(const ScratchWords&) = delete;
  uint64_t& operator[](size_t i) { return p_[i]; }

 private:
  size_t bytes_;
  uint64_t* p_ = nullptr;
  bool mapped_ = false;
};

// Keys of 64 bits (numbers, or the addresses of R's cached strings) as ids
// 0, 1, ... in order of first appearance, without looking keys up at
// random in one table as large as the keys are many (its cache and TLB
// misses made the cost per row grow with the users): rows are dealt by a
// hash of their key to bins small enough for the caches, each bin numbers
// its own keys with a small table (a bin holds its rows in row order, so a
// key's first row there is its first row), then one pass in row order
// gives each key's first row its id, a pass per bin hands that id to the
// key's other rows, and a last pass in row order reads them out. text(k,
// &s) tells whether key k is compared by the text it sets s to instead
// (keys of equal text are one key); prefetch(k) asks for what text() reads.
template <class Key, class Text, class Prefetch>
void ids_by_bins(R_xlen_t n, Key key, Text text, Prefetch prefetch, bool check_text, int* out) {
  if (n == 0) return;
  constexpr uint64_t kFirst = 1ULL << 63, kText = 1ULL << 62, kLocal = 0xFFFFFFFFULL;
  // Bins of at most 32k rows while 256 bins do (few enough streams to deal
  // rows into): a bin's table then stays within the L2 cache unless nearly
  // every row is a user of its own.
  unsigned bits = 0;
  while (bits < 8 && static_cast<uint64_t>(n) > (uint64_t(1) << (15 + bits))) ++bits;
  const size_t nbins = size_t(1) << bits;
  const auto bin_of = [bits](uint64_t k) -> size_t {
    return bits == 0 ? 0 : static_cast<size_t>(mix_word(k) >> (64 - bits));
  };
  std::vector<size_t> start(nbins + 1, 0);
  for (R_xlen_t i = 0; i < n; ++i) ++start[bin_of(key(i)) + 1];
  for (size_t b = 0; b < nbins; ++b) start[b + 1] += start[b];
  // cell: the rows' keys dealt to bins; then the bin-local id of each row
  // (flagged on a key's first row); then each row's id.
  ScratchWords cell(static_cast<size_t>(n));
  std::vector<size_t> at(start.begin(), start.end() - 1);
  // Each bin is a stream through cell: its next line is asked for ahead.
  for (R_xlen_t i = 0; i < n; ++i) {
    const uint64_t k = key(i);
    const size_t j = at[bin_of(k)]++;
    __builtin_prefetch(&cell[j + 8], 1);
    cell[j] = k;
  }

  WordIds table;
  std::vector<uint64_t> fresh;                         // a bin's new keys, in order
  std::vector<size_t> base(nbins + 1, 0);              // keys in the bins before
  std::unordered_map<std::string, uint32_t> texts;     // keys compared by text: their group
  std::unordered_map<size_t, uint32_t> group_of;       // base + local id -> group
  std::string s;
  for (size_t b = 0; b < nbins; ++b) {
    base[b + 1] = base[b];
    if (start[b] == start[b + 1]) continue;
    table.clear();
    fresh.clear();
    for (size_t j = start[b]; j < start[b + 1]; ++j) {
      const uint64_t k = cell[j];
      if (j + 8 < start[b + 1]) table.prefetch(cell[j + 8]);
      bool added = false;
      const uint32_t id = table.get(k, [&] {
        added = true;
        fresh.push_back(k);
        return static_cast<uint32_t>(fresh.size() - 1);
      });
      cell[j] = added ? (kFirst | id) : id;
    }
    if (check_text) {
      // first rows are found again in order: fresh[f] was given local id f
      size_t j = start[b];
      for (size_t f = 0; f < fresh.size(); ++f) {
        if (f + 8 < fresh.size()) prefetch(fresh[f + 8]);
        if (!text(fresh[f], &s)) continue;
        while (!(cell[j] & kFirst) || (cell[j] & kLocal) != f) ++j;
        cell[j] |= kText;
        group_of.emplace(base[b] + f, texts.emplace(s, static_cast<uint32_t>(texts.size())).first->second);
      }
    }
    base[b + 1] = base[b] + fresh.size();
  }

  // Ids in row order, to each key's first row (keys of one text share one).
  std::vector<int32_t> group_id(texts.size(), -1);
  int32_t next = 0;
  std::copy(start.begin(), start.end() - 1, at.begin());
  for (R_xlen_t i = 0; i < n; ++i) {
    const size_t b = bin_of(key(i));
    __builtin_prefetch(&cell[at[b] + 8], 1);
    uint64_t& c = cell[at[b]++];
    if (!(c & kFirst)) continue;
    int32_t id;
    int32_t* shared = (c & kText) ? &group_id[group_of.at(base[b] + (c & kLocal))] : nullptr;
    if (shared && *shared >= 0) {
      id = *shared;
    } else {
      if (next == INT_MAX) throw std::invalid_argument("events: more than 2,147,483,646 users");
      id = next++;
      if (shared) *shared = id;
    }
    c = kFirst | (static_cast<uint64_t>(id) << 32) | (c & kLocal);
  }
  // The other rows take their key's id, bin by bin.
  std::vector<int32_t> local;
  for (size_t b = 0; b < nbins; ++b) {
    local.resize(base[b + 1] - base[b]);
    for (size_t j = start[b]; j < start[b + 1]; ++j) {
      const uint64_t c = cell[j];
      if (c & kFirst) {
        local[c & kLocal] = static_cast<int32_t>((c >> 32) & 0x7FFFFFFF);
        cell[j] = static_cast<uint64_t>(local[c & kLocal]);
      } else {
        cell[j] = static_cast<uint64_t>(local[c]);
      }
    }
  }
  std::copy(start.begin(), start.end() - 1, at.begin());
  for (R_xlen_t i = 0; i < n; ++i) {
    const size_t j = at[bin_of(key(i))]++;
    __builtin_prefetch(&cell[j + 8]);
    out[i] = static_cast<int>(cell[j]);
  }
}

// Users as ids 0, 1, ... in order of first appearance, as match(u,
// unique(u)) numbers them: integers (factor codes too) and whole numbers
// in a range not much wider than the rows through a dense index, other
// numbers and strings dealt to bins. Missing users go to *missing; when
// there are any, the ids are not all made.
std::vector<int> user_ids(SEXP u, BadRows* missing) {
  const R_xlen_t n = XLENGTH(u);
  std::vector<int> out(static_cast<size_t>(n), -1);
  uint32_t next = 0;
  const auto too_many = [&] {
    if (next == static_cast<uint32_t>(INT_MAX)) throw std::invalid_argument("events: more than 2,147,483,646 users");
  };
  // Whole numbers within [lo, hi], integers or doubles: dense when narrow.
  const auto dense = [&](auto value, auto is_na, double lo, double hi) -> bool {
    if (!(hi - lo < 2.0 * static_cast<double>(n) + 1024)) return false;
    const int64_t base = static_cast<int64_t>(lo);
    std::vector<int32_t> index(static_cast<size_t>(hi - lo) + 1, -1);
    for (R_xlen_t i = 0; i < n; ++i) {
      if (i + kAhead < n && !is_na(i + kAhead)) {
        const int64_t k = static_cast<int64_t>(value(i + kAhead)) - base;
        __builtin_prefetch(&index[static_cast<size_t>(k)]);
      }
      if (is_na(i)) {
        missing->add(i);
        continue;
      }
      int32_t& id = index[static_cast<size_t>(static_cast<int64_t>(value(i)) - base)];
      if (id < 0) too_many(), id = static_cast<int32_t>(next++);
      out[static_cast<size_t>(i)] = id;
    }
    return true;
  };
  const auto none = [](uint64_t, std::string*) { return false; };
  const auto no_prefetch = [](uint64_t) {};
  const auto hashed = [&](auto key, auto is_na, auto text, auto prefetch, bool check_text) {
    for (R_xlen_t i = 0; i < n; ++i)
      if (is_na(i)) missing->add(i);
    if (missing->count == 0) ids_by_bins(n, key, text, prefetch, check_text, out.data());
  };
  switch (TYPEOF(u)) {
    case INTSXP:
    case LGLSXP: {
      const int* x = TYPEOF(u) == INTSXP ? INTEGER(u) : LOGICAL(u);
      const auto is_na = [x](R_xlen_t i) { return x[i] == NA_INTEGER; };
      int lo = INT_MAX, hi = INT_MIN;
      for (R_xlen_t i = 0; i < n; ++i)
        if (!is_na(i)) lo = std::min(lo, x[i]), hi = std::max(hi, x[i]);
      if (lo > hi || !dense([x](R_xlen_t i) { return x[i]; }, is_na, lo, hi))
        hashed([x](R_xlen_t i) { return static_cast<uint64_t>(static_cast<uint32_t>(x[i])); }, is_na, none,
               no_prefetch, false);
      break;
    }
    case REALSXP: {
      const double* x = REAL(u);
      const auto is_na = [x](R_xlen_t i) { return std::isnan(x[i]); };
      double lo = INFINITY, hi = -INFINITY;
      bool whole = true;
      for (R_xlen_t i = 0; i < n; ++i) {
        if (is_na(i)) continue;
        whole &= x[i] == std::floor(x[i]);
        lo = std::min(lo, x[i]), hi = std::max(hi, x[i]);
      }
      // whole numbers within +-2^62 are exact as int64
      whole &= lo >= -4.6e18 && hi <= 4.6e18;
      if (lo > hi || !whole || !dense([x](R_xlen_t i) { return x[i]; }, is_na, lo, hi))
        hashed([x](R_xlen_t i) {
          const double d = x[i] == 0 ? 0.0 : x[i];   // -0 is 0
          uint64_t k;
          std::memcpy(&k, &d, sizeof k);
          return k;
        }, is_na, none, no_prefetch, false);
      break;
    }
    case STRSXP: {
      const SEXP* x = STRING_PTR_RO(u);
      const auto as_sexp = [](uint64_t k) { return reinterpret_cast<SEXP>(static_cast<uintptr_t>(k)); };
      hashed([x](R_xlen_t i) { return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(x[i])); },
             [x](R_xlen_t i) { return x[i] == NA_STRING; },
             [&](uint64_t k, std::string* s) { return by_text(as_sexp(k), s); },
             [](uint64_t k) {
               // the string's header, and its first bytes on the next line
               __builtin_prefetch(reinterpret_cast<const char*>(k));
               __builtin_prefetch(reinterpret_cast<const char*>(k) + 64);
             }, true);
      break;
    }
    default:
      throw std::invalid_argument("user ids must be text, numbers or a factor");
  }
  return out;
}

// Channels as ids in order of first appearance (-1: no touch, a missing
// or empty name) and their names: text, or factor codes with their levels.
std::vector<int> channel_ids(SEXP ch, SEXP levels, std::vector<std::string>* names) {
  const R_xlen_t n = XLENGTH(ch);
  std::vector<int> out(static_cast<size_t>(n));
  if (!Rf_isNull(levels)) {
    if (TYPEOF(ch) != INTSXP) throw std::invalid_argument("channel codes must be integers");
    *names = as_strings(levels);
    int empty = -1;   // the level "", if any, is no touch
    for (R_xlen_t k = 0; k < XLENGTH(levels) && empty < 0; ++k)
      if (STRING_ELT(levels, k) != NA_STRING && LENGTH(STRING_ELT(levels, k)) == 0) empty = static_cast<int>(k);
    const int* x = INTEGER(ch);
    for (R_xlen_t i = 0; i < n; ++i)
      out[static_cast<size_t>(i)] = x[i] == NA_INTEGER || x[i] - 1 == empty ? -1 : x[i] - 1;
    return out;
  }
  if (TYPEOF(ch) != STRSXP) throw std::invalid_argument("channels must be text or a factor");
  const SEXP* x = STRING_PTR_RO(ch);
  StringIds ids;
  SEXP last = nullptr;
  int last_id = -1;
  for (R_xlen_t i = 0; i < n; ++i) {
    const SEXP c = x[i];
    if (c != last) {
      last = c;
      if (c == NA_STRING || LENGTH(c) == 0) {
        last_id = -1;
      } else {
        bool added;
        last_id = static_cast<int>(ids.get(c, &added));
        if (added) names->emplace_back(CHAR(c), static_cast<size_t>(LENGTH(c)));
      }
    }
    out[static_cast<size_t>(i)] = last_id;
  }
  return out;
}

bool is_number_column(SEXP x) { return TYPEOF(x) == REALSXP || TYPEOF(x) == INTSXP || TYPEOF(x) == LGLSXP; }

// The missing values of a column of numbers or text.
void add_missing(SEXP x, BadRows* bad) {
  const R_xlen_t n = XLENGTH(x);
  if (TYPEOF(x) == REALSXP) {
    const double* p = REAL(x);
    for (R_xlen_t i = 0; i < n; ++i)
      if (std::isnan(p[i])) bad->add(i);
  } else if (TYPEOF(x) == STRSXP) {
    const SEXP* p = STRING_PTR_RO(x);
    for (R_xlen_t i = 0; i < n; ++i)
      if (p[i] == NA_STRING) bad->add(i);
  } else {
    const int* p = TYPEOF(x) == INTSXP ? INTEGER(x) : LOGICAL(x);
    for (R_xlen_t i = 0; i < n; ++i)
      if (p[i] == NA_INTEGER) bad->add(i);
  }
}

// A column of numbers as doubles: borrowed when it holds doubles, else
// converted into *store (times scale).
const double* doubles_of(SEXP x, double scale, std::vector<double>* store) {
  if (TYPEOF(x) == REALSXP && scale == 1) return REAL(x);
  const R_xlen_t n = XLENGTH(x);
  store->resize(static_cast<size_t>(n));
  if (TYPEOF(x) == REALSXP) {
    const double* p = REAL(x);
    for (R_xlen_t i = 0; i < n; ++i) (*store)[i] = p[i] * scale;
  } else {
    const int* p = TYPEOF(x) == INTSXP ? INTEGER(x) : LOGICAL(x);
    for (R_xlen_t i = 0; i < n; ++i) (*store)[i] = p[i] == NA_INTEGER ? NA_REAL : p[i] * scale;
  }
  return store->data();
}

// Seconds of ISO text, each distinct string read once (time stamps repeat).
const double* seconds_of_text(SEXP x, std::vector<double>* store) {
  const R_xlen_t n = XLENGTH(x);
  store->resize(static_cast<size_t>(n));
  const SEXP* p = STRING_PTR_RO(x);
  constexpr size_t kCache = 1024;
  std::vector<std::pair<SEXP, double>> seen(kCache, {nullptr, 0.0});
  for (R_xlen_t i = 0; i < n; ++i) {
    auto& c = seen[(reinterpret_cast<uintptr_t>(p[i]) >> 4) & (kCache - 1)];
    if (c.first != p[i]) c = {p[i], parse_event_time(CHAR(p[i]))};
    (*store)[i] = c.second;
  }
  return store->data();
}

// Why a data frame of events is refused, for R to word: the reason (1 user
// missing, 2 time of a type not read, 3 time missing, 4 conversion not
// numbers, 5 conversion missing, 6 conversion not a whole number >= 0, 7
// value not numbers, 8 value missing on a conversion, 9 order_by missing)
// and the rows.
SEXP refusal(int reason, const BadRows& rows) {
  return r_result([&]() -> SEXP {
    return Rcpp::List::create(Rcpp::Named("refused") = reason, Rcpp::Named("rows") = rows.first,
                              Rcpp::Named("count") = rows.count);
  });
}
SEXP journey_result(const JourneyTable& out) {
  return r_result([&]() -> SEXP {
    return Rcpp::List::create(
      Rcpp::Named("path") = to_character(out.vpath),
      Rcpp::Named("days") = to_character(out.vdays),
      Rcpp::Named("conversions") = std::vector<double>(out.vconv.begin(), out.vconv.end()),
      Rcpp::Named("nulls") = std::vector<double>(out.vnulls.begin(), out.vnulls.end()),
      Rcpp::Named("value") = out.vvalue,
      Rcpp::Named("untouched") = static_cast<double>(out.untouched),
      Rcpp::Named("untouched_rows") = static_cast<double>(out.nuntouched_rows),
      Rcpp::Named("untouched_value") = out.untouched_value);
  });
}

}  // namespace

// Events from R columns (user and channel as 0-based ids, -1 for no
// channel; times in seconds) or from a delimited file; the journey table
// and the count of conversions that formed no journey.
extern "C" SEXP journeys_from_events_R(SEXP flg_file_p, SEXP file_p, SEXP user_p, SEXP nusers_p,
                                       SEXP time_p, SEXP channel_p, SEXP channels_p, SEXP conv_p,
                                       SEXP value_p, SEXP tie_p, SEXP vars_p, SEXP field_sep_p,
                                       SEXP channel_sep_p, SEXP lookback_days_p, SEXP lookback_touches_p,
                                       SEXP transform_p, SEXP flg_times_p, SEXP flg_grouped_p) {
  BEGIN_RCPP
  setlocale(LC_NUMERIC, "C");
  const int flg_file = as_int(flg_file_p);
  const JourneyRules rules =
      journey_rules(lookback_days_p, lookback_touches_p, transform_p, flg_times_p, channel_sep_p);
  JourneyTable out;
  if (flg_file == 1) {
    const std::vector<std::string> vars = as_strings(vars_p);   // user, time, channel, conv, value, tie
    if (vars.size() != 6) throw std::invalid_argument("six column names expected");
    const std::string fsep = as_str(field_sep_p);
    if (fsep.empty()) throw std::invalid_argument("field_sep must not be empty");
    EventFile src{as_str(file_p), vars[0], vars[1], vars[2], vars[3], vars[4], vars[5], fsep[0],
                  as_int(flg_grouped_p)};
    journeys_from_event_file_cpp(&src, &rules, &out);
  } else {
    const R_xlen_t n = XLENGTH(user_p);
    if (TYPEOF(user_p) != INTSXP || TYPEOF(channel_p) != INTSXP || XLENGTH(channel_p) != n)
      throw std::invalid_argument("user and channel must be integer ids of one value per event");
    EventColumns ev;
    ev.n = static_cast<uli>(n);
    ev.nusers = as_count(nusers_p, "nusers");
    // User ids are R integers, so no more users can be named than that.
    if (ev.nusers > static_cast<uli>(INT_MAX))
      throw std::invalid_argument("nusers must be at most " + std::to_string(INT_MAX));
    ev.user = INTEGER(user_p);
    ev.channel = INTEGER(channel_p);
    // ISO text is read here with the file route's parser.
    std::vector<double> parsed;
    if (TYPEOF(time_p) == STRSXP && XLENGTH(time_p) == n) {
      parsed.resize(n);
      for (R_xlen_t i = 0; i < n; ++i) {
        if (STRING_ELT(time_p, i) == NA_STRING)
          throw std::invalid_argument("column time: row " + std::to_string(i + 1) + " is missing");
        parsed[i] = parse_event_time(CHAR(STRING_ELT(time_p, i)));
      }
      ev.time = parsed.data();
    } else {
      ev.time = reals_or_null(time_p, n, "time");
    }
    ev.conv = reals_or_null(conv_p, n, "conversion");
    ev.value = reals_or_null(value_p, n, "value");
    ev.tie = reals_or_null(tie_p, n, "order_by");
    if (!ev.time || !ev.conv) throw std::invalid_argument("time and conversion are required");
    ev.vchannels = as_strings(channels_p);
    journeys_from_events_cpp(&ev, &rules, &out);
  }
  return journey_result(out);
  END_RCPP
}

// Events from the columns of a data frame, checked row by row in one pass
// each, in the order R checked them before: users, time, conversions,
// value, order_by. types_ok tells whether time, conversion and value are
// of a type read (the column is then passed, else NULL); time_scale turns
// day numbers into seconds. A refused column gives the list refusal()
// makes, else the journey table of journeys_from_events_R.
extern "C" SEXP journeys_from_event_frame_R(SEXP user_p, SEXP time_p, SEXP time_scale_p, SEXP channel_p,
                                            SEXP levels_p, SEXP conv_p, SEXP value_p, SEXP tie_p,
                                            SEXP types_ok_p, SEXP channel_sep_p, SEXP lookback_days_p,
                                            SEXP lookback_touches_p, SEXP transform_p, SEXP flg_times_p) {
  BEGIN_RCPP
  setlocale(LC_NUMERIC, "C");
  const JourneyRules rules =
      journey_rules(lookback_days_p, lookback_touches_p, transform_p, flg_times_p, channel_sep_p);
  const R_xlen_t n = XLENGTH(user_p);
  const std::vector<int> ok = Rcpp::as<std::vector<int>>(types_ok_p);   // time, conversion, value
  if (ok.size() != 3) throw std::invalid_argument("types_ok must hold three flags");
  for (SEXP x : {time_p, channel_p, conv_p, value_p, tie_p})
    if (!Rf_isNull(x) && XLENGTH(x) != n) throw std::invalid_argument("event columns must be of one length");
  const bool time_ok = ok[0] == 1 && (is_number_column(time_p) || TYPEOF(time_p) == STRSXP);
  const bool conv_ok = ok[1] == 1 && is_number_column(conv_p);
  const bool value_ok = ok[2] == 1 && (Rf_isNull(value_p) || is_number_column(value_p));
  if (!Rf_isNull(tie_p) && TYPEOF(tie_p) != REALSXP) throw std::invalid_argument("order_by keys must be doubles");

  BadRows bad;
  const std::vector<int> user = user_ids(user_p, &bad);
  if (bad.count > 0) return refusal(1, bad);
  if (!time_ok) return refusal(2, bad);
  add_missing(time_p, &bad);
  if (bad.count > 0) return refusal(3, bad);
  if (!conv_ok) return refusal(4, bad);
  std::vector<double> conv_store;
  const double* conv = doubles_of(conv_p, 1, &conv_store);
  BadRows not_whole;
  for (R_xlen_t i = 0; i < n; ++i) {
    const double c = conv[i];
    if (!(c >= 0 && c == std::floor(c) && c < INFINITY)) {
      if (std::isnan(c)) bad.add(i); else not_whole.add(i);
    }
  }
  if (bad.count > 0) return refusal(5, bad);
  if (not_whole.count > 0) return refusal(6, not_whole);
  if (!value_ok) return refusal(7, bad);
  std::vector<double> value_store;
  const double* value = !Rf_isNull(value_p) ? doubles_of(value_p, 1, &value_store) : nullptr;
  if (value)
    for (R_xlen_t i = 0; i < n; ++i)
      if (conv[i] > 0 && std::isnan(value[i])) bad.add(i);
  if (bad.count > 0) return refusal(8, bad);
  const double* tie = Rf_isNull(tie_p) ? nullptr : REAL(tie_p);
  if (tie)
    for (R_xlen_t i = 0; i < n; ++i)
      if (std::isnan(tie[i])) bad.add(i);
  if (bad.count > 0) return refusal(9, bad);

  EventColumns ev;
  const std::vector<int> channel = channel_ids(channel_p, levels_p, &ev.vchannels);
  std::vector<double> time_store;
  ev.n = static_cast<uli>(n);
  ev.nusers = static_cast<uli>(INT_MAX);
  ev.user = user.data();
  ev.time = TYPEOF(time_p) == STRSXP ? seconds_of_text(time_p, &time_store)
                                     : doubles_of(time_p, as_real(time_scale_p), &time_store);
  ev.channel = channel.data();
  ev.conv = conv;
  ev.value = value;
  ev.tie = tie;
  JourneyTable out;
  journeys_from_events_cpp(&ev, &rules, &out);
  return journey_result(out);
  END_RCPP
}

extern "C" SEXP time_decay_R(SEXP path_p, SEXP days_p, SEXP conv_p, SEXP value_p, SEXP channel_sep_p,
                             SEXP half_life_p) {
  BEGIN_RCPP
  setlocale(LC_NUMERIC, "C");
  TimeDecayInput in{as_strings(path_p), as_strings(days_p), as_counts(conv_p, "conversions"),
                    Rf_isNull(value_p) ? std::vector<double>() : as_reals(value_p)};
  const TimeDecayResult r = time_decay_run(std::move(in), {as_str(channel_sep_p), as_real(half_life_p)});
  return r_result([&]() -> SEXP {
    return Rcpp::List::create(Rcpp::Named("channel") = r.vchannels,
                              Rcpp::Named("conversions") = r.vattr_conv,
                              Rcpp::Named("value") = r.vattr_value);
  });
  END_RCPP
}
