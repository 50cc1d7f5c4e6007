#include "frame/frame.h"
#include "nba/nba.h"

extern "C" SEXP next_best_action_R(SEXP new_path_p, SEXP sep_p, SEXP v_index_from_p,
                                   SEXP v_index_to_p, SEXP v_index_value_p, SEXP vchannels_p) {
  BEGIN_RCPP
  setlocale(LC_NUMERIC, "C");
  std::string new_path = as_str(new_path_p);
  std::string sep = as_str(sep_p);
  std::vector<std::string> v_index_from = as_strings(v_index_from_p);
  std::vector<uli> v_index_to = as_counts(v_index_to_p, "v_index_to");
  std::vector<double> v_index_value = as_reals(v_index_value_p);
  std::vector<std::string> vchannels = as_strings(vchannels_p);
  std::string best_action;
  double best_index = 0;
  std::vector<double> v_indices;
  next_best_action_cpp(&new_path, &sep, &v_index_from, &v_index_to, &v_index_value, &vchannels,
                       &best_action, &best_index, &v_indices);
  return r_result([&]() -> SEXP { return Rcpp::List::create(Rcpp::Named("suggested_action") = best_action,
                            Rcpp::Named("suggested_action_conversion_rate") = best_index,
                            Rcpp::Named("channel") = vchannels,
                            Rcpp::Named("conversion_rate") = v_indices); });
  END_RCPP
}

extern "C" SEXP next_best_action_train_R(SEXP flg_file_p, SEXP file_p, SEXP Data_p,
                                         SEXP var_path_p, SEXP var_conv_p, SEXP var_null_p,
                                         SEXP row_sep_p, SEXP cha_sep_p, SEXP max_order_p,
                                         SEXP nsim_start_p, SEXP max_step_p, SEXP ncore_p,
                                         SEXP nfold_p, SEXP seed_p, SEXP conv_par_p,
                                         SEXP rate_step_sim_p, SEXP min_sample_index_p,
                                         SEXP verbose_p) {
  BEGIN_RCPP
  setlocale(LC_NUMERIC, "C");
  int flg_file = as_flag(flg_file_p);
  std::string file = as_str(file_p);
  std::string var_path = as_str(var_path_p);
  std::string var_conv = as_str(var_conv_p);
  std::string var_null = as_str(var_null_p);
  std::string row_sep = as_str(row_sep_p);
  std::string cha_sep = as_str(cha_sep_p);
  uli max_order = as_count(max_order_p, "max_order");
  uli nsim_start = as_count(nsim_start_p, "nsim_start");
  uli max_step = as_count(max_step_p, "max_step");
  uli ncore = as_count(ncore_p, "ncore");
  uli nfold = as_count(nfold_p, "nfold");
  uli seed = as_seed(seed_p);
  double conv_par = as_real(conv_par_p);
  double rate_step_sim = as_real(rate_step_sim_p);
  double min_sample_index = as_real(min_sample_index_p);
  int verbose = as_flag(verbose_p);
  std::vector<std::string> vy;
  std::vector<uli> vc, vn;
  std::vector<double> vv;
  if (flg_file == 0) read_journey_columns(Data_p, var_path, var_conv, "", var_null, &vy, &vc, &vv, &vn);

  double mean_index = 0;
  std::vector<std::string> vchannels, v_index_from;
  std::vector<uli> v_index_to;
  std::vector<double> v_index_value;
  next_best_action_train_cpp(&flg_file, &file, &var_path, &var_conv, &var_null, &vy, &vc, &vn,
                             &row_sep, &cha_sep, &max_order, &nsim_start, &max_step, &ncore, &nfold,
                             &seed, &conv_par, &rate_step_sim, &verbose, &min_sample_index,
                             &mean_index, &vchannels, &v_index_from, &v_index_to, &v_index_value);
  std::vector<double> channel_to(v_index_to.begin(), v_index_to.end());
  return r_result([&]() -> SEXP { return Rcpp::List::create(Rcpp::Named("channels") = vchannels,
                            Rcpp::Named("path_from") = v_index_from,
                            Rcpp::Named("channel_to") = channel_to,
                            Rcpp::Named("conversion_rate") = v_index_value); });
  END_RCPP
}
