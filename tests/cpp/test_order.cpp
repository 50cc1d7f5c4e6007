#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <random>
#include <sstream>

#include "order/order.h"

namespace {

struct Result {
  std::vector<double> order, curve, best;
};

Result choose(std::vector<std::string> vy, std::vector<uli> vc, std::vector<uli> vn,
              uli max_order, uli nfold = 5, double perc_test = 0.3, int flg_type = 0,
              uli roc_npt = 100, double perc_tol = 0.0, uli seed = 42, int verbose = 0) {
  Result r;
  int flg_file = 0;
  std::string file, vp = "path", vcn = "conv", vnn = "null", rs = ";", cs = ">";
  choose_order_cpp(&flg_file, &file, &vp, &vcn, &vnn, &rs, &vy, &vc, &vn, &max_order, &cs,
                   &roc_npt, &nfold, &perc_test, &seed, &perc_tol, &flg_type, &verbose, &r.order,
                   &r.curve, &r.best);
  return r;
}

// The area computed literally: one pass over every state per threshold.
double brute_area(const order_tables& t, uli f, uli o, uli roc_npt, int flg_type) {
  const uli F = t.nfold;
  const double rate = double(t.vtot_convs_train[f]) /
                      double(t.vtot_convs_train[f] + t.vtot_nulls_train[f]);
  double x_old = 1, y_old = flg_type == 0 ? 1 : 0, area = 0;
  for (uli h = 1; h <= roc_npt; ++h) {
    const double th = double(h) / double(roc_npt);
    double tp = 0, fn = 0, fp = 0, tn = 0;
    for (uli i = 0; i < t.nchannels_2[o]; ++i) {
      const double n = double(t.train[o][2 * (F * i + f)]), c = double(t.train[o][2 * (F * i + f) + 1]);
      const double p = c + n == 0 ? rate : c / (c + n);
      const double tc = double(t.all[o][2 * i + 1]) - c, tni = double(t.all[o][2 * i]) - n;
      if (p > th) { tp += tc; fp += tni; } else { fn += tc; tn += tni; }
    }
    const double tpr = tp + fn == 0 ? 1 : tp / (tp + fn);
    const double fpr = fp + tn == 0 ? 0 : fp / (fp + tn);
    const double ppv = tp + fp == 0 ? 1 : tp / (tp + fp);
    const double x = flg_type == 0 ? fpr : tpr, y = flg_type == 0 ? tpr : ppv;
    area += (x_old - x) * (y_old + y) / 2;
    x_old = x;
    y_old = y;
  }
  return area;
}

void expect_throws_with(const std::function<void()>& f, const std::string& part) {
  try {
    f();
    ADD_FAILURE() << "no exception, expected one mentioning " << part;
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find(part), std::string::npos) << e.what();
  }
}

struct CaptureConsole {
  std::ostringstream out;
  CaptureConsole() { set_console_stream(&out); }
  ~CaptureConsole() { set_console_stream(nullptr); }
};

}  // namespace

TEST(OrderStates, TextsFromTheEndOfTheJourney) {
  order_tables t;
  choose_order_init(4, 1, 0.0, &t);
  // channel indices: x 0, y 1, z 2
  for (std::string p : {"x > y > z", "z > y > z", "y > z", "", "x,y > z", "x|y>z"})
    choose_order_line_cpp(&p, 1, 0, '>', &t);
  EXPECT_EQ(t.vchannels, (std::vector<std::string>{"x", "y", "z", "x|y"}));
  // order 1: " 2" for every journey ending in z, and the empty state
  EXPECT_EQ(t.nchannels_2[0], 2u);
  EXPECT_EQ(t.all[0][1], 5u);
  // order 2: " 2 1" (x>y>z, z>y>z, y>z), " " (empty), " 2 3" (x|y > z twice)
  EXPECT_EQ(t.nchannels_2[1], 3u);
  EXPECT_EQ(t.all[1][1], 3u);
  // order 3: " 2 1 0", " 2 1 2", " 2 1" (y > z is shorter), empty, " 2 3"
  EXPECT_EQ(t.nchannels_2[2], 5u);
  // order 4 keeps the order-3 texts of the short journeys
  EXPECT_EQ(t.nchannels_2[3], 5u);
}

TEST(OrderArea, PerfectAndUselessPredictors) {
  Result perfect = choose({"A", "B"}, {200, 0}, {0, 200}, 1);
  EXPECT_DOUBLE_EQ(perfect.curve[0], 1.0);
  Result useless = choose({"A"}, {100}, {100}, 1);
  EXPECT_DOUBLE_EQ(useless.curve[0], 0.5);
  EXPECT_EQ(useless.best, std::vector<double>{-1});   // max_order 1: nothing to choose
  EXPECT_EQ(useless.order, std::vector<double>{1});
}

