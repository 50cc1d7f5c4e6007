#include <stdexcept>

#include "frame/frame.h"
#include "order/order.h"

extern "C" SEXP choose_order_R(SEXP flg_file_p, SEXP file_p, SEXP Data_p, SEXP var_path_p,
                               SEXP var_conv_p, SEXP var_null_p, SEXP row_sep_p,
                               SEXP max_order_p, SEXP cha_sep_p, SEXP roc_npt_p, SEXP nfold_p,
                               SEXP perc_test_p, SEXP seed_p, SEXP perc_tol_p, SEXP type_p,
                               SEXP verbose_p) {
  BEGIN_RCPP
  setlocale(LC_NUMERIC, "C");
  JourneyInput in(flg_file_p, file_p, var_path_p, var_conv_p, nullptr, var_null_p, row_sep_p);
  OrderSettings s;
  s.max_order = as_count(max_order_p, "max_order");
  s.cha_sep = as_str(cha_sep_p);
  s.roc_npt = as_count(roc_npt_p, "roc_npt");
  s.nfold = as_count(nfold_p, "nfold");
  s.perc_test = as_real(perc_test_p);
  s.seed = as_seed(seed_p);
  s.perc_tol = as_real(perc_tol_p);
  const std::string type = as_str(type_p);
  s.verbose = as_int(verbose_p);
  if (type == "auc-roc") s.flg_type = 0;
  else if (type == "auc-prerec") s.flg_type = 1;
  else throw std::invalid_argument("type must be \"auc-roc\" or \"auc-prerec\", not \"" + type + "\"");
  in.load(Data_p);
  const OrderResult r = choose_order_run(in.src, s);
  return r_result([&]() -> SEXP { return Rcpp::List::create(Rcpp::Named("order") = r.vorder, Rcpp::Named("auc") = r.vcurve,
                            Rcpp::Named("best_order") = r.v_best_order); });
  END_RCPP
}
