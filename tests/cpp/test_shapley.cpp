#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <numeric>
#include <random>
#include <set>
#include <sstream>

#include "pathattr/pathattr.h"
#include "shapley/shapley.h"

namespace {

// ---- helpers ---------------------------------------------------------------------

struct Coalitions {
  std::map<std::string, uli> mp_channels;
  std::map<std::string, double> convs, value, nulls;
  uli nchannels = 0;
  std::vector<std::string> vchannels, vcoalition;
  double svc = -1, svn = -1;
};

Coalitions count(const std::vector<std::string>& vy, const std::vector<uli>& vc,
                 const std::vector<uli>& vn, const std::vector<double>& vv, int type_worth) {
  CoalitionTable t;
  count_coalitions(vector_source(&vy, &vc, &vv, &vn), ">", type_worth, &t);
  return Coalitions{t.mp_channels, t.convs, t.value, t.nulls, t.vchannels.size(),
                    t.vchannels,   t.vcoalition, t.svc, t.svn};
}

struct Result {
  std::vector<std::string> vchannels, name, channel;
  std::vector<double> vindex, id, chpos, convs, value, loc, glob, glob_value;
};

struct Model {
  std::vector<std::string> vy;
  std::vector<uli> vc, vn;
  std::vector<double> vv;
  std::string var_value, var_null, file_output, row_sep = ";";
  int simplified = 0, type_worth = 0, nulls = 0, paths = 0;
  int flg_file = 0;
  std::string file;
};

Result run(const Model& m) {
  Result r;
  std::string vp = "path", vc = "conv", cs = ">";
  shapley_cpp(&m.flg_file, &m.file, &vp, &vc, &m.var_value, &m.var_null, &m.vy, &m.vc, &m.vv,
              &m.vn, &m.row_sep, &cs, &m.simplified, &m.type_worth, &m.nulls, &m.paths,
              &m.file_output, &r.vchannels, &r.vindex, &r.id, &r.name, &r.channel, &r.chpos,
              &r.convs, &r.value, &r.loc, &r.glob, &r.glob_value);
  return r;
}

std::vector<double> unmasked(std::vector<double> v) {
  unhide_index(&v);
  return v;
}

std::string temp_path(const char* tag) {
  static int n = 0;
  return ::testing::TempDir() + "touchlane_shapley_" + tag + std::to_string(n++);
}

std::string slurp(const std::string& f) {
  std::ifstream in(f, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Shapley value by its permutation definition: the average over every order
// of the channels of each channel's marginal contribution, with v(S) the sum
// of the worths of the coalitions that S contains.
std::vector<double> brute_force(const std::vector<std::vector<uli>>& coalitions,
                                const std::vector<double>& worth, uli n) {
  auto v = [&](const std::set<uli>& S) {
    if (S.empty()) return 0.0;
    double total = 0;
    for (size_t k = 0; k < coalitions.size(); ++k) {
      bool inside = true;
      for (uli j : coalitions[k]) inside = inside && S.count(j);
      if (inside) total += worth[k];
    }
    return total;
  };
  std::vector<uli> order(n);
  std::iota(order.begin(), order.end(), 0);
  std::vector<double> phi(n, 0.0);
  double nperm = 0;
  do {
    std::set<uli> S;
    double before = 0;
    for (uli j : order) {
      S.insert(j);
      double after = v(S);
      phi[j] += after - before;
      before = after;
    }
    nperm += 1;
  } while (std::next_permutation(order.begin(), order.end()));
  for (double& x : phi) x /= nperm;
  return phi;
}

void expect_near_all(const std::vector<double>& got, const std::vector<double>& want,
                     double tol) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t k = 0; k < got.size(); ++k) EXPECT_NEAR(got[k], want[k], tol) << "entry " << k;
}

// ---- coalition counting ---------------------------------------------------------------

TEST(Shapley, LogFactorial) {
  EXPECT_EQ(log_factorial(0), 0.0);
  EXPECT_EQ(log_factorial(1), 0.0);
  EXPECT_NEAR(log_factorial(3), std::log(6.0), 1e-15);
  EXPECT_NEAR(log_factorial(30), std::lgamma(31.0), 1e-12);
}

TEST(Shapley, AllSubsetsCountInBaseTwo) {
  using V = std::vector<std::vector<uli>>;
  EXPECT_EQ(getAllSubsets({}), (V{{}}));
  EXPECT_EQ(getAllSubsets({7, 8, 9}), (V{{}, {7}, {8}, {7, 8}, {9}, {7, 9}, {8, 9}, {7, 8, 9}}));
  EXPECT_EQ(getAllSubsets({0, 1, 2, 3, 4, 5, 6, 7, 8, 9}).size(), 1024u);
}

TEST(Shapley, CoalitionKeysFollowNameOrderAndFirstAppearance) {
  Coalitions c = count({"B", "A > B", "B > A > A", "paid  search>z", " paid search ", ""},
                       {1, 2, 3, 0, 4, 5}, {}, {}, 0);
  EXPECT_EQ(c.vchannels, (std::vector<std::string>{"B", "A", "paid search", "z"}));
  EXPECT_EQ(c.nchannels, 4u);
  // Keys list indices in byte order of the names: A (1) before B (0).
  EXPECT_EQ(c.vcoalition, (std::vector<std::string>{"0", "1 0", "2 3", "2", ""}));
  EXPECT_EQ(c.convs["1 0"], 5.0);
  EXPECT_EQ(c.convs["2 3"], 0.0);   // a journey without conversions still registers
  EXPECT_TRUE(c.nulls.empty());
  EXPECT_EQ(c.svc, 0.0);            // totals only with a worth type
  EXPECT_TRUE(c.value.empty());
}

TEST(Shapley, NullsAndValuesAreCountedWhenAsked) {
  Coalitions c = count({"a > b", "b > a", "a"}, {1, 2, 0}, {3, 0, 4}, {1.5, 2, 9}, 1);
  EXPECT_EQ(c.convs["0 1"], 3.0);
  EXPECT_EQ(c.nulls["0 1"], 3.0);
  EXPECT_EQ(c.nulls["0"], 4.0);
  EXPECT_EQ(c.value["0 1"], 3.5);
  EXPECT_EQ(c.svc, 3.0);
  EXPECT_EQ(c.svn, 7.0);
}

TEST(Shapley, CoalitionsFromFileMatchVectors) {
  std::string f = temp_path("in");
  std::ofstream(f, std::ios::binary) << "n;path;conv;val\r\n1;x > y;2;1.5\r\n0;y;1;2\r\n4;z>x;0;0\r\n";
  CoalitionTable c;
  count_coalitions(file_source(f, "path", "conv", "val", "n", ";"), ">", 2, &c);
  Coalitions d = count({"x > y", "y", "z>x"}, {2, 1, 0}, {1, 0, 4}, {1.5, 2, 0}, 2);
  EXPECT_EQ(c.vcoalition, d.vcoalition);
  EXPECT_EQ(c.convs, d.convs);
  EXPECT_EQ(c.nulls, d.nulls);
  EXPECT_EQ(c.value, d.value);
  EXPECT_EQ(c.svn, 5.0);
  std::remove(f.c_str());
}

// ---- Shapley values ----------------------------------------------------------------------

TEST(Shapley, TwoChannelExample) {
  Model m;
  m.vy = {"A", "A > B"};
  m.vc = {1, 2};
  for (int simplified : {0, 1}) {
    m.simplified = simplified;
    Result r = run(m);
    EXPECT_EQ(r.vchannels, (std::vector<std::string>{"A", "B"}));
    expect_near_all(r.glob, {2, 1}, 1e-12);
    EXPECT_EQ(r.vindex, (std::vector<double>{0, 0}));   // global mode: zeros, unmasked
    EXPECT_TRUE(r.id.empty() && r.loc.empty() && r.glob_value.empty());
  }
}

TEST(Shapley, ExactMatchesPermutationDefinition) {
  std::mt19937 g(17);
  std::uniform_real_distribution<double> u(-2.0, 5.0);
  for (int rep = 0; rep < 12; ++rep) {
    const uli n = 1 + rep % 8;
    std::vector<std::vector<uli>> coalitions;
    std::vector<double> worth;
    const int ncoa = 1 + g() % 20;
    for (int k = 0; k < ncoa; ++k) {
      std::vector<uli> members;
      for (uli j = 0; j < n; ++j)
        if (g() % 3 == 0) members.push_back(j);
      coalitions.push_back(members);   // the empty coalition counts in every non-empty S
      worth.push_back(u(g));
    }
    std::vector<double> phi(n, 0.0);
    shapley_values(coalitions, worth, n, false, &phi);
    std::vector<double> want = brute_force(coalitions, worth, n);
    expect_near_all(phi, want, 1e-10);
    double all = std::accumulate(worth.begin(), worth.end(), 0.0);   // v(every channel)
    EXPECT_NEAR(std::accumulate(phi.begin(), phi.end(), 0.0), all, 1e-10);
  }
}

TEST(Shapley, ExactEqualsEqualSplitForNonEmptyCoalitions) {
  // Each coalition's worth is a unanimity game of its members, whose Shapley
  // value splits the worth equally; the two methods must agree.
  std::mt19937 g(3);
  const uli n = 14;
  std::vector<std::vector<uli>> coalitions;
  std::vector<double> worth;
  for (int k = 0; k < 300; ++k) {
    std::vector<uli> members;
    for (uli j = 0; j < n; ++j)
      if (g() % 4 == 0) members.push_back(j);
    if (members.empty()) members.push_back(g() % n);
    coalitions.push_back(members);
    worth.push_back(double(g() % 100));
  }
  std::vector<double> exact(n, 0.0), simple(n, 0.0);
  shapley_values(coalitions, worth, n, false, &exact);
  shapley_values(coalitions, worth, n, true, &simple);
  expect_near_all(exact, simple, 1e-9);
}

TEST(Shapley, SimplifiedSplitsEachCoalitionEqually) {
  std::vector<double> phi(3, 0.0);
  shapley_values({{0}, {0, 1}, {0, 1, 2}, {}}, {1, 2, 3, 100}, 3, true, &phi);
  expect_near_all(phi, {1 + 1 + 1, 1 + 1, 1}, 1e-15);
}

TEST(Shapley, TooManyChannelsForTheExactMethod) {
  Model m;
  std::string path;
  for (int k = 0; k < 26; ++k) path += (k ? ">" : "") + std::string("c") + std::to_string(k);
  m.vy = {path};
  m.vc = {26};
  try {
    run(m);
    ADD_FAILURE() << "no error";
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find("26 channels are too many"), std::string::npos);
    EXPECT_NE(std::string(e.what()).find("simplified"), std::string::npos);
  }
  m.simplified = 1;
  Result r = run(m);
  ASSERT_EQ(r.glob.size(), 26u);
  EXPECT_EQ(r.glob[25], 1.0);
}

