#include "frame/frame.h"
#include "shapley/shapley.h"

extern "C" SEXP shapley_R(SEXP flg_file_p, SEXP file_p, SEXP Data_p, SEXP var_path_p,
                          SEXP var_conv_p, SEXP var_value_p, SEXP var_null_p, SEXP row_sep_p,
                          SEXP cha_sep_p, SEXP flg_simplified_p, SEXP type_worth_p,
                          SEXP flg_write_nulls_p, SEXP flg_write_paths_p, SEXP file_output_p,
                          SEXP verbose_p) {
  BEGIN_RCPP
  setlocale(LC_NUMERIC, "C");
  JourneyInput in(flg_file_p, file_p, var_path_p, var_conv_p, var_value_p, var_null_p, row_sep_p);
  ShapleySettings s;
  s.cha_sep = as_str(cha_sep_p);
  s.flg_simplified = as_int(flg_simplified_p);
  s.type_worth = as_int(type_worth_p);
  s.flg_write_nulls = as_int(flg_write_nulls_p);
  s.flg_write_paths = as_int(flg_write_paths_p);
  s.file_output = as_str(file_output_p);
  (void)as_int(verbose_p);   // accepted; nothing is printed
  in.load(Data_p);
  const ShapleyResult r = shapley_run(in.src, s);
  return r_result([&]() -> SEXP { return Rcpp::List::create(Rcpp::Named("vchannels") = r.vchannels,
                            Rcpp::Named("vindex") = r.vindex,
                            Rcpp::Named("vpath_id") = r.rows.vpath_id,
                            Rcpp::Named("vpath_name") = to_character(r.rows.vpath_name),
                            Rcpp::Named("vpath_channel") = to_character(r.rows.vpath_channel),
                            Rcpp::Named("vpath_chpos") = r.rows.vpath_chpos,
                            Rcpp::Named("vpath_attr_convs") = r.rows.vpath_attr_convs,
                            Rcpp::Named("vpath_attr_value") = r.rows.vpath_attr_value,
                            Rcpp::Named("vattr_convs_loc") = r.vattr_convs_loc,
                            Rcpp::Named("vattr_convs_glob") = r.vattr_convs_glob,
                            Rcpp::Named("vattr_value_glob") = r.vattr_value_glob); });
  END_RCPP
}
