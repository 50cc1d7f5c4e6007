#include "compare/compare.h"
#include "frame/frame.h"

namespace {
Rcpp::NumericMatrix as_matrix(const std::vector<std::vector<double>>& rows, size_t ncol) {
  Rcpp::NumericMatrix m(static_cast<int>(rows.size()), static_cast<int>(ncol));
  for (size_t i = 0; i < rows.size(); ++i)
    for (size_t j = 0; j < ncol; ++j) m(static_cast<int>(i), static_cast<int>(j)) = rows[i][j];
  return m;
}

// The settings both entries share, converted in argument order; the Markov
// order is named as the entry names it.
CompareSettings compare_settings(SEXP perc_reall_p, SEXP perc_sample_p, SEXP max_nsim_p,
                                 SEXP min_perc_traffic_p, SEXP niter_p, SEXP flg_extra_path_p,
                                 SEXP order_p, const char* order_name, SEXP seed_p) {
  CompareSettings s;
  s.perc_reall = as_real(perc_reall_p);
  s.perc_sample = as_real(perc_sample_p);
  s.max_nsim = as_count(max_nsim_p, "max_nsim");
  s.min_perc_traffic = as_real(min_perc_traffic_p);
  s.niter = as_count(niter_p, "niter");
  s.flg_extra_path = as_count(flg_extra_path_p, "flg_extra_path");
  s.max_markov_order = as_count(order_p, order_name);
  s.seed = as_seed(seed_p);
  return s;
}

SEXP compare_list(const CompareResult& r) {
  const size_t nnames = r.model_names.size();
  return r_result([&]() -> SEXP { return Rcpp::List::create(
      Rcpp::Named("performance") = as_matrix(r.performance, nnames),
      Rcpp::Named("allocation") = as_matrix(r.allocation, nnames ? nnames - 1 : 0),
      Rcpp::Named("model_names") = r.model_names); });
}
}  // namespace

extern "C" SEXP compare_models_mta_R(SEXP vy_p, SEXP vc_p, SEXP vn_p, SEXP var_path_p,
                                     SEXP var_conv_p, SEXP var_null_p, SEXP cha_sep_p,
                                     SEXP perc_reall_p, SEXP perc_sample_p, SEXP max_nsim_p,
                                     SEXP min_perc_traffic_p, SEXP niter_p, SEXP flg_extra_path_p,
                                     SEXP markov_order_p, SEXP seed_p, SEXP verbose_p) {
  BEGIN_RCPP
  setlocale(LC_NUMERIC, "C");
  CompareJourneys journeys{as_strings(vy_p), as_counts(vc_p, "vc"), as_counts(vn_p, "vn"),
                           as_str(cha_sep_p), as_str(var_path_p), as_str(var_conv_p),
                           as_str(var_null_p)};
  CompareSettings s = compare_settings(perc_reall_p, perc_sample_p, max_nsim_p, min_perc_traffic_p,
                                       niter_p, flg_extra_path_p, markov_order_p, "markov_order",
                                       seed_p);
  s.verbose = static_cast<int>(as_count(verbose_p, "verbose") == 1);
  return compare_list(compare_mta_run(std::move(journeys), s));
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
  CompareEvents events;
  events.id_path = as_counts(tab_paths_id_path_p, "tab_paths_id_path");
  events.time_str = as_strings(tab_paths_time_str_p);
  events.channel = as_strings(tab_paths_channel_p);
  events.ctr_day_str = as_strings(tab_ctr_day_str_p);
  Rcpp::NumericMatrix ctr(tab_ctr_ctr_p);
  conv_rcpp_mat_to_vec2(&ctr, &events.ctr);
  events.channel_conv_name = as_str(channel_conv_name_p);
  CompareSettings s = compare_settings(perc_reall_p, perc_sample_p, max_nsim_p, min_perc_traffic_p,
                                       niter_p, flg_extra_path_p, max_markov_order_p,
                                       "max_markov_order", seed_p);
  s.verbose = as_int(verbose_p);
  return compare_list(compare_mta_mmm_run(std::move(events), s));
  END_RCPP
}
