#include <cmath>
#include <stdexcept>

#include "markov/markov.h"
#include "nba/nba.h"

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
  // No values: the rates count journeys only.
  const JourneySource src = *flg_file == 1
                                ? file_source(*file, *var_path, *var_conv, "", *var_null, *row_sep)
                                : vector_source(vy, vc, nullptr, vn);
  SimulationMatrix chain;
  build_simulation_matrix(src, *cha_sep, *order, *verbose, &chain);
  const uli nchannels_sim = chain.nchannels_sim;
  *mp_channels_sim_inv_0 = std::move(chain.mp_channels_sim_inv);
  *vchannels = std::move(chain.vchannels);

  // Each non-special state is one simulated unit: state i counts as unit
  // i - 3, walked with order 1.
  const uli nunits = nchannels_sim - 3;
  std::vector<sli> state_units(nchannels_sim, -1);
  for (uli i = 3; i < nchannels_sim; ++i) state_units[i] = static_cast<sli>(i - 3);
  uli sim_order = 1, units = nunits;
  int flg_null = 1;   // both the converting and the null counts are needed
  std::vector<double> Tc, Nc;
  double s_nconv = 0, s_nnull = 0;
  markov_simulation(&chain.S, &state_units, &sim_order, &units, &chain.max_npassi, max_step,
                    nsim_start, ncore, nfold, seed, conv_par, rate_step_sim, verbose, &flg_null,
                    &chain.svc, &Tc, &Nc, &s_nconv, &s_nnull);

  *mean_index = s_nconv / (s_nconv + s_nnull);
  const double m = *min_sample_index;
  vindex->assign(nunits, 0.0);
  for (uli u = 0; u < nunits; ++u) (*vindex)[u] = (Tc[u] + m * *mean_index) / (Tc[u] + Nc[u] + m);
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
  if (*max_order == 0) throw std::invalid_argument("max_order must be at least 1");
  if (!(*min_sample_index >= 0) || !std::isfinite(*min_sample_index))
    throw std::invalid_argument("min_sample_index must be a non-negative number, not " +
                                std::to_string(*min_sample_index));
  // Reject unusable settings before any journey is read.
  check_simulation_args(*nsim_start, *ncore, *nfold, *conv_par, *rate_step_sim);

  if (*verbose == 1) printA("**next best action training**");
  StateInverse mp_channels_sim_inv_0;
  std::vector<double> vindex;
  for (uli order = 1; order <= *max_order; ++order) {
    if (*verbose == 1) printA("Processing order = " + std::to_string(order));
    mp_channels_sim_inv_0.clear();
    vindex.clear();
    vchannels->clear();
    next_best_action_train_k_index_cpp(flg_file, file, var_path, var_conv, var_null, vy, vc, vn,
                                       row_sep, cha_sep, &order, nsim_start, max_step, ncore,
                                       nfold, seed, conv_par, rate_step_sim, verbose,
                                       min_sample_index, &mp_channels_sim_inv_0, vchannels,
                                       &vindex, mean_index);
    if (order < 2) continue;
    for (uli i = 3; i < 3 + vindex.size(); ++i) {
      const std::vector<sli>& v = mp_channels_sim_inv_0.at(i);
      bool complete = true;
      for (sli x : v) complete = complete && x >= 0;
      if (!complete) continue;   // a window shorter than the order
      v_index_from->push_back(collapse_vec_to_str(std::vector<sli>(v.begin(), v.end() - 1)));
      v_index_to->push_back(static_cast<uli>(v.back()));
      v_index_value->push_back(vindex[i - 3]);
    }
  }
}
