#include "budget/budget.h"
#include "frame/frame.h"

extern "C" SEXP markov_budget_allocation_R(SEXP vattr_channels_p, SEXP vattr_conversions_p,
                                           SEXP vattr_value_p, SEXP vcost_channels_p,
                                           SEXP vcost_value_p, SEXP vindex_channels_p,
                                           SEXP vindex_value_p, SEXP total_budget_new_p,
                                           SEXP perc_reall_p, SEXP min_perc_budget_p) {
  BEGIN_RCPP
  setlocale(LC_NUMERIC, "C");
  std::vector<std::string> vattr_channels = as_strings(vattr_channels_p);
  std::vector<double> vattr_conversions = as_reals(vattr_conversions_p);
  std::vector<double> vattr_value = as_reals(vattr_value_p);
  std::vector<std::string> vcost_channels = as_strings(vcost_channels_p);
  std::vector<double> vcost_value = as_reals(vcost_value_p);
  std::vector<std::string> vindex_channels = as_strings(vindex_channels_p);
  std::vector<double> vindex_value = as_reals(vindex_value_p);
  double total_budget_new = as_real(total_budget_new_p);
  double perc_reall = as_real(perc_reall_p);
  double min_perc_budget = as_real(min_perc_budget_p);
  std::vector<std::string> vchannels_new;
  std::vector<double> vbudget_new;
  markov_budget_allocation_cpp(&vattr_channels, &vattr_conversions, &vattr_value, &vcost_channels,
                               &vcost_value, &vindex_channels, &vindex_value, &total_budget_new,
                               &perc_reall, &min_perc_budget, &vchannels_new, &vbudget_new);
  return r_result([&]() -> SEXP { return Rcpp::List::create(Rcpp::Named("channel") = vchannels_new,
                            Rcpp::Named("suggested_budget") = vbudget_new); });
  END_RCPP
}

extern "C" SEXP uidx_R(SEXP vindex_p) {
  BEGIN_RCPP
  setlocale(LC_NUMERIC, "C");
  std::vector<double> vindex = as_reals(vindex_p);
  unhide_index(&vindex);
  return r_result([&]() -> SEXP { return Rcpp::wrap(vindex); });
  END_RCPP
}
