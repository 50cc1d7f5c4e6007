// Next best action: which channel to show next, given the touch points of a
// journey so far and a table of conversion rates per (history, channel).
#ifndef TOUCHLANE_NBA_NBA_H
#define TOUCHLANE_NBA_NBA_H

#include <string>
#include <vector>

#include "common/common.h"
#include "journeys/journeys.h"

// ---- interface -------------------------------------------------------------
// Settings of a training run; the defaults are the R function's.
struct NbaSettings {
  std::string cha_sep = ">";
  uli max_order = 3;
  uli nsim_start = kDefaultSimulations;   // carries over from order to order
  uli max_step = 0;
  uli ncore = 1;
  uli nfold = 10;
  uli seed = gb::limsup;
  double conv_par = 0.05;
  double rate_step_sim = 1.5;
  double min_sample_index = 1;            // pseudo-counts towards mean_index
  int verbose = 0;
  // Throws std::invalid_argument for max_order 0, a negative or non-finite
  // min_sample_index, and the simulation settings the Markov model rejects.
  void validate() const;
};

struct NbaTable {
  double mean_index = 0;
  std::vector<std::string> vchannels;
  std::vector<std::string> v_index_from;
  std::vector<uli> v_index_to;
  std::vector<double> v_index_value;
};

// For every order 2 .. max_order and every state of that order's chain, the
// state's first k - 1 channels (v_index_from), its last channel
// (v_index_to) and the share of simulated journeys through the state that
// convert, shrunk towards mean_index by min_sample_index pseudo-counts.
// The chain of each order is simulated like the Markov model's, with every
// state as its own unit. No values are read; nulls from the source's null
// column (a file) or its null vector (vectors).
NbaTable nba_train_run(const JourneySource& src, const NbaSettings& settings);

// ---- fixed-signature entries (forwarders) -----------------------------------
// nba_train_run over the journey arguments; nsim_start is updated as the
// last order's simulation leaves it.
void next_best_action_train_cpp(int* flg_file, std::string* file, std::string* var_path,
                                std::string* var_conv, std::string* var_null,
                                std::vector<std::string>* vy, std::vector<uli>* vc,
                                std::vector<uli>* vn, std::string* row_sep, std::string* cha_sep,
                                uli* max_order, uli* nsim_start, uli* max_step, uli* ncore,
                                uli* nfold, uli* seed, double* conv_par, double* rate_step_sim,
                                int* verbose, double* min_sample_index, double* mean_index,
                                std::vector<std::string>* vchannels,
                                std::vector<std::string>* v_index_from,
                                std::vector<uli>* v_index_to, std::vector<double>* v_index_value);

// One order of the training: one rate per non-special state (vindex[i - 3]
// for state i), the state map and the channel dictionary. nsim_start is
// updated in place.
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
                                        std::vector<double>* vindex, double* mean_index);

// ---- prediction --------------------------------------------------------------
struct NbaPredictSettings {
  std::string sep = ">";    // first character separates the journey's channels
  void validate() const;    // "sep must not be empty"
};

// The suggested channel and its rate, and each channel's best rate.
struct NbaPrediction {
  std::string best_action;
  double best_index = 0;
  std::vector<double> v_indices;
};

// Suggests the channel with the highest rate over the whole history of
// new_path and then ever shorter suffixes of it (ties to the later channel
// and the shorter history); table.mean_index is not used. Throws
// std::invalid_argument for an empty vchannels, table columns of different
// lengths, or a channel_to outside vchannels.
NbaPrediction nba_predict_run(const NbaTable& table, const std::string& new_path,
                              const NbaPredictSettings& settings);

// nba_predict_run by pointer.
void next_best_action_cpp(std::string* new_path, std::string* sep,
                          std::vector<std::string>* v_index_from, std::vector<uli>* v_index_to,
                          std::vector<double>* v_index_value, std::vector<std::string>* vchannels,
                          std::string* best_action, double* best_index,
                          std::vector<double>* v_indices);

#endif
