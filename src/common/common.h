// Shared helpers of the library: console sink, interrupt hook, number
// formatting, string helpers, weight-vector masking, container
// conversions and the process-wide random source.
//
// Naming legend used across src/:
//   <model>_R    entry point with C linkage (src/frame only)
//   <model>_run  model function: a journey source (or the model's own
//                input) and a settings struct in, a plain result struct out
//   <model>_cpp  the fixed-signature form of a run (every argument by
//                pointer), a forwarder in the subsystem's entry.cpp that
//                nothing inside the library calls
//   row_sep      in those signatures and in messages: the field separator
//                of a journey table (JourneySource::field_sep)
//   cha_sep      the channel separator inside a path
//   flg_*        int flag, 1 = on       v*    vector
//   mp_*         map                    n*    count
//   *_p          an R argument before conversion (src/frame only)
//   svc, svv, svn  sums over the journeys of conversions, values, nulls
//   Tc, Nc       per channel: simulated journeys through it that end in a
//                conversion (Tc) or a null (Nc)
//   S            the Markov chain's transition-count store (Fx)
//   S0(i, k)     k-th successor state of state i, in order of first sight
//   S1(i, k)     i's cumulative transition count up to its k-th successor
//   lrS          transitions out of each state (lrS0: distinct successors)
//   max_npassi   longest journey in steps; bounds a simulated walk
//   chpos        0-based position of a touch point in its journey
//   *_sim_inv    inverse of a state dictionary: state -> channel indices
//                of its window, -1 padded
#ifndef TOUCHLANE_COMMON_COMMON_H
#define TOUCHLANE_COMMON_COMMON_H

#include <atomic>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <ostream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

typedef std::uint64_t uli;   // counts, indices and seeds: 64 bits on every platform
typedef std::int64_t sli;

// ---- constants shared across models ----------------------------------------
// The special states of every Markov state dictionary.
constexpr uli kStateStart = 0;        // "(start)"
constexpr uli kStateConversion = 1;   // "(conversion)"
constexpr uli kStateNull = 2;         // "(null)"
constexpr uli kSpecialStates = 3;     // channel states are numbered from here
// 2^64: the first double a 64-bit count cannot hold.
constexpr double kTwo64 = 18446744073709551616.0;
// Walks of a first simulation batch when the caller gives 0.
constexpr uli kDefaultSimulations = 100000;

// ---- console and interrupts ------------------------------------------------
std::ostream& console_stream();                       // where printA writes
void          set_console_stream(std::ostream* os);   // nullptr: standard output
void          printA(const std::string& s);           // s, newline, flush

// Long loops call check_interrupt() on the calling thread; the hook the
// frame installs throws when the user asked R to stop. The hook runs only
// on the thread that installed it; elsewhere check_interrupt does nothing.
void          set_interrupt_hook(void (*hook)());     // nullptr: never interrupts
void          check_interrupt();

// Runs task(0 .. ntasks-1) on up to nthreads threads, each task exactly
// once, in no fixed order; the calling thread waits and checks for
// interrupts. The first failing task (lowest index) is rethrown after
// every thread is joined; remaining tasks are then skipped. A long task
// looks at `stop` now and then and returns early when it is set. Tasks
// must write only their own results, so the outcome does not depend on
// nthreads.
void          parallel_tasks(uli ntasks, uli nthreads,
                             const std::function<void(uli, const std::atomic<bool>& stop)>& task);

// ---- formatting ------------------------------------------------------------
std::string   f_print_perc(double x);                 // 0.1234 -> "12.34" (floored)
std::string   group_thousands(uli n);               // 1234567 -> "1,234,567"
std::string   fmt_f(double x);                        // as "%f"
std::string   fmt_lu(uli x);                          // as "%lu"
void          append_f(std::string& out, double x);   // appends fmt_f(x)
void          append_lu(std::string& out, uli x);     // appends fmt_lu(x)

// ---- strings ---------------------------------------------------------------
// split: pieces between delimiters; "a,b," -> (a, b); "" -> ().
std::vector<std::string> split(const std::string& s, char delim);
std::vector<uli>         split2(const std::string& s, char delim);   // throws "stoul"
std::vector<sli>         split_string(const std::string& s, uli order);
std::string              collapse_vec_to_str(const std::vector<sli>& v);

// split into views over s (no copies); same cutting rule as split.
void split_views(std::string_view s, char delim, std::vector<std::string_view>* out);

// Number parsing with the standard conversion semantics (leading white space
// skipped, digits up to the first non-digit): throw std::invalid_argument
// "stoul"/"stod" when nothing parses, std::out_of_range on overflow.
uli    parse_stoul(std::string_view s);
double parse_stod(std::string_view s);

