#include "frame/frame.h"
#include "heuristic/heuristic.h"

extern "C" SEXP heuristic_models_R(SEXP flg_file_p, SEXP file_p, SEXP Data_p, SEXP var_path_p,
                                   SEXP var_conv_p, SEXP var_value_p, SEXP row_sep_p,
                                   SEXP cha_sep_p, SEXP verbose_p, SEXP file_output_p,
                                   SEXP flg_write_nulls_p, SEXP flg_write_paths_p) {
  BEGIN_RCPP
  setlocale(LC_NUMERIC, "C");
  int flg_file = as_flag(flg_file_p);
  std::string file = as_str(file_p);
  std::string var_path = as_str(var_path_p);
  std::string var_conv = as_str(var_conv_p);
  std::string var_value = as_str(var_value_p);
  std::string row_sep = as_str(row_sep_p);
  std::string cha_sep = as_str(cha_sep_p);
  int verbose = as_flag(verbose_p);
  std::string file_output = as_str(file_output_p);
  int flg_write_nulls = as_flag(flg_write_nulls_p);
  int flg_write_paths = as_flag(flg_write_paths_p);
  std::vector<std::string> vy;
  std::vector<uli> vc, vn;
  std::vector<double> vv;
  if (flg_file == 0) read_journey_columns(Data_p, var_path, var_conv, var_value, "", &vy, &vc, &vv, &vn);

  std::vector<double> vpath_id, vpath_chpos, vpath_attr_convs_first, vpath_attr_value_first,
      vpath_attr_convs_last, vpath_attr_value_last, vpath_attr_convs_linear, vpath_attr_value_linear;
  std::vector<std::string> vpath_name, vpath_channel;
  heuristic_models_cpp(&flg_file, &file, &var_path, &var_conv, &var_value, &vy, &vc, &vv, &row_sep,
                       &cha_sep, &flg_write_nulls, &flg_write_paths, &file_output, &verbose,
                       &vpath_id, &vpath_name, &vpath_channel, &vpath_chpos,
                       &vpath_attr_convs_first, &vpath_attr_value_first, &vpath_attr_convs_last,
                       &vpath_attr_value_last, &vpath_attr_convs_linear, &vpath_attr_value_linear);
  return r_result([&]() -> SEXP { return Rcpp::List::create(Rcpp::Named("vpath_id") = vpath_id,
                            Rcpp::Named("vpath_name") = to_character(vpath_name),
                            Rcpp::Named("vpath_channel") = to_character(vpath_channel),
                            Rcpp::Named("vpath_chpos") = vpath_chpos,
                            Rcpp::Named("vpath_attr_convs_first") = vpath_attr_convs_first,
                            Rcpp::Named("vpath_attr_value_first") = vpath_attr_value_first,
                            Rcpp::Named("vpath_attr_convs_last") = vpath_attr_convs_last,
                            Rcpp::Named("vpath_attr_value_last") = vpath_attr_value_last,
                            Rcpp::Named("vpath_attr_convs_linear") = vpath_attr_convs_linear,
                            Rcpp::Named("vpath_attr_value_linear") = vpath_attr_value_linear); });
  END_RCPP
}
