#include "frame/frame.h"
#include "hazard/hazard.h"
#include "probabilistic/probabilistic.h"

extern "C" SEXP probabilistic_R(SEXP flg_file_p, SEXP file_p, SEXP Data_p, SEXP var_path_p,
                                SEXP var_conv_p, SEXP var_value_p, SEXP var_null_p, SEXP row_sep_p,
                                SEXP cha_sep_p) {
  BEGIN_RCPP
  setlocale(LC_NUMERIC, "C");
  JourneyInput in(flg_file_p, file_p, var_path_p, var_conv_p, var_value_p, var_null_p, row_sep_p);
  ProbabilisticSettings settings;
  settings.cha_sep = first_char(as_str(cha_sep_p), "channel_sep");
  in.load(Data_p);
  const JourneySource& source = in.src;
  const ProbabilisticResult r = probabilistic_run(source, settings);
  return r_result([&]() -> SEXP {
    return Rcpp::List::create(Rcpp::Named("channel") = r.vchannels,
                              Rcpp::Named("rate") = r.vrate,
                              Rcpp::Named("contribution") = r.vcontribution,
                              Rcpp::Named("conversions") = r.vattr_convs,
                              Rcpp::Named("value") = r.vattr_value,
                              Rcpp::Named("pair_a") = std::vector<double>(r.vpair_a.begin(), r.vpair_a.end()),
                              Rcpp::Named("pair_b") = std::vector<double>(r.vpair_b.begin(), r.vpair_b.end()),
                              Rcpp::Named("pair_rate") = r.vpair_rate);
  });
  END_RCPP
}

extern "C" SEXP additive_hazard_R(SEXP path_p, SEXP days_p, SEXP conv_p, SEXP value_p,
                                  SEXP channel_sep_p) {
  BEGIN_RCPP
  setlocale(LC_NUMERIC, "C");
  const std::vector<std::string> vy = as_strings(path_p), vdays = as_strings(days_p);
  const std::vector<uli> vc = as_counts(conv_p, "conversions"), vn;
  const std::vector<double> vv = Rf_isNull(value_p) ? std::vector<double>() : as_reals(value_p);
  AdditiveHazardSettings settings;
  settings.cha_sep = first_char(as_str(channel_sep_p), "channel_sep");
  settings.vdays = &vdays;
  if (vc.size() != vy.size() || (!vv.empty() && vv.size() != vy.size()))
    throw std::invalid_argument("additive_hazard: path, conversions and value differ in length");
  const AdditiveHazardResult r = additive_hazard_run(vector_source(&vy, &vc, &vv, &vn), settings);
  return r_result([&]() -> SEXP {
    return Rcpp::List::create(Rcpp::Named("channel") = r.vchannels,
                              Rcpp::Named("rate") = r.vrate,
                              Rcpp::Named("mean_days") = r.vmean_days,
                              Rcpp::Named("conversions") = r.vattr_convs,
                              Rcpp::Named("value") = r.vattr_value);
  });
  END_RCPP
}