// ---- model modes ----------------------------------------------------------------------------

TEST(Shapley, GlobalModeWritesTheChannelFile) {
  Model m;
  m.vy = {"A", "A > B"};
  m.vc = {1, 2};
  m.vv = {10, 4};
  m.var_value = "value";
  m.row_sep = ";;";
  m.file_output = temp_path("glob");
  Result r = run(m);
  expect_near_all(r.glob_value, {12, 2}, 1e-12);
  EXPECT_EQ(slurp(m.file_output),
            "channel;;total_conversions;;total_conversion_value\n"
            "A;;2.000000;;12.000000\n"
            "B;;1.000000;;2.000000\n");
  EXPECT_TRUE(r.id.empty());
  std::remove(m.file_output.c_str());
}

TEST(Shapley, RateModeWeightsAndMaskedFallbackWeight) {
  Model m;
  m.vy = {"a", "a > b", "b", "c > a"};
  m.vc = {1, 3, 0, 2};
  m.vn = {3, 1, 4, 2};
  m.var_null = "nulls";
  m.type_worth = 1;
  Result r = run(m);
  ASSERT_EQ(r.vindex.size(), 4u);
  std::vector<double> w = unmasked(r.vindex);
  // Coalitions {a}, {a, b}, {b}, {a, c} with rates 1/4, 3/4, 0, 1/2.
  std::vector<double> want = brute_force({{0}, {0, 1}, {1}, {0, 2}}, {0.25, 0.75, 0, 0.5}, 3);
  expect_near_all({w[0], w[1], w[2]}, want, 1e-9);
  EXPECT_NEAR(w[3], 6.0 / 16.0, 1e-9);   // svc / (svc + svn)
  EXPECT_TRUE(r.glob.empty() && r.glob_value.empty());
  ASSERT_EQ(r.convs.size(), 5u);          // the null journey emits nothing
  EXPECT_NEAR(r.convs[1], 3 * want[0] / (want[0] + want[1]), 1e-9);
  EXPECT_NEAR(r.loc[2], 2 * want[2] / (want[0] + want[2]), 1e-9);
}

