// Budget allocation from attributed conversions, costs and channel indices.
#ifndef TOUCHLANE_BUDGET_BUDGET_H
#define TOUCHLANE_BUDGET_BUDGET_H

#include <map>
#include <string>
#include <vector>

#include "common/common.h"

// Per distinct channel, in order of first appearance: the sums of
// vattr_conversions and (when it is not empty) of vattr_value, the map
// name -> position and its inverse. The outputs start empty. Throws
// std::invalid_argument when the columns have different lengths.
void sum_groupby_channel(std::vector<std::string>* vattr_channels,
                         std::vector<double>* vattr_conversions, std::vector<double>* vattr_value,
                         std::vector<double>* vattr_conversions_unq,
                         std::vector<double>* vattr_value_unq,
                         std::map<std::string, uli>* mp_channels_int,
                         std::map<uli, std::string>* mp_channels_inv);

// Fills vchannels_new (distinct attributed channels) and vbudget_new (the
// budget of each of them). vindex_value is a masked model index ending with
// mean_index. Throws std::invalid_argument naming the channel when cost rows
// are given and an attributed channel has none (or a cost channel has no
// attribution rows), when the index lacks an attributed channel, or naming
// the vectors whose lengths differ.
void markov_budget_allocation_cpp(std::vector<std::string>* vattr_channels,
                                  std::vector<double>* vattr_conversions,
                                  std::vector<double>* vattr_value,
                                  std::vector<std::string>* vcost_channels,
                                  std::vector<double>* vcost_value,
                                  std::vector<std::string>* vindex_channels,
                                  std::vector<double>* vindex_value, double* total_budget_new,
                                  double* perc_reall, double* min_perc_budget,
                                  std::vector<std::string>* vchannels_new,
                                  std::vector<double>* vbudget_new);

#endif
