#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "pathattr/pathattr.h"

namespace {

using Dict = std::map<std::string, uli>;

struct Rows {
  std::vector<double> id, chpos, convs, value, loc;
  std::vector<std::string> name, channel;
};

struct Opts {
  int nulls = 0, paths = 0;
  std::string file_output, row_sep = ";", cha_sep = ">";
};

Rows from_rows(TouchpointRows&& t, Rows r) {
  r.id = std::move(t.vpath_id);
  r.name = std::move(t.vpath_name);
  r.channel = std::move(t.vpath_channel);
  r.chpos = std::move(t.vpath_chpos);
  r.convs = std::move(t.vpath_attr_convs);
  r.value = std::move(t.vpath_attr_value);
  return r;
}

Rows run_source(JourneySource src, const Dict& dict, const std::vector<double>& w,
                double mean_index, const Opts& o) {
  Rows r;
  r.loc.assign(w.size(), 0.0);
  src.row_sep = o.row_sep;
  const PathSettings settings{o.cha_sep, o.nulls, o.paths, o.file_output};
  TouchpointRows t;
  attribute_journeys(src, settings, dict, w, mean_index, &t, &r.loc);
  return from_rows(std::move(t), std::move(r));
}

Rows run_vec(const std::vector<std::string>& vy, const std::vector<uli>& vc,
             const std::vector<double>& vv, const Dict& dict, const std::vector<double>& w,
             double mean_index, const Opts& o = Opts()) {
  return run_source(vector_source(&vy, &vc, &vv, nullptr), dict, w, mean_index, o);
}

Rows run_file(const std::string& file, const std::string& var_value, const Dict& dict,
              const std::vector<double>& w, double mean_index, const Opts& o = Opts()) {
  return run_source(file_source(file, "path", "conv", var_value, "", o.row_sep), dict, w,
                    mean_index, o);
}

std::string temp_path(const char* tag) {
  static int n = 0;
  return ::testing::TempDir() + "touchlane_pathattr_" + tag + std::to_string(n++);
}

std::string write_file(const std::string& text) {
  std::string f = temp_path("in");
  std::ofstream(f, std::ios::binary) << text;
  return f;
}

std::string slurp(const std::string& f) {
  std::ifstream in(f, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// ---- independent per-touch-point computation ---------------------------------
// Cuts at '>' by hand, trims and squeezes blanks character by character, and
// weighs every distinct name; totals per channel by name.
std::string squeeze(const std::string& s) {
  std::string out;
  for (char ch : s) {
    if (ch == ' ' && (out.empty() || out.back() == ' ')) continue;
    out.push_back(ch);
  }
  if (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

std::vector<std::string> pieces(const std::string& path) {
  std::vector<std::string> out;
  std::string cur;
  for (char ch : path) {
    if (ch == '>') { out.push_back(squeeze(cur)); cur.clear(); }
    else cur.push_back(ch);
  }
  if (!cur.empty()) out.push_back(squeeze(cur));
  return out;
}

struct Expected {
  std::vector<double> id, chpos, convs, value;
  std::vector<std::string> channel;
  std::map<std::string, double> total;
};

Expected oracle(const std::vector<std::string>& vy, const std::vector<uli>& vc,
                const std::vector<double>& vv, const Dict& dict, const std::vector<double>& w,
                double mean_index, bool nulls) {
  Expected e;
  for (size_t i = 0; i < vy.size(); ++i) {
    std::vector<std::string> p = pieces(vy[i]);
    std::map<std::string, int> times;
    for (auto& x : p) times[x]++;
    auto weight = [&](const std::string& x) {
      auto it = dict.find(x);
      return it == dict.end() ? mean_index : w[it->second];
    };
    double sum = 0;
    std::map<std::string, bool> seen;
    for (auto& x : p)
      if (!seen[x]) { seen[x] = true; sum += weight(x); }
    for (size_t k = 0; k < p.size(); ++k) {
      if (vc[i] == 0 && !nulls) continue;
      double share = vc[i] == 0 ? 0.0 : weight(p[k]) / sum / times[p[k]];
      e.id.push_back(double(i));
      e.chpos.push_back(double(k));
      e.channel.push_back(p[k]);
      e.convs.push_back(double(vc[i]) * share);
      if (!vv.empty()) e.value.push_back(vv[i] * share);
      if (vc[i] > 0 && dict.count(p[k])) e.total[p[k]] += double(vc[i]) * share;
    }
  }
  return e;
}

void expect_close(const std::vector<double>& got, const std::vector<double>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t k = 0; k < got.size(); ++k) {
    if (std::isnan(want[k])) {
      EXPECT_TRUE(std::isnan(got[k])) << "row " << k;
      continue;
    }
    EXPECT_NEAR(got[k], want[k], 1e-12 * std::max(1.0, std::fabs(want[k]))) << "row " << k;
  }
}

struct RandomSet {
  std::vector<std::string> vy;
  std::vector<uli> vc;
  std::vector<double> vv;
  Dict dict;
  std::vector<double> w;
  double mean_index;
};

// Known channels a..f (two with weight 0), unknown u/v, blank variants and
// repeats; a sixth of the journeys do not convert.
RandomSet random_set(unsigned seed, size_t n, bool zero_weights = true) {
  std::mt19937 g(seed);
  RandomSet s;
  const std::vector<std::string> names{"a", "b", "c", "d", "e", "paid search"};
  for (size_t j = 0; j < names.size(); ++j) s.dict[names[j]] = j;
  std::uniform_real_distribution<double> u(0.0, 5.0);
  for (size_t j = 0; j < names.size(); ++j) s.w.push_back(zero_weights && (j == 3 || j == 4) ? 0.0 : u(g));
  s.mean_index = u(g);
  const std::vector<std::string> spelled{"a", " a", "b ", "c", "  d", "e", "paid  search",
                                         " paid search ", "u", "v ", "b"};
  for (size_t i = 0; i < n; ++i) {
    size_t len = 1 + g() % 7;
    std::string path;
    for (size_t k = 0; k < len; ++k) {
      if (k) path += (g() % 2) ? " > " : ">";
      path += spelled[g() % spelled.size()];
    }
    s.vy.push_back(path);
    s.vc.push_back(g() % 6 == 0 ? 0 : g() % 9);
    s.vv.push_back(u(g) * 10);
  }
  return s;
}

// ---- known answers -------------------------------------------------------------

TEST(PathAttr, WeightsSplitOverDistinctChannelsAndRepeats) {
  Dict d{{"A", 0}, {"B", 1}};
  Rows r = run_vec({"A > B > A"}, {4}, {8}, d, {3, 1}, 7);
  EXPECT_EQ(r.convs, (std::vector<double>{1.5, 1, 1.5}));
  EXPECT_EQ(r.value, (std::vector<double>{3, 2, 3}));
  EXPECT_EQ(r.loc, (std::vector<double>{3, 1}));
  EXPECT_EQ(r.channel, (std::vector<std::string>{"A", "B", "A"}));
  EXPECT_EQ(r.chpos, (std::vector<double>{0, 1, 2}));
  EXPECT_TRUE(r.name.empty());
}

TEST(PathAttr, UnknownChannelsWeighMeanIndexAndAreNotTotalled) {
  Dict d{{"A", 0}};
  Rows r = run_vec({"x > y > x", "A > z"}, {3, 2}, {}, d, {1}, 2.5);
  EXPECT_EQ(r.convs, (std::vector<double>{0.75, 1.5, 0.75, 2.0 / 3.5 * 1, 2 * 2.5 / 3.5}));
  EXPECT_EQ(r.loc, (std::vector<double>{2.0 / 3.5}));
  EXPECT_TRUE(r.value.empty());
}

TEST(PathAttr, DistinctKnownChannelsAreCountedByIndex) {
  // Two spellings sharing one index form one channel of the journey.
  Dict d{{"A", 0}, {"alias", 0}, {"B", 1}};
  Rows r = run_vec({"A > alias > B"}, {4}, {}, d, {1, 1}, 1);
  EXPECT_EQ(r.convs, (std::vector<double>{1, 1, 2}));
  EXPECT_EQ(r.loc, (std::vector<double>{2, 2}));
}

TEST(PathAttr, NullJourneysOnlyWhenAsked) {
  Dict d{{"A", 0}};
  Opts o;
  Rows quiet = run_vec({"A > b", "A"}, {0, 2}, {1, 5}, d, {1}, 1, o);
  EXPECT_EQ(quiet.id, (std::vector<double>{1}));
  o.nulls = 1;
  o.paths = 1;
  Rows r = run_vec({"A > b", "A"}, {0, 2}, {1, 5}, d, {1}, 1, o);
  EXPECT_EQ(r.id, (std::vector<double>{0, 0, 1}));
  EXPECT_EQ(r.convs, (std::vector<double>{0, 0, 2}));
  EXPECT_EQ(r.value, (std::vector<double>{0, 0, 5}));
  EXPECT_EQ(r.name, (std::vector<std::string>{"A > b", "A > b", "A"}));
  EXPECT_EQ(r.loc, (std::vector<double>{2}));
}

TEST(PathAttr, EmptyPathsEmitNothingButConsumeAnIndex) {
  Dict d{{"A", 0}};
  Opts o;
  o.nulls = 1;
  Rows r = run_vec({"", "A"}, {3, 1}, {}, d, {1}, 1, o);
  EXPECT_EQ(r.id, (std::vector<double>{1}));
  EXPECT_EQ(r.loc, (std::vector<double>{1}));
}

TEST(PathAttr, JourneyOfZeroWeightsGivesNotANumber) {
  Dict d{{"A", 0}, {"B", 1}};
  Rows r = run_vec({"A > B", "B"}, {1, 1}, {}, d, {0, 0}, 1);
  ASSERT_EQ(r.convs.size(), 3u);
  EXPECT_TRUE(std::isnan(r.convs[0]));
  EXPECT_TRUE(std::isnan(r.convs[2]));
}

// ---- against the independent computation ----------------------------------------

TEST(PathAttr, RandomJourneysMatchIndependentComputation) {
  for (unsigned seed : {1u, 2u, 3u, 4u}) {
    RandomSet s = random_set(seed, 400, seed % 2 == 1);
    for (int nulls : {0, 1}) {
      Opts o;
      o.nulls = nulls;
      Rows r = run_vec(s.vy, s.vc, s.vv, s.dict, s.w, s.mean_index, o);
      Expected e = oracle(s.vy, s.vc, s.vv, s.dict, s.w, s.mean_index, nulls == 1);
      EXPECT_EQ(r.id, e.id);
      EXPECT_EQ(r.chpos, e.chpos);
      EXPECT_EQ(r.channel, e.channel);
      expect_close(r.convs, e.convs);
      expect_close(r.value, e.value);
      // A journey whose channels all weigh 0 makes its channels' totals NaN.
      std::vector<double> want(s.w.size());
      for (auto& kv : s.dict) want[kv.second] = e.total[kv.first];
      expect_close(r.loc, want);
      if (seed % 2 == 0)
        for (double x : r.loc) EXPECT_TRUE(std::isfinite(x));
    }
  }
}

TEST(PathAttr, SharesOfAJourneyAddUpToItsConversions) {
  RandomSet s = random_set(9, 300);
  Rows r = run_vec(s.vy, s.vc, s.vv, s.dict, s.w, s.mean_index);
  std::map<double, double> by_journey;
  for (size_t k = 0; k < r.id.size(); ++k) by_journey[r.id[k]] += r.convs[k];
  for (auto& kv : by_journey) {
    if (std::isnan(kv.second)) continue;   // every channel weighs 0
    EXPECT_NEAR(kv.second, double(s.vc[size_t(kv.first)]), 1e-9);
  }
}

TEST(PathAttr, LongJourneysHashTheSameWay) {
  Dict d{{"a", 0}, {"b", 1}};
  std::string path;
  std::vector<std::string> pool{"a", "b", "x", "y"};
  for (int k = 0; k < 200; ++k) path += (k ? ">" : "") + pool[(k * 7) % 4 == 0 ? 3 : k % 3];
  std::vector<std::string> vy{path};
  std::vector<uli> vc{5};
  Rows r = run_vec(vy, vc, {}, d, {2, 0.5}, 1.25);
  Expected e = oracle(vy, vc, {}, d, {2, 0.5}, 1.25, false);
  expect_close(r.convs, e.convs);
}

// ---- drivers and the result file --------------------------------------------------

TEST(PathAttr, ResultFileHasTheExactLayout) {
  Dict d{{"A", 0}, {"B", 1}};
  Opts o;
  o.nulls = 1;
  o.paths = 1;
  o.row_sep = ";;";   // the header joins by the whole string, rows by its first character
  o.file_output = temp_path("out");
  Rows r = run_vec({"A > B > A", " z", "B"}, {4, 0, 1}, {8, 0, 0.5}, d, {3, 1}, 1, o);
  EXPECT_TRUE(r.id.empty() && r.convs.empty() && r.value.empty() && r.name.empty());
  EXPECT_EQ(r.loc, (std::vector<double>{3, 2}));
  EXPECT_EQ(slurp(o.file_output),
            "path_id;;path_name;;channel;;channel_position;;total_conversions;;"
            "total_conversion_value\n"
            "0;A > B > A;A;0;1.500000;3.000000\n"
            "0;A > B > A;B;1;1.000000;2.000000\n"
            "0;A > B > A;A;2;1.500000;3.000000\n"
            "1; z;z;0;0;0\n"
            "2;B;B;0;1.000000;0.500000\n");
  o.paths = 0;
  o.nulls = 0;
  o.row_sep = ",";
  run_vec({"A > B", "A"}, {2, 0}, {}, d, {1, 1}, 1, o);
  EXPECT_EQ(slurp(o.file_output),
            "path_id,channel,channel_position,total_conversions\n"
            "0,A,0,1.000000\n"
            "0,B,1,1.000000\n");
  std::remove(o.file_output.c_str());
}

TEST(PathAttr, FileDriverMatchesVectorDriver) {
  RandomSet s = random_set(4, 250);
  std::string text = "id;conv;path;value\n";
  for (size_t i = 0; i < s.vy.size(); ++i)
    text += std::to_string(i) + ";" + std::to_string(s.vc[i]) + ";" + s.vy[i] + ";" +
            fmt_f(s.vv[i]) + "\r\n";
  std::string f = write_file(text);
  std::vector<double> vv6;
  for (double x : s.vv) vv6.push_back(std::stod(fmt_f(x)));
  Opts o;
  o.nulls = 1;
  Rows a = run_file(f, "value", s.dict, s.w, s.mean_index, o);
  Rows b = run_vec(s.vy, s.vc, vv6, s.dict, s.w, s.mean_index, o);
  EXPECT_EQ(a.id, b.id);
  EXPECT_EQ(a.channel, b.channel);
  expect_close(a.convs, b.convs);
  expect_close(a.value, b.value);
  expect_close(a.loc, b.loc);
  Rows novalue = run_file(f, "", s.dict, s.w, s.mean_index, o);
  EXPECT_TRUE(novalue.value.empty());
  expect_close(novalue.convs, b.convs);
  std::remove(f.c_str());
}

// ---- faults -------------------------------------------------------------------------

template <class F>
void expect_invalid(F f, const std::string& fragment) {
  try {
    f();
    ADD_FAILURE() << "no error, expected one mentioning " << fragment;
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find(fragment), std::string::npos) << e.what();
  }
}

TEST(PathAttr, BadInputsAreClearErrors) {
  Dict d{{"A", 0}, {"B", 2}};
  expect_invalid([&] { run_vec({"A"}, {1}, {}, d, {1, 1}, 1); }, "channel 'B' has dictionary index 2");
  Dict ok{{"A", 0}};
  expect_invalid([&] { run_vec({"A", "A"}, {1}, {}, ok, {1}, 1); }, "conversions have 1 rows");
  Opts o;
  o.cha_sep = "";
  expect_invalid([&] { run_vec({"A"}, {1}, {}, ok, {1}, 1, o); }, "cha_sep");
}

}  // namespace
