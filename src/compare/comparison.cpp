#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <unordered_map>

#include "compare/compare.h"
#include "heuristic/heuristic.h"
#include "journeys/journeys.h"
#include "logistic/logistic.h"
#include "markov/markov.h"
#include "shapley/shapley.h"
#include "uam/uam.h"

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
                                " (a sample needs converting and non-converting journeys)");
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
  std::string file, file_output, field_sep = ";", cha_sep = " ";
  int flg_file = 0, flg_write_nulls = 1, flg_write_paths = 0, verbose = 0;
  std::vector<double> vv;   // no conversion values
};

// First, last and linear touch conversions per channel.
void heuristic_shares(ModelInput& in, uli nchannels, uli k, std::vector<std::vector<double>>* out) {
  JourneySource src = vector_source(in.vy, in.vc, &in.vv, nullptr);
  src.field_sep = in.field_sep;
  const HeuristicResult r = heuristic_run(
      src, HeuristicSettings{in.cha_sep, in.flg_write_nulls, in.flg_write_paths, in.file_output,
                             in.verbose});
  const std::vector<std::string>& channel = r.vpath_channel;
  const std::vector<double>& cf = r.vpath_attr_convs_first, &cl = r.vpath_attr_convs_last,
                          &cn = r.vpath_attr_convs_linear;
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

// The sample as a journey source over the given null counts; whether
// nulls count follows var_null, as for a file.
JourneySource sample_source(const ModelInput& in, const std::vector<uli>* vn) {
  JourneySource src = vector_source(in.vy, in.vc, &in.vv, vn);
  src.var_null = in.var_null;
  src.field_sep = in.field_sep;
  return src;
}

// Shapley values of the simplified split over conversion-per-null worths.
// The coalitions count every null count they are given, so the sample's
// are passed only when var_null names them.
std::vector<double> shapley_shares(const ModelInput& in, uli nchannels, uli k) {
  static const std::vector<uli> no_nulls;
  ShapleySettings set;
  set.cha_sep = in.cha_sep;
  set.flg_simplified = 1;
  set.type_worth = 2;
  set.flg_write_nulls = in.flg_write_nulls;
  set.flg_write_paths = in.flg_write_paths;
  set.file_output = in.file_output;
  const ShapleyResult r =
      shapley_run(sample_source(in, in.var_null.empty() ? &no_nulls : in.vn), set);
  return shares_from_index(r.vchannels, r.vindex, nchannels, "shapley", k);
}

// Logistic-regression channel indices.
std::vector<double> logistic_shares(ModelInput& in, uli nchannels, uli k) {
  JourneySource src = vector_source(in.vy, in.vc, &in.vv, in.vn);
  src.field_sep = in.field_sep;
  const LogisticResult r = logistic_run(
      src, LogisticSettings{in.cha_sep, in.flg_write_nulls, in.flg_write_paths, in.file_output});
  return shares_from_index(r.vchannels, r.vindex, nchannels, "logistic_regression", k);
}

// Markov conversion index (kind 2) of one order; the Markov runs keep their
// own engines, seeded from `seed`, and leave gb::engine alone.
std::vector<double> markov_shares(const ModelInput& in, uli order, uli seed, uli nchannels, uli k) {
  MarkovSettings set;
  set.type = 2;
  set.order = order;
  set.seed = seed;
  set.verbose = in.verbose;
  set.flg_write_nulls = in.flg_write_nulls;
  set.flg_write_paths = in.flg_write_paths;
  set.file_output = in.file_output;
  const MarkovResult r = markov_run(sample_source(in, in.vn), in.cha_sep, set);
  return shares_from_index(r.vchannels, r.vindex, nchannels,
                           "markov_model_order_" + std::to_string(order), k);
}

void check_fraction(double x, const char* name) {
  if (!(x >= 0 && x <= 1))
    throw std::invalid_argument(std::string(name) + " must lie between 0 and 1, not " + fmt_f(x));
}

constexpr uli kMaxIter = 1000000;
constexpr uli kMaxMarkovOrder = 1000;

}  // namespace

