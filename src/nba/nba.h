// Next best action: which channel to show next, given the touch points of a
// journey so far and a table of conversion rates per (history, channel).
#ifndef TOUCHLANE_NBA_NBA_H
#define TOUCHLANE_NBA_NBA_H

#include <string>
#include <vector>

#include "common/common.h"

// Suggests the channel with the highest rate over the whole history of
// new_path and then ever shorter suffixes of it (ties to the later channel
// and the shorter history). v_indices gets each channel's best rate.
// Throws std::invalid_argument for an empty vchannels, table columns of
// different lengths, or a channel_to outside vchannels.
void next_best_action_cpp(std::string* new_path, std::string* sep,
                          std::vector<std::string>* v_index_from, std::vector<uli>* v_index_to,
                          std::vector<double>* v_index_value, std::vector<std::string>* vchannels,
                          std::string* best_action, double* best_index,
                          std::vector<double>* v_indices);

#endif
