#include "frame/frame.h"
#include "nba/nba.h"

extern "C" SEXP next_best_action_R(SEXP new_path_p, SEXP sep_p, SEXP v_index_from_p,
                                   SEXP v_index_to_p, SEXP v_index_value_p, SEXP vchannels_p) {
  BEGIN_RCPP
  setlocale(LC_NUMERIC, "C");
  const std::string new_path = as_str(new_path_p);
  const NbaPredictSettings s{as_str(sep_p)};
  NbaTable t;
  t.v_index_from = as_strings(v_index_from_p);
  t.v_index_to = as_counts(v_index_to_p, "v_index_to");
  t.v_index_value = as_reals(v_index_value_p);
  t.vchannels = as_strings(vchannels_p);
  const NbaPrediction p = nba_predict_run(t, new_path, s);
  return r_result([&]() -> SEXP { return Rcpp::List::create(Rcpp::Named("suggested_action") = p.best_action,
                            Rcpp::Named("suggested_action_conversion_rate") = p.best_index,
                            Rcpp::Named("channel") = t.vchannels,
                            Rcpp::Named("conversion_rate") = p.v_indices); });
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
  JourneyInput in(flg_file_p, file_p, var_path_p, var_conv_p, nullptr, var_null_p, row_sep_p);
  NbaSettings s;
  s.cha_sep = as_str(cha_sep_p);
  s.max_order = as_count(max_order_p, "max_order");
  read_simulation_args(nsim_start_p, max_step_p, ncore_p, nfold_p, seed_p, conv_par_p,
                       rate_step_sim_p, &s);
  s.min_sample_index = as_real(min_sample_index_p);
  s.verbose = as_int(verbose_p);
  in.load(Data_p);
  const NbaTable t = nba_train_run(in.src, s);
  std::vector<double> channel_to(t.v_index_to.begin(), t.v_index_to.end());
  return r_result([&]() -> SEXP { return Rcpp::List::create(Rcpp::Named("channels") = t.vchannels,
                            Rcpp::Named("path_from") = t.v_index_from,
                            Rcpp::Named("channel_to") = channel_to,
                            Rcpp::Named("conversion_rate") = t.v_index_value); });
  END_RCPP
}