TEST(OrderArea, EmptyTestSampleGivesAreaOne) {
  Result r = choose({"A > B", "B", "A > A"}, {3, 1, 0}, {1, 5, 2}, 3, 4, 0.0);
  EXPECT_EQ(r.curve, (std::vector<double>{1, 1, 1}));
}

TEST(OrderArea, StateSeenOnlyInTestGetsTheTrainingRate) {
  order_tables t;
  choose_order_init(1, 1, 0.0, &t);
  std::string a = "A", b = "B", c = "C";
  choose_order_line_cpp(&a, 1, 3, '>', &t);   // trained at 0.25
  choose_order_line_cpp(&b, 3, 1, '>', &t);   // trained at 0.75
  t.perc_test = 1.0;                          // from here on everything is test
  choose_order_line_cpp(&a, 0, 1, '>', &t);
  choose_order_line_cpp(&c, 1, 0, '>', &t);   // unseen in training: rate 4/8
  // C (0.5) ranks above A (0.25): perfect separation. A score of 0 or of
  // A's rate for C would give 0.5.
  EXPECT_DOUBLE_EQ(choose_order_area(t, 0, 0, 4, 0), 1.0);
  EXPECT_DOUBLE_EQ(brute_area(t, 0, 0, 4, 0), 1.0);
}

TEST(OrderArea, SortedSweepEqualsTheLiteralPassOnRandomJourneys) {
  std::mt19937 rng(5);
  std::uniform_int_distribution<int> len(0, 6), ch(0, 5), cnt(0, 6);
  for (double perc_test : {0.2, 0.5}) {
    order_tables t;
    choose_order_init(4, 3, perc_test, &t);
    gb::reseed(99);
    for (int j = 0; j < 400; ++j) {
      std::string p;
      for (int k = 0, l = len(rng); k < l; ++k) p += (k ? ">" : "") + std::string(1, 'a' + ch(rng));
      choose_order_line_cpp(&p, cnt(rng) / 3, cnt(rng), '>', &t);
    }
    for (uli o = 0; o < 4; ++o)
      for (uli f = 0; f < 3; ++f)
        for (int type : {0, 1})
          for (uli npt : {1ul, 2ul, 3ul, 7ul, 10ul, 100ul, 1000ul})
            EXPECT_NEAR(choose_order_area(t, f, o, npt, type), brute_area(t, f, o, npt, type),
                        1e-12) << "order " << o + 1 << " fold " << f << " type " << type;
  }
}

TEST(OrderChoice, MedianOverFoldsAndTheChoiceRule) {
  // Conversion depends on the last two touch points only: order 2 gains a
  // lot over order 1, order 3 nothing.
  std::mt19937 rng(11);
  std::uniform_int_distribution<int> len(2, 5), ch(0, 2);
  std::vector<std::string> vy;
  std::vector<uli> vc, vn;
  for (int j = 0; j < 600; ++j) {
    std::vector<int> s;
    std::string p;
    for (int k = 0, l = len(rng); k < l; ++k) {
      s.push_back(ch(rng));
      p += (k ? ">" : "") + std::string(1, 'a' + s.back());
    }
    const bool good = (s[s.size() - 2] + s.back()) % 2 == 0;
    vy.push_back(p);
    vc.push_back(good ? 8 : 2);
    vn.push_back(good ? 2 : 8);
  }
  Result r = choose(vy, vc, vn, 4, 5, 0.3, 0, 50, 0.01);
  EXPECT_EQ(r.order, (std::vector<double>{1, 2, 3, 4}));
  EXPECT_GT(r.curve[1], r.curve[0] * 1.05);
  EXPECT_EQ(r.best, std::vector<double>{2});
  // The same seed gives the same areas.
  EXPECT_EQ(choose(vy, vc, vn, 4, 5, 0.3, 0, 50, 0.01).curve, r.curve);
  // An impossible tolerance never stops: the negative maximum order.
  EXPECT_EQ(choose(vy, vc, vn, 4, 5, 0.3, 0, 50, -1.0).best, std::vector<double>{-4});
}

