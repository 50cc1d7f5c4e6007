#include "budget/budget.h"
#include "frame/frame.h"

extern "C" SEXP markov_budget_allocation_R(SEXP vattr_channels_p, SEXP vattr_conversions_p,
                                           SEXP vattr_value_p, SEXP vcost_channels_p,
                                           SEXP vcost_value_p, SEXP vindex_channels_p,
                                           SEXP vindex_value_p, SEXP total_budget_new_p,
                                           SEXP perc_reall_p, SEXP min_perc_budget_p) {
  BEGIN_RCPP
  setlocale(LC_NUMERIC, "C");
  BudgetInput in{as_strings(vattr_channels_p), as_reals(vattr_conversions_p),
                 as_reals(vattr_value_p),     as_strings(vcost_channels_p),
                 as_reals(vcost_value_p),     as_strings(vindex_channels_p),
                 as_reals(vindex_value_p)};
  const BudgetResult r = budget_run(
      std::move(in), {as_real(total_budget_new_p), as_real(perc_reall_p), as_real(min_perc_budget_p)});
  return r_result([&]() -> SEXP { return Rcpp::List::create(Rcpp::Named("channel") = r.channels,
                            Rcpp::Named("suggested_budget") = r.budget); });
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
