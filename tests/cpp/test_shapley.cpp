#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>
#include <set>

#include "helpers.h"
#include "shapley/shapley.h"

namespace {

typedef std::vector<double> dbls;
typedef std::vector<std::vector<uli>> Coalitions;

struct Model {
  std::vector<std::string> vy;
  std::vector<uli> vc, vn;
  dbls vv;
  std::string var_value, var_null, file_output, row_sep = ";";
  int simplified = 0, type_worth = 0, nulls = 0, paths = 0;
};

struct Result {
  std::vector<std::string> vchannels, name, channel;
  dbls vindex, id, chpos, convs, value, loc, glob, glob_value;
};

Result run(const Model& m) {
  JourneySource src = vector_source(&m.vy, &m.vc, m.var_value.empty() ? nullptr : &m.vv,
                                    m.var_null.empty() ? nullptr : &m.vn);
  src.field_sep = m.row_sep;
  ShapleySettings s;
  s.flg_simplified = m.simplified, s.type_worth = m.type_worth;
  s.flg_write_nulls = m.nulls, s.flg_write_paths = m.paths, s.file_output = m.file_output;
  ShapleyResult sr = shapley_run(src, s);
  Result r{std::move(sr.vchannels), std::move(sr.rows.vpath_name), std::move(sr.rows.vpath_channel),
           std::move(sr.vindex), std::move(sr.rows.vpath_id), std::move(sr.rows.vpath_chpos),
           std::move(sr.rows.vpath_attr_convs), std::move(sr.rows.vpath_attr_value),
           std::move(sr.vattr_convs_loc), std::move(sr.vattr_convs_glob),
           std::move(sr.vattr_value_glob)};
  unhide_index(&r.vindex);
  return r;
}

// Journeys of the rate-mode tests, with null counts.
Model with_nulls(std::vector<std::string> vy, std::vector<uli> vc, std::vector<uli> vn, int type_worth) {
  Model m;
  m.vy = vy, m.vc = vc, m.vn = vn, m.var_null = "nulls", m.type_worth = type_worth;
  return m;
}

// The permutation definition: each channel's marginal contribution averaged
// over every order, v(S) = sum of the worths of the coalitions inside S.
dbls brute_force(const Coalitions& coalitions, const dbls& worth, uli n) {
  auto v = [&](const std::set<uli>& S) {
    double total = 0;
    for (size_t k = 0; k < coalitions.size() && !S.empty(); ++k)
      if (std::all_of(coalitions[k].begin(), coalitions[k].end(), [&](uli j) { return S.count(j); }))
        total += worth[k];
    return total;
  };
  std::vector<uli> order(n);
  std::iota(order.begin(), order.end(), 0);
  dbls phi(n, 0.0);
  double nperm = 0;
  do {
    std::set<uli> S;
    for (uli j : order) {
      const double before = v(S);
      S.insert(j);
      phi[j] += v(S) - before;
    }
    nperm += 1;
  } while (std::next_permutation(order.begin(), order.end()));
  for (double& x : phi) x /= nperm;
  return phi;
}

void expect_near_all(const dbls& got, const dbls& want, double tol = 1e-9) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t k = 0; k < got.size(); ++k) EXPECT_NEAR(got[k], want[k], tol) << "entry " << k;
}

TEST(Shapley, ExactValuesMatchThePermutationDefinition) {
  std::mt19937 g(17);
  for (int rep = 0; rep < 12; ++rep) {
    const uli n = 1 + rep % 8;
    Coalitions coalitions(1 + g() % 20);   // the empty coalition counts in every non-empty S
    dbls worth;
    for (auto& members : coalitions) {
      for (uli j = 0; j < n; ++j)
        if (g() % 3 == 0) members.push_back(j);
      worth.push_back(std::uniform_real_distribution<double>(-2.0, 5.0)(g));
    }
    dbls phi(n, 0.0);
    shapley_values(coalitions, worth, n, false, &phi);
    expect_near_all(phi, brute_force(coalitions, worth, n), 1e-10);
  }
  dbls phi(3, 0.0);   // simplified: each coalition split equally, the empty one ignored
  shapley_values({{0}, {0, 1}, {0, 1, 2}, {}}, {1, 2, 3, 100}, 3, true, &phi);
  expect_near_all(phi, {3, 2, 1}, 1e-15);
  // Unanimity games split equally in the exact method too: both agree on a
  // game too large for the brute force.
  Coalitions big(300);
  dbls worth, exact(14, 0.0), simple(14, 0.0);
  for (auto& members : big) {
    members.push_back(g() % 14);
    for (uli j = members[0] + 1; j < 14; ++j)
      if (g() % 4 == 0) members.push_back(j);
    worth.push_back(double(g() % 100));
  }
  shapley_values(big, worth, 14, false, &exact);
  shapley_values(big, worth, 14, true, &simple);
  expect_near_all(exact, simple);
}

