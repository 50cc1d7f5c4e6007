#include "frame/frame.h"
#include "heuristic/heuristic.h"

extern "C" SEXP rule_models_R(SEXP flg_file_p, SEXP file_p, SEXP Data_p, SEXP var_path_p,
                              SEXP var_conv_p, SEXP var_value_p, SEXP row_sep_p, SEXP cha_sep_p,
                              SEXP first_share_p, SEXP last_share_p, SEXP direct_channels_p,
                              SEXP verbose_p) {
  BEGIN_RCPP
  setlocale(LC_NUMERIC, "C");
  JourneyInput in(flg_file_p, file_p, var_path_p, var_conv_p, var_value_p, nullptr, row_sep_p);
  RuleSettings s;
  s.cha_sep = as_str(cha_sep_p);
  s.first_share = as_real(first_share_p);
  s.last_share = as_real(last_share_p);
  s.direct_channels = as_strings(direct_channels_p);
  s.verbose = as_int(verbose_p);
  in.load(Data_p);
  const RuleResult r = rule_run(in.src, s);
  return r_result([&]() -> SEXP {
    return Rcpp::List::create(Rcpp::Named("vchannels") = r.vchannels,
                              Rcpp::Named("vposition_convs") = r.vposition_convs,
                              Rcpp::Named("vposition_value") = r.vposition_value,
                              Rcpp::Named("vlnd_convs") = r.vlnd_convs,
                              Rcpp::Named("vlnd_value") = r.vlnd_value);
  });
  END_RCPP
}
