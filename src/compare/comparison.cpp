#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <unordered_map>

#include "compare/compare.h"
#include "heuristic/heuristic.h"
#include "journeys/journeys.h"
#include "markov/markov.h"

namespace {

// The candidate population and what path_generator fills.
struct Candidates {
  std::vector<std::string> vpath;
  std::vector<bool> visconv;
  std::vector<uli> vnpath;
  std::vector<double> vfreq;
};

struct Generated {
  std::vector<uli> vidy1, vc1, vn1;
  std::vector<std::string> vy1;
};

void generate(const Candidates& c, uli nchannels, const std::vector<double>& vtraffic, uli nsim,
              Generated* g) {
  g->vidy1.clear();
  g->vy1.clear();
  g->vc1.clear();
  g->vn1.clear();
  path_generator(&c.vpath, &c.visconv, c.vnpath, c.vfreq, nchannels, vtraffic, nsim, &g->vidy1,
                 &g->vy1, &g->vc1, &g->vn1);
}

double sum(const std::vector<uli>& v) {
  uli s = 0;
  for (uli x : v) s += x;
  return static_cast<double>(s);
}

// Conversions per non-conversion of the generated journeys, undoing the
// oversampling of converting candidates.
double performance(const Generated& g, double ratio_conv) {
  return sum(g.vc1) / sum(g.vn1) / ratio_conv;
}

std::string iteration(uli k) { return " in iteration " + std::to_string(k + 1); }

// Weights per channel to shares summing to 1.
std::vector<double> shares(std::vector<double> w, const std::string& model, uli k) {
  double total = 0;
  for (double x : w) {
    if (!std::isfinite(x) || x < 0)
      throw std::invalid_argument(model + " gives a channel weight of " + fmt_f(x) + iteration(k) +
                                  ": no traffic shares can follow from it");
    total += x;
  }
  if (!(total > 0))
    throw std::invalid_argument(model + " gives no channel any weight" + iteration(k) +
                                " (does the sample convert?)");
  for (double& x : w) x /= total;
  return w;
}

// A model's masked weight vector (last entry: the weight of channels it
// did not see) over channel tokens "1", "2", ... to shares by channel.
std::vector<double> shares_from_index(const std::vector<std::string>& vchannels,
                                      std::vector<double> vindex, uli nchannels,
                                      const std::string& model, uli k) {
  unhide_index(&vindex);
  if (vindex.size() != vchannels.size() + 1)
    throw std::logic_error(model + " returned " + std::to_string(vindex.size()) + " weights for " +
                           std::to_string(vchannels.size()) + " channels");
  std::vector<double> w(nchannels, vindex.back());
  for (size_t j = 0; j < vchannels.size(); ++j) {
    const uli t = parse_stoul(vchannels[j]);
    if (t == 0 || t > nchannels)
      throw std::logic_error(model + " returned the unknown channel " + vchannels[j]);
    w[t - 1] = vindex[j];
  }
  return shares(std::move(w), model, k);
}

// Traffic after a model's advice: part stays, part is spread equally, part
// follows the model's shares; rounded to whole touches.
std::vector<double> new_traffic(const std::vector<double>& vtraffic, double T,
                                const std::vector<double>& s, double m, double p) {
  const double n = static_cast<double>(vtraffic.size());
  std::vector<double> out(vtraffic.size());
  for (size_t i = 0; i < out.size(); ++i)
    out[i] = vtraffic[i] * (1 - m - p) + m / n * T + s[i] * p * T;
  int_attr_trf(&out);
  return out;
}

// The fixed settings every model runs with on a sample.
struct ModelInput {
  std::vector<std::string>* vy;
  std::vector<uli>* vc;
  std::vector<uli>* vn;
  std::string var_path, var_conv, var_value, var_null;
  std::string file, file_output, row_sep = ";", cha_sep = " ";
  int flg_file = 0, flg_write_nulls = 1, flg_write_paths = 0, verbose = 0;
  std::vector<double> vv;   // no conversion values
};

// First, last and linear touch conversions per channel.
void heuristic_shares(ModelInput& in, uli nchannels, uli k, std::vector<std::vector<double>>* out) {
  std::vector<double> id, chpos, cf, vf, cl, vl, cn, vln;
  std::vector<std::string> name, channel;
  heuristic_models_cpp(&in.flg_file, &in.file, &in.var_path, &in.var_conv, &in.var_value, in.vy,
                       in.vc, &in.vv, &in.row_sep, &in.cha_sep, &in.flg_write_nulls,
                       &in.flg_write_paths, &in.file_output, &in.verbose, &id, &name, &channel,
                       &chpos, &cf, &vf, &cl, &vl, &cn, &vln);
  std::vector<double> first(nchannels, 0), last(nchannels, 0), linear(nchannels, 0);
  for (size_t r = 0; r < channel.size(); ++r) {
    const uli t = parse_stoul(channel[r]) - 1;
    first.at(t) += cf[r];
    last.at(t) += cl[r];
    linear.at(t) += cn[r];
  }
  // All three are shares of the first-touch total: they spread the same
  // conversions.
  double A = 0;
  for (double x : first) A += x;
  if (!(A > 0))
    throw std::invalid_argument("the sample has no conversions" + iteration(k) +
                                ": increase perc_sample or max_nsim");
  for (auto* v : {&first, &last, &linear}) {
    for (double& x : *v) x /= A;
    out->push_back(std::move(*v));
  }
}

// Markov conversion index (kind 2) of one order; the Markov runs keep their
// own engines, seeded from `seed`, and leave gb::engine alone.
std::vector<double> markov_shares(ModelInput& in, uli order, uli seed, uli nchannels, uli k) {
  int flg_file = 0, type = 2, flg_out_tran_mtx = 0, flg_out_attr = 0;
  uli nsim_start = 100000, max_step = 0, ncore = 1, nfold = 10;
  double conv_par = 0.05, rate_step_sim = 1.5, s_nconv = 0, s_nnull = 0;
  std::vector<std::string> vchannels, name, channel, from, to;
  std::vector<double> vindex, id, chpos, attr, value, loc, glob, value_glob, prob, vindex_raw;
  markov_model_cpp(&flg_file, &in.file, &in.var_path, &in.var_conv, &in.var_value, &in.var_null,
                   in.vy, in.vc, &in.vv, in.vn, &in.row_sep, &in.cha_sep, &type, &order,
                   &nsim_start, &max_step, &ncore, &nfold, &seed, &conv_par, &rate_step_sim,
                   &in.verbose, &flg_out_tran_mtx, &in.file_output, &in.flg_write_nulls,
                   &in.flg_write_paths, &vchannels, &vindex, &flg_out_attr, &id, &name, &channel,
                   &chpos, &attr, &value, &loc, &glob, &value_glob, &from, &to, &prob, &s_nconv,
                   &s_nnull, &vindex_raw);
  return shares_from_index(vchannels, vindex, nchannels,
                           "markov_model_order_" + std::to_string(order), k);
}

void check_fraction(double x, const char* name) {
  if (!(x >= 0 && x <= 1))
    throw std::invalid_argument(std::string(name) + " must lie between 0 and 1, not " + fmt_f(x));
}

}  // namespace

