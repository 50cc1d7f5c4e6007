// The Markov model. The interface comes first (settings, result and
// markov_run), then the fixed-signature entries, then the internals other
// models build on: transition store, simulation matrices, the threaded
// simulation of journeys through the fitted chain and the exact solve.
#ifndef TOUCHLANE_MARKOV_MARKOV_H
#define TOUCHLANE_MARKOV_MARKOV_H

#include <atomic>
#include <cmath>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/common.h"
#include "journeys/journeys.h"

// ---- interface -------------------------------------------------------------
// How markov_model_method_cpp estimates the counts: by simulation (as
// markov_model_cpp) or exactly (markov_exact on ncore threads, horizon as
// there: the step limit max_step, or the longest journey plus one, or
// unlimited). The exact counts Tc, Nc, s_nconv and s_nnull are expected
// counts out of nsim_start walks (0 meaning kDefaultSimulations), so every index kind
// keeps the scale of a first simulation batch.
struct MarkovMethod {
  int exact = 0;
  int unlimited = 0;
};
// Settings of one model run; the defaults are the entry point's.
struct MarkovSettings {
  int type = 0;                   // 0 removal effects, 1..4 conversion index kinds
  uli order = 1;
  uli nsim_start = kDefaultSimulations;
  uli max_step = 0;               // 0: the longest journey plus one
  uli ncore = 1;
  uli nfold = 10;
  uli seed = gb::limsup;          // limsup: a fresh seed
  double conv_par = 0.05;
  double rate_step_sim = 1.5;
  int verbose = 0;
  int flg_out_tran_mtx = 0;       // 1: also the transition table, > 1: only that
  int flg_out_attr = 0;           // 1: keep the touch-point rows
  int flg_write_nulls = 0;
  int flg_write_paths = 0;
  std::string file_output;        // touch-point rows to this file, "" none
  MarkovMethod method;
  // Throws std::invalid_argument for order 0, a type outside 0..4, and
  // (unless only the transition table is asked for) simulation settings
  // check_simulation_args rejects, or ncore 0 for the exact method.
  void validate() const;
};

// Everything one run gives back, named as in the entry point.
struct MarkovResult {
  std::vector<std::string> vchannels;
  std::vector<double> vindex;     // masked, mean_index appended (index kinds)
  std::vector<double> vindex_raw; // unmasked, kind 2 before its infinity rule
  std::vector<double> vattr_convs_loc, vattr_convs_glob, vattr_value_glob;
  std::vector<double> vpath_id, vpath_chpos, vpath_attr_convs, vpath_attr_value;
  std::vector<std::string> vpath_name, vpath_channel;
  std::vector<std::string> vchannel_from_mtx, vchannel_to_mtx;
  std::vector<double> vtran_prob_mtx;
  double s_nconv = 0, s_nnull = 0;
  uli nsim_start = 0;             // the batch size the simulation ended on (the
                                  // entry points hand it back through nsim_start)
  uli sim_batches = 0;            // simulation batches run (0 for the exact method)
  uli sim_walks = 0;              // walks actually simulated
  double sim_residual = 0;        // the last batch's fold residual
  double sim_ended_share = 0;     // walks that ended before the step limit
};

// The model over one journey source (the source's cha_sep is ignored: the
// channel separator is `cha_sep`). The column names var_value and var_null
// decide whether values and nulls count, for vectors too; vv and vn may be
// null or empty. markov_model_cpp and markov_model_method_cpp are this with
// their arguments gathered (their outputs are replaced, and nsim_start is
// updated from the result, as the simulation leaves it).
MarkovResult markov_run(const JourneySource& src, const std::string& cha_sep,
                        const MarkovSettings& settings);

