#include <cmath>
#include <stdexcept>

#include "markov/markov.h"
#include "nba/nba.h"

namespace {

// One order: fits the chain, simulates it with every non-special state as
// its own unit and returns one rate per such state (vindex[i - 3] for
// state i), the state map and the channel dictionary.
void train_order(const JourneySource& src, const NbaSettings& s, uli order, uli* nsim_start,
                 StateInverse* mp_channels_sim_inv, std::vector<std::string>* vchannels,
                 std::vector<double>* vindex, double* mean_index) {
  SimulationMatrix chain;
  build_simulation_matrix(src, s.cha_sep, order, s.verbose, &chain);
  const uli nchannels_sim = chain.nchannels_sim;
  *mp_channels_sim_inv = std::move(chain.mp_channels_sim_inv);
  *vchannels = std::move(chain.vchannels);

  // State i counts as unit i - 3, walked with order 1.
  const uli nunits = nchannels_sim - 3;
  std::vector<sli> state_units(nchannels_sim, -1);
  for (uli i = 3; i < nchannels_sim; ++i) state_units[i] = static_cast<sli>(i - 3);
  // both the converting and the null counts are needed
  const SimulationOutcome o = markov_simulate(
      chain.S, state_units, 1, nunits, chain.max_npassi, true, chain.svc,
      {*nsim_start, s.max_step, s.ncore, s.nfold, s.seed, s.conv_par, s.rate_step_sim, s.verbose});
  *nsim_start = o.nsim_start;
  const std::vector<double>& Tc = o.Tc;
  const std::vector<double>& Nc = o.Nc;
  const double s_nconv = o.s_nconv, s_nnull = o.s_nnull;

  *mean_index = s_nconv / (s_nconv + s_nnull);
  const double m = s.min_sample_index;
  vindex->assign(nunits, 0.0);
  for (uli u = 0; u < nunits; ++u) (*vindex)[u] = (Tc[u] + m * *mean_index) / (Tc[u] + Nc[u] + m);
}

// nba_train_run with the batch size handed back.
NbaTable train(const JourneySource& source, const NbaSettings& s, uli* nsim_start) {
  s.validate();
  if (s.verbose == 1) printA("**next best action training**");
  // No values: the rates count journeys only.
  JourneySource src = source;
  src.var_value.clear();
  NbaTable t;
  StateInverse mp_channels_sim_inv;
  std::vector<double> vindex;
  for (uli order = 1; order <= s.max_order; ++order) {
    if (s.verbose == 1) printA("Processing order = " + std::to_string(order));
    mp_channels_sim_inv.clear();
    vindex.clear();
    t.vchannels.clear();
    train_order(src, s, order, nsim_start, &mp_channels_sim_inv, &t.vchannels, &vindex,
                &t.mean_index);
    if (order < 2) continue;
    for (uli i = 3; i < 3 + vindex.size(); ++i) {
      const std::vector<sli>& v = mp_channels_sim_inv.at(i);
      bool complete = true;
      for (sli x : v) complete = complete && x >= 0;
      if (!complete) continue;   // a window shorter than the order
      t.v_index_from.push_back(collapse_vec_to_str(std::vector<sli>(v.begin(), v.end() - 1)));
      t.v_index_to.push_back(static_cast<uli>(v.back()));
      t.v_index_value.push_back(vindex[i - 3]);
    }
  }
  return t;
}

JourneySource arguments_source(int flg_file, const std::string& file, const std::string& var_path,
                               const std::string& var_conv, const std::string& var_null,
                               const std::string& row_sep, const std::vector<std::string>* vy,
                               const std::vector<uli>* vc, const std::vector<uli>* vn) {
  return flg_file == 1 ? file_source(file, var_path, var_conv, "", var_null, row_sep)
                       : vector_source(vy, vc, nullptr, vn);
}


}  // namespace

void NbaSettings::validate() const {
  if (max_order == 0) throw std::invalid_argument("max_order must be at least 1");
  if (!(min_sample_index >= 0) || !std::isfinite(min_sample_index))
    throw std::invalid_argument("min_sample_index must be a non-negative number, not " +
                                std::to_string(min_sample_index));
  // Reject unusable settings before any journey is read.
  check_simulation_args(nsim_start, ncore, nfold, conv_par, rate_step_sim);
}

NbaTable nba_train_run(const JourneySource& src, const NbaSettings& settings) {
  uli nsim_start = settings.nsim_start;
  return train(src, settings, &nsim_start);
}

// ---- fixed-signature entries -------------------------------------------------

void next_best_action_train_k_index_cpp(int* flg_file, std::string* file, std::string* var_path,
                                        std::string* var_conv, std::string* var_null,
                                        std::vector<std::string>* vy, std::vector<uli>* vc,
                                        std::vector<uli>* vn, std::string* row_sep,
                                        std::string* cha_sep, uli* order, uli* nsim_start,
                                        uli* max_step, uli* ncore, uli* nfold, uli* seed,
                                        double* conv_par, double* rate_step_sim, int* verbose,
                                        double* min_sample_index,
                                        StateInverse* mp_channels_sim_inv_0,
                                        std::vector<std::string>* vchannels,
                                        std::vector<double>* vindex, double* mean_index) {
  const NbaSettings s{*cha_sep, *order,   *nsim_start,    *max_step,         *ncore,  *nfold,
                      *seed,    *conv_par, *rate_step_sim, *min_sample_index, *verbose};
  train_order(arguments_source(*flg_file, *file, *var_path, *var_conv, *var_null, *row_sep, vy,
                               vc, vn),
              s, *order, nsim_start, mp_channels_sim_inv_0, vchannels, vindex, mean_index);
}

void next_best_action_train_cpp(int* flg_file, std::string* file, std::string* var_path,
                                std::string* var_conv, std::string* var_null,
                                std::vector<std::string>* vy, std::vector<uli>* vc,
                                std::vector<uli>* vn, std::string* row_sep, std::string* cha_sep,
                                uli* max_order, uli* nsim_start, uli* max_step, uli* ncore,
                                uli* nfold, uli* seed, double* conv_par, double* rate_step_sim,
                                int* verbose, double* min_sample_index, double* mean_index,
                                std::vector<std::string>* vchannels,
                                std::vector<std::string>* v_index_from,
                                std::vector<uli>* v_index_to, std::vector<double>* v_index_value) {
  const NbaSettings s{*cha_sep, *max_order, *nsim_start,    *max_step,         *ncore,  *nfold,
                      *seed,    *conv_par,  *rate_step_sim, *min_sample_index, *verbose};
  NbaTable t = train(arguments_source(*flg_file, *file, *var_path, *var_conv, *var_null, *row_sep,
                                      vy, vc, vn),
                     s, nsim_start);
  *mean_index = t.mean_index;
  *vchannels = std::move(t.vchannels);
  v_index_from->insert(v_index_from->end(), t.v_index_from.begin(), t.v_index_from.end());
  v_index_to->insert(v_index_to->end(), t.v_index_to.begin(), t.v_index_to.end());
  v_index_value->insert(v_index_value->end(), t.v_index_value.begin(), t.v_index_value.end());
}
