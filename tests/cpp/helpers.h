// What the core tests share: temporary files that remove themselves, the
// console captured into lines, the message of an expected error, journeys
// (random ones, and as a delimited file), and two answers worked out
// without the library: path attribution of every touch point, and the
// absorbing Markov chain of a journey set solved by elimination.
#ifndef TOUCHLANE_TESTS_HELPERS_H
#define TOUCHLANE_TESTS_HELPERS_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/arma.h"
#include "common/common.h"
#include "journeys/journeys.h"

namespace tl_test {

#define EXPECT_HAS(text, part) EXPECT_NE((text).find(part), std::string::npos) << (text)

// ---- journeys -----------------------------------------------------------------

struct Journeys {
  std::vector<std::string> vy;
  std::vector<uli> vc, vn;
  std::vector<double> vv;
  JourneySource source() const { return vector_source(&vy, &vc, &vv, &vn); }
  // "path;conv;value;nulls" with a header line (values as "%f" so that
  // the file holds exactly what the vectors hold when values are whole).
  std::string csv() const {
    std::string t = "path;conv;value;nulls\n";
    for (size_t r = 0; r < vy.size(); ++r)
      t += vy[r] + ";" + std::to_string(vc[r]) + ";" + (vv.empty() ? "0" : fmt_f(vv[r])) + ";" +
           (vn.empty() ? "0" : std::to_string(vn[r])) + "\n";
    return t;
  }
};

// Journeys over channels a, b, c, ... with repeats (loops in a chain), both
// endings, and whole values; every journey has at least one conversion or
// null.
inline Journeys random_journeys(unsigned seed, int nrows, int nchannels = 4, int maxlen = 5) {
  std::mt19937 rng(seed);
  Journeys j;
  for (int r = 0; r < nrows; ++r) {
    std::string p;
    for (int k = 0, len = 1 + static_cast<int>(rng() % maxlen); k < len; ++k)
      p += (k ? " > " : "") + std::string(1, static_cast<char>('a' + rng() % nchannels));
    j.vy.push_back(p);
    j.vc.push_back(rng() % 4);
    j.vn.push_back(rng() % 4 + (j.vc.back() == 0 ? 1 : 0));
    j.vv.push_back(static_cast<double>(rng() % 100));
  }
  return j;
}

// ---- path attribution by hand ---------------------------------------------------
// Cuts at '>' character by character, squeezes and trims blanks, and gives
// each touch point its channel's weight (mean for a channel without one)
// over the weights of the journey's distinct channels, divided among the
// channel's repeats. Totals per weighted channel of converting journeys.
struct TouchRows {
  std::vector<double> id, chpos, convs, value;
  std::vector<std::string> channel;
  std::map<std::string, double> total;
};

inline std::vector<std::string> pieces_by_hand(const std::string& path) {
  std::vector<std::string> out;
  std::string cur;
  auto flush = [&] {
    std::string sq;
    for (char ch : cur)
      if (ch != ' ' || (!sq.empty() && sq.back() != ' ')) sq.push_back(ch);
    if (!sq.empty() && sq.back() == ' ') sq.pop_back();
    out.push_back(sq);
    cur.clear();
  };
  for (char ch : path)
    if (ch == '>') flush();
    else cur.push_back(ch);
  if (!cur.empty()) flush();
  return out;
}

inline TouchRows attribute_by_hand(const Journeys& j, const std::map<std::string, double>& w,
                                   double mean, bool nulls) {
  TouchRows e;
  for (size_t i = 0; i < j.vy.size(); ++i) {
    if (j.vc[i] == 0 && !nulls) continue;
    const std::vector<std::string> p = pieces_by_hand(j.vy[i]);
    std::map<std::string, int> times;
    for (auto& x : p) ++times[x];
    auto weight = [&](const std::string& x) { return w.count(x) ? w.at(x) : mean; };
    double sum = 0;
    for (auto& kv : times) sum += weight(kv.first);
    for (size_t k = 0; k < p.size(); ++k) {
      const double share = j.vc[i] == 0 ? 0.0 : weight(p[k]) / sum / times[p[k]];
      e.id.push_back(static_cast<double>(i));
      e.chpos.push_back(static_cast<double>(k));
      e.channel.push_back(p[k]);
      e.convs.push_back(static_cast<double>(j.vc[i]) * share);
      if (!j.vv.empty()) e.value.push_back(j.vv[i] * share);
      if (j.vc[i] > 0 && w.count(p[k])) e.total[p[k]] += static_cast<double>(j.vc[i]) * share;
    }
  }
  return e;
}

inline void expect_close(const std::vector<double>& got, const std::vector<double>& want,
                         double rel = 1e-12) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t k = 0; k < got.size(); ++k) {
    if (std::isnan(want[k])) EXPECT_TRUE(std::isnan(got[k])) << "entry " << k;
    else EXPECT_NEAR(got[k], want[k], rel * std::max(1.0, std::fabs(want[k]))) << "entry " << k;
  }
}