void CompareSettings::validate() const {
  const CompareSettings& s = *this;
  check_fraction(s.perc_reall, "perc_reall");
  check_fraction(s.min_perc_traffic, "min_perc_traffic");
  if (s.perc_reall + s.min_perc_traffic > 1)
    throw std::invalid_argument("perc_reall and min_perc_traffic together must not exceed 1");
  if (!(s.perc_sample >= 0) || !std::isfinite(s.perc_sample))
    throw std::invalid_argument("perc_sample must be a non-negative number, not " +
                                fmt_f(s.perc_sample));
  // Both sizes allocate per iteration / per order up front (result tables,
  // one chain per order): bound them well above any useful setting.
  if (s.niter > kMaxIter)
    throw std::invalid_argument("niter must be at most " + fmt_lu(kMaxIter) + ", not " + fmt_lu(s.niter));
  if (s.max_markov_order > kMaxMarkovOrder)
    throw std::invalid_argument("markov_order must be at most " + fmt_lu(kMaxMarkovOrder) + ", not " +
                                fmt_lu(s.max_markov_order));
}

namespace {

std::vector<std::string> model_names(bool with_reward, uli max_markov_order) {
  std::vector<std::string> names = {"original", "no_reallocation", "first_touch", "last_touch",
                                    "linear_touch", "shapley", "logistic_regression"};
  if (with_reward) names.push_back("reward");
  for (uli o = 1; o <= max_markov_order; ++o) names.push_back("markov_model_order_" + std::to_string(o));
  return names;
}

// The weighted candidate population drawn from in every iteration.
struct Population {
  Candidates cand;
  std::vector<uli> vpaths_ids_1;   // per candidate: position of its distinct path
  double ratio_conv = 1, global_cr = 0;
  uli nsim = 0;
};

// Distinct paths with their conversions and nulls to candidates: extra
// nulls, seeding, oversampling of converting journeys and sample size.
Population build_population(const std::vector<std::string>& mpath, std::vector<uli> mconv,
                            std::vector<uli> mnull, const CompareSettings& s) {
  const double svc = sum(mconv), svn = sum(mnull);
  if (!(svc > 0)) throw std::invalid_argument("no journey converts, there is nothing to compare");
  Population pop;
  pop.global_cr = svc / (svc + svn);
  if (s.verbose == 1) printA("Input data conversion rate: " + f_print_perc(pop.global_cr) + "%");
  if (s.flg_extra_path == 1) {
    const uli extra = static_cast<uli>(std::floor(1 / pop.global_cr));
    for (uli& x : mnull) x += extra;
  }
  pop.global_cr = sum(mconv) / (sum(mconv) + sum(mnull));
  if (s.verbose == 1) printA("Population conversion rate: " + f_print_perc(pop.global_cr) + "%");

  gb::reseed(s.seed);
  if (pop.global_cr < 0.01) {
    pop.ratio_conv = 0.01 / pop.global_cr;
    printA("The data are highly unbalanced and oversampling of converting paths will be adopted.");
    printA("Population conversion rate after oversampling: " + f_print_perc(0.01) + "%");
    pop.global_cr = 0.01;
  }

  Candidates& cand = pop.cand;
  std::vector<double> weight;
  for (size_t j = 0; j < mpath.size(); ++j) {
    if (mconv[j] > 0) {
      cand.vpath.push_back(mpath[j]);
      cand.visconv.push_back(true);
      cand.vnpath.push_back(mconv[j]);
      pop.vpaths_ids_1.push_back(j);
      weight.push_back(static_cast<double>(mconv[j]) * pop.ratio_conv);
    }
    if (mnull[j] > 0) {
      cand.vpath.push_back(mpath[j]);
      cand.visconv.push_back(false);
      cand.vnpath.push_back(mnull[j]);
      pop.vpaths_ids_1.push_back(j);
      weight.push_back(static_cast<double>(mnull[j]));
    }
  }
  double npaths_freq = 0;
  for (double w : weight) npaths_freq += w;
  const double wanted = std::floor(s.perc_sample * npaths_freq);
  pop.nsim = wanted < static_cast<double>(s.max_nsim) ? static_cast<uli>(wanted) : s.max_nsim;
  if (pop.nsim == 0)
    throw std::invalid_argument("the sample size is 0 (perc_sample " + fmt_f(s.perc_sample) +
                                " of " + fmt_f(npaths_freq) + " weighted journeys, max_nsim " +
                                fmt_lu(s.max_nsim) + "): increase perc_sample or max_nsim");
  double cum = 0;
  for (double w : weight) cand.vfreq.push_back(cum += w / npaths_freq);
  return pop;
}

// How a comparison draws its journeys, and its optional reward model.
struct Draws {
  std::function<void(Generated*)> sample;                                  // count mode
  std::function<void(const std::vector<double>&, Generated*)> population;  // traffic mode
  std::function<std::vector<double>(uli)> reward;                          // shares, or empty
  bool warn_few = true;
  const char* attribution_line = "Attribution (First/Last/Linear/Shapley/Logistic/Markov)";
};

void run_iterations(const Population& pop, uli nchannels, const CompareSettings& s, ModelInput& in,
                    Generated& sample, const Draws& draws, size_t nnames,
                    std::vector<std::vector<double>>* results_performance,
                    std::vector<std::vector<double>>* results_allocation) {
  results_performance->assign(s.niter, std::vector<double>(nnames, 0.0));
  results_allocation->assign(nchannels, std::vector<double>(nnames - 1, 0.0));
  Generated gen;
  const double n_iter = static_cast<double>(s.niter);
  for (uli k = 0; k < s.niter; ++k) {
    check_interrupt();
    std::vector<double>& perf = (*results_performance)[k];
    if (s.verbose == 1) {
      printA("Iter: " + std::to_string(k + 1) + " / " + std::to_string(s.niter));
      printA("Random sample from population");
    }
    draws.sample(&sample);
    perf[0] = performance(sample, pop.ratio_conv);
    printA("Sample conversion rate: " + f_print_perc(perf[0]) + "%");
    if (draws.warn_few && static_cast<double>(pop.nsim) * pop.global_cr < 100)
      printA("Your dataset has to few customer journeys to ensure the validity of the results. "
             "Try to increase your data.");

    std::vector<double> vtraffic(nchannels, 0.0);
    for (size_t i = 0; i < sample.vy1.size(); ++i)
      for (uli t : split2(sample.vy1[i], ' '))
        vtraffic.at(t - 1) += static_cast<double>(sample.vc1[i] + sample.vn1[i]);
    double T = 0;
    for (double x : vtraffic) T += x;

    if (s.verbose == 1) printA(draws.attribution_line);
    std::vector<std::vector<double>> model_shares;   // in name order from "first_touch"
    heuristic_shares(in, nchannels, k, &model_shares);
    model_shares.push_back(shapley_shares(in, nchannels, k));
    model_shares.push_back(logistic_shares(in, nchannels, k));
    if (draws.reward) model_shares.push_back(draws.reward(k));
    for (uli o = 1; o <= s.max_markov_order; ++o)
      model_shares.push_back(markov_shares(in, o, s.seed, nchannels, k));

    std::vector<std::vector<double>> traffic;   // "no_reallocation", then the models
    traffic.push_back(vtraffic);
    for (const auto& sh : model_shares)
      traffic.push_back(new_traffic(vtraffic, T, sh, s.min_perc_traffic, s.perc_reall));
    for (size_t col = 0; col < traffic.size(); ++col)
      for (uli i = 0; i < nchannels; ++i)
        (*results_allocation)[i][col] += traffic[col][i] / T / n_iter;

    if (s.verbose == 1) printA("Random sample from population given new traffic");
    for (size_t col = 0; col < traffic.size(); ++col) {
      draws.population(traffic[col], &gen);
      perf[col + 1] = performance(gen, pop.ratio_conv);
    }
  }
}

void print_table(const std::vector<std::vector<double>>& perf,
                 const std::vector<std::string>& names) {
  for (const auto& row : perf) {
    std::string line;
    for (double x : row) {
      char cell[64];
      std::snprintf(cell, sizeof cell, "%-10g", x);
      line += cell;
    }
    printA(line);
  }
  for (size_t j = 0; j < names.size(); ++j) {
    double mean = 0;
    for (const auto& row : perf) mean += row[j] / static_cast<double>(perf.size());
    char num[64];
    std::snprintf(num, sizeof num, "%g", mean);
    printA(names[j] + " : " + num);
  }
}

// The journeys of an event table, channel i written i + 1, with the table
// itself for replaying them over a window of days.
struct EventJourneys {
  std::vector<std::string> vchannels, vpaths;
  std::vector<uli> vconv, vnull;
  std::vector<std::vector<uli>> Mpaths_ids;
  uli nchannels = 0;
  EventTable events;
};

void read_event_journeys(std::vector<uli>* tab_paths_id_path,
                         std::vector<std::string>* tab_paths_time_str,
                         std::vector<std::string>* tab_paths_channel,
                         std::vector<std::string>* tab_ctr_day_str,
                         std::vector<std::vector<double>>* tab_ctr_ctr,
                         std::string channel_conv_name, EventJourneys* ej) {
  uli len_tab_paths = tab_paths_id_path->size();
  std::string sep = " ";
  std::map<std::string, uli> mp_channels;
  if (tab_paths_time_str->size() != len_tab_paths || tab_paths_channel->size() != len_tab_paths)
    throw std::invalid_argument("the event table columns have different lengths (" +
                                std::to_string(len_tab_paths) + ", " +
                                std::to_string(tab_paths_time_str->size()) + ", " +
                                std::to_string(tab_paths_channel->size()) + ")");
  transpose_paths(&len_tab_paths, tab_paths_channel, tab_paths_id_path, &channel_conv_name, &sep,
                  &ej->vchannels, &ej->nchannels, &ej->vpaths, &ej->vconv, &ej->vnull,
                  &mp_channels, &ej->Mpaths_ids);
  read_event_table(tab_paths_id_path, tab_paths_time_str, tab_paths_channel, channel_conv_name,
                   mp_channels, tab_ctr_day_str, tab_ctr_ctr, &ej->events);
  for (size_t j = 0; j < ej->vpaths.size(); ++j)
    if (ej->vpaths[j].empty())
      throw std::invalid_argument(
          "tab_paths_channel: journey " +
          std::to_string(ej->events.tab_info_paths_id_path.at(ej->Mpaths_ids[j].at(0))) +
          " has no touch point, only conversions");
}

// The replay window must fit in the event table and leave the reward model
// two days to compare.
void check_window(const EventTable& events, double perc_sample) {
  if (perc_sample > 1)
    throw std::invalid_argument("perc_sample must be at most 1 here: the day window (" + fmt_f(perc_sample) +
                                " of the days) cannot be longer than the days of the event table");
  const double window = std::floor(static_cast<double>(events.days.size()) * perc_sample);
  if (window < 2)
    throw std::invalid_argument("the window of " + fmt_f(window) + " days (perc_sample " +
                                fmt_f(perc_sample) + " of " + fmt_lu(events.days.size()) +
                                " days) is too short: the reward model needs at least 2 days");
}

// The daily tables of one replayed sample.
struct DailyTables {
  std::vector<std::vector<double>> touches, ctr;
  std::vector<double> convs;
};

// Reward-model shares of the sample's daily conversions and impressions.
std::vector<double> reward_shares(DailyTables* day, uli nchannels,
                                  std::vector<std::string>* vchannels, int verbose, uli k) {
  uli sconversions = 0;
  for (double x : day->convs) sconversions += static_cast<uli>(x);
  // Touches back to impressions through the average click-through rate.
  std::vector<std::vector<double>> impressions = day->touches;
  uli simpressions = 0;
  for (size_t j = 0; j < impressions.size(); ++j)
    for (uli i = 0; i < nchannels; ++i) {
      double& x = impressions[j][i];
      x = day->ctr[j][i] > 0 ? x / day->ctr[j][i] : 0.0;
      simpressions = static_cast<uli>(static_cast<double>(simpressions) + x);
    }
  const double icr = static_cast<double>(sconversions) /
                     (static_cast<double>(simpressions) / static_cast<double>(nchannels));
  std::map<std::string, double> mp_weight_mmm;
  int reward_verbose = verbose;
  try {
    reward_model(&day->convs, &impressions, &reward_verbose, nchannels, vchannels, icr,
                 impressions.size(), &mp_weight_mmm);
  } catch (const std::invalid_argument& e) {
    throw std::invalid_argument(e.what() + iteration(k));
  }
  std::vector<double> w(nchannels);
  for (uli i = 0; i < nchannels; ++i) w[i] = mp_weight_mmm[(*vchannels)[i]];
  return shares(std::move(w), "reward", k);
}

}  // namespace