// ---- fixed-signature entries (forwarders of markov_run) -------------------
// Removal-effect attribution (type 0, or no null column) or conversion
// index of kind 1 to 4 applied to every journey by path attribution; with
// flg_out_tran_mtx > 1 only the transition table. Every input and output
// as the entry point documents them; vindex comes back masked with
// mean_index appended, vindex_raw unmasked (type 2 before its infinity
// rule). Throws std::invalid_argument for order, ncore or nfold 0, a type
// outside 0..4, simulation settings that cannot converge, journeys
// without conversions and a result file that cannot be created.
void markov_model_cpp(int* flg_file, std::string* file, std::string* var_path,
                      std::string* var_conv, std::string* var_value, std::string* var_null,
                      std::vector<std::string>* vy, std::vector<uli>* vc,
                      std::vector<double>* vv, std::vector<uli>* vn, std::string* row_sep,
                      std::string* cha_sep, int* type, uli* order, uli* nsim_start,
                      uli* max_step, uli* ncore, uli* nfold, uli* seed, double* conv_par,
                      double* rate_step_sim, int* verbose, int* flg_out_tran_mtx,
                      std::string* file_output, int* flg_write_nulls, int* flg_write_paths,
                      std::vector<std::string>* vchannels, std::vector<double>* vindex,
                      int* flg_out_attr,
                      std::vector<double>* vpath_id, std::vector<std::string>* vpath_name,
                      std::vector<std::string>* vpath_channel, std::vector<double>* vpath_chpos,
                      std::vector<double>* vpath_attr_convs,
                      std::vector<double>* vpath_attr_value,
                      std::vector<double>* vattr_convs_loc,
                      std::vector<double>* vattr_convs_glob,
                      std::vector<double>* vattr_value_glob,
                      std::vector<std::string>* vchannel_from_mtx,
                      std::vector<std::string>* vchannel_to_mtx,
                      std::vector<double>* vtran_prob_mtx, double* s_nconv, double* s_nnull,
                      std::vector<double>* vindex_raw);

// markov_model_cpp with a method; the other arguments are the same.
void markov_model_method_cpp(const MarkovMethod* method, int* flg_file, std::string* file,
                             std::string* var_path, std::string* var_conv, std::string* var_value,
                             std::string* var_null, std::vector<std::string>* vy,
                             std::vector<uli>* vc, std::vector<double>* vv, std::vector<uli>* vn,
                             std::string* row_sep, std::string* cha_sep, int* type, uli* order,
                             uli* nsim_start, uli* max_step, uli* ncore, uli* nfold, uli* seed,
                             double* conv_par, double* rate_step_sim, int* verbose,
                             int* flg_out_tran_mtx, std::string* file_output,
                             int* flg_write_nulls, int* flg_write_paths,
                             std::vector<std::string>* vchannels, std::vector<double>* vindex,
                             int* flg_out_attr, std::vector<double>* vpath_id,
                             std::vector<std::string>* vpath_name,
                             std::vector<std::string>* vpath_channel,
                             std::vector<double>* vpath_chpos,
                             std::vector<double>* vpath_attr_convs,
                             std::vector<double>* vpath_attr_value,
                             std::vector<double>* vattr_convs_loc,
                             std::vector<double>* vattr_convs_glob,
                             std::vector<double>* vattr_value_glob,
                             std::vector<std::string>* vchannel_from_mtx,
                             std::vector<std::string>* vchannel_to_mtx,
                             std::vector<double>* vtran_prob_mtx, double* s_nconv,
                             double* s_nnull, std::vector<double>* vindex_raw);

// markov_simulate over pointers; nsim_start (0 meaning kDefaultSimulations)
// is updated as the loop leaves it, Nc / s_nnull filled only with flg_null.
// ---- internals -------------------------------------------------------------
// ---- transition store ------------------------------------------------------
// Transition counts between states, with each state's distinct successors
// kept in order of first appearance. Build with init/resize and add, then
// set_nchannels and cum once; after that sim and tran_matx may be called
// any number of times, concurrently too (they are const and keep no
// scratch). add/count throw std::out_of_range for a state at or beyond
// the capacity; sim for a state at or beyond nchannels.
class Fx {
 public:
  explicit Fx(uli nchannels0 = 0);

  void   init(uli n);                    // capacity at least n; never shrinks
  void   resize(uli n);                  // same rule as init
  void   add(uli i, uli j, uli v);       // v more transitions i -> j
  uli    add_get(uli i, uli j, uli v);   // add; returns the position of j among i's successors
  void   add_at(uli i, uli k, uli v);    // v more transitions i -> k-th successor of i
  void   set_nchannels(uli n);           // states in use: 0 .. n-1
  void   cum();                          // cumulative counts, flat layout for sim
  // Next state after c for uni in [0, 1): successor j with probability
  // S(c, j) / lrS[c], draw floor(lrS[c] * uni + 1) against the cumulative
  // counts, ties to the earlier successor; 0 when c has no successors.
  inline uli sim(uli c, double uni) const;
  class Walker;
  Walker walker() const;                 // sim laid out for a simulation's walks
  double pconv(uli ichannel, uli ichannel_conv, uli ichannel_null) const;
  // One row per observed transition (rows in state order, successors in
  // order of first appearance), probability = count / row total.
  void   tran_matx(const std::vector<std::string>* vchannels,
                   std::vector<std::string>* vchannels_from,
                   std::vector<std::string>* vchannels_to,
                   std::vector<double>* vtran_prob) const;