// ---- the Markov chain by hand ---------------------------------------------------
// States are windows of `order` channel names (the pieces between '>'
// trimmed of blanks, empty ones skipped); transition probabilities as the
// journeys count them. absorb() is the probability, from "(start)" (state
// 0), of ending in target 1 (conversion) or 2 (null) without entering a
// state holding channel `avoid`: exactly (elimination) when draws is 0,
// else within `draws` draws.
struct ExactChain {
  std::map<std::vector<std::string>, int> id;
  std::vector<std::vector<std::string>> names{{}, {}, {}};
  std::vector<std::map<int, double>> prob{{}, {}, {}};

  int state(const std::vector<std::string>& w) {
    const auto it = id.emplace(w, static_cast<int>(names.size()));
    if (it.second) names.push_back(w), prob.emplace_back();
    return it.first->second;
  }

  ExactChain(const Journeys& j, size_t order) {
    for (size_t r = 0; r < j.vy.size(); ++r) {
      std::vector<std::string> ch;   // pieces between '>' trimmed, blanks inside kept
      std::stringstream in(j.vy[r]);
      for (std::string p; std::getline(in, p, '>');)
        if (p.find_first_not_of(' ') != std::string::npos)
          ch.push_back(p.substr(p.find_first_not_of(' '), p.find_last_not_of(' ') - p.find_first_not_of(' ') + 1));
      const double w = static_cast<double>(j.vc[r] + (j.vn.empty() ? 0 : j.vn[r]));
      int prev = 0;
      for (size_t s = 0; !ch.empty() && (s == 0 || s + order <= ch.size()); ++s) {
        const int q = state({ch.begin() + s, ch.begin() + std::min(ch.size(), s + order)});
        if (w > 0) prob[prev][q] += w;
        prev = q;
      }
      if (j.vc[r]) prob[prev][1] += static_cast<double>(j.vc[r]);
      if (!j.vn.empty() && j.vn[r]) prob[prev][2] += static_cast<double>(j.vn[r]);
    }
    for (auto& row : prob) {
      double total = 0;
      for (auto& kv : row) total += kv.second;
      for (auto& kv : row) kv.second /= total;
    }
  }