TEST(Shapley, TypeTwoMarkerTakesTheLargestRatio) {
  Model m;
  m.vy = {"a", "b", "a > b"};
  m.vc = {5, 2, 3};
  m.vn = {0, 4, 1};
  m.var_null = "nulls";
  m.type_worth = 2;
  m.simplified = 1;
  std::vector<double> w = unmasked(run(m).vindex);
  // {a} has no nulls: its worth becomes max(2/4, 3/1) = 3.
  expect_near_all(w, {3 + 1.5, 0.5 + 1.5, 10.0 / 5.0}, 1e-9);
}

TEST(Shapley, TypesThreeAndFourUseTheirFormulaForTheFallbackWeight) {
  Model m;
  m.vy = {"a", "a > b"};
  m.vc = {4, 1};
  m.vn = {2, 3};
  m.var_null = "nulls";
  m.simplified = 1;
  m.type_worth = 3;
  std::vector<double> w = unmasked(run(m).vindex);
  // Worths {a}: (4 - 2 + 1) / 2 = 1.5, {a, b}: (1 - 3 + 1) / 2 = -0.5; totals 5 and 5.
  expect_near_all(w, {1.5 - 0.25, -0.25, 0.5}, 1e-9);
  m.type_worth = 4;
  w = unmasked(run(m).vindex);
  expect_near_all(w, {1 - std::exp(-2.0) + (1 - std::exp(-1.0 / 3)) / 2,
                      (1 - std::exp(-1.0 / 3)) / 2, 1 - std::exp(-1.0)},
                  1e-9);
}

