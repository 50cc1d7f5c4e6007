#include "frame/frame.h"
#include "heuristic/heuristic.h"

extern "C" SEXP heuristic_models_R(SEXP flg_file_p, SEXP file_p, SEXP Data_p, SEXP var_path_p,
                                   SEXP var_conv_p, SEXP var_value_p, SEXP row_sep_p,
                                   SEXP cha_sep_p, SEXP verbose_p, SEXP file_output_p,
                                   SEXP flg_write_nulls_p, SEXP flg_write_paths_p) {
  BEGIN_RCPP
  setlocale(LC_NUMERIC, "C");
  JourneyInput in(flg_file_p, file_p, var_path_p, var_conv_p, var_value_p, nullptr, row_sep_p);
  HeuristicSettings s;
  s.cha_sep = as_str(cha_sep_p);
  s.verbose = as_int(verbose_p);
  s.file_output = as_str(file_output_p);
  s.flg_write_nulls = as_int(flg_write_nulls_p);
  s.flg_write_paths = as_int(flg_write_paths_p);
  in.load(Data_p);
  const HeuristicResult r = heuristic_run(in.src, s);
  return r_result([&]() -> SEXP { return Rcpp::List::create(Rcpp::Named("vpath_id") = r.vpath_id,
                            Rcpp::Named("vpath_name") = to_character(r.vpath_name),
                            Rcpp::Named("vpath_channel") = to_character(r.vpath_channel),
                            Rcpp::Named("vpath_chpos") = r.vpath_chpos,
                            Rcpp::Named("vpath_attr_convs_first") = r.vpath_attr_convs_first,
                            Rcpp::Named("vpath_attr_value_first") = r.vpath_attr_value_first,
                            Rcpp::Named("vpath_attr_convs_last") = r.vpath_attr_convs_last,
                            Rcpp::Named("vpath_attr_value_last") = r.vpath_attr_value_last,
                            Rcpp::Named("vpath_attr_convs_linear") = r.vpath_attr_convs_linear,
                            Rcpp::Named("vpath_attr_value_linear") = r.vpath_attr_value_linear); });
  END_RCPP
}
