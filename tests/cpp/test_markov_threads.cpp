#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "markov/markov.h"
#include "markov_helpers.h"

namespace {

using namespace markov_test;

// Binomial standard error of a share estimated from n simulated journeys.
double se(double p, double n) { return std::sqrt(std::max(p * (1 - p), 1e-12) / n); }

TEST(MarkovExact, ValueSharesStayFiniteWhenTheTotalOverflows) {
  Settings s;
  s.var_value = "value";
  Result r = run(Journeys{{"a", "b > a"}, {1, 1}, {0, 0}, {1e308, 1e308}}, s);
  ASSERT_EQ(r.vattr_value_glob.size(), 2u);   // shares of 2e308, each finite
  EXPECT_NEAR(r.vattr_value_glob[0] / 2e300 + r.vattr_value_glob[1] / 2e300, 1e8, 1e-6);
}

// Index kinds from the same seed share their simulated counts, so Tc and Nc
// follow from types 0 and 1 and the exact chain pins type 1 itself.
TEST(MarkovExact, IndexKinds) {
  Journeys j = loop_journeys(3, 30);
  j.vy.push_back("e");   // e: conversions only, never a null
  j.vc.push_back(5);
  j.vn.push_back(0);
  j.vv.push_back(0);
  Settings s;
  s.max_step = 400;
  s.nsim_start = 100000;
  s.flg_out_attr = 0;
  ExactChain chain(j, 1);
  std::vector<std::vector<double>> v(5);
  Result r2;
  for (int type = 0; type <= 4; ++type) {
    s.type = type;
    Result r = run(j, s);
    v[type] = r.unmasked();
    if (type == 2) r2 = r;
    EXPECT_TRUE(r.vpath_id.empty());
  }
  const Result r0 = run(j, Settings{s.type = 0, s.order, s.nsim_start, s.max_step, s.ncore,
                                    s.nfold, s.seed});
  const size_t n = r0.vchannels.size();
  const double sc = r0.s_nconv, sn = r0.s_nnull;
  double largest = -INFINITY;
  size_t e = n;
  for (size_t c = 0; c < n; ++c) {
    const std::string& name = r0.vchannels[c];
    const double pvc = chain.p_conv_via(name), pvn = chain.p_null_via(name);
    EXPECT_NEAR(v[1][c], pvc / (pvc + pvn), 0.02) << name;
    const double Tc = v[0][c] * sc;
    const double Nc = Tc / v[1][c] - Tc;
    EXPECT_NEAR(v[3][c], (Tc - Nc + 1) * 0.5, 1e-6 * (Tc + Nc));
    if (name == "e") {
      e = c;
      EXPECT_EQ(r2.vindex_raw[c], -INFINITY);
      EXPECT_NEAR(v[4][c], 1.0, 1e-9);
    } else {
      EXPECT_NEAR(v[2][c], Tc / Nc, 1e-6 * Tc / Nc);
      EXPECT_NEAR(r2.vindex_raw[c], Tc / Nc, 1e-6 * Tc / Nc);
      EXPECT_NEAR(v[4][c], 1 - std::exp(-Tc / Nc), 1e-6);
      largest = std::max(largest, Tc / Nc);
    }
  }
  ASSERT_LT(e, n);
  EXPECT_NEAR(v[2][e], largest, 1e-6 * largest);
  EXPECT_NEAR(v[1][n], sc / (sc + sn), 1e-9);
  EXPECT_NEAR(v[2][n], sc / sn, 1e-6 * sc / sn);
  EXPECT_NEAR(v[3][n], (sc - sn + 1) * 0.5, 1e-6 * (sc + sn));
  EXPECT_NEAR(v[4][n], 1 - std::exp(-sc / sn), 1e-9);
  EXPECT_NEAR(v[1][n], chain.p_conv(), 0.01);
}

// ---- model behaviour -------------------------------------------------------

TEST(MarkovModel, ChannelInEveryConvertingJourneyHasEffectOne) {
  // Only channel a leads to "(conversion)".
  Journeys j{{"b > a", "c > a", "b > c", "a"}, {2, 1, 0, 3}, {1, 1, 2, 0}, {}};
  Result r = run(j, Settings{});
  std::vector<double> v = r.unmasked();
  EXPECT_EQ(r.vchannels, (std::vector<std::string>{"b", "a", "c"}));
  std::swap(v[0], v[1]);
  EXPECT_EQ(v[0], 1.0);
  EXPECT_TRUE(r.vpath_id.empty() && r.vattr_convs_loc.empty() && r.vattr_value_glob.empty());
  EXPECT_TRUE(r.from.empty());
  Settings unseeded;
  unseeded.seed = gb::limsup;   // engines seeded from the device
  EXPECT_EQ(run(j, unseeded).unmasked()[1], 1.0);
}

TEST(MarkovModel, SameSeedSameResults) {
  Journeys j = loop_journeys(5, 25);
  for (uli ncore : {1ul, 2ul}) {
    Settings s;
    s.ncore = ncore;
    s.conv_par = 0.02;
    Result a = run(j, s), b = run(j, s);
    EXPECT_EQ(a.vindex, b.vindex) << "ncore " << ncore;
    EXPECT_EQ(a.vattr_convs_glob, b.vattr_convs_glob);
    EXPECT_EQ(a.s_nconv, b.s_nconv);
  }
}

TEST(MarkovModel, TransitionTableAloneOrAlongside) {
  Journeys j{{"a > b", "b"}, {1, 1}, {1, 0}, {}};
  Settings s;
  s.flg_out_tran_mtx = 2;
  s.ncore = 0;   // no simulation: its settings do not matter
  Result r = run(j, s);
  EXPECT_EQ(r.vchannels.size(), 2u);
  EXPECT_TRUE(r.vindex.empty() && r.vattr_convs_glob.empty());
  EXPECT_EQ(r.from, (std::vector<std::string>{"(start)", "(start)", "0", "1", "1"}));
  EXPECT_EQ(r.to, (std::vector<std::string>{"0", "1", "1", "(conversion)", "(null)"}));
  EXPECT_EQ(r.prob, (std::vector<double>{2.0 / 3, 1.0 / 3, 1.0, 2.0 / 3, 1.0 / 3}));
  s.flg_out_tran_mtx = 1;
  s.ncore = 1;
  r = run(j, s);
  EXPECT_EQ(r.from.size(), 5u);
  EXPECT_EQ(r.vattr_convs_glob.size(), 2u);
}

struct TempName {
  std::string name = std::string("/tmp/touchlane_markov_out_") + std::to_string(::getpid());
  ~TempName() { std::remove(name.c_str()); }
};

TEST(MarkovModel, ChannelResultFile) {
  Journeys j{{"a > b", "b"}, {2, 1}, {0, 1}, {10, 5}};
  TempName out;
  Settings s;
  s.file_output = out.name;
  s.var_value = "value";
  Result r = run(j, s);
  std::ifstream in(out.name);
  std::string header, row;
  std::getline(in, header);
  EXPECT_EQ(header, "channel;total_conversions;total_conversion_value");
  std::getline(in, row);
  char buf[200];
  std::snprintf(buf, sizeof buf, "a;%f;%f", r.vattr_convs_glob[0], r.vattr_value_glob[0]);
  EXPECT_EQ(row, buf);
}

TEST(MarkovModel, ProgressLines) {
  Journeys j{{"a > b", "b"}, {2, 1}, {0, 1}, {}};
  Settings s;
  s.verbose = 1;
  s.conv_par = 1e9;   // any residual passes: one batch
  s.nsim_start = 0;   // the default size
  s.ncore = 1;
  Console con;
  run(j, s);
  auto lines = con.lines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "**markov model estimation**");
  EXPECT_EQ(lines[1], "Building transition matrix, number of paths elaborated: 2");
  EXPECT_EQ(lines[2].rfind("Number of simulations: 100000 - Convergence reached: ", 0), 0u);
  EXPECT_EQ(lines[3],
            "Percentage of simulated paths that successfully end before maximum number of steps "
            "(4) is reached: 100.00%");
}

