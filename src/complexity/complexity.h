// How complex a journey set is: channels, k-order states and the groups of
// states that no journey links.
#ifndef TOUCHLANE_COMPLEXITY_COMPLEXITY_H
#define TOUCHLANE_COMPLEXITY_COMPLEXITY_H

#include <map>
#include <string>
#include <vector>

#include "common/common.h"

// ---- interface -------------------------------------------------------------
// Settings of a complexity description; the defaults are the R function's.
struct ComplexitySettings {
  uli order = 1;              // states hold up to this many channels, 1 or more
  std::string sep = ">";      // first character separates channels
  void validate() const;      // "order must be at least 1"
};

// Counts of the journey set: nchannels = distinct channels + 3,
// nchannels_sim = distinct states + 3, the length of every group by group
// id, and the journeys encoded as channel indices.
struct ComplexityResult {
  std::vector<std::string> encoded;
  uli nchannels = 0, nchannels_sim = 0;
  std::vector<uli> group_len;
};

// Both encoders over journeys. Throws std::invalid_argument for an empty sep
// or order 0.
ComplexityResult complexity_run(std::vector<std::string> journeys,
                                const ComplexitySettings& settings);

// ---- internals ---------------------------------------------------------------
// States of order k over journeys already encoded by
// encoding_channels_cpp (indices joined by one blank). "(start)" is state 0,
// windows get 1, 2, ... by first appearance, "(conversion)" and "(null)"
// come last. Two states share a group when a chain of journeys links them;
// a journey touching several groups merges them into the lowest group id,
// which keeps its id while the others stay behind empty with length 0.
// Gives: the state dictionary, the group of every state (indexed by state,
// special states have none: gb::limsup), the states of every group and the
// length of every group. Throws std::invalid_argument when order is 0.
struct HighOrderStates {
  std::map<std::string, uli> mp_channels_sim;
  std::vector<std::string> vchannels_sim;
  uli nchannels_sim = 0;
  std::vector<uli> v_channel_group;
  std::vector<std::vector<uli>> v_group_channel_ids;
  std::vector<uli> v_group_channel_len;
};
HighOrderStates high_order_states(const std::vector<std::string>& encoded, uli k);

// ---- fixed-signature entries -------------------------------------------------
// high_order_states by pointer.
void encoding_channels_high_order_cpp(const std::vector<std::string>* vy, uli* order,
                                      std::map<std::string, uli>* mp_channels_sim,
                                      std::vector<std::string>* vchannels_sim,
                                      uli* nchannels_sim,
                                      std::vector<uli>* v_channel_group,
                                      std::vector<std::vector<uli>>* v_group_channel_ids,
                                      std::vector<uli>* v_group_channel_len);

// complexity_run by pointer, vy rewritten as the encoded journeys.
void describe_complexity_cpp(std::vector<std::string>* vy, uli* order, std::string* sep,
                             uli* nchannels, uli* nchannels_sim,
                             std::vector<uli>* v_group_channel_len);

#endif