TEST(Shapley, GlobalModeTotalsChannelOrderAndFile) {
  tl_test::TempFile out;
  Model m;
  m.vy = {"B", "A > B", "paid  search>A", " paid search "}, m.vc = {1, 2, 4, 0}, m.vv = {10, 4, 8, 0};
  m.var_value = "value", m.row_sep = ";;", m.file_output = out.name;
  for (int simplified : {0, 1}) {
    m.simplified = simplified;
    const Result r = run(m);
    EXPECT_EQ(r.vchannels, (std::vector<std::string>{"B", "A", "paid search"}));
    expect_near_all(r.glob, {2, 3, 2});
    expect_near_all(r.glob_value, {12, 6, 4});
    EXPECT_EQ(r.vindex.size(), 3u);   // zeros
    EXPECT_TRUE(r.id.empty() && r.loc.empty());
  }
  EXPECT_EQ(tl_test::read_file(out.name), "channel;;total_conversions;;total_conversion_value\n"
                                          "B;;2.000000;;12.000000\nA;;3.000000;;6.000000\n"
                                          "paid search;;2.000000;;4.000000\n");
}

TEST(Shapley, RateModeWeightsAndFallbackWeight) {
  // Coalitions {a, b}: 3 of 4 convert, {a}: 1 of 4, {b}: 0 of 4, {a, c}: 2 of 4,
  // whatever the order and repeats of the channels; names numbered in byte order.
  const Result r = run(with_nulls({"b > a", "a", "a > b", "b", "c > a", "a > a"}, {1, 1, 2, 0, 2, 0},
                                  {0, 1, 1, 4, 2, 2}, 1));
  EXPECT_EQ(r.vchannels, (std::vector<std::string>{"a", "b", "c"}));
  const dbls want = brute_force({{0}, {0, 1}, {1}, {0, 2}}, {0.25, 0.75, 0, 0.5}, 3);
  expect_near_all(r.vindex, {want[0], want[1], want[2], 6.0 / 16.0});   // last: conversions over journeys
  EXPECT_TRUE(r.glob.empty() && r.glob_value.empty());
  ASSERT_EQ(r.convs.size(), 7u);   // journeys without conversions emit nothing
  EXPECT_NEAR(r.convs[0], want[1] / (want[0] + want[1]), 1e-9);
  EXPECT_NEAR(r.loc[2], 2 * want[2] / (want[0] + want[2]), 1e-9);
}

TEST(Shapley, OtherWorthTypes) {
  // Type 2: {a} has no nulls, so its worth is the largest ratio, 3 / 1.
  Model m = with_nulls({"a", "b", "a > b"}, {5, 2, 3}, {0, 4, 1}, 2);
  m.simplified = 1;
  expect_near_all(run(m).vindex, {3 + 1.5, 0.5 + 1.5, 10.0 / 5.0});
  // Type 3 on {a}: 4 conversions, 2 nulls; {a, b}: 1 and 3.
  m = with_nulls({"a", "a > b"}, {4, 1}, {2, 3}, 3);
  m.simplified = 1;
  expect_near_all(run(m).vindex, {1.5 - 0.25, -0.25, 0.5});
}

TEST(Shapley, FallbackModeCalibratesWithASecondPass) {
  Model m;
  m.vy = {"a", "a > b", "b > c", "c"}, m.vc = {4, 6, 2, 1}, m.type_worth = 1, m.paths = 1;   // no null column
  const Result r = run(m);
  const dbls G = brute_force({{0}, {0, 1}, {1, 2}, {2}}, {4, 6, 2, 1}, 3);
  expect_near_all(r.glob, G);
  // First pass: each journey split by the Shapley totals.
  const dbls L = {4 + 6 * G[0] / (G[0] + G[1]), 6 * G[1] / (G[0] + G[1]) + 2 * G[1] / (G[1] + G[2]),
                  2 * G[2] / (G[1] + G[2]) + 1};
  const dbls& w = r.vindex;
  expect_near_all(w, {(G[0] + 10) / (L[0] + 10), (G[1] + 10) / (L[1] + 10), (G[2] + 10) / (L[2] + 10), 1});
  EXPECT_EQ(r.name.size(), 6u);   // rows of the second pass only
  EXPECT_NEAR(r.convs[1], 6 * w[0] / (w[0] + w[1]), 1e-9);
  EXPECT_NEAR(tl_test::total_of(r.loc), 13, 1e-9);
}

TEST(Shapley, ErrorTable) {
  std::string path = "c0";
  for (int k = 1; k < 26; ++k) path += ">c" + std::to_string(k);
  Model many;
  many.vy = {path}, many.vc = {26};
  auto with = [](void (*edit)(Model&)) {
    return [edit] {
      Model m;
      m.vy = {"a"}, m.vc = {1};
      edit(m), run(m);
    };
  };
  tl_test::expect_errors({
      {"shapley: 26 channels are too many for the exact method (at most 25; it needs 2^N subsets); "
       "use the simplified method (flg_simplified = 1)",
       [&] { run(many); }},
      {"type_worth must be 0, 1, 2, 3 or 4, not 5", with([](Model& m) { m.type_worth = 5; })},
      {"cannot open result file '/nonexistent-dir/x.csv' for writing: No such file or directory",
       with([](Model& m) { m.file_output = "/nonexistent-dir/x.csv"; })},
  });
  many.simplified = 1;
  EXPECT_EQ(run(many).glob[25], 1.0);
}

}  // namespace