  uli    capacity() const { return cap_; }
  uli    S(uli i, uli j) const;          // count i -> j, 0 when never seen
  uli    S0(uli i, uli k) const { return succ_.at(i).at(k); }   // k-th successor of i
  uli    S1(uli i, uli k) const;         // cumulative count up to successor k (after cum)

  std::vector<uli> lrS0;                 // distinct successors per state
  std::vector<uli> lrS;                  // total count out of each state
  uli non_zeros = 0;                     // distinct (i, j) pairs over the store
  uli nchannels = 0;                     // states in use

 private:
  struct Edge { uli cum; uli to; };      // one successor in the sampling layout
  // Rows of two or more successors have a guide (gbits > 0): guide_[goff + b],
  // b < 2^gbits, is the first successor a uniform in [b, b + 1) / 2^gbits
  // can draw, guide_[goff + 2^gbits] the last one.
  struct Row { uli off; uli deg; uli tot; uli goff; uli gbits; };
  uli cap_ = 0;
  std::vector<std::vector<uli>> succ_;   // successors per state, first appearance order
  std::vector<std::vector<uli>> cnt_;    // counts parallel to succ_
  // (i << 32 | j) -> position of j in row i, open addressing (an empty
  // slot holds position kFreeSlot), at most half full.
  struct PosSlot { uli key, pos; };
  static constexpr uli kFreeSlot = ~static_cast<uli>(0);
  const uli* find_pos(uli key) const;
  void insert_pos(uli key, uli pos);
  std::vector<PosSlot> pos_;
  int pos_shift_ = 64;                   // 64 - log2(slots)
  std::vector<Row> rows_;                // sampling layout, built by cum
  uli nrows_ = 0;                        // rows_.size(), kept for sim
  std::vector<Edge> edges_;
  std::vector<uint32_t> guide_;          // successor positions (a row has < 2^32)
  [[noreturn]] static void sim_beyond(uli c, uli limit);
  static uli sim_search(const Edge* e, uli lo, uli hi, uli s0);
};

// Inline: the walks call it once per step.
inline uli Fx::sim(uli c, double uni) const {
  if (c >= nrows_) sim_beyond(c, nrows_);
  const Row& r = rows_[c];
  if (r.deg == 0) return 0;
  const Edge* e = edges_.data() + r.off;
  if (r.gbits == 0) return e[0].to;
  const uli nb = uli{1} << r.gbits;
  const double x = uni * static_cast<double>(nb);   // exact: a power of two
  const uli b = x > 0 ? (x < static_cast<double>(nb) ? static_cast<uli>(x) : nb - 1) : 0;
  // The first successor whose cumulative count reaches the drawn one,
  // floor(tot * uni + 1) kept at most tot (see cum), searched only between
  // the bucket's bounds.
  const uli s1 = static_cast<uli>(static_cast<double>(r.tot) * uni + 1.0);
  const uli s0 = s1 > r.tot ? r.tot : s1;
  const uint32_t* g = guide_.data() + r.goff + b;
  uli lo = g[0];
  const uli hi = g[1] + 1;
  if (hi - lo <= 8) {
    for (; lo < hi; ++lo)
      if (e[lo].cum >= s0) return e[lo].to;
    return 0;   // not reached: the last successor's count is tot
  }
  return sim_search(e, lo, hi, s0);
}

// The successors sim draws, laid out for many steps. The successor a
// uniform draws changes at a few uniforms only (the draw never decreases as
// the uniform grows): a row's thresholds are the smallest uniforms that
// draw beyond each successor. A row's uniforms fall in 2^bits buckets of
// equal width, bucket b = floor(uni * 2^32) >> (32 - bits), and a bucket's
// pick holds its first successor, the next one and the threshold between
// them. A walk carries a cursor, the state with where its row's picks lie,
// so a step reads one pick and compares once, with no branch on which
// successor it draws. A bucket holding more than two successors (rare)
// points into the row's thresholds, and the step scans on from there. Rows
// whose total is beyond 2^53 (the draw's arithmetic is not exact there) are
// drawn by sim. Built for one simulation (it takes more memory than the
// store keeps); valid while the store is unchanged.
class Fx::Walker {
 public:
  // The state in bits 0-31, the row's shift in bits 32-37, the offset of its
  // picks from bit 38 on.
  using Cursor = uint64_t;
  Cursor at(uli c) const { return c < rows_.size() ? rows_[c] : by_store(c); }
  static uli state(Cursor k) { return k & 0xffffffffu; }
  inline Cursor step(Cursor k, double uni) const;
  uli sim(uli c, double uni) const { return state(step(at(c), uni)); }