  double absorb(int target, const std::string& avoid, int draws = 0) const {
    const int n = static_cast<int>(names.size());
    std::vector<char> stop(n, 0);   // absorbing: the two endings and avoided states
    stop[1] = stop[2] = 1;
    for (int s = 3; s < n; ++s) stop[s] = std::count(names[s].begin(), names[s].end(), avoid) > 0;
    if (draws > 0) {   // push the walks forward draw by draw
      std::vector<double> mass(n, 0.0);
      mass[0] = 1;
      double hit = 0;
      for (int d = 0; d < draws; ++d) {
        std::vector<double> next(n, 0.0);
        for (int x = 0; x < n; ++x)
          if (!stop[x])
            for (auto& kv : prob[x]) next[kv.first] += mass[x] * kv.second;
        hit += next[target];
        for (int x = 0; x < n; ++x) mass[x] = stop[x] ? 0 : next[x];
      }
      return hit;
    }
    // (I - Q) x = r over the states that do not stop the walk.
    std::vector<std::vector<double>> a(n, std::vector<double>(n + 1, 0.0));
    for (int x = 0; x < n; ++x) {
      a[x][x] = 1;
      if (stop[x]) continue;
      for (auto& kv : prob[x])
        if (kv.first == target) a[x][n] += kv.second;
        else if (!stop[kv.first]) a[x][kv.first] -= kv.second;
    }
    for (int c = 0; c < n; ++c) {
      int piv = c;
      for (int r = c + 1; r < n; ++r)
        if (std::fabs(a[r][c]) > std::fabs(a[piv][c])) piv = r;
      std::swap(a[c], a[piv]);
      for (int r = 0; r < n; ++r)
        for (int k = n; r != c && k >= c; --k) a[r][k] -= a[r][c] / a[c][c] * a[c][k];
    }
    return a[0][n] / a[0][0];
  }
  // Both endings at once without a step limit: LAPACK's dense solve of
  // (I - Q) [x_conv x_null] = [r_conv r_null], a self-loop kept on the
  // diagonal, the stopping states as identity rows (they end at 0).
  std::pair<double, double> absorb_lapack(const std::string& avoid) const {
    const arma::uword n = names.size();
    arma::mat a(n, n, arma::fill::eye), r(n, 2, arma::fill::zeros);
    for (arma::uword x = 0; x < n; ++x) {
      const bool stop = x == 1 || x == 2 ||
                        (x >= 3 && std::count(names[x].begin(), names[x].end(), avoid) > 0);
      if (stop) continue;
      for (auto& kv : prob[x])
        if (kv.first == 1 || kv.first == 2) r(x, kv.first - 1) += kv.second;
        else a(x, kv.first) -= kv.second;
    }
    const arma::mat sol = arma::solve(a, r);
    return {sol(0, 0), sol(0, 1)};
  }
  // Ending in conversion (1) or null (2) after passing through channel c.
  double via(int target, const std::string& c, int draws = 0) const {
    return absorb(target, "", draws) - absorb(target, c, draws);
  }
};

// A file in the temporary directory, removed with the object. The text,
// when given, is written to it.
struct TempFile {
  std::string name;
  TempFile() {
    char buf[] = "/tmp/touchlane_testXXXXXX";
    const int fd = mkstemp(buf);
    if (fd >= 0) close(fd);
    name = buf;
  }
  explicit TempFile(const std::string& text) : TempFile() { std::ofstream(name, std::ios::binary) << text; }
  ~TempFile() { std::remove(name.c_str()); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
};

inline std::string read_file(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> out;
  std::stringstream ss(text);
  for (std::string l; std::getline(ss, l);) out.push_back(l);
  return out;
}

// Everything the library prints while the object lives.
struct Console {
  std::ostringstream os;
  Console() { set_console_stream(&os); }
  ~Console() { set_console_stream(nullptr); }
  std::vector<std::string> lines() const { return split_lines(os.str()); }
};

// The message of the exception that f throws, "" when it returns.
template <class F>
std::string error_of(F&& f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

// ---- Added for the model tests (shapley, hta, order, budget, ...) --------
// Error tables: each row a call and the exact message of the
// std::invalid_argument it must throw.
struct ErrorRow {
  std::string message;
  std::function<void()> call;
};

inline void expect_errors(const std::vector<ErrorRow>& rows) {
  for (size_t i = 0; i < rows.size(); ++i) {
    std::string got = "(no error)";
    try {
      rows[i].call();
    } catch (const std::invalid_argument& e) {
      got = e.what();
    } catch (const std::exception& e) {
      got = std::string("(not invalid_argument) ") + e.what();
    }
    EXPECT_EQ(got, rows[i].message) << "row " << i + 1;
  }
}

// Sum of a vector, for totals that must be kept.
inline double total_of(const std::vector<double>& v) {
  double s = 0;
  for (double x : v) s += x;
  return s;
}

}  // namespace tl_test

#endif
