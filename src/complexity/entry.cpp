// The fixed-signature entry of the complexity description, a forwarder of
// complexity_run.
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