TEST(OrderChoice, EvenFoldCountTakesTheMeanOfTheMiddleAreas) {
  std::vector<std::string> vy = {"a", "b", "a>b", "b>a", "a>a"};
  std::vector<uli> vc = {5, 1, 3, 2, 4}, vn = {2, 6, 3, 4, 1};
  order_tables t;
  choose_order_init(2, 4, 0.4, &t);
  gb::reseed(7);
  for (size_t j = 0; j < vy.size(); ++j) choose_order_line_cpp(&vy[j], vc[j], vn[j], '>', &t);
  std::vector<double> a;
  for (uli f = 0; f < 4; ++f) a.push_back(choose_order_area(t, f, 1, 20, 0));
  std::sort(a.begin(), a.end());
  Result r = choose(vy, vc, vn, 2, 4, 0.4, 0, 20, 0.0, 7);
  EXPECT_DOUBLE_EQ(r.curve[1], (a[1] + a[2]) / 2);
}

TEST(OrderChoice, ProgressLines) {
  CaptureConsole console;
  choose({"a", "b"}, {1, 0}, {1, 3}, 2, 2, 0.3, 1, 10, 0.0, 1, 1);
  EXPECT_EQ(console.out.str(),
            "**choose order**\n"
            "Transition matrices, number of paths elaborated: 2\n"
            "Conversion rate: 20.00%\n");
  console.out.str("");
  choose({"a", ""}, {0, 0}, {0, 0}, 1, 1, 0.3, 0, 10, 0.0, 1, 1);
  EXPECT_NE(console.out.str().find("Conversion rate: 0.00%\n"), std::string::npos);
}

TEST(OrderChoice, BadArgumentsThrow) {
  expect_throws_with([] { choose({"a"}, {1}, {1}, 0); }, "max_order");
  expect_throws_with([] { choose({"a"}, {1}, {1}, 2, 0); }, "nfold");
  expect_throws_with([] { choose({"a"}, {1}, {1}, 2, 2, 0.3, 0, 0); }, "roc_npt");
  expect_throws_with([] { choose({"a"}, {1}, {1}, 2, 2, 0.3, 0, 10000001); }, "at most 10,000,000");
  expect_throws_with([] { choose({"a"}, {1}, {1}, 2, 2, 0.3, 2); }, "flg_type");
  expect_throws_with([] { choose({"a", "b"}, {1}, {1, 1}, 2); }, "conversions");
}

TEST(OrderChoice, FileAndVectorsAgree) {
  const std::string f = testing::TempDir() + "order_journeys.csv";
  {
    std::ofstream out(f);
    out << "id;null;path;conv\n1;3;a > b;1\n2;0;b;2\n3;5;a;0\n4;1;b > b > a;4\n";
  }
  Result v = choose({"a > b", "b", "a", "b > b > a"}, {1, 2, 0, 4}, {3, 0, 5, 1}, 3, 3, 0.4);
  Result r;
  int flg_file = 1, flg_type = 0, verbose = 0;
  uli max_order = 3, roc_npt = 100, nfold = 3, seed = 42;
  double perc_test = 0.4, perc_tol = 0.0;
  std::string file = f, vp = "path", vcn = "conv", vnn = "null", rs = ";", cs = ">";
  std::vector<std::string> vy;
  std::vector<uli> vc, vn;
  choose_order_cpp(&flg_file, &file, &vp, &vcn, &vnn, &rs, &vy, &vc, &vn, &max_order, &cs,
                   &roc_npt, &nfold, &perc_test, &seed, &perc_tol, &flg_type, &verbose, &r.order,
                   &r.curve, &r.best);
  EXPECT_EQ(r.curve, v.curve);
  vnn = "nulls";
  expect_throws_with([&] {
    choose_order_cpp(&flg_file, &file, &vp, &vcn, &vnn, &rs, &vy, &vc, &vn, &max_order, &cs,
                     &roc_npt, &nfold, &perc_test, &seed, &perc_tol, &flg_type, &verbose,
                     &r.order, &r.curve, &r.best);
  }, "nulls");
  std::remove(f.c_str());
}

TEST(OrderChoice, ProgressAfterEveryMillionJourneys) {
  CaptureConsole console;
  std::vector<std::string> vy(1000001, "a");
  std::vector<uli> vc(1000001, 0), vn(1000001, 0);
  vc[0] = 1;
  vn[1] = 1;
  choose(vy, vc, vn, 1, 1, 0.3, 0, 1, 0.0, 1, 1);
  EXPECT_EQ(console.out.str(),
            "**choose order**\n"
            "Transition matrices, number of paths elaborated: 1,000,000\n"
            "Transition matrices, number of paths elaborated: 1,000,001\n"
            "Conversion rate: 50.00%\n");
}