  // A walk one step ahead: its state's cursor, the uniform of its next draw
  // and that uniform's pick. advance() draws and looks up, beside the draw,
  // the picks of both candidates for the uniform after: a step then waits
  // for one comparison, not for a lookup of the row it lands in.
  struct Pick { double thr; Cursor to[2]; };
  struct Ahead { Cursor at; double uni; Pick pick; };
  Ahead ahead(Cursor k, double uni) const { return Ahead{k, uni, pick(k, uni)}; }
  inline Ahead advance(const Ahead& a, double next) const;

 private:
  friend class Fx;
  // Shifts with a meaning of their own: a row drawn by the store (a cursor
  // may lead to one), and, in a pick's first cursor only, a bucket to scan
  // (kScan) or the pick of the rows drawn by the store (kStorePick).
  static constexpr uint64_t kByStore = 63, kScan = 60, kStorePick = 61;
  static bool special(Cursor first) { return ((first >> 32) & 63) >> 1 == kScan >> 1; }
  static Cursor cursor(uli c, uint64_t shift, uint64_t off) { return c | shift << 32 | off << 38; }
  static Cursor by_store(uli c) { return cursor(c, kByStore, 0); }
  // The pick of uni in k's row; picks_[0] stands for the rows drawn by the
  // store (their cursors' offset is 0).
  const Pick& pick(Cursor k, double uni) const {
    const uint64_t u32 = static_cast<uint64_t>(static_cast<int64_t>(uni * 0x1p32));   // exact
    return picks_[(k >> 38) + (u32 >> ((k >> 32) & 63))];
  }
  const Fx* fx_ = nullptr;
  std::vector<Cursor> rows_;
  std::vector<Pick> picks_;
  std::vector<double> thr_;   // kScan buckets: thresholds and successors from their offset on
  std::vector<Cursor> to_;
  Cursor slow(Cursor k, double uni) const;
};

// a >= b ? x : y, without a branch where the compiler would make one: which
// successor a step draws is random, so a branch is mispredicted often.
inline uint64_t pick_at_least(double a, double b, uint64_t x, uint64_t y) {
#if defined(__x86_64__) && defined(__GNUC__)
  __asm__("ucomisd %[b], %[a]\n\tcmovae %[x], %[y]" : [y] "+r"(y) : [a] "x"(a), [b] "x"(b), [x] "r"(x) : "cc");
  return y;
#else
  return a >= b ? x : y;
#endif
}

inline Fx::Walker::Cursor Fx::Walker::step(Cursor k, double uni) const {
  const Pick& p = pick(k, uni);
  const Cursor first = p.to[0], next = p.to[1];
  if (special(first)) return slow(k, uni);
  return pick_at_least(uni, p.thr, next, first);
}

inline Fx::Walker::Ahead Fx::Walker::advance(const Ahead& a, double next) const {
  const Cursor first = a.pick.to[0], second = a.pick.to[1];
  if (special(first)) return ahead(slow(a.at, a.uni), next);
  const Pick& p0 = pick(first, next);
  const Pick& p1 = pick(second, next);
  Ahead b;
  b.at = pick_at_least(a.uni, a.pick.thr, second, first);
  b.uni = next;
  // Selected as numbers, so that the choice stays a data dependency.
  uint64_t t0, t1;
  std::memcpy(&t0, &p0.thr, sizeof t0);
  std::memcpy(&t1, &p1.thr, sizeof t1);
  const uint64_t t = pick_at_least(a.uni, a.pick.thr, t1, t0);
  std::memcpy(&b.pick.thr, &t, sizeof t);
  b.pick.to[0] = pick_at_least(a.uni, a.pick.thr, p1.to[0], p0.to[0]);
  b.pick.to[1] = pick_at_least(a.uni, a.pick.thr, p1.to[1], p0.to[1]);
  return b;
}