void compare_models_mta_cpp(std::vector<std::string>* vy, std::vector<uli>* vc,
                            std::vector<uli>* vn, std::string var_path, std::string var_conv,
                            std::string var_null, std::string cha_sep, double perc_reall,
                            double perc_sample, uli max_nsim, double min_perc_traffic,
                            uli niter, uli flg_extra_path, uli max_markov_order, uli seed,
                            int flg_print, int verbose,
                            std::vector<std::vector<double>>* results_performance,
                            std::vector<std::vector<double>>* results_allocation,
                            std::vector<std::string>* vmodel_names) {
  first_char(cha_sep, "cha_sep");
  if (vc->size() != vy->size() || vn->size() != vy->size())
    throw std::invalid_argument("vy, vc and vn must have the same length (" +
                                std::to_string(vy->size()) + ", " + std::to_string(vc->size()) +
                                ", " + std::to_string(vn->size()) + ")");
  check_fraction(perc_reall, "perc_reall");
  check_fraction(min_perc_traffic, "min_perc_traffic");
  if (perc_reall + min_perc_traffic > 1)
    throw std::invalid_argument("perc_reall and min_perc_traffic together must not exceed 1");
  if (!(perc_sample >= 0) || !std::isfinite(perc_sample))
    throw std::invalid_argument("perc_sample must be a non-negative number, not " + fmt_f(perc_sample));

  // 1. names
  vmodel_names->assign({"original", "no_reallocation", "first_touch", "last_touch", "linear_touch"});
  for (uli o = 1; o <= max_markov_order; ++o)
    vmodel_names->push_back("markov_model_order_" + std::to_string(o));
  const size_t nnames = vmodel_names->size();

  // 2. journeys as index paths, channel i written i + 1
  std::map<std::string, uli> mp_channels;
  std::vector<std::string> vchannels_all;
  uli nall = 0, max_touches = 0;
  encoding_channels_cpp(vy, cha_sep, &mp_channels, &vchannels_all, &nall, &max_touches);
  const uli nchannels = nall - 3;
  for (size_t i = 0; i < vy->size(); ++i)
    if ((*vy)[i].empty())
      throw std::invalid_argument("vy: row " + std::to_string(i + 1) + " has no channels");

  // 3. conversion rate of the input
  const double svc = sum(*vc), svn = sum(*vn);
  if (!(svc > 0)) throw std::invalid_argument("vc: no journey converts, there is nothing to compare");
  double global_cr = svc / (svc + svn);
  if (verbose == 1) printA("Input data conversion rate: " + f_print_perc(global_cr) + "%");

  // 4. identical paths merged, optionally with extra non-converting journeys
  std::unordered_map<std::string, size_t> pos;
  std::vector<std::string> mpath;
  std::vector<uli> mconv, mnull;
  for (size_t i = 0; i < vy->size(); ++i) {
    auto it = pos.emplace((*vy)[i], mpath.size());
    if (it.second) {
      mpath.push_back((*vy)[i]);
      mconv.push_back(0);
      mnull.push_back(0);
    }
    mconv[it.first->second] += (*vc)[i];
    mnull[it.first->second] += (*vn)[i];
  }
  if (flg_extra_path == 1) {
    const uli extra = static_cast<uli>(std::floor(1 / global_cr));
    for (uli& x : mnull) x += extra;
  }
  global_cr = sum(mconv) / (sum(mconv) + sum(mnull));
  if (verbose == 1) printA("Population conversion rate: " + f_print_perc(global_cr) + "%");

  // 5. seeding, 6. oversampling of converting journeys
  gb::reseed(seed);
  double ratio_conv = 1;
  if (global_cr < 0.01) {
    ratio_conv = 0.01 / global_cr;
    printA("The data are highly unbalanced and oversampling of converting paths will be adopted.");
    printA("Population conversion rate after oversampling: " + f_print_perc(0.01) + "%");
    global_cr = 0.01;
  }

  // 7. candidates, 8. sample size and cumulative probabilities
  Candidates cand;
  std::vector<double> weight;
  for (size_t j = 0; j < mpath.size(); ++j) {
    if (mconv[j] > 0) {
      cand.vpath.push_back(mpath[j]);
      cand.visconv.push_back(true);
      cand.vnpath.push_back(mconv[j]);
      weight.push_back(static_cast<double>(mconv[j]) * ratio_conv);
    }
    if (mnull[j] > 0) {
      cand.vpath.push_back(mpath[j]);
      cand.visconv.push_back(false);
      cand.vnpath.push_back(mnull[j]);
      weight.push_back(static_cast<double>(mnull[j]));
    }
  }
  double npaths_freq = 0;
  for (double w : weight) npaths_freq += w;
  const double wanted = std::floor(perc_sample * npaths_freq);
  const uli nsim = wanted < static_cast<double>(max_nsim) ? static_cast<uli>(wanted) : max_nsim;
  if (nsim == 0)
    throw std::invalid_argument("the sample size is 0 (perc_sample " + fmt_f(perc_sample) +
                                " of " + fmt_f(npaths_freq) + " weighted journeys, max_nsim " +
                                fmt_lu(max_nsim) + "): increase perc_sample or max_nsim");
  double cum = 0;
  for (double w : weight) cand.vfreq.push_back(cum += w / npaths_freq);

  // 9. results
  results_performance->assign(niter, std::vector<double>(nnames, 0.0));
  results_allocation->assign(nchannels, std::vector<double>(nnames - 1, 0.0));

  ModelInput in;
  Generated sample, gen;
  in.vy = &sample.vy1;
  in.vc = &sample.vc1;
  in.vn = &sample.vn1;
  in.var_path = var_path;
  in.var_conv = var_conv;
  in.var_null = var_null;
  const double n_iter = static_cast<double>(niter);
  for (uli k = 0; k < niter; ++k) {
    check_interrupt();
    std::vector<double>& perf = (*results_performance)[k];
    if (verbose == 1) {
      printA("Iter: " + std::to_string(k + 1) + " / " + std::to_string(niter));
      printA("Random sample from population");
    }
    generate(cand, nchannels, {}, nsim, &sample);
    perf[0] = performance(sample, ratio_conv);
    printA("Sample conversion rate: " + f_print_perc(perf[0]) + "%");
    if (static_cast<double>(nsim) * global_cr < 100)
      printA("Your dataset has to few customer journeys to ensure the validity of the results. "
             "Try to increase your data.");

    std::vector<double> vtraffic(nchannels, 0.0);
    for (size_t i = 0; i < sample.vy1.size(); ++i)
      for (uli t : split2(sample.vy1[i], ' '))
        vtraffic.at(t - 1) += static_cast<double>(sample.vc1[i] + sample.vn1[i]);
    double T = 0;
    for (double x : vtraffic) T += x;

    if (verbose == 1) printA("Attribution (First/Last/Linear/Shapley/Logistic/Markov)");
    std::vector<std::vector<double>> model_shares;   // in name order from "first_touch"
    heuristic_shares(in, nchannels, k, &model_shares);
    for (uli o = 1; o <= max_markov_order; ++o)
      model_shares.push_back(markov_shares(in, o, seed, nchannels, k));

    std::vector<std::vector<double>> traffic;   // "no_reallocation", then the models
    traffic.push_back(vtraffic);
    for (const auto& s : model_shares)
      traffic.push_back(new_traffic(vtraffic, T, s, min_perc_traffic, perc_reall));
    for (size_t col = 0; col < traffic.size(); ++col)
      for (uli i = 0; i < nchannels; ++i)
        (*results_allocation)[i][col] += traffic[col][i] / T / n_iter;

    if (verbose == 1) printA("Random sample from population given new traffic");
    for (size_t col = 0; col < traffic.size(); ++col) {
      generate(cand, nchannels, traffic[col], 0, &gen);
      perf[col + 1] = performance(gen, ratio_conv);
    }
  }

  if (flg_print == 1) {
    for (const auto& row : *results_performance) {
      std::string line;
      for (double x : row) {
        char cell[64];
        std::snprintf(cell, sizeof cell, "%-10g", x);
        line += cell;
      }
      printA(line);
    }
    for (size_t j = 0; j < nnames; ++j) {
      double mean = 0;
      for (const auto& row : *results_performance) mean += row[j] / n_iter;
      char num[64];
      std::snprintf(num, sizeof num, "%g", mean);
      printA((*vmodel_names)[j] + " : " + num);
    }
  }
}
