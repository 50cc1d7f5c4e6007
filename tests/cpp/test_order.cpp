#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "helpers.h"
#include "order/order.h"

namespace {

typedef std::vector<double> dbls;

struct Args {
  std::vector<std::string> vy;
  std::vector<uli> vc, vn;
  uli max_order = 2, nfold = 5, roc_npt = 100, seed = 42;
  double perc_test = 0.3, perc_tol = 0.0;
  int flg_type = 0, verbose = 0, flg_file = 0;
  std::string file, var_null = "null";
};

struct Result {
  dbls order, curve, best;
};

Result choose(Args a) {
  const JourneySource src = a.flg_file ? file_source(a.file, "path", "conv", "", a.var_null, ";")
                                       : vector_source(&a.vy, &a.vc, nullptr, &a.vn);
  OrderResult r = choose_order_run(src, {">", a.max_order, a.roc_npt, a.nfold, a.perc_test, a.seed,
                                         a.perc_tol, a.flg_type, a.verbose});
  return Result{r.vorder, r.vcurve, r.v_best_order};
}

Args journeys(std::vector<std::string> vy, std::vector<uli> vc, std::vector<uli> vn, uli max_order) {
  Args a;
  a.vy = vy, a.vc = vc, a.vn = vn, a.max_order = max_order;
  return a;
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
      (p > th ? tp : fn) += tc;
      (p > th ? fp : tn) += tni;
    }
    const double tpr = tp + fn == 0 ? 1 : tp / (tp + fn);
    const double fpr = fp + tn == 0 ? 0 : fp / (fp + tn);
    const double ppv = tp + fp == 0 ? 1 : tp / (tp + fp);
    const double x = flg_type == 0 ? fpr : tpr, y = flg_type == 0 ? tpr : ppv;
    area += (x_old - x) * (y_old + y) / 2;
    x_old = x, y_old = y;
  }
  return area;
}

TEST(Order, StatesAreTextsFromTheEndOfTheJourney) {
  order_tables t;
  choose_order_init(4, 1, 0.0, &t);
  for (std::string p : {"x > y > z", "z > y > z", "y > z", "", "x,y > z", "x|y>z"})
    choose_order_line_cpp(&p, 1, 0, '>', &t);
  EXPECT_EQ(t.vchannels, (std::vector<std::string>{"x", "y", "z", "x|y"}));
  // order 1: "z" and the empty state; order 2: "y z", "", "x|y z";
  // order 3 parts "x y z" from "z y z"; order 4 keeps short journeys' states.
  EXPECT_EQ(t.nchannels_2, (std::vector<uli>{2, 3, 5, 5}));
  EXPECT_EQ(t.all[0][1], 5u);
  EXPECT_EQ(t.all[1][1], 3u);
}

TEST(Order, AreaOfKnownCurves) {
  EXPECT_DOUBLE_EQ(choose(journeys({"A", "B"}, {200, 0}, {0, 200}, 1)).curve[0], 1.0);
  const Result useless = choose(journeys({"A"}, {100}, {100}, 1));
  EXPECT_EQ(useless.curve, dbls{0.5});
  EXPECT_EQ(useless.best, dbls{-1});   // max_order 1: nothing to choose
  Args none = journeys({"A > B", "B", "A > A"}, {3, 1, 0}, {1, 5, 2}, 3);
  none.perc_test = 0;   // no test sample: area one
  EXPECT_EQ(choose(none).curve, (dbls{1, 1, 1}));
}

// States seen only in the test, scored with the training rate, occur here too.
TEST(Order, SortedSweepEqualsTheLiteralPass) {
  std::mt19937 rng(5);
  for (double perc_test : {0.2, 0.5}) {
    order_tables t;
    choose_order_init(4, 3, perc_test, &t);
    gb::reseed(99);
    for (int j = 0; j < 400; ++j) {
      std::string p;
      for (int k = 0, l = rng() % 7; k < l; ++k) p += (k ? ">" : "") + std::string(1, 'a' + rng() % 6);
      choose_order_line_cpp(&p, rng() % 7 / 3, rng() % 7, '>', &t);
    }
    // Each unit is drawn for training with probability 1 - perc_test; the
    // totals the unseen states are scored with add up the training draws.
    for (uli f = 0; f < 3; ++f) {
      double train[2] = {0, 0}, all[2] = {0, 0};
      for (uli i = 0; i < t.nchannels_2[0]; ++i)
        for (int k : {0, 1}) train[k] += t.train[0][2 * (3 * i + f) + k], all[k] += t.all[0][2 * i + k];
      EXPECT_EQ(train[0], t.vtot_nulls_train[f]);
      EXPECT_EQ(train[1], t.vtot_convs_train[f]);
      for (int k : {0, 1}) EXPECT_NEAR(train[k] / all[k], 1 - perc_test, 0.06) << k;
    }
    for (uli o = 0; o < 4; ++o)
      for (uli f = 0; f < 3; ++f)
        for (int type : {0, 1})
          for (uli npt : {1ul, 2ul, 3ul, 7ul, 100ul, 1000ul})
            EXPECT_NEAR(choose_order_area(t, f, o, npt, type), brute_area(t, f, o, npt, type), 1e-12)
                << "order " << o + 1 << " fold " << f << " type " << type << " npt " << npt;
  }
}

