// The fixed-signature entries of the complexity description, forwarders of
// complexity_run and high_order_states.
#include "complexity/complexity.h"

void describe_complexity_cpp(std::vector<std::string>* vy, uli* order, std::string* sep,
                             uli* nchannels, uli* nchannels_sim,
                             std::vector<uli>* v_group_channel_len) {
  ComplexityResult r = complexity_run(std::move(*vy), ComplexitySettings{*order, *sep});
  *vy = std::move(r.encoded);
  *nchannels = r.nchannels;
  *nchannels_sim = r.nchannels_sim;
  *v_group_channel_len = std::move(r.group_len);
}

void encoding_channels_high_order_cpp(const std::vector<std::string>* vy, uli* order,
                                      std::map<std::string, uli>* mp_channels_sim,
                                      std::vector<std::string>* vchannels_sim,
                                      uli* nchannels_sim,
                                      std::vector<uli>* v_channel_group,
                                      std::vector<std::vector<uli>>* v_group_channel_ids,
                                      std::vector<uli>* v_group_channel_len) {
  HighOrderStates st = high_order_states(*vy, *order);
  *mp_channels_sim = std::move(st.mp_channels_sim);
  *vchannels_sim = std::move(st.vchannels_sim);
  *nchannels_sim = st.nchannels_sim;
  *v_channel_group = std::move(st.v_channel_group);
  *v_group_channel_ids = std::move(st.v_group_channel_ids);
  *v_group_channel_len = std::move(st.v_group_channel_len);
}
