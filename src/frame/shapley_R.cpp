#include "frame/frame.h"
#include "shapley/shapley.h"

extern "C" SEXP shapley_R(SEXP flg_file_p, SEXP file_p, SEXP Data_p, SEXP var_path_p,
                          SEXP var_conv_p, SEXP var_value_p, SEXP var_null_p, SEXP row_sep_p,
                          SEXP cha_sep_p, SEXP flg_simplified_p, SEXP type_worth_p,
                          SEXP flg_write_nulls_p, SEXP flg_write_paths_p, SEXP file_output_p,
                          SEXP verbose_p) {
  BEGIN_RCPP
  setlocale(LC_NUMERIC, "C");
  int flg_file = as_flag(flg_file_p);
  std::string file = as_str(file_p);
  std::string var_path = as_str(var_path_p);
  std::string var_conv = as_str(var_conv_p);
  std::string var_value = as_str(var_value_p);
  std::string var_null = as_str(var_null_p);
  std::string row_sep = as_str(row_sep_p);
  std::string cha_sep = as_str(cha_sep_p);
  int flg_simplified = as_flag(flg_simplified_p);
  int type_worth = as_flag(type_worth_p);
  int flg_write_nulls = as_flag(flg_write_nulls_p);
  int flg_write_paths = as_flag(flg_write_paths_p);
  std::string file_output = as_str(file_output_p);
  int verbose = as_flag(verbose_p);
  (void)verbose;   // accepted; nothing is printed
  std::vector<std::string> vy;
  std::vector<uli> vc, vn;
  std::vector<double> vv;
  if (flg_file == 0) read_journey_columns(Data_p, var_path, var_conv, var_value, var_null, &vy, &vc, &vv, &vn);

  std::vector<std::string> vchannels, vpath_name, vpath_channel;
  std::vector<double> vindex, vpath_id, vpath_chpos, vpath_attr_convs, vpath_attr_value,
      vattr_convs_loc, vattr_convs_glob, vattr_value_glob;
  shapley_cpp(&flg_file, &file, &var_path, &var_conv, &var_value, &var_null, &vy, &vc, &vv, &vn,
              &row_sep, &cha_sep, &flg_simplified, &type_worth, &flg_write_nulls,
              &flg_write_paths, &file_output, &vchannels, &vindex, &vpath_id, &vpath_name,
              &vpath_channel, &vpath_chpos, &vpath_attr_convs, &vpath_attr_value,
              &vattr_convs_loc, &vattr_convs_glob, &vattr_value_glob);
  return r_result([&]() -> SEXP { return Rcpp::List::create(Rcpp::Named("vchannels") = vchannels,
                            Rcpp::Named("vindex") = vindex,
                            Rcpp::Named("vpath_id") = vpath_id,
                            Rcpp::Named("vpath_name") = to_character(vpath_name),
                            Rcpp::Named("vpath_channel") = to_character(vpath_channel),
                            Rcpp::Named("vpath_chpos") = vpath_chpos,
                            Rcpp::Named("vpath_attr_convs") = vpath_attr_convs,
                            Rcpp::Named("vpath_attr_value") = vpath_attr_value,
                            Rcpp::Named("vattr_convs_loc") = vattr_convs_loc,
                            Rcpp::Named("vattr_convs_glob") = vattr_convs_glob,
                            Rcpp::Named("vattr_value_glob") = vattr_value_glob); });
  END_RCPP
}