// Few journeys: the rates of two thresholds tie often (fp == tn, tp == fp),
// which large samples almost never show.
TEST(Order, SweepOnSmallSamplesEqualsTheLiteralPass) {
  std::mt19937 rng(8);
  for (int rep = 0; rep < 60; ++rep) {
    order_tables t;
    choose_order_init(2, 2, 0.5, &t);
    gb::reseed(rep);
    for (int j = 0; j < 6; ++j) {
      std::string p;
      for (int k = 0, l = 1 + rng() % 3; k < l; ++k) p += (k ? ">" : "") + std::string(1, 'a' + rng() % 3);
      choose_order_line_cpp(&p, rng() % 3, rng() % 3, '>', &t);
    }
    for (uli o = 0; o < 2; ++o)
      for (uli f = 0; f < 2; ++f)
        for (int type : {0, 1})
          for (uli npt : {2ul, 4ul, 10ul})
            EXPECT_NEAR(choose_order_area(t, f, o, npt, type), brute_area(t, f, o, npt, type), 1e-12);
  }
}

TEST(Order, MedianOverFoldsAndTheChoiceRule) {
  // Conversion depends on the last two touch points only: order 2 gains a
  // lot over order 1, order 3 nothing.
  std::mt19937 rng(11);
  Args a;
  for (int j = 0; j < 600; ++j) {
    std::vector<int> s;
    std::string p;
    for (int k = 0, l = 2 + rng() % 4; k < l; ++k) {
      s.push_back(rng() % 3);
      p += (k ? ">" : "") + std::string(1, 'a' + s.back());
    }
    const bool good = (s[s.size() - 2] + s.back()) % 2 == 0;
    a.vy.push_back(p);
    a.vc.push_back(good ? 8 : 2);
    a.vn.push_back(good ? 2 : 8);
  }
  a.max_order = 4, a.roc_npt = 50, a.perc_tol = 0.01;
  const Result r = choose(a);
  EXPECT_EQ(r.order, (dbls{1, 2, 3, 4}));
  EXPECT_GT(r.curve[1], r.curve[0] * 1.05);
  EXPECT_EQ(r.best, dbls{2});
  EXPECT_EQ(choose(a).curve, r.curve);   // the seed fixes the folds
  a.perc_tol = -1;   // never enough: the negative maximum order
  EXPECT_EQ(choose(a).best, dbls{-4});
}

TEST(Order, EqualAreasWithNoToleranceChooseNoOrder) {
  // One-touch journeys have the same state at every order: equal areas,
  // and with perc_tol 0 an equal area is no reason to stop.
  Args a = journeys({"a", "b", "c", "a", "b"}, {5, 1, 3, 2, 0}, {1, 4, 3, 2, 6}, 3);
  const Result r = choose(a);
  EXPECT_EQ(r.curve[0], r.curve[1]);
  EXPECT_EQ(r.curve[1], r.curve[2]);
  EXPECT_GT(r.curve[0], 0.5);
  EXPECT_EQ(r.best, dbls{-3});
}

TEST(Order, EvenFoldCountTakesTheMeanOfTheMiddleAreas) {
  Args a = journeys({"a", "b", "a>b", "b>a", "a>a"}, {5, 1, 3, 2, 4}, {2, 6, 3, 4, 1}, 2);
  a.nfold = 4, a.perc_test = 0.4, a.roc_npt = 20, a.seed = 7;
  order_tables t;
  choose_order_init(2, 4, 0.4, &t);
  gb::reseed(7);
  for (size_t j = 0; j < a.vy.size(); ++j) choose_order_line_cpp(&a.vy[j], a.vc[j], a.vn[j], '>', &t);
  dbls areas;
  for (uli f = 0; f < 4; ++f) areas.push_back(choose_order_area(t, f, 1, 20, 0));
  std::sort(areas.begin(), areas.end());
  ASSERT_LT(areas[1], areas[2]);
  EXPECT_DOUBLE_EQ(choose(a).curve[1], (areas[1] + areas[2]) / 2);
}

TEST(Order, ProgressLines) {
  tl_test::Console console;
  Args a = journeys({"a", "b", ""}, {1, 0, 0}, {1, 3, 0}, 1);
  a.verbose = 1;
  choose(a);
  a.vc = {0, 0, 0}, a.vn = {0, 0, 0};
  choose(a);
  const std::string head = "**choose order**\nTransition matrices, number of paths elaborated: 3\nConversion rate: ";
  EXPECT_EQ(console.os.str(), head + "20.00%\n" + head + "0.00%\n");   // not 0 / 0
}

TEST(Order, ErrorTable) {
  tl_test::TempFile file("id;null;path;conv\n1;3;a > b;1\n");
  auto with = [&](void (*edit)(Args&)) {
    return [edit, &file] {
      Args a = journeys({"a", "b"}, {1, 1}, {1, 1}, 2);
      a.file = file.name;
      edit(a), choose(a);
    };
  };
  tl_test::expect_errors({
      {"max_order must be at least 1", with([](Args& a) { a.max_order = 0; })},
      {"nfold must be at least 1", with([](Args& a) { a.nfold = 0; })},
      {"roc_npt must be at least 1", with([](Args& a) { a.roc_npt = 0; })},
      {"roc_npt must be at most 10,000,000", with([](Args& a) { a.roc_npt = 10000001; })},
      {"flg_type must be 0 (auc-roc) or 1 (auc-prerec)", with([](Args& a) { a.flg_type = 2; })},
      {"journeys: conversions have 1 rows, paths 2", with([](Args& a) { a.vc = {1}; })},
      {"column 'nulls' (var_null) not found in the header of '" + file.name + "'", with([](Args& a) { a.flg_file = 1, a.var_null = "nulls"; })},
  });
}

}  // namespace
