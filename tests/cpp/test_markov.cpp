#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "markov/markov.h"

namespace {

// ---- transition store ------------------------------------------------------

Fx example_store() {
  Fx S(0);
  S.init(10);
  S.add(3, 1, 2);
  S.add(3, 4, 1);
  S.add(3, 1, 5);
  S.set_nchannels(5);
  S.cum();
  return S;
}

TEST(Fx, SuccessorsAndCumulativeCounts) {
  Fx S = example_store();
  EXPECT_EQ(S.lrS0[3], 2u);
  EXPECT_EQ(S.S0(3, 0), 1u);
  EXPECT_EQ(S.S0(3, 1), 4u);
  EXPECT_EQ(S.S1(3, 0), 7u);
  EXPECT_EQ(S.S1(3, 1), 8u);
  EXPECT_EQ(S.lrS[3], 8u);
  EXPECT_EQ(S.S(3, 1), 7u);
  EXPECT_EQ(S.S(3, 2), 0u);
  EXPECT_EQ(S.non_zeros, 2u);
}

TEST(Fx, SimSwitchesAtTheCumulativeBoundary) {
  Fx S = example_store();
  EXPECT_EQ(S.sim(3, 0.0), 1u);
  EXPECT_EQ(S.sim(3, std::nextafter(0.875, 0.0)), 1u);
  EXPECT_EQ(S.sim(3, 0.875), 4u);
  EXPECT_EQ(S.sim(3, std::nextafter(1.0, 0.0)), 4u);   // 8 * uni + 1 rounds to 9
  Fx big(5);
  big.add(3, 1, 1);
  big.add(3, 4, 999999999);
  big.set_nchannels(5);
  big.cum();
  EXPECT_EQ(big.sim(3, std::nextafter(1.0, 0.0)), 4u);
  EXPECT_EQ(S.sim(2, 0.5), 0u);   // no successors
  EXPECT_EQ(S.sim(0, 0.5), 0u);
  EXPECT_THROW(S.sim(5, 0.5), std::out_of_range);   // beyond the states in use
}

TEST(Fx, TransitionTableAndConversionProbability) {
  Fx S = example_store();
  std::vector<std::string> names{"(start)", "(conversion)", "(null)", "0", "1"}, from, to;
  std::vector<double> prob;
  S.tran_matx(&names, &from, &to, &prob);
  EXPECT_EQ(from, (std::vector<std::string>{"0", "0"}));
  EXPECT_EQ(to, (std::vector<std::string>{"(conversion)", "1"}));
  EXPECT_EQ(prob, (std::vector<double>{0.875, 0.125}));
  EXPECT_EQ(S.pconv(3, 1, 2), 1.0);
  EXPECT_EQ(S.pconv(4, 1, 2), 0.0);   // no transition into either absorbing state
}

TEST(Fx, CapacityOnlyGrowsAndKeepsCounts) {
  Fx S(4);
  S.add(3, 1, 2);
  EXPECT_THROW(S.add(4, 1, 1), std::out_of_range);
  EXPECT_THROW(S.add(1, 4, 1), std::out_of_range);
  S.init(2);
  EXPECT_EQ(S.capacity(), 4u);
  S.resize(1000);
  EXPECT_EQ(S.capacity(), 1000u);
  S.add(999, 3, 1);
  S.add(3, 1, 1);
  EXPECT_EQ(S.S(3, 1), 3u);
  EXPECT_EQ(S.S(999, 3), 1u);
  Fx copy = S;          // a value type: the copy is independent
  S.add(3, 1, 10);
  EXPECT_EQ(copy.S(3, 1), 3u);
}

// Every draw on a grid of uni values, one per unit of the row total, must
// return each successor exactly as often as its count, and in the order in
// which the successors first appeared.
TEST(Fx, SimMatchesCountsOnRandomStores) {
  std::mt19937 rng(17);
  for (int rep = 0; rep < 20; ++rep) {
    const uli n = rep < 10 ? 3 + rng() % 40 : 300;
    Fx S(n);
    std::map<uli, std::vector<std::pair<uli, uli>>> rows;   // state -> (succ, count) by first add
    // Later stores add a hub: many successors of state 0, sampled by bisection.
    const uli nhub = rep < 10 ? 0 : 200 + rng() % 300;
    for (uli a = 0; a < 300 + nhub; ++a) {
      uli i = a < 300 ? rng() % n : 0, j = 1 + rng() % (n - 1), v = 1 + rng() % 5;
      S.add(i, j, v);
      auto& row = rows[i];
      bool found = false;
      for (auto& p : row)
        if (p.first == j) { p.second += v; found = true; }
      if (!found) row.push_back({j, v});
    }
    S.set_nchannels(n);
    S.cum();
    for (auto& [i, row] : rows) {
      uli tot = 0;
      for (auto& p : row) tot += p.second;
      ASSERT_EQ(S.lrS[i], tot);
      std::vector<uli> seq;
      for (uli m = 0; m < tot; ++m) seq.push_back(S.sim(i, (m + 0.5) / static_cast<double>(tot)));
      std::vector<uli> want;
      for (auto& p : row) want.insert(want.end(), p.second, p.first);
      ASSERT_EQ(seq, want) << "state " << i;
    }
  }
}

// ---- state encoding --------------------------------------------------------

struct Dict {
  ChannelMap ch, sim;
  std::vector<std::string> vch, vsim;
  StateInverse inv;
  uli nch = 0, nsim = 0;
  Dict() { init_state_dictionary(&sim, &vsim, &inv, &nsim); }
  std::vector<uli> encode(const std::string& path, uli order) {
    std::vector<uli> chans, states;
    encode_journey(path, '>', order, &ch, &vch, &nch, &sim, &inv, &vsim, &nsim, &chans, &states);
    return states;
  }
};

TEST(States, SpecialStatesComeFirst) {
  Dict d;
  EXPECT_EQ(d.vsim, (std::vector<std::string>{"(start)", "(conversion)", "(null)"}));
  EXPECT_EQ(d.nsim, 3u);
  EXPECT_EQ(d.sim["(null)"], 2u);
  EXPECT_TRUE(d.inv.empty());
}

TEST(States, OrderOneStatesAreChannelsPlusThree) {
  Dict d;
  EXPECT_EQ(d.encode("a > b > c", 1), (std::vector<uli>{3, 4, 5}));
  EXPECT_EQ(d.encode("c > a > a", 1), (std::vector<uli>{5, 3, 3}));   // self-transition
  EXPECT_EQ(d.vsim[5], "2");
  EXPECT_EQ(d.vch, (std::vector<std::string>{"a", "b", "c"}));
}

TEST(States, WindowsOfHigherOrder) {
  Dict d;
  EXPECT_EQ(d.encode("a > b > c", 2), (std::vector<uli>{3, 4}));
  EXPECT_EQ(d.vsim[3], "0 1");
  EXPECT_EQ(d.vsim[4], "1 2");
  Dict e;
  EXPECT_EQ(e.encode("a > b", 3), (std::vector<uli>{3}));
  EXPECT_EQ(e.inv[3], (std::vector<sli>{0, 1, -1}));
  EXPECT_EQ(e.encode("b > a > b > a", 3), (std::vector<uli>{4, 5}));
  EXPECT_EQ(e.vsim[4], "1 0 1");
  EXPECT_EQ(e.vsim[5], "0 1 0");
}

TEST(States, BlankAndEmptyPieces) {
  Dict d;
  EXPECT_TRUE(d.encode("", 1).empty());
  EXPECT_TRUE(d.encode(" > >  ", 2).empty());
  EXPECT_EQ(d.nsim, 3u);
  EXPECT_EQ(d.encode("a>>b", 1), (std::vector<uli>{3, 4}));
  EXPECT_EQ(d.encode(" a> >b ", 1), (std::vector<uli>{3, 4}));
  EXPECT_EQ(d.encode("paid  search > paid search", 1), (std::vector<uli>{5, 6}));
  EXPECT_THROW(d.encode("a", 0), std::invalid_argument);
}

// ---- simulation matrices ---------------------------------------------------

struct Built : SimulationMatrix {
  uli state(const std::string& name) { return mp_channels_sim.at(name); }
};

Built build_vec(std::vector<std::string> vy, std::vector<uli> vc, std::vector<uli> vn,
                std::vector<double> vv, uli order, int verbose = 0) {
  Built b;
  build_simulation_matrix(vector_source(&vy, &vc, &vv, &vn), ">", order, verbose, &b);
  return b;
}

TEST(SimulationMatrix, OrderOneSingleJourney) {
  Built b = build_vec({"a > b"}, {1}, {}, {}, 1);
  EXPECT_EQ(b.S.S(0, 3), 1u);
  EXPECT_EQ(b.S.S(3, 4), 1u);
  EXPECT_EQ(b.S.S(4, 1), 1u);
  EXPECT_EQ(b.S.non_zeros, 3u);
  EXPECT_EQ(b.max_npassi, 3u);
  EXPECT_EQ(b.svc, 1.0);
  EXPECT_EQ(b.S.nchannels, 5u);
}

TEST(SimulationMatrix, OrderTwoWithNullsOnly) {
  Built b = build_vec({"a > b > c"}, {0}, {2}, {}, 2);
  const uli s01 = b.state("0 1"), s12 = b.state("1 2");
  EXPECT_EQ(b.S.S(0, s01), 2u);
  EXPECT_EQ(b.S.S(s01, s12), 2u);
  EXPECT_EQ(b.S.S(s12, 2), 2u);
  EXPECT_EQ(b.S.non_zeros, 3u);
  EXPECT_EQ(b.svc, 0.0);
}

TEST(SimulationMatrix, EmptyAndWeightlessJourneys) {
  Built b = build_vec({"", "x > y", " > "}, {1, 0, 0}, {0, 0, 3}, {2.5, 1.0, 0.5}, 1);
  EXPECT_EQ(b.S.S(0, 1), 1u);   // no channels: start straight to conversion
  EXPECT_EQ(b.S.S(0, 2), 3u);
  EXPECT_EQ(b.vchannels.size(), 2u);  // the weightless journey still registers its channels
  EXPECT_EQ(b.S.non_zeros, 2u);
  EXPECT_EQ(b.max_npassi, 3u);   // steps count for weightless journeys too
  EXPECT_EQ(b.svv, 4.0);
  uli order = 0;
  EXPECT_THROW(build_vec({"a"}, {1}, {}, {}, order), std::invalid_argument);
}

// Recount every transition from the channel names, without the encoder,
// and compare with the store (large enough to force several resizes).
TEST(SimulationMatrix, MatchesAnIndependentRecount) {
  std::mt19937 rng(5);
  for (uli order : {1ul, 2ul, 3ul}) {
    const int nchan = 40;
    std::vector<std::string> vy;
    std::vector<uli> vc, vn;
    for (int r = 0; r < 4000; ++r) {
      int len = rng() % 7;
      std::string p;
      for (int k = 0; k < len; ++k) p += (k ? " > " : "") + std::string("c") + std::to_string(rng() % nchan);
      vy.push_back(p);
      vc.push_back(rng() % 3);
      vn.push_back(rng() % 3);
    }
    Built b = build_vec(vy, vc, vn, {}, order);
    // Expected counts keyed by window texts of channel names.
    std::map<std::pair<std::string, std::string>, uli> want;
    uli longest = 0;
    for (size_t r = 0; r < vy.size(); ++r) {
      std::vector<std::string> names;
      std::stringstream ss(vy[r]);
      std::string tok;
      while (std::getline(ss, tok, '>')) {
        tok = tok.substr(tok.find_first_not_of(' ') == std::string::npos ? tok.size() : tok.find_first_not_of(' '));
        while (!tok.empty() && tok.back() == ' ') tok.pop_back();
        if (!tok.empty()) names.push_back(tok);
      }
      std::vector<std::string> wins;
      for (size_t s = 0; s == 0 || s + order <= names.size(); ++s) {
        if (names.empty()) break;
        std::string w;
        for (size_t k = s; k < std::min(names.size(), s + order); ++k) w += names[k] + "|";
        wins.push_back(w);
      }
      longest = std::max<uli>(longest, wins.size() + 1);
      std::string prev = "(start)";
      for (auto& w : wins) {
        if (vc[r] + vn[r]) want[{prev, w}] += vc[r] + vn[r];
        prev = w;
      }
      if (vc[r]) want[{prev, "(conversion)"}] += vc[r];
      if (vn[r]) want[{prev, "(null)"}] += vn[r];
    }
    // Map the store's states back to window texts.
    auto text = [&](uli s) {
      if (s < 3) return b.vchannels_sim[s];
      std::string w;
      for (sli c : b.mp_channels_sim_inv.at(s))
        if (c >= 0) w += b.vchannels[c] + "|";
      return w;
    };
    std::map<std::pair<std::string, std::string>, uli> got;
    for (uli i = 0; i < b.nchannels_sim; ++i)
      for (uli k = 0; k < b.S.lrS0[i]; ++k) got[{text(i), text(b.S.S0(i, k))}] = b.S.S(i, b.S.S0(i, k));
    EXPECT_EQ(got, want) << "order " << order;
    EXPECT_EQ(b.max_npassi, longest);
    EXPECT_EQ(b.S.nchannels, b.nchannels_sim);
    EXPECT_GE(b.S.capacity(), b.nchannels_sim);
  }
}

struct TempFile {
  std::string name;
  explicit TempFile(const std::string& text) {
    char buf[] = "/tmp/touchlane_markovXXXXXX";
    int fd = mkstemp(buf);
    close(fd);
    name = buf;
    std::ofstream(name, std::ios::binary) << text;
  }
  ~TempFile() { std::remove(name.c_str()); }
};

TEST(SimulationMatrix, FileDriverReadsNamedColumns) {
  TempFile f("v;n;conv;path\n2.5;1;2;a > b\n1.5;0;1;b\n");
  Built b;
  build_simulation_matrix(file_source(f.name, "path", "conv", "v", "n", ";"), ">", 1, 0, &b);
  EXPECT_EQ(b.S.S(0, 3), 3u);
  EXPECT_EQ(b.S.S(0, 4), 1u);
  EXPECT_EQ(b.S.S(3, 4), 3u);
  EXPECT_EQ(b.S.S(4, 1), 3u);
  EXPECT_EQ(b.S.S(4, 2), 1u);
  EXPECT_EQ(b.svc, 3.0);
  EXPECT_EQ(b.svv, 4.0);
}

TEST(SimulationMatrix, ProgressEveryMillionRows) {
  std::ostringstream os;
  set_console_stream(&os);
  // Paths without channels keep the run short under the sanitizers.
  Built b = build_vec(std::vector<std::string>(2500000), std::vector<uli>(2500000, 1), {}, {}, 1, 1);
  set_console_stream(nullptr);
  const std::string head = "Building transition matrix, number of paths elaborated: ";
  EXPECT_EQ(os.str(), head + "1,000,000\n" + head + "2,000,000\n" + head + "2,500,000\n");
  EXPECT_EQ(b.S.S(0, 1), 2500000u);
}

}  // namespace