// The step limit cuts long walks: they count as incomplete.
TEST(MarkovModel, StepLimitLowersSuccess) {
  Journeys j{{"a > b > c > d > e > f", "a"}, {1, 1}, {0, 0}, {}};
  Settings s;
  s.verbose = 1;
  s.max_step = 3;
  s.conv_par = 1e9;
  Console con;
  run(j, s);
  const std::string line = con.lines().at(3);
  EXPECT_NE(line.find("steps (3) is reached: "), std::string::npos);
  const double pct = std::stod(line.substr(line.rfind(": ") + 2));
  EXPECT_NEAR(pct, 50.0, 2.0);   // only the one-touch walks end within 4 draws
}

TEST(MarkovModel, ArgumentsThatCannotWork) {
  Journeys j{{"a > b", "b"}, {2, 1}, {0, 1}, {}};
  auto expect_error = [&](Settings s, const std::string& what) {
    EXPECT_NE(error_of(j, s).find(what), std::string::npos) << what << " / " << error_of(j, s);
  };
  Settings s;
  s.order = 0;            expect_error(s, "order must be at least 1");
  s = Settings{}; s.ncore = 0;       expect_error(s, "ncore must be at least 1");
  s = Settings{}; s.nfold = 0;       expect_error(s, "nfold must be at least 1");
  s = Settings{}; s.conv_par = 0;    expect_error(s, "conv_par must be a positive number");
  s = Settings{}; s.conv_par = NAN;  expect_error(s, "conv_par must be a positive number");
  s = Settings{}; s.rate_step_sim = 1;        expect_error(s, "rate_step_sim");
  s = Settings{}; s.rate_step_sim = 1.00001;  expect_error(s, "grow nsim_start (20000)");
  s = Settings{}; s.nsim_start = 19;          expect_error(s, "nsim_start (19) must be at least nfold x ncore (10 x 2)");
  s = Settings{}; s.type = 7;        expect_error(s, "type must be 0");
  Journeys none{{"a > b", "b"}, {0, 0}, {3, 1}, {}};
  EXPECT_NE(error_of(none, Settings{}).find("no conversions"), std::string::npos);
  Journeys weightless{{"a > b"}, {0}, {0}, {}};
  EXPECT_NE(error_of(weightless, Settings{}).find("no conversions"), std::string::npos);
  // Conversions exist, but no walk reaches them within the limit.
  Journeys far{{"a > b > c > d > e"}, {1}, {0}, {}};
  s = Settings{};
  s.max_step = 2;
  EXPECT_NE(error_of(far, s).find("no simulated journey converted within 2 steps"), std::string::npos);
}