TEST(Shapley, FallbackModeCalibratesWeightsWithASecondPass) {
  Model m;
  m.vy = {"a", "a > b", "b > c", "c"};
  m.vc = {4, 6, 2, 1};
  m.type_worth = 1;   // no null column
  m.paths = 1;
  Result r = run(m);
  std::vector<double> G = brute_force({{0}, {0, 1}, {1, 2}, {2}}, {4, 6, 2, 1}, 3);
  expect_near_all(r.glob, G, 1e-9);
  // First pass per channel with the Shapley totals as weights.
  std::vector<double> L(3, 0.0);
  auto share = [&](double c, double wi, double wsum) { return c * wi / wsum; };
  L[0] = 4 + share(6, G[0], G[0] + G[1]);
  L[1] = share(6, G[1], G[0] + G[1]) + share(2, G[1], G[1] + G[2]);
  L[2] = share(2, G[2], G[1] + G[2]) + 1;
  std::vector<double> w = unmasked(r.vindex);
  ASSERT_EQ(w.size(), 4u);
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(w[k], (G[k] + 10) / (L[k] + 10), 1e-9);
  EXPECT_NEAR(w[3], 1.0, 1e-9);
  EXPECT_EQ(r.name.size(), 6u);   // rows of the second pass only
  EXPECT_NEAR(r.convs[1], 6 * w[0] / (w[0] + w[1]), 1e-9);
  double total = 0;
  for (double x : r.loc) total += x;
  EXPECT_NEAR(total, 13, 1e-9);
}

TEST(Shapley, ModelFromFileMatchesVectors) {
  Model v;
  v.vy = {"a > b", "b", "c > a > c", "b > c"};
  v.vc = {3, 1, 2, 0};
  v.vn = {1, 2, 0, 5};
  v.var_null = "n";
  v.type_worth = 1;
  Model f = v;
  f.flg_file = 1;
  f.file = temp_path("model");
  std::ofstream(f.file) << "path;conv;n\na > b;3;1\nb;1;2\nc > a > c;2;0\nb > c;0;5\n";
  Result a = run(v), b = run(f);
  EXPECT_EQ(a.vindex, b.vindex);
  EXPECT_EQ(a.convs, b.convs);
  EXPECT_EQ(a.loc, b.loc);
  std::remove(f.file.c_str());
}

TEST(Shapley, BadArgumentsAreClearErrors) {
  Model m;
  m.vy = {"a"};
  m.vc = {1};
  m.type_worth = 5;
  EXPECT_THROW(run(m), std::invalid_argument);
  m.type_worth = 1;
  m.var_null = "n";   // named but no counts
  EXPECT_THROW(run(m), std::invalid_argument);
  m.var_null = "";
  m.file_output = "/nonexistent-dir/x.csv";
  m.type_worth = 0;
  EXPECT_THROW(run(m), std::invalid_argument);
  m.flg_file = 1;
  m.file = "/nonexistent-dir/in.csv";
  EXPECT_THROW(run(m), std::invalid_argument);
}

}  // namespace
