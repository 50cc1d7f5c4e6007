// Shared by the Markov tests: running the model on in-memory journeys,
// random journeys with loops, and an exact absorbing-chain solution built
// independently of the library (dense elimination over channel names).
#ifndef TOUCHLANE_TESTS_MARKOV_HELPERS_H
#define TOUCHLANE_TESTS_MARKOV_HELPERS_H

#include <cmath>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "markov/markov.h"

namespace markov_test {

// ---- running the model -----------------------------------------------------

struct Journeys {
  std::vector<std::string> vy;
  std::vector<uli> vc, vn;
  std::vector<double> vv;
};

struct Settings {
  int type = 0;
  uli order = 1, nsim_start = 20000, max_step = 0, ncore = 2, nfold = 10, seed = 7;
  double conv_par = 0.05, rate_step_sim = 1.5;
  int verbose = 0, flg_out_tran_mtx = 0, flg_out_attr = 1;
  std::string file_output, var_null = "nulls", var_value = "";
  MarkovMethod method;   // simulation unless set
};

struct Result {
  std::vector<std::string> vchannels, vpath_name, vpath_channel, from, to;
  std::vector<double> vindex, vpath_id, vpath_chpos, vpath_attr_convs, vpath_attr_value,
      vattr_convs_loc, vattr_convs_glob, vattr_value_glob, prob, vindex_raw;
  double s_nconv = 0, s_nnull = 0;
  std::vector<double> unmasked() const {
    std::vector<double> v = vindex;
    unhide_index(&v);
    return v;
  }
};

inline Result run(Journeys j, Settings s) {
  Result r;
  int flg_file = 0, nulls = 0, paths = 0;
  std::string file, vp = "path", vcn = "conv", rs = ";", cs = ">";
  if (s.var_null.empty()) j.vn.clear();
  if (s.var_value.empty()) j.vv.clear();
  markov_model_method_cpp(&s.method, &flg_file, &file, &vp, &vcn, &s.var_value, &s.var_null, &j.vy, &j.vc, &j.vv,
                   &j.vn, &rs, &cs, &s.type, &s.order, &s.nsim_start, &s.max_step, &s.ncore,
                   &s.nfold, &s.seed, &s.conv_par, &s.rate_step_sim, &s.verbose,
                   &s.flg_out_tran_mtx, &s.file_output, &nulls, &paths, &r.vchannels, &r.vindex,
                   &s.flg_out_attr, &r.vpath_id, &r.vpath_name, &r.vpath_channel, &r.vpath_chpos,
                   &r.vpath_attr_convs, &r.vpath_attr_value, &r.vattr_convs_loc,
                   &r.vattr_convs_glob, &r.vattr_value_glob, &r.from, &r.to, &r.prob, &r.s_nconv,
                   &r.s_nnull, &r.vindex_raw);
  return r;
}

inline std::string error_of(const Journeys& j, const Settings& s) {
  try {
    run(j, s);
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

struct Console {
  std::ostringstream os;
  Console() { set_console_stream(&os); }
  ~Console() { set_console_stream(nullptr); }
  std::vector<std::string> lines() const {
    std::vector<std::string> out;
    std::stringstream ss(os.str());
    std::string l;
    while (std::getline(ss, l)) out.push_back(l);
    return out;
  }
};

// Journeys with repeated channels (loops in the chain) and both endings.
inline Journeys loop_journeys(uli seed, int nrows) {
  std::mt19937 rng(static_cast<unsigned>(seed));
  const char* ch[] = {"a", "b", "c", "d"};
  Journeys j;
  for (int r = 0; r < nrows; ++r) {
    int len = 1 + rng() % 5;
    std::string p;
    for (int k = 0; k < len; ++k) p += (k ? " > " : "") + std::string(ch[rng() % 4]);
    j.vy.push_back(p);
    j.vc.push_back(rng() % 4);
    j.vn.push_back(rng() % 4 + (j.vc.back() == 0 ? 1 : 0));
    j.vv.push_back(static_cast<double>(rng() % 100));
  }
  return j;
}

// ---- exact absorbing-chain solution -----------------------------------------
// The chain is rebuilt here from channel names, and the probabilities of
// ending in "(conversion)" with or without passing through a channel are
// solved exactly, with no simulation.
struct ExactChain {
  std::map<std::string, int> id{{"(start)", 0}, {"(conversion)", 1}, {"(null)", 2}};
  std::vector<std::vector<std::string>> names{{}, {}, {}};   // channels of each state
  std::vector<std::map<int, double>> count{{}, {}, {}};

  int state(const std::vector<std::string>& w) {
    std::string key;
    for (auto& s : w) key += s + "|";
    auto it = id.find(key);
    if (it != id.end()) return it->second;
    int s = static_cast<int>(names.size());
    id[key] = s;
    names.push_back(w);
    count.emplace_back();
    return s;
  }

  ExactChain(const Journeys& j, uli order) {
    for (size_t r = 0; r < j.vy.size(); ++r) {
      std::vector<std::string> ch;
      std::stringstream ss(j.vy[r]);
      std::string tok;
      while (std::getline(ss, tok, '>')) {
        size_t b = tok.find_first_not_of(' '), e = tok.find_last_not_of(' ');
        if (b != std::string::npos) ch.push_back(tok.substr(b, e - b + 1));
      }
      const double w = static_cast<double>(j.vc[r] + (j.vn.empty() ? 0 : j.vn[r]));
      int prev = 0;
      for (size_t s = 0; !ch.empty() && (s == 0 || s + order <= ch.size()); ++s) {
        std::vector<std::string> win(ch.begin() + s, ch.begin() + std::min(ch.size(), s + order));
        int q = state(win);
        if (w > 0) count[prev][q] += w;
        prev = q;
      }
      if (j.vc[r]) count[prev][1] += static_cast<double>(j.vc[r]);
      if (!j.vn.empty() && j.vn[r]) count[prev][2] += static_cast<double>(j.vn[r]);
    }
  }

  // Probability, from "(start)", of ending in one of `targets` without
  // entering a state that holds channel `avoid` ("" avoids nothing).
  double absorb(const std::vector<int>& targets, const std::string& avoid) const {
    const int n = static_cast<int>(names.size());
    std::vector<char> blocked(n, 0);
    for (int s = 3; s < n; ++s)
      for (auto& c : names[s])
        if (c == avoid) blocked[s] = 1;
    // (I - Q) x = r over states that are neither absorbing nor blocked.
    std::vector<std::vector<double>> a(n, std::vector<double>(n + 1, 0.0));
    for (int x = 0; x < n; ++x) {
      a[x][x] = 1;
      if (x == 1 || x == 2 || blocked[x]) continue;
      double tot = 0;
      for (auto& kv : count[x]) tot += kv.second;
      for (auto& kv : count[x]) {
        const double p = kv.second / tot;
        bool hit = false;
        for (int t : targets) hit = hit || kv.first == t;
        if (hit) a[x][n] += p;
        else if (kv.first > 2 && !blocked[kv.first]) a[x][kv.first] -= p;
      }
    }
    for (int c = 0; c < n; ++c) {
      int piv = c;
      for (int r = c + 1; r < n; ++r)
        if (std::fabs(a[r][c]) > std::fabs(a[piv][c])) piv = r;
      std::swap(a[c], a[piv]);
      for (int r = 0; r < n; ++r) {
        if (r == c || a[r][c] == 0) continue;
        const double f = a[r][c] / a[c][c];
        for (int k = c; k <= n; ++k) a[r][k] -= f * a[c][k];
      }
    }
    return a[0][n] / a[0][0];
  }

  double p_conv() const { return absorb({1}, ""); }
  // Converting and passing through channel c.
  double p_conv_via(const std::string& c) const { return p_conv() - absorb({1}, c); }
  // Ending in "(null)" and passing through channel c.
  double p_null_via(const std::string& c) const { return absorb({2}, "") - absorb({2}, c); }
};

}  // namespace markov_test

#endif
