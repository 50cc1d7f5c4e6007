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
  int flg_path = as_flag(flg_path_p);
  std::vector<uli> tab_paths_id_path = as_counts(tab_paths_id_path_p, "tab_paths_id_path");
  std::vector<std::string> tab_paths_time_str = as_strings(tab_paths_time_str_p);
  std::vector<std::string> tab_paths_channel = as_strings(tab_paths_channel_p);
  std::vector<double> vcosts = as_reals(vcosts_p);
  std::string channel_conv_name = as_str(channel_conv_name_p);
  uli order = as_count(order_p, "order");
  uli nsim_start = as_count(nsim_start_p, "nsim_start");
  uli max_step = as_count(max_step_p, "max_step");
  uli ncore = as_count(ncore_p, "ncore");
  uli nfold = as_count(nfold_p, "nfold");
  uli seed = as_seed(seed_p);
  double conv_par = as_real(conv_par_p);
  double rate_step_sim = as_real(rate_step_sim_p);
  int verbose = as_flag(verbose_p);
  std::vector<std::string> vchannels_aggr = as_strings(vchannels_aggr_p);
  std::vector<int> vtype_channels_aggr = Rcpp::as<std::vector<int>>(vtype_channels_aggr_p);
  std::vector<std::string> tab_aggr_time_from_str = as_strings(tab_aggr_time_from_str_p);
  std::vector<std::string> tab_aggr_time_to_str = as_strings(tab_aggr_time_to_str_p);
  std::vector<double> tab_aggr_conversions = as_reals(tab_aggr_conversions_p);
  Rcpp::NumericMatrix touches(tab_aggr_touches_p);
  std::vector<std::vector<double>> tab_aggr_touches;
  conv_rcpp_mat_to_vec2(&touches, &tab_aggr_touches);
  std::vector<std::string> tab_ctr_time_from_str = as_strings(tab_ctr_time_from_str_p);
  std::vector<std::string> tab_ctr_time_to_str = as_strings(tab_ctr_time_to_str_p);
  Rcpp::NumericMatrix ctr(tab_ctr_ctr_p);
  std::vector<std::vector<double>> tab_ctr_ctr;
  conv_rcpp_mat_to_vec2(&ctr, &tab_ctr_ctr);
  std::vector<double> vindex;
  std::vector<std::vector<double>> Mattr;
  uam_cpp(&flg_path, &tab_paths_id_path, &tab_paths_time_str, &tab_paths_channel, &vcosts,
          &channel_conv_name, &order, &nsim_start, &max_step, &ncore, &nfold, &seed, &conv_par,
          &rate_step_sim, &verbose, &vchannels_aggr, &vtype_channels_aggr,
          &tab_aggr_time_from_str, &tab_aggr_time_to_str, &tab_aggr_conversions,
          &tab_aggr_touches, &tab_ctr_time_from_str, &tab_ctr_time_to_str, &tab_ctr_ctr,
          &vindex, &Mattr);
  return r_result([&]() -> SEXP { return Rcpp::List::create(Rcpp::Named("vindex") = vindex, Rcpp::Named("Mattr") = Mattr); });
  END_RCPP
}
