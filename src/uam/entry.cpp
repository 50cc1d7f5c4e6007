// The fixed-signature entry of the unified model, a forwarder of uam_run.
#include "uam/uam.h"

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
             std::vector<std::vector<double>>* Mattr) {
  UamSettings s;
  s.flg_path = *flg_path;
  s.markov.order = *order;
  s.markov.nsim_start = *nsim_start;
  s.markov.max_step = *max_step;
  s.markov.ncore = *ncore;
  s.markov.nfold = *nfold;
  s.markov.seed = *seed;
  s.markov.conv_par = *conv_par;
  s.markov.rate_step_sim = *rate_step_sim;
  s.verbose = *verbose;
  UamResult r = uam_run({*tab_paths_id_path, *tab_paths_time_str, *tab_paths_channel, *vcosts,
                         *channel_conv_name, *vchannels_aggr, *vtype_channels_aggr,
                         *tab_aggr_time_from_str, *tab_aggr_time_to_str, *tab_aggr_conversions,
                         std::move(*tab_aggr_touches), *tab_ctr_time_from_str,
                         *tab_ctr_time_to_str, *tab_ctr_ctr},
                        s);
  *tab_aggr_touches = std::move(r.impressions);
  *vindex = std::move(r.vindex);
  *Mattr = std::move(r.Mattr);
}
