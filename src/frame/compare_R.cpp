#include "compare/compare.h"
#include "frame/frame.h"

namespace {
Rcpp::NumericMatrix as_matrix(const std::vector<std::vector<double>>& rows, size_t ncol) {
  Rcpp::NumericMatrix m(static_cast<int>(rows.size()), static_cast<int>(ncol));
  for (size_t i = 0; i < rows.size(); ++i)
    for (size_t j = 0; j < ncol; ++j) m(static_cast<int>(i), static_cast<int>(j)) = rows[i][j];
  return m;
}
}  // namespace

extern "C" SEXP compare_models_mta_R(SEXP vy_p, SEXP vc_p, SEXP vn_p, SEXP var_path_p,
                                     SEXP var_conv_p, SEXP var_null_p, SEXP cha_sep_p,
                                     SEXP perc_reall_p, SEXP perc_sample_p, SEXP max_nsim_p,
                                     SEXP min_perc_traffic_p, SEXP niter_p, SEXP flg_extra_path_p,
                                     SEXP markov_order_p, SEXP seed_p, SEXP verbose_p) {
  BEGIN_RCPP
  setlocale(LC_NUMERIC, "C");
  std::vector<std::string> vy = as_strings(vy_p);
  std::vector<uli> vc = as_counts(vc_p, "vc");
  std::vector<uli> vn = as_counts(vn_p, "vn");
  std::string var_path = as_str(var_path_p);
  std::string var_conv = as_str(var_conv_p);
  std::string var_null = as_str(var_null_p);
  std::string cha_sep = as_str(cha_sep_p);
  double perc_reall = as_real(perc_reall_p);
  double perc_sample = as_real(perc_sample_p);
  uli max_nsim = as_count(max_nsim_p, "max_nsim");
  double min_perc_traffic = as_real(min_perc_traffic_p);
  uli niter = as_count(niter_p, "niter");
  uli flg_extra_path = as_count(flg_extra_path_p, "flg_extra_path");
  uli markov_order = as_count(markov_order_p, "markov_order");
  uli seed = as_seed(seed_p);
  int verbose = static_cast<int>(as_count(verbose_p, "verbose") == 1);

  std::vector<std::vector<double>> results_performance, results_allocation;
  std::vector<std::string> vmodel_names;
  compare_models_mta_cpp(&vy, &vc, &vn, var_path, var_conv, var_null, cha_sep, perc_reall,
                         perc_sample, max_nsim, min_perc_traffic, niter, flg_extra_path,
                         markov_order, seed, 0, verbose, &results_performance,
                         &results_allocation, &vmodel_names);
  const size_t nnames = vmodel_names.size();
  return r_result([&]() -> SEXP { return Rcpp::List::create(
      Rcpp::Named("performance") = as_matrix(results_performance, nnames),
      Rcpp::Named("allocation") = as_matrix(results_allocation, nnames ? nnames - 1 : 0),
      Rcpp::Named("model_names") = vmodel_names); });
  END_RCPP
}

extern "C" SEXP compare_models_mta_mmm_R(SEXP tab_paths_id_path_p, SEXP tab_paths_time_str_p,
                                         SEXP tab_paths_channel_p, SEXP tab_ctr_day_str_p,
                                         SEXP tab_ctr_ctr_p, SEXP channel_conv_name_p,
                                         SEXP perc_reall_p, SEXP perc_sample_p, SEXP max_nsim_p,
                                         SEXP min_perc_traffic_p, SEXP niter_p,
                                         SEXP flg_extra_path_p, SEXP max_markov_order_p,
                                         SEXP seed_p, SEXP verbose_p) {
  BEGIN_RCPP
  setlocale(LC_NUMERIC, "C");
  std::vector<uli> tab_paths_id_path = as_counts(tab_paths_id_path_p, "tab_paths_id_path");
  std::vector<std::string> tab_paths_time_str = as_strings(tab_paths_time_str_p);
  std::vector<std::string> tab_paths_channel = as_strings(tab_paths_channel_p);
  std::vector<std::string> tab_ctr_day_str = as_strings(tab_ctr_day_str_p);
  Rcpp::NumericMatrix ctr(tab_ctr_ctr_p);
  std::vector<std::vector<double>> tab_ctr_ctr;
  conv_rcpp_mat_to_vec2(&ctr, &tab_ctr_ctr);
  std::string channel_conv_name = as_str(channel_conv_name_p);
  double perc_reall = as_real(perc_reall_p);
  double perc_sample = as_real(perc_sample_p);
  uli max_nsim = as_count(max_nsim_p, "max_nsim");
  double min_perc_traffic = as_real(min_perc_traffic_p);
  uli niter = as_count(niter_p, "niter");
  uli flg_extra_path = as_count(flg_extra_path_p, "flg_extra_path");
  uli max_markov_order = as_count(max_markov_order_p, "max_markov_order");
  uli seed = as_seed(seed_p);
  int verbose = as_flag(verbose_p);

  std::vector<std::vector<double>> results_performance, results_allocation;
  std::vector<std::string> vmodel_names;
  compare_models_mta_mmm_cpp(&tab_paths_id_path, &tab_paths_time_str, &tab_paths_channel,
                             &tab_ctr_day_str, &tab_ctr_ctr, channel_conv_name, perc_reall,
                             perc_sample, max_nsim, min_perc_traffic, niter, flg_extra_path,
                             max_markov_order, seed, 0, verbose, &results_performance,
                             &results_allocation, &vmodel_names);
  const size_t nnames = vmodel_names.size();
  return r_result([&]() -> SEXP { return Rcpp::List::create(
      Rcpp::Named("performance") = as_matrix(results_performance, nnames),
      Rcpp::Named("allocation") = as_matrix(results_allocation, nnames ? nnames - 1 : 0),
      Rcpp::Named("model_names") = vmodel_names); });
  END_RCPP
}
