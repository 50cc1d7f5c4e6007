// Model comparison timings: niter 10, markov_order 3 on 100,000 distinct
// journeys. The whole run is split into its phases by the time each
// progress line reaches the console; each model is then timed once on a
// sample of the run's size.
// Build and run from the package root:
//   cmake -S tests/cpp -B build/plain && cmake --build build/plain --target bench_compare
//   build/plain/bench_compare
#include <chrono>
#include <cstdio>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "compare/compare.h"
#include "heuristic/heuristic.h"
#include "logistic/logistic.h"
#include "markov/markov.h"
#include "shapley/shapley.h"

namespace {
using Clock = std::chrono::steady_clock;
double since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// Remembers when each line was printed.
struct Stamps : std::stringbuf {
  std::vector<std::pair<std::string, double>> lines;
  Clock::time_point start = Clock::now();
  std::string cur;
  int overflow(int c) override {
    if (c == '\n') { lines.emplace_back(cur, since(start)); cur.clear(); }
    else if (c != EOF) cur.push_back(static_cast<char>(c));
    return c;
  }
};

void out(const std::string& s) { printA(s); }
}  // namespace

int main() {
  const uli n = 100000;
  std::mt19937 rng(1);
  const char* ch[] = {"display", "paid search", "email", "social", "organic",
                      "affiliate", "direct", "tv", "radio", "print", "video", "partner"};
  std::uniform_int_distribution<int> len(1, 7), pick(0, 11);
  std::poisson_distribution<int> conv(0.4), nul(8);
  std::set<std::string> seen;
  std::vector<std::string> vy;
  std::vector<uli> vc, vn;
  while (vy.size() < n) {
    std::string p;
    for (int t = len(rng); t > 0; --t) p += (p.empty() ? "" : " > ") + std::string(ch[pick(rng)]);
    if (!seen.insert(p).second) continue;
    vy.push_back(p);
    vc.push_back(static_cast<uli>(conv(rng)));
    vn.push_back(static_cast<uli>(nul(rng)));
  }
  char host[256] = "?";
  gethostname(host, sizeof host);
  out(std::string("machine: ") + host + ", " + std::to_string(sysconf(_SC_NPROCESSORS_ONLN)) + " cores");
  out(std::to_string(vy.size()) + " distinct journeys, 12 channels, perc_sample 0.1, niter 10, markov_order 3");

  Stamps st;
  std::ostream os(&st);
  set_console_stream(&os);
  CompareSettings settings;
  settings.max_markov_order = 3;
  settings.seed = 1;
  settings.verbose = 1;
  const auto t0 = Clock::now();
  const CompareResult r = compare_mta_run({vy, vc, vn}, settings);
  const double total = since(t0);
  set_console_stream(nullptr);

  double sampling = 0, models = 0, population = 0, prev = 0;
  std::string phase = "prep";
  double prep = 0;
  for (const auto& [line, t] : st.lines) {
    const double dt = t - prev;
    if (phase == "prep") prep += dt;
    else if (phase == "sample") sampling += dt;
    else if (phase == "models") models += dt;
    else if (phase == "population") population += dt;
    if (line == "Random sample from population") phase = "sample";
    else if (line.rfind("Attribution (", 0) == 0) phase = "models";
    else if (line == "Random sample from population given new traffic") phase = "population";
    else if (line.rfind("Iter: ", 0) == 0) phase = "iter";
    prev = t;
  }
  population += total - prev;
  char buf[256];
  std::snprintf(buf, sizeof buf, "whole run %.2f s: preparation %.2f, sampling %.2f, models %.2f, "
                "population under new traffic %.2f (%zu generations)", total, prep, sampling,
                models, population, 10 * (r.model_names.size() - 1));
  out(buf);

  // One sample of the run's size, then each model once on it.
  std::map<std::string, uli> mp;
  std::vector<std::string> vch;
  uli nall = 0, mt = 0;
  encoding_channels_cpp(&vy, ">", &mp, &vch, &nall, &mt);
  std::vector<std::string> vpath;
  std::vector<bool> visconv;
  std::vector<double> w;
  for (size_t i = 0; i < vy.size(); ++i) {
    if (vc[i]) { vpath.push_back(vy[i]); visconv.push_back(true); w.push_back(static_cast<double>(vc[i])); }
    if (vn[i]) { vpath.push_back(vy[i]); visconv.push_back(false); w.push_back(static_cast<double>(vn[i])); }
  }
  double tot = 0, cum = 0;
  for (double x : w) tot += x;
  std::vector<double> vfreq;
  for (double x : w) vfreq.push_back(cum += x / tot);
  const uli nsim = static_cast<uli>(0.1 * tot);
  std::vector<uli> vidy1, vc1, vn1;
  std::vector<std::string> vy1;
  gb::reseed(1);
  auto t = Clock::now();
  path_generator(&vpath, &visconv, {}, vfreq, nall - 3, {}, nsim, &vidy1, &vy1, &vc1, &vn1);
  std::snprintf(buf, sizeof buf, "sample of %lu draws (%zu distinct paths): %.3f s", nsim, vy1.size(), since(t));
  out(buf);

  // The settings the comparison runs every model with.
  std::vector<double> vv;
  JourneySource src = vector_source(&vy1, &vc1, &vv, &vn1);
  src.field_sep = ";";
  t = Clock::now();
  heuristic_run(src, HeuristicSettings{" ", 1, 0, "", 0});
  std::snprintf(buf, sizeof buf, "heuristic (three models): %.3f s", since(t));
  out(buf);
  t = Clock::now();
  ShapleySettings sh;
  sh.cha_sep = " ";
  sh.flg_simplified = 1;
  sh.type_worth = 2;
  sh.flg_write_nulls = 1;
  shapley_run(src, sh);
  std::snprintf(buf, sizeof buf, "shapley: %.3f s", since(t));
  out(buf);
  t = Clock::now();
  logistic_run(src, LogisticSettings{" ", 1, 0, ""});
  std::snprintf(buf, sizeof buf, "logistic regression: %.3f s", since(t));
  out(buf);
  for (uli o = 1; o <= 3; ++o) {
    MarkovSettings m;
    m.type = 2;
    m.order = o;
    m.seed = 1;
    m.flg_write_nulls = 1;
    t = Clock::now();
    markov_run(src, " ", m);
    std::snprintf(buf, sizeof buf, "markov order %lu: %.3f s", o, since(t));
    out(buf);
  }
  std::vector<double> traffic(nall - 3, 0.0);
  for (size_t i = 0; i < vy1.size(); ++i)
    for (uli tk : split2(vy1[i], ' ')) traffic[tk - 1] += static_cast<double>(vc1[i] + vn1[i]);
  std::vector<uli> gi, gc, gn;
  std::vector<std::string> gy;
  t = Clock::now();
  path_generator(&vpath, &visconv, {}, vfreq, nall - 3, traffic, 0, &gi, &gy, &gc, &gn);
  std::snprintf(buf, sizeof buf, "one population under traffic: %.3f s", since(t));
  out(buf);
  return 0;
}
