#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "heuristic/heuristic.h"

namespace {

struct Out {
  std::vector<double> id, chpos, cf, vf, cl, vl, cn, vn;
  std::vector<std::string> name, channel;
};

Out run_vec(std::vector<std::string> vy, std::vector<uli> vc, std::vector<double> vv,
            int nulls = 0, int paths = 0, std::string file_output = "") {
  Out o;
  int flg_file = 0, verbose = 0;
  std::string file, vp = "path", vcn = "conv", vvn = "", rs = ";", cs = ">";
  heuristic_models_cpp(&flg_file, &file, &vp, &vcn, &vvn, &vy, &vc, &vv, &rs, &cs, &nulls, &paths,
                       &file_output, &verbose, &o.id, &o.name, &o.channel, &o.chpos, &o.cf, &o.vf,
                       &o.cl, &o.vl, &o.cn, &o.vn);
  return o;
}

std::string slurp(const std::string& f) {
  std::ifstream in(f);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

TEST(Heuristic, ThreeTouchJourney) {
  Out o = run_vec({"A > B > C"}, {2}, {10});
  ASSERT_EQ(o.id.size(), 3u);
  EXPECT_EQ(o.cf, (std::vector<double>{2, 0, 0}));
  EXPECT_EQ(o.vf, (std::vector<double>{10, 0, 0}));
  EXPECT_EQ(o.cl, (std::vector<double>{0, 0, 2}));
  EXPECT_EQ(o.vl, (std::vector<double>{0, 0, 10}));
  for (int k = 0; k < 3; ++k) {
    EXPECT_DOUBLE_EQ(o.cn[k], 2.0 / 3);
    EXPECT_DOUBLE_EQ(o.vn[k], 10.0 / 3);
  }
  EXPECT_TRUE(o.name.empty());
}

TEST(Heuristic, RepeatsSingleTouchAndNulls) {
  Out o = run_vec({"A > B > A", "A > A", "x", "q > r", " A>A  "}, {1, 1, 3, 0, 1}, {}, 1, 1);
  EXPECT_EQ(o.cn[0], 0.25);
  EXPECT_EQ(o.cn[1], 0.5);
  EXPECT_EQ(o.cn[2], 0.25);
  EXPECT_EQ(o.cf[3], 1.0);
  EXPECT_EQ(o.cl[4], 1.0);
  EXPECT_EQ(o.cn[4], 0.5);
  EXPECT_EQ(o.cf[5], 3.0);   // single touch is first and last
  EXPECT_EQ(o.cl[5], 3.0);
  EXPECT_EQ(o.id[6], 3.0);   // null journey rows, all zero
  EXPECT_EQ(o.cf[6] + o.cl[6] + o.cn[6], 0.0);
  EXPECT_EQ(o.channel[8], "A");   // blanks trimmed, one channel
  EXPECT_EQ(o.cn[8], 0.5);
  EXPECT_EQ(o.name[8], " A>A  ");
  EXPECT_TRUE(o.vf.empty());
}

TEST(Heuristic, NullJourneyConsumesItsIndex) {
  Out o = run_vec({"a", "b", "c"}, {1, 0, 1}, {});
  EXPECT_EQ(o.id, (std::vector<double>{0, 2}));
}

// Per-channel totals against an independent count on random journeys.
TEST(Heuristic, RandomJourneysAgainstDirectTotals) {
  std::mt19937 rng(7);
  std::vector<std::string> vy;
  std::vector<uli> vc;
  std::vector<double> vv;
  std::map<std::string, double> first, last, linear, linear_value;
  for (int j = 0; j < 500; ++j) {
    int len = 1 + rng() % 6;
    std::vector<std::string> ch;
    std::string path;
    for (int k = 0; k < len; ++k) {
      ch.push_back(std::string(1, static_cast<char>('a' + rng() % 5)));
      path += (k ? " > " : "") + ch.back();
    }
    uli c = rng() % 3;
    double v = (rng() % 1000) / 10.0;
    vy.push_back(path); vc.push_back(c); vv.push_back(v);
    if (!c) continue;
    first[ch.front()] += c;
    last[ch.back()] += c;
    std::map<std::string, int> distinct;
    for (auto& x : ch) distinct[x] = 1;
    for (auto& d : distinct) {
      linear[d.first] += static_cast<double>(c) / distinct.size();
      linear_value[d.first] += v / distinct.size();
    }
  }
  Out o = run_vec(vy, vc, vv);
  std::map<std::string, double> f, l, n, nv;
  for (size_t r = 0; r < o.channel.size(); ++r) {
    f[o.channel[r]] += o.cf[r];
    l[o.channel[r]] += o.cl[r];
    n[o.channel[r]] += o.cn[r];
    nv[o.channel[r]] += o.vn[r];
  }
  for (auto& kv : first) EXPECT_DOUBLE_EQ(f[kv.first], kv.second);
  for (auto& kv : last) EXPECT_DOUBLE_EQ(l[kv.first], kv.second);
  for (auto& kv : linear) EXPECT_NEAR(n[kv.first], kv.second, 1e-9);
  for (auto& kv : linear_value) EXPECT_NEAR(nv[kv.first], kv.second, 1e-9);
}

TEST(Heuristic, ResultFileFormat) {
  std::string out = "/tmp/touchlane_heur_out.csv";
  Out o = run_vec({"A > B", "C", "D > E"}, {2, 1, 0}, {7.5, 1, 0}, 1, 1, out);
  EXPECT_TRUE(o.id.empty());
  EXPECT_EQ(slurp(out),
            "path_id;path_name;channel;channel_position;first_touch_conversions;first_touch_value;"
            "last_touch_conversions;last_touch_value;linear_touch_conversions;linear_touch_value\n"
            "0;A > B;A;0;2;7.500000;0.000000;0.000000;1.000000;3.750000\n"
            "0;A > B;B;1;0.000000;0.000000;2;7.500000;1.000000;3.750000\n"
            "1;C;C;0;1;1.000000;1;1.000000;1.000000;1.000000\n"
            "2;D > E;D;0;0;0;0;0;0;0\n"
            "2;D > E;E;1;0;0;0;0;0;0\n");
  o = run_vec({"A > B", "C"}, {1, 0}, {}, 1, 0, out);
  EXPECT_EQ(slurp(out),
            "path_id;channel;channel_position;first_touch_conversions;last_touch_conversions;"
            "linear_touch_conversions\n"
            "0;A;0;1;0.000000;0.500000\n"
            "0;B;1;0.000000;1;0.500000\n"
            "1;C;0;0;0;0\n");
  std::remove(out.c_str());
}

}  // namespace