// Blank normalisation: the result of replacing "^ +| +$|( ) +" by "$1"
// (trim spaces, collapse inner runs of spaces to one).
std::string normalise_blanks(std::string_view s);
void        normalise_blanks(std::string_view s, std::string* out);
// Trim leading and trailing spaces only.
std::string_view trim_blanks(std::string_view s);

// ---- counts ----------------------------------------------------------------
// a + b for journey counts; std::overflow_error naming the 0-based row (as
// 1-based) when the sum passes 2^64 - 1.
[[noreturn]] void count_overflow(uli row);
// add_overflows: *sum = a + b; true when the true sum passes 2^64 - 1.
inline bool add_overflows(uli a, uli b, uli* sum) {
  *sum = a + b;   // unsigned arithmetic wraps, so the sum is smaller exactly on overflow
  return *sum < a;
}
inline uli add_count(uli a, uli b, uli row) {
  uli s;
  if (add_overflows(a, b, &s)) count_overflow(row);
  return s;
}

// ---- hashing ---------------------------------------------------------------
// 64-bit hash of a byte string, eight bytes at a time.
inline uint64_t hash_bytes(std::string_view s) {
  constexpr uint64_t kMul = 0x9E3779B97F4A7C15ull;
  const char* p = s.data();
  size_t n = s.size();
  uint64_t h = 0x2545F4914F6CDD1Dull ^ (n * kMul);
  for (; n >= 8; p += 8, n -= 8) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    h = (h ^ w) * kMul;
    h ^= h >> 29;
  }
  if (n > 0) {
    uint64_t w = 0;
    std::memcpy(&w, p, n);
    h = (h ^ w) * kMul;
    h ^= h >> 29;
  }
  h ^= h >> 32;
  h *= 0xD6E8FEB86659FD93ull;
  h ^= h >> 32;
  return h;
}

// Number of set bits (portable; the Shapley sum over coalitions uses it).
inline uli count_bits(std::uint64_t x) {
  x = x - ((x >> 1) & 0x5555555555555555ULL);
  x = (x & 0x3333333333333333ULL) + ((x >> 2) & 0x3333333333333333ULL);
  x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0FULL;
  return static_cast<uli>((x * 0x0101010101010101ULL) >> 56);
}

// ---- result files ----------------------------------------------------------
// A result file written in full or not at all: the text goes to a temporary
// file beside `path`, commit() renames it into place, and the destructor
// removes it on every other way out (an error, an interrupt), so a failed
// call leaves an earlier result untouched. The constructor throws
// std::invalid_argument naming the file when it is a directory, cannot be
// created, or is the same file as `input` (compared by device and inode, so
// other spellings and links count too). A device or pipe is written
// directly. A symbolic link is written through: the result replaces its
// target. A rewrite keeps the earlier file's permission bits; a new file
// gets those of the umask. Where the file system allows it, the temporary
// file has no name until commit(), so a killed process leaves none behind.
class ResultFile {
 public:
  explicit ResultFile(const std::string& path, const std::string& input = "");
  ResultFile(const ResultFile&) = delete;
  ResultFile& operator=(const ResultFile&) = delete;
  ~ResultFile();
  // The constructor's check that path is not the input file, for callers
  // that open the result only after long work.
  static void check_not_input(const std::string& path, const std::string& input);
  std::ostream& stream() { return out_; }
  void write(std::string_view text);
  void commit();   // throws std::runtime_error naming the file when writing failed

 private:
  void discard();
  std::string path_, target_, tmp_;
  int fd_ = -1;             // the unnamed temporary, until commit() names it
  std::vector<char> buf_;   // declared before out_: it must outlive the stream
  std::ofstream out_;
};

// ---- masking of weight vectors --------------------------------------------
// Adds (removes) fixed offsets: glibc's rand() sequence after srand(5281946),
// generated by our own code so masks are the same on every platform.
void hide_index(std::vector<double>* v);
void unhide_index(std::vector<double>* v);

// ---- container conversions -------------------------------------------------
std::map<std::string, uli> unique_mp(const std::vector<std::string>* v);

// ---- random source ---------------------------------------------------------
namespace gb {
extern std::mt19937 engine;
extern std::uniform_real_distribution<double> uniform;
extern std::random_device device;
constexpr uli limsup = ~static_cast<uli>(0);   // no seed given
void reseed(uli seed);                          // seed mod 2^32, or device when limsup
}  // namespace gb

#endif