// ---- the batch loop --------------------------------------------------------

Fx coin_chain() {
  Fx S(5);
  S.add(0, 3, 2);
  S.add(3, 4, 1);
  S.add(3, 1, 1);
  S.add(4, 1, 1);
  S.add(4, 2, 1);
  S.set_nchannels(5);
  S.cum();
  return S;
}

std::ostringstream* g_console = nullptr;
int g_batches_before_stop = 0;

void stop_after_batches() {
  std::string text = g_console->str();
  int n = 0;
  for (size_t p = 0; (p = text.find("Number of simulations", p)) != std::string::npos; ++p) ++n;
  if (n >= g_batches_before_stop) throw std::runtime_error("interrupted");
}

void stop_at_once() { throw std::runtime_error("interrupted"); }

struct Loop {
  Fx S = coin_chain();
  std::vector<sli> table{-1, -1, -1, 0, 1};
  uli order = 1, nchannels = 2, max_npassi = 3, max_step = 0, nsim_start = 1000, ncore = 2,
      nfold = 2, seed = 3;
  double conv_par = 1e-12, rate = 1.5, svc = 1;
  int verbose = 1, flg_null = 1;
  std::vector<double> Tc, Nc;
  double s_nconv = 0, s_nnull = 0;
  void run() {
    markov_simulation(&S, &table, &order, &nchannels, &max_npassi, &max_step, &nsim_start, &ncore,
                      &nfold, &seed, &conv_par, &rate, &verbose, &flg_null, &svc, &Tc, &Nc,
                      &s_nconv, &s_nnull);
  }
};

