#include <gtest/gtest.h>

#include <map>
#include <random>
#include <sstream>

#include "heuristic/heuristic.h"

namespace {

struct Rules {
  std::map<std::string, double> pos, lnd, pos_value;
};

Rules rules(std::vector<std::string> vy, std::vector<uli> vc, std::vector<double> vv,
            double f = 0.4, double l = 0.4, std::vector<std::string> direct = {"direct"}) {
  int flg_file = 0, verbose = 0;
  std::string none, rs = ";", cs = ">";
  std::vector<std::string> ch;
  std::vector<double> pc, pv, lc, lv;
  rule_models_cpp(&flg_file, &none, &none, &none, &none, &vy, &vc, &vv, &rs, &cs, &f, &l, &direct,
                  &verbose, &ch, &pc, &pv, &lc, &lv);
  Rules r;
  for (size_t k = 0; k < ch.size(); ++k) {
    r.pos[ch[k]] = pc[k];
    r.lnd[ch[k]] = lc[k];
    if (!pv.empty()) r.pos_value[ch[k]] = pv[k];
  }
  return r;
}

// Journeys worked by hand, one rule setting each.
TEST(RuleModels, HandWorkedJourneys) {
  struct Case {
    std::string path;
    double f, l;
    std::map<std::string, double> pos, lnd;
  };
  const std::vector<Case> cases = {
      {"a", 0.4, 0.4, {{"a", 10}}, {{"a", 10}}},
      {"a > b", 0.4, 0.4, {{"a", 5}, {"b", 5}}, {{"a", 0}, {"b", 10}}},
      {"a > b", 0.3, 0.5, {{"a", 3.75}, {"b", 6.25}}, {{"a", 0}, {"b", 10}}},
      {"a > b", 0, 0, {{"a", 5}, {"b", 5}}, {{"a", 0}, {"b", 10}}},
      {"a > b > c > d", 0.4, 0.4, {{"a", 4}, {"b", 1}, {"c", 1}, {"d", 4}},
       {{"a", 0}, {"b", 0}, {"c", 0}, {"d", 10}}},
      {"a >  b > a", 0.4, 0.4, {{"a", 8}, {"b", 2}}, {{"a", 10}, {"b", 0}}},
      {"a > direct", 0.5, 0.5, {{"a", 5}, {"direct", 5}}, {{"a", 10}, {"direct", 0}}},
      {"direct > a > direct > direct", 0.2, 0.2, {{"direct", 7}, {"a", 3}},
       {{"direct", 0}, {"a", 10}}},
      {"direct > direct", 0.4, 0.4, {{"direct", 10}}, {{"direct", 10}}},
  };
  for (const Case& c : cases) {
    Rules r = rules({c.path, "e"}, {10, 0}, {100, 7}, c.f, c.l);
    EXPECT_EQ(r.pos.at("e"), 0) << "a journey without conversions attributes nothing";
    r.pos.erase("e");
    r.lnd.erase("e");
    for (auto& kv : c.pos) {
      EXPECT_NEAR(r.pos.at(kv.first), kv.second, 1e-12) << c.path << " " << kv.first;
      EXPECT_NEAR(r.pos_value.at(kv.first), 10 * kv.second, 1e-12) << c.path;
    }
    EXPECT_EQ(r.lnd, c.lnd) << c.path;
  }
  EXPECT_THROW(rules({"a"}, {1}, {}, 0.7, 0.4), std::invalid_argument);
  EXPECT_THROW(rules({"a"}, {1}, {}, -0.1, 0.4), std::invalid_argument);
}

// Random journeys against a per-channel computation: channel x receives,
// from each journey, its first-touch, last-touch and middle-touch shares
// counted separately, and the last non-direct touch found from the end.
TEST(RuleModels, PerChannelComputationOnRandomJourneys) {
  std::mt19937 rng(4);
  const std::vector<std::string> names = {"a", "b", "direct", "c", "seo"};
  std::vector<std::string> vy;
  std::vector<uli> vc;
  for (int r = 0; r < 300; ++r) {
    std::vector<std::string> t;
    for (int k = 0, n = 1 + rng() % 6; k < n; ++k) t.push_back(names[rng() % names.size()]);
    std::string p;
    for (auto& x : t) p += (p.empty() ? "" : ">") + x;
    vy.push_back(p);
    vc.push_back(rng() % 4);
  }
  const double f = 0.35, l = 0.25;
  const Rules r = rules(vy, vc, {}, f, l, {"direct", "seo"});
  for (const std::string& x : names) {
    double pos = 0, lnd = 0;
    for (size_t i = 0; i < vy.size(); ++i) {
      std::vector<std::string> t;
      std::stringstream ss(vy[i]);
      for (std::string tok; std::getline(ss, tok, '>');) t.push_back(tok);
      const double c = static_cast<double>(vc[i]);
      const size_t n = t.size();
      if (n == 1) pos += t[0] == x ? c : 0;
      else if (n == 2) pos += c * ((t[0] == x) * f + (t[1] == x) * l) / (f + l);
      else {
        double middle = 0;
        for (size_t k = 1; k + 1 < n; ++k) middle += t[k] == x;
        pos += c * ((t[0] == x) * f + (t[n - 1] == x) * l + middle * (1 - f - l) / (n - 2));
      }
      std::string chosen = t.back();
      for (auto it = t.rbegin(); it != t.rend(); ++it)
        if (*it != "direct" && *it != "seo") {
          chosen = *it;
          break;
        }
      lnd += chosen == x ? c : 0;
    }
    EXPECT_NEAR(r.pos.at(x), pos, 1e-9) << x;
    EXPECT_NEAR(r.lnd.at(x), lnd, 1e-9) << x;
  }
}

}  // namespace
