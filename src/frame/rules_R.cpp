#include "frame/frame.h"
#include "heuristic/heuristic.h"

extern "C" SEXP rule_models_R(SEXP flg_file_p, SEXP file_p, SEXP Data_p, SEXP var_path_p,
                              SEXP var_conv_p, SEXP var_value_p, SEXP row_sep_p, SEXP cha_sep_p,
                              SEXP first_share_p, SEXP last_share_p, SEXP direct_channels_p,
                              SEXP verbose_p) {
  BEGIN_RCPP
  setlocale(LC_NUMERIC, "C");
  int flg_file = as_flag(flg_file_p);
  std::string file = as_str(file_p);
  std::string var_path = as_str(var_path_p);
  std::string var_conv = as_str(var_conv_p);
  std::string var_value = as_str(var_value_p);
  std::string row_sep = as_str(row_sep_p);
  std::string cha_sep = as_str(cha_sep_p);
  double first_share = as_real(first_share_p);
  double last_share = as_real(last_share_p);
  std::vector<std::string> direct = as_strings(direct_channels_p);
  int verbose = as_flag(verbose_p);
  std::vector<std::string> vy;
  std::vector<uli> vc, vn;
  std::vector<double> vv;
  if (flg_file == 0) read_journey_columns(Data_p, var_path, var_conv, var_value, "", &vy, &vc, &vv, &vn);

  std::vector<std::string> vchannels;
  std::vector<double> pc, pv, lc, lv;
  rule_models_cpp(&flg_file, &file, &var_path, &var_conv, &var_value, &vy, &vc, &vv, &row_sep,
                  &cha_sep, &first_share, &last_share, &direct, &verbose, &vchannels, &pc, &pv,
                  &lc, &lv);
  return r_result([&]() -> SEXP {
    return Rcpp::List::create(Rcpp::Named("vchannels") = vchannels,
                              Rcpp::Named("vposition_convs") = pc,
                              Rcpp::Named("vposition_value") = pv,
                              Rcpp::Named("vlnd_convs") = lc,
                              Rcpp::Named("vlnd_value") = lv);
  });
  END_RCPP
}