// ---- simulation matrices ---------------------------------------------------
// One journey: appends the channel separator to *s, encodes the path into
// states (order >= 1, else std::invalid_argument), adds convs + nulls to
// every internal transition and convs / nulls into "(conversion)" /
// "(null)", grows the store as needed and keeps max_npassi the longest
// journey in steps.
void build_simulation_matrix_i_cpp(std::string* s, uli* convs, uli* nulls, std::string* cha_sep,
                                   uli* order, Fx* S, uli* nchannels, ChannelMap* mp_channels,
                                   std::vector<std::string>* vchannels, uli* max_npassi,
                                   ChannelMap* mp_channels_sim, StateInverse* mp_channels_sim_inv,
                                   std::vector<std::string>* vchannels_sim, uli* nchannels_sim);

// The chain of one journey set: the channel and state dictionaries, the
// transition store and the totals.
struct SimulationMatrix {
  Fx S;
  uli nchannels = 0;                     // channels of the journeys
  ChannelMap mp_channels;
  std::vector<std::string> vchannels;
  uli max_npassi = 0;                    // longest journey in steps
  uli nchannels_sim = 0;                 // states, the three special ones included
  ChannelMap mp_channels_sim;
  StateInverse mp_channels_sim_inv;
  std::vector<std::string> vchannels_sim;
  double svc = 0, svv = 0;               // total conversions, total value
};

// Every journey of src into *m, which starts afresh. Vectors are read for
// what they hold (values and nulls where their vectors are not empty), a
// file by the columns src names; the channel separator is cha_sep. On
// return the store is cumulated and ready for sim. Throws
// std::invalid_argument for order 0; reader errors are those of
// JourneyReader.
void build_simulation_matrix(const JourneySource& src, const std::string& cha_sep, uli order,
                             int verbose, SimulationMatrix* m);

// ---- simulation ------------------------------------------------------------
// Channels of every state as a flat nstates x order table, -1 padded; the
// special states 0, 1, 2 (and any state without an entry) hold only -1.
std::vector<sli> state_channel_table(const StateInverse* mp_channels_sim_inv, uli nstates,
                                     uli order);

// The walks' engine: the 32-bit Mersenne Twister, every number the one
// std::mt19937 gives from the same seed, with a state refresh that does not
// branch on random bits (half of such branches are mispredicted).
class WalkEngine {
 public:
  explicit WalkEngine(uint32_t seed = 5489u) { this->seed(seed); }
  void     seed(uint32_t s);
  inline uint32_t operator()();
  // n uniforms, the ones n calls of canonical_uniform give, made a block
  // at a time.
  void     uniforms(double* out, size_t n);

 private:
  void     refresh();
  uint32_t x_[624];
  uli      p_ = 624;
};

// Inline: two numbers per step of every walk.
inline uint32_t WalkEngine::operator()() {
  if (p_ >= 624) refresh();
  uint32_t y = x_[p_++];
  y ^= y >> 11;
  y ^= (y << 7) & 0x9d2c5680u;
  y ^= (y << 15) & 0xefc60000u;
  return y ^ (y >> 18);
}

// The uniform in [0, 1) std::uniform_real_distribution<double>(0, 1) draws
// from std::mt19937 seeded as engine was: with libstdc++ the very number,
// computed without its extended-precision steps; elsewhere that
// distribution itself.
inline double canonical_uniform(WalkEngine* engine) {
#if defined(__GLIBCXX__)
  // Two 32-bit outputs, the first as the low half: their sum is rounded
  // once, the division by 2^64 is exact, and a sum that rounds up to 2^64
  // is kept below 1.
  const double lo = static_cast<double>((*engine)());
  const double hi = static_cast<double>((*engine)());
  const double u = (lo + hi * 0x1p32) * 0x1p-64;
  return u < 1.0 ? u : std::nextafter(1.0, 0.0);
#else
  struct Bits {   // the engine as a uniform random bit generator
    using result_type = uint32_t;
    static constexpr uint32_t min() { return 0; }
    static constexpr uint32_t max() { return 0xffffffffu; }
    WalkEngine* e;
    uint32_t operator()() { return (*e)(); }
  } bits{engine};
  return std::uniform_real_distribution<double>(0.0, 1.0)(bits);
#endif
}

// Shared accumulators of the simulation; slot w belongs to worker w.
// T0[w] / N0[w] are nfold x nchannels, fold-major.
struct SimAccumulators {
  std::vector<std::vector<double>> T0, N0;
  std::vector<uli> nconv, nnull, v_inc_path, v_path;
  void reset(uli ncore, uli nfold, uli nchannels);
};

