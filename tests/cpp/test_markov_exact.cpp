#include <gtest/gtest.h>

#include "markov/markov.h"
#include "markov_helpers.h"

namespace {

using namespace markov_test;

struct Solved {
  std::vector<std::string> vchannels;
  std::vector<double> conv_via, null_via;
  double pc = 0, pn = 0;
};

Solved solve(Journeys j, uli order, bool unlimited, uli draws, uli threads) {
  SimulationMatrix m;
  build_simulation_matrix(vector_source(&j.vy, &j.vc, &j.vv, &j.vn), ">", order, 0, &m);
  Solved r;
  r.vchannels = m.vchannels;
  const std::vector<sli> table = state_channel_table(&m.mp_channels_sim_inv, m.nchannels_sim, order);
  markov_exact(&m.S, &table, order, m.nchannels, draws, unlimited, threads, &r.conv_via,
               &r.null_via, &r.pc, &r.pn);
  return r;
}

// Without a step limit the solve is the absorbing-chain limit, which the
// dense elimination of the test helper computes independently.
TEST(MarkovExactSolve, UnlimitedHorizonMatchesDenseElimination) {
  for (uli order : {1ul, 2ul, 3ul}) {
    const Journeys j = loop_journeys(20 + order, 40);
    const Solved s = solve(j, order, true, 0, 2);
    const ExactChain chain(j, order);
    EXPECT_NEAR(s.pc, chain.p_conv(), 1e-9) << "order " << order;
    EXPECT_NEAR(s.pn, chain.absorb({2}, ""), 1e-9);
    for (size_t c = 0; c < s.vchannels.size(); ++c) {
      EXPECT_NEAR(s.conv_via[c], chain.p_conv_via(s.vchannels[c]), 1e-9) << s.vchannels[c];
      EXPECT_NEAR(s.null_via[c], chain.p_null_via(s.vchannels[c]), 1e-9) << s.vchannels[c];
    }
    // Threads take channels in any order; each result is computed alone.
    const Solved one = solve(j, order, true, 0, 1), three = solve(j, order, false, 7, 3);
    EXPECT_EQ(one.conv_via, s.conv_via);
    EXPECT_EQ(three.conv_via, solve(j, order, false, 7, 1).conv_via);
  }
}

// Journeys that loop on one channel many times: with a step limit of 5
// many walks are still looping when it is reached.
Journeys self_loop_journeys() {
  Journeys j;
  j.vy = {"a > a > a > a > a > a > a > a > b", "b > a", "c > a > a", "c", "a > c > b"};
  j.vc = {3, 1, 0, 1, 2};
  j.vn = {1, 2, 3, 2, 1};
  return j;
}

// Exact removal effects with the step limit are what the simulation
// estimates: every channel's simulated value within 4 binomial standard
// errors; the model's index kind 1 uses the exact counts too.
TEST(MarkovExactSolve, StepLimitAgreesWithSimulation) {
  struct Case { Journeys j; uli order, max_step; };
  std::vector<Case> cases = {{loop_journeys(31, 30), 1, 0}, {loop_journeys(32, 30), 2, 0},
                             {loop_journeys(33, 30), 3, 0}, {self_loop_journeys(), 1, 5}};
  for (const Case& k : cases) {
    Settings sim;
    sim.order = k.order;
    sim.max_step = k.max_step;
    sim.nsim_start = 200000;
    sim.conv_par = 0.01;
    Settings ex = sim;
    ex.method.exact = 1;
    const Result rs = run(k.j, sim), re = run(k.j, ex);
    const std::vector<double> vs = rs.unmasked(), ve = re.unmasked();
    ASSERT_EQ(vs.size(), ve.size());
    for (size_t c = 0; c + 1 < ve.size(); ++c) {
      const double p = ve[c];
      EXPECT_NEAR(vs[c], p, 4 * std::sqrt(std::max(p * (1 - p), 1e-12) / rs.s_nconv))
          << "order " << k.order << " channel " << re.vchannels[c];
    }
    EXPECT_NEAR(rs.s_nconv / (rs.s_nconv + rs.s_nnull), re.s_nconv / (re.s_nconv + re.s_nnull),
                0.01);
  }
  // The step limit visibly changes the self-loop chain's result.
  const Journeys j = self_loop_journeys();
  const Solved cut = solve(j, 1, false, 6, 1), lim = solve(j, 1, true, 0, 1);
  EXPECT_GT(std::fabs(cut.conv_via[0] / cut.pc - lim.conv_via[0] / lim.pc), 0.02);
  EXPECT_LT(cut.pc + cut.pn, 0.95);
  EXPECT_NEAR(lim.pc + lim.pn, 1.0, 1e-12);

  const Journeys k = loop_journeys(3, 30);
  const ExactChain chain(k, 1);
  Settings s;
  s.method.exact = s.method.unlimited = 1;
  s.type = 1;
  s.flg_out_attr = 0;
  const Result r = run(k, s);
  const std::vector<double> v = r.unmasked();
  for (size_t c = 0; c < r.vchannels.size(); ++c) {
    const double pvc = chain.p_conv_via(r.vchannels[c]), pvn = chain.p_null_via(r.vchannels[c]);
    EXPECT_NEAR(v[c], pvc / (pvc + pvn), 1e-9) << r.vchannels[c];
  }
}

// The driver encodes each distinct path text once; building journey by
// journey (no cache) must give the same dictionaries, counts and
// successor order, including rows that repeat a path with weight 0 first.
TEST(MarkovExactSolve, EncodingCacheChangesNothing) {
  Journeys j = loop_journeys(8, 200);
  j.vy.insert(j.vy.begin(), {"d > a", "d > a", "a >b", "a > b"});
  j.vc.insert(j.vc.begin(), {0, 2, 1, 0});
  j.vn.insert(j.vn.begin(), {0, 0, 0, 3});
  j.vv.clear();
  for (uli order : {1ul, 3ul}) {
    SimulationMatrix m;
    build_simulation_matrix(vector_source(&j.vy, &j.vc, &j.vv, &j.vn), ">", order, 0, &m);
    const Fx& S = m.S;
    const std::vector<std::string>& vch = m.vchannels;
    const std::vector<std::string>& vs = m.vchannels_sim;
    Fx T(0);
    uli nch2 = 0, mx2 = 0, ns2 = 0;
    ChannelMap mp2, mps2;
    StateInverse inv2;
    std::vector<std::string> vch2, vs2, f1, t1, f2, t2;
    std::vector<double> p1, p2;
    std::string sep = ">";
    init_state_dictionary(&mps2, &vs2, &inv2, &ns2);
    for (size_t r = 0; r < j.vy.size(); ++r) {
      std::string y = j.vy[r];
      build_simulation_matrix_i_cpp(&y, &j.vc[r], &j.vn[r], &sep, &order, &T, &nch2, &mp2, &vch2,
                                    &mx2, &mps2, &inv2, &vs2, &ns2);
    }
    T.cum();
    S.tran_matx(&vs, &f1, &t1, &p1);
    T.tran_matx(&vs2, &f2, &t2, &p2);
    EXPECT_EQ(vch, vch2);
    EXPECT_EQ(vs, vs2);
    EXPECT_EQ(m.max_npassi, mx2);
    EXPECT_EQ(f1, f2);
    EXPECT_EQ(t1, t2);
    EXPECT_EQ(p1, p2);
  }
}

}  // namespace