TEST(MarkovLoop, BatchTotalsGrowByTheRate) {
  Console con;
  g_console = &con.os;
  g_batches_before_stop = 3;
  set_interrupt_hook(&stop_after_batches);
  Loop loop;
  EXPECT_THROW(loop.run(), std::runtime_error);
  set_interrupt_hook(nullptr);
  auto lines = con.lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].rfind("Number of simulations: 1000 - Reaching convergence (wait...): ", 0), 0u);
  EXPECT_EQ(lines[1].rfind("Number of simulations: 1500 - ", 0), 0u);
  EXPECT_EQ(lines[2].rfind("Number of simulations: 2250 - ", 0), 0u);
  EXPECT_NE(lines[0].find("% > 0.00%"), std::string::npos);
  EXPECT_EQ(loop.nsim_start, 1750u);   // the third batch's size
}

TEST(MarkovLoop, InterruptDuringALongBatchJoinsTheWorkers) {
  set_interrupt_hook(&stop_at_once);
  Loop loop;
  loop.verbose = 0;
  loop.nsim_start = 4000000000ul;   // far more than the test would wait for
  EXPECT_THROW(loop.run(), std::runtime_error);
  set_interrupt_hook(nullptr);
}

// Counts of the coin chain: every walk passes channel 0, half of them go on
// to channel 1, and a walk through channel 1 converts with probability 1/2.
TEST(MarkovLoop, CountsOfAKnownChain) {
  Loop loop;
  loop.verbose = 0;
  loop.conv_par = 0.05;
  loop.nsim_start = 40000;
  loop.run();
  const double n = loop.s_nconv + loop.s_nnull;
  EXPECT_NEAR(loop.s_nconv / n, 0.75, 5 * se(0.75, n));
  EXPECT_EQ(loop.Tc[0], loop.s_nconv);
  EXPECT_EQ(loop.Nc[0], loop.s_nnull);
  EXPECT_NEAR(loop.Tc[1] / loop.s_nconv, 1.0 / 3, 5 * se(1.0 / 3, loop.s_nconv));
  EXPECT_EQ(loop.Nc[1], loop.s_nnull);   // every null walk passed channel 1
}


// ---- one worker ------------------------------------------------------------

struct Worker {
  Fx S;
  std::vector<sli> table{-1, -1, -1, 0, 1};
  SimAccumulators acc;
  std::atomic<bool> stop{false};
  uli nfold = 5, order = 1;
  explicit Worker(Fx s, uli ncore = 2) : S(std::move(s)) { acc.reset(ncore, nfold, 2); }
  void run(uli engine_seed, uli w, uli per_fold, uli max_npassi = 100) {
    W_markov_model(engine_seed, w, &nfold, per_fold, &table, max_npassi, 1, 2, &order, 2, &S,
                   &acc, &stop);
  }
};

TEST(MarkovWorker, FoldsAndSlots) {
  Worker wk(coin_chain());
  wk.run(1, 0, 10000);
  wk.run(2, 1, 10000);
  for (uli w : {0ul, 1ul}) {
    EXPECT_EQ(wk.acc.v_path[w], 50000u);
    EXPECT_EQ(wk.acc.nconv[w] + wk.acc.nnull[w] + wk.acc.v_inc_path[w], 50000u);
    double t = 0;
    for (uli f = 0; f < 5; ++f) t += wk.acc.T0[w][f * 2];   // channel 0 is on every walk
    EXPECT_EQ(t, static_cast<double>(wk.acc.nconv[w]));
  }
  EXPECT_NE(wk.acc.T0[0], wk.acc.T0[1]);   // different streams
}

TEST(MarkovWorker, SameSeedReplaysTheSameWalks) {
  Worker a(coin_chain()), b(coin_chain());
  a.run(9, 0, 1000);
  b.run(9, 0, 1000);
  EXPECT_EQ(a.acc.T0[0], b.acc.T0[0]);
  b.run(9, 0, 1000);
  for (size_t x = 0; x < a.acc.T0[0].size(); ++x) EXPECT_EQ(b.acc.T0[0][x], 2 * a.acc.T0[0][x]);
}

TEST(MarkovWorker, WalksThatCannotEndAreIncomplete) {
  Fx loop(4);
  loop.add(0, 3, 1);
  loop.add(3, 3, 1);   // never leaves channel 0
  loop.set_nchannels(4);
  loop.cum();
  Worker wk(loop);
  wk.run(1, 0, 100, 3);
  EXPECT_EQ(wk.acc.v_inc_path[0], 500u);
  EXPECT_EQ(wk.acc.T0[0], std::vector<double>(10, 0.0));
  Fx empty(4);   // "(start)" without successors
  empty.set_nchannels(4);
  empty.cum();
  Worker none(empty);
  none.run(1, 0, 100);
  EXPECT_EQ(none.acc.v_inc_path[0], 500u);
}

