// The Markov model through markov_run and its fixed-signature entry points:
// simulated and exact counts against the chain solved by hand, the step
// limit, the seeds of the workers, index kinds, touch-point rows.
#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "helpers.h"
#include "markov/markov.h"

namespace {

using namespace tl_test;

MarkovSettings settings(int type = 0) {
  MarkovSettings s;
  s.type = type;
  s.nsim_start = 20000;
  s.ncore = 2;
  s.seed = 7;
  return s;
}

MarkovResult markov(const Journeys& j, const MarkovSettings& s) { return markov_run(j.source(), ">", s); }

std::vector<double> unmasked(const MarkovResult& r) {
  std::vector<double> v = r.vindex;
  unhide_index(&v);
  return v;
}

// Journeys that loop on one channel: with a step limit of 5 many walks are
// still looping when it is reached.
Journeys self_loops() {
  return {{"a > a > a > a > a > a > a > a > b", "b > a", "c > a > a", "c", "a > c > b"},
          {3, 1, 0, 1, 2},
          {1, 2, 3, 2, 1},
          {}};
}

#define CHANGE(...) [=](MarkovSettings & s, Journeys & j) { (void)s, (void)j; __VA_ARGS__; }

TEST(Markov, ErrorsNameTheArgument) {
  const uli two63 = uli{1} << 63;
  const std::vector<std::pair<std::function<void(MarkovSettings&, Journeys&)>, std::string>> cases = {
      {CHANGE(s.order = 0), "order must be at least 1"},
      {CHANGE(s.ncore = 0), "ncore must be at least 1"},
      {CHANGE(s.nfold = 0), "nfold must be at least 1"},
      {CHANGE(s.conv_par = 0), "conv_par must be a positive number, not 0.000000"},
      {CHANGE(s.conv_par = NAN), "conv_par must be a positive number, not nan"},
      {CHANGE(s.rate_step_sim = 1.00001),
       "rate_step_sim (1.000010) must be greater than 1 and grow nsim_start (20000) by at least one simulation"},
      {CHANGE(s.nsim_start = 19), "nsim_start (19) must be at least nfold x ncore (10 x 2)"},
      {CHANGE(s.type = 7), "type must be 0 (removal effects) or 1 to 4 (index kinds), not 7"},
      {CHANGE(j.vc = {0, 0}), "the journeys have no conversions: nothing to attribute"},
      // Counts that pass 2^64: out of "(start)", within one row, on one edge.
      {CHANGE(j = Journeys({{"a>b", "a>b"}, {two63, 1}, {0, two63}, {}})), "counts overflow at row 2"},
      {CHANGE(j = Journeys({{"a>b", "a>b"}, {~uli{0}, 0}, {1, 0}, {}})), "counts overflow at row 1"},
      {CHANGE(j = Journeys({{"a>b", "a>b"}, {two63, two63}, {0, 0}, {}})), "counts overflow at row 2"},
  };
  for (const auto& [change, message] : cases) {
    MarkovSettings s = settings();
    Journeys j{{"a > b", "b"}, {2, 1}, {0, 1}, {}};
    change(s, j);
    EXPECT_HAS(error_of([&] { markov(j, s); }), message);
  }
  // Exactly 2^64 - 1 out of "(start)" still fits.
  MarkovSettings only_table = settings();
  only_table.flg_out_tran_mtx = 2;
  EXPECT_EQ(markov({{"a>b", "a>c"}, {two63 - 1, 1}, {0, two63 - 1}, {}}, only_table).vtran_prob_mtx.at(0), 1.0);
}

// A journey of four touches needs five draws: start -> a -> b -> c -> d ->
// conversion. A step limit of 4 allows them; 3 converts nothing.
TEST(Markov, StepLimitAtItsExactBoundary) {
  const Journeys j{{"a > b > c > d"}, {1}, {0}, {}};
  for (int exact : {0, 1}) {
    MarkovSettings s = settings();
    s.method.exact = exact;
    s.max_step = 4;
    s.verbose = 1;
    Console con;
    const MarkovResult r = markov(j, s);
    EXPECT_EQ(r.s_nconv, 20000) << "exact " << exact;
    if (!exact) {
      EXPECT_EQ(con.lines().back(), "Percentage of simulated paths that successfully end before maximum number of "
                                    "steps (4) is reached: 100.00%");
    }
    s.max_step = 3;
    EXPECT_EQ(error_of([&] { markov(j, s); }),
              exact ? "no walk converts within 3 steps: raise max_step"
                    : "no simulated journey converted within 3 steps: raise max_step");
  }
}

// The exact counts within the step limit (and without one) are the hand-
// solved chain's: index kind 1 is conv_via / (conv_via + null_via). The
// default limit is the longest journey in steps plus one (12 draws here).
TEST(Markov, ExactCountsAreTheChainSolvedByHand) {
  struct Case { Journeys j; uli order, max_step; int unlimited, draws; };
  const Journeys spelled{{"a>>b", " a> >b ", "paid  search > paid search > a", " > ", "b >a"}, {1, 0, 2, 1, 0}, {1, 2, 1, 0, 3}, {}};
  const std::vector<Case> cases = {{spelled, 1, 0, 1, 0}, {spelled, 2, 0, 1, 0}, {self_loops(), 1, 0, 0, 12},  {self_loops(), 1, 5, 0, 6},
                                   {self_loops(), 1, 0, 1, 0},   {random_journeys(21, 40), 1, 0, 1, 0},
                                   {random_journeys(22, 40), 2, 0, 1, 0}, {random_journeys(23, 40), 3, 0, 1, 0}};
  for (const Case& k : cases) {
    MarkovSettings s = settings(1);
    s.order = k.order;
    s.max_step = k.max_step;
    s.method.exact = 1;
    s.method.unlimited = k.unlimited;
    const MarkovResult r = markov(k.j, s);
    const std::vector<double> v = unmasked(r);
    const ExactChain chain(k.j, k.order);
    for (size_t c = 0; c < r.vchannels.size(); ++c) {
      const double pc = chain.via(1, r.vchannels[c], k.draws), pn = chain.via(2, r.vchannels[c], k.draws);
      EXPECT_NEAR(v[c], pc / (pc + pn), 1e-9) << "order " << k.order << " limit " << k.max_step;
    }
    const double pc = chain.absorb(1, "", k.draws), pn = chain.absorb(2, "", k.draws);
    EXPECT_NEAR(v.back(), pc / (pc + pn), 1e-9);
    EXPECT_NEAR(r.s_nconv, 20000 * pc, 1e-6);
  }
}

// Without a step limit every probability is the dense solve's to 1e-12, at
// orders 1 to 6 over 10 and 50 channels, whether the sweeps settle or the
// chain is handed to the direct solve. The alternating journey keeps its
// walks between a and b with probability 0.95 a round: the sweeps settle
// only after hundreds of rounds, and stopping while 1e-6 of the walks are
// undecided would be off by about that much.
TEST(Markov, UnlimitedHorizonIsTheDenseSolve) {
  std::string ab = "a";
  for (int k = 1; k < 40; ++k) ab += k % 2 ? ">b" : ">a";
  const Journeys slow{{ab, "c > a", "b"}, {1, 1, 0}, {1, 0, 1}, {}};
  struct Case { Journeys j; uli order; };
  std::vector<Case> cases = {{slow, 1}, {slow, 2}, {self_loops(), 1}};
  for (uli order = 1; order <= 6; ++order) {
    cases.push_back({random_journeys(40 + order, 120, 10, 7), order});
    cases.push_back({random_journeys(50 + order, 40, 50, 6), order});
  }
  for (const Case& k : cases) {
    SimulationMatrix m;
    build_simulation_matrix(k.j.source(), ">", k.order, 0, &m);
    const std::vector<sli> table = state_channel_table(&m.mp_channels_sim_inv, m.nchannels_sim, k.order);
    std::vector<double> conv_via, null_via;
    double pc = -1, pn = -1;
    markov_exact(&m.S, &table, k.order, m.nchannels, 0, true, 2, &conv_via, &null_via, &pc, &pn);
    const ExactChain chain(k.j, k.order);
    const std::pair<double, double> all = chain.absorb_lapack("");
    const std::string what = "order " + std::to_string(k.order) + ", " + std::to_string(m.nchannels) + " channels";
    EXPECT_NEAR(pc, all.first, 1e-12) << what;
    EXPECT_NEAR(pn, all.second, 1e-12) << what;
    for (uli c = 0; c < m.nchannels; ++c) {
      const std::pair<double, double> without = chain.absorb_lapack(m.vchannels[c]);
      EXPECT_NEAR(conv_via[c], all.first - without.first, 1e-12) << what << ", " << m.vchannels[c];
      EXPECT_NEAR(null_via[c], all.second - without.second, 1e-12) << what << ", " << m.vchannels[c];
    }
  }
}

// What the simulation estimates is what the exact method computes: removal
// effects within 4 binomial standard errors of a share of s_nconv walks.
TEST(Markov, SimulationAgreesWithTheExactCounts) {
  struct Case { Journeys j; uli order, max_step; };
  const std::vector<Case> cases = {{random_journeys(31, 30), 1, 0}, {random_journeys(32, 30), 2, 0},
                                   {random_journeys(33, 30), 3, 0}, {self_loops(), 1, 5}};
  for (const Case& k : cases) {
    MarkovSettings sim = settings();
    sim.order = k.order;
    sim.max_step = k.max_step;
    sim.nsim_start = 200000;
    sim.conv_par = 0.01;
    MarkovSettings ex = sim;
    ex.method.exact = 1;
    const MarkovResult rs = markov(k.j, sim), re = markov(k.j, ex);
    const std::vector<double> vs = unmasked(rs), ve = unmasked(re);
    ASSERT_EQ(vs.size(), ve.size());
    for (size_t c = 0; c + 1 < ve.size(); ++c)
      EXPECT_NEAR(vs[c], ve[c], 4 * std::sqrt(std::max(ve[c] * (1 - ve[c]), 1e-12) / rs.s_nconv))
          << "order " << k.order << " " << re.vchannels[c];
    EXPECT_NEAR(rs.s_nconv / (rs.s_nconv + rs.s_nnull), re.s_nconv / (re.s_nconv + re.s_nnull), 0.01);
  }
}

// The next state is the successor whose slice of the cumulative counts
// holds floor(total * uni + 1) (ties to the earlier one), whatever
// shortcut the store or the walks' layout of it takes: checked against
// that rule scanned by hand on rows short and long, with zero and huge
// counts, at uniforms on and beside every boundary of a count and of a
// power-of-two bucket.
TEST(Markov, SamplingFollowsTheCumulativeCounts) {
  std::mt19937_64 rng(5);
  std::vector<std::vector<uli>> rows = {{7}, {3, 1}, {0, 5, 0, 2}, {1, 1, 1, 1, 1, 1, 1, 1, 1},
                                        {1, 1000000, 1, 1}, {uli{1} << 61, 3, uli{1} << 60}};
  for (int n : {17, 40, 300}) {
    std::vector<uli> r;
    for (int k = 0; k < n; ++k) r.push_back(rng() % 5 == 0 ? 0 : 1 + rng() % (k % 3 ? 10 : 100000));
    rows.push_back(r);
  }
  // All rows in one store: row i is state i, successor k of it state 1000 + k.
  Fx S(1000 + 300);
  for (size_t i = 0; i < rows.size(); ++i)
    for (size_t k = 0; k < rows[i].size(); ++k) S.add(i, 1000 + k, rows[i][k]);
  S.set_nchannels(rows.size());
  S.cum();
  const Fx::Walker walker = S.walker();   // the walks' layout of the same draws
  for (size_t i = 0; i < rows.size(); ++i) {
    uli tot = 0;
    for (uli c : rows[i]) tot += c;
    const auto by_hand = [&](double u) {
      uli s0 = static_cast<uli>(static_cast<double>(tot) * u + 1.0), run = 0;
      s0 = std::min(s0, tot);
      for (size_t k = 0; k < rows[i].size(); ++k)
        if ((run += rows[i][k]) >= s0) return static_cast<uli>(1000 + k);
      return uli{0};
    };
    std::vector<double> us = {0.0, std::nextafter(1.0, 0.0)};
    for (int k = 0; k < 5000; ++k) us.push_back(std::uniform_real_distribution<double>(0, 1)(rng));
    for (uli run = 0, k = 0; k < rows[i].size(); ++k)   // every count boundary
      for (double u : {static_cast<double>(run += rows[i][k]) / static_cast<double>(tot)})
        for (double v : {std::nextafter(u, 0.0), u, std::nextafter(u, 1.0)}) us.push_back(v);
    for (int bits = 1; bits <= 12; ++bits)   // every bucket boundary
      for (int b = 1; b < (1 << bits); ++b) {
        const double u = std::ldexp(b, -bits);
        us.insert(us.end(), {std::nextafter(u, 0.0), u, std::nextafter(u, 1.0)});
      }
    for (double u : us)
      if (u >= 0 && u < 1) {
        ASSERT_EQ(S.sim(i, u), by_hand(u)) << "row " << i << ", uniform " << u;
        ASSERT_EQ(walker.sim(i, u), by_hand(u)) << "walker, row " << i << ", uniform " << u;
        const Fx::Walker::Ahead a = walker.advance(walker.ahead(walker.at(i), u), 0.5);
        ASSERT_EQ(Fx::Walker::state(a.at), by_hand(u)) << "walk, row " << i << ", uniform " << u;
      }
  }
  // Walks through the same rows, successor k of row i being row i + 1 + k:
  // a walk one step ahead lands where drawing step by step does, whatever
  // kind of row it comes from and goes to (huge totals drawn by the store,
  // buckets scanned, a row without successors).
  const uli n = rows.size() + 1;
  Fx W(n);
  for (size_t i = 0; i < rows.size(); ++i)
    for (size_t k = 0; k < rows[i].size(); ++k) W.add(i, (i + 1 + k) % n, rows[i][k]);
  W.set_nchannels(n);
  W.cum();
  const Fx::Walker ww = W.walker();
  for (uli start = 0; start < n; ++start) {
    std::vector<double> u(20000);
    for (double& x : u) x = std::uniform_real_distribution<double>(0, 1)(rng);
    uli c = start;
    Fx::Walker::Ahead a = ww.ahead(ww.at(start), u[0]);
    for (size_t t = 0; t + 1 < u.size(); ++t) {
      c = W.sim(c, u[t]);
      a = ww.advance(a, u[t + 1]);
      ASSERT_EQ(Fx::Walker::state(a.at), c) << "walk from " << start << ", step " << t;
    }
  }
}

// The walks draw std::mt19937's numbers, and their uniforms as
// std::uniform_real_distribution<double> would from it, bit for bit;
// reseeding starts the numbers over.
TEST(Markov, WalkEngineIsTheStandardTwister) {
  for (unsigned seed : {0u, 1u, 5489u, 4294967295u}) {
    WalkEngine a(seed), c(7);
    std::mt19937 b(seed), d(seed);
    for (int k = 0; k < 5000; ++k) ASSERT_EQ(a(), b()) << seed << " " << k;
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    for (int k = 0; k < 300000; ++k) ASSERT_EQ(canonical_uniform(&a), uniform(b)) << seed << " " << k;
    // Made a block at a time, from any position (a pair may straddle a
    // refresh): the same numbers.
    for (int skip : {0, 1, 622, 623, 624, 1001}) {
      WalkEngine e(seed);
      std::mt19937 f(seed);
      for (int k = 0; k < skip; ++k) ASSERT_EQ(e(), f());
      std::vector<double> got(2000);
      e.uniforms(got.data(), 7);
      e.uniforms(got.data() + 7, 1993);
      for (size_t k = 0; k < got.size(); ++k) ASSERT_EQ(got[k], uniform(f)) << skip << " " << k;
    }
    c.seed(seed);
    for (int k = 0; k < 1000; ++k) ASSERT_EQ(c(), d()) << seed << " " << k;
  }
  EXPECT_EQ([] { WalkEngine e; for (int k = 1; k < 10000; ++k) e(); return e(); }(), 4123659995u);
}

// A seeded run's batches count what walking every batch anew counts (each
// batch reseeds the workers' engines, so batches replay one stream):
// checked against the workers called batch by batch, over several
// batches, threads and folds, with walks cut by the step limit.
TEST(Markov, SeededBatchesCountWhatWalkingEachBatchCounts) {
  struct Case { Journeys j; uli order, max_step, ncore, nfold; };
  const std::vector<Case> cases = {{random_journeys(61, 30), 2, 0, 1, 10},
                                   {random_journeys(62, 30, 6), 1, 0, 2, 4},
                                   {self_loops(), 1, 5, 3, 3}};
  for (const Case& k : cases) {
    SimulationMatrix m;
    build_simulation_matrix(k.j.source(), ">", k.order, 0, &m);
    const std::vector<sli> table = state_channel_table(&m.mp_channels_sim_inv, m.nchannels_sim, k.order);
    SimulationSettings s;
    s.nsim_start = 3000, s.ncore = k.ncore, s.nfold = k.nfold, s.seed = 17, s.conv_par = 0.02;
    s.max_step = k.max_step;
    const SimulationOutcome o = markov_simulate(m.S, table, k.order, m.nchannels, m.max_npassi, true, m.svc, s);
    ASSERT_GE(o.batches, 3u);
    const uli limit = k.max_step > 0 ? k.max_step : m.max_npassi + 1;
    SimAccumulators acc;
    acc.reset(k.ncore, k.nfold, m.nchannels);
    const std::atomic<bool> go{false};
    for (uli b = 0, n = s.nsim_start, total = n; b < o.batches; ++b) {
      for (uli w = 0; w < k.ncore; ++w)
        W_markov_model(s.seed + w, w, k.nfold, n / (k.nfold * k.ncore), &table, limit, 1, 2, k.order,
                       m.nchannels, &m.S, &acc, &go);
      const uli next = static_cast<uli>(std::floor(static_cast<double>(total) * s.rate_step_sim));
      n = next - n, total = next;
    }
    std::vector<double> Tc(m.nchannels, 0), Nc(m.nchannels, 0);
    uli conv = 0, walks = 0;
    for (uli w = 0; w < k.ncore; ++w) {
      for (uli x = 0; x < k.nfold * m.nchannels; ++x)
        Tc[x % m.nchannels] += acc.T0[w][x], Nc[x % m.nchannels] += acc.N0[w][x];
      conv += acc.nconv[w], walks += acc.v_path[w];
    }
    EXPECT_EQ(o.Tc, Tc) << k.order << " " << k.ncore;
    EXPECT_EQ(o.Nc, Nc) << k.order << " " << k.ncore;
    EXPECT_EQ(o.s_nconv, static_cast<double>(conv));
    EXPECT_EQ(o.walks, walks);
  }
}

// Worker w draws from std::mt19937 seeded with seed + w. In the chain of
// journey "a" (one conversion, one null) a walk draws twice: into a, then
// conversion when the second uniform is below 1/2.
TEST(Markov, WorkerWIsSeededWithSeedPlusW) {
  const Journeys j{{"a"}, {1}, {1}, {}};
  for (uli ncore : {1, 2, 3}) {
    MarkovSettings s = settings();
    s.ncore = ncore;
    s.nfold = 1;   // one fold: the first batch converges
    s.nsim_start = 1000 * ncore;
    s.seed = 41;
    double want = 0;
    for (uli w = 0; w < ncore; ++w) {
      std::mt19937 engine(static_cast<std::mt19937::result_type>(s.seed + w));
      std::uniform_real_distribution<double> uniform(0.0, 1.0);
      for (int walk = 0; walk < 1000; ++walk) {
        uniform(engine);
        want += uniform(engine) < 0.5;
      }
    }
    const MarkovResult r = markov(j, s);
    EXPECT_EQ(r.s_nconv, want) << "ncore " << ncore;
    EXPECT_EQ(r.s_nconv + r.s_nnull, 1000.0 * ncore);
  }
  MarkovSettings s = settings();   // (a rerun with the same seed: EntryPointIsMarkovRun)
  s.seed = gb::limsup;             // a fresh seed: still a valid run
  EXPECT_EQ(unmasked(markov({{"b > a", "c > a", "b > c", "a"}, {2, 1, 0, 3}, {1, 1, 2, 0}, {}}, s))[1], 1.0);
}

// Index kinds of the exact counts Tc = conv_via and Nc = null_via (expected
// counts out of nsim_start walks). Channel e converts and never ends in
// null: its odds are unbounded and take the largest finite ones.
TEST(Markov, IndexKinds) {
  Journeys j = random_journeys(3, 30);
  j.vy.push_back("e"), j.vc.push_back(5), j.vn.push_back(0), j.vv.push_back(0);
  const ExactChain chain(j, 1);
  const std::function<double(double, double)> kind[] = {
      nullptr, [](double c, double n) { return c / (c + n); }, [](double c, double n) { return c / n; },
      [](double c, double n) { return (c - n + 1) / 2; }, [](double c, double n) { return 1 - std::exp(-c / n); }};
  MarkovSettings s = settings();
  s.method.exact = s.method.unlimited = 1;
  s.nsim_start = 1000;
  for (int type = 1; type <= 4; ++type) {
    s.type = type;
    const MarkovResult r = markov(j, s);
    const std::vector<double> v = unmasked(r);
    double largest = -INFINITY;
    size_t e = 0;
    for (size_t c = 0; c < r.vchannels.size(); ++c) {
      const double want = kind[type](1000 * chain.via(1, r.vchannels[c]), 1000 * chain.via(2, r.vchannels[c]));
      if (r.vchannels[c] == "e") e = c;
      if (std::isinf(want)) continue;
      EXPECT_NEAR(v[c], want, 1e-9 * std::max(1.0, std::fabs(want))) << type << " " << r.vchannels[c];
      largest = std::max(largest, want);
    }
    if (type == 2) {
      EXPECT_EQ(r.vindex_raw[e], -INFINITY);
      EXPECT_NEAR(v[e], largest, 1e-9 * largest);
    }
    const double want = kind[type](1000 * chain.absorb(1, ""), 1000 * chain.absorb(2, ""));
    EXPECT_NEAR(v.back(), want, 1e-9 * std::max(1.0, std::fabs(want))) << type;
    EXPECT_TRUE(r.vpath_id.empty());   // rows only when asked for
  }
}

// An index kind weights every touch point by path attribution; without
// nulls the removal-effect totals become weights, calibrated once against
// what path attribution gives each channel with them (a prior of 10).
TEST(Markov, TouchPointRowsByIndexKind) {
  const Journeys j = random_journeys(9, 30);
  MarkovSettings s = settings(1);
  s.flg_out_attr = 1;
  MarkovResult r = markov(j, s);
  std::vector<double> v = unmasked(r);
  std::map<std::string, double> w;
  for (size_t c = 0; c < r.vchannels.size(); ++c) w[r.vchannels[c]] = v[c];
  TouchRows e = attribute_by_hand(j, w, v.back(), false);
  expect_close(r.vpath_attr_convs, e.convs, 1e-9);
  for (size_t c = 0; c < r.vchannels.size(); ++c)
    EXPECT_NEAR(r.vattr_convs_loc[c], e.total[r.vchannels[c]], 1e-9);

  Journeys no_nulls = random_journeys(4, 30);
  no_nulls.vn.clear();
  s.type = 3;
  r = markov(no_nulls, s);
  v = unmasked(r);
  ASSERT_EQ(r.vattr_convs_glob.size(), r.vchannels.size());
  for (size_t c = 0; c < r.vchannels.size(); ++c) w[r.vchannels[c]] = r.vattr_convs_glob[c];
  e = attribute_by_hand(no_nulls, w, 1.0, false);
  for (size_t c = 0; c < r.vchannels.size(); ++c) {
    w[r.vchannels[c]] = (r.vattr_convs_glob[c] + 10) / (e.total[r.vchannels[c]] + 10);
    EXPECT_NEAR(v[c], w[r.vchannels[c]], 1e-9);
  }
  EXPECT_NEAR(v.back(), 1.0, 1e-9);
  expect_close(r.vpath_attr_convs, attribute_by_hand(no_nulls, w, 1.0, false).convs, 1e-9);
}

TEST(Markov, TransitionTableAloneOrAlongside) {
  const Journeys j{{"a > b", "b"}, {1, 1}, {1, 0}, {}};
  MarkovSettings s = settings();
  s.flg_out_tran_mtx = 2;
  s.ncore = 0;   // no simulation: its settings do not matter
  MarkovResult r = markov(j, s);
  EXPECT_EQ(r.vchannels, (std::vector<std::string>{"a", "b"}));
  EXPECT_TRUE(r.vindex.empty() && r.vattr_convs_glob.empty());
  EXPECT_EQ(r.vchannel_from_mtx, (std::vector<std::string>{"(start)", "(start)", "0", "1", "1"}));
  EXPECT_EQ(r.vchannel_to_mtx, (std::vector<std::string>{"0", "1", "1", "(conversion)", "(null)"}));
  EXPECT_EQ(r.vtran_prob_mtx, (std::vector<double>{2.0 / 3, 1.0 / 3, 1.0, 2.0 / 3, 1.0 / 3}));
  // States of order 3 are windows of channel indices, in order of first sight.
  s.order = 3;
  r = markov({{"a > b", "b > a > b > a"}, {1, 1}, {0, 0}, {}}, s);
  EXPECT_EQ(r.vchannel_from_mtx, (std::vector<std::string>{"(start)", "(start)", "0 1", "1 0 1", "0 1 0"}));
  // Order 100 over 1,000 channels: the store grows with the states seen.
  std::vector<std::string> vy(20);
  for (int i = 0; i < 1000; ++i) vy[i / 50] += "c" + std::to_string(i) + ">";
  s.order = 100;
  r = markov({vy, std::vector<uli>(20, 1), {}, {}}, s);
  EXPECT_EQ(r.vtran_prob_mtx.size(), 40u);   // one state per journey
}

// The journeys read from a file give the run from vectors, and the channel
// totals go to the file asked for.
TEST(Markov, FileRouteMatchesVectors) {
  const Journeys j = random_journeys(12, 40);
  TempFile in(j.csv()), out;
  MarkovSettings s = settings(0);
  s.order = 2;
  s.nfold = 5;
  s.seed = 3;
  s.conv_par = 0.02;
  s.flg_out_tran_mtx = 1;
  const MarkovResult want = markov(j, s);
  ASSERT_FALSE(want.vtran_prob_mtx.empty() || want.vattr_convs_glob.empty());   // the table alongside
  s.file_output = out.name;
  const MarkovResult r =
      markov_run(file_source(in.name, "path", "conv", "value", "nulls", ";"), ">", s);
  EXPECT_EQ(r.vindex, want.vindex);
  EXPECT_EQ(r.nsim_start, want.nsim_start);
  EXPECT_NE(want.nsim_start, settings(0).nsim_start);
  EXPECT_EQ(r.vattr_convs_glob, want.vattr_convs_glob);
  EXPECT_EQ(r.vtran_prob_mtx, want.vtran_prob_mtx);
  EXPECT_NEAR(total_of(r.vattr_value_glob), total_of(j.vv), 1e-9 * 4000);
  const std::vector<std::string> lines = split_lines(read_file(out.name));
  ASSERT_EQ(lines.size(), 1 + r.vchannels.size());
  EXPECT_EQ(lines[0], "channel;total_conversions;total_conversion_value");
  EXPECT_EQ(lines[1].substr(0, 2), r.vchannels[0] + ";");
}

// The chain of a journey set is the chain its rows give one at a time
// through the per-row builder, which encodes every row afresh with ordered
// maps: repeated paths, the same channels spelt with other blanks, rows
// without counts, empty paths, and enough distinct and long paths to fill
// several blocks of the store of distinct paths.
TEST(Markov, ChainOfDistinctPathsIsTheRowByRowChain) {
  std::mt19937 rng(11);
  Journeys j;
  auto row = [&](std::string path, uli conv, uli nulls) {
    j.vy.push_back(std::move(path));
    j.vc.push_back(conv);
    j.vn.push_back(nulls);
  };
  const char* blanks[] = {">", " > ", ">>", "> "};
  for (int r = 0; r < 30000; ++r) {
    std::string p;
    for (int k = 0, len = static_cast<int>(rng() % 9); k < len; ++k)
      p += (k ? blanks[rng() % (r % 7 == 0 ? 4 : 1)] : "") + std::string(1, "abcdefgh"[rng() % 8]);
    row(p, rng() % 3, rng() % 3);
  }
  std::string longest;
  for (int k = 0; k < 90000; ++k) longest += std::string(k ? ">" : "") + "abcdefgh"[rng() % 8];
  row(longest, 1, 0);
  row("", 2, 1);
  row(longest, 0, 3);
  for (uli order : {1, 2, 3, 5}) {
    SCOPED_TRACE(order);
    SimulationMatrix m;
    build_simulation_matrix(j.source(), ">", order, 0, &m);
    SimulationMatrix w;
    init_state_dictionary(&w.mp_channels_sim, &w.vchannels_sim, &w.mp_channels_sim_inv,
                          &w.nchannels_sim);
    std::string sep = ">";
    for (size_t r = 0; r < j.vy.size(); ++r) {
      std::string path = j.vy[r];
      uli conv = j.vc[r], nulls = j.vn[r];
      build_simulation_matrix_i_cpp(&path, &conv, &nulls, &sep, &order, &w.S, &w.nchannels,
                                    &w.mp_channels, &w.vchannels, &w.max_npassi,
                                    &w.mp_channels_sim, &w.mp_channels_sim_inv, &w.vchannels_sim,
                                    &w.nchannels_sim);
    }
    w.S.cum();
    EXPECT_EQ(m.vchannels, w.vchannels);
    EXPECT_EQ(m.mp_channels, w.mp_channels);
    EXPECT_EQ(m.vchannels_sim, w.vchannels_sim);
    EXPECT_EQ(m.mp_channels_sim, w.mp_channels_sim);
    EXPECT_EQ(m.mp_channels_sim_inv, w.mp_channels_sim_inv);
    EXPECT_EQ(m.max_npassi, w.max_npassi);
    ASSERT_EQ(m.S.nchannels, w.S.nchannels);
    EXPECT_EQ(m.S.non_zeros, w.S.non_zeros);
    for (uli i = 0; i < w.S.nchannels; ++i) {
      ASSERT_EQ(m.S.lrS0[i], w.S.lrS0[i]) << "state " << i;
      for (uli k = 0; k < w.S.lrS0[i]; ++k) {
        EXPECT_EQ(m.S.S0(i, k), w.S.S0(i, k));
        EXPECT_EQ(m.S.S1(i, k), w.S.S1(i, k));
      }
    }
  }
  // No journey at all: the three special states and no transition.
  SimulationMatrix none;
  build_simulation_matrix(Journeys().source(), ">", 1, 0, &none);
  EXPECT_EQ(none.vchannels_sim, (std::vector<std::string>{"(start)", "(conversion)", "(null)"}));
  EXPECT_EQ(none.S.non_zeros, 0u);
  EXPECT_EQ(none.S.sim(0, 0.5), 0u);
}

// The printed total starts at the default size and grows by
// rate_step_sim; each later batch simulates the new total less the
// previous batch's size (not less the previous total), so more walks are
// made than the last total printed says. The step limit defaults to the
// longest journey in steps (start -> a -> b -> ending) plus one.
TEST(Markov, ProgressLinesAndBatchesAddUpToThePrintedTotal) {
  MarkovSettings s = settings();
  s.verbose = 1;
  s.nsim_start = 0;   // the default size
  s.nfold = 2;
  s.rate_step_sim = 2;
  s.conv_par = 0.0005;
  Console con;
  const MarkovResult r = markov({{"a > b", "b", "a"}, {3, 1, 2}, {1, 2, 2}, {}}, s);
  const std::vector<std::string> lines = con.lines();
  EXPECT_EQ(lines[0], "**markov model estimation**");
  EXPECT_EQ(lines[1], "Building transition matrix, number of paths elaborated: 3");
  EXPECT_EQ(lines.back(), "Percentage of simulated paths that successfully end before maximum "
                          "number of steps (4) is reached: 100.00%");
  std::vector<double> totals;
  for (const std::string& l : lines)
    if (l.rfind("Number of simulations: ", 0) == 0) totals.push_back(std::stod(l.substr(23)));
  ASSERT_GE(totals.size(), 3u);
  EXPECT_EQ(totals[0], 100000);
  double batch = 100000, walks = 100000;
  for (size_t b = 1; b < totals.size(); ++b) {
    EXPECT_EQ(totals[b], 2 * totals[b - 1]);
    walks += batch = totals[b] - batch;
  }
  EXPECT_EQ(r.s_nconv + r.s_nnull, walks);
  EXPECT_EQ(r.nsim_start, 2 * totals.back() - batch);   // the size the next batch would have
}

void stop_at_once() { throw std::runtime_error("interrupted"); }

TEST(Markov, InterruptStopsAndJoinsTheWorkers) {
  MarkovSettings s = settings();
  s.nsim_start = 4000000000ul;   // far more than the test would wait for
  set_interrupt_hook(&stop_at_once);
  EXPECT_EQ(error_of([&] { markov(random_journeys(2, 20), s); }), "interrupted");
  set_interrupt_hook(nullptr);
}

}  // namespace
