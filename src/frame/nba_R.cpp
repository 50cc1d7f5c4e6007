#include "frame/frame.h"
#include "nba/nba.h"

extern "C" SEXP next_best_action_R(SEXP new_path_p, SEXP sep_p, SEXP v_index_from_p,
                                   SEXP v_index_to_p, SEXP v_index_value_p, SEXP vchannels_p) {
  BEGIN_RCPP
  setlocale(LC_NUMERIC, "C");
  std::string new_path = as_str(new_path_p);
  std::string sep = as_str(sep_p);
  std::vector<std::string> v_index_from = as_strings(v_index_from_p);
  std::vector<uli> v_index_to = as_counts(v_index_to_p, "v_index_to");
  std::vector<double> v_index_value = as_reals(v_index_value_p);
  std::vector<std::string> vchannels = as_strings(vchannels_p);
  std::string best_action;
  double best_index = 0;
  std::vector<double> v_indices;
  next_best_action_cpp(&new_path, &sep, &v_index_from, &v_index_to, &v_index_value, &vchannels,
                       &best_action, &best_index, &v_indices);
  return Rcpp::List::create(Rcpp::Named("suggested_action") = best_action,
                            Rcpp::Named("suggested_action_conversion_rate") = best_index,
                            Rcpp::Named("channel") = vchannels,
                            Rcpp::Named("conversion_rate") = v_indices);
  END_RCPP
}