CompareResult compare_mta_run(CompareJourneys journeys, const CompareSettings& s) {
  std::vector<std::string>* vy = &journeys.vy;
  const std::vector<uli>* vc = &journeys.vc;
  const std::vector<uli>* vn = &journeys.vn;
  const std::string& cha_sep = journeys.cha_sep;
  CompareResult r;
  std::vector<std::string>* vmodel_names = &r.model_names;
  first_char(cha_sep, "cha_sep");
  if (vc->size() != vy->size() || vn->size() != vy->size())
    throw std::invalid_argument("vy, vc and vn must have the same length (" +
                                std::to_string(vy->size()) + ", " + std::to_string(vc->size()) +
                                ", " + std::to_string(vn->size()) + ")");
  s.validate();
  *vmodel_names = model_names(false, s.max_markov_order);

  // Journeys as index paths, channel i written i + 1.
  std::map<std::string, uli> mp_channels;
  std::vector<std::string> vchannels_all;
  uli nall = 0, max_touches = 0;
  encoding_channels_cpp(vy, cha_sep, &mp_channels, &vchannels_all, &nall, &max_touches);
  const uli nchannels = nall - 3;
  for (size_t i = 0; i < vy->size(); ++i)
    if ((*vy)[i].empty())
      throw std::invalid_argument("vy: row " + std::to_string(i + 1) + " has no channels");

  // Identical paths merged, in order of first appearance.
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
  const Population pop = build_population(mpath, std::move(mconv), std::move(mnull), s);

  ModelInput in;
  Generated sample;
  in.vy = &sample.vy1;
  in.vc = &sample.vc1;
  in.vn = &sample.vn1;
  in.var_path = journeys.var_path;
  in.var_conv = journeys.var_conv;
  in.var_null = journeys.var_null;
  Draws draws;
  draws.sample = [&](Generated* g) { generate(pop.cand, nchannels, {}, pop.nsim, g); };
  draws.population = [&](const std::vector<double>& traffic, Generated* g) {
    generate(pop.cand, nchannels, traffic, 0, g);
  };
  run_iterations(pop, nchannels, s, in, sample, draws, vmodel_names->size(), &r.performance,
                 &r.allocation);
  if (s.flg_print == 1) print_table(r.performance, r.model_names);
  r.encoded = std::move(journeys.vy);
  return r;
}

