#include "frame/frame.h"
#include "logistic/logistic.h"

namespace {
// Both entry points take the same arguments and run the same fit.
LogisticResult run_logistic(SEXP Data_p, SEXP var_path_p, SEXP var_conv_p, SEXP var_value_p,
                            SEXP var_null_p, SEXP row_sep_p, SEXP cha_sep_p,
                            SEXP flg_write_nulls_p, SEXP flg_write_paths_p, SEXP file_output_p,
                            SEXP verbose_p) {
  JourneyInput in(nullptr, nullptr, var_path_p, var_conv_p, var_value_p, var_null_p, row_sep_p);
  LogisticSettings s;
  s.cha_sep = as_str(cha_sep_p);
  s.flg_write_nulls = static_cast<int>(as_count(flg_write_nulls_p, "flg_write_nulls"));
  s.flg_write_paths = static_cast<int>(as_count(flg_write_paths_p, "flg_write_paths"));
  s.file_output = as_str(file_output_p);
  (void)as_int(verbose_p);   // accepted; the model prints nothing of its own
  in.load(Data_p);
  return logistic_run(in.src, s);
}
}  // namespace

extern "C" SEXP logistic_regression_R(SEXP Data_p, SEXP var_path_p, SEXP var_conv_p,
                                      SEXP var_value_p, SEXP var_null_p, SEXP row_sep_p,
                                      SEXP cha_sep_p, SEXP flg_write_nulls_p,
                                      SEXP flg_write_paths_p, SEXP file_output_p,
                                      SEXP verbose_p) {
  BEGIN_RCPP
  setlocale(LC_NUMERIC, "C");
  const LogisticResult r = run_logistic(Data_p, var_path_p, var_conv_p, var_value_p, var_null_p,
                                        row_sep_p, cha_sep_p, flg_write_nulls_p,
                                        flg_write_paths_p, file_output_p, verbose_p);
  return r_result([&]() -> SEXP { return Rcpp::List::create(Rcpp::Named("vchannels") = r.vchannels,
                            Rcpp::Named("vindex") = r.vindex,
                            Rcpp::Named("vpath_id") = r.vpath_id,
                            Rcpp::Named("vpath_name") = to_character(r.vpath_name),
                            Rcpp::Named("vpath_channel") = to_character(r.vpath_channel),
                            Rcpp::Named("vpath_chpos") = r.vpath_chpos,
                            Rcpp::Named("vpath_attr_convs") = r.vpath_attr_convs,
                            Rcpp::Named("vpath_attr_value") = r.vpath_attr_value,
                            Rcpp::Named("vattr_convs_loc") = r.vattr_convs_loc); });
  END_RCPP
}

// The same run, with the regression behind the indices: coefficients
// ("(constant)" first), their covariance (NaN when the design is
// collinear), the log-likelihood, the journeys fitted and how far the
// optimiser got. Kept apart so the list above stays as callers know it.
extern "C" SEXP logistic_regression_fit_R(SEXP Data_p, SEXP var_path_p, SEXP var_conv_p,
                                          SEXP var_value_p, SEXP var_null_p, SEXP row_sep_p,
                                          SEXP cha_sep_p, SEXP flg_write_nulls_p,
                                          SEXP flg_write_paths_p, SEXP file_output_p,
                                          SEXP verbose_p) {
  BEGIN_RCPP
  setlocale(LC_NUMERIC, "C");
  const LogisticResult r = run_logistic(Data_p, var_path_p, var_conv_p, var_value_p, var_null_p,
                                        row_sep_p, cha_sep_p, flg_write_nulls_p,
                                        flg_write_paths_p, file_output_p, verbose_p);
  return r_result([&]() -> SEXP {
    std::vector<std::string> names = r.vchannels;
    names.insert(names.begin(), "(constant)");
    const arma::mat& v = r.fit.vcov;
    Rcpp::NumericMatrix vcov(static_cast<int>(v.n_rows), static_cast<int>(v.n_cols));
    for (arma::uword j = 0; j < v.n_cols; ++j)
      for (arma::uword i = 0; i < v.n_rows; ++i) vcov(i, j) = v(i, j);
    return Rcpp::List::create(Rcpp::Named("vchannels") = r.vchannels,
                              Rcpp::Named("vindex") = r.vindex,
                              Rcpp::Named("vpath_id") = r.vpath_id,
                              Rcpp::Named("vpath_name") = to_character(r.vpath_name),
                              Rcpp::Named("vpath_channel") = to_character(r.vpath_channel),
                              Rcpp::Named("vpath_chpos") = r.vpath_chpos,
                              Rcpp::Named("vpath_attr_convs") = r.vpath_attr_convs,
                              Rcpp::Named("vpath_attr_value") = r.vpath_attr_value,
                              Rcpp::Named("vattr_convs_loc") = r.vattr_convs_loc,
                              Rcpp::Named("coefficient_names") = names,
                              Rcpp::Named("coefficients") = r.fit.vcoeff,
                              Rcpp::Named("vcov") = vcov,
                              Rcpp::Named("loglik") = r.fit.loglik,
                              Rcpp::Named("nobs") = static_cast<double>(r.fit.nobs),
                              Rcpp::Named("gradient_norm") = r.fit.gradient_norm,
                              Rcpp::Named("iterations") = static_cast<double>(r.fit.iterations));
  });
  END_RCPP
}
