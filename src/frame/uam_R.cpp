#include "frame/frame.h"
#include "uam/uam.h"

extern "C" SEXP uam_R(SEXP flg_path_p, SEXP tab_paths_id_path_p, SEXP tab_paths_time_str_p,
                      SEXP tab_paths_channel_p, SEXP vcosts_p, SEXP channel_conv_name_p,
                      SEXP order_p, SEXP nsim_start_p, SEXP max_step_p, SEXP ncore_p,
                      SEXP nfold_p, SEXP seed_p, SEXP conv_par_p, SEXP rate_step_sim_p,
                      SEXP verbose_p, SEXP vchannels_aggr_p, SEXP vtype_channels_aggr_p,
                      SEXP tab_aggr_time_from_str_p, SEXP tab_aggr_time_to_str_p,
                      SEXP tab_aggr_conversions_p, SEXP tab_aggr_touches_p,
                      SEXP tab_ctr_time_from_str_p, SEXP tab_ctr_time_to_str_p,
                      SEXP tab_ctr_ctr_p) {
  BEGIN_RCPP
  setlocale(LC_NUMERIC, "C");
  UamSettings s;
  s.flg_path = as_int(flg_path_p);
  UamInput in;
  in.tab_paths_id_path = as_counts(tab_paths_id_path_p, "tab_paths_id_path");
  in.tab_paths_time_str = as_strings(tab_paths_time_str_p);
  in.tab_paths_channel = as_strings(tab_paths_channel_p);
  in.vcosts = as_reals(vcosts_p);
  in.channel_conv_name = as_str(channel_conv_name_p);
  s.markov.order = as_count(order_p, "order");
  s.markov.nsim_start = as_count(nsim_start_p, "nsim_start");
  s.markov.max_step = as_count(max_step_p, "max_step");
  s.markov.ncore = as_count(ncore_p, "ncore");
  s.markov.nfold = as_count(nfold_p, "nfold");
  s.markov.seed = as_seed(seed_p);
  s.markov.conv_par = as_real(conv_par_p);
  s.markov.rate_step_sim = as_real(rate_step_sim_p);
  s.verbose = as_int(verbose_p);
  in.vchannels_aggr = as_strings(vchannels_aggr_p);
  in.vtype_channels_aggr = Rcpp::as<std::vector<int>>(vtype_channels_aggr_p);
  in.tab_aggr_time_from_str = as_strings(tab_aggr_time_from_str_p);
  in.tab_aggr_time_to_str = as_strings(tab_aggr_time_to_str_p);
  in.tab_aggr_conversions = as_reals(tab_aggr_conversions_p);
  Rcpp::NumericMatrix touches(tab_aggr_touches_p);
  conv_rcpp_mat_to_vec2(&touches, &in.tab_aggr_touches);
  in.tab_ctr_time_from_str = as_strings(tab_ctr_time_from_str_p);
  in.tab_ctr_time_to_str = as_strings(tab_ctr_time_to_str_p);
  Rcpp::NumericMatrix ctr(tab_ctr_ctr_p);
  conv_rcpp_mat_to_vec2(&ctr, &in.tab_ctr_ctr);
  const UamResult r = uam_run(std::move(in), s);
  return r_result([&]() -> SEXP { return Rcpp::List::create(Rcpp::Named("vindex") = r.vindex, Rcpp::Named("Mattr") = r.Mattr); });
  END_RCPP
}