// ---- index kinds applied to every touch point ---------------------------------

// Conversions of each journey split by the weights of its distinct channels,
// each share divided among the channel's occurrences; written per touch point.
std::vector<double> shares(const Journeys& j, const std::vector<std::string>& names,
                           const std::vector<double>& w, double mean,
                           std::vector<double>* per_channel) {
  std::vector<double> rows;
  per_channel->assign(names.size(), 0.0);
  for (size_t r = 0; r < j.vy.size(); ++r) {
    if (j.vc[r] == 0) continue;
    std::vector<std::string> ch;
    std::stringstream ss(j.vy[r]);
    std::string tok;
    while (std::getline(ss, tok, '>')) ch.push_back(tok.substr(tok.find_first_not_of(' '),
                                                               tok.find_last_not_of(' ') - tok.find_first_not_of(' ') + 1));
    auto weight = [&](const std::string& c) {
      for (size_t k = 0; k < names.size(); ++k) if (names[k] == c) return w[k];
      return mean;
    };
    std::map<std::string, int> times;
    for (auto& c : ch) ++times[c];
    double tot = 0;
    for (auto& kv : times) tot += weight(kv.first);
    for (auto& c : ch) {
      const double x = static_cast<double>(j.vc[r]) * weight(c) / tot / times[c];
      rows.push_back(x);
      for (size_t k = 0; k < names.size(); ++k) if (names[k] == c) (*per_channel)[k] += x;
    }
  }
  return rows;
}

TEST(MarkovPaths, IndexKindWeightsEveryTouchPoint) {
  Journeys j = loop_journeys(9, 30);
  Settings s;
  s.type = 1;
  Result r = run(j, s);
  std::vector<double> v = r.unmasked();
  std::vector<double> want_loc;
  std::vector<double> want = shares(j, r.vchannels, v, v.back(), &want_loc);
  ASSERT_EQ(r.vpath_attr_convs.size(), want.size());
  for (size_t k = 0; k < want.size(); ++k) EXPECT_NEAR(r.vpath_attr_convs[k], want[k], 1e-9 * want[k]);
  for (size_t k = 0; k < want_loc.size(); ++k) EXPECT_NEAR(r.vattr_convs_loc[k], want_loc[k], 1e-9);
  EXPECT_TRUE(r.vattr_convs_glob.empty());
}

// Without nulls the removal-effect totals become weights, calibrated once
// against what path attribution gives each channel with them.
TEST(MarkovPaths, WithoutNullsTheWeightsAreCalibrated) {
  Journeys j = loop_journeys(4, 30);
  Settings s;
  s.type = 3;
  s.var_null = "";
  Result r = run(j, s);
  ASSERT_EQ(r.vattr_convs_glob.size(), r.vchannels.size());
  std::vector<double> loc1, loc2;
  shares(j, r.vchannels, r.vattr_convs_glob, 1.0, &loc1);
  std::vector<double> w;
  for (size_t k = 0; k < loc1.size(); ++k) w.push_back((r.vattr_convs_glob[k] + 10) / (loc1[k] + 10));
  std::vector<double> want = shares(j, r.vchannels, w, 1.0, &loc2);
  std::vector<double> v = r.unmasked();
  for (size_t k = 0; k < w.size(); ++k) EXPECT_NEAR(v[k], w[k], 1e-9);   // masking rounds at 1e6 scale
  EXPECT_NEAR(v.back(), 1.0, 1e-9);
  ASSERT_EQ(r.vpath_attr_convs.size(), want.size());
  for (size_t k = 0; k < want.size(); ++k) EXPECT_NEAR(r.vpath_attr_convs[k], want[k], 1e-9 * want[k]);
  for (size_t k = 0; k < loc2.size(); ++k) EXPECT_NEAR(r.vattr_convs_loc[k], loc2[k], 1e-9);
}

}  // namespace
