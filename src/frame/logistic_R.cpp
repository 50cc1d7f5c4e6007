#include "frame/frame.h"
#include "logistic/logistic.h"

extern "C" SEXP logistic_regression_R(SEXP Data_p, SEXP var_path_p, SEXP var_conv_p,
                                      SEXP var_value_p, SEXP var_null_p, SEXP row_sep_p,
                                      SEXP cha_sep_p, SEXP flg_write_nulls_p,
                                      SEXP flg_write_paths_p, SEXP file_output_p,
                                      SEXP verbose_p) {
  BEGIN_RCPP
  setlocale(LC_NUMERIC, "C");
  std::string var_path = as_str(var_path_p);
  std::string var_conv = as_str(var_conv_p);
  std::string var_value = as_str(var_value_p);
  std::string var_null = as_str(var_null_p);
  std::string row_sep = as_str(row_sep_p);
  std::string cha_sep = as_str(cha_sep_p);
  int flg_write_nulls = static_cast<int>(as_count(flg_write_nulls_p, "flg_write_nulls"));
  int flg_write_paths = static_cast<int>(as_count(flg_write_paths_p, "flg_write_paths"));
  std::string file_output = as_str(file_output_p);
  int verbose = as_flag(verbose_p);   // accepted; the model prints nothing of its own
  (void)verbose;
  std::vector<std::string> vy;
  std::vector<uli> vc, vn;
  std::vector<double> vv;
  read_journey_columns(Data_p, var_path, var_conv, var_value, var_null, &vy, &vc, &vv, &vn);

  std::vector<double> vindex, vpath_id, vpath_chpos, vpath_attr_convs, vpath_attr_value,
      vattr_convs_loc;
  std::vector<std::string> vchannels, vpath_name, vpath_channel;
  logistic_regression_cpp(&vy, &vc, &vn, &vv, &cha_sep, &row_sep, &flg_write_nulls,
                          &flg_write_paths, &file_output, &vindex, &vchannels, &vpath_id,
                          &vpath_name, &vpath_channel, &vpath_chpos, &vpath_attr_convs,
                          &vpath_attr_value, &vattr_convs_loc);
  return r_result([&]() -> SEXP { return Rcpp::List::create(Rcpp::Named("vchannels") = vchannels,
                            Rcpp::Named("vindex") = vindex,
                            Rcpp::Named("vpath_id") = vpath_id,
                            Rcpp::Named("vpath_name") = to_character(vpath_name),
                            Rcpp::Named("vpath_channel") = to_character(vpath_channel),
                            Rcpp::Named("vpath_chpos") = vpath_chpos,
                            Rcpp::Named("vpath_attr_convs") = vpath_attr_convs,
                            Rcpp::Named("vpath_attr_value") = vpath_attr_value,
                            Rcpp::Named("vattr_convs_loc") = vattr_convs_loc); });
  END_RCPP
}
