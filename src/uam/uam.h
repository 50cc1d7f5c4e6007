// Unified attribution: event tables to journeys, the reward model on
// aggregated per-period data, and their combination with a Markov model.
#ifndef TOUCHLANE_UAM_UAM_H
#define TOUCHLANE_UAM_UAM_H

#include <map>
#include <string>
#include <vector>

#include "common/common.h"
#include "markov/markov.h"

// ---- event table to journeys ------------------------------------------------
// Rows of one journey are consecutive; a journey ends where the identifier
// rises (or at the end of the table) and counts as converting when its last
// row is channel_conv_name. Fills the channel dictionary (one-based tokens
// in the path texts, joined by cha_sep), the distinct path texts with their
// converting and non-converting journeys and, per path, the journeys'
// sequence numbers. Throws std::invalid_argument when a column is shorter
// than len_tab_paths.
void transpose_paths(uli* len_tab_paths, std::vector<std::string>* tab_paths_channel,
                     std::vector<uli>* tab_paths_id_path, std::string* channel_conv_name,
                     std::string* cha_sep, std::vector<std::string>* vchannels_mta,
                     uli* nchannels_mta, std::vector<std::string>* vpaths,
                     std::vector<uli>* vconv, std::vector<uli>* vnull,
                     std::map<std::string, uli>* mp_channels,
                     std::vector<std::vector<uli>>* Mpaths_ids);

// ---- reward model -----------------------------------------------------------
// Rewards each channel whenever its impressions (times icr) and the
// conversions move the same way between consecutive periods; mp_weight_mmm
// gets one weight per channel name, the weights summing to one. A single
// period gives not-a-number weights. Throws std::invalid_argument for zero
// periods or tables smaller than len_tab_aggr x nchannels_aggr.
void reward_model(std::vector<double>* tab_aggr_conversions,
                  std::vector<std::vector<double>>* tab_aggr_touches, int* verbose,
                  uli nchannels_aggr, std::vector<std::string>* vchannels_aggr, double icr,
                  uli len_tab_aggr, std::map<std::string, double>* mp_weight_mmm);

// ---- unified model ----------------------------------------------------------
// The event table (rows of one journey consecutive, channel_conv_name
// marking conversions), the aggregated channels with their kind (1 for a
// journey channel), a row of conversions and of clicks per period, and the
// click-through rates per period and channel. The time-stamp columns (only
// the number of periods in tab_aggr_time_from_str counts) and vcosts are
// carried but not used.
struct UamInput {
  std::vector<uli> tab_paths_id_path;
  std::vector<std::string> tab_paths_time_str, tab_paths_channel;
  std::vector<double> vcosts;
  std::string channel_conv_name;
  std::vector<std::string> vchannels_aggr;
  std::vector<int> vtype_channels_aggr;
  std::vector<std::string> tab_aggr_time_from_str, tab_aggr_time_to_str;
  std::vector<double> tab_aggr_conversions;
  std::vector<std::vector<double>> tab_aggr_touches;
  std::vector<std::string> tab_ctr_time_from_str, tab_ctr_time_to_str;
  std::vector<std::vector<double>> tab_ctr_ctr;
};

// flg_path 1 shares the journey channels' joint weight by a Markov model
// run with `markov` (its type chosen from the channel kinds).
struct UamSettings {
  int flg_path = 0;
  MarkovSettings markov;
  int verbose = 0;
  void validate() const;   // the Markov settings' messages, with journeys
};

// Per aggregated channel the weight per impression (vindex) and, per
// period, the conversions attributed to each channel (Mattr); the clicks
// turned into impressions.
struct UamResult {
  std::vector<double> vindex;
  std::vector<std::vector<double>> Mattr;
  std::vector<std::vector<double>> impressions;
};

// The weights come from the reward model; with flg_path 1 the journey
// channels' joint weight is shared among them by a Markov model on the
// event table. Throws std::invalid_argument for zero periods, tables whose
// shape does not fit the periods and channels, negative or NA impressions,
// or a vtype_channels_aggr of another length than vchannels_aggr (with
// journeys); the Markov model's errors pass through.
UamResult uam_run(UamInput input, const UamSettings& settings);

// ---- fixed-signature entry ---------------------------------------------------
// uam_run by pointer; tab_aggr_touches is rewritten as impressions.
void uam_cpp(int* flg_path, std::vector<uli>* tab_paths_id_path,
             std::vector<std::string>* tab_paths_time_str,
             std::vector<std::string>* tab_paths_channel, std::vector<double>* vcosts,
             std::string* channel_conv_name, uli* order, uli* nsim_start, uli* max_step,
             uli* ncore, uli* nfold, uli* seed, double* conv_par, double* rate_step_sim,
             int* verbose, std::vector<std::string>* vchannels_aggr,
             std::vector<int>* vtype_channels_aggr,
             std::vector<std::string>* tab_aggr_time_from_str,
             std::vector<std::string>* tab_aggr_time_to_str,
             std::vector<double>* tab_aggr_conversions,
             std::vector<std::vector<double>>* tab_aggr_touches,
             std::vector<std::string>* tab_ctr_time_from_str,
             std::vector<std::string>* tab_ctr_time_to_str,
             std::vector<std::vector<double>>* tab_ctr_ctr, std::vector<double>* vindex,
             std::vector<std::vector<double>>* Mattr);

#endif