// One worker for one batch: nfold x nsim_fold_core walks from "(start)" of
// at most max_npassi + 1 draws, drawing from its own engine seeded with
// engine_seed; counts each channel once per walk into slot kcore. A walk
// that meets a state without successors ends as incomplete. Returns early
// when *stop becomes true.
void W_markov_model(uli engine_seed, uli kcore, uli nfold, uli nsim_fold_core,
                    const std::vector<sli>* state_channels, uli max_npassi, uli ichannel_conv,
                    uli ichannel_null, uli order, uli nchannels, const Fx* S,
                    SimAccumulators* acc, const std::atomic<bool>* stop);

// Rejects, with std::invalid_argument naming the argument, settings under
// which the batch loop cannot work or never ends: ncore or nfold 0,
// conv_par not a positive number, rate_step_sim that cannot grow the
// batch total, nsim_start (0 meaning kDefaultSimulations) below nfold x ncore.
void check_simulation_args(uli nsim_start, uli ncore, uli nfold, double conv_par,
                           double rate_step_sim);

// Settings of the batch loop; the defaults are the R functions'.
struct SimulationSettings {
  uli nsim_start = kDefaultSimulations;   // walks of the first batch (0: the default)
  uli max_step = 0;                       // walk limit; 0: the longest journey plus one
  uli ncore = 1;
  uli nfold = 10;
  uli seed = gb::limsup;                  // limsup: fresh seeds every batch
  double conv_par = 0.05;                 // largest fold residual that stops the loop
  double rate_step_sim = 1.5;             // growth of the batch total
  int verbose = 0;
  void validate() const;                  // check_simulation_args
};

// What the batch loop found: per channel the walks through it that
// converted (Tc) or ended in "(null)" (Nc, only with nulls), the walk
// totals, and how the loop went.
struct SimulationOutcome {
  std::vector<double> Tc, Nc;
  double s_nconv = 0, s_nnull = 0;        // s_nnull 0 without nulls
  uli nsim_start = 0;                     // the batch size the loop ended on
  uli batches = 0;
  uli walks = 0;                          // walks actually simulated over every batch
  double residual = 0;                    // the last batch's fold residual
  double ended_share = 0;                 // walks that ended before the step limit
};

// The batch loop: batches of ncore threads until the fold residual is at
// most conv_par. Channels of state s are row s of state_channels (order
// columns). max_npassi is the longest journey in steps; the walk limit is
// max_npassi + 1, or max_step when it is positive. Prints progress when
// verbose is 1, checks for interrupts while it waits (workers are stopped
// and joined before any exception leaves). With a fixed seed (and at most
// 64 channels) the walks of each worker are recorded, up to 2^22 walks over
// all workers (36 MB), so that later batches, which replay them, only sum
// them. Throws std::invalid_argument for the settings validate() rejects,
// order 0, svc not positive, or no simulated journey converted.
SimulationOutcome markov_simulate(const Fx& S, const std::vector<sli>& state_channels, uli order,
                                  uli nchannels, uli max_npassi, bool flg_null, double svc,
                                  const SimulationSettings& settings);

// ---- exact solve -----------------------------------------------------------
// What the simulation estimates, computed from the chain itself: the
// probability that a walk from "(start)" ends in "(conversion)" (p_conv)
// or "(null)" (p_null), and per channel j the probability of converting
// (conv_via[j]) or ending in null (null_via[j]) after passing through a
// state that holds j. These are p_conv (p_null) minus the same probability
// in the chain where j's states end the walk, one such chain per channel.
// Horizon: with unlimited false a walk has at most `draws` draws (the
// simulation's step limit + 1) and a walk still inside the chain after
// them, or in a state without successors, is incomplete, exactly as in the
// simulation (solved by pushing the walks forward draw by draw, stopping
// early only once at most 1e-15 of the walks are left in the chain); with
// unlimited true the absorbing-chain limit (self-loops folded into their
// rows), by Gauss-Seidel sweeps that raise the probabilities of ending in
// "(conversion)", "(null)" or a removed state monotonically from 0, until
// at most 1e-14 of the walks from "(start)" are undecided: that gap
// bounds the error of every probability. Where rounding or walks that
// stay long keep the sweeps from closing the gap, the chains of that
// group of channels are solved directly instead (state elimination).
// Channels are solved on nthreads threads; results do not depend on it.
void markov_exact(const Fx* S, const std::vector<sli>* state_channels, uli order, uli nchannels,
                  uli draws, bool unlimited, uli nthreads, std::vector<double>* conv_via,
                  std::vector<double>* null_via, double* p_conv, double* p_null);

#endif