CompareResult compare_mta_mmm_run(CompareEvents ev, const CompareSettings& s) {
  CompareResult r;
  std::vector<std::string>* vmodel_names = &r.model_names;
  s.validate();
  *vmodel_names = model_names(true, s.max_markov_order);
  EventJourneys ej;
  read_event_journeys(&ev.id_path, &ev.time_str, &ev.channel, &ev.ctr_day_str, &ev.ctr,
                      ev.channel_conv_name, &ej);
  check_window(ej.events, s.perc_sample);
  const Population pop = build_population(ej.vpaths, ej.vconv, ej.vnull, s);

  ModelInput in;
  Generated sample;
  in.vy = &sample.vy1;
  in.vc = &sample.vc1;
  in.vn = &sample.vn1;
  in.var_path = "path";
  in.var_conv = "total_conversions";
  in.var_null = "total_null";
  DailyTables sampled, scratch;   // the sample's tables feed the reward model
  auto draw = [&](const std::vector<double>& traffic, uli nsim, Generated* g, DailyTables* day) {
    g->vidy1.clear();
    g->vy1.clear();
    g->vc1.clear();
    g->vn1.clear();
    path_generator_new(&pop.cand.vpath, &pop.cand.visconv, pop.cand.vnpath, pop.cand.vfreq,
                       ej.nchannels, traffic, nsim, &g->vidy1, &ej.Mpaths_ids, &pop.vpaths_ids_1,
                       &ej.events, s.perc_sample, &g->vy1, &g->vc1, &g->vn1, &day->touches,
                       &day->convs, &day->ctr);
  };
  Draws draws;
  draws.warn_few = false;
  draws.attribution_line = "Attribution (First/Last/Linear/Shapley/Logistic/Reward/Markov)";
  draws.sample = [&](Generated* g) { draw({}, pop.nsim, g, &sampled); };
  draws.population = [&](const std::vector<double>& traffic, Generated* g) {
    draw(traffic, 0, g, &scratch);
  };
  draws.reward = [&](uli k) { return reward_shares(&sampled, ej.nchannels, &ej.vchannels, s.verbose, k); };
  run_iterations(pop, ej.nchannels, s, in, sample, draws, vmodel_names->size(), &r.performance,
                 &r.allocation);
  if (s.flg_print == 1) print_table(r.performance, r.model_names);
  return r;
}
